#include "ExternalBallot.h"

#include <filesystem>

#include <QPainter>

#include "model/Errors.h"
#include "model/TextUtil.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotTemplate.h"
#include "imaging/ImageFiles.h"

namespace korvex::forge {

namespace {

constexpr int kWidth = 2480, kHeight = 3508;
constexpr int kFrameLeft = 200, kFrameRight = 2280, kFrameTop = 560;
constexpr int kHeaderHeight = 110, kRowHeight = 150;
constexpr int kNumberRight = 400, kNameRight = 1180;

QRect Q(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

void Text(QPainter& p, const TRect& r, const QString& text, const char* family, int height, bool bold = false) {
    p.setFont(BallotFont(family, height, bold));
    p.drawText(Q(r), Qt::AlignCenter | Qt::TextSingleLine, text);
}

const char* const kOptionLabels[] = {"同意", "反对", "弃权"};

}  // namespace

int OptionBoxCount(const std::string& optionMode) {
    const std::string mode(TrimBlanks(optionMode));
    if (mode.empty() || mode[0] == '1') return 1;
    if (mode[0] == '2') return 2;
    if (mode[0] == '3') return 3;
    return 1;
}

TExternalBallot MakeExternalBallot(const std::vector<TCandidateInfo>& candidates, const std::string& optionMode,
                                   int writeInCount, const std::string& title, const std::string& templateID) {
    if (candidates.empty()) throw EKorvexError("数据库中没有候选人。");
    if (static_cast<int>(candidates.size()) > kMaxExternalCandidates)
        throw EKorvexError(Format("外部选票最多放 %d 名候选人。", kMaxExternalCandidates));
    const std::string mode(TrimBlanks(optionMode));
    const bool splitMode = (mode.size() == 3 && (mode[0] == '2' || mode[0] == '3') && mode[1] == '.' &&
                            mode[2] >= '1' && mode[2] <= '5');
    if (mode != "1" && !splitMode) throw EKorvexError("选项模式只允许 1、2.1 至 2.5 或 3.1 至 3.5：" + optionMode);
    writeInCount = std::clamp(writeInCount, 0, 4);
    const int boxes = OptionBoxCount(mode);

    TExternalBallot ballot;
    TBallotTemplate& t = ballot.Template;
    t.TemplateKind = tkExternal;
    t.TemplateID = templateID;
    t.TemplateCode = 0;
    t.Title = title;
    t.MaxSelect = std::max(1, static_cast<int>(candidates.size()) / 2);
    t.WriteInSlots = writeInCount;
    t.ExternalOptionMode = mode;
    t.ExternalReferenceWidth = kWidth;
    t.ExternalReferenceHeight = kHeight;
    t.ExternalReferenceImage = "ExternalRefs\\" + templateID + "_ref.bmp";

    const int rows = static_cast<int>(candidates.size()) + writeInCount;
    const int frameBottom = kFrameTop + kHeaderHeight + rows * kRowHeight;
    t.ExternalFrameRect = {kFrameLeft, kFrameTop, kFrameRight, frameBottom};

    QImage& page = ballot.Reference;
    page = QImage(kWidth, kHeight, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(Qt::black);
    Text(p, {200, 230, 2280, 360}, QString::fromStdString(title), "黑体", 84, true);
    Text(p, {200, 380, 2280, 450}, "（请在选项栏内用黑色或蓝色笔作答）", "宋体", 40);

    // Header row.
    const int headerBottom = kFrameTop + kHeaderHeight;
    Text(p, {kFrameLeft, kFrameTop, kNumberRight, headerBottom}, "序号", "黑体", 44);
    Text(p, {kNumberRight, kFrameTop, kNameRight, headerBottom}, "姓  名", "黑体", 44);
    const int optionWidth = (kFrameRight - kNameRight) / boxes;
    for (int b = 0; b < boxes; ++b) {
        const QString label = boxes == 1 ? "表  决" : kOptionLabels[b];
        Text(p, {kNameRight + b * optionWidth, kFrameTop, kNameRight + (b + 1) * optionWidth, headerBottom}, label, "黑体", 44);
    }

    for (int r = 0; r < rows; ++r) {
        const int top = headerBottom + r * kRowHeight, bottom = top + kRowHeight;
        const TRect name{kNumberRight, top, kNameRight, bottom};
        const TRect option{kNameRight, top, kFrameRight, bottom};
        if (r < static_cast<int>(candidates.size())) {
            Text(p, {kFrameLeft, top, kNumberRight, bottom}, QString::number(r + 1), "宋体", 44);
            Text(p, name, QString::fromStdString(candidates[static_cast<std::size_t>(r)].Name), "宋体", 52);
            TCandidateTemplate c;
            c.ID = candidates[static_cast<std::size_t>(r)].ID;
            c.Name = candidates[static_cast<std::size_t>(r)].Name;
            c.NameRect = {name.Left + 6, top + 6, name.Right - 6, bottom - 6};
            c.MarkRect = {option.Left + 6, top + 6, option.Right - 6, bottom - 6};
            t.Candidates.push_back(c);
        } else {
            Text(p, {kFrameLeft, top, kNumberRight, bottom}, "另选人", "宋体", 40);
            TWriteInTemplate w;
            w.SlotNo = r - static_cast<int>(candidates.size()) + 1;
            w.NameRect = {name.Left + 6, top + 6, name.Right - 6, bottom - 6};
            w.MarkRect = {option.Left + 6, top + 6, option.Right - 6, bottom - 6};
            t.WriteIns.push_back(w);
        }
    }

    // Table rules, then the heavy outer frame that locates the ballot.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 3));
    for (int r = 0; r <= rows; ++r) {
        const int y = headerBottom + r * kRowHeight;
        p.drawLine(kFrameLeft, y, kFrameRight, y);
    }
    p.drawLine(kNumberRight, kFrameTop, kNumberRight, frameBottom);
    p.drawLine(kNameRight, kFrameTop, kNameRight, frameBottom);
    for (int b = 1; b < boxes; ++b)
        p.drawLine(kNameRight + b * optionWidth, kFrameTop, kNameRight + b * optionWidth, frameBottom);
    p.fillRect(QRect(kFrameLeft - 4, kFrameTop - 4, kFrameRight - kFrameLeft + 8, 8), Qt::black);
    p.fillRect(QRect(kFrameLeft - 4, frameBottom - 4, kFrameRight - kFrameLeft + 8, 8), Qt::black);
    p.fillRect(QRect(kFrameLeft - 4, kFrameTop - 4, 8, frameBottom - kFrameTop + 8), Qt::black);
    p.fillRect(QRect(kFrameRight - 4, kFrameTop - 4, 8, frameBottom - kFrameTop + 8), Qt::black);

    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::black);
    p.setFont(BallotFont("宋体", 38));
    p.drawText(QRect(220, frameBottom + 60, 2040, 300), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QString::fromStdString(Format("说明：每张选票最多同意 %d 人，多于此数者作废。另选他人时，请在另选人栏内写上姓名，并在其选项栏内表示同意。",
                                             t.MaxSelect)));
    p.end();
    return ballot;
}

std::string SaveExternalBallot(const TExternalBallot& ballot, const std::string& folder) {
    const std::filesystem::path base(folder);
    std::error_code error;
    std::filesystem::create_directories(base / "ExternalRefs", error);
    if (error) RaiseFileError("无法创建文件夹", folder, error.value());
    SaveBitmap24(ImageToRaster(ballot.Reference),
                         (base / "ExternalRefs" / (ballot.Template.TemplateID + "_ref.bmp")).string());
    const std::string ini = (base / (ballot.Template.TemplateID + ".ini")).string();
    SaveTemplate(ballot.Template, ini);
    return ini;
}

}  // namespace korvex::forge
