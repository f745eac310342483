#pragma once
// Grey values, the ink test, the ink-ratio measures and region resampling over
// the working raster. Every routine is a pure function of its arguments.
#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/Raster.h"
#include "model/uBallotTypes.h"

namespace korvex {

struct TPointD {
    double X = 0.0;
    double Y = 0.0;
    friend bool operator==(const TPointD&, const TPointD&) = default;
};

// Ink thresholds: a pixel is ink when its grey value is strictly below one.
constexpr int kCornerBlockInk = 100;   // corner-block search regions
constexpr int kCodeCellInk = 150;      // printed template-code cells
constexpr int kFrameEdgeInk = 155;     // arm probes along an external frame
constexpr int kMarkCellInk = 185;      // a single mark cell
constexpr int kSplitCellInk = 190;     // split option boxes, write-in names
constexpr int kDarknessInk = 205;      // the graded InkDarkness measure

// (30·R + 59·G + 11·B) div 100 of a pixel stored blue, green, red.
inline int GreyValue(const std::uint8_t* bgr) { return (30 * bgr[2] + 59 * bgr[1] + 11 * bgr[0]) / 100; }
inline int GreyAt(const TRaster& r, int x, int y) { return GreyValue(r.Row(y) + 3 * static_cast<std::size_t>(x)); }
inline bool InRaster(const TRaster& r, int x, int y) { return x >= 0 && y >= 0 && x < r.Width && y < r.Height; }

// Nearest integer, halves to the even neighbour (2.5 → 2, 3.5 → 4). Values far
// outside any raster saturate at ±1e9 (NaN gives −1e9) so that pixel tests on
// them stay defined and simply miss.
inline int RoundHalfEven(double v) {
    if (!(v > -1e9)) return -1000000000;
    if (v >= 1e9) return 1000000000;
    double r = std::floor(v);
    double diff = v - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    return static_cast<int>(r);
}

// Share of ink in the raster minus a margin of W div 20 and H div 12 pixels.
double RegionInkRatio(const TRaster& raster, int threshold);
// Share of ink in the rectangle shrunk by Round(width·inset) and
// Round(height·inset) on each side and clamped to the raster.
double InsetInkRatio(const TRaster& raster, int left, int top, int right, int bottom, double inset, int threshold);
// Share of ink in a small box (0.12 of the size each way, at least 2) round the
// centre of a bounding box given by inclusive extremes.
double CentralInkRatio(const TRaster& raster, int left, int top, int right, int bottom, int threshold);
// Whether the square x ± radius, y ± radius (clipped to the raster) holds ink.
bool HasInkNear(const TRaster& raster, int x, int y, int threshold, int radius);
// (205 − g)/205 for a pixel darker than 205, 0 otherwise or outside the raster.
double InkDarkness(const TRaster& raster, int x, int y);

// Nearest-neighbour resampling of the continuous page rectangle `page` into an
// outW × outH raster: each output pixel shows the page point at its centre,
// carried into the source by `map` (page point → source point). Points that
// land outside the source stay white. The source's row addresses are cached.
template <class TMap>
TRaster ResampleRegion(const TRaster& source, const TRect& page, int outW, int outH, TMap map) {
    if (outW <= 0 || outH <= 0) return TRaster();
    TRaster out(outW, outH, 255);
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(source.Height > 0 ? source.Height : 0));
    for (int y = 0; y < source.Height; ++y) rows[static_cast<std::size_t>(y)] = source.Row(y);
    const double stepX = static_cast<double>(page.Right - page.Left) / outW;
    const double stepY = static_cast<double>(page.Bottom - page.Top) / outH;
    for (int r = 0; r < outH; ++r) {
        const double pageY = (r + 0.5) * stepY + page.Top;
        std::uint8_t* dst = out.Row(r);
        for (int c = 0; c < outW; ++c) {
            const double pageX = (c + 0.5) * stepX + page.Left;
            const TPointD s = map(pageX, pageY);
            const int ix = RoundHalfEven(s.X);
            const int iy = RoundHalfEven(s.Y);
            if (ix >= 0 && ix < source.Width && iy >= 0 && iy < source.Height) {
                const std::uint8_t* px = rows[static_cast<std::size_t>(iy)] + 3 * static_cast<std::size_t>(ix);
                dst[3 * c] = px[0];
                dst[3 * c + 1] = px[1];
                dst[3 * c + 2] = px[2];
            }
        }
    }
    return out;
}

}  // namespace korvex
