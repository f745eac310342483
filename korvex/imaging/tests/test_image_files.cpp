#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "TestImages.h"
#include "imaging/ImageFiles.h"

namespace korvex {
namespace {

using test::EncodeBmp;
using test::EncodeJpeg;
using test::EncodePng;
using test::MakeTestPicture;
using test::TBmpOptions;
using namespace test;  // the PNG kinds

TRaster Decode(const std::string& bytes, const TImageLimits& limits = {}) {
    return DecodeWorkingBitmap(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), limits);
}

// Reduces each channel to the given number of bits the way a 16-bit BMP stores it,
// then expands it back, so that the 16-bit files round-trip exactly.
TRaster Quantised(const TRaster& r, int redBits, int greenBits, int blueBits) {
    TRaster out = r;
    const int bits[3] = {blueBits, greenBits, redBits};
    for (std::size_t i = 0; i < out.Pixels.size(); ++i) {
        const int b = bits[i % 3];
        const unsigned maxV = (1u << b) - 1u;
        const unsigned q = out.Pixels[i] >> (8 - b);
        out.Pixels[i] = static_cast<std::uint8_t>((q * 255u + maxV / 2u) / maxV);
    }
    return out;
}

TRaster GreyOf(const TRaster& r) {
    TRaster out = r;
    for (std::size_t i = 0; i < out.Pixels.size(); i += 3) out.Pixels[i] = out.Pixels[i + 2] = out.Pixels[i + 1];
    return out;
}

void ExpectSameRaster(const TRaster& expected, const TRaster& actual) {
    ASSERT_EQ(expected.Width, actual.Width);
    ASSERT_EQ(expected.Height, actual.Height);
    for (int y = 0; y < expected.Height; ++y)
        for (int x = 0; x < expected.Width * 3; ++x)
            ASSERT_EQ(expected.Row(y)[x], actual.Row(y)[x]) << "byte " << x << " of row " << y;
}

struct TBmpCase {
    const char* Name;
    int Colours;
    TBmpOptions Options;
    int RedBits, GreenBits, BlueBits;  // 8 = stored exactly
};

// Odd width 37 exercises the row padding of every depth.
TEST(BmpReader, EveryDepthLoadsTheSamePicture) {
    const TBmpCase cases[] = {
        {"1-bit palette", 2, {1, false, false, 40, {}}, 8, 8, 8},
        {"4-bit palette", 16, {4, false, false, 40, {}}, 8, 8, 8},
        {"8-bit palette", 200, {8, false, false, 40, {}}, 8, 8, 8},
        {"8-bit core header", 200, {8, false, false, 12, {}}, 8, 8, 8},
        {"8-bit top-down", 200, {8, true, false, 40, {}}, 8, 8, 8},
        {"16-bit 5-5-5", 0, {16, false, false, 40, {}}, 5, 5, 5},
        {"16-bit 5-6-5 bit fields", 0, {16, true, true, 40, {}}, 5, 6, 5},
        {"24-bit bottom-up", 0, {24, false, false, 40, {}}, 8, 8, 8},
        {"24-bit top-down", 0, {24, true, false, 40, {}}, 8, 8, 8},
        {"24-bit V5 header", 0, {24, false, false, 124, {}}, 8, 8, 8},
        {"24-bit core header", 0, {24, false, false, 12, {}}, 8, 8, 8},
        {"32-bit BI_RGB", 0, {32, false, false, 40, {}}, 8, 8, 8},
        {"32-bit swapped bit fields", 0, {32, true, true, 40, {}}, 8, 8, 8},
        {"32-bit V4 bit fields", 0, {32, false, true, 108, {}}, 8, 8, 8},
    };
    for (const TBmpCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRaster picture = Quantised(MakeTestPicture(37, 23, c.Colours), c.RedBits, c.GreenBits, c.BlueBits);
        ExpectSameRaster(picture, Decode(EncodeBmp(picture, c.Options)));
    }
}

TEST(BmpReader, AlphaChannelIsCompositedOverWhite) {
    TRaster picture = MakeTestPicture(8, 4);
    std::vector<std::uint8_t> alpha(32, 255);
    alpha[0] = 0;      // fully transparent
    alpha[1] = 128;    // half
    TBmpOptions options{32, false, false, 124, alpha};
    TRaster decoded = Decode(EncodeBmp(picture, options));
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(decoded.Row(0)[c], 255);
        const int v = picture.Row(0)[3 + c];
        EXPECT_NEAR(decoded.Row(0)[3 + c], (v * 128 + 255 * 127) / 255.0, 1.0);
        EXPECT_EQ(decoded.Row(1)[c], picture.Row(1)[c]);
    }
}

TEST(BmpReader, AllZeroAlphaMeansOpaque) {
    // Many writers declare an alpha mask and leave it zero.
    TRaster picture = MakeTestPicture(9, 5);
    TBmpOptions options{32, false, false, 124, std::vector<std::uint8_t>(45, 0)};
    ExpectSameRaster(picture, Decode(EncodeBmp(picture, options)));
}

// A 52-byte info header (red, green and blue masks, no alpha mask) that
// declares alpha bit fields; pixels follow the header at offset 66.
std::string V2HeaderAlphaBitfields(std::size_t pixelBytes) {
    std::string b = "BM";
    auto put = [&b](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(static_cast<std::uint32_t>(66 + pixelBytes), 4);
    put(0, 4);
    put(66, 4);
    for (std::uint32_t v : {52u, 2u, 1u}) put(v, 4);     // header size, width, height
    put(1, 2);                                          // planes
    put(32, 2);                                         // bits per pixel
    for (std::uint32_t v : {6u, 8u, 0u, 0u, 0u, 0u}) put(v, 4);  // BI_ALPHABITFIELDS, ...
    for (std::uint32_t v : {0x00FF0000u, 0x0000FF00u, 0x000000FFu}) put(v, 4);
    const std::uint8_t pixels[8] = {0x33, 0x22, 0x11, 0x80, 0x66, 0x55, 0x44, 0x00};
    b.append(reinterpret_cast<const char*>(pixels), pixelBytes);
    return b;
}

TEST(BmpReader, FiftyTwoByteHeaderHasNoAlphaMask) {
    // The alpha mask lay past the header: it was read from the first pixel,
    // or past the end of a short file.
    const TRaster decoded = Decode(V2HeaderAlphaBitfields(8));
    ASSERT_EQ(decoded.Width, 2);
    ASSERT_EQ(decoded.Height, 1);
    const std::vector<std::uint8_t> opaque = {0x33, 0x22, 0x11, 0x66, 0x55, 0x44};
    EXPECT_EQ(decoded.Pixels, opaque);

    const std::string fuzzInput = V2HeaderAlphaBitfields(1);  // the 67-byte file the fuzzer found
    ASSERT_EQ(fuzzInput.size(), 67u);
    try {
        Decode(fuzzInput);
        ADD_FAILURE() << "a 67-byte file decoded";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikTruncated) << e.what();
    }
}

struct TPngCase {
    const char* Name;
    TPngKind Kind;
    bool Interlaced;
    bool Grey;
    int Colours;
};

TEST(PngDecoder, EveryColourTypeLoadsTheSamePicture) {
    const TPngCase cases[] = {
        {"RGB 8", pkRgb8, false, false, 0},         {"RGB 8 interlaced", pkRgb8, true, false, 0},
        {"RGB 16", pkRgb16, false, false, 0},       {"RGB 16 interlaced", pkRgb16, true, false, 0},
        {"palette", pkPalette, false, false, 200},  {"palette interlaced", pkPalette, true, false, 200},
        {"grey 8", pkGrey8, false, true, 0},        {"grey 16", pkGrey16, false, true, 0},
        {"RGBA opaque", pkRgba8, false, false, 0},  {"grey+alpha opaque", pkGreyAlpha8, false, true, 0},
    };
    for (const TPngCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRaster picture = MakeTestPicture(37, 23, c.Colours);
        if (c.Grey) picture = GreyOf(picture);
        ExpectSameRaster(picture, Decode(EncodePng(picture, c.Kind, c.Interlaced)));
    }
}

TEST(PngDecoder, TransparencyEndsUpWhite) {
    const TPngCase cases[] = {
        {"RGBA", pkRgba8, false, false, 0},
        {"RGBA interlaced", pkRgba8, true, false, 0},
        {"grey+alpha", pkGreyAlpha8, false, true, 0},
        {"palette with tRNS", pkPaletteTrns, false, false, 16},
    };
    for (const TPngCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRaster picture = MakeTestPicture(20, 10, c.Colours);
        if (c.Grey) picture = GreyOf(picture);
        std::vector<std::uint8_t> alpha(200);
        for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = i % 3 == 0 ? 0 : (i % 3 == 1 ? 255 : 100);
        TRaster decoded = Decode(EncodePng(picture, c.Kind, c.Interlaced, alpha));
        for (std::size_t i = 0; i < alpha.size(); ++i)
            for (int ch = 0; ch < 3; ++ch) {
                const int v = picture.Pixels[3 * i + ch];
                const double expected = (v * alpha[i] + 255.0 * (255 - alpha[i])) / 255.0;
                ASSERT_NEAR(decoded.Pixels[3 * i + ch], expected, 0.51) << "pixel " << i;
            }
    }
}

struct TJpegCase {
    const char* Name;
    bool Grey, Progressive, Cmyk;
};

TEST(JpegDecoder, QualityNinetyFiveAgreesWithTheLosslessPicture) {
    const TJpegCase cases[] = {{"colour", false, false, false},
                               {"progressive", false, true, false},
                               {"grey", true, false, false},
                               {"CMYK", false, false, true}};
    for (const TJpegCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRaster picture = MakeTestPicture(120, 80);
        if (c.Grey) picture = GreyOf(picture);
        TRaster decoded = Decode(EncodeJpeg(picture, 95, c.Grey, c.Progressive, c.Cmyk));
        ASSERT_EQ(decoded.Width, 120);
        ASSERT_EQ(decoded.Height, 80);
        double sum = 0;
        int worst = 0;
        for (std::size_t i = 0; i < picture.Pixels.size(); ++i) {
            const int d = std::abs(int(decoded.Pixels[i]) - int(picture.Pixels[i]));
            sum += d;
            worst = std::max(worst, d);
        }
        EXPECT_LT(sum / static_cast<double>(picture.Pixels.size()), 2.0);
        EXPECT_LT(worst, 48);
    }
}

TEST(ImageFiles, FormatIsTakenFromTheContentNotTheName) {
    test::TTempDir dir;
    TRaster picture = MakeTestPicture(11, 7);
    test::WriteFile(dir.File("really-png.bmp"), EncodePng(picture, pkRgb8));
    test::WriteFile(dir.File("really-bmp.jpg"), EncodeBmp(picture, TBmpOptions{}));
    test::WriteFile(dir.File("no-extension"), EncodeJpeg(picture, 95));
    ExpectSameRaster(picture, LoadWorkingBitmap(dir.File("really-png.bmp")));
    ExpectSameRaster(picture, LoadWorkingBitmap(dir.File("really-bmp.jpg")));
    EXPECT_EQ(LoadWorkingBitmap(dir.File("no-extension")).Width, 11);
}

std::string Patched(std::string bytes, std::size_t at, std::initializer_list<int> values) {
    for (int v : values) bytes[at++] = static_cast<char>(v);
    return bytes;
}

struct TBadCase {
    const char* Name;
    std::string Bytes;
    TImageErrorKind Kind;
    const char* MessagePart;
};

TEST(ImageFiles, BadFilesFailWithAMessage) {
    TRaster picture = MakeTestPicture(40, 30);
    const std::string bmp = EncodeBmp(picture, TBmpOptions{});
    const std::string png = EncodePng(picture, pkRgb8);
    const std::string jpeg = EncodeJpeg(picture, 90);
    std::string pngBadData = png;
    pngBadData[pngBadData.size() / 2] ^= 0x55;  // inside IDAT: the chunk CRC no longer matches
    std::string rle = bmp;
    rle[30] = 1;  // BI_RLE8
    std::string jpegHuge = jpeg;
    // SOF0 holds the height and width after its length and precision.
    const std::size_t sof = jpegHuge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpegHuge = Patched(jpegHuge, sof + 5, {0x9C, 0x40, 0x9C, 0x40});
    const std::size_t half = jpeg.size() / 2;
    std::string jpegGarbage = jpeg.substr(0, half) + std::string(200, '\x37') + jpeg.substr(half + 200);

    const TBadCase cases[] = {
        {"empty", "", ikEmptyFile, "文件为空"},
        {"text", "hello, this is not a picture", ikUnknownFormat, "不是可识别的图像格式"},
        {"BMP truncated pixels", bmp.substr(0, bmp.size() - 100), ikTruncated, "被截断"},
        {"BMP only a file header", bmp.substr(0, 20), ikTruncated, "被截断"},
        {"BMP 100000 x 100000", Patched(bmp, 18, {0xA0, 0x86, 0x01, 0x00, 0xA0, 0x86, 0x01, 0x00}), ikTooLarge,
         "100000 × 100000"},
        {"BMP zero width", Patched(bmp, 18, {0, 0, 0, 0}), ikInvalidDimensions, "图像尺寸无效"},
        {"BMP RLE", rle, ikUnsupported, "RLE"},
        {"BMP 7 bits per pixel", Patched(bmp, 28, {7}), ikCorrupt, "BMP 文件头损坏"},
        {"BMP unknown header", Patched(bmp, 14, {41}), ikCorrupt, "BMP 文件头损坏"},
        {"PNG truncated", png.substr(0, png.size() / 2), ikTruncated, "被截断"},
        {"PNG 100000 x 100000", Patched(png, 16, {0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0}), ikTooLarge,
         "100000 × 100000"},
        {"PNG zero height", Patched(png, 20, {0, 0, 0, 0}), ikInvalidDimensions, "图像尺寸无效"},
        {"PNG corrupt data", pngBadData, ikCorrupt, "PNG 数据损坏"},
        {"JPEG truncated", jpeg.substr(0, jpeg.size() / 2), ikTruncated, "被截断"},
        {"JPEG start marker only", jpeg.substr(0, 3), ikTruncated, "被截断"},
        {"JPEG precision 99", Patched(jpeg, sof + 4, {99}), ikCorrupt, "JPEG 数据损坏"},
        {"JPEG 40000 x 40000", jpegHuge, ikTooLarge, "40000 × 40000"},
    };
    test::TTempDir dir;
    for (const TBadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = dir.File("bad.img");
        test::WriteFile(file, c.Bytes);
        try {
            LoadWorkingBitmap(file);
            ADD_FAILURE() << "no error";
        } catch (const EImageError& e) {
            EXPECT_EQ(e.Kind(), c.Kind) << e.what();
            const std::string message = e.what();
            EXPECT_NE(message.find(c.MessagePart), std::string::npos) << message;
            EXPECT_NE(message.find(file), std::string::npos) << message;
        }
    }
    // Garbage inside the entropy-coded data must not crash; libjpeg may still
    // produce a picture from it, which is acceptable.
    try {
        TRaster r = Decode(jpegGarbage);
        EXPECT_EQ(r.Width, 40);
    } catch (const EImageError&) {
    }
}

TEST(ImageFiles, LimitsAreCheckedBeforeDecoding) {
    TRaster picture = MakeTestPicture(300, 200);
    TImageLimits limits;
    limits.MaxPixels = 50'000;
    for (const std::string& bytes : {EncodeBmp(picture, TBmpOptions{}), EncodePng(picture, pkRgb8),
                                     EncodeJpeg(picture, 80)}) {
        try {
            Decode(bytes, limits);
            ADD_FAILURE() << "no error";
        } catch (const EImageError& e) {
            EXPECT_EQ(e.Kind(), ikTooLarge);
        }
        limits.MaxPixels = 60'000;
        EXPECT_EQ(Decode(bytes, limits).Width, 300);
        limits.MaxPixels = 50'000;
    }
}

TEST(ImageFiles, DecoderWorkMemoryIsCapped) {
    // A progressive JPEG keeps every coefficient of the picture (about 300 kB here).
    const std::string progressive = EncodeJpeg(MakeTestPicture(300, 200), 90, false, true);
    TImageLimits limits;
    limits.MaxWorkBytes = 100'000;
    try {
        Decode(progressive, limits);
        ADD_FAILURE() << "no error";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikTooLarge) << e.what();
    }
    // An interlaced PNG with alpha needs a whole-picture buffer (240 kB).
    const std::string interlaced = EncodePng(MakeTestPicture(300, 200), pkRgba8, true);
    try {
        Decode(interlaced, limits);
        ADD_FAILURE() << "no error";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikTooLarge) << e.what();
    }
    limits.MaxWorkBytes = 2'000'000;
    EXPECT_EQ(Decode(progressive, limits).Width, 300);
    EXPECT_EQ(Decode(interlaced, limits).Width, 300);
}

TEST(ImageFiles, MissingFileRaisesAFileError) {
    EXPECT_THROW(LoadWorkingBitmap("/nonexistent/folder/scan.bmp"), EFileError);
}

TEST(BitmapWriter, SavesAReadableTwentyFourBitBitmap) {
    test::TTempDir dir;
    for (int width : {1, 2, 3, 4, 37}) {
        SCOPED_TRACE(width);
        TRaster picture = MakeTestPicture(width, 5);
        const std::string file = dir.File("out.bmp");
        SaveBitmap24(picture, file);
        const std::string bytes = test::ReadFile(file);
        const std::size_t padded = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 54 + padded * 5);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24);  // bits per pixel
        EXPECT_EQ(bytes[30], 0);                                // BI_RGB
        ExpectSameRaster(picture, LoadWorkingBitmap(file));
    }
}

TEST(BitmapWriter, FailuresRaise) {
    EXPECT_THROW(SaveBitmap24(MakeTestPicture(4, 4), "/nonexistent/folder/out.bmp"), EFileError);
    EXPECT_THROW(SaveBitmap24(TRaster(), "/tmp/never-written.bmp"), EKorvexError);
}

}  // namespace
}  // namespace korvex
