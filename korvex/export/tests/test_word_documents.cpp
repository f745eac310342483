#include <gtest/gtest.h>

#include <filesystem>

#include "ReaderTools.h"
#include "export/FileOutput.h"
#include "export/XmlText.h"
#include "export/uWordDocuments.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"

using namespace korvex;
using Lines = std::vector<std::vector<std::string>>;

namespace {

const char* const kRule1 =
    "1、赞成候选人时，在其姓名下边“符号”栏内划“〇”；反对时划“X”；弃权时不划任何符号，也不能另选他人。"
    "符号不清楚视为作废。";
const char* const kRule2 =
    "2、另选他人时，应在反对的候选人下边符号栏内划“X”，并在对应空格内填写自己愿意选举的人的姓名，"
    "并在其姓名下边符号栏内划“〇”，只写姓名不划“〇”者，视为放弃。";
const std::string kBorders = "top=single,left=single,bottom=single,right=single,insideH=single,insideV=single";
const std::vector<std::string> kTallyHeader = {"R", "序号", "姓名", "赞成票数", "不赞成票数", "弃权票数"};

TReadDocument SaveAndRead(const TWordDocument& doc, const TempFolder& dir, const std::string& name) {
    const std::string file = dir.File(name);
    WriteFileReplacing(file, doc.DocxBytes());
    TReadDocument read = ReadDocumentWithPythonDocx(file);
    EXPECT_EQ(read.ExitCode, 0) << "python-docx could not read " << name;
    return read;
}

std::vector<std::string> Row(std::vector<std::string> cells) {
    cells.insert(cells.begin(), "R");
    return cells;
}

TElectionReportData ReportOf30() {
    TElectionReportData data;
    data.Title = "第三届理事会";
    data.Total = 30;
    data.Valid = 27;
    data.Invalid = 2;
    data.Abstention = 1;
    data.Candidates = {{"2", "乙", "20", "5", "2"}, {"1", "甲", "12", "10", ""}, {"3", "丙", "12", "0", "15"}};
    data.WriteIns = {{"4", "丁", "3", "0", "24"}};
    data.Date = {2026, 3, 5};
    return data;
}

}  // namespace

TEST(WordBallot, TwelveCandidatesAndTwoWriteInSlots) {
    TempFolder dir;
    std::vector<std::string> names;
    for (int i = 1; i <= 12; ++i) {
        names.push_back("候选人" + std::to_string(i));
    }
    const TReadDocument doc = SaveAndRead(BuildWordBallot("第一届选举", names, 0, 2), dir, "ballot.docx");

    EXPECT_EQ(doc.Title, "第一届选举选票");
    // heading, blank, candidate table, blank, write-in table, two blanks, three rules
    EXPECT_EQ(doc.Shape(), "PPTPTPPPPP");
    const Lines paragraphs = doc.Of("P");
    EXPECT_EQ(paragraphs[0], (std::vector<std::string>{"P", "1", "第一届选举选票", "黑体/黑体/20;黑体/黑体/20"}));
    EXPECT_EQ(paragraphs[5], (std::vector<std::string>{"P", "0", kRule1, "宋体/宋体/10"}));
    EXPECT_EQ(paragraphs[6], (std::vector<std::string>{"P", "0", kRule2, "宋体/宋体/10"}));
    EXPECT_EQ(paragraphs[7],
              (std::vector<std::string>{"P", "0", "3、本张选票所选人数不得多于1人，否则该选票作废。", "宋体/宋体/10"}));

    const Lines tables = doc.Of("T");
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0], (std::vector<std::string>{"T", "2", "13", kBorders, "center"}));
    EXPECT_EQ(tables[1], (std::vector<std::string>{"T", "2", "3", kBorders, "center"}));
    const Lines rows = doc.Of("R");
    ASSERT_EQ(rows.size(), 4u);
    std::vector<std::string> nameRow = {"候选人姓名"};
    nameRow.insert(nameRow.end(), names.begin(), names.end());
    EXPECT_EQ(rows[0], Row(nameRow));
    std::vector<std::string> symbolRow(13, "");
    symbolRow[0] = "符   号";
    EXPECT_EQ(rows[1], Row(symbolRow));
    EXPECT_EQ(rows[2], Row({"另选人姓名", "", ""}));
    EXPECT_EQ(rows[3], Row({"符   号", "", ""}));
    for (const auto& cells : doc.Of("C")) {
        EXPECT_EQ(cells, (std::vector<std::string>{"C", "1", "宋体/宋体/10"}));
    }
}

TEST(WordBallot, NoWriteInSlotsAndDefaultTitle) {
    TempFolder dir;
    const TReadDocument doc = SaveAndRead(BuildWordBallot("选票", {"甲", "乙"}, 7, -3), dir, "b.docx");
    EXPECT_EQ(doc.Title, "选票选票");
    EXPECT_EQ(doc.Shape(), "PPTPPPPP");
    const Lines paragraphs = doc.Of("P");
    EXPECT_EQ(paragraphs[0][2], "选票选票");
    EXPECT_EQ(paragraphs.back()[2], "3、本张选票所选人数不得多于7人，否则该选票作废。");
    EXPECT_EQ(doc.Of("R")[0], Row({"候选人姓名", "甲", "乙"}));
}

TEST(ElectionReport, CountsTablesAndClosingLines) {
    TempFolder dir;
    const TReadDocument doc = SaveAndRead(BuildElectionReport(ReportOf30()), dir, "report.docx");

    // heading, blank, sentence, section heading, table, blank, heading, table, blank, signature, date
    EXPECT_EQ(doc.Shape(), "PPPPTPPTPPP");
    const Lines p = doc.Of("P");
    EXPECT_EQ(p[0], (std::vector<std::string>{"P", "1", "第三届理事会选 举 报 告 单", "黑体/黑体/20;黑体/黑体/20"}));
    EXPECT_EQ(p[2], (std::vector<std::string>{
                        "P", "0",
                        "   本次选举应到代表    名，实到代表   名，发出选票   张，收回选票30 张，其中有效票 27 张，"
                        "废票 2 张，弃权票 1 张。",
                        "宋体/宋体/14"}));
    EXPECT_EQ(p[3][2], "候选人票数如下：");
    EXPECT_EQ(p[5][2], "另选人票数如下：");
    EXPECT_EQ(p[7], (std::vector<std::string>{"P", "0", "   计票人：                监票人：", "宋体/宋体/14"}));
    EXPECT_EQ(p[8], (std::vector<std::string>{"P", "2", "2026年3月5日   ", "宋体/宋体/14"}));

    const Lines tables = doc.Of("T");
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0], (std::vector<std::string>{"T", "4", "5", kBorders, "center"}));
    EXPECT_EQ(tables[1], (std::vector<std::string>{"T", "2", "5", kBorders, "center"}));
    const Lines rows = doc.Of("R");
    const Lines expectedRows = {kTallyHeader,
                                Row({"2", "乙", "20", "5", "2"}),
                                Row({"1", "甲", "12", "10", ""}),
                                Row({"3", "丙", "12", "0", "15"}),
                                kTallyHeader,
                                Row({"4", "丁", "3", "0", "24"})};
    EXPECT_EQ(rows, expectedRows);
    for (const auto& cells : doc.Of("C")) {
        EXPECT_EQ(cells, (std::vector<std::string>{"C", "1", "宋体/宋体/14"}));
    }
}

TEST(ElectionReport, WithoutWriteInsOrCandidates) {
    TempFolder dir;
    TElectionReportData data = ReportOf30();
    data.WriteIns.clear();
    TReadDocument doc = SaveAndRead(BuildElectionReport(data), dir, "r1.docx");
    EXPECT_EQ(doc.Shape(), "PPPPTPPPP");
    EXPECT_EQ(doc.Of("P")[5][2], "本次选举无另选人。");
    EXPECT_EQ(doc.Of("T").size(), 1u);

    data.Candidates.clear();
    data.Total = data.Valid = data.Invalid = data.Abstention = 0;
    doc = SaveAndRead(BuildElectionReport(data), dir, "r2.docx");
    EXPECT_EQ(doc.Of("T"), (Lines{{"T", "1", "5", kBorders, "center"}}));
    EXPECT_EQ(doc.Of("R"), (Lines{kTallyHeader}));
    EXPECT_NE(doc.Of("P")[2][2].find("收回选票0 张，其中有效票 0 张，废票 0 张，弃权票 0 张。"), std::string::npos);
}

TEST(WordDocument, MarkupCharactersAndBrokenTextStayReadable) {
    TempFolder dir;
    const std::string awkward = "<a & \"b\"> 'c' \x01\xFF end";
    TElectionReportData data = ReportOf30();
    data.Title = awkward;
    data.WriteIns = {{"5", awkward, "", "", ""}};
    const TReadDocument doc = SaveAndRead(BuildElectionReport(data), dir, "odd.docx");
    const std::string repaired = "<a & \"b\"> 'c' \xEF\xBF\xBD end";  // control dropped, bad byte replaced
    EXPECT_EQ(doc.Of("P")[0][2], repaired + "选 举 报 告 单");
    EXPECT_EQ(doc.Of("R").back(), Row({"5", repaired, "", "", ""}));
}

TEST(WordDocument, RunTextKeepsBlanksTabsAndBreaks) {
    EXPECT_EQ(XmlRunText("  a"), "<w:t xml:space=\"preserve\">  a</w:t>");
    EXPECT_EQ(XmlRunText("a\tb\r\nc\nd\re"),
              "<w:t xml:space=\"preserve\">a</w:t><w:tab/><w:t xml:space=\"preserve\">b</w:t><w:br/>"
              "<w:t xml:space=\"preserve\">c</w:t><w:br/><w:t xml:space=\"preserve\">d</w:t><w:br/>"
              "<w:t xml:space=\"preserve\">e</w:t>");
    EXPECT_EQ(XmlRunText(""), "");
    EXPECT_EQ(XmlAttribute("x\ty\"&"), "xy&quot;&amp;");
}

TEST(WordDocument, RefusesCellsOutsideTheTable) {
    TWordDocument doc;
    const std::size_t table = doc.AddTable(2, 3);
    EXPECT_NO_THROW(doc.SetCellText(table, 2, 3, "x"));
    EXPECT_THROW(doc.SetCellText(table, 3, 1, "x"), EKorvexError);
    EXPECT_THROW(doc.SetCellText(table, 1, 0, "x"), EKorvexError);
    EXPECT_THROW(doc.SetCellText(table + 1, 1, 1, "x"), EKorvexError);  // the paragraph after it
    EXPECT_THROW(doc.AddTable(0, 3), EKorvexError);
}

// LibreOffice opens the report, renders it to PDF and reads its text and tables.
TEST(ElectionReport, LibreOfficeRendersIt) {
    TempFolder dir;
    const std::string file = dir.File("报告.docx");
    WriteFileReplacing(file, BuildElectionReport(ReportOf30()).DocxBytes());
    ASSERT_EQ(ConvertWithLibreOffice(file, "pdf", dir.Path().string()), 0);
    const std::string pdf = TempFolder::Read(dir.File("报告.pdf"));
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_GT(pdf.size(), 5000u);

    ASSERT_EQ(ConvertWithLibreOffice(file, "txt:Text (encoded):UTF8", dir.Path().string()), 0);
    const std::string text = TempFolder::Read(dir.File("报告.txt"));
    for (const char* expected : {"第三届理事会选 举 报 告 单", "收回选票30 张，其中有效票 27 张", "候选人票数如下：",
                                 "不赞成票数", "乙", "丙", "另选人票数如下：", "丁", "2026年3月5日"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}
