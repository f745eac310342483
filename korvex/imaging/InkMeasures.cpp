#include "imaging/InkMeasures.h"

#include <algorithm>

namespace korvex {

namespace {

// Ink share over x in [x0, x1), y in [y0, y1), already inside the raster.
double InkShare(const TRaster& raster, int x0, int y0, int x1, int y1, int threshold) {
    if (x0 >= x1 || y0 >= y1) return 0.0;
    std::int64_t ink = 0;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* px = raster.Row(y) + 3 * static_cast<std::size_t>(x0);
        for (int x = x0; x < x1; ++x, px += 3)
            if (GreyValue(px) < threshold) ++ink;
    }
    const double total = static_cast<double>(x1 - x0) * static_cast<double>(y1 - y0);
    return static_cast<double>(ink) / total;
}

}  // namespace

double RegionInkRatio(const TRaster& raster, int threshold) {
    const int mx = std::max(raster.Width / 20, 0);
    const int my = std::max(raster.Height / 12, 0);
    return InkShare(raster, mx, my, raster.Width - mx, raster.Height - my, threshold);
}

double InsetInkRatio(const TRaster& raster, int left, int top, int right, int bottom, double inset, int threshold) {
    const int gx = RoundHalfEven(static_cast<double>(right - left) * inset);
    const int gy = RoundHalfEven(static_cast<double>(bottom - top) * inset);
    const std::int64_t W = raster.Width, H = raster.Height;
    std::int64_t l = std::clamp<std::int64_t>(std::int64_t{left} + gx, 0, std::max<std::int64_t>(W - 1, 0));
    std::int64_t r = std::clamp<std::int64_t>(std::int64_t{right} - gx, 0, std::max<std::int64_t>(W, 0));
    std::int64_t t = std::clamp<std::int64_t>(std::int64_t{top} + gy, 0, std::max<std::int64_t>(H - 1, 0));
    std::int64_t b = std::clamp<std::int64_t>(std::int64_t{bottom} - gy, 0, std::max<std::int64_t>(H, 0));
    if (l >= r || t >= b) return 0.0;
    return InkShare(raster, static_cast<int>(l), static_cast<int>(t), static_cast<int>(r), static_cast<int>(b),
                    threshold);
}

double CentralInkRatio(const TRaster& raster, int left, int top, int right, int bottom, int threshold) {
    if (left >= right || top >= bottom) return 0.0;
    const int cx = (left + right) / 2;
    const int cy = (top + bottom) / 2;
    const int hx = std::max(2, RoundHalfEven(0.12 * (right - left + 1)));
    const int hy = std::max(2, RoundHalfEven(0.12 * (bottom - top + 1)));
    const int x0 = std::max(cx - hx, 0), x1 = std::min(raster.Width - 1, cx + hx);
    const int y0 = std::max(cy - hy, 0), y1 = std::min(raster.Height - 1, cy + hy);
    return InkShare(raster, x0, y0, x1 + 1, y1 + 1, threshold);
}

bool HasInkNear(const TRaster& raster, int x, int y, int threshold, int radius) {
    const std::int64_t x0 = std::max<std::int64_t>(std::int64_t{x} - radius, 0);
    const std::int64_t x1 = std::min<std::int64_t>(raster.Width - 1, std::int64_t{x} + radius);
    const std::int64_t y0 = std::max<std::int64_t>(std::int64_t{y} - radius, 0);
    const std::int64_t y1 = std::min<std::int64_t>(raster.Height - 1, std::int64_t{y} + radius);
    if (x0 > x1 || y0 > y1) return false;
    for (std::int64_t yy = y0; yy <= y1; ++yy) {
        const std::uint8_t* px = raster.Row(static_cast<int>(yy)) + 3 * static_cast<std::size_t>(x0);
        for (std::int64_t xx = x0; xx <= x1; ++xx, px += 3)
            if (GreyValue(px) < threshold) return true;
    }
    return false;
}

double InkDarkness(const TRaster& raster, int x, int y) {
    if (!InRaster(raster, x, y)) return 0.0;
    const int g = GreyAt(raster, x, y);
    return g < kDarknessInk ? static_cast<double>(kDarknessInk - g) / kDarknessInk : 0.0;
}

}  // namespace korvex
