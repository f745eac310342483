#include "ui/ImageLayout.h"

#include <algorithm>
#include <cmath>

#include "model/TextUtil.h"

namespace korvex {
namespace {

// Nearest integer, halves to even (the default rounding mode).
int Nearest(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

double ZoomIn(double factor) { return std::min(factor * kZoomStep, kMaxZoom); }
double ZoomOut(double factor) { return std::max(factor / kZoomStep, kMinZoom); }

TImagePlacement LayoutImage(int w, int h, int clientW, int clientH, double zoom) {
    TImagePlacement p;
    if (w <= 0 || h <= 0) {
        p.ZoomLabel = "缩放：--";
        return p;
    }
    const int aw = std::max(1, clientW - 8);
    const int ah = std::max(1, clientH - 8);
    const double fx = static_cast<double>(aw) / w;
    const double fy = static_cast<double>(ah) / h;
    double fit = (fx < fy || fy != fy) ? fx : fy;
    if (!(fit > 0)) fit = 1;
    const int fw = std::max(1, Nearest(w * fit));
    const int fh = std::max(1, Nearest(h * fit));
    p.Width = std::max(1, Nearest(fw * zoom));
    p.Height = std::max(1, Nearest(fh * zoom));
    p.Left = p.Width < aw ? (aw - p.Width) / 2 : 0;
    p.Top = p.Height < ah ? (ah - p.Height) / 2 : 0;
    p.ZoomLabel = Format("缩放：%.0f%%（相对适应窗口）", zoom * 100);
    return p;
}

}  // namespace korvex
