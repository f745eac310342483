#include "imaging/MarkClassifier.h"

#include <algorithm>
#include <array>
#include <numbers>

#include "model/TextUtil.h"

namespace korvex {

namespace {

double Clip(double v, double maxV) { return std::clamp(v, 0.0, maxV); }

}  // namespace

TMarkReading ClassifyMarkCell(const TRaster& cell) {
    const int W = cell.Width, H = cell.Height;
    const int x0 = W / 10, x1 = W - W / 10 - 1;
    const int y0 = H / 10, y1 = H - H / 10 - 1;
    std::int64_t n = 0, ink = 0;
    int minx = 0, maxx = -1, miny = 0, maxy = -1;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            ++n;
            if (GreyAt(cell, x, y) >= kMarkCellInk) continue;
            if (ink == 0) {
                minx = maxx = x;
                miny = maxy = y;
            } else {
                minx = std::min(minx, x);
                maxx = std::max(maxx, x);
                miny = std::min(miny, y);
                maxy = std::max(maxy, y);
            }
            ++ink;
        }
    }
    if (n == 0) return {msUnknown, 0.0};
    const double d = static_cast<double>(ink) / static_cast<double>(n);
    if (d < 0.0045) return {msBlank, std::min(0.9 + (0.0045 - d) * 15.0, 0.999)};
    if (maxx <= minx || maxy <= miny) return {msUnknown, 0.2};  // one column or one row of ink

    const int dxBox = maxx - minx, dyBox = maxy - miny;
    const int r = std::max(std::min(dxBox, dyBox) / 14, 3);

    int hitsA = 0, hitsB = 0;
    for (int j = 0; j < 32; ++j) {
        const double t = 0.12 + 0.76 * j / 31.0;
        const int ay = RoundHalfEven(miny + dyBox * t);
        if (HasInkNear(cell, RoundHalfEven(minx + dxBox * t), ay, kMarkCellInk, r)) ++hitsA;
        if (HasInkNear(cell, RoundHalfEven(maxx - dxBox * t), ay, kMarkCellInk, r)) ++hitsB;
    }
    const double diagMin = std::min(hitsA, hitsB) / 32.0;
    const double diagAvg = (hitsA + hitsB) / 64.0;

    const double cx = (minx + maxx) / 2.0, cy = (miny + maxy) / 2.0;
    const bool centreHit = HasInkNear(cell, RoundHalfEven(cx), RoundHalfEven(cy), kMarkCellInk, std::max(2 * r, 4));

    const double rx = std::max(0.47 * dxBox, 2.0), ry = std::max(0.47 * dyBox, 2.0);
    int ringHits = 0;
    for (int k = 0; k < 40; ++k) {
        const double theta = 2.0 * std::numbers::pi * k / 40.0;
        if (HasInkNear(cell, RoundHalfEven(cx + rx * std::cos(theta)), RoundHalfEven(cy + ry * std::sin(theta)),
                       kMarkCellInk, r))
            ++ringHits;
    }
    const double ring = ringHits / 40.0;
    const double centreInk = CentralInkRatio(cell, minx, miny, maxx, maxy, kMarkCellInk);

    if (centreInk <= 0.08 && ring >= 0.45)
        return {msApprove, Clip(0.8 + 0.19 * ring + 0.2 * (0.08 - centreInk), 0.995)};
    if (centreHit && diagMin >= 0.62 && diagAvg >= 0.72 && diagAvg > ring + 0.12)
        return {msReject, Clip(0.72 + 0.27 * diagAvg, 0.999)};
    if (centreHit && diagMin >= 0.4 && diagAvg >= 0.68 && ring <= 0.5 && diagAvg > ring + 0.25)
        return {msReject, Clip(0.8 + 0.18 * diagAvg, 0.97)};
    if (centreHit && diagMin >= 0.5 && diagAvg >= 0.62 && ring <= 0.55)
        return {msReject, Clip(0.74 + 0.2 * diagAvg, 0.94)};
    if (ring >= 0.58 && ring > diagAvg + 0.08) return {msApprove, Clip(0.55 + 0.45 * ring, 0.999)};
    return {msUnknown, 0.65 * std::max(ring, diagAvg)};
}

TMarkReading ClassifySplitOptionCell(const TRaster& cell, std::string_view optionMode) {
    const std::string_view mode = TrimBlanks(optionMode);
    if (mode.size() < 3 || (mode[0] != '2' && mode[0] != '3')) return {msUnknown, 0.0};
    const int n = mode[0] - '0';
    const bool bar = mode[2] == '1';  // filled answer-sheet bars are read with their own thresholds
    const double inkThreshold = bar ? 0.055 : 0.018;
    const double blankThreshold = bar ? 0.04 : 0.01;
    const double lead = bar ? 1.45 : 1.35;
    const double inset = bar ? 0.2 : 0.1;

    std::array<double, 3> share{};
    std::array<int, 3> order{0, 1, 2};
    for (int i = 0; i < n; ++i) {
        const int bx0 = RoundHalfEven(static_cast<double>(cell.Width) * i / n);
        const int bx1 = RoundHalfEven(static_cast<double>(cell.Width) * (i + 1) / n);
        share[static_cast<std::size_t>(i)] = InsetInkRatio(cell, bx0, 0, bx1, cell.Height, inset, kSplitCellInk);
    }
    std::stable_sort(order.begin(), order.begin() + n,
                     [&](int a, int b) { return share[static_cast<std::size_t>(a)] > share[static_cast<std::size_t>(b)]; });
    const int best = order[0];
    const double bestV = share[static_cast<std::size_t>(best)];
    const double secondV = share[static_cast<std::size_t>(order[1])];
    const double margin = bestV - secondV;

    if (bestV <= blankThreshold) {
        if (n == 2) return {msBlank, std::clamp(0.9 - 2.0 * bestV, 0.8, 0.98)};
        return {msUnknown, 0.25};  // a three-box ballot must mark one box, abstain included
    }
    if (bestV < inkThreshold) return {msUnknown, std::min(0.35 + 4.0 * bestV, 0.65)};
    if (secondV > 0.0 && bestV / secondV < lead) return {msUnknown, std::min(0.45 + 3.0 * margin, 0.72)};
    const double confidence = std::min(0.82 + std::min(2.5 * margin, 0.16) + std::min(bestV, 0.015), 0.995);
    const TMarkState states[3] = {msApprove, msReject, msBlank};
    return {states[best], confidence};
}

}  // namespace korvex
