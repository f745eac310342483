#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {
namespace {

namespace fs = std::filesystem;

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
      {"BMP huge height, little data", with(bmp, 22, 20000), "WIC CopyPixels failed: 0xE5C00003"},
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

TEST(DecodeImage, FiftyTwoByteHeaderWithAlphaBitFieldsStaysInsideTheFile) {
  // A 52-byte header holds the red, green and blue masks only; the alpha
  // mask that its compression announces lies past the header.
  std::vector<std::uint8_t> b(66 + 8, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, std::uint32_t(b.size()));
  Put32(b, 10, 66);
  Put32(b, 14, 52);
  Put32(b, 18, 2);
  Put32(b, 22, 1);
  b[26] = 1, b[28] = 32;
  Put32(b, 30, 6);  // BI_ALPHABITFIELDS
  Put32(b, 54, 0x00FF0000), Put32(b, 58, 0x0000FF00), Put32(b, 62, 0x000000FF);
  const std::uint8_t px[8] = {0x33, 0x22, 0x11, 0x80, 0x66, 0x55, 0x44, 0x00};
  std::copy(px, px + 8, b.begin() + 66);
  EXPECT_EQ(DecodeImageBytes(b).pixels, (std::vector<std::uint8_t>{0x33, 0x22, 0x11, 0x66, 0x55, 0x44}));
  b.resize(67);  // the 67-byte file that read past the end of Korvex's own BMP reader
  EXPECT_EQ(DecodeError(b), "WIC CopyPixels failed: 0xE5C00003");
}

std::vector<std::uint8_t> PngClaiming(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> png = test::EncodePng(test::PatternImage(40, 30));
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) png[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
  };
  put(16, width);
  put(20, height);
  put(29, std::uint32_t(crc32(0, png.data() + 12, 17)));  // IHDR type and data
  return png;
}

std::vector<std::uint8_t> JpegClaiming(std::uint16_t width, std::uint16_t height) {
  std::vector<std::uint8_t> jpeg = test::EncodeJpeg(test::PatternImage(16, 16), 90);
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      jpeg[i + 5] = std::uint8_t(height >> 8), jpeg[i + 6] = std::uint8_t(height);
      jpeg[i + 7] = std::uint8_t(width >> 8), jpeg[i + 8] = std::uint8_t(width);
      break;
    }
  return jpeg;
}

std::vector<std::uint8_t> BmpClaiming(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> bmp = test::EncodeBmp24(test::PatternImage(4, 4));
  Put32(bmp, 18, width);
  Put32(bmp, 22, height);
  return bmp;
}

long PeakRssKb();

TEST(DecodeImage, PixelLimitsHoldBeforeAnyPixelMemory) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string message;
  };
  const std::string limit = " pixels is above the limit of 30000 per side and 100000000 in all";
  const Case cases[] = {
      {"PNG 37000 x 37000", PngClaiming(37000, 37000), "image of 37000 x 37000" + limit},
      {"PNG 20000 x 20000", PngClaiming(20000, 20000), "image of 20000 x 20000" + limit},
      {"PNG 30001 x 1", PngClaiming(30001, 1), "image of 30001 x 1" + limit},
      {"JPEG 35000 x 20000", JpegClaiming(35000, 20000), "image of 35000 x 20000" + limit},
      {"JPEG 10001 x 10000", JpegClaiming(10001, 10000), "image of 10001 x 10000" + limit},
      {"BMP 10000 x 10001", BmpClaiming(10000, 10001), "image of 10000 x 10001" + limit},
      // At the limit the decoder goes on, and finds the pixels missing.
      {"BMP 10000 x 10000", BmpClaiming(10000, 10000), "WIC CopyPixels failed: 0xE5C00003"},
      {"PNG 30000 x 2", PngClaiming(30000, 2), "WIC CopyPixels failed: 0xE5C00011"},
  };
  const long before = PeakRssKb();
  for (const Case& c : cases) EXPECT_EQ(DecodeError(c.bytes), c.message) << c.name;
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(PeakRssKb() - before, 50 * 1024) << "KiB of peak resident memory added";
#endif
}

TEST(DecodeImage, PngClaimingAHugeSizeFailsWithoutTouchingThatMemory) {
  // A small PNG whose header claims 10000 x 10000, the most pixels allowed
  // (300 MB): libpng writes only as far as real image data reaches.
  const std::vector<std::uint8_t> png = PngClaiming(10000, 10000);
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
  // A FIFO is refused at once instead of waiting for a writer that never comes.
  ASSERT_EQ(::mkfifo((folder / "fifo.bmp").c_str(), 0600), 0);
  EXPECT_EQ(message((folder / "fifo.bmp").string()), "WIC cannot open image: 0xE5C00004");
  // So is a file above 512 MiB, before it is read.
  const fs::path big = folder / "big.bmp";
  test::WriteFile(big, test::EncodeBmp24(test::PatternImage(3, 2)));
  fs::resize_file(big, (512ull << 20) + 1);  // sparse: no disk space used
  EXPECT_EQ(message(big.string()), "WIC cannot open image: 0xE5C00005");
}

}  // namespace
}  // namespace scrivane
