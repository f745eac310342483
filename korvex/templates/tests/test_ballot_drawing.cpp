#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "model/tests/TempFolder.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "imaging/ImageFiles.h"
#include "imaging/CornerBlocks.h"
#include "model/Errors.h"
#include "templates/uStandardLayout.h"

using namespace korvex;

namespace {

std::vector<TCandidateInfo> Candidates(int n) {
    std::vector<TCandidateInfo> list;
    for (int i = 0; i < n; ++i) list.push_back({i + 1, "候选人" + std::to_string(i + 1), false});
    return list;
}

std::unique_ptr<TBallotTemplate> Template(int n, int slotCount, int maxSelect = 5) {
    return GenerateStandardTemplateWithID(Candidates(n), "测试选票", maxSelect, slotCount, "20261210-101500-0A1B2C3D");
}

bool IsBlack(const QImage& image, int x, int y) { return image.pixel(x, y) == qRgb(0, 0, 0); }
bool IsWhite(const QImage& image, int x, int y) { return image.pixel(x, y) == qRgb(255, 255, 255); }

int DarkPixels(const QImage& image, const TRect& r) {
    int count = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x)
            if (qGray(image.pixel(x, y)) < 128) ++count;
    return count;
}

// Every pixel of the code cell has the expected colour.
void ExpectCodeCells(const QImage& image, const std::vector<bool>& innerBlack) {
    int k = 0;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            bool black = true;
            if (i >= 1 && i <= 6 && j >= 1 && j <= 6) black = innerBlack[static_cast<std::size_t>(k++)];
            for (int y = 280 + 25 * i; y < 280 + 25 * (i + 1); ++y)
                for (int x = 2040 + 25 * j; x < 2040 + 25 * (j + 1); ++x)
                    ASSERT_EQ(IsBlack(image, x, y), black) << "cell " << i << "," << j << " at " << x << "," << y;
        }
}

class DrawingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        EnsureGuiApplication();
    }
};

}  // namespace

TEST_F(DrawingTest, CornerBlocksArePixelExact) {
    std::vector<std::unique_ptr<TBallotTemplate>> templates;
    templates.push_back(Template(12, 2));
    templates.push_back(Template(1, 0));
    templates.push_back(Template(56, 4));
    for (const auto& t : templates) {
        const QImage page = RenderBallotBitmap(*t);
        ASSERT_EQ(page.width(), 2480);
        ASSERT_EQ(page.height(), 3508);
        for (const QPoint origin : {QPoint(103, 103), QPoint(2303, 103), QPoint(103, 3331), QPoint(2303, 3331)}) {
            for (int y = origin.y(); y < origin.y() + 74; ++y)
                for (int x = origin.x(); x < origin.x() + 74; ++x) ASSERT_TRUE(IsBlack(page, x, y)) << x << "," << y;
            for (int d = 0; d < 74; ++d) {
                EXPECT_TRUE(IsWhite(page, origin.x() - 1, origin.y() + d));
                EXPECT_TRUE(IsWhite(page, origin.x() + 74, origin.y() + d));
                EXPECT_TRUE(IsWhite(page, origin.x() + d, origin.y() - 1));
                EXPECT_TRUE(IsWhite(page, origin.x() + d, origin.y() + 74));
            }
        }
        EXPECT_TRUE(IsBlack(page, 176, 176));
        EXPECT_TRUE(IsWhite(page, 177, 140));
        EXPECT_TRUE(IsWhite(page, 140, 177));
    }
}

TEST_F(DrawingTest, CodeGridOfCodeOne) {
    auto t = Template(3, 0);
    t->TemplateCode = 1;
    std::vector<bool> inner(36, false);
    inner[0] = true;   // bit 0 of the code
    inner[32] = true;  // check nibble 1, bit 0: row 6, column 3
    ExpectCodeCells(RenderBallotBitmap(*t), inner);
}

TEST_F(DrawingTest, CodeGridOfAllOnesAndAMixedCode) {
    auto t = Template(3, 0);
    t->TemplateCode = 0xFFFFFFFFu;
    std::vector<bool> inner(36, true);
    for (int k = 32; k < 36; ++k) inner[static_cast<std::size_t>(k)] = false;  // check nibble 0
    ExpectCodeCells(RenderBallotBitmap(*t), inner);

    t->TemplateCode = 0x12345678u;  // check nibble 8: only k = 35 of the check cells
    std::vector<bool> mixed(36, false);
    for (int k = 0; k < 32; ++k) mixed[static_cast<std::size_t>(k)] = ((0x12345678u >> k) & 1u) != 0;
    mixed[35] = true;
    ExpectCodeCells(RenderBallotBitmap(*t), mixed);
}

TEST_F(DrawingTest, CodeCaptionAndTextsAreDrawn) {
    auto t = Template(12, 2);
    const QImage page = RenderBallotBitmap(*t);
    EXPECT_GT(DarkPixels(page, {2040, 488, 2240, 520}), 50);  // caption
    EXPECT_GT(DarkPixels(page, {260, 260, 1980, 500}), 2000); // bold title
    EXPECT_GT(DarkPixels(page, {260, 500, 1980, 565}), 200);  // identifier line
    // The name of candidate 7 lies inside its cell, clear of the outline.
    const TRect name = t->Candidates[6].NameRect;
    EXPECT_GT(DarkPixels(page, {name.Left + 4, name.Top + 4, name.Right - 4, name.Bottom - 4}), 100);
    // Mark cells are empty: only their outline is dark.
    const TRect mark = t->Candidates[6].MarkRect;
    EXPECT_EQ(DarkPixels(page, {mark.Left + 4, mark.Top + 4, mark.Right - 4, mark.Bottom - 4}), 0);
    EXPECT_GT(DarkPixels(page, {mark.Left - 1, mark.Top + 4, mark.Left + 2, mark.Bottom - 4}), 100);
}

TEST_F(DrawingTest, CellsBeyondTheLastCandidateStayEmpty) {
    auto t = Template(8, 0);
    const QImage page = RenderBallotBitmap(*t);
    // Second group: columns 3 and 4 have no candidate.
    const int top = 650 + 244, mid = top + 112, bottom = mid + 132;
    for (int c = 3; c < 5; ++c) {
        const int x0 = 420 + 370 * c, x1 = x0 + 370;
        EXPECT_EQ(DarkPixels(page, {x0 + 4, top + 4, x1 - 4, mid - 4}), 0) << c;
        EXPECT_EQ(DarkPixels(page, {x0 + 4, mid + 4, x1 - 4, bottom - 4}), 0) << c;
        EXPECT_GT(DarkPixels(page, {x0 + 4, bottom - 2, x1 - 4, bottom + 1}), 300) << c;  // outline drawn
    }
    EXPECT_GT(DarkPixels(page, {420 + 740 + 4, top + 4, 420 + 1110 - 4, mid - 4}), 100);  // candidate 8
}

TEST_F(DrawingTest, WriteInAreaOnlyWithSlots) {
    auto with = Template(12, 2);
    auto without = Template(12, 0);
    const int gridBottom = 650 + 3 * 244;
    EXPECT_EQ(BallotInstructionTop(*with), 1502 + 238 + 100);
    EXPECT_EQ(BallotInstructionTop(*without), gridBottom + 120);

    const QImage a = RenderBallotBitmap(*with);
    const QImage b = RenderBallotBitmap(*without);
    const TRect area{210, 1502, 2270, 1740};
    EXPECT_GT(DarkPixels(a, area), 5000);
    // Without slots nothing lies between the grid and the instructions, and
    // the instructions start at grid bottom + 120.
    EXPECT_EQ(DarkPixels(b, {0, gridBottom + 2, 2480, gridBottom + 120}), 0);
    EXPECT_GT(DarkPixels(b, {230, gridBottom + 120, 2250, gridBottom + 170}), 500);
    EXPECT_EQ(DarkPixels(b, {0, gridBottom + 120 + 430, 2480, 3331}), 0);
}

TEST_F(DrawingTest, InstructionTexts) {
    auto with = Template(12, 2, 3);
    auto lines = BallotInstructionTexts(*with);
    EXPECT_EQ(lines[0], "1、赞成候选人时，在其姓名下边“符号”栏内划“O”；反对时划“X”；弃权时不划任何符号。符号不清楚的，交人工复核。");
    EXPECT_EQ(lines[1], "2、本次选举允许另选人 2 名。另选他人时，应在反对的候选人下边“符号”栏内划“X”(否则不予识别)，"
                        "并在“另选人”姓名栏填写姓名，在其下方符号栏划“O”。只写姓名不划“O”的，按放弃另选处理。");
    EXPECT_EQ(lines[2], "3、本张选票所选人数不得多于3人，多者按废票处理。");
    // Line 2 counts the slots in the list, not the WriteInSlots field.
    with->WriteInSlots = 4;
    with->WriteIns.pop_back();
    EXPECT_NE(BallotInstructionTexts(*with)[1].find("另选人 1 名"), std::string::npos);
    with->WriteIns.clear();
    EXPECT_EQ(BallotInstructionTexts(*with)[1], "2、本次选举不设另选人，请勿填写另选人。");
}

TEST_F(DrawingTest, CellTextIsElidedAndStaysInsideItsCell) {
    QImage image(600, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        DrawCellText(p, {100, 50, 300, 150}, std::string(40, 'W') + "很长的名字很长的名字", false, 42);
    }
    EXPECT_GT(DarkPixels(image, {100, 50, 300, 150}), 200);
    EXPECT_EQ(DarkPixels(image, {0, 0, 100, 200}), 0);
    EXPECT_EQ(DarkPixels(image, {300, 0, 600, 200}), 0);
}

TEST_F(DrawingTest, FontsCoverTheTextsTheyDraw) {
    for (const char* family : {"宋体", "黑体", "手写"}) {
        const QFont font = BallotFont(family, 40);
        EXPECT_FALSE(BallotFontFamily(family).isEmpty()) << family;
        EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'选')) << family << " -> " << BallotFontFamily(family).toStdString();
        EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'“')) << family;
    }
    EXPECT_TRUE(QFontMetrics(BallotFont("Consolas", 22)).inFontUcs4(U'F'));
}

TEST_F(DrawingTest, RasterConversionKeepsChannelOrder) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(1, 0, qRgb(10, 20, 30));
    image.setPixel(2, 1, qRgb(200, 100, 50));
    const TRaster raster = ImageToRaster(image);
    ASSERT_EQ(raster.Width, 3);
    ASSERT_EQ(raster.Height, 2);
    EXPECT_EQ(raster.Row(0)[3], 30);  // blue first
    EXPECT_EQ(raster.Row(0)[4], 20);
    EXPECT_EQ(raster.Row(0)[5], 10);
    EXPECT_EQ(raster.Row(1)[6], 50);
    EXPECT_EQ(raster.Row(1)[8], 200);
    EXPECT_EQ(RasterToImage(raster), image);
}

TEST_F(DrawingTest, PreviewIsA24BitBitmapOfThePage) {
    TempFolder folder;
    auto t = Template(12, 2);
    const std::string file = SaveBallotPreview(*t, folder.File("Templates"));
    EXPECT_EQ(file, folder.File("Templates") + "/" + t->TemplateID + "_preview.bmp");
    const std::string bytes = TempFolder::Read(file);
    ASSERT_GE(bytes.size(), 54u);
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(le(2, 4), bytes.size());
    EXPECT_EQ(le(18, 4), 2480u);
    EXPECT_EQ(le(22, 4), 3508u);
    EXPECT_EQ(le(28, 2), 24u);
    EXPECT_EQ(bytes.size(), 54u + 2480u * 3u * 3508u);  // rows of 7440 bytes need no padding
    // Decoded by an independent reader it is the rendered page.
    const QImage decoded(QString::fromStdString(file));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), RenderBallotBitmap(*t));
}

TEST_F(DrawingTest, PreviewWriterPadsOddRows) {
    TempFolder folder;
    TRaster raster(5, 3, 255);
    raster.Row(2)[0] = 1;  // blue of the bottom-left pixel
    SaveBitmap24(raster, folder.File("odd.bmp"));
    const std::string bytes = TempFolder::Read(folder.File("odd.bmp"));
    EXPECT_EQ(bytes.size(), 54u + 16u * 3u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[54]), 1);  // bottom row is stored first
    EXPECT_THROW(SaveBitmap24(raster, folder.File("missing/x.bmp")), EFileError);
}

// The drawn page read back by the image core, as a scanner would deliver it:
// every quarter turn, and at half resolution (150 dpi).
TEST_F(DrawingTest, ImageCoreReadsTheDrawnCodeInEveryOrientation) {
    for (const int n : {3, 24, 56}) {
        const auto t = GenerateStandardTemplateWithID(Candidates(n), "往返", 5, n % 5, "20261210-1015" + std::to_string(n));
        QImage page = RenderBallotBitmap(*t);
        for (int turn = 0; turn < 4; ++turn) {
            for (const bool half : {false, true}) {
                const QImage scan = half ? page.scaled(page.width() / 2, page.height() / 2, Qt::IgnoreAspectRatio,
                                                       Qt::SmoothTransformation)
                                         : page;
                TCornerSet found;
                ASSERT_TRUE(FindCornerBlocks(ImageToRaster(scan), found)) << n << " turn " << turn << " half " << half;
                std::uint32_t code = 0;
                bool read = false;
                int k = 0;
                for (; k < 4 && !read; ++k) read = ReadTemplateCode(ImageToRaster(scan), OrderCorners(found, k), code);
                ASSERT_TRUE(read) << n << " turn " << turn << " half " << half;
                EXPECT_EQ(code, t->TemplateCode);
                EXPECT_EQ(k - 1, turn) << "orientation of a page turned " << turn << " times";
            }
            page = page.transformed(QTransform().rotate(90));  // clockwise
        }
    }
}
