#include <sys/resource.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {
namespace {

std::string DecodeError(const std::vector<std::uint8_t>& bytes) {
  try {
    DecodeImageBytes(bytes);
  } catch (const EEngineError& e) {
    return e.what();
  }
  return "(decoded)";
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

TEST(FormatHResult, UpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(FormatHResult(0), "0x0");
  EXPECT_EQ(FormatHResult(2), "0x2");
  EXPECT_EQ(FormatHResult(0x88982F50u), "0x88982F50");
  EXPECT_EQ(FormatHResult(0x0000ABCDu), "0xABCD");
  EXPECT_EQ(FormatHResult(0xFFFFFFFFu), "0xFFFFFFFF");
}

TEST(DecodeImage, BmpRowsBothWaysUp) {
  const DecodedImage image = test::PatternImage(5, 3);  // 15-byte rows: padded to 16
  for (bool topDown : {false, true}) {
    const DecodedImage back = DecodeImageBytes(test::EncodeBmp24(image, topDown));
    EXPECT_EQ(back.width, 5);
    EXPECT_EQ(back.height, 3);
    EXPECT_EQ(back.pixels, image.pixels) << "top-down " << topDown;
  }
}

TEST(DecodeImage, BmpPaletteAndThirtyTwoBit) {
  // 3 x 2, 8-bit palette: indices 0 1 2 / 2 1 0 (bottom row first in the file).
  std::vector<std::uint8_t> b(54 + 3 * 4 + 2 * 4, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 10, 54 + 12);
  Put32(b, 14, 40);
  Put32(b, 18, 3);
  Put32(b, 22, 2);
  b[26] = 1, b[28] = 8;
  Put32(b, 46, 3);
  const std::uint8_t palette[12] = {1, 2, 3, 0, 40, 50, 60, 0, 200, 210, 220, 0};
  std::copy(palette, palette + 12, b.begin() + 54);
  const std::uint8_t rows[8] = {2, 1, 0, 0, 0, 1, 2, 0};
  std::copy(rows, rows + 8, b.begin() + 66);
  DecodedImage image = DecodeImageBytes(b);
  EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{1, 2, 3, 40, 50, 60, 200, 210, 220,  //
                                                      200, 210, 220, 40, 50, 60, 1, 2, 3}));

  // 2 x 1, 32-bit BI_RGB: alpha is dropped.
  std::vector<std::uint8_t> c(54 + 8, 0);
  c[0] = 'B', c[1] = 'M';
  Put32(c, 10, 54);
  Put32(c, 14, 40);
  Put32(c, 18, 2);
  Put32(c, 22, 1);
  c[26] = 1, c[28] = 32;
  const std::uint8_t px[8] = {10, 20, 30, 0, 40, 50, 60, 255};
  std::copy(px, px + 8, c.begin() + 54);
  image = DecodeImageBytes(c);
  EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{10, 20, 30, 40, 50, 60}));
}

TEST(DecodeImage, PngAndJpeg) {
  const DecodedImage image = test::PatternImage(17, 9);
  EXPECT_EQ(DecodeImageBytes(test::EncodePng(image)).pixels, image.pixels);
  const DecodedImage grey = test::SolidImage(16, 16, 90, 140, 200);
  const DecodedImage jpeg = DecodeImageBytes(test::EncodeJpeg(grey, 95));
  ASSERT_EQ(jpeg.width, 16);
  ASSERT_EQ(jpeg.height, 16);
  for (std::size_t i = 0; i < jpeg.pixels.size(); ++i) EXPECT_NEAR(jpeg.pixels[i], grey.pixels[i], 3) << i;
}

TEST(DecodeImage, BadInputEndsWithItsMessage) {
  const auto bmp = test::EncodeBmp24(test::PatternImage(4, 4));
  const auto png = test::EncodePng(test::PatternImage(40, 30));
  const auto jpeg = test::EncodeJpeg(test::PatternImage(64, 64), 90);
  auto with = [](std::vector<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    Put32(b, at, v);
    return b;
  };
  auto cut = [](const std::vector<std::uint8_t>& b, std::size_t n) { return std::vector<std::uint8_t>(b.begin(), b.begin() + std::ptrdiff_t(n)); };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string message;
  };
  const std::string text = "Dear voter,\nthis is no picture.\n";
  const Case cases[] = {
      {"empty file", {}, "WIC cannot open image: 0xE5C00001"},
      {"text file", std::vector<std::uint8_t>(text.begin(), text.end()), "WIC cannot open image: 0xE5C00001"},
      {"BMP header cut", cut(bmp, 30), "WIC cannot decode first image frame: 0xE5C00002"},
      {"BMP width 0", with(bmp, 18, 0), "invalid image dimensions"},
      {"BMP negative width", with(bmp, 18, 0xFFFFFFF0u), "invalid image dimensions"},
      {"BMP height 0", with(bmp, 22, 0), "invalid image dimensions"},
      {"BMP height -2^31", with(bmp, 22, 0x80000000u), "image dimensions are too large"},
      {"BMP run-length coded", with(bmp, 30, 1), "WIC cannot convert image to 24bpp BGR"},
      {"BMP buffer above 4 GiB", with(with(bmp, 18, 0x7FFFFFFF), 22, 1), "image buffer is too large for WIC"},
      {"BMP pixels cut", cut(bmp, bmp.size() - 1), "WIC CopyPixels failed: 0xE5C00003"},
      {"BMP huge height, little data", with(bmp, 22, 100000), "WIC CopyPixels failed: 0xE5C00003"},
      {"PNG header cut", cut(png, 20), "WIC cannot decode first image frame: 0xE5C00010"},
      {"PNG truncated", cut(png, png.size() * 2 / 3), "WIC CopyPixels failed: 0xE5C00011"},
      {"JPEG header cut", cut(jpeg, 40), "WIC cannot decode first image frame: 0xE5C10033"},
      {"JPEG truncated", cut(jpeg, jpeg.size() * 2 / 3), "WIC CopyPixels failed: 0xE5C1FFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeError(c.bytes), c.message) << c.name;
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(DecodeImage, PngClaimingAHugeSizeFailsWithoutTouchingThatMemory) {
  // A small PNG whose header claims 20000 x 20000 (1.2 GB of pixels).
  std::vector<std::uint8_t> png = test::EncodePng(test::PatternImage(40, 30));
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) png[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
  };
  put(16, 20000);
  put(20, 20000);
  put(29, std::uint32_t(crc32(0, png.data() + 12, 17)));  // IHDR type and data
  const long before = PeakRssKb();
  EXPECT_EQ(DecodeError(png), "WIC CopyPixels failed: 0xE5C00011");
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(PeakRssKb() - before, 200 * 1024) << "KiB of peak resident memory added";
#endif
}

TEST(DecodeImage, FileThatCannotBeReadGivesErrno) {
  test::ScratchFolder folder;
  auto message = [](const std::string& path) {
    try {
      DecodeImageBgr24(path);
    } catch (const EEngineError& e) {
      return std::string(e.what());
    }
    return std::string("(decoded)");
  };
  EXPECT_EQ(message((folder / "none.bmp").string()), "WIC cannot open image: 0x2");  // ENOENT
  EXPECT_EQ(message(folder.Path().string()), "WIC cannot open image: 0x15");       // EISDIR
  test::WriteFile(folder / "ok.bmp", test::EncodeBmp24(test::PatternImage(3, 2)));
  EXPECT_EQ(DecodeImageBgr24((folder / "ok.bmp").string()).pixels, test::PatternImage(3, 2).pixels);
}

}  // namespace
}  // namespace scrivane
