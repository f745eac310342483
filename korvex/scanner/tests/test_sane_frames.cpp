#include <gtest/gtest.h>

#include <cstring>

#include "model/Errors.h"
#include "scanner/SaneFrames.h"

using namespace korvex;

namespace {

TSaneFrame Frame(TFrameKind kind, int depth, int ppl, int bpl, int lines, std::vector<std::uint8_t> data) {
    return TSaneFrame{kind, depth, ppl, bpl, lines, std::move(data)};
}

std::vector<std::uint8_t> Pixel(const TRaster& r, int x, int y) {
    const std::uint8_t* p = r.Row(y) + 3 * x;
    return {p[0], p[1], p[2]};  // blue, green, red
}

}  // namespace

TEST(SaneFrames, GreyColourAndLineArt) {
    // 8-bit grey, with a padded line (bytes per line 4 for 3 pixels).
    const TRaster grey = FramesToRaster({Frame(TFrameKind::Gray, 8, 3, 4, 2, {10, 20, 30, 0, 40, 50, 60, 0})});
    EXPECT_EQ(grey.Width, 3);
    EXPECT_EQ(grey.Height, 2);
    EXPECT_EQ(Pixel(grey, 2, 1), (std::vector<std::uint8_t>{60, 60, 60}));
    // Interleaved RGB becomes BGR.
    const TRaster rgb = FramesToRaster({Frame(TFrameKind::Rgb, 8, 1, 3, 1, {200, 100, 50})});
    EXPECT_EQ(Pixel(rgb, 0, 0), (std::vector<std::uint8_t>{50, 100, 200}));
    // 16-bit samples in host order keep their high byte.
    const std::uint16_t wide[3] = {0x1234, 0xABCD, 0xFF00};
    std::vector<std::uint8_t> bytes(6);
    std::memcpy(bytes.data(), wide, 6);
    EXPECT_EQ(Pixel(FramesToRaster({Frame(TFrameKind::Rgb, 16, 1, 6, 1, bytes)}), 0, 0),
              (std::vector<std::uint8_t>{0xFF, 0xAB, 0x12}));
    // Line art: a set bit is black, lines padded to whole bytes.
    const TRaster art = FramesToRaster({Frame(TFrameKind::Gray, 1, 10, 2, 1, {0b10100000, 0b01000000})});
    EXPECT_EQ(Pixel(art, 0, 0)[0], 0);
    EXPECT_EQ(Pixel(art, 1, 0)[0], 255);
    EXPECT_EQ(Pixel(art, 2, 0)[0], 0);
    EXPECT_EQ(Pixel(art, 9, 0)[0], 0);
    EXPECT_EQ(Pixel(art, 8, 0)[0], 255);
}

TEST(SaneFrames, ThreePassColour) {
    const TRaster r = FramesToRaster({Frame(TFrameKind::Red, 8, 2, 2, 1, {1, 2}),
                                      Frame(TFrameKind::Green, 8, 2, 2, 1, {3, 4}),
                                      Frame(TFrameKind::Blue, 8, 2, 2, 1, {5, 6})});
    EXPECT_EQ(Pixel(r, 1, 0), (std::vector<std::uint8_t>{6, 4, 2}));
    EXPECT_THROW(FramesToRaster({Frame(TFrameKind::Red, 8, 2, 2, 1, {1, 2})}), EKorvexError);  // blue and green missing
}

TEST(SaneFrames, RefusesBadFrames) {
    const std::vector<TSaneFrame> bad[] = {
        {},
        {Frame(TFrameKind::Gray, 8, 4, 4, 2, {1, 2, 3, 4})},           // data shorter than lines claim
        {Frame(TFrameKind::Gray, 8, 4, 2, 1, {1, 2})},                 // line shorter than its pixels
        {Frame(TFrameKind::Gray, 12, 1, 2, 1, {1, 2})},                // unsupported depth
        {Frame(TFrameKind::Gray, 8, kMaxScanSide + 1, kMaxScanSide + 1, 1, std::vector<std::uint8_t>(kMaxScanSide + 1))},
        {Frame(TFrameKind::Red, 8, 2, 2, 1, {1, 2}), Frame(TFrameKind::Green, 8, 3, 3, 1, {1, 2, 3}),
         Frame(TFrameKind::Blue, 8, 2, 2, 1, {1, 2})},                 // channels of different sizes
    };
    for (const auto& frames : bad) EXPECT_THROW(FramesToRaster(frames), EKorvexError);
}
