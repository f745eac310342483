#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TestImages.h"
#include "imaging/MarkClassifier.h"

namespace korvex {
namespace {

using test::DrawEllipse;
using test::DrawLine;
using test::FillRect;

// A 180 × 100 cell with its printed border (outside the inner window).
TRaster EmptyCell() {
    TRaster cell(180, 100, 255);
    test::DrawFrame(cell, 0, 0, 180, 100, 3, 0);
    return cell;
}

// Blackens `count` pixels of the window [x0, x1) × [y0, …) row by row, every other column.
void InkPixels(TRaster& r, int x0, int y0, int x1, int count) {
    for (int i = 0, x = x0, y = y0; i < count; ++i) {
        test::SetPixel(r, x, y, 0, 0, 0);
        x += 2;
        if (x >= x1) x = x0, y += 2;
    }
}

TEST(ClassifyMarkCell, BlankCellAndSpecks) {
    const TMarkReading blank = ClassifyMarkCell(EmptyCell());
    EXPECT_EQ(blank.State, msBlank);
    EXPECT_NEAR(blank.Confidence, 0.9675, 1e-12);
    // Inner window 144 × 80 = 11520 pixels: 46 specks (density 0.00399) are blank, 52 (0.00451) are not.
    TRaster specks = EmptyCell();
    InkPixels(specks, 20, 12, 160, 46);
    const TMarkReading few = ClassifyMarkCell(specks);
    EXPECT_EQ(few.State, msBlank);
    EXPECT_NEAR(few.Confidence, 0.9 + (0.0045 - 46.0 / 11520) * 15, 1e-12);
    EXPECT_NEAR(few.Confidence, 0.9075, 2e-4);
    TRaster more = EmptyCell();
    InkPixels(more, 20, 12, 160, 52);
    EXPECT_NE(ClassifyMarkCell(more).State, msBlank);
}

TEST(ClassifyMarkCell, StraightStrokesAreUndecided) {
    TRaster horizontal = EmptyCell();
    FillRect(horizontal, 30, 50, 150, 51, 0);
    TRaster vertical = EmptyCell();
    FillRect(vertical, 90, 15, 91, 85, 0);
    for (const TRaster* cell : {&horizontal, &vertical}) {
        const TMarkReading r = ClassifyMarkCell(*cell);
        EXPECT_EQ(r.State, msUnknown);
        EXPECT_DOUBLE_EQ(r.Confidence, 0.2);
    }
}

TEST(ClassifyMarkCell, EmptyImageIsUndecidedWithZeroConfidence) {
    const TMarkReading r = ClassifyMarkCell(TRaster());
    EXPECT_EQ(r.State, msUnknown);
    EXPECT_EQ(r.Confidence, 0.0);
}

TEST(ClassifyMarkCell, ThinCircleIsApproval) {
    TRaster cell = EmptyCell();
    DrawEllipse(cell, 90, 50, 55, 32, 1.5);
    const TMarkReading r = ClassifyMarkCell(cell);
    EXPECT_EQ(r.State, msApprove);
    // Rule a with a clean centre: 0.8 + 0.19·ring + 0.2·0.08, ring near 1.
    EXPECT_GT(r.Confidence, 0.99);
    EXPECT_LE(r.Confidence, 0.995);
}

TEST(ClassifyMarkCell, CircleWithInkInsideIsJudgedByTheLaterRules) {
    TRaster cell = EmptyCell();
    DrawEllipse(cell, 90, 50, 55, 32, 1.5);
    FillRect(cell, 84, 45, 97, 56, 0);  // a scribble in the centre
    const TMarkReading r = ClassifyMarkCell(cell);
    // Rule a (at most 0.995) no longer applies; the heavy ring outweighs the
    // diagonals, so rule e decides with 0.55 + 0.45·ring, capped at 0.999.
    EXPECT_EQ(r.State, msApprove);
    EXPECT_DOUBLE_EQ(r.Confidence, 0.999);
}

TEST(ClassifyMarkCell, LargeCrossIsRejection) {
    TRaster cell = EmptyCell();
    DrawLine(cell, 30, 15, 150, 85, 2);
    DrawLine(cell, 150, 15, 30, 85, 2);
    const TMarkReading r = ClassifyMarkCell(cell);
    EXPECT_EQ(r.State, msReject);
    EXPECT_GE(r.Confidence, 0.72 + 0.27 * 0.72);
}

TEST(ClassifyMarkCell, CrossMissingItsCentreIsNeverRejection) {
    for (double gap : {14.0, 18.0, 24.0}) {
        TRaster cell = EmptyCell();
        DrawLine(cell, 30, 15, 150, 85, 2);
        DrawLine(cell, 150, 15, 30, 85, 2);
        FillRect(cell, static_cast<int>(90 - gap), static_cast<int>(50 - gap), static_cast<int>(90 + gap) + 1,
                 static_cast<int>(50 + gap) + 1, 255);  // erase round the crossing
        const TMarkReading r = ClassifyMarkCell(cell);
        EXPECT_NE(r.State, msReject) << gap;
    }
}

// Every decided reading carries at least 0.8 and every undecided one less,
// over a sweep of generated circles, crosses, ticks, scribbles and blots.
TEST(ClassifyMarkCell, ConfidenceRespectsTheReviewLine) {
    std::mt19937 rng(20261210);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    int counts[4] = {};
    for (int i = 0; i < 600; ++i) {
        TRaster cell = EmptyCell();
        const double cx = uniform(60, 120), cy = uniform(35, 65), stroke = uniform(0.8, 4);
        switch (i % 6) {
        case 0: DrawEllipse(cell, cx, cy, uniform(8, 70), uniform(8, 38), stroke); break;
        case 1: {
            const double a = uniform(10, 70), b = uniform(8, 38);
            DrawLine(cell, cx - a, cy - b, cx + a, cy + b, stroke);
            DrawLine(cell, cx + a * uniform(0.5, 1), cy - b, cx - a, cy + b * uniform(0.5, 1), stroke);
            break;
        }
        case 2:  // a tick
            DrawLine(cell, cx - 30, cy, cx - 10, cy + 25, stroke);
            DrawLine(cell, cx - 10, cy + 25, cx + 40, cy - 30, stroke);
            break;
        case 3:  // scribble
            for (int s = 0; s < 4; ++s)
                DrawLine(cell, uniform(20, 160), uniform(12, 88), uniform(20, 160), uniform(12, 88), stroke);
            break;
        case 4: FillRect(cell, int(cx - 20), int(cy - 15), int(cx + uniform(0, 50)), int(cy + uniform(0, 30)), 0); break;
        default:  // a partial circle
            for (int s = 0; s < 40; ++s) {
                const double t = s * 2 * 3.14159265 / 40 * uniform(0.3, 1.0);
                test::SetPixel(cell, int(cx + 50 * std::cos(t)), int(cy + 30 * std::sin(t)), 0, 0, 0);
            }
        }
        const TMarkReading r = ClassifyMarkCell(cell);
        ++counts[r.State];
        if (r.State == msUnknown) ASSERT_LT(r.Confidence, kReviewConfidence) << "case " << i;
        else ASSERT_GE(r.Confidence, kReviewConfidence) << "case " << i << " state " << r.State;
        ASSERT_LE(r.Confidence, 1.0);
    }
    // The sweep must really reach every outcome, or it proves little.
    for (int s = 0; s < 4; ++s) EXPECT_GT(counts[s], 10) << "state " << s;
}

// Cells of 120 pixels height with chosen ink counts per box, filled inside the inset window.
TRaster SplitCell(int boxes, std::initializer_list<int> inkPerBox, double inset) {
    TRaster cell(180 * boxes, 120, 255);
    int i = 0;
    for (int ink : inkPerBox) {
        const int x0 = 180 * i + static_cast<int>(std::lround(180 * inset));
        const int y0 = static_cast<int>(std::lround(120 * inset));
        const int x1 = 180 * (i + 1) - static_cast<int>(std::lround(180 * inset));
        for (int k = 0, x = x0, y = y0; k < ink; ++k) {
            test::SetPixel(cell, x, y, 0, 0, 0);
            if (++x >= x1) x = x0, ++y;
        }
        ++i;
    }
    return cell;
}

struct TSplitCase {
    const char* Name;
    const char* Mode;
    int Boxes;
    std::initializer_list<int> Ink;
    TMarkState State;
    double Confidence;
};

TEST(ClassifySplitOptionCell, DecisionTable) {
    // Inset windows: "x.1" 108 × 72 = 7776 pixels, other variants 144 × 96 = 13824.
    const TSplitCase cases[] = {
        {"2.2 clear approval", "2.2", 2, {415, 14}, msApprove, 0.82 + 2.5 * (415.0 - 14) / 13824 + 0.015},
        {"2.2 opposition", "2.2", 2, {0, 415}, msReject, 0.82 + 2.5 * 415.0 / 13824 + 0.015},
        {"2.1 both at 0.05", "2.1", 2, {389, 389}, msUnknown, 0.35 + 4 * 389.0 / 7776},
        {"2.1 both at 0.03", "2.1", 2, {233, 233}, msBlank, 0.9 - 2 * 233.0 / 7776},
        {"2.2 both empty", "2.2", 2, {0, 0}, msBlank, 0.9},
        {"2.2 equal shares above the ink line", "2.2", 2, {415, 415}, msUnknown, 0.45},
        {"2.2 lead below 1.35", "2.2", 2, {415, 320}, msUnknown, 0.45 + 3 * (415.0 - 320) / 13824},
        {"2.2 too little ink", "2.2", 2, {200, 0}, msUnknown, 0.35 + 4 * 200.0 / 13824},
        {"3.2 all empty", "3.2", 3, {0, 0, 0}, msUnknown, 0.25},
        {"3.2 only abstain marked", "3.2", 3, {0, 0, 1000}, msBlank, 0.82 + 0.16 + 0.015},
        {"3.5 approval", "3.5", 3, {1000, 20, 10}, msApprove, 0.82 + 0.16 + 0.015},
        {"mode with blanks around", "  2-2 ", 2, {0, 1000}, msReject, 0.82 + 0.16 + 0.015},
        {"mode 4", "4.2", 2, {415, 0}, msUnknown, 0.0},
        {"mode 1", "1", 2, {415, 0}, msUnknown, 0.0},
        {"mode too short", "2.", 2, {415, 0}, msUnknown, 0.0},
    };
    for (const TSplitCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const double inset = c.Mode[0] != '\0' && std::string(c.Mode).find(".1") != std::string::npos ? 0.2 : 0.1;
        const TMarkReading r = ClassifySplitOptionCell(SplitCell(c.Boxes, c.Ink, inset), c.Mode);
        EXPECT_EQ(r.State, c.State);
        EXPECT_NEAR(r.Confidence, c.Confidence, 1e-9);
    }
}

TEST(ClassifySplitOptionCell, ConfidenceRespectsTheReviewLine) {
    std::mt19937 rng(7);
    for (const char* mode : {"2.1", "2.2", "3.1", "3.4"}) {
        const int boxes = mode[0] - '0';
        for (int i = 0; i < 150; ++i) {
            std::uniform_int_distribution<int> ink(0, 1200);
            const TRaster cell = boxes == 2 ? SplitCell(2, {ink(rng), ink(rng) / (1 + i % 5)}, 0.1)
                                            : SplitCell(3, {ink(rng) / (1 + i % 3), ink(rng), ink(rng) / (1 + i % 7)}, 0.1);
            const TMarkReading r = ClassifySplitOptionCell(cell, mode);
            if (r.State == msUnknown) ASSERT_LT(r.Confidence, kReviewConfidence) << mode << " " << i;
            else ASSERT_GE(r.Confidence, kReviewConfidence) << mode << " " << i;
        }
    }
}

}  // namespace
}  // namespace korvex
