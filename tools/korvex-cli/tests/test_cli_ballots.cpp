// Ballots through korvex-cli: the standard ballot and its printout, recognising
// and committing forged scans, batch scans from SANE's test device, and the
// OCR self-test.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <cmath>
#include <regex>
#include <tiffio.h>
#include <sstream>

#include "CliFixture.h"
#include "imaging/ImageFiles.h"
#include "imaging/tests/TestTiff.h"

namespace {

const std::vector<std::string> kNames{"张三", "李四", "王五"};

QJsonObject JsonLine(const std::string& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(doc.isObject()) << line;
    return doc.object();
}

std::string Text(const QJsonValue& v) { return v.toString().toStdString(); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One tally row, "id name approvals against abstentions write-in".
std::string TallyRow(const std::string& tallyOutput, int id) {
    for (const std::string& line : CliTest::Lines(tallyOutput)) {
        std::istringstream in(line);
        std::string first, name, zc, bzc, qq, nxr;
        if (in >> first >> name >> zc >> bzc >> qq >> nxr && first == std::to_string(id))
            return name + " " + zc + " " + bzc + " " + qq;
    }
    return "(no row " + std::to_string(id) + ")";
}

class CliBallots : public CliTest {
protected:
    void SetUp() override {
        NewDatabase(kNames);
        std::ofstream(Home("Korvex.ini"), std::ios::binary) << "[SYSTEM]\nBDY=2\n";
    }
};

}  // namespace

TEST_F(CliBallots, GenerateWritesTheStandardTemplateAndPreview) {
    const TProgramRun run = Cli({"generate", "--title", "第一届选举", "--write-ins", "2"});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_EQ(lines.size(), 2u) << run.Out;
    EXPECT_EQ(std::filesystem::path(lines[0]).parent_path(), Home("Templates"));
    const std::string ini = TempFolder::Read(lines[0]);
    EXPECT_TRUE(Contains(ini, "Title=第一届选举\r\n") || Contains(ini, "Title=第一届选举\n")) << ini.substr(0, 300);
    EXPECT_TRUE(Contains(ini, "MaxSelect=2")) << "the maximum selection comes from Korvex.ini";
    EXPECT_TRUE(Contains(ini, "WriteInSlots=2"));
    for (const std::string& name : kNames) EXPECT_TRUE(Contains(ini, "Name=" + name)) << name;
    EXPECT_EQ(TempFolder::Read(lines[1]).rfind("BM", 0), 0u) << "the preview is a bitmap: " << lines[1];
}

TEST_F(CliBallots, PrintWritesOnePdfPagePerCopy) {
    Generate("选票", 1);
    const std::string pdf = Home("ballots.pdf");
    const TProgramRun run = Cli({"print", "--copies", "3", "--pdf", pdf});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "3")) << run.Out;
    const TProgramRun info = RunProgram({"/usr/bin/pdfinfo", pdf}, {}, scratch_.File("pdfinfo"));
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_TRUE(std::regex_search(info.Out, std::regex("Pages:\\s+3\\n"))) << info.Out;
}

TEST_F(CliBallots, PrintRefusals) {
    const TProgramRun before = Cli({"print", "--copies", "1", "--pdf", Home("a.pdf")});
    EXPECT_EQ(before.ExitCode, kExitError);
    EXPECT_TRUE(Contains(before.Err, "请先生成标准选票")) << before.Err;
    Generate("选票", 0);
    const TProgramRun none = Cli({"print", "--copies", "0", "--pdf", Home("b.pdf")});
    EXPECT_EQ(none.ExitCode, kExitError);
    EXPECT_TRUE(Contains(none.Err, "打印份数")) << none.Err;
    EXPECT_FALSE(std::filesystem::exists(Home("a.pdf")));
    EXPECT_FALSE(std::filesystem::exists(Home("b.pdf")));
}

// Every field of the JSON lines, for a clean ballot, one whose write-in needs
// the OCR engine that is not there, an unreadable file and a missing one.
TEST_F(CliBallots, RecognizeJsonGivesEveryFieldPerImage) {
    const std::string templateFile = Generate("选票", 1);
    const std::string templateID = std::filesystem::path(templateFile).stem().string();
    const auto scans = Forge(templateFile, {"OX- | :-", "-XO | 赵六:O"}, Home("Scans/a"), 1);
    const std::string unreadable = scratch_.Write("broken.png", "\x89PNG but not really");
    const std::string missing = Home("Scans/none.png");
    const TProgramRun run = Cli({"recognize", "--json", scans[0], scans[1], unreadable, missing});
    EXPECT_EQ(run.ExitCode, kExitSomeImagesFailed) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;

    const QJsonObject clean = JsonLine(lines[0]);
    EXPECT_EQ(Text(clean["file"]), scans[0]);
    EXPECT_EQ(Text(clean["status"]), "已识别");
    EXPECT_EQ(Text(clean["error"]), "");
    EXPECT_EQ(Text(clean["template_id"]), templateID);
    EXPECT_EQ(clean["rotation"].toInt(-1), 90);
    EXPECT_LT(std::abs(clean["deskew"].toDouble(99)), 3.0);
    EXPECT_EQ(clean["need_review"], QJsonValue(false));
    const QJsonArray candidates = clean["candidates"].toArray();
    ASSERT_EQ(candidates.size(), 3);
    const char* marks[] = {"O", "X", "空白"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject c = candidates[i].toObject();
        EXPECT_EQ(c["id"].toInt(), i + 1);
        EXPECT_EQ(Text(c["name"]), kNames[i]);
        EXPECT_EQ(Text(c["mark"]), marks[i]) << kNames[i];
        EXPECT_GT(c["confidence"].toDouble(), 0.5);
        EXPECT_LE(c["confidence"].toDouble(), 1.0);
    }
    const QJsonArray cleanWriteIns = clean["writeins"].toArray();
    ASSERT_EQ(cleanWriteIns.size(), 1);
    const QJsonObject blankSlot = cleanWriteIns[0].toObject();
    EXPECT_EQ(blankSlot["slot"].toInt(), 1);
    EXPECT_EQ(Text(blankSlot["name"]), "");
    EXPECT_EQ(Text(blankSlot["mark"]), "空白");
    EXPECT_EQ(blankSlot["ocr_attempted"], QJsonValue(false));
    for (const char* key : {"mark_confidence", "name_confidence"}) EXPECT_TRUE(blankSlot[key].isDouble()) << key;
    EXPECT_EQ(Text(blankSlot["error"]), "");

    const QJsonObject writeIn = JsonLine(lines[1]);
    EXPECT_EQ(Text(writeIn["status"]), "待复核");
    EXPECT_EQ(writeIn["need_review"], QJsonValue(true));
    const QJsonObject slot = writeIn["writeins"].toArray().at(0).toObject();
    EXPECT_EQ(Text(slot["mark"]), "O");
    EXPECT_EQ(slot["ocr_attempted"], QJsonValue(true)) << "a reliable cross lets the name be read";
    EXPECT_TRUE(Contains(Text(slot["error"]), "Scrivane")) << Text(slot["error"]);

    for (std::size_t i : {2u, 3u}) {
        const QJsonObject failed = JsonLine(lines[i]);
        EXPECT_EQ(Text(failed["file"]), i == 2 ? unreadable : missing);
        EXPECT_EQ(Text(failed["status"]), "识别失败");
        EXPECT_FALSE(Text(failed["error"]).empty());
        EXPECT_EQ(failed["need_review"], QJsonValue(false));
        EXPECT_TRUE(failed["candidates"].toArray().isEmpty());
        EXPECT_TRUE(failed["writeins"].toArray().isEmpty());
    }
}

TEST_F(CliBallots, RecognizeReadsTheWriteInWithTheEngine) {
    UseBuiltScrivane();
    std::ofstream(Home("Korvex.ini"), std::ios::app) << "[SYSTEM]\nBDY=2\n";
    const auto scans = Forge(Generate("选票", 1), {"-XO | 赵六:O"}, Home("Scans/a"));
    const TProgramRun run = Cli({"recognize", "--json", scans[0]});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const QJsonObject slot = JsonLine(CliTest::Lines(run.Out).at(0))["writeins"].toArray().at(0).toObject();
    EXPECT_EQ(slot["ocr_attempted"], QJsonValue(true));
    EXPECT_EQ(Text(slot["error"]), "");
    EXPECT_FALSE(Text(slot["name"]).empty()) << run.Out;
    EXPECT_GT(slot["name_confidence"].toDouble(), 0.0);
}

TEST_F(CliBallots, RecognizePlainLinesAndSuccess) {
    const auto scans = Forge(Generate("选票", 0), {"OX-", "X-O"}, Home("Scans/a"));
    const TProgramRun run = Cli({"recognize", scans[0], scans[1]});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_EQ(lines.size(), 2u) << run.Out;
    EXPECT_EQ(lines[0], "已识别\t" + scans[0] + "\t张三=O 李四=X 王五=空白");
    EXPECT_EQ(lines[1], "已识别\t" + scans[1] + "\t张三=X 李四=空白 王五=O");
}

TEST_F(CliBallots, RecognizeRefusesAnUnknownTemplate) {
    const std::string templateFile = Generate("选票", 0);
    const auto scans = Forge(templateFile, {"OX-"}, Home("Scans/a"));
    const TProgramRun named = Cli({"recognize", "--template", Home("Templates/nosuch.ini"), scans[0]});
    EXPECT_EQ(named.ExitCode, kExitSomeImagesFailed);
    EXPECT_EQ(named.Out.rfind("识别失败\t" + scans[0] + "\t", 0), 0u) << named.Out;
    EXPECT_TRUE(Contains(named.Out, "nosuch.ini")) << named.Out;

    // A ballot whose template is not among the program folder's templates.
    std::filesystem::remove(templateFile);
    const TProgramRun unknown = Cli({"recognize", "--json", scans[0]});
    EXPECT_EQ(unknown.ExitCode, kExitSomeImagesFailed);
    const QJsonObject line = JsonLine(CliTest::Lines(unknown.Out).at(0));
    EXPECT_EQ(Text(line["status"]), "识别失败");
    EXPECT_FALSE(Text(line["error"]).empty());
}

// Clean ballots are committed with their proposed type, the one needing review
// is listed with its notes, and a scan already committed is refused, within
// the run and in a later one. The tallies and the detail export follow.
TEST_F(CliBallots, CommitCountsCleanBallotsOnce) {
    const auto scans = Forge(Generate("选票", 1), {"OX- | :-", "O-X | :-", "OOO | :-", "OX- | 赵六:O"}, Home("Scans/a"));
    const TProgramRun run = Cli({"commit", scans[0], scans[1], scans[2], scans[3], scans[0]});
    EXPECT_EQ(run.ExitCode, kExitSomeImagesFailed) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_GE(lines.size(), 6u) << run.Out;
    EXPECT_EQ(lines[0], "已入库\t" + scans[0] + "\t有效票\t明细号 1");
    EXPECT_EQ(lines[1], "已入库\t" + scans[1] + "\t有效票\t明细号 2");
    EXPECT_EQ(lines[2], "已入库\t" + scans[2] + "\t废票\t明细号 3") << "three approvals where two are allowed";
    EXPECT_EQ(lines[3], "待复核\t" + scans[3]);
    std::size_t i = 4;
    std::string notes;
    for (; i < lines.size() && lines[i].rfind("\t", 0) == 0; ++i) notes += lines[i] + "\n";
    EXPECT_TRUE(Contains(notes, "另选人1：")) << notes;
    ASSERT_EQ(lines.size(), i + 2) << run.Out;
    EXPECT_EQ(lines[i].rfind("入库失败\t" + scans[0] + "\t", 0), 0u) << lines[i];
    EXPECT_TRUE(Contains(lines[i], "重复")) << lines[i];
    EXPECT_EQ(lines[i + 1].rfind("入库 3 张，待复核 1 张，失败 1 张。", 0), 0u) << lines[i + 1];

    const TProgramRun again = Cli({"commit", scans[1]});
    EXPECT_EQ(again.ExitCode, kExitSomeImagesFailed);
    EXPECT_TRUE(Contains(again.Out, "入库失败\t" + scans[1])) << again.Out;

    const TProgramRun tally = Cli({"tally"});
    ASSERT_EQ(tally.ExitCode, kExitOk) << tally.Err;
    // An invalid ballot counts for no one.
    EXPECT_EQ(TallyRow(tally.Out, 1), "张三 2 0 0");
    EXPECT_EQ(TallyRow(tally.Out, 2), "李四 0 1 1");
    EXPECT_EQ(TallyRow(tally.Out, 3), "王五 0 1 1");
    EXPECT_TRUE(Contains(tally.Out, "已入库选票 / ballots committed: 3")) << tally.Out;

    const TProgramRun exported = Cli({"export", "detail", Home("detail.xls")});
    ASSERT_EQ(exported.ExitCode, kExitOk) << exported.Err;
    const std::string detail = ReadWorkbook(Home("detail.xls"));
    EXPECT_TRUE(Contains(detail, "N:1.0\tS:有效票\tS:O\tS:X\t")) << detail;
    EXPECT_TRUE(Contains(detail, "N:2.0\tS:有效票\tS:O\tS: \tS:X")) << detail;
    EXPECT_TRUE(Contains(detail, "N:3.0\tS:废票")) << detail;
}

// A two-page black-and-white G4 TIFF: each page is a ballot of its own, named
// by its page; committing the file again is refused page by page.
TEST_F(CliBallots, MultiPageTiffCommittedPageByPage) {
    const auto scans = Forge(Generate("选票", 0), {"OX-", "X-O"}, Home("Scans/a"));
    std::vector<korvex::test::TTiffPage> pages;
    for (const std::string& scan : scans)
        pages.push_back(korvex::test::TiffPage(korvex::LoadWorkingBitmap(scan), korvex::test::tpBilevel,
                                               COMPRESSION_CCITTFAX4, true));
    const std::string batch = Home("Scans/batch.tif");
    std::ofstream(batch, std::ios::binary) << korvex::test::EncodeTiff(pages);
    const std::string first = batch + "（第 1/2 页）", second = batch + "（第 2/2 页）";

    const TProgramRun json = Cli({"recognize", "--json", batch});
    ASSERT_EQ(json.ExitCode, kExitOk) << json.Err << json.Out;
    const auto jsonLines = CliTest::Lines(json.Out);
    ASSERT_EQ(jsonLines.size(), 2u) << json.Out;
    for (int i = 0; i < 2; ++i) {
        const QJsonObject line = JsonLine(jsonLines[static_cast<std::size_t>(i)]);
        EXPECT_EQ(Text(line["file"]), batch);
        EXPECT_EQ(line["page"].toInt(), i + 1);
    }

    const TProgramRun run = Cli({"commit", batch, batch});
    EXPECT_EQ(run.ExitCode, kExitSomeImagesFailed) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_EQ(lines.size(), 5u) << run.Out;
    EXPECT_EQ(lines[0], "已入库\t" + first + "\t有效票\t明细号 1");
    EXPECT_EQ(lines[1], "已入库\t" + second + "\t有效票\t明细号 2");
    EXPECT_EQ(lines[2].rfind("入库失败\t" + first + "\t", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("入库失败\t" + second + "\t", 0), 0u) << lines[3];
    EXPECT_TRUE(Contains(lines[3], "重复")) << lines[3];
    EXPECT_EQ(TallyRow(Cli({"tally"}).Out, 1), "张三 1 1 0");
}

TEST_F(CliBallots, CommitOfUnreadableImagesCommitsNothing) {
    const std::string broken = scratch_.Write("broken.bmp", "BM broken");
    const TProgramRun run = Cli({"commit", broken});
    EXPECT_EQ(run.ExitCode, kExitSomeImagesFailed);
    EXPECT_EQ(run.Out.rfind("识别失败\t" + broken + "\t", 0), 0u) << run.Out;
    EXPECT_TRUE(Contains(Cli({"tally"}).Out, "ballots committed: 0"));
}

namespace {

// SANE's "test" backend only, from a private configuration folder: ten sheets
// in its feeder.
TEnvironmentChanges SaneTestDevice(const std::string& folder, bool withDevice = true) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/dll.conf") << (withDevice ? "test\n" : "");
    std::ofstream(folder + "/test.conf") << "number_of_devices 1\nmode Color\ndepth 8\nresolution 300\n"
                                            "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
                                            "scan-source \"Automatic Document Feeder\"\ntest-picture \"Grid\"\n";
    return {{"SANE_CONFIG_DIR", folder}};
}

}  // namespace

TEST_F(CliBallots, ScanWritesABatchIntoANewScansFolder) {
    const TProgramRun run = Cli({"scan", "--device", "test:0", "--dpi", "50", "--max-pages", "3"},
                                SaneTestDevice(scratch_.File("sane")));
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const auto files = CliTest::Lines(run.Out);
    ASSERT_EQ(files.size(), 3u) << run.Out;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::filesystem::path f(files[i]);
        EXPECT_EQ(f.filename(), "scan_00000" + std::to_string(i + 1) + ".bmp");
        EXPECT_EQ(f.parent_path().parent_path(), Home("Scans"));
        EXPECT_TRUE(std::regex_match(f.parent_path().filename().string(), std::regex("\\d{8}_\\d{6}")));
        EXPECT_EQ(TempFolder::Read(files[i]).rfind("BM", 0), 0u) << files[i];
    }
}

TEST_F(CliBallots, ScanAndRecognizeTheFirstDevice) {
    const TProgramRun run = Cli({"scan", "--dpi", "50", "--max-pages", "2", "--recognize"},
                                SaneTestDevice(scratch_.File("sane")));
    // A test pattern is not a ballot: scanned, then refused by recognition.
    EXPECT_EQ(run.ExitCode, kExitSomeImagesFailed) << run.Err;
    const auto lines = CliTest::Lines(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;
    for (std::size_t i : {2u, 3u}) EXPECT_EQ(lines[i].rfind("识别失败\t" + lines[i - 2] + "\t", 0), 0u) << lines[i];
}

TEST_F(CliBallots, ScanListNamesEachDeviceWithItsOptions) {
    const auto sane = SaneTestDevice(scratch_.File("sane"));
    const TProgramRun run = Cli({"scan", "--list"}, sane);
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const std::vector<std::string> expected = {
        "test:0\tNoname frontend-tester（virtual device）",
        "  来源 / sources: Flatbed, Automatic Document Feeder",
        "  分辨率 / resolutions: 1–1200 dpi (step 1)",
        "  扫描宽度 / scan width (br-x): 0–300 mm (step 1)",
        "  扫描高度 / scan height (br-y): 0–300 mm (step 1)",
        "  纸张宽度 / page width: none",
        "  纸张高度 / page height: none",
    };
    EXPECT_EQ(CliTest::Lines(run.Out), expected);
    EXPECT_EQ(Cli({"scan", "--list", "--device", "test:0"}, sane).Out, run.Out);
    EXPECT_EQ(Cli({"scan", "--list", "--dpi", "50"}, sane).ExitCode, kExitUsage);
    const TProgramRun unknown = Cli({"scan", "--list", "--device", "nosuch:0"}, sane);
    EXPECT_EQ(unknown.ExitCode, kExitError);
    EXPECT_TRUE(Contains(unknown.Err, "nosuch:0")) << unknown.Err;
}

TEST_F(CliBallots, ScanRefusals) {
    const TProgramRun unknown = Cli({"scan", "--device", "nosuch:0", "--dpi", "50", "--max-pages", "1"},
                                    SaneTestDevice(scratch_.File("sane")));
    EXPECT_EQ(unknown.ExitCode, kExitError);
    EXPECT_FALSE(unknown.Err.empty());
    EXPECT_TRUE(unknown.Out.empty()) << unknown.Out;

    const TProgramRun none = Cli({"scan", "--dpi", "50"}, SaneTestDevice(scratch_.File("sane-empty"), false));
    EXPECT_EQ(none.ExitCode, kExitError);
    EXPECT_FALSE(none.Err.empty());
}

TEST_F(CliTest, OcrSelfTestWithAndWithoutTheEngine) {
    const TProgramRun missing = Cli({"ocr-selftest"});
    EXPECT_EQ(missing.ExitCode, kExitError);
    EXPECT_TRUE(Contains(missing.Err, "未找到 Scrivane")) << missing.Err;
    EXPECT_TRUE(Contains(missing.Err, Home("OCR"))) << "names where the engine belongs: " << missing.Err;

    UseBuiltScrivane();
    const TProgramRun found = Cli({"ocr-selftest"});
    EXPECT_EQ(found.ExitCode, kExitOk) << found.Err;
    EXPECT_TRUE(Contains(found.Out, "自检通过")) << found.Out;
    EXPECT_TRUE(Contains(found.Out, KORVEX_SCRIVANE)) << found.Out;
}
