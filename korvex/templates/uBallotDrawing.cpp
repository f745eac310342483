#include "templates/uBallotDrawing.h"

#include <filesystem>

#include <QFontMetrics>
#include <QPainter>

#include "model/Errors.h"
#include "model/TextUtil.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotTemplate.h"
#include "imaging/ImageFiles.h"
#include "templates/uStandardLayout.h"

namespace korvex {

namespace {

constexpr int kCodeLeft = 2040, kCodeTop = 280, kCodeCell = 25;
constexpr int kInstructionHeight = 38;
constexpr int kLabelTextHeight = 38;
constexpr int kNameTextHeight = 42;

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

void FillBlack(QPainter& p, const TRect& r) { p.fillRect(ToQRect(r), Qt::black); }

// A cell: white interior, then a 2-pixel black outline over its edges.
void DrawCell(QPainter& p, const TRect& r) {
    p.fillRect(ToQRect(r), Qt::white);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
    p.restore();
}

void DrawInstruction(QPainter& p, const TRect& r, const std::string& text) {
    p.save();
    p.setClipRect(ToQRect(r));
    p.setFont(BallotFont("宋体", kInstructionHeight));
    p.setPen(Qt::black);
    p.drawText(ToQRect(r), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, QString::fromStdString(text));
    p.restore();
}

}  // namespace

void DrawCellText(QPainter& canvas, const TRect& rect, const std::string& text, bool bold, int height) {
    canvas.save();
    const QFont font = BallotFont("宋体", height, bold);
    canvas.setFont(font);
    canvas.setPen(Qt::black);
    canvas.setBackgroundMode(Qt::TransparentMode);
    canvas.setClipRect(ToQRect(rect));
    const QFontMetrics metrics(font);
    const QString shown = metrics.elidedText(QString::fromStdString(text), Qt::ElideRight, std::max(rect.Width(), 0));
    canvas.drawText(ToQRect(rect), Qt::AlignCenter | Qt::TextSingleLine, shown);
    canvas.restore();
}

void DrawTemplateCodeMark(QPainter& canvas, std::uint32_t code) {
    canvas.fillRect(QRect(kCodeLeft, kCodeTop, 8 * kCodeCell, 8 * kCodeCell), Qt::white);
    const std::uint8_t check = CodeCheckNibble(code);
    int k = 0;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            bool black = true;
            if (i >= 1 && i <= 6 && j >= 1 && j <= 6) {
                black = k < 32 ? ((code >> k) & 1u) != 0 : ((check >> (k - 32)) & 1u) != 0;
                ++k;
            }
            canvas.fillRect(QRect(kCodeLeft + kCodeCell * j, kCodeTop + kCodeCell * i, kCodeCell, kCodeCell),
                            black ? Qt::black : Qt::white);
        }
    canvas.save();
    const QFont font = BallotFont("Consolas", 22);
    canvas.setFont(font);
    canvas.setPen(Qt::black);
    canvas.setBackgroundMode(Qt::TransparentMode);
    canvas.drawText(QPoint(kCodeLeft, 488 + QFontMetrics(font).ascent()), QString::fromStdString(TemplateCodeText(code)));
    canvas.restore();
}

std::array<std::string, 3> BallotInstructionTexts(const TBallotTemplate& t) {
    std::array<std::string, 3> lines;
    lines[0] = "1、赞成候选人时，在其姓名下边“符号”栏内划“O”；反对时划“X”；弃权时不划任何符号。符号不清楚的，交人工复核。";
    if (!t.WriteIns.empty())
        lines[1] = Format("2、本次选举允许另选人 %d 名。另选他人时，应在反对的候选人下边“符号”栏内划“X”(否则不予识别)，"
                          "并在“另选人”姓名栏填写姓名，在其下方符号栏划“O”。只写姓名不划“O”的，按放弃另选处理。",
                          static_cast<int>(t.WriteIns.size()));
    else
        lines[1] = "2、本次选举不设另选人，请勿填写另选人。";
    lines[2] = Format("3、本张选票所选人数不得多于%d人，多者按废票处理。", t.MaxSelect);
    return lines;
}

int BallotInstructionTop(const TBallotTemplate& t) {
    if (!t.WriteIns.empty()) return t.WriteInStartY + t.WriteInNameHeight + t.WriteInMarkHeight + 100;
    return t.CandidateStartY + t.CandidateGroupCount * (t.CandidateNameHeight + t.CandidateMarkHeight) + 120;
}

QImage RenderBallotBitmap(const TBallotTemplate& t) {
    EnsureGuiApplication();
    QImage image(kPageWidth, kPageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    for (const TRect& block : {TRect{103, 103, 177, 177}, TRect{2303, 103, 2377, 177}, TRect{103, 3331, 177, 3405},
                               TRect{2303, 3331, 2377, 3405}})
        FillBlack(p, block);
    DrawTemplateCodeMark(p, t.TemplateCode);
    DrawCellText(p, {260, 260, 1980, 520}, t.Title, true, 78);
    DrawCellText(p, {260, 500, 1980, 565}, "模板：" + t.TemplateID, false, 26);

    if (t.CandidateCols > 0) {
        const int colW = (t.GridRight - t.GridLeft - t.LabelWidth) / t.CandidateCols;
        for (int g = 0; g < t.CandidateGroupCount; ++g) {
            const int top = t.CandidateStartY + g * (t.CandidateNameHeight + t.CandidateMarkHeight);
            const int mid = top + t.CandidateNameHeight;
            const int bottom = mid + t.CandidateMarkHeight;
            const TRect nameLabel{t.GridLeft, top, t.GridLeft + t.LabelWidth, mid};
            const TRect markLabel{t.GridLeft, mid, t.GridLeft + t.LabelWidth, bottom};
            DrawCell(p, nameLabel);
            DrawCellText(p, nameLabel, "候选人", false, kLabelTextHeight);
            DrawCell(p, markLabel);
            DrawCellText(p, markLabel, "符 号", false, kLabelTextHeight);
            for (int c = 0; c < t.CandidateCols; ++c) {
                const int x0 = t.GridLeft + t.LabelWidth + c * colW, x1 = x0 + colW;
                const TRect nameCell{x0, top, x1, mid};
                DrawCell(p, nameCell);
                const std::size_t k = static_cast<std::size_t>(g) * static_cast<std::size_t>(t.CandidateCols) +
                                      static_cast<std::size_t>(c);
                if (k < t.Candidates.size()) DrawCellText(p, nameCell, t.Candidates[k].Name, false, kNameTextHeight);
                DrawCell(p, {x0, mid, x1, bottom});
            }
        }
    }

    if (!t.WriteIns.empty()) {
        const int y = t.WriteInStartY, mid = y + t.WriteInNameHeight, bottom = mid + t.WriteInMarkHeight;
        const TRect label{t.GridLeft, y, t.GridLeft + t.WriteInLabelWidth, mid};
        const TRect markLabel{t.GridLeft, mid, t.GridLeft + t.WriteInLabelWidth, bottom};
        DrawCell(p, label);
        DrawCellText(p, label, "另选人", false, kLabelTextHeight);
        DrawCell(p, markLabel);
        DrawCellText(p, markLabel, "符 号", false, kLabelTextHeight);
        for (const TWriteInTemplate& slot : t.WriteIns) {
            DrawCell(p, slot.NameRect);
            DrawCell(p, slot.MarkRect);
        }
    }

    const int y0 = BallotInstructionTop(t);
    const auto lines = BallotInstructionTexts(t);
    DrawInstruction(p, {230, y0, 2250, y0 + 145}, lines[0]);
    DrawInstruction(p, {230, y0 + 155, 2250, y0 + 300}, lines[1]);
    DrawInstruction(p, {230, y0 + 310, 2250, y0 + 430}, lines[2]);
    p.end();
    return image;
}

TRaster ImageToRaster(const QImage& image) {
    const QImage rgb = image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    TRaster raster(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::uint8_t* dst = raster.Row(y);
        for (int x = 0; x < rgb.width(); ++x) {
            dst[3 * x] = static_cast<std::uint8_t>(qBlue(src[x]));
            dst[3 * x + 1] = static_cast<std::uint8_t>(qGreen(src[x]));
            dst[3 * x + 2] = static_cast<std::uint8_t>(qRed(src[x]));
        }
    }
    return raster;
}

QImage RasterToImage(const TRaster& raster) {
    QImage image(raster.Width, raster.Height, QImage::Format_RGB32);
    for (int y = 0; y < raster.Height; ++y) {
        const std::uint8_t* src = raster.Row(y);
        QRgb* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < raster.Width; ++x) dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    }
    return image;
}

std::string SaveBallotPreview(const TBallotTemplate& ATemplate, const std::string& templateFolder) {
    std::error_code error;
    std::filesystem::create_directories(templateFolder, error);
    if (error) RaiseFileError("无法创建文件夹", templateFolder, error.value());
    const std::string file = (std::filesystem::path(templateFolder) / (ATemplate.TemplateID + "_preview.bmp")).string();
    SaveBitmap24(ImageToRaster(RenderBallotBitmap(ATemplate)), file);
    return file;
}

}  // namespace korvex
