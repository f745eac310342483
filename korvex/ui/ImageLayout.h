#pragma once
// Where the picture goes in the image view: fit to the view with a margin of
// 8 pixels at zoom 1, scaled by the zoom factor, centred while it is smaller.
#include <string>

namespace korvex {

constexpr double kMaxZoom = 8.0;
constexpr double kMinZoom = 0.25;
constexpr double kZoomStep = 1.25;

double ZoomIn(double factor);
double ZoomOut(double factor);

struct TImagePlacement {
    int Left = 0;
    int Top = 0;
    int Width = 1;
    int Height = 1;
    std::string ZoomLabel;  // "缩放：--" or "缩放：100%（相对适应窗口）"
};

// w, h: the picture; clientW, clientH: the view's client area.
TImagePlacement LayoutImage(int w, int h, int clientW, int clientH, double zoom);

}  // namespace korvex
