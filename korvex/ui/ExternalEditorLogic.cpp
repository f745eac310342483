#include "ui/ExternalEditorLogic.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/TextUtil.h"
#include "templates/uBallotTemplate.h"

namespace korvex {
namespace fs = std::filesystem;

const std::vector<std::string>& ExternalOptionModes() {
    static const std::vector<std::string> modes = {
        "1-标准O×",    "2.1-▃答题卡", "2.2-O空心圆", "2.3-✓对勾", "2.4-●实心圆", "2.5-△空心三角形",
        "3.1-▃答题卡", "3.2-O空心圆", "3.3-✓对勾",  "3.4-●实心圆", "3.5-△空心三角形"};
    return modes;
}

bool IsSingleCellMode(const std::string& mode) { return mode == "1" || SameText(mode, "1-标准O×"); }

int OptionModeIndex(const std::string& mode) {
    const auto& modes = ExternalOptionModes();
    for (std::size_t i = 0; i < modes.size(); ++i)
        if (SameText(modes[i], mode)) return static_cast<int>(i);
    return 0;
}

namespace {
bool IsTwoZoneMode(const std::string& mode) { return mode.size() >= 2 && mode[0] == '2' && mode[1] == '.'; }
}  // namespace

std::string ModeChangeText(const std::string& mode) {
    if (IsSingleCellMode(mode)) return "模式1：每位候选人框选单个符号格，O=赞成，X=反对，空白=弃权。";
    if (IsTwoZoneMode(mode))
        return "模式" + mode + "：每位候选人的整个选项区只框一次，程序自动按左/右50%分成赞成、反对两区。";
    return "模式" + mode + "：每位候选人的整个选项区只框一次，程序自动按左/中/右各1/3分成赞成、反对、弃权三区。";
}

bool IsValidRegion(const TRect& r) { return r.Left < r.Right && r.Top < r.Bottom; }

int ExternalTaskCount(const TBallotTemplate& t) {
    return 1 + static_cast<int>(t.Candidates.size()) + 2 * static_cast<int>(t.WriteIns.size());
}

std::string ExternalTaskLabel(const TBallotTemplate& t, int task) {
    const int n = static_cast<int>(t.Candidates.size());
    if (task == 0) return "① 定位矩形外框";
    if (task <= n) {
        const std::string& name = t.Candidates.at(task - 1).Name;
        if (IsSingleCellMode(t.ExternalOptionMode)) return "候选人：" + name + "（符号格）";
        if (IsTwoZoneMode(t.ExternalOptionMode)) return "候选人：" + name + "（选项区，自动分2区）";
        return "候选人：" + name + "（选项区，自动分3区）";
    }
    const int slot = (task - n - 1) / 2;
    if (slot >= static_cast<int>(t.WriteIns.size())) throw EKorvexError("无效的框选任务序号。");
    if ((task - n - 1) % 2 == 0) return Format("另选人%d：姓名填写区", slot + 1);
    return Format("另选人%d：符号格", slot + 1);
}

const TRect& ExternalTaskRect(const TBallotTemplate& t, int task) {
    const int n = static_cast<int>(t.Candidates.size());
    if (task == 0) return t.ExternalFrameRect;
    if (task >= 1 && task <= n) return t.Candidates.at(task - 1).MarkRect;
    const int k = task - n - 1;
    if (k < 0 || k / 2 >= static_cast<int>(t.WriteIns.size())) throw EKorvexError("无效的框选任务序号。");
    const TWriteInTemplate& w = t.WriteIns[k / 2];
    return k % 2 == 0 ? w.NameRect : w.MarkRect;
}

TRect& ExternalTaskRect(TBallotTemplate& t, int task) {
    return const_cast<TRect&>(ExternalTaskRect(static_cast<const TBallotTemplate&>(t), task));
}

std::vector<std::string> ExternalTaskListTexts(const TBallotTemplate& t) {
    std::vector<std::string> texts;
    for (int i = 0; i < ExternalTaskCount(t); ++i)
        texts.push_back((IsValidRegion(ExternalTaskRect(t, i)) ? "✓ " : "□ ") + ExternalTaskLabel(t, i));
    return texts;
}

int FirstUnfinishedTask(const TBallotTemplate& t) {
    for (int i = 0; i < ExternalTaskCount(t); ++i)
        if (!IsValidRegion(ExternalTaskRect(t, i))) return i;
    return -1;
}

int ClampTaskSelection(int remembered, int count) {
    if (count <= 0) return -1;
    if (remembered < 0) return 0;
    return std::min(remembered, count - 1);
}

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

std::optional<TRect> DragToImageRect(int x0, int y0, int x1, int y1, double zoom, int imageW, int imageH) {
    if (zoom <= 0 || imageW <= 0 || imageH <= 0) return std::nullopt;
    const auto toImage = [zoom](int v, int side) { return std::clamp(RoundHalfEven(v / zoom), 0, side - 1); };
    const int ax = toImage(x0, imageW), bx = toImage(x1, imageW);
    const int ay = toImage(y0, imageH), by = toImage(y1, imageH);
    const TRect r{std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
    if (r.Width() < kMinDragSize || r.Height() < kMinDragSize) return std::nullopt;
    return r;
}

double EditorZoomIn(double zoom) { return std::min(zoom * 1.25, kEditorMaxZoom); }
double EditorZoomOut(double zoom) { return std::max(zoom / 1.25, kEditorMinZoom); }

double EditorFitZoom(int clientW, int clientH, int imageW, int imageH) {
    const double aw = std::max(clientW - 24, 100);
    const double ah = std::max(clientH - 24, 100);
    const double z = std::min(aw / imageW, ah / imageH);
    return std::clamp(z, kEditorMinZoom, kEditorMaxFitZoom);
}

int ZoomedSide(int side, double zoom) { return std::max(RoundHalfEven(side * zoom), 1); }

std::string ZoomLabelText(double zoom, int imageW, int imageH) {
    return Format("显示比例：%.0f%%；参考图：%d × %d", zoom * 100.0, imageW, imageH);
}

std::string NewExternalTemplateID() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return "EXT-" + std::string(stamp) + "-" + NewGuidText().substr(0, 8);
}

TBallotTemplate NewExternalTemplateObject(const std::string& title, int maxSelect, int writeInCount,
                                          const std::vector<TCandidateInfo>& candidates,
                                          const std::string& timeStamp, const std::string& idSuffix) {
    TBallotTemplate t;
    t.Version = 3;
    t.TemplateKind = tkExternal;
    t.TemplateID = "EXT-" + timeStamp + "-" + idSuffix.substr(0, 8);
    t.TemplateCode = 0;
    const std::string trimmed = TrimmedCopy(title);
    t.Title = trimmed.empty() ? kExternalDefaultTitle : trimmed;
    t.MaxSelect = maxSelect;
    t.WriteInSlots = writeInCount;
    for (const TCandidateInfo& c : candidates) t.Candidates.push_back({c.ID, c.Name, {}, {}});
    for (int s = 1; s <= writeInCount; ++s) t.WriteIns.push_back({s, {}, {}});
    return t;
}

void CheckExternalTemplateCandidates(const TBallotTemplate& t, const std::vector<TCandidateInfo>& candidates) {
    if (t.TemplateKind != tkExternal) throw EKorvexError("所选文件不是外部固定模板。");
    if (t.Candidates.size() != candidates.size())
        throw EKorvexError("当前数据库候选人数与外部模板不一致，不能编辑。");
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const TCandidateTemplate& c = t.Candidates[i];
        if (c.ID != candidates[i].ID || !SameText(c.Name, candidates[i].Name))
            throw EKorvexError(Format("数据库第%d位候选人“%s”与模板“%s”不一致，不能编辑。", static_cast<int>(i + 1),
                                      candidates[i].Name.c_str(), c.Name.c_str()));
    }
}

std::string ResolveReferenceImage(const std::string& templateDir, const std::string& referenceImage) {
    std::string path = TrimmedCopy(referenceImage);
    if (path.empty()) return path;
    std::replace(path.begin(), path.end(), '\\', '/');
    const fs::path p(path);
    if (p.is_absolute()) return path;
    return (fs::path(templateDir) / p).string();
}

void ClearRegionsButFrame(TBallotTemplate& t) {
    for (TCandidateTemplate& c : t.Candidates) c.MarkRect = {};
    for (TWriteInTemplate& w : t.WriteIns) w.NameRect = w.MarkRect = {};
}

void PrepareExternalTemplateForSave(TBallotTemplate& t, const std::string& titleText, const std::string& modeText) {
    const std::string title = TrimmedCopy(titleText);
    t.Title = title.empty() ? kExternalDefaultTitle : title;
    const std::string mode = TrimmedCopy(modeText);
    if (!mode.empty()) t.ExternalOptionMode = mode;
    t.Version = std::max(t.Version, 4);
    t.TemplateKind = tkExternal;
    t.TemplateCode = 0;
    t.WriteInSlots = static_cast<int>(t.WriteIns.size());
}

std::string ReferenceCopyRelativePath(const std::string& templateID) {
    return std::string(kExternalRefsFolder) + "\\" + templateID + "_ref.bmp";
}

void WriteExternalTemplate(TBallotTemplate& t, const TRaster& reference, const std::string& templateDir,
                           const std::string& templateFile) {
    const fs::path refs = fs::path(templateDir) / kExternalRefsFolder;
    std::error_code ec;
    fs::create_directories(refs, ec);
    if (ec) RaiseFileError("创建文件夹", refs.string(), ec.value());
    SaveBitmap24(reference, (refs / (t.TemplateID + "_ref.bmp")).string());
    t.ExternalReferenceImage = ReferenceCopyRelativePath(t.TemplateID);
    SaveTemplate(t, templateFile);
}

}  // namespace korvex
