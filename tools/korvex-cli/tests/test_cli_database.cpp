// The counting database through korvex-cli: creating it, the tallies, the
// exports and Word documents, the help, and the refusals when qm.mdb is
// missing or not a database.
#include <gtest/gtest.h>

#include <fstream>

#include "CliFixture.h"
#include "database/uBallotDB.h"

using namespace korvex;

namespace {

const std::vector<std::string> kNames{"张三", "李四", "王五"};

// Approvals set straight in [abc], so that the order by votes differs from the order by number.
void SetApprovals(const std::string& dbFile, const std::vector<int>& approvals) {
    TQMDatabase db;
    db.Open(dbFile);
    for (std::size_t i = 0; i < approvals.size(); ++i)
        db.Conn().Execute("update [abc] set [zc]=? where [id]=?",
                          {std::int64_t{approvals[i]}, static_cast<std::int64_t>(i + 1)});
}

bool StartsWith(const std::string& file, const std::string& magic) {
    return TempFolder::Read(file).rfind(magic, 0) == 0;
}

}  // namespace

TEST_F(CliTest, HelpNamesEveryCommandInChineseAndEnglish) {
    for (const std::string arg : {"help", "--help", "-h"}) {
        const TProgramRun run = Cli({arg});
        EXPECT_EQ(run.ExitCode, kExitOk) << arg;
        EXPECT_NE(run.Out.find("用法"), std::string::npos) << arg;
        EXPECT_NE(run.Out.find("usage"), std::string::npos) << arg;
        for (const char* command : {"new-database", "generate", "print", "recognize", "commit", "export", "report",
                                    "word-ballot", "tally", "scan", "ocr-selftest"})
            EXPECT_NE(run.Out.find(std::string("  ") + command), std::string::npos) << command;
        EXPECT_NE(run.Out.find("退出码 / exit codes"), std::string::npos);
    }
}

TEST_F(CliTest, WrongCommandLinesAreUsageErrors) {
    const struct {
        std::vector<std::string> args;
        std::string message;  // on standard error
    } cases[] = {
        {{}, "usage"},
        {{"frobnicate"}, "unknown command: frobnicate"},
        {{"recognize"}, "no image given"},
        {{"recognize", "--jsn", "a.png"}, "unknown option: --jsn"},
        {{"commit"}, "no image given"},
        {{"generate", "--write-ins", "two"}, "needs a number"},
        {{"generate", "--title"}, "needs a value"},
        {{"word-ballot", "--write-ins", "2x"}, "needs a number"},
        {{"print", "--copies", "many"}, "needs a number"},
        {{"scan", "--max-pages", "--recognize"}, "needs a number"},
        {{"export", "summary"}, "usage: export"},
        {{"export", "totals", "x.xls"}, "unknown export: totals"},
        {{"tally", "extra"}, "unexpected argument: extra"},
    };
    for (const auto& c : cases) {
        const TProgramRun run = Cli(c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(run.ExitCode, kExitUsage) << shown;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << shown << ": " << run.Err;
        EXPECT_TRUE(run.Out.empty()) << shown;
    }
    EXPECT_FALSE(std::filesystem::exists(Home("qm.mdb")));
}

TEST_F(CliTest, NewDatabaseTakesTheCandidatesInOrder) {
    // Blanks of every kind are trimmed; a line of blanks names no one.
    std::ofstream(scratch_.File("names.txt"), std::ios::binary)
        << "\xEF\xBB\xBF张三\r\n  李四\u3000\r\n\r\n\u3000\r\n王五\r\n";
    const TProgramRun made = Cli({"new-database", "--candidates", scratch_.File("names.txt")});
    ASSERT_EQ(made.ExitCode, kExitOk) << made.Err;
    EXPECT_NE(made.Out.find("候选人 3 人"), std::string::npos) << made.Out;

    const TProgramRun tally = Cli({"tally"});
    ASSERT_EQ(tally.ExitCode, kExitOk) << tally.Err;
    const auto lines = CliTest::Lines(tally.Out);
    ASSERT_EQ(lines.size(), 5u) << tally.Out;  // header, three candidates, the ballot count
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        EXPECT_EQ(lines[i + 1].rfind(std::to_string(i + 1) + " ", 0), 0u) << lines[i + 1];
        EXPECT_NE(lines[i + 1].find(kNames[i]), std::string::npos) << lines[i + 1];
    }
    EXPECT_EQ(lines.back(), "已入库选票 / ballots committed: 0");
}

TEST_F(CliTest, NewDatabaseWithoutCandidatesIsEmpty) {
    ASSERT_EQ(Cli({"new-database"}).ExitCode, kExitOk);
    const TProgramRun tally = Cli({"tally"});
    ASSERT_EQ(tally.ExitCode, kExitOk) << tally.Err;
    EXPECT_EQ(CliTest::Lines(tally.Out).size(), 2u) << tally.Out;
}

TEST_F(CliTest, NewDatabaseRefusals) {
    const struct {
        std::string names;  // file contents; empty: no file at all
        std::string message;
    } cases[] = {
        {"张三\n李]四\n", "不能包含字符 ]"},
        {"张三\n李四\n张三\n", "不能重复"},
        {"王五\n王五\u3000\n", "不能重复"},
        {"张三\n李\u2028四\n", "候选人姓名不能包含换行符或控制字符：李<U+2028>四"},
        {"张三\n李\x01四\n", "候选人姓名不能包含换行符或控制字符：李<U+0001>四"},
        {"", "names.txt"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(scratch_.File("names.txt"));
        if (!c.names.empty()) std::ofstream(scratch_.File("names.txt"), std::ios::binary) << c.names;
        const TProgramRun run = Cli({"new-database", "--candidates", scratch_.File("names.txt")});
        EXPECT_EQ(run.ExitCode, kExitError) << c.message;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << run.Err;
        EXPECT_FALSE(std::filesystem::exists(Home("qm.mdb"))) << "a refused list leaves no database: " << c.message;
    }
}

TEST_F(CliTest, NewDatabaseNeverOverwritesOne) {
    NewDatabase(kNames);
    const std::string before = TempFolder::Read(Home("qm.mdb"));
    const TProgramRun again = Cli({"new-database"});
    EXPECT_EQ(again.ExitCode, kExitError);
    EXPECT_FALSE(again.Err.empty());
    EXPECT_EQ(TempFolder::Read(Home("qm.mdb")), before);
}

// Every command that works on the counting database refuses to run without one,
// or with a qm.mdb that is not a database, and writes nothing.
TEST_F(CliTest, CommandsNeedAnOpenDatabase) {
    const std::vector<std::vector<std::string>> commands{
        {"tally"},
        {"generate", "--title", "T", "--write-ins", "1"},
        {"commit", scratch_.File("scan.png")},
        {"export", "summary", Home("out.xls")},
        {"export", "detail", Home("out.xls")},
        {"report"},
        {"word-ballot"},
    };
    for (const bool corrupt : {false, true}) {
        if (corrupt) std::ofstream(Home("qm.mdb"), std::ios::binary) << "not a database at all";
        for (const auto& args : commands) {
            const TProgramRun run = Cli(args);
            EXPECT_EQ(run.ExitCode, kExitError) << args.front() << (corrupt ? " (corrupt)" : " (missing)");
            EXPECT_NE(run.Err.find("korvex-cli: "), std::string::npos) << run.Err;
            if (!corrupt) {
                EXPECT_NE(run.Err.find("qm.mdb"), std::string::npos) << run.Err;
            }
            EXPECT_FALSE(std::filesystem::exists(Home("out.xls"))) << args.front();
            EXPECT_FALSE(std::filesystem::exists(Home("Templates"))) << args.front();
        }
    }
}

TEST_F(CliTest, ExportsWriteTheirWorkbooks) {
    NewDatabase(kNames);
    SetApprovals(Home("qm.mdb"), {1, 2, 7});
    const struct {
        std::string kind;
        std::string sheet;
        std::vector<std::string> order;  // of the names in the first sheet
    } cases[] = {
        {"summary", "计票结果_序号", {"张三", "李四", "王五"}},
        {"summary-by-votes", "计票结果_票数", {"王五", "李四", "张三"}},
        {"detail", "计票明细", {"张三", "李四", "王五"}},
        {"statistics", "明细统计", {"张三", "李四", "王五"}},
    };
    for (const auto& c : cases) {
        const std::string file = Home(c.kind + ".xls");
        const TProgramRun run = Cli({"export", c.kind, file});
        ASSERT_EQ(run.ExitCode, kExitOk) << c.kind << ": " << run.Err;
        EXPECT_NE(run.Out.find(file), std::string::npos) << run.Out;
        ASSERT_TRUE(StartsWith(file, "\xD0\xCF\x11\xE0")) << c.kind << ": not a compound document";
        const std::string read = ReadWorkbook(file);
        EXPECT_EQ(read.rfind("sheet:" + c.sheet + "\n", 0), 0u) << read;
        std::size_t at = 0;
        for (const std::string& name : c.order) {
            at = read.find(name, at);
            EXPECT_NE(at, std::string::npos) << c.kind << ": " << name << " out of order\n" << read;
        }
    }
}

// The file named on the command line is the file written, whatever it holds.
TEST_F(CliTest, ExportWritesExactlyTheFileNamed) {
    NewDatabase(kNames);
    std::ofstream(Home("结果"), std::ios::binary) << "decoy";
    for (const std::string name : {"结果;副本.xls", "a]b.xls", "it's \"q\" x.xls"}) {
        const std::string file = Home(name);
        const TProgramRun run = Cli({"export", "summary", file});
        ASSERT_EQ(run.ExitCode, kExitOk) << name << ": " << run.Err;
        EXPECT_NE(run.Out.find(file), std::string::npos) << run.Out;
        EXPECT_TRUE(StartsWith(file, "\xD0\xCF\x11\xE0")) << name;
        EXPECT_EQ(ReadWorkbook(file).rfind("sheet:计票结果_序号\n", 0), 0u) << name;
    }
    EXPECT_EQ(TempFolder::Read(Home("结果")), "decoy");
}

TEST_F(CliTest, ExportIntoAMissingFolderFails) {
    NewDatabase(kNames);
    const TProgramRun run = Cli({"export", "summary", Home("no/such/folder/out.xls")});
    EXPECT_EQ(run.ExitCode, kExitError);
    EXPECT_FALSE(run.Err.empty());
}

namespace {

// The text of word/document.xml, read with Python's zip reader.
std::string DocumentXml(const std::string& docx, const std::string& scratch) {
    const TProgramRun run = RunProgram(
        {"/usr/bin/python3", "-c",
         "import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read('word/document.xml').decode())", docx},
        {}, scratch);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    return run.Out;
}

}  // namespace

TEST_F(CliTest, ReportListsTheCandidatesByNumberOrByVotes) {
    NewDatabase(kNames);
    SetApprovals(Home("qm.mdb"), {1, 2, 7});
    for (const bool byVotes : {false, true}) {
        std::vector<std::string> args{"report", "--title", "区代表选举"};
        if (byVotes) args.push_back("--by-votes");
        const TProgramRun run = Cli(args);
        ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
        const auto lines = CliTest::Lines(run.Out);
        ASSERT_EQ(lines.size(), 1u) << run.Out;
        ASSERT_TRUE(std::filesystem::exists(lines[0])) << lines[0];
        EXPECT_EQ(std::filesystem::path(lines[0]).extension(), ".docx");
        const std::string xml = DocumentXml(lines[0], scratch_.File("zip"));
        EXPECT_NE(xml.find("区代表选举"), std::string::npos);
        const auto first = xml.find("张三"), last = xml.find("王五");
        ASSERT_NE(first, std::string::npos);
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(byVotes, last < first) << (byVotes ? "by votes: 王五 (7) leads" : "by number: 张三 leads");
        std::filesystem::remove(lines[0]);
    }
}

TEST_F(CliTest, WordBallotHoldsTheTitleAndCandidates) {
    NewDatabase(kNames);
    const TProgramRun run = Cli({"word-ballot", "--title", "村委会选举", "--write-ins", "2"});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
    const std::string file = CliTest::Lines(run.Out).at(0);
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(std::filesystem::path(file).extension(), ".docx");
    ASSERT_TRUE(StartsWith(file, "PK"));
    const std::string xml = DocumentXml(file, scratch_.File("zip"));
    EXPECT_NE(xml.find("村委会选举"), std::string::npos);
    for (const std::string& name : kNames) EXPECT_NE(xml.find(name), std::string::npos) << name;
}
