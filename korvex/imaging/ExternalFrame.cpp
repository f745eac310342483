#include "imaging/ExternalFrame.h"

#include <algorithm>
#include <cmath>

namespace korvex {

namespace {

constexpr double kDegreesPerRadian = 57.295779513082320877;

// Search constants for one scan of W × H pixels.
struct TFrameSearch {
    int W = 0, H = 0, M = 0;
    int HalfW = 0, HalfH = 0;  // sx, sy
    int Step = 0;              // coarse step g
    int Arm = 0;               // arm length L
    explicit TFrameSearch(const TRaster& r)
        : W(r.Width), H(r.Height), M(std::min(r.Width, r.Height)), HalfW(std::max(r.Width / 30, 30)),
          HalfH(std::max(r.Height / 30, 30)), Step(std::max(M / 320, 4)), Arm(std::max(M / 32, 24)) {}
};

struct TArms {
    int D1x, D1y, D2x, D2y;
};

double Distance(const TPointD& a, const TPointD& b) { return std::hypot(a.X - b.X, a.Y - b.Y); }

bool ScoreCornerCandidate(const TRaster& raster, int x, int y, const TArms& arms, int length, int step, int radius,
                          int ex, int ey, int sx, int sy, double& armScore, double& score) {
    const double r1 = InkHitRatioAlongLine(raster, x, y, arms.D1x, arms.D1y, length, step, radius);
    if (r1 < 0.2) return false;
    const double r2 = InkHitRatioAlongLine(raster, x, y, arms.D2x, arms.D2y, length, step, radius);
    if (r2 < 0.2) return false;
    armScore = 0.3 * (r1 + r2) + std::min(r1, r2);
    const double ddx = static_cast<double>(x - ex) / std::max(sx, 1);
    const double ddy = static_cast<double>(y - ey) / std::max(sy, 1);
    score = armScore - 1.15 * std::sqrt(ddx * ddx + ddy * ddy);
    return true;
}

bool SearchFrameCorner(const TRaster& raster, const TFrameSearch& s, int ex, int ey, const TArms& arms,
                       TPointD& point, double& score) {
    point = TPointD{static_cast<double>(ex), static_cast<double>(ey)};
    score = 0.0;
    double bestScore = -1e30, bestArm = 0.0;
    int bx = ex, by = ey;
    auto consider = [&](int x, int y, int step, int radius) {
        double arm = 0.0, sc = 0.0;
        if (ScoreCornerCandidate(raster, x, y, arms, s.Arm, step, radius, ex, ey, s.HalfW, s.HalfH, arm, sc) &&
            sc > bestScore) {
            bestScore = sc;
            bestArm = arm;
            bx = x;
            by = y;
        }
    };
    const int g = s.Step;
    for (int y = std::max(ey - s.HalfH, 0); y <= std::min(s.H - 1, ey + s.HalfH); y += g)
        for (int x = std::max(ex - s.HalfW, 0); x <= std::min(s.W - 1, ex + s.HalfW); x += g)
            consider(x, y, g, std::max(g / 2, 1));
    if (bestScore <= -1e20) return false;
    const int cx = bx, cy = by;
    for (int y = std::max(cy - 2 * g, 0); y <= std::min(s.H - 1, cy + 2 * g); ++y)
        for (int x = std::max(cx - 2 * g, 0); x <= std::min(s.W - 1, cx + 2 * g); ++x) consider(x, y, 2, 1);
    point = TPointD{static_cast<double>(bx), static_cast<double>(by)};
    score = bestScore;
    return bestArm >= 0.48 && bestScore > -0.1;
}

bool RatiosAgree(const TFrameQuad& q) {
    const double top = Distance(q[0], q[1]), bottom = Distance(q[2], q[3]);
    const double left = Distance(q[0], q[2]), right = Distance(q[1], q[3]);
    const double rh = top / std::max(bottom, 1.0), rv = left / std::max(right, 1.0);
    return rh >= 0.72 && rh <= 1.38 && rv >= 0.72 && rv <= 1.38;
}

bool SidesLongEnough(const TFrameQuad& q, int W, int H) {
    return Distance(q[0], q[1]) >= 0.2 * W && Distance(q[2], q[3]) >= 0.2 * W && Distance(q[0], q[2]) >= 0.15 * H &&
           Distance(q[1], q[3]) >= 0.15 * H;
}

}  // namespace

TPointD MapReferencePoint(int scanW, int scanH, int refW, int refH, double x, double y, int k) {
    const double u = x / refW, v = y / refH;
    double sx = 0, sy = 0;
    switch (((k % 4) + 4) % 4) {
    case 0: sx = scanW * u, sy = scanH * v; break;
    case 1: sx = scanW * (1 - v), sy = scanH * u; break;
    case 2: sx = scanW * (1 - u), sy = scanH * (1 - v); break;
    default: sx = scanW * v, sy = scanH * (1 - u); break;
    }
    return {static_cast<double>(RoundHalfEven(sx)), static_cast<double>(RoundHalfEven(sy))};
}

void RotateDirection(int k, int dx, int dy, int& outDx, int& outDy) {
    switch (((k % 4) + 4) % 4) {
    case 0: outDx = dx, outDy = dy; break;
    case 1: outDx = -dy, outDy = dx; break;
    case 2: outDx = -dx, outDy = -dy; break;
    default: outDx = dy, outDy = -dx; break;
    }
}

double InkHitRatioAlongLine(const TRaster& raster, int x0, int y0, int dx, int dy, int length, int step, int radius) {
    if (step <= 0) return 0.0;
    int samples = 0, hits = 0;
    for (int l = 0; l <= length; l += step) {
        const int x = x0 + dx * l, y = y0 + dy * l;
        if (!InRaster(raster, x, y)) break;
        ++samples;
        if (HasInkNear(raster, x, y, kFrameEdgeInk, radius)) ++hits;
    }
    return samples == 0 ? 0.0 : static_cast<double>(hits) / samples;
}

double LineProfileDarkness(const TRaster& raster, TPointD p, TPointD u, TPointD n) {
    double sum = 0.0;
    for (int i = -4; i <= 4; ++i)
        for (int k = -1; k <= 1; ++k)
            sum += InkDarkness(raster, RoundHalfEven(p.X + 2.0 * i * u.X + k * n.X),
                               RoundHalfEven(p.Y + 2.0 * i * u.Y + k * n.Y));
    return sum / 27.0;
}

bool FitLine(const TPointD* points, int count, TLine& line) {
    if (count < 6) return false;
    double mx = 0, my = 0;
    for (int i = 0; i < count; ++i) mx += points[i].X, my += points[i].Y;
    mx /= count;
    my /= count;
    double sxx = 0, syy = 0, sxy = 0;
    for (int i = 0; i < count; ++i) {
        const double dx = points[i].X - mx, dy = points[i].Y - my;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    if (sxx + syy < 1.0) return false;
    const double theta = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    line.A = -std::sin(theta);
    line.B = std::cos(theta);
    line.C = -(line.A * mx + line.B * my);
    return true;
}

bool FitEdgeLine(const TRaster& raster, TPointD p, TPointD q, TLine& line) {
    const double dx = q.X - p.X, dy = q.Y - p.Y;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (len < 40.0) return false;
    const TPointD u{dx / len, dy / len};
    const TPointD n{-u.Y, u.X};
    const int e = std::clamp(std::min(raster.Width, raster.Height) / 75, 10, 28);
    TPointD edge[30];
    int count = 0;
    for (int j = 0; j < 30; ++j) {
        const double t = 0.07 + 0.86 * j / 29.0;
        const TPointD base{p.X + t * dx, p.Y + t * dy};
        TPointD best = base;
        double bestDark = 0.0;
        for (int i = -e; i <= e; ++i) {
            const TPointD at{base.X + i * n.X, base.Y + i * n.Y};
            const double dark = LineProfileDarkness(raster, at, u, n);
            if (dark > bestDark) {
                bestDark = dark;
                best = at;
            }
        }
        if (bestDark >= 0.13) edge[count++] = best;
    }
    return FitLine(edge, count, line);
}

bool IntersectLines(const TLine& l1, const TLine& l2, TPointD& point) {
    const double det = l1.A * l2.B - l2.A * l1.B;
    if (std::fabs(det) < 1e-8) return false;
    point = {(l1.B * l2.C - l2.B * l1.C) / det, (l2.A * l1.C - l1.A * l2.C) / det};
    return true;
}

bool RefineQuadByEdges(const TRaster& raster, const TFrameQuad& q, TFrameQuad& refined) {
    TLine top, bottom, left, right;
    if (!FitEdgeLine(raster, q[0], q[1], top) || !FitEdgeLine(raster, q[2], q[3], bottom) ||
        !FitEdgeLine(raster, q[0], q[2], left) || !FitEdgeLine(raster, q[1], q[3], right))
        return false;
    TFrameQuad r;
    if (!IntersectLines(top, left, r[0]) || !IntersectLines(top, right, r[1]) || !IntersectLines(bottom, left, r[2]) ||
        !IntersectLines(bottom, right, r[3]))
        return false;
    const double tolerance = std::max(0.055 * std::min(raster.Width, raster.Height), 35.0);
    for (std::size_t i = 0; i < 4; ++i)
        if (Distance(r[i], q[i]) > tolerance) return false;
    refined = r;
    return true;
}

bool FindExternalFrame(const TRaster& raster, int refW, int refH, const TRect& frame, int& rotation,
                       TFrameQuad& quad) {
    rotation = 0;
    if (refW <= 0 || refH <= 0 || frame.Right <= frame.Left || frame.Bottom <= frame.Top || raster.Empty()) return false;
    const TFrameSearch s(raster);
    const bool longEdgesAgree = (s.W >= s.H) == (refW >= refH);
    const int turns[2] = {longEdgesAgree ? 0 : 1, longEdgesAgree ? 2 : 3};
    struct TCornerSpec {
        double X, Y;
        TArms Arms;
    };
    const TCornerSpec corners[4] = {{double(frame.Left), double(frame.Top), {1, 0, 0, 1}},
                                    {double(frame.Right), double(frame.Top), {-1, 0, 0, 1}},
                                    {double(frame.Left), double(frame.Bottom), {1, 0, 0, -1}},
                                    {double(frame.Right), double(frame.Bottom), {-1, 0, 0, -1}}};
    double bestTotal = -1e30;
    bool any = false;
    for (int k : turns) {
        TFrameQuad candidate;
        double total = 0.0;
        bool all = true;
        for (std::size_t c = 0; c < 4 && all; ++c) {
            const TPointD expected = MapReferencePoint(s.W, s.H, refW, refH, corners[c].X, corners[c].Y, k);
            TArms arms{};
            RotateDirection(k, corners[c].Arms.D1x, corners[c].Arms.D1y, arms.D1x, arms.D1y);
            RotateDirection(k, corners[c].Arms.D2x, corners[c].Arms.D2y, arms.D2x, arms.D2y);
            double score = 0.0;
            all = SearchFrameCorner(raster, s, static_cast<int>(expected.X), static_cast<int>(expected.Y), arms,
                                    candidate[c], score);
            total += score;
        }
        if (!all || !SidesLongEnough(candidate, s.W, s.H) || !RatiosAgree(candidate)) continue;
        if (total > bestTotal) {
            bestTotal = total;
            rotation = 90 * k;
            quad = candidate;
            any = true;
        }
    }
    if (!any) return false;
    TFrameQuad refined;
    if (RefineQuadByEdges(raster, quad, refined) && RatiosAgree(refined)) quad = refined;
    return true;
}

TPointD MapFramePoint(const TFrameQuad& q, const TRect& frame, double refX, double refY) {
    if (frame.Right == frame.Left || frame.Bottom == frame.Top) return {};
    const double u = (refX - frame.Left) / (frame.Right - frame.Left);
    const double v = (refY - frame.Top) / (frame.Bottom - frame.Top);
    const double dx1 = q[1].X - q[3].X, dx2 = q[2].X - q[3].X, dx3 = q[0].X - q[1].X - q[2].X + q[3].X;
    const double dy1 = q[1].Y - q[3].Y, dy2 = q[2].Y - q[3].Y, dy3 = q[0].Y - q[1].Y - q[2].Y + q[3].Y;
    const double det = dx1 * dy2 - dx2 * dy1;
    double g = 0.0, h = 0.0;
    if (std::fabs(det) >= 1e-9) {
        g = (dx3 * dy2 - dx2 * dy3) / det;
        h = (dx1 * dy3 - dx3 * dy1) / det;
    }
    double D = g * u + h * v + 1.0;
    if (std::fabs(D) < 1e-9) D = 1e-9;
    return {((q[1].X - q[0].X + g * q[1].X) * u + (q[2].X - q[0].X + h * q[2].X) * v + q[0].X) / D,
            ((q[1].Y - q[0].Y + g * q[1].Y) * u + (q[2].Y - q[0].Y + h * q[2].Y) * v + q[0].Y) / D};
}

TRaster WarpExternalRegion(const TRaster& raster, const TFrameQuad& quad, const TRect& frame, const TRect& region,
                           int outW, int outH) {
    return ResampleRegion(raster, region, outW, outH,
                          [&](double x, double y) { return MapFramePoint(quad, frame, x, y); });
}

double NormalizeAngle(double degrees) {
    if (!std::isfinite(degrees)) return 0.0;
    degrees = std::fmod(degrees, 360.0);  // the same residue as repeated steps of 180, without the loop
    while (degrees > 90.0) degrees -= 180.0;
    while (degrees <= -90.0) degrees += 180.0;
    return degrees;
}

double ComputeFrameSkewAngle(const TFrameQuad& q) {
    double a1 = NormalizeAngle(std::atan2(q[1].Y - q[0].Y, q[1].X - q[0].X) * kDegreesPerRadian);
    double a2 = NormalizeAngle(std::atan2(q[3].Y - q[2].Y, q[3].X - q[2].X) * kDegreesPerRadian);
    if (std::fabs(a1 - a2) > 90.0) {
        if (a2 <= a1) a2 += 180.0;
        else a1 += 180.0;
    }
    return NormalizeAngle((a1 + a2) / 2.0);
}

bool StraightenReferencePage(const TRaster& raster, const TRect& frame, TStraightenedPage& result) {
    int rotation = 0;
    TFrameQuad quad{};
    if (!FindExternalFrame(raster, raster.Width, raster.Height, frame, rotation, quad)) return false;
    result.Quad = quad;
    result.Rotation = rotation;
    result.SkewAngle = ComputeFrameSkewAngle(quad);
    result.Page = WarpExternalRegion(raster, quad, frame, TRect{0, 0, raster.Width, raster.Height}, raster.Width,
                                     raster.Height);
    return true;
}

}  // namespace korvex
