#include <gtest/gtest.h>

#include <cmath>

#include "TestImages.h"
#include "imaging/ExternalFrame.h"

namespace korvex {
namespace {

// A reference page at 150 dpi with a 4-pixel frame drawn inwards from F.
constexpr int kW = 1240, kH = 1754;
constexpr TRect kFrame{150, 300, 1090, 1500};      // centred horizontally, not vertically
constexpr TRect kCentredFrame{150, 277, 1090, 1477};

TRaster ReferencePage(const TRect& f = kFrame, int thickness = 4) {
    TRaster page(kW, kH, 255);
    test::DrawFrame(page, f.Left, f.Top, f.Right, f.Bottom, thickness);
    // A table rule and some text-like blocks inside, as on a real ballot.
    test::FillRect(page, f.Left, (f.Top + f.Bottom) / 2, f.Right, (f.Top + f.Bottom) / 2 + 2, 0);
    test::FillRect(page, f.Left + 60, f.Top + 60, f.Left + 300, f.Top + 90, 60);
    return page;
}

// The page turned about its centre by `degrees` (nearest neighbour, white outside).
TRaster TurnedPage(const TRaster& page, double degrees) {
    const double a = degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
    const double cx = page.Width / 2.0, cy = page.Height / 2.0;
    return ResampleRegion(page, TRect{0, 0, page.Width, page.Height}, page.Width, page.Height,
                          [&](double x, double y) {
                              // inverse rotation: output point → source point
                              return TPointD{cx + (x - cx) * c + (y - cy) * s, cy - (x - cx) * s + (y - cy) * c};
                          });
}

TPointD Turn(TPointD p, double degrees) {
    const double a = degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
    const double cx = kW / 2.0, cy = kH / 2.0;
    return {cx + (p.X - cx) * c - (p.Y - cy) * s, cy + (p.X - cx) * s + (p.Y - cy) * c};
}

void ExpectNear(const TPointD& actual, const TPointD& expected, double tolerance, const char* what) {
    EXPECT_NEAR(actual.X, expected.X, tolerance) << what;
    EXPECT_NEAR(actual.Y, expected.Y, tolerance) << what;
}

TFrameQuad FrameCorners(const TRect& f) {
    return {TPointD{double(f.Left), double(f.Top)}, TPointD{double(f.Right), double(f.Top)},
            TPointD{double(f.Left), double(f.Bottom)}, TPointD{double(f.Right), double(f.Bottom)}};
}

TEST(ExternalFrame, ScanIdenticalToTheReference) {
    int rotation = -1;
    TFrameQuad quad;
    ASSERT_TRUE(FindExternalFrame(ReferencePage(), kW, kH, kFrame, rotation, quad));
    EXPECT_EQ(rotation, 0);
    const TFrameQuad expected = FrameCorners(kFrame);
    for (std::size_t i = 0; i < 4; ++i) ExpectNear(quad[i], expected[i], 4.0, "corner");
    EXPECT_NEAR(ComputeFrameSkewAngle(quad), 0.0, 0.2);
}

TEST(ExternalFrame, SkewedScanIsRefinedOntoTheFrameLines) {
    const double skew = 1.2;
    const TRaster scan = TurnedPage(ReferencePage(), skew);
    int rotation = -1;
    TFrameQuad quad;
    ASSERT_TRUE(FindExternalFrame(scan, kW, kH, kFrame, rotation, quad));
    EXPECT_EQ(rotation, 0);
    // The fitted edges run along the middle of the 4-pixel lines, 1.5 pixels inside F.
    const TRect mid{kFrame.Left + 2, kFrame.Top + 2, kFrame.Right - 2, kFrame.Bottom - 2};
    const TFrameQuad expected = FrameCorners(mid);
    for (std::size_t i = 0; i < 4; ++i) ExpectNear(quad[i], Turn(expected[i], skew), 1.5, "corner");
    EXPECT_NEAR(ComputeFrameSkewAngle(quad), skew, 0.05);
}

TEST(ExternalFrame, LandscapeScanOfAPortraitReferenceIsAQuarterTurn) {
    const TRaster scan = test::RotateClockwise(ReferencePage());
    int rotation = -1;
    TFrameQuad quad;
    ASSERT_TRUE(FindExternalFrame(scan, kW, kH, kFrame, rotation, quad));
    EXPECT_EQ(rotation, 90);
    // The frame's printed top-left now lies at the scan's top right.
    ExpectNear(quad[0], TPointD{double(kH - 1 - kFrame.Top), double(kFrame.Left)}, 4.0, "P0");
    ExpectNear(quad[3], TPointD{double(kH - 1 - kFrame.Bottom), double(kFrame.Right)}, 4.0, "P3");
    EXPECT_NEAR(std::fabs(ComputeFrameSkewAngle(quad)), 90.0, 0.3);

    ASSERT_TRUE(FindExternalFrame(test::RotateClockwise(test::Rotate180(ReferencePage())), kW, kH, kFrame, rotation, quad));
    EXPECT_EQ(rotation, 270);
}

TEST(ExternalFrame, HalfTurns) {
    int rotation = -1;
    TFrameQuad quad;
    // Off-centre frame: only the half turn fits.
    ASSERT_TRUE(FindExternalFrame(test::Rotate180(ReferencePage()), kW, kH, kFrame, rotation, quad));
    EXPECT_EQ(rotation, 180);
    ExpectNear(quad[0], TPointD{double(kW - 1 - kFrame.Left), double(kH - 1 - kFrame.Top)}, 4.0, "P0");
}

TEST(ExternalFrame, CentredFrameTurnedByHalfIsReadUpright) {
    TRaster page(kW, kH, 255);
    test::DrawFrame(page, kCentredFrame.Left, kCentredFrame.Top, kCentredFrame.Right, kCentredFrame.Bottom, 4);
    int rotation = -1;
    TFrameQuad quad;
    ASSERT_TRUE(FindExternalFrame(test::Rotate180(page), kW, kH, kCentredFrame, rotation, quad));
    EXPECT_EQ(rotation, 0);
}

TEST(ExternalFrame, GapsAtACornerAreTolerated) {
    TRaster page = ReferencePage();
    // 12 pixels of each arm missing at the top-left corner (the arm length is 38).
    test::FillRect(page, kFrame.Left, kFrame.Top, kFrame.Left + 12, kFrame.Top + 12, 255);
    int rotation = -1;
    TFrameQuad quad;
    ASSERT_TRUE(FindExternalFrame(page, kW, kH, kFrame, rotation, quad));
    ExpectNear(quad[0], TPointD{kFrame.Left + 1.5, kFrame.Top + 1.5}, 4.0, "P0");
}

TEST(ExternalFrame, NotFound) {
    int rotation = -1;
    TFrameQuad quad;
    const TRaster page = ReferencePage();
    // Bad reference geometry.
    EXPECT_FALSE(FindExternalFrame(page, 0, kH, kFrame, rotation, quad));
    EXPECT_FALSE(FindExternalFrame(page, kW, kH, TRect{500, 300, 500, 1500}, rotation, quad));
    EXPECT_FALSE(FindExternalFrame(TRaster(), kW, kH, kFrame, rotation, quad));
    // A blank scan.
    EXPECT_FALSE(FindExternalFrame(TRaster(kW, kH, 255), kW, kH, kFrame, rotation, quad));
    // The frame lies farther than the search half-width (41) from where the reference puts it.
    TRaster shifted(kW, kH, 255);
    test::DrawFrame(shifted, kFrame.Left + 60, kFrame.Top, kFrame.Right + 60, kFrame.Bottom, 4);
    EXPECT_FALSE(FindExternalFrame(shifted, kW, kH, kFrame, rotation, quad));
    // A frame narrower than a fifth of the page width.
    const TRect narrow{500, 300, 700, 1500};
    TRaster small(kW, kH, 255);
    test::DrawFrame(small, narrow.Left, narrow.Top, narrow.Right, narrow.Bottom, 4);
    EXPECT_FALSE(FindExternalFrame(small, kW, kH, narrow, rotation, quad));
    // The same frame a little wider is accepted.
    const TRect wider{500, 300, 760, 1500};
    TRaster ok(kW, kH, 255);
    test::DrawFrame(ok, wider.Left, wider.Top, wider.Right, wider.Bottom, 4);
    EXPECT_TRUE(FindExternalFrame(ok, kW, kH, wider, rotation, quad));
}

TEST(ExternalFrame, MapFramePointCornersAndCentre) {
    const TFrameQuad q = {TPointD{100, 120}, TPointD{900, 80}, TPointD{130, 1300}, TPointD{1000, 1250}};
    const TRect f{10, 20, 410, 620};
    const TFrameQuad corners = FrameCorners(f);
    for (std::size_t i = 0; i < 4; ++i) {
        const TPointD p = MapFramePoint(q, f, corners[i].X, corners[i].Y);
        EXPECT_NEAR(p.X, q[i].X, 1e-9);
        EXPECT_NEAR(p.Y, q[i].Y, 1e-9);
    }
    // The centre of F goes to the crossing of the diagonals P0–P3 and P1–P2.
    TLine d1{q[3].Y - q[0].Y, q[0].X - q[3].X, 0}, d2{q[2].Y - q[1].Y, q[1].X - q[2].X, 0};
    d1.C = -(d1.A * q[0].X + d1.B * q[0].Y);
    d2.C = -(d2.A * q[1].X + d2.B * q[1].Y);
    TPointD crossing;
    ASSERT_TRUE(IntersectLines(d1, d2, crossing));
    const TPointD centre = MapFramePoint(q, f, 210, 320);
    EXPECT_NEAR(centre.X, crossing.X, 1e-6);
    EXPECT_NEAR(centre.Y, crossing.Y, 1e-6);
    EXPECT_EQ(MapFramePoint(q, TRect{10, 20, 10, 620}, 5, 5), (TPointD{0, 0}));
}

TEST(ExternalFrame, NormalizeAngle) {
    const std::pair<double, double> cases[] = {{90, 90}, {-90, 90}, {135, -45}, {270, 90}, {0, 0}, {-135, 45},
                                               {89.5, 89.5}, {-89.5, -89.5}, {720.25, 0.25}, {-1e9, NormalizeAngle(-1e9)}};
    for (auto [in, out] : cases) EXPECT_NEAR(NormalizeAngle(in), out, 1e-9) << in;
    EXPECT_GT(NormalizeAngle(-1e9), -90.0);
    EXPECT_LE(NormalizeAngle(-1e9), 90.0);
}

TEST(ExternalFrame, SkewAngle) {
    const TFrameQuad q = {TPointD{0, 0}, TPointD{1000, 10}, TPointD{0, 500}, TPointD{1000, 510}};
    EXPECT_NEAR(ComputeFrameSkewAngle(q), 0.573, 0.001);
    const TFrameQuad up = {TPointD{0, 10}, TPointD{1000, 0}, TPointD{0, 510}, TPointD{1000, 500}};
    EXPECT_NEAR(ComputeFrameSkewAngle(up), -0.573, 0.001);
    // Edges pointing opposite ways (a half-turned reading) still average sensibly.
    const TFrameQuad mixed = {TPointD{0, 0}, TPointD{1000, 10}, TPointD{1000, 510}, TPointD{0, 500}};
    EXPECT_NEAR(ComputeFrameSkewAngle(mixed), 0.573, 0.001);
    // A page at a quarter turn: the top edge runs down the scan.
    const TFrameQuad quarter = {TPointD{1000, 0}, TPointD{1000, 800}, TPointD{0, 0}, TPointD{0, 800}};
    EXPECT_NEAR(ComputeFrameSkewAngle(quarter), 90.0, 1e-9);
}

TEST(ExternalFrame, LineFitting) {
    TLine line;
    const TPointD five[] = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}};
    EXPECT_FALSE(FitLine(five, 5, line));
    const TPointD same[] = {{3, 3}, {3, 3}, {3, 3}, {3, 3}, {3, 3}, {3, 3.1}};
    EXPECT_FALSE(FitLine(same, 6, line));
    const TPointD row[] = {{0, 7}, {10, 7}, {20, 7}, {30, 7}, {40, 7}, {50, 7}};
    ASSERT_TRUE(FitLine(row, 6, line));
    EXPECT_NEAR(line.A * 25 + line.B * 7 + line.C, 0, 1e-9);
    EXPECT_NEAR(std::fabs(line.B), 1.0, 1e-12);
    const TPointD column[] = {{5, 0}, {5, 10}, {5, 20}, {5, 30}, {5, 40}, {5, 50}};
    TLine vertical;
    ASSERT_TRUE(FitLine(column, 6, vertical));
    TPointD p;
    ASSERT_TRUE(IntersectLines(line, vertical, p));
    EXPECT_NEAR(p.X, 5, 1e-9);
    EXPECT_NEAR(p.Y, 7, 1e-9);
    EXPECT_FALSE(IntersectLines(line, line, p));
    // An edge shorter than 40 pixels is not fitted.
    EXPECT_FALSE(FitEdgeLine(ReferencePage(), TPointD{150, 300}, TPointD{189, 300}, line));
}

TEST(ExternalFrame, StraightenedPagePutsTheFrameOnF) {
    const double skew = -1.5;
    TStraightenedPage result;
    ASSERT_TRUE(StraightenReferencePage(TurnedPage(ReferencePage(), skew), kFrame, result));
    EXPECT_EQ(result.Rotation, 0);
    EXPECT_NEAR(result.SkewAngle, skew, 0.05);
    ASSERT_EQ(result.Page.Width, kW);
    ASSERT_EQ(result.Page.Height, kH);
    // Along every side the straightened frame line lies within 2 pixels of F's edge.
    for (int t = 100; t <= 900; t += 100) {
        const int x = kFrame.Left + (kFrame.Right - kFrame.Left) * t / 1000;
        const int y = kFrame.Top + (kFrame.Bottom - kFrame.Top) * t / 1000;
        EXPECT_TRUE(HasInkNear(result.Page, x, kFrame.Top, 100, 2)) << t;
        EXPECT_TRUE(HasInkNear(result.Page, x, kFrame.Bottom, 100, 2)) << t;
        EXPECT_TRUE(HasInkNear(result.Page, kFrame.Left, y, 100, 2)) << t;
        EXPECT_TRUE(HasInkNear(result.Page, kFrame.Right, y, 100, 2)) << t;
        EXPECT_FALSE(HasInkNear(result.Page, x, kFrame.Top + 12, 100, 2)) << t;
    }
}

TEST(ExternalFrame, ArmProbes) {
    TRaster r(50, 50, 255);
    test::FillRect(r, 10, 10, 40, 11, 0);  // a horizontal line of 30 pixels
    // From (10, 10) to the right: x = 10, 15, …, 45 (x = 50 is off the raster); six hit.
    EXPECT_DOUBLE_EQ(InkHitRatioAlongLine(r, 10, 10, 1, 0, 40, 5, 0), 6.0 / 8.0);
    // Leftwards the walk stops at the raster edge after x = 10, 5, 0.
    EXPECT_DOUBLE_EQ(InkHitRatioAlongLine(r, 10, 10, -1, 0, 40, 5, 0), 1.0 / 3.0);
    EXPECT_EQ(InkHitRatioAlongLine(r, -1, 10, 1, 0, 40, 5, 0), 0.0);
    int dx = 0, dy = 0;
    RotateDirection(1, 1, 0, dx, dy);
    EXPECT_EQ(std::make_pair(dx, dy), std::make_pair(0, 1));
    RotateDirection(3, 1, 0, dx, dy);
    EXPECT_EQ(std::make_pair(dx, dy), std::make_pair(0, -1));
    RotateDirection(2, 0, 1, dx, dy);
    EXPECT_EQ(std::make_pair(dx, dy), std::make_pair(0, -1));
    const TPointD p = MapReferencePoint(1000, 2000, 100, 200, 10, 40, 1);
    EXPECT_EQ(p, (TPointD{800, 200}));
}

}  // namespace
}  // namespace korvex
