#include <cmath>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {
namespace {

constexpr std::size_t kPlane = 48 * 320;

float At(const std::vector<float>& t, int c, int y, int x) { return t[std::size_t(c) * kPlane + std::size_t(y) * 320 + std::size_t(x)]; }
float Mapped(double v) { return (float(v) / 255.0f - 0.5f) * 2.0f; }

TEST(BuildInputTensor, ResizedWidth) {
  struct Case {
    int w, h, rw;
  };
  const Case cases[] = {{100, 48, 100}, {1000, 48, 320}, {10, 1000, 1}, {1, 1, 48},   {20000, 20, 320},
                        {69, 64, 52},   {321, 48, 320},  {1, 2, 24},    {7, 100, 4}, {2147483647, 1, 320}};
  for (const Case& c : cases) EXPECT_EQ(ResizedWidth(c.w, c.h), c.rw) << c.w << " x " << c.h;
}

TEST(BuildInputTensor, ZeroBeyondResizedWidthInEveryPlane) {
  const auto t = BuildInputTensor(test::SolidImage(100, 48, 0, 0, 0));
  ASSERT_EQ(t.size(), 46080u);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 48; ++y) {
      EXPECT_EQ(At(t, c, y, 99), -1.0f);
      for (int x = 100; x < 320; ++x) ASSERT_EQ(At(t, c, y, x), 0.0f) << c << "," << y << "," << x;
    }
}

TEST(BuildInputTensor, OnePixelFillsFortyEightSquareWithItsMappedValue) {
  const auto t = BuildInputTensor(test::SolidImage(1, 1, 10, 128, 255));
  const float expected[3] = {Mapped(10), Mapped(128), Mapped(255)};
  EXPECT_EQ(expected[2], 1.0f);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 48; ++x) ASSERT_EQ(At(t, c, y, x), expected[c]);
      ASSERT_EQ(At(t, c, y, 48), 0.0f);
    }
}

TEST(BuildInputTensor, ChannelsStayInBlueGreenRedOrder) {
  const auto t = BuildInputTensor(test::SolidImage(48, 48, 0, 255, 51));
  EXPECT_EQ(At(t, 0, 10, 10), -1.0f);
  EXPECT_EQ(At(t, 1, 10, 10), 1.0f);
  EXPECT_EQ(At(t, 2, 10, 10), Mapped(51));
}

TEST(BuildInputTensor, SameSizeImageIsCopiedSampleForSample) {
  const DecodedImage image = test::PatternImage(40, 48);
  const auto t = BuildInputTensor(image);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(At(t, c, y, x), Mapped(image.pixels[(std::size_t(y) * 40 + x) * 3 + c])) << y << "," << x;
}

TEST(BuildInputTensor, BilinearWeightsWithHalfPixelCentres) {
  // 2 x 1 image (black, white) stretched to 96 x 48: column x samples
  // fx = (x + 0.5) * 2 / 96 - 0.5, clamped to 0 ... 1.
  DecodedImage image{2, 1, {0, 0, 0, 255, 255, 255}};
  const auto t = BuildInputTensor(image);
  for (int x = 0; x < 96; ++x) {
    const double fx = std::clamp((x + 0.5) * (2.0 / 96) - 0.5, 0.0, 1.0);
    const double v = 255 * fx;  // x0 = 0, dx = fx
    ASSERT_EQ(At(t, 1, 20, x), Mapped(v)) << x;
  }
  EXPECT_EQ(At(t, 0, 0, 0), -1.0f);
  EXPECT_EQ(At(t, 0, 0, 95), 1.0f);
  EXPECT_EQ(At(t, 0, 0, 96), 0.0f);
}

TEST(BuildInputTensor, WideImageIsSqueezed) {
  // 1000 x 48: sx = 1000 / 320, column x samples around 3.125 x + 1.06.
  DecodedImage image = test::SolidImage(1000, 48, 255, 255, 255);
  for (int y = 0; y < 48; ++y)
    for (int x = 500; x < 1000; ++x)
      for (int c = 0; c < 3; ++c) image.pixels[(std::size_t(y) * 1000 + x) * 3 + c] = 0;
  const auto t = BuildInputTensor(image);
  EXPECT_EQ(At(t, 0, 5, 0), 1.0f);
  EXPECT_EQ(At(t, 0, 5, 158), 1.0f);  // fx = 494.3: both taps white
  EXPECT_EQ(At(t, 0, 5, 161), -1.0f);
  EXPECT_EQ(At(t, 0, 5, 319), -1.0f);
}

}  // namespace
}  // namespace scrivane
