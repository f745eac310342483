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
    std::vector<std::string> args;  // what the filled template splits into
};

class FillArgumentTemplateTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillArgumentTemplateTest, Fills) {
    EXPECT_EQ(SplitArguments(FillArgumentTemplate(GetParam().pattern, "/w/I.bmp", "/w/B", "/w/B.dat")),
              GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, FillArgumentTemplateTest,
    ::testing::Values(FillCase{"\"{image}\" \"{outputbase}\" -l chi_sim", {"/w/I.bmp", "/w/B", "-l", "chi_sim"}},
                      FillCase{"--in=\"{IMAGE}\" --out=\"{Output}\"", {"--in=/w/I.bmp", "--out=/w/B.dat"}},
                      FillCase{"{outputBASE}.txt {output} {image}{image}", {"/w/B.txt", "/w/B.dat", "/w/I.bmp/w/I.bmp"}},
                      FillCase{"{outputbas} {imag} {output", {"{outputbas}", "{imag}", "{output"}},
                      FillCase{"\"a b\" \"\" x\\\"y", {"a b", "", "x\"y"}},
                      FillCase{"", {}}));

TEST(FillArgumentTemplate, FilledPathsAreNotFilledAgain) {
    EXPECT_EQ(SplitArguments(FillArgumentTemplate("{image} {output}", "/t/{output}/I.bmp", "/t/B", "/t/B.dat")),
              (std::vector<std::string>{"/t/{output}/I.bmp", "/t/B.dat"}));
}

TEST(FillArgumentTemplate, EveryValueComesBackWhateverItHolds) {
    const std::vector<std::string> values = {
        "/tmp/a b/I.bmp", "/tmp/\"q\"/I.bmp", "/tmp/x\\/I.bmp", "/tmp/x\\", "/tmp/x\\\\\"", "\"", "\\\"",
        "/tmp/tab\there", "", "/tmp/\xE5\xBC\xA0 \"\\ {image}"};
    const std::vector<std::string> templates = {"\"{image}\"", "{image}", "--in=\"{image}\"", "--in={image}",
                                                "\"--in={image}\"", "\"{image}\"\"{image}\""};
    for (const std::string& v : values)
        for (const std::string& t : templates) {
            std::vector<std::string> expected = {v};
            if (t == "--in=\"{image}\"" || t == "--in={image}" || t == "\"--in={image}\"") expected = {"--in=" + v};
            if (t == "\"{image}\"\"{image}\"") expected = {v + "\"" + v};  // "" inside a group is a quote
            EXPECT_EQ(SplitArguments(FillArgumentTemplate(t, v, "", "")), expected) << t << " with " << v;
        }
}

TEST(FillArguments, ProgramFolderInArguments) {
    const std::string appDir = "/opt/k \"v\"\\";
    const std::string once = FillArguments("--token={APPDIR} --in=\"{image}\" --out=\"{appdir}/{output}\"",
                                           {{"{appdir}", appDir}});
    EXPECT_EQ(SplitArguments(FillArgumentTemplate(once, "/w/I.bmp", "/w/B", "/w/B.dat")),
              (std::vector<std::string>{"--token=" + appDir, "--in=/w/I.bmp", "--out=" + appDir + "//w/B.dat"}));
}

TEST(JoinArguments, SplitsBackExactly) {
    const std::vector<std::string> args = {"plain", "", "a b", "q\"q", "end\\", "\\\\\"", "\t", "x\\y"};
    EXPECT_EQ(SplitArguments(JoinArguments(args)), args);
    EXPECT_EQ(JoinArguments({"--token=T", "/w/I.bmp"}), "--token=T /w/I.bmp");
}

TEST(ErrorOutputSummary, LastThreeLinesWithoutControlCharacters) {
    EXPECT_EQ(ErrorOutputSummary(""), "");
    EXPECT_EQ(ErrorOutputSummary("\n \r\n"), "");
    EXPECT_EQ(ErrorOutputSummary("one\ntwo\r\nthree\nfour\n\n"), "two / three / four");
    EXPECT_EQ(ErrorOutputSummary("a\tb\x1B[0m\x7F\xC2\x85z"), "a b [0m  z");
    EXPECT_EQ(ErrorOutputSummary("\xFF" "bad"), "\xEF\xBF\xBD" "bad");
    const std::string longLine(2000, 'x');
    const std::string summary = ErrorOutputSummary("\xE5\xBC\xA0" + longLine);
    EXPECT_LE(summary.size(), 510u);
    EXPECT_EQ(summary.substr(summary.size() - 10), std::string(10, 'x'));
}

TEST(IsEngineAnswer, OnlyTheEnginesNameAndScore) {
    struct Case {
        std::string plain;
        bool answer;
    };
    const Case cases[] = {
        {"张伟|0.912346", true},
        {"|0.000000", true},
        {"a|b|0.700000", true},
        {"王小明|1", true},
        {"x|-0.500000", true},
        {"张伟", false},
        {"张伟|", false},
        {"张伟|0.9x", false},
        {"张伟|.5", false},
        {"张伟|1.", false},
        {"张伟|+0.5", false},
        {"张伟|0.5 ", false},
        {"张\n伟|0.9", false},
        {"张伟\x7F|0.9", false},
        {"张伟\xC2\x85|0.9", false},
        {"\xE5\xBC|0.9", false},
        {"\xFF|0.9", false},
        {std::string("a\0b|0.9", 7), false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsEngineAnswer(c.plain), c.answer) << c.plain;
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
