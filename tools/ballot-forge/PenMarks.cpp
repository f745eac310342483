#include "PenMarks.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QPainter>
#include <QPainterPath>

#include "templates/uBallotFonts.h"

namespace korvex::forge {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TStyleInfo {
    TMarkStyle Style;
    char Char;
    const char* Name;
    TMarkState Mark;
};

constexpr TStyleInfo kStyles[] = {
    {TMarkStyle::Blank, '-', "blank", msBlank},
    {TMarkStyle::Circle, 'O', "circle", msApprove},
    {TMarkStyle::Cross, 'X', "cross", msReject},
    {TMarkStyle::Specks, '.', "specks", msBlank},
    {TMarkStyle::ScribbledCircle, '@', "scribbled-circle", msApprove},
    {TMarkStyle::BorderCross, '+', "border-cross", msReject},
    {TMarkStyle::FaintCircle, 'o', "faint-circle", msApprove},
    {TMarkStyle::FaintCross, 'x', "faint-cross", msReject},
};

const TStyleInfo& InfoOf(TMarkStyle style) {
    for (const TStyleInfo& info : kStyles)
        if (info.Style == style) return info;
    return kStyles[0];
}

// A pen stroke through the points whose width drifts between the pen's limits.
void Stroke(QPainter& p, const std::vector<QPointF>& points, const TPen& pen, TForgeRandom& rng) {
    if (points.size() < 2) return;
    double width = rng.Uniform(pen.MinWidth, pen.MaxWidth);
    double drift = rng.Uniform(-0.15, 0.15);
    for (std::size_t i = 1; i < points.size(); ++i) {
        drift = std::clamp(drift + rng.Uniform(-0.05, 0.05), -0.25, 0.25);
        width = std::clamp(width + drift, pen.MinWidth, pen.MaxWidth);
        if (width <= pen.MinWidth || width >= pen.MaxWidth) drift = -drift;
        p.setPen(QPen(pen.Ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(points[i - 1], points[i]);
    }
}

QPointF CellCentre(const TRect& cell) {
    return QPointF((cell.Left + cell.Right) / 2.0, (cell.Top + cell.Bottom) / 2.0);
}

// An open, slightly elliptic loop with a gap or an overlap where it closes.
std::vector<QPointF> CirclePoints(const TRect& cell, TForgeRandom& rng, double sizeLow, double sizeHigh) {
    const double h = cell.Height(), w = cell.Width();
    const double ry = 0.5 * h * rng.Uniform(sizeLow, sizeHigh);
    const double rx = std::min(ry * rng.Uniform(0.9, 1.35), 0.45 * w);
    const QPointF c = CellCentre(cell) + QPointF(rng.Uniform(-0.08, 0.08) * rx, rng.Uniform(-0.08, 0.08) * ry);
    const double tilt = rng.Uniform(-0.25, 0.25);
    const double start = rng.Uniform(0, 2 * kPi);
    const double sweep = 2 * kPi + rng.Uniform(-0.4, 0.45);  // < 2 pi leaves a gap, > 2 pi overlaps
    const double wobblePhase = rng.Uniform(0, 2 * kPi), wobble = rng.Uniform(0.0, 0.06);
    const double spiral = rng.Uniform(-0.06, 0.06);  // the end does not meet the start exactly
    std::vector<QPointF> points;
    const int steps = 72;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double a = start + sweep * t;
        const double k = 1.0 + wobble * std::sin(2 * a + wobblePhase) + spiral * t;
        const double x = rx * k * std::cos(a), y = ry * k * std::sin(a);
        points.emplace_back(c.x() + x * std::cos(tilt) - y * std::sin(tilt), c.y() + x * std::sin(tilt) + y * std::cos(tilt));
    }
    return points;
}

// One slightly bent stroke through (near) the centre at the given angle.
std::vector<QPointF> CrossStroke(QPointF centre, double angle, double length, TForgeRandom& rng) {
    const QPointF dir(std::cos(angle), std::sin(angle));
    const QPointF normal(-dir.y(), dir.x());
    const double bend = rng.Uniform(-0.06, 0.06) * length;
    const double before = length * rng.Uniform(0.42, 0.55), after = length - before;
    std::vector<QPointF> points;
    const int steps = 24;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double along = -before + (before + after) * t;
        points.push_back(centre + dir * along + normal * (bend * 4 * t * (1 - t)));
    }
    return points;
}

void DrawCross(QPainter& p, const TRect& cell, const TPen& pen, TForgeRandom& rng, double sizeLow, double sizeHigh) {
    const double h = cell.Height();
    const double size = h * rng.Uniform(sizeLow, sizeHigh);
    const QPointF c = CellCentre(cell) + QPointF(rng.Uniform(-0.06, 0.06) * size, rng.Uniform(-0.06, 0.06) * size);
    const double a1 = kPi / 4 + rng.Uniform(-0.28, 0.28);
    const double a2 = 3 * kPi / 4 + rng.Uniform(-0.28, 0.28);
    Stroke(p, CrossStroke(c, a1, size * std::sqrt(2.0) * rng.Uniform(0.8, 1.05), rng), pen, rng);
    Stroke(p, CrossStroke(c, a2, size * std::sqrt(2.0) * rng.Uniform(0.8, 1.05), rng), pen, rng);
}

TPen Faint(const TPen& pen) {
    TPen faint = pen;
    faint.Ink = QColor(150, 155, 172);
    faint.MinWidth = 3.0;
    faint.MaxWidth = 4.0;
    return faint;
}

}  // namespace

bool MarkStyleFromChar(char c, TMarkStyle& style) {
    for (const TStyleInfo& info : kStyles)
        if (info.Char == c) {
            style = info.Style;
            return true;
        }
    return false;
}

char MarkStyleChar(TMarkStyle style) { return InfoOf(style).Char; }
const char* MarkStyleName(TMarkStyle style) { return InfoOf(style).Name; }
TMarkState IntendedMark(TMarkStyle style) { return InfoOf(style).Mark; }

TPen ChooseBallotPen(TForgeRandom& rng) {
    TPen pen;
    switch (rng.Int(0, 2)) {
        case 0: pen.Ink = QColor(rng.Int(20, 40), rng.Int(30, 50), rng.Int(95, 130)); break;   // blue ballpoint
        case 1: pen.Ink = QColor(rng.Int(20, 40), rng.Int(20, 40), rng.Int(25, 45)); break;   // black ballpoint
        default: pen.Ink = QColor(rng.Int(10, 25), rng.Int(10, 25), rng.Int(10, 30)); break;  // felt pen
    }
    pen.MinWidth = rng.Uniform(3.0, 4.5);
    pen.MaxWidth = rng.Uniform(std::max(pen.MinWidth + 1.0, 5.5), 8.0);
    return pen;
}

void DrawMark(QPainter& p, const TRect& cell, TMarkStyle style, const TPen& pen, TForgeRandom& rng) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    switch (style) {
        case TMarkStyle::Blank: break;
        case TMarkStyle::Circle: Stroke(p, CirclePoints(cell, rng, 0.4, 0.9), pen, rng); break;
        case TMarkStyle::Cross: DrawCross(p, cell, pen, rng, 0.4, 0.85); break;
        case TMarkStyle::Specks: {
            p.setPen(Qt::NoPen);
            p.setBrush(pen.Ink);
            const int count = rng.Int(1, 4);
            for (int i = 0; i < count; ++i) {
                const QPointF at(rng.Uniform(cell.Left + 0.15 * cell.Width(), cell.Right - 0.15 * cell.Width()),
                                 rng.Uniform(cell.Top + 0.15 * cell.Height(), cell.Bottom - 0.15 * cell.Height()));
                const double r = rng.Uniform(0.8, 2.0);
                p.drawEllipse(at, r, r * rng.Uniform(0.6, 1.0));
            }
            break;
        }
        case TMarkStyle::ScribbledCircle: {
            const std::vector<QPointF> loop = CirclePoints(cell, rng, 0.7, 0.9);
            Stroke(p, loop, pen, rng);
            const QPointF c = CellCentre(cell);
            const double reach = 0.18 * cell.Height();
            std::vector<QPointF> scribble;
            for (int i = 0; i < 9; ++i)
                scribble.push_back(c + QPointF(rng.Uniform(-1.6, 1.6) * reach, rng.Uniform(-1, 1) * reach));
            TPen thin = pen;
            thin.MaxWidth = std::min(pen.MaxWidth, pen.MinWidth + 1.0);
            Stroke(p, scribble, thin, rng);
            break;
        }
        case TMarkStyle::BorderCross: DrawCross(p, cell, pen, rng, 1.05, 1.25); break;
        case TMarkStyle::FaintCircle: Stroke(p, CirclePoints(cell, rng, 0.5, 0.85), Faint(pen), rng); break;
        case TMarkStyle::FaintCross: DrawCross(p, cell, Faint(pen), rng, 0.5, 0.8); break;
    }
    p.restore();
}

void DrawOptionMark(QPainter& p, const TRect& box, char variant, bool faint, const TPen& basePen, TForgeRandom& rng) {
    const TPen pen = faint ? Faint(basePen) : basePen;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c = CellCentre(box) + QPointF(rng.Uniform(-0.05, 0.05) * box.Width(), rng.Uniform(-0.05, 0.05) * box.Height());
    const double h = box.Height(), w = box.Width();
    switch (variant) {
        case '1': {  // an answer-sheet bar filled in with pencil strokes
            const double bw = w * rng.Uniform(0.5, 0.7), bh = h * rng.Uniform(0.3, 0.45);
            TPen pencil = pen;
            if (!faint) pencil.Ink = QColor(55, 55, 60);
            pencil.MinWidth = 5.0;
            pencil.MaxWidth = 7.0;
            for (double y = c.y() - bh / 2; y <= c.y() + bh / 2; y += 4.0)
                Stroke(p, {QPointF(c.x() - bw / 2 + rng.Uniform(-4, 4), y), QPointF(c.x() + bw / 2 + rng.Uniform(-4, 4), y + rng.Uniform(-2, 2))},
                       pencil, rng);
            break;
        }
        case '3': {  // tick
            const double s = h * rng.Uniform(0.45, 0.7);
            Stroke(p, {c + QPointF(-0.45 * s, -0.05 * s), c + QPointF(-0.12 * s, 0.3 * s), c + QPointF(0.5 * s, -0.45 * s)}, pen, rng);
            break;
        }
        case '4': {  // filled circle
            const double r = h * rng.Uniform(0.22, 0.32);
            p.setPen(Qt::NoPen);
            p.setBrush(pen.Ink);
            p.drawEllipse(c, r * rng.Uniform(0.95, 1.2), r);
            break;
        }
        case '5': {  // hollow triangle
            const double s = h * rng.Uniform(0.5, 0.7);
            Stroke(p, {c + QPointF(0, -0.5 * s), c + QPointF(0.55 * s, 0.42 * s), c + QPointF(-0.55 * s, 0.42 * s), c + QPointF(0.02 * s, -0.48 * s)},
                   pen, rng);
            break;
        }
        default: Stroke(p, CirclePoints(box, rng, 0.45, 0.8), pen, rng); break;  // hollow circle
    }
    p.restore();
}

void DrawHandwrittenName(QPainter& p, const TRect& cell, const std::string& name, const TPen& pen,
                         TForgeRandom& rng) {
    const QString text = QString::fromStdString(name);
    if (text.isEmpty()) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double base = cell.Height() * rng.Uniform(0.52, 0.66);
    const double advance = std::min(base * rng.Uniform(0.95, 1.1), 0.9 * cell.Width() / text.size());
    const double total = advance * text.size();
    double x = cell.Left + (cell.Width() - total) / 2 + rng.Uniform(-0.08, 0.08) * (cell.Width() - total);
    const double baseline = cell.Top + cell.Height() * 0.5 + base * 0.36 + rng.Uniform(-0.06, 0.06) * cell.Height();
    const double slope = rng.Uniform(-0.05, 0.05);
    QPen outline(pen.Ink, rng.Uniform(0.8, 1.8), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    for (int i = 0; i < text.size(); ++i) {
        QFont font = BallotFont("手写", static_cast<int>(std::lround(base * rng.Uniform(0.9, 1.1))));
        QPainterPath glyph;
        glyph.addText(0, 0, font, text.mid(i, 1));
        p.save();
        p.translate(x + rng.Uniform(-0.06, 0.06) * advance, baseline + slope * (x - cell.Left) + rng.Uniform(-3, 3));
        p.rotate(rng.Uniform(-7, 7));
        p.shear(rng.Uniform(-0.08, 0.08), 0);
        p.setPen(outline);
        p.setBrush(pen.Ink);
        p.drawPath(glyph);
        p.restore();
        x += advance * rng.Uniform(0.92, 1.08);
    }
    p.restore();
}

}  // namespace korvex::forge
