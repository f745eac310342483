#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <tiffio.h>

#include "TestImages.h"
#include "TestTiff.h"
#include "imaging/ImageFiles.h"
#include "model/uBallotTypes.h"

namespace korvex {
namespace {

using namespace test;

TRaster Decode(const std::string& bytes, const TImageLimits& limits = {}) {
    return DecodeWorkingBitmap(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), limits);
}

// Largest and mean difference of two rasters of one size, over all bytes.
struct TDifference {
    int Worst = 0;
    double Mean = 0;
};
TDifference Compare(const TRaster& expected, const TRaster& actual) {
    TDifference d;
    double sum = 0;
    for (std::size_t i = 0; i < expected.Pixels.size(); ++i) {
        const int diff = std::abs(int(expected.Pixels[i]) - int(actual.Pixels[i]));
        d.Worst = std::max(d.Worst, diff);
        sum += diff;
    }
    d.Mean = sum / static_cast<double>(expected.Pixels.size());
    return d;
}

// The picture over white with the given unassociated alpha.
TRaster OverWhite(const TRaster& r, const std::vector<std::uint8_t>& alpha) {
    TRaster out = r;
    for (std::size_t i = 0; i < out.Pixels.size(); ++i) {
        const unsigned a = alpha[i / 3];
        out.Pixels[i] = static_cast<std::uint8_t>((out.Pixels[i] * a + 255u * (255u - a) + 127u) / 255u);
    }
    return out;
}

std::vector<std::uint8_t> AlphaRamp(int width, int height) {
    std::vector<std::uint8_t> alpha;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) alpha.push_back(x < width / 3 ? 0 : x < 2 * width / 3 ? 128 : 255);
    return alpha;
}

struct TKindCase {
    const char* Name;
    TTiffPixels Pixels;
    int Compression;
    bool MinIsWhite;
    int TileSize, RowsPerStrip, Predictor;
    int Worst;  // largest difference allowed (lossy JPEG)
};

// 67 × 45 with several strips or tiles that do not divide the picture evenly.
TEST(TiffDecoder, EveryPixelKindLayoutAndCompressionLoadsThePicture) {
    const TKindCase cases[] = {
        {"bilevel G4, min-is-white", tpBilevel, COMPRESSION_CCITTFAX4, true, 0, 0, 1, 0},
        {"bilevel G4, min-is-black", tpBilevel, COMPRESSION_CCITTFAX4, false, 0, 0, 1, 0},
        {"bilevel G3 in strips", tpBilevel, COMPRESSION_CCITTFAX3, true, 0, 8, 1, 0},
        {"bilevel uncompressed in strips", tpBilevel, COMPRESSION_NONE, false, 0, 7, 1, 0},
        {"bilevel PackBits tiles", tpBilevel, COMPRESSION_PACKBITS, true, 16, 0, 1, 0},
        {"bilevel G4 tiles", tpBilevel, COMPRESSION_CCITTFAX4, true, 32, 0, 1, 0},
        {"grey LZW with predictor", tpGrey8, COMPRESSION_LZW, false, 0, 7, 2, 0},
        {"grey min-is-white Deflate tiles", tpGrey8, COMPRESSION_ADOBE_DEFLATE, true, 32, 0, 1, 0},
        {"grey 16-bit", tpGrey16, COMPRESSION_NONE, false, 0, 10, 1, 0},
        {"grey 16-bit tiles", tpGrey16, COMPRESSION_NONE, false, 16, 0, 1, 0},
        {"grey uncompressed small tiles", tpGrey8, COMPRESSION_NONE, false, 16, 0, 1, 0},
        {"grey 16-bit Deflate with predictor", tpGrey16, COMPRESSION_ADOBE_DEFLATE, false, 16, 0, 2, 0},
        {"grey JPEG", tpGrey8, COMPRESSION_JPEG, false, 0, 16, 1, 40},
        {"RGB uncompressed", tpRgb8, COMPRESSION_NONE, false, 0, 0, 1, 0},
        {"RGB uncompressed tiles", tpRgb8, COMPRESSION_NONE, false, 32, 0, 1, 0},
        {"RGB LZW tiles with predictor", tpRgb8, COMPRESSION_LZW, false, 16, 0, 2, 0},
        {"RGB Deflate", tpRgb8, COMPRESSION_ADOBE_DEFLATE, false, 0, 9, 1, 0},
        {"RGB PackBits", tpRgb8, COMPRESSION_PACKBITS, false, 0, 5, 1, 0},
        {"RGB JPEG (YCbCr)", tpRgb8, COMPRESSION_JPEG, false, 0, 16, 1, 60},
        {"palette LZW", tpPalette8, COMPRESSION_LZW, false, 0, 11, 1, 0},
        {"palette PackBits tiles", tpPalette8, COMPRESSION_PACKBITS, false, 16, 0, 1, 0},
        {"RGBA Deflate", tpRgba8, COMPRESSION_ADOBE_DEFLATE, false, 0, 8, 1, 1},
        {"CMYK", tpCmyk8, COMPRESSION_NONE, false, 0, 0, 1, 0},
    };
    for (const TKindCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTiffPage page;
        page.Picture = MakeTestPicture(67, 45, c.Pixels == tpPalette8 ? 12 : 0);
        page.Pixels = c.Pixels;
        page.Compression = c.Compression;
        page.MinIsWhite = c.MinIsWhite;
        page.TileSize = c.TileSize;
        page.RowsPerStrip = c.RowsPerStrip;
        page.Predictor = c.Predictor;
        TRaster expected = page.Picture;
        if (c.Pixels == tpBilevel) expected = BilevelOf(page.Picture);
        if (c.Pixels == tpGrey8 || c.Pixels == tpGrey16) expected = GreyPicture(page.Picture);
        if (c.Pixels == tpRgba8) {
            page.Alpha = AlphaRamp(67, 45);
            expected = OverWhite(page.Picture, page.Alpha);
        }
        TRaster decoded;
        try {
            decoded = Decode(EncodeTiff({page}));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        ASSERT_EQ(decoded.Width, 67);
        ASSERT_EQ(decoded.Height, 45);
        const TDifference d = Compare(expected, decoded);
        EXPECT_LE(d.Worst, c.Worst);
        EXPECT_LT(d.Mean, c.Worst == 0 ? 0.001 : 3.0);
    }
}

TEST(TiffDecoder, PagesOfAMultiPageFile) {
    TTiffPage first = TiffPage(MakeTestPicture(40, 30), tpBilevel, COMPRESSION_CCITTFAX4, true);
    TTiffPage thumbnail = TiffPage(MakeTestPicture(10, 8), tpRgb8);
    thumbnail.Reduced = true;
    TTiffPage second = TiffPage(MakeTestPicture(33, 21), tpRgb8, COMPRESSION_LZW);
    TTiffPage third = TiffPage(MakeTestPicture(20, 50), tpGrey8, COMPRESSION_PACKBITS);
    const std::string bytes = EncodeTiff({first, thumbnail, second, third});
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(CountImagePages(data, bytes.size()), 3) << "the thumbnail is no page";

    TTempDir dir;
    const std::string file = dir.File("batch.tif");
    WriteFile(file, bytes);
    EXPECT_EQ(CountImageFilePages(file), 3);
    const TRaster expected[] = {BilevelOf(first.Picture), second.Picture, GreyPicture(third.Picture)};
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        const TRaster fromFile = LoadWorkingBitmapPage(file, page);
        ASSERT_EQ(fromFile.Width, expected[page].Width);
        ASSERT_EQ(fromFile.Height, expected[page].Height);
        EXPECT_EQ(Compare(expected[page], fromFile).Worst, 0);
        EXPECT_EQ(DecodeWorkingBitmapPage(data, bytes.size(), page).Pixels, fromFile.Pixels);
    }
    EXPECT_EQ(LoadWorkingBitmap(file).Pixels, LoadWorkingBitmapPage(file, 0).Pixels);
    try {
        LoadWorkingBitmapPage(file, 3);
        ADD_FAILURE() << "no error";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikNoSuchPage);
        EXPECT_NE(std::string(e.what()).find("没有第 4 页（共 3 页）"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }
    // Either byte order, classic or BigTIFF.
    for (const char* mode : {"wb", "w8", "wb8"}) {
        SCOPED_TRACE(mode);
        const std::string other = EncodeTiff({first, thumbnail, second, third}, mode);
        const auto* d = reinterpret_cast<const std::uint8_t*>(other.data());
        ASSERT_EQ(CountImagePages(d, other.size()), 3);
        EXPECT_EQ(DecodeWorkingBitmapPage(d, other.size(), 1).Pixels, second.Picture.Pixels);
        EXPECT_EQ(DecodeWorkingBitmapPage(d, other.size(), 2).Pixels, expected[2].Pixels);
        EXPECT_THROW(DecodeWorkingBitmapPage(d, other.size() - 20, 2), EImageError);
    }
    // Other formats have exactly one page.
    const std::string png = dir.File("one.png");
    WriteFile(png, EncodePng(MakeTestPicture(5, 5), pkRgb8));
    EXPECT_EQ(CountImageFilePages(png), 1);
    EXPECT_THROW(LoadWorkingBitmapPage(png, 1), EImageError);
}

// Classic little-endian TIFF: the first directory's entry for a tag.
std::size_t EntryOf(const std::string& bytes, int tag) {
    auto u16 = [&](std::size_t at) { return unsigned(std::uint8_t(bytes[at])) | unsigned(std::uint8_t(bytes[at + 1])) << 8; };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t ifd = u32(4);
    for (unsigned i = 0; i < u16(ifd); ++i)
        if (int(u16(ifd + 2 + 12 * i)) == tag) return ifd + 2 + 12 * i;
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}
std::uint32_t ValueOf(const std::string& bytes, int tag) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + EntryOf(bytes, tag) + 8, 4);
    return v;
}
// The entry rewritten as a LONG holding the value.
std::string WithTag(std::string bytes, int tag, std::uint32_t value) {
    const std::size_t at = EntryOf(bytes, tag);
    const std::uint16_t type = TIFF_LONG;
    const std::uint32_t count = 1;
    std::memcpy(bytes.data() + at + 2, &type, 2);
    std::memcpy(bytes.data() + at + 4, &count, 4);
    std::memcpy(bytes.data() + at + 8, &value, 4);
    return bytes;
}

struct TBadTiff {
    const char* Name;
    std::string Bytes;
    TImageErrorKind Kind;
    const char* MessagePart;
};

TEST(TiffDecoder, BadFilesFailWithTheUsualMessagesAndLibtiffStaysQuiet) {
    const TRaster picture = MakeTestPicture(60, 40);
    const std::string deflate = EncodeTiff({TiffPage(picture, tpRgb8, COMPRESSION_ADOBE_DEFLATE)});
    const std::string plain = EncodeTiff({TiffPage(picture, tpRgb8)});
    std::string badStream = deflate;
    const std::uint32_t strip = ValueOf(deflate, TIFFTAG_STRIPOFFSETS);
    badStream[strip] = badStream[strip + 1] = '\x55';  // no zlib header any more
    // Two directories, the second's next-directory pointer leading back to the first.
    const std::string twoPages = EncodeTiff({TiffPage(picture, tpRgb8), TiffPage(picture, tpGrey8)});
    std::string loop = twoPages;
    {
        auto u32 = [&](std::size_t at) {
            std::uint32_t v;
            std::memcpy(&v, loop.data() + at, 4);
            return v;
        };
        auto count = [&](std::size_t at) { return std::size_t(std::uint8_t(loop[at])) | std::size_t(std::uint8_t(loop[at + 1])) << 8; };
        const std::uint32_t first = u32(4);
        const std::uint32_t second = u32(first + 2 + 12 * count(first));
        std::memcpy(loop.data() + second + 2 + 12 * count(second), &first, 4);
    }
    const TBadTiff cases[] = {
        {"truncated pixels", plain.substr(0, plain.size() / 2), ikTruncated, "被截断"},
        {"header only", plain.substr(0, 8), ikTruncated, "被截断"},
        {"strip data beyond the end", WithTag(deflate, TIFFTAG_STRIPBYTECOUNTS, 1'000'000), ikTruncated, "被截断"},
        {"second page's directory cut off", twoPages.substr(0, twoPages.size() - 20), ikTruncated, "被截断"},
        {"100000 x 100000", WithTag(WithTag(plain, TIFFTAG_IMAGEWIDTH, 100000), TIFFTAG_IMAGELENGTH, 100000),
         ikTooLarge, "100000 × 100000"},
        {"zero width", WithTag(plain, TIFFTAG_IMAGEWIDTH, 0), ikCorrupt, "TIFF 数据损坏"},
        {"broken Deflate stream", badStream, ikCorrupt, "TIFF 数据损坏"},
        {"32-bit samples", WithTag(deflate, TIFFTAG_BITSPERSAMPLE, 32), ikUnsupported, "不支持的 TIFF 图像类型"},
        {"directories in a loop", loop, ikCorrupt, "TIFF 数据损坏"},
    };
    TTempDir dir;
    ::testing::internal::CaptureStderr();
    for (const TBadTiff& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = dir.File("bad.tif");
        WriteFile(file, c.Bytes);
        try {
            // Counting walks every directory; decoding reads the pixels.
            CountImageFilePages(file);
            LoadWorkingBitmap(file);
            ADD_FAILURE() << "no error";
        } catch (const EImageError& e) {
            EXPECT_EQ(e.Kind(), c.Kind) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.MessagePart), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(TiffDecoder, LimitsAreCheckedBeforeDecoding) {
    const TRaster picture = MakeTestPicture(300, 200);
    const std::string oneStrip = EncodeTiff({TiffPage(picture, tpRgb8, COMPRESSION_LZW)});
    TTiffPage banded = TiffPage(picture, tpRgb8, COMPRESSION_LZW);
    banded.RowsPerStrip = 16;
    const std::string strips = EncodeTiff({banded});
    TImageLimits limits;
    limits.MaxPixels = 50'000;
    try {
        Decode(strips, limits);
        ADD_FAILURE() << "no error";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikTooLarge) << e.what();
    }
    // Rows are decoded a band of strips at a time: 16 rows fit in the work
    // memory where the single strip of 200 rows does not.
    limits = TImageLimits{};
    limits.MaxWorkBytes = 100'000;
    EXPECT_EQ(Compare(picture, Decode(strips, limits)).Worst, 0);
    try {
        Decode(oneStrip, limits);
        ADD_FAILURE() << "no error";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Kind(), ikTooLarge) << e.what();
    }
}

TEST(TiffPageIdentity, SinglePagesKeepTheFileIdentityAndPagesTheirOwn) {
    TTempDir dir;
    const TRaster a = BilevelOf(MakeTestPicture(50, 40)), b = MakeTestPicture(40, 50);
    TRaster c = a;
    for (int i = 0; i < 3; ++i) c.Row(20)[30 + i] ^= 0xFF;  // one pixel differs
    auto write = [&](const std::string& name, const std::vector<TTiffPage>& pages) {
        WriteFile(dir.File(name), EncodeTiff(pages));
        return dir.File(name);
    };
    const TTiffPage pa = TiffPage(a, tpBilevel, COMPRESSION_CCITTFAX4, true);
    const TTiffPage pb = TiffPage(b, tpRgb8, COMPRESSION_LZW);
    const TTiffPage pc = TiffPage(c, tpBilevel, COMPRESSION_CCITTFAX4, true);
    TTiffPage pa300 = pa;
    pa300.Dpi = 300;

    const std::string single = write("single.tif", {pa});
    const std::string bmp = dir.File("single.bmp");
    WriteFile(bmp, EncodeBmp(a, TBmpOptions{}));
    EXPECT_EQ(ComputePageScanUID(single, 0), ComputeScanUID(single));
    EXPECT_EQ(ComputePageScanUID(bmp, 0), ComputeScanUID(bmp));

    const std::string two = write("two.tif", {pa, pb});
    const std::string appended = write("appended.tif", {pa, pb, pc});            // a page added at the end
    const std::string retagged = write("retagged.tif", {pa300, pb});            // other resolution fields
    const std::string reordered = write("reordered.tif", {pb, pa});
    const std::string first = ComputePageScanUID(two, 0), second = ComputePageScanUID(two, 1);
    EXPECT_EQ(first.size(), 16u);
    EXPECT_NE(first, second);
    EXPECT_NE(first, ComputeScanUID(two));
    EXPECT_EQ(ComputePageScanUID(two, 0), first) << "stable";
    EXPECT_EQ(ComputePageScanUID(appended, 0), first);
    EXPECT_EQ(ComputePageScanUID(appended, 1), second);
    EXPECT_EQ(ComputePageScanUID(retagged, 0), first);
    EXPECT_EQ(ComputePageScanUID(reordered, 1), first);
    EXPECT_EQ(ComputePageScanUID(reordered, 0), second);
    const std::string changed = ComputePageScanUID(appended, 2);
    EXPECT_NE(changed, first) << "a page one pixel apart is another page";
    EXPECT_NE(changed, second);
}

}  // namespace
}  // namespace korvex
