#include "ScanEffects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QPainter>
#include <QPolygonF>

namespace korvex::forge {

namespace {

// A 3-tap blur in both directions; weight is the share of each neighbour.
void BlurInPlace(QImage& image, double weight) {
    if (weight <= 0) return;
    const int w = image.width(), h = image.height();
    const int side = static_cast<int>(std::lround(weight * 256)), middle = 256 - 2 * side;
    std::vector<QRgb> line(static_cast<std::size_t>(std::max(w, h)));
    auto mix = [&](QRgb a, QRgb b, QRgb c) {
        auto ch = [&](int (*f)(QRgb)) { return (side * f(a) + middle * f(b) + side * f(c) + 128) >> 8; };
        return qRgb(ch(qRed), ch(qGreen), ch(qBlue));
    };
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::copy(row, row + w, line.begin());
        for (int x = 0; x < w; ++x) row[x] = mix(line[static_cast<std::size_t>(std::max(x - 1, 0))], line[static_cast<std::size_t>(x)],
                                                 line[static_cast<std::size_t>(std::min(x + 1, w - 1))]);
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) line[static_cast<std::size_t>(y)] = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
        for (int y = 0; y < h; ++y)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] =
                mix(line[static_cast<std::size_t>(std::max(y - 1, 0))], line[static_cast<std::size_t>(y)],
                    line[static_cast<std::size_t>(std::min(y + 1, h - 1))]);
    }
}

// Paper tone, a faint illumination gradient and grey sensor noise.
void AddPaperAndNoise(QImage& image, double sigma, TForgeRandom& rng) {
    const int w = image.width(), h = image.height();
    const double tone = rng.Uniform(0.955, 0.99);
    const double gx = rng.Uniform(-0.02, 0.02), gy = rng.Uniform(-0.02, 0.02);
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double light = tone + gx * (static_cast<double>(x) / w - 0.5) + gy * (static_cast<double>(y) / h - 0.5);
            const double n = sigma > 0 ? sigma * rng.Normal() : 0.0;
            auto ch = [&](int v, double warm) {
                return std::clamp(static_cast<int>(std::lround(v * light * warm + n)), 0, 255);
            };
            row[x] = qRgb(ch(qRed(row[x]), 1.0), ch(qGreen(row[x]), 0.995), ch(qBlue(row[x]), 0.975));
        }
    }
}

}  // namespace

void RandomizeScan(TScanSettings& s, TForgeRandom& rng, double maxSkewDegrees, double maxShiftMm) {
    s.SkewDegrees = rng.Uniform(-maxSkewDegrees, maxSkewDegrees);
    s.ShiftXMm = rng.Uniform(-maxShiftMm, maxShiftMm);
    s.ShiftYMm = rng.Uniform(-maxShiftMm, maxShiftMm);
}

TScanResult ScanPage(const QImage& page, const TScanSettings& s, TForgeRandom& rng) {
    const double f = s.Dpi / 300.0;
    const int ws = static_cast<int>(std::lround(page.width() * f)), hs = static_cast<int>(std::lround(page.height() * f));
    const int k = ((s.QuarterTurns % 4) + 4) % 4;
    const int outW = (k % 2 == 1) ? hs : ws, outH = (k % 2 == 1) ? ws : hs;

    // Page to upright scan: scale, skew about the page centre, shift.
    QTransform upright;
    upright.translate(ws / 2.0 + s.ShiftXMm / 25.4 * s.Dpi, hs / 2.0 + s.ShiftYMm / 25.4 * s.Dpi);
    upright.rotate(s.SkewDegrees);
    upright.scale(f, f);
    upright.translate(-page.width() / 2.0, -page.height() / 2.0);
    QTransform map = upright;
    if (s.Perspective != 0.0) {
        // Keystone: the top edge a little narrower than the bottom edge.
        const double d = s.Perspective * ws;
        QPolygonF from({QPointF(0, 0), QPointF(ws, 0), QPointF(ws, hs), QPointF(0, hs)});
        QPolygonF to({QPointF(d, d * 0.3), QPointF(ws - d * 0.6, 0), QPointF(ws, hs), QPointF(0, hs - d * 0.4)});
        QTransform keystone;
        if (QTransform::quadToQuad(from, to, keystone)) map = map * keystone;
    }
    // Quarter turns clockwise of the upright scan.
    QTransform turn;
    switch (k) {
        case 1: turn = QTransform(0, 1, -1, 0, hs, 0); break;
        case 2: turn = QTransform(-1, 0, 0, -1, ws, hs); break;
        case 3: turn = QTransform(0, -1, 1, 0, 0, ws); break;
        default: break;
    }
    map = map * turn;

    TScanResult result;
    result.PageToScan = map;
    result.Image = QImage(outW, outH, QImage::Format_RGB32);
    result.Image.fill(QColor(246, 246, 244));  // the scanner lid around the sheet
    {
        QPainter p(&result.Image);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setTransform(map);
        p.drawImage(0, 0, page);
    }
    BlurInPlace(result.Image, s.Blur);
    AddPaperAndNoise(result.Image, s.NoiseSigma, rng);
    return result;
}

}  // namespace korvex::forge
