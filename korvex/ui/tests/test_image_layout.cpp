#include <gtest/gtest.h>

#include <cmath>

#include "ui/ImageLayout.h"

using namespace korvex;

TEST(ImageLayout, ZoomSteps) {
    double in = 1.0;
    for (int i = 0; i < 9; ++i) in = ZoomIn(in);
    EXPECT_NEAR(in, 7.45, 0.01);
    EXPECT_EQ(ZoomIn(in), 8.0);
    EXPECT_EQ(ZoomIn(8.0), 8.0);
    double out = 1.0;
    for (int i = 0; i < 6; ++i) out = ZoomOut(out);
    EXPECT_NEAR(out, 0.262, 0.001);
    EXPECT_EQ(ZoomOut(out), 0.25);
}

TEST(ImageLayout, FitCentreAndZoom) {
    // A4 page in a 608 × 808 view: 600 × 800 available, height limits.
    const TImagePlacement fit = LayoutImage(2480, 3508, 608, 808, 1.0);
    EXPECT_EQ(fit.Height, 800);
    EXPECT_EQ(fit.Width, static_cast<int>(std::nearbyint(2480 * (800.0 / 3508))));
    EXPECT_EQ(fit.Left, (600 - fit.Width) / 2);
    EXPECT_EQ(fit.Top, 0);
    EXPECT_EQ(fit.ZoomLabel, "缩放：100%（相对适应窗口）");
    const TImagePlacement zoomed = LayoutImage(2480, 3508, 608, 808, 1.25);
    EXPECT_EQ(zoomed.Height, 1000);
    EXPECT_EQ(zoomed.Left, 0);  // wider than the view: scrolled, not centred
    EXPECT_EQ(zoomed.Top, 0);
    EXPECT_EQ(zoomed.ZoomLabel, "缩放：125%（相对适应窗口）");
    const TImagePlacement none = LayoutImage(0, 10, 608, 808, 1.0);
    EXPECT_EQ(none.Width, 1);
    EXPECT_EQ(none.ZoomLabel, "缩放：--");
    const TImagePlacement tiny = LayoutImage(100, 100, 3, 3, 0.25);  // a view smaller than its margin
    EXPECT_EQ(tiny.Width, 1);
    EXPECT_EQ(tiny.Height, 1);
}
