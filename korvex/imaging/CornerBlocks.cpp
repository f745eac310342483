#include "imaging/CornerBlocks.h"

#include <algorithm>
#include <vector>

namespace korvex {

namespace {

struct TComponent {
    std::int64_t Count = 0;
    std::int64_t SumX = 0;
    std::int64_t SumY = 0;
    int MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
};

constexpr std::uint8_t kBackground = 0, kInkUnvisited = 1, kVisited = 2;

}  // namespace

bool FindCornerBlock(const TRaster& raster, const TRect& search, TPointD& centre) {
    centre = TPointD{};
    // Small scans make the corner regions reach past the raster: search only
    // the part that lies on it.
    const int L = std::max(search.Left, 0), T = std::max(search.Top, 0);
    const int R = std::min(search.Right, raster.Width), B = std::min(search.Bottom, raster.Height);
    const int w = R - L, h = B - T;
    if (w <= 0 || h <= 0) return false;

    const std::size_t cells = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::uint8_t> state(cells);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* px = raster.Row(T + y) + 3 * static_cast<std::size_t>(L);
        std::uint8_t* s = state.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x, px += 3) s[x] = GreyValue(px) < kCornerBlockInk ? kInkUnvisited : kBackground;
    }
    std::vector<std::int32_t> queue(cells);

    std::int64_t bestCount = 0;
    double bestScore = 0.0;
    bool found = false;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            const std::size_t start = static_cast<std::size_t>(y0) * w + x0;
            if (state[start] != kInkUnvisited) continue;
            // Breadth-first growth over the 4-neighbours.
            TComponent c;
            c.MinX = c.MaxX = x0;
            c.MinY = c.MaxY = y0;
            std::size_t head = 0, tail = 0;
            queue[tail++] = static_cast<std::int32_t>(start);
            state[start] = kVisited;
            while (head < tail) {
                const std::int32_t pos = queue[head++];
                const int x = pos % w, y = pos / w;
                ++c.Count;
                c.SumX += x;
                c.SumY += y;
                c.MinX = std::min(c.MinX, x);
                c.MaxX = std::max(c.MaxX, x);
                c.MinY = std::min(c.MinY, y);
                c.MaxY = std::max(c.MaxY, y);
                auto visit = [&](std::int32_t next) {
                    if (state[static_cast<std::size_t>(next)] == kInkUnvisited) {
                        state[static_cast<std::size_t>(next)] = kVisited;
                        queue[tail++] = next;
                    }
                };
                if (x + 1 < w) visit(pos + 1);
                if (x > 0) visit(pos - 1);
                if (y + 1 < h) visit(pos + w);
                if (y > 0) visit(pos - w);
            }
            const int bw = c.MaxX - c.MinX + 1, bh = c.MaxY - c.MinY + 1;
            if (bw < 5 || bh < 5 || bw > w / 2 || bh > h / 2 || bw > 3 * bh || bh > 3 * bw) continue;
            const double fill = static_cast<double>(c.Count) / (static_cast<double>(bw) * bh);
            if (fill < 0.5) continue;
            const double score = static_cast<double>(c.Count) * fill;
            if (c.Count > bestCount / 3 && score > bestScore) {
                bestCount = c.Count;
                bestScore = score;
                centre = TPointD{L + static_cast<double>(c.SumX) / c.Count, T + static_cast<double>(c.SumY) / c.Count};
                found = true;
            }
        }
    }
    return found;
}

bool FindCornerBlocks(const TRaster& raster, TCornerSet& scanCorners) {
    const int W = raster.Width, H = raster.Height;
    const int rw = std::max(W / 10, 120), rh = std::max(H / 10, 160);
    const TRect regions[4] = {{0, 0, rw, rh}, {W - rw, 0, W, rh}, {0, H - rh, rw, H}, {W - rw, H - rh, W, H}};
    bool all = true;
    for (int i = 0; i < 4; ++i) all = FindCornerBlock(raster, regions[i], scanCorners[static_cast<std::size_t>(i)]) && all;
    return all;
}

TCornerSet OrderCorners(const TCornerSet& s, int k) {
    // s = [TL, TR, BL, BR] of the scan.
    switch (((k % 4) + 4) % 4) {
    case 1: return {s[1], s[3], s[0], s[2]};
    case 2: return {s[3], s[2], s[1], s[0]};
    case 3: return {s[2], s[0], s[3], s[1]};
    default: return s;
    }
}

TPointD MapPagePoint(const TCornerSet& p, double pageX, double pageY) {
    const double u = (pageX - 140.0) / 2200.0;
    const double v = (pageY - 140.0) / 3228.0;
    const double w0 = (1 - u) * (1 - v), w1 = u * (1 - v), w2 = (1 - u) * v, w3 = u * v;
    return {w0 * p[0].X + w1 * p[1].X + w2 * p[2].X + w3 * p[3].X,
            w0 * p[0].Y + w1 * p[1].Y + w2 * p[2].Y + w3 * p[3].Y};
}

TRaster WarpStandardRegion(const TRaster& raster, const TCornerSet& pageCorners, const TRect& page, int outW,
                           int outH) {
    return ResampleRegion(raster, page, outW, outH,
                          [&](double x, double y) { return MapPagePoint(pageCorners, x, y); });
}

bool CodeCellIsDark(const TRaster& codeImage, int column, int row) {
    const int cw = codeImage.Width / 8, ch = codeImage.Height / 8;
    const int mx = cw / 3, my = ch / 3;
    const int x0 = std::max(column * cw + mx, 0), x1 = std::min((column + 1) * cw - mx, codeImage.Width);
    const int y0 = std::max(row * ch + my, 0), y1 = std::min((row + 1) * ch - my, codeImage.Height);
    if (x0 >= x1 || y0 >= y1) return false;
    int ink = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (GreyAt(codeImage, x, y) < kCodeCellInk) ++ink;
    return static_cast<double>(ink) / (static_cast<double>(x1 - x0) * (y1 - y0)) > 0.55;
}

bool DecodeTemplateCodeImage(const TRaster& codeImage, std::uint32_t& code) {
    code = 0;
    int darkBorder = 0;
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            if ((row == 0 || row == 7 || col == 0 || col == 7) && CodeCellIsDark(codeImage, col, row)) ++darkBorder;
    if (darkBorder < 22) return false;  // a wrong orientation or no code here
    std::uint8_t check = 0;
    int k = 0;
    for (int row = 1; row <= 6; ++row)
        for (int col = 1; col <= 6; ++col, ++k)
            if (CodeCellIsDark(codeImage, col, row)) {
                if (k < 32) code |= std::uint32_t{1} << k;
                else check = static_cast<std::uint8_t>(check | (1u << (k - 32)));
            }
    return code != 0 && check == CodeCheckNibble(code);
}

bool ReadTemplateCode(const TRaster& raster, const TCornerSet& pageCorners, std::uint32_t& code) {
    const TRaster codeImage = WarpStandardRegion(raster, pageCorners, kCodeGridRect, kCodeImageSize, kCodeImageSize);
    return DecodeTemplateCodeImage(codeImage, code);
}

}  // namespace korvex
