#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ocr/OcrProcess.h"
#include "ocr/OcrText.h"

using namespace korvex;

namespace {

struct SplitCase {
    std::string line;
    std::vector<std::string> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, Splits) { EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().args); }

INSTANTIATE_TEST_SUITE_P(
    WindowsRules, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{R"("/opt/a b/Scrivane")", {"/opt/a b/Scrivane"}},
        SplitCase{R"("/x/S" --token=T --in="/t/a b.bmp" --out="/t/a b.dat")",
                  {"/x/S", "--token=T", "--in=/t/a b.bmp", "--out=/t/a b.dat"}},
        SplitCase{"\"/x/S\"   a\t\tb  ", {"/x/S", "a", "b"}},
        SplitCase{R"("/x/S" "" x)", {"/x/S", "", "x"}},
        SplitCase{R"("/x/S" a\b c:\dir\ d)", {"/x/S", R"(a\b)", R"(c:\dir\)", "d"}},
        SplitCase{R"("/x/S" a\"b)", {"/x/S", R"(a"b)"}},                 // odd backslashes: literal quote
        SplitCase{R"("/x/S" a\\"b c")", {"/x/S", R"(a\b c)"}},           // even: halved, quote groups
        SplitCase{R"("/x/S" a\\\"b)", {"/x/S", R"(a\"b)"}},
        SplitCase{R"("/x/S" "a ""quoted"" word")", {"/x/S", R"(a "quoted" word)"}},
        SplitCase{R"("/x/S" "unterminated group)", {"/x/S", "unterminated group"}},
        SplitCase{R"("/x/S" a"b c"d)", {"/x/S", "ab cd"}},
        SplitCase{R"(/x/pro"g ram"\ x)", {R"(/x/prog ram\)", "x"}}));  // the program knows no escapes

struct FillCase {
    std::string pattern;
    std::string filled;
};

class FillArgumentTemplateTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillArgumentTemplateTest, Fills) {
    EXPECT_EQ(FillArgumentTemplate(GetParam().pattern, "/w/I.bmp", "/w/B", "/w/B.dat"), GetParam().filled);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, FillArgumentTemplateTest,
    ::testing::Values(FillCase{"\"{image}\" \"{outputbase}\" -l chi_sim", "\"/w/I.bmp\" \"/w/B\" -l chi_sim"},
                      FillCase{"--in=\"{IMAGE}\" --out=\"{Output}\"", "--in=\"/w/I.bmp\" --out=\"/w/B.dat\""},
                      FillCase{"{outputBASE}.txt {output} {image}{image}", "/w/B.txt /w/B.dat /w/I.bmp/w/I.bmp"},
                      FillCase{"{outputbas} {imag} {output", "{outputbas} {imag} {output"},
                      FillCase{"", ""}));

TEST(FillArgumentTemplate, FilledPathsAreNotFilledAgain) {
    EXPECT_EQ(FillArgumentTemplate("{image} {output}", "/t/{output}/I.bmp", "/t/B", "/t/B.dat"),
              "/t/{output}/I.bmp /t/B.dat");
}

TEST(ReplaceAllIgnoreCase, ReplacesEveryOccurrence) {
    EXPECT_EQ(ReplaceAllIgnoreCase("{APPDIR}/x:{appdir}/y:{AppDir", "{appdir}", "/home/k"), "/home/k/x:/home/k/y:{AppDir");
    EXPECT_EQ(ReplaceAllIgnoreCase("abc", "", "z"), "abc");
}

TEST(DecodeUtf8Lenient, KeepsValidTextAndMarksBrokenBytes) {
    EXPECT_EQ(DecodeUtf8Lenient("\xEF\xBB\xBF张伟\r\n", true), "张伟\r\n");
    EXPECT_EQ(DecodeUtf8Lenient("\xEF\xBB\xBF张", false), "\xEF\xBB\xBF张");
    EXPECT_EQ(DecodeUtf8Lenient("a\xFF" "b", false), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(DecodeUtf8Lenient("\xE5\xBC", false), "\xEF\xBF\xBD\xEF\xBF\xBD");  // cut sequence
    EXPECT_EQ(DecodeUtf8Lenient("\xC0\xAF", false), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(DecodeUtf8Lenient("\xED\xA0\x80", false), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(DecodeUtf8Lenient("\xF0\x9F\x98\x80", false), "\xF0\x9F\x98\x80");
}

}  // namespace
