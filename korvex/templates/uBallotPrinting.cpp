#include "templates/uBallotPrinting.h"

#include <algorithm>
#include <cmath>

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include "model/Errors.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uStandardLayout.h"

namespace korvex {

namespace {

// Ends the job on every path, also when drawing a page fails.
class TJobGuard {
public:
    explicit TJobGuard(QPainter& painter) : painter_(painter) {}
    ~TJobGuard() {
        if (painter_.isActive()) painter_.end();
    }
    TJobGuard(const TJobGuard&) = delete;
    TJobGuard& operator=(const TJobGuard&) = delete;

private:
    QPainter& painter_;
};

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

TPrintPlacement ComputePrintPlacement(int printableWidth, int printableHeight) {
    TPrintPlacement placement;
    const double s = std::min(static_cast<double>(printableWidth) / kPageWidth,
                              static_cast<double>(printableHeight) / kPageHeight);
    placement.Scale = s * 0.96;
    placement.Width = RoundHalfEven(kPageWidth * placement.Scale);
    placement.Height = RoundHalfEven(kPageHeight * placement.Scale);
    placement.X = (printableWidth - placement.Width) / 2;
    placement.Y = (printableHeight - placement.Height) / 2;
    return placement;
}

void PrintBallotOn(QPrinter& printer, const TBallotTemplate& ATemplate, int copies) {
    if (copies < 1) copies = 1;
    const QImage page = RenderBallotBitmap(ATemplate);
    QPainter painter;
    if (!painter.begin(&printer)) throw EKorvexError("无法开始打印作业，请检查打印机是否可用。");
    TJobGuard guard(painter);
    const TPrintPlacement placement = ComputePrintPlacement(printer.width(), printer.height());
    if (placement.Width <= 0 || placement.Height <= 0) throw EKorvexError("打印机的可打印区域无效。");
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRect target(placement.X, placement.Y, placement.Width, placement.Height);
    for (int copy = 1; copy <= copies; ++copy) {
        if (copy > 1 && !printer.newPage()) throw EKorvexError("打印作业无法开始新的一页。");
        painter.drawImage(target, page);
    }
    if (!painter.end()) throw EKorvexError("打印作业未能完成。");
}

void PrintBallot(const TBallotTemplate& ATemplate, int copies) {
    EnsureGuiApplication();
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) throw EKorvexError("没有找到默认打印机。请先安装打印机并将其设为默认打印机。");
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName("选票");
    PrintBallotOn(printer, ATemplate, copies);
}

}  // namespace korvex
