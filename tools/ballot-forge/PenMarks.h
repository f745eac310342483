#pragma once
// Marks and names as a voter draws them with a pen, on a page of 300 dots per inch.
#include <string>

#include <QColor>

#include "ForgeRandom.h"
#include "model/uBallotTypes.h"

class QPainter;

namespace korvex::forge {

// How a cell is filled in. The intended mark is what a careful counter reads.
enum class TMarkStyle {
    Blank,            // "-"
    Circle,           // "O"
    Cross,            // "X"
    Specks,           // "." stray specks, still blank
    ScribbledCircle,  // "@" a circle with a scribble inside
    BorderCross,      // "+" a cross running over the cell border
    FaintCircle,      // "o" a circle drawn with a faint pen
    FaintCross,       // "x" a cross drawn with a faint pen
};

// Parses one mark character; returns false for an unknown one.
bool MarkStyleFromChar(char c, TMarkStyle& style);
char MarkStyleChar(TMarkStyle style);
const char* MarkStyleName(TMarkStyle style);
TMarkState IntendedMark(TMarkStyle style);

struct TPen {
    QColor Ink;
    double MinWidth = 3.0;  // pixels at 300 dpi
    double MaxWidth = 8.0;
};

// A pen for one ballot: blue or black ballpoint, or a felt pen.
TPen ChooseBallotPen(TForgeRandom& rng);

void DrawMark(QPainter& painter, const TRect& cell, TMarkStyle style, const TPen& pen, TForgeRandom& rng);

// The mark of an answer box on a split option cell, by the mark variant of the
// option mode: '1' filled bar, '2' hollow circle, '3' tick, '4' filled circle,
// '5' hollow triangle. A faint pen draws it light.
void DrawOptionMark(QPainter& painter, const TRect& box, char variant, bool faint, const TPen& pen, TForgeRandom& rng);

// A handwritten name in the cell, character by character with jitter.
void DrawHandwrittenName(QPainter& painter, const TRect& cell, const std::string& name, const TPen& pen,
                         TForgeRandom& rng);

}  // namespace korvex::forge
