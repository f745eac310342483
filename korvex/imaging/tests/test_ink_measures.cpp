#include <gtest/gtest.h>

#include "TestImages.h"
#include "imaging/InkMeasures.h"

namespace korvex {
namespace {

using test::FillRect;

TEST(InkMeasures, GreyValueAndTheStrictInkTest) {
    struct {
        std::uint8_t R, G, B;
        int Grey;
    } cases[] = {{255, 0, 0, 76}, {0, 255, 0, 150}, {0, 0, 255, 28}, {255, 255, 255, 255}, {0, 0, 0, 0}, {185, 185, 185, 185}};
    for (const auto& c : cases) {
        const std::uint8_t bgr[3] = {c.B, c.G, c.R};
        EXPECT_EQ(GreyValue(bgr), c.Grey) << int(c.R) << "," << int(c.G) << "," << int(c.B);
    }
    // Pure green is ink at 155 but not at 150; a grey of exactly T is never ink.
    TRaster green(1, 1, 0);
    green.Row(0)[1] = 255;
    EXPECT_TRUE(HasInkNear(green, 0, 0, 155, 0));
    EXPECT_FALSE(HasInkNear(green, 0, 0, 150, 0));
    TRaster g185(1, 1, 185), g184(1, 1, 184);
    EXPECT_FALSE(HasInkNear(g185, 0, 0, kMarkCellInk, 0));
    EXPECT_TRUE(HasInkNear(g184, 0, 0, kMarkCellInk, 0));
}

TEST(InkMeasures, RoundHalfEven) {
    const std::pair<double, int> cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2},
                                            {2.4999, 2}, {2.5001, 3}, {-0.4, 0}, {7.0, 7}, {1e300, 1000000000}};
    for (auto [v, expected] : cases) EXPECT_EQ(RoundHalfEven(v), expected) << v;
    EXPECT_EQ(RoundHalfEven(std::nan("")), -1000000000);
}

TEST(InkMeasures, WhiteAndBlackRasters) {
    TRaster white(30, 20, 255), black(30, 20, 0);
    EXPECT_EQ(RegionInkRatio(white, 185), 0.0);
    EXPECT_EQ(InsetInkRatio(white, 0, 0, 30, 20, 0.1, 185), 0.0);
    EXPECT_EQ(CentralInkRatio(white, 0, 0, 29, 19, 185), 0.0);
    EXPECT_FALSE(HasInkNear(white, 15, 10, 185, 5));
    EXPECT_EQ(RegionInkRatio(black, 185), 1.0);
    EXPECT_EQ(InsetInkRatio(black, 0, 0, 30, 20, 0.1, 185), 1.0);
    EXPECT_EQ(CentralInkRatio(black, 0, 0, 29, 19, 185), 1.0);
    EXPECT_TRUE(HasInkNear(black, 15, 10, 185, 0));
}

TEST(InkMeasures, RegionInkRatioSkipsItsMargin) {
    // 20 × 10: x 1..18, y 0..9 are looked at (W div 20 = 1, H div 12 = 0).
    TRaster r(20, 10, 255);
    FillRect(r, 0, 0, 1, 10, 0);
    FillRect(r, 19, 0, 20, 10, 0);
    EXPECT_EQ(RegionInkRatio(r, 100), 0.0);
    FillRect(r, 1, 0, 2, 10, 0);
    EXPECT_DOUBLE_EQ(RegionInkRatio(r, 100), 10.0 / 180.0);
}

TEST(InkMeasures, InsetInkRatio) {
    TRaster r(100, 50, 255);
    FillRect(r, 10, 5, 20, 45, 0);  // a dark bar in the left strip's inset area
    // Strip 0..50 with inset 0.2: x 10..40, y 10..40 → ink columns 10..19.
    EXPECT_DOUBLE_EQ(InsetInkRatio(r, 0, 0, 50, 50, 0.2, 190), 10.0 / 30.0);
    // A rectangle narrower than its doubled inset is empty.
    EXPECT_EQ(InsetInkRatio(r, 10, 10, 13, 40, 0.5, 190), 0.0);
    // Clamped to the raster when reaching past it.
    EXPECT_DOUBLE_EQ(InsetInkRatio(r, -100, -100, 15, 200, 0.0, 190), 5.0 * 40 / (15.0 * 50));
    EXPECT_EQ(InsetInkRatio(r, 200, 0, 300, 50, 0.0, 190), 0.0);
}

TEST(InkMeasures, CentralInkRatio) {
    TRaster r(101, 101, 255);
    // Box 0..100 inclusive: centre 50, half-size Round(0.12·101) = 12 → 25 × 25 pixels.
    FillRect(r, 38, 38, 63, 63, 0);
    EXPECT_DOUBLE_EQ(CentralInkRatio(r, 0, 0, 100, 100, 185), 1.0);
    FillRect(r, 38, 38, 63, 39, 255);
    EXPECT_DOUBLE_EQ(CentralInkRatio(r, 0, 0, 100, 100, 185), 24.0 / 25.0);
    EXPECT_EQ(CentralInkRatio(r, 5, 5, 5, 50, 185), 0.0);  // Left ≥ Right
    // Small boxes still look at least 2 pixels each way: 5 × 5 here.
    TRaster small(10, 10, 255);
    test::SetPixel(small, 2, 2, 0, 0, 0);
    EXPECT_DOUBLE_EQ(CentralInkRatio(small, 0, 0, 4, 4, 185), 1.0 / 25.0);
}

TEST(InkMeasures, HasInkNearClipsToTheRaster) {
    TRaster r(10, 10, 255);
    test::SetPixel(r, 0, 0, 0, 0, 0);
    EXPECT_TRUE(HasInkNear(r, -2, -2, 100, 2));   // outside, square overlaps the ink
    EXPECT_FALSE(HasInkNear(r, -3, -3, 100, 2));  // outside, square misses
    EXPECT_FALSE(HasInkNear(r, 50, 50, 100, 3));  // square entirely off the raster
    EXPECT_TRUE(HasInkNear(r, 3, 3, 100, 3));
    EXPECT_FALSE(HasInkNear(r, 4, 4, 100, 3));
}

TEST(InkMeasures, InkDarkness) {
    TRaster r(2, 1, 0);
    r.Row(0)[3] = r.Row(0)[4] = r.Row(0)[5] = 204;
    EXPECT_DOUBLE_EQ(InkDarkness(r, 0, 0), 1.0);
    EXPECT_DOUBLE_EQ(InkDarkness(r, 1, 0), 1.0 / 205.0);
    EXPECT_EQ(InkDarkness(r, 2, 0), 0.0);
    EXPECT_EQ(InkDarkness(r, -1, 0), 0.0);
    TRaster light(1, 1, 205);
    EXPECT_EQ(InkDarkness(light, 0, 0), 0.0);
}

TEST(RegionResampling, SamplesPixelCentresNearestNeighbour) {
    TRaster src(8, 8, 255);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) test::SetPixel(src, x, y, static_cast<std::uint8_t>(x * 10), static_cast<std::uint8_t>(y * 10), 7);
    auto identity = [](double x, double y) { return TPointD{x, y}; };
    // Page (2,2)-(6,6) at 2 × 2: centres at 3 and 5.
    TRaster out = ResampleRegion(src, TRect{2, 2, 6, 6}, 2, 2, identity);
    ASSERT_EQ(out.Width, 2);
    EXPECT_EQ(out.Row(0)[0], 30);
    EXPECT_EQ(out.Row(0)[1], 30);
    EXPECT_EQ(out.Row(1)[3], 50);
    EXPECT_EQ(out.Row(1)[4], 50);
    // Centres at 2.5 and 3.5 round to the even neighbours 2 and 4.
    TRaster halves = ResampleRegion(src, TRect{2, 2, 4, 4}, 2, 2, [](double x, double y) { return TPointD{x, y}; });
    EXPECT_EQ(halves.Row(0)[0], 20);
    EXPECT_EQ(halves.Row(0)[3], 40);
}

TEST(RegionResampling, PointsOutsideTheSourceStayWhite) {
    TRaster src(8, 8, 0);
    TRaster out = ResampleRegion(src, TRect{100, 100, 140, 120}, 20, 10, [](double x, double y) { return TPointD{x, y}; });
    EXPECT_EQ(RegionInkRatio(out, 255), 0.0);
    ASSERT_EQ(out.Pixels.size(), 600u);
    for (std::uint8_t v : out.Pixels) ASSERT_EQ(v, 255);
    // A map that answers NaN for every point leaves everything white too.
    TRaster nan = ResampleRegion(src, TRect{0, 0, 8, 8}, 4, 4, [](double, double) { return TPointD{std::nan(""), 0}; });
    for (std::uint8_t v : nan.Pixels) ASSERT_EQ(v, 255);
    EXPECT_TRUE(ResampleRegion(src, TRect{0, 0, 8, 8}, 0, 4, [](double x, double y) { return TPointD{x, y}; }).Empty());
}

}  // namespace
}  // namespace korvex
