#include <gtest/gtest.h>

#include <vector>

#include "TestImages.h"
#include "imaging/CornerBlocks.h"

namespace korvex {
namespace {

using test::FillRect;

constexpr std::uint32_t kCode = 0x9E3779B9u;

// Orientations (0..3) in which a valid code is read, with the codes read.
struct TReading {
    bool BlocksFound = false;
    std::vector<int> ValidTurns;
    std::vector<std::uint32_t> Codes;
};

TReading ReadAllTurns(const TRaster& scan) {
    TReading reading;
    TCornerSet corners;
    reading.BlocksFound = FindCornerBlocks(scan, corners);
    if (!reading.BlocksFound) return reading;
    for (int k = 0; k < 4; ++k) {
        std::uint32_t code = 0;
        if (ReadTemplateCode(scan, OrderCorners(corners, k), code)) {
            reading.ValidTurns.push_back(k);
            reading.Codes.push_back(code);
        }
    }
    return reading;
}

TEST(CornerBlocks, UprightPageGivesTheBlockCentresAndTheCode) {
    const TRaster page = test::DrawStandardPage(kCode);
    TCornerSet corners;
    ASSERT_TRUE(FindCornerBlocks(page, corners));
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(corners[static_cast<std::size_t>(i)].X, kPageCornerCentres[i].X, 0.5) << i;
        EXPECT_NEAR(corners[static_cast<std::size_t>(i)].Y, kPageCornerCentres[i].Y, 0.5) << i;
    }
    const TReading reading = ReadAllTurns(page);
    EXPECT_EQ(reading.ValidTurns, std::vector<int>{0});
    EXPECT_EQ(reading.Codes, std::vector<std::uint32_t>{kCode});
}

TEST(CornerBlocks, TurnedPagesReadInTheirOrientation) {
    TRaster scan = test::DrawStandardPage(kCode);
    for (int k = 1; k < 4; ++k) {
        scan = test::RotateClockwise(scan);
        SCOPED_TRACE(k);
        const TReading reading = ReadAllTurns(scan);
        ASSERT_TRUE(reading.BlocksFound);
        EXPECT_EQ(reading.ValidTurns, std::vector<int>{k});
        EXPECT_EQ(reading.Codes, std::vector<std::uint32_t>{kCode});
    }
    // A half turn drawn directly (not by three quarter turns) agrees.
    EXPECT_EQ(ReadAllTurns(test::Rotate180(test::DrawStandardPage(kCode))).ValidTurns, std::vector<int>{2});
}

TEST(CornerBlocks, HalfSizePageStillReads) {
    const TRaster half = test::HalfSize(test::DrawStandardPage(kCode));
    const TReading reading = ReadAllTurns(half);
    ASSERT_TRUE(reading.BlocksFound);
    EXPECT_EQ(reading.ValidTurns, std::vector<int>{0});
    EXPECT_EQ(reading.Codes, std::vector<std::uint32_t>{kCode});
    const TReading turned = ReadAllTurns(test::RotateClockwise(half));
    EXPECT_EQ(turned.ValidTurns, std::vector<int>{1});
}

TEST(CornerBlocks, TinyScansSearchOnlyInsideTheRaster) {
    // Smaller than one search region (120 × 160): all four regions overlap the
    // whole raster, which holds one block, so each finds that block.
    TRaster tiny(100, 90, 255);
    FillRect(tiny, 40, 30, 50, 40, 0);
    TCornerSet corners;
    EXPECT_TRUE(FindCornerBlocks(tiny, corners));
    for (const TPointD& p : corners) {
        EXPECT_DOUBLE_EQ(p.X, 44.5);
        EXPECT_DOUBLE_EQ(p.Y, 34.5);
    }
    TRaster blank(3, 2, 255);
    EXPECT_FALSE(FindCornerBlocks(blank, corners));
    EXPECT_FALSE(FindCornerBlocks(TRaster(), corners));
    TPointD centre{5, 5};
    EXPECT_FALSE(FindCornerBlock(tiny, TRect{200, 200, 300, 300}, centre));
    EXPECT_EQ(centre, (TPointD{0, 0}));
}

struct TBlobCase {
    const char* Name;
    std::vector<TRect> Blobs;  // drawn black in a 200 × 200 region
    bool Found;
    TPointD Centre;
};

TEST(CornerBlocks, CandidateRules) {
    const TBlobCase cases[] = {
        {"one block", {{20, 30, 40, 50}}, true, {29.5, 39.5}},
        {"too small (4 wide)", {{20, 30, 24, 50}}, false, {}},
        {"wider than half the region", {{0, 0, 101, 60}}, false, {}},
        {"exactly half the region", {{0, 0, 100, 60}}, true, {49.5, 29.5}},
        {"thin line: width above three heights", {{10, 10, 41, 20}}, false, {}},
        {"three heights exactly", {{10, 10, 40, 20}}, true, {24.5, 14.5}},
        {"larger count·fill wins", {{10, 10, 30, 30}, {100, 100, 130, 130}}, true, {114.5, 114.5}},
        {"equal score keeps the first", {{10, 10, 30, 30}, {100, 100, 120, 120}}, true, {19.5, 19.5}},
    };
    for (const TBlobCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRaster r(200, 200, 255);
        for (const TRect& b : c.Blobs) FillRect(r, b.Left, b.Top, b.Right, b.Bottom, 0);
        TPointD centre;
        EXPECT_EQ(FindCornerBlock(r, TRect{0, 0, 200, 200}, centre), c.Found);
        EXPECT_DOUBLE_EQ(centre.X, c.Centre.X);
        EXPECT_DOUBLE_EQ(centre.Y, c.Centre.Y);
    }
}

TEST(CornerBlocks, HollowOrGreyShapesAreNotBlocks) {
    TRaster r(200, 200, 255);
    test::DrawFrame(r, 20, 20, 60, 60, 3, 0);   // fill 0.29 < 0.5
    FillRect(r, 100, 100, 130, 130, 100);       // grey 100 is not below 100
    TPointD centre;
    EXPECT_FALSE(FindCornerBlock(r, TRect{0, 0, 200, 200}, centre));
    FillRect(r, 100, 100, 130, 130, 99);
    EXPECT_TRUE(FindCornerBlock(r, TRect{0, 0, 200, 200}, centre));
    // The centre is reported in scan coordinates of a region that does not start at 0.
    EXPECT_TRUE(FindCornerBlock(r, TRect{90, 95, 200, 200}, centre));
    EXPECT_DOUBLE_EQ(centre.X, 114.5);
}

TEST(CornerBlocks, OrderCornersPermutations) {
    const TCornerSet s = {TPointD{1, 0}, TPointD{2, 0}, TPointD{3, 0}, TPointD{4, 0}};  // TL, TR, BL, BR
    const struct {
        int K;
        double Expected[4];
    } cases[] = {{0, {1, 2, 3, 4}}, {1, {2, 4, 1, 3}}, {2, {4, 3, 2, 1}}, {3, {3, 1, 4, 2}}, {5, {2, 4, 1, 3}},
                 {-1, {3, 1, 4, 2}}};
    for (const auto& c : cases) {
        const TCornerSet p = OrderCorners(s, c.K);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(p[static_cast<std::size_t>(i)].X, c.Expected[i]) << "k " << c.K << " i " << i;
    }
}

TEST(CornerBlocks, MapPagePointInterpolatesAndExtrapolates) {
    // A scan at half scale shifted by (10, 20).
    TCornerSet p;
    for (int i = 0; i < 4; ++i)
        p[static_cast<std::size_t>(i)] = {kPageCornerCentres[i].X / 2 + 10, kPageCornerCentres[i].Y / 2 + 20};
    for (int i = 0; i < 4; ++i) {
        const TPointD q = MapPagePoint(p, kPageCornerCentres[i].X, kPageCornerCentres[i].Y);
        EXPECT_DOUBLE_EQ(q.X, p[static_cast<std::size_t>(i)].X);
        EXPECT_DOUBLE_EQ(q.Y, p[static_cast<std::size_t>(i)].Y);
    }
    const TPointD origin = MapPagePoint(p, 0, 0);
    EXPECT_NEAR(origin.X, 10, 1e-9);
    EXPECT_NEAR(origin.Y, 20, 1e-9);
    const TPointD far = MapPagePoint(p, 2480, 3508);
    EXPECT_NEAR(far.X, 1250, 1e-9);
    EXPECT_NEAR(far.Y, 1774, 1e-9);
}

TEST(TemplateCode, CodeCellNeedsMoreThanFiftyFivePercentInk) {
    // 160 × 160: cell (2, 3) has the window x 46..53, y 66..73 (64 pixels).
    for (int inkPixels : {35, 36}) {
        TRaster image(160, 160, 255);
        for (int i = 0; i < inkPixels; ++i) test::SetPixel(image, 46 + i % 8, 66 + i / 8, 0, 0, 0);
        EXPECT_EQ(CodeCellIsDark(image, 2, 3), inkPixels == 36) << inkPixels;
    }
    // Ink outside the window does not count.
    TRaster image(160, 160, 255);
    FillRect(image, 40, 60, 60, 66, 0);
    FillRect(image, 40, 74, 60, 80, 0);
    EXPECT_FALSE(CodeCellIsDark(image, 2, 3));
    EXPECT_FALSE(CodeCellIsDark(TRaster(7, 7, 0), 0, 0));  // no window at all
}

// A clean page with some border cells whitened.
TRaster PageWithWhiteBorderCells(std::uint32_t code, int whiteCells) {
    TRaster page = test::DrawStandardPage(code);
    int done = 0;
    for (int col = 0; col < 8 && done < whiteCells; ++col, ++done)
        FillRect(page, 2040 + 25 * col, 280, 2065 + 25 * col, 305, 255);
    for (int row = 1; row < 7 && done < whiteCells; ++row, ++done)
        FillRect(page, 2215, 280 + 25 * row, 2240, 305 + 25 * row, 255);
    return page;
}

TEST(TemplateCode, TwentyTwoDarkBorderCellsAreEnough) {
    for (int white : {0, 6, 7, 10}) {
        SCOPED_TRACE(white);
        const TReading reading = ReadAllTurns(PageWithWhiteBorderCells(kCode, white));
        EXPECT_EQ(reading.ValidTurns.size(), white <= 6 ? 1u : 0u);
    }
}

TEST(TemplateCode, AnySingleFlippedCellInvalidatesTheCode) {
    const TRaster clean = test::DrawStandardPage(kCode);
    TCornerSet corners;
    ASSERT_TRUE(FindCornerBlocks(clean, corners));
    const TCornerSet pageOrder = OrderCorners(corners, 0);
    for (int k = 0; k < 36; ++k) {
        const int row = 1 + k / 6, col = 1 + k % 6;
        TRaster page = clean;
        const bool black = test::CodeCellBlack(kCode, col, row);
        FillRect(page, 2040 + 25 * col, 280 + 25 * row, 2065 + 25 * col, 305 + 25 * row, black ? 255 : 0);
        std::uint32_t code = 0;
        EXPECT_FALSE(ReadTemplateCode(page, pageOrder, code)) << "cell " << k;
        if (k < 32) {
            EXPECT_EQ(code, kCode ^ (1u << k)) << "cell " << k;  // the code is returned anyway
        }
    }
}

TEST(TemplateCode, AllWhiteInnerCellsAreNoCode) {
    TRaster page = test::DrawStandardPage(kCode);
    FillRect(page, 2065, 305, 2215, 455, 255);
    TCornerSet corners;
    ASSERT_TRUE(FindCornerBlocks(page, corners));
    std::uint32_t code = 1;
    EXPECT_FALSE(ReadTemplateCode(page, OrderCorners(corners, 0), code));
    EXPECT_EQ(code, 0u);
}

TEST(TemplateCode, WarpStandardRegionCutsTheCodeGridUpright) {
    const TRaster page = test::DrawStandardPage(kCode);
    TCornerSet corners;
    ASSERT_TRUE(FindCornerBlocks(page, corners));
    const TRaster grid = WarpStandardRegion(page, OrderCorners(corners, 0), kCodeGridRect, 160, 160);
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            EXPECT_EQ(CodeCellIsDark(grid, col, row), test::CodeCellBlack(kCode, col, row)) << col << "," << row;
}

}  // namespace
}  // namespace korvex
