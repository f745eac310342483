#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "ReaderTools.h"
#include "export/Utf16.h"
#include "export/uExcelWorkbook.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"

using namespace korvex;
using Rows = std::vector<std::vector<std::string>>;

namespace {

TCellValue Text(const char* s) { return std::string(s); }
TCellValue Int(std::int64_t v) { return v; }

// A sheet with every kind of cell, Chinese texts, quoting characters and NULLs.
TSheetData MixedSheet() {
    return {"<计票结果_序号>",
            {"序号", "姓名", "赞成票数", "比例", "是否另选人"},
            {
                {Int(1), Text("甲"), Int(3), 0.25, Text("否")},
                {Int(2), Text("O'Brien, \"乙\""), Int(-5), TCellValue{}, Text("是")},
                {Int(3), TCellValue{}, Int(1234567890123), 1e-3, Text("")},
                {Int(4), Text("丙")},  // short row: the rest stays empty
            }};
}

const Rows kMixedCells = {
    {"S:序号", "S:姓名", "S:赞成票数", "S:比例", "S:是否另选人"},
    {"N:1", "S:甲", "N:3", "N:0.25", "S:否"},
    {"N:2", "S:O'Brien, \"乙\"", "N:-5", "E:", "S:是"},
    {"N:3", "E:", "N:1234567890123", "N:0.001", "S:"},
    {"N:4", "S:丙", "E:", "E:", "E:"},
};

}  // namespace

TEST(ExcelWorkbook, ReadersSeeSheetHeaderAndTypedCells) {
    TempFolder dir;
    const std::string file = dir.File("结果.xls");
    WriteExcel97Workbook(file, MixedSheet());

    const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(xlrd.ExitCode, 0);
    EXPECT_EQ(xlrd.Sheets, std::vector<std::string>{"计票结果_序号"});
    EXPECT_EQ(xlrd.Cells, kMixedCells);

    const TReadWorkbook office = ReadWorkbookWithLibreOffice(file, dir.Path().string());
    ASSERT_EQ(office.ExitCode, 0);
    EXPECT_EQ(office.Sheets, std::vector<std::string>{"计票结果_序号"});
    // The CSV export writes an empty text like an empty cell.
    Rows officeExpected = kMixedCells;
    officeExpected[3][4] = "E:";
    EXPECT_EQ(office.Cells, officeExpected);
}

TEST(ExcelWorkbook, BooleansAndNonFiniteNumbers) {
    TempFolder dir;
    const std::string file = dir.File("b.xls");
    WriteExcel97Workbook(file, {"s", {"a", "b", "c"}, {{true, false, std::nan("")}}});
    const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(xlrd.ExitCode, 0);
    EXPECT_EQ(xlrd.Cells, (Rows{{"S:a", "S:b", "S:c"}, {"B:1", "B:0", "X:36"}}));
}

// Thousands of distinct texts and very long ones make the string table run
// over many continuation records, splitting texts between records.
TEST(ExcelWorkbook, LargeStringTableSurvivesContinuations) {
    TempFolder dir;
    TSheetData sheet{"明细", {"id", "文字"}, {}};
    Rows expected = {{"S:id", "S:文字"}};
    std::string longText;
    for (int i = 0; i < 7000; ++i) {
        longText += i % 3 == 0 ? "\xF0\x9F\x98\x80" : "选";  // surrogate pairs between CJK
    }
    for (int r = 0; r < 3000; ++r) {
        std::string text = r % 500 == 7 ? longText + std::to_string(r) : "候选人" + std::to_string(r % 1700);
        sheet.Rows.push_back({Int(r), text});
        expected.push_back({"N:" + std::to_string(r), "S:" + text});
    }
    const std::string file = dir.File("big.xls");
    WriteExcel97Workbook(file, sheet);

    const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(xlrd.ExitCode, 0);
    EXPECT_TRUE(xlrd.Cells == expected) << "xlrd read different cells";
    const TReadWorkbook office = ReadWorkbookWithLibreOffice(file, dir.Path().string());
    ASSERT_EQ(office.ExitCode, 0);
    EXPECT_TRUE(office.Cells == expected) << "LibreOffice read different cells";
}

TEST(ExcelWorkbook, FullHeightSheet) {
    TempFolder dir;
    TSheetData sheet{"s", {"n"}, {}};
    for (std::size_t r = 0; r + 1 < kMaxSheetRows; ++r) {
        sheet.Rows.push_back({Int(static_cast<std::int64_t>(r))});
    }
    const std::string file = dir.File("tall.xls");
    WriteExcel97Workbook(file, sheet);
    const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(xlrd.ExitCode, 0);
    ASSERT_EQ(xlrd.Cells.size(), kMaxSheetRows);
    EXPECT_EQ(xlrd.Cells.back(), std::vector<std::string>{"N:65534"});

    sheet.Rows.push_back({Int(0)});
    EXPECT_THROW(BuildBiff8Workbook(sheet), EKorvexError);
}

TEST(ExcelWorkbook, RefusesWhatTheFormatCannotHoldAndWritesNothing) {
    TempFolder dir;
    const std::string file = dir.Write("old.xls", "previous workbook");
    std::vector<std::string> wide(kMaxSheetColumns + 1, "c");
    const TSheetData cases[] = {
        {"s", wide, {}},
        {"s", {"a"}, {{Int(1), Int(2)}}},
        {"s", {"a"}, {{std::string(kMaxCellTextLength + 1, 'x')}}},
    };
    for (const TSheetData& sheet : cases) {
        EXPECT_THROW(WriteExcel97Workbook(file, sheet), EKorvexError);
        EXPECT_EQ(TempFolder::Read(file), "previous workbook");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_NO_THROW(BuildBiff8Workbook({"s", {"a"}, {{std::string(kMaxCellTextLength, 'x')}}}));
}

TEST(ExcelWorkbook, ReplacesAnExistingFileAndReportsUnwritablePaths) {
    TempFolder dir;
    const std::string file = dir.Write("r.xls", "old");
    WriteExcel97Workbook(file, {"s", {"新"}, {}});
    const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(xlrd.ExitCode, 0);
    EXPECT_EQ(xlrd.Cells, Rows{{"S:新"}});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // no temporary left

    try {
        WriteExcel97Workbook(dir.File("missing/r.xls"), {"s", {"a"}, {}});
        FAIL() << "no error for a missing folder";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/r.xls"), std::string::npos) << e.what();
    }
}

// Each column is as wide as its widest text (a Chinese character taking two
// widths of "0"), so headers and names show whole; both readers see that.
TEST(ExcelWorkbook, ColumnsAreWideEnoughForTheirTexts) {
    TempFolder dir;
    const std::string file = dir.File("widths.xls");
    const std::string huge(400, 'w');
    WriteExcel97Workbook(file, {"s",
                                {"序号", "不赞成票数", "姓名", "是否另选人", "备注"},
                                {{Int(1), Int(3), Text("欧阳娜娜娜娜娜娜"), Text("否"), huge},
                                 {Int(1234567890123), Int(0), Text("Alexander Hamilton-Smith"), Text("是")}}});
    // The characters each column must show, and the widths readers find.
    const double needed[] = {13, 10, 24, 10};
    const std::map<int, double> xlrd = ReadColumnWidthsWithXlrd(file);
    const std::map<int, double> office = ReadColumnWidthsWithLibreOffice(file, dir.Path().string());
    ASSERT_EQ(xlrd.size(), 5u);
    ASSERT_GE(office.size(), 5u);
    for (int c = 0; c < 4; ++c) {
        EXPECT_GE(xlrd.at(c), needed[c]) << "column " << c;
        EXPECT_LE(xlrd.at(c), needed[c] + 4) << "column " << c << " is far wider than its text";
        EXPECT_NEAR(office.at(c), xlrd.at(c), 1.0 + 0.1 * xlrd.at(c)) << "LibreOffice reads column " << c << " otherwise";
    }
    // A huge text gets a wide column, not one beyond what a screen shows.
    EXPECT_GE(xlrd.at(4), 50);
    EXPECT_LE(xlrd.at(4), 255);
}

TEST(ExcelWorkbook, SheetNames) {
    const struct {
        const char* requested;
        const char* tab;
    } cases[] = {
        {"<计票明细>", "计票明细"},
        {"明细统计", "明细统计"},
        {"<a[b]:c*?/\\>", "a_b__c____"},
        {"<>", "Sheet1"},
        {"", "Sheet1"},
        {"<x", "<x"},
        {"<<x>>", "<x>"},
        {"一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二", "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一"},
        {"abcdefghijklmnopqrstuvwxyz01234\xF0\x9F\x98\x80", "abcdefghijklmnopqrstuvwxyz01234"},
        {"abcdefghijklmnopqrstuvwxyz0123\xF0\x9F\x98\x80", "abcdefghijklmnopqrstuvwxyz0123"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WorkbookSheetName(c.requested), c.tab) << c.requested;
    }
}

TEST(Utf16, DisplayWidthCountsWideCharactersTwice) {
    EXPECT_EQ(DisplayWidth(""), 0u);
    EXPECT_EQ(DisplayWidth("Ann Lee"), 7u);
    EXPECT_EQ(DisplayWidth("不赞成票数"), 10u);
    EXPECT_EQ(DisplayWidth("王五 Wang"), 9u);
    EXPECT_EQ(DisplayWidth("ｶﾀｶﾅ"), 4u);        // half-width katakana
    EXPECT_EQ(DisplayWidth("ＡＢ"), 4u);         // full-width Latin
    EXPECT_EQ(DisplayWidth("\xF0\xA0\x80\x80"), 2u);  // a Han character beyond U+FFFF
}

TEST(Utf16, DecodesAndReplacesMalformedInput) {
    EXPECT_EQ(Utf8ToUtf16("a张\xF0\x9F\x98\x80"), std::u16string(u"a张\U0001F600"));
    EXPECT_EQ(Utf8ToUtf16("\xFF" "a"), std::u16string(u"\uFFFDa"));
    EXPECT_EQ(Utf8ToUtf16("\xE5\xBC"), std::u16string(u"\uFFFD\uFFFD"));   // truncated
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));   // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));  // surrogate
}
