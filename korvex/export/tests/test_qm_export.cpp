#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <sys/inotify.h>
#include <unistd.h>

#include "ReaderTools.h"
#include "database/NewDatabase.h"
#include "export/uQMExport.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"

using namespace korvex;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const std::vector<std::string> kSummaryHeader = {"S:序号", "S:姓名", "S:赞成票数", "S:不赞成票数", "S:弃权票数",
                                                 "S:是否另选人"};

class QMExportTest : public ::testing::Test {
protected:
    void OpenNew(const std::vector<std::string>& names) {
        CreateCountingDatabase(Folder.File("qm.mdb"), names);
        Db.Open(Folder.File("qm.mdb"));
    }
    void Sql(const std::string& statement) { Db.Conn().Execute(statement); }
    std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }
    // 甲 (3 approvals), 乙 (5) and 丙 (5), and the write-in 丁 (1).
    void OpenWithTallies() {
        OpenNew({"甲", "乙", "丙"});
        Sql("update [abc] set [zc]=3,[bzc]=2,[qq]=0 where [id]=1");
        Sql("update [abc] set [zc]=5,[bzc]=0,[qq]=0 where [id]=2");
        Sql("update [abc] set [zc]=5,[bzc]=0,[qq]=0 where [id]=3");
        Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (4,'丁',1,0,4,True)");
    }
    // Both independent readers agree on the sheet and the cells.
    Rows ReadBoth(const std::string& file, const std::string& sheet) {
        const TReadWorkbook xlrd = ReadWorkbookWithXlrd(file);
        EXPECT_EQ(xlrd.ExitCode, 0);
        EXPECT_EQ(xlrd.Sheets, std::vector<std::string>{sheet});
        const TReadWorkbook office = ReadWorkbookWithLibreOffice(file, Folder.File("office"));
        EXPECT_EQ(office.ExitCode, 0);
        EXPECT_EQ(office.Sheets, std::vector<std::string>{sheet});
        EXPECT_EQ(office.Cells, xlrd.Cells) << "LibreOffice and xlrd disagree";
        return xlrd.Cells;
    }

    TempFolder Folder;
    TQMDatabase Db;
};

Rows Sorted(Rows rows) {
    std::sort(rows.begin() + 1, rows.end());
    return rows;
}

}  // namespace

TEST_F(QMExportTest, SummaryByNumberAndByVotes) {
    OpenWithTallies();
    const std::string byNumber = Folder.File("计票结果_序号.xls");
    ExportSummary(Db, byNumber, false);
    EXPECT_EQ(ReadBoth(byNumber, "计票结果_序号"), (Rows{kSummaryHeader,
                                                          {"N:1", "S:甲", "N:3", "N:2", "N:0", "S:否"},
                                                          {"N:2", "S:乙", "N:5", "N:0", "N:0", "S:否"},
                                                          {"N:3", "S:丙", "N:5", "N:0", "N:0", "S:否"},
                                                          {"N:4", "S:丁", "N:1", "N:0", "N:4", "S:是"}}));

    const std::string byVotes = Folder.File("计票结果_票数.xls");
    ExportSummary(Db, byVotes, true);
    const TReadWorkbook read = ReadWorkbookWithXlrd(byVotes);
    EXPECT_EQ(read.Sheets, std::vector<std::string>{"计票结果_票数"});
    EXPECT_EQ(read.Cells, (Rows{kSummaryHeader,
                                {"N:2", "S:乙", "N:5", "N:0", "N:0", "S:否"},
                                {"N:3", "S:丙", "N:5", "N:0", "N:0", "S:否"},
                                {"N:1", "S:甲", "N:3", "N:2", "N:0", "S:否"},
                                {"N:4", "S:丁", "N:1", "N:0", "N:4", "S:是"}}));
}

// A save dialog returns any name the file system takes. Each must be written
// exactly, never a name cut at ";" (after deleting the chosen file) or a
// statement broken by "]".
TEST_F(QMExportTest, EveryPathADialogCanReturnGetsExactlyThatFile) {
    OpenWithTallies();
    const std::vector<std::string> names = {
        "结果;副本.xls",
        "a]b.xls",
        "x].[<y>] from [abc];.xls",
        "it's \"quoted\".xls",
        " 前后 空格 .xls",
        "Database=x;Excel 8.0;.xls",
        "文件夹;]'\" x/计票结果.xls",
        "Ünïcödé ёжик 📊.xls",
    };
    int n = 0;
    for (const std::string& name : names) {
        const std::filesystem::path folder = Folder.Path() / ("case" + std::to_string(++n));
        const std::filesystem::path file = folder / name;
        std::filesystem::create_directories(file.parent_path());
        // A decoy at the name cut at its first ";", which a cut path would destroy.
        const std::string cut = (folder / name.substr(0, name.find(';'))).string();
        if (cut != file.string() && !std::filesystem::exists(cut)) {
            std::filesystem::create_directories(std::filesystem::path(cut).parent_path());
            Folder.Write(std::filesystem::relative(cut, Folder.Path()).string(), "decoy");
        }
        for (int kind = 0; kind < 3; ++kind) {
            const std::function<void()> exports[] = {[&] { ExportSummary(Db, file.string(), false); },
                                                     [&] { ExportDetail(Db, file.string()); },
                                                     [&] { ExportDetailStatistics(Db, file.string()); }};
            ASSERT_EQ(ErrorOf(exports[kind]), "(no error)") << name;
            const TReadWorkbook read = ReadWorkbookWithXlrd(file.string());
            EXPECT_EQ(read.ExitCode, 0) << name;
            const char* sheets[] = {"计票结果_序号", "计票明细", "明细统计"};
            EXPECT_EQ(read.Sheets, std::vector<std::string>{sheets[kind]}) << name;
        }
        if (cut != file.string()) {
            EXPECT_EQ(TempFolder::Read(cut), "decoy") << name;
        }
        // Nothing else was written: no cut name, no temporary file left.
        std::vector<std::string> present;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                present.push_back(std::filesystem::relative(entry.path(), folder).string());
            }
        }
        std::sort(present.begin(), present.end());
        std::vector<std::string> expected = {name};
        if (cut != file.string()) {
            expected.push_back(std::filesystem::relative(cut, folder).string());
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(present, expected) << name;
    }
}

TEST_F(QMExportTest, PathsThatNameNoFileAreRefusedBeforeAnythingIsDeleted) {
    OpenWithTallies();
    const std::string kept = Folder.Write("kept.xls", "kept");
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {"", "没有指定导出文件。"},
        {Folder.File("sub") + "/", "导出目标是文件夹，不是文件：" + Folder.File("sub") + "/"},
        {Folder.File("."), "导出目标是文件夹，不是文件：" + Folder.File(".")},
        {kept + std::string(1, '\0') + ".xls", "导出文件名含有空字符，无法使用。"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf([&] { ExportSummary(Db, c.path, false); }), c.error);
        EXPECT_EQ(ErrorOf([&] { ExportDetail(Db, c.path); }), c.error);
        EXPECT_EQ(ErrorOf([&] { ExportDetailStatistics(Db, c.path); }), c.error);
    }
    EXPECT_EQ(TempFolder::Read(kept), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()), {}), 2) << "qm.mdb and kept.xls";
}

// The workbook is written under another name and renamed when complete: the
// chosen name is never opened for writing, so a crash leaves no half file there.
TEST_F(QMExportTest, TheChosenNameOnlyEverReceivesACompleteWorkbook) {
    OpenNew({"甲", "乙"});
    Db.EnsureDetailTable();
    Db.Conn().BeginTrans();
    for (int i = 0; i < 3000; ++i) {
        Sql("insert into [detail] ([票类型],[甲],[乙]) values ('有效票','O','X')");
    }
    Db.Conn().CommitTrans();
    const std::string folder = Folder.File("out");
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/计票明细.xls";
    Folder.Write("out/计票明细.xls", "previous");

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE), 0);
    ExportDetail(Db, file);
    std::vector<std::string> events;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            const std::string name = e->len > 0 ? e->name : "";
            if (name == "计票明细.xls") {
                events.push_back(e->mask & IN_CREATE       ? "create"
                                 : e->mask & IN_MODIFY     ? "write"
                                 : e->mask & IN_CLOSE_WRITE ? "close"
                                 : e->mask & IN_MOVED_TO   ? "renamed"
                                                           : "delete");
            }
            p += sizeof(inotify_event) + e->len;
        }
    }
    close(watch);
    EXPECT_EQ(events, (std::vector<std::string>{"delete", "renamed"}));
    EXPECT_EQ(ReadWorkbookWithXlrd(file).Cells.size(), 3001u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file left";
}

TEST_F(QMExportTest, ColumnsShowTheChineseHeadersAndNamesWhole) {
    OpenWithTallies();
    Sql("update [abc] set [xm]='欧阳娜娜娜娜娜娜' where [id]=2");
    const std::string file = Folder.File("计票结果_序号.xls");
    ExportSummary(Db, file, false);
    const std::map<int, double> widths = ReadColumnWidthsWithXlrd(file);
    ASSERT_EQ(widths.size(), 6u);
    // 序号, 姓名 (the longest name), 赞成票数, 不赞成票数, 弃权票数, 是否另选人
    const double needed[] = {4, 16, 8, 10, 8, 10};
    for (int c = 0; c < 6; ++c) {
        EXPECT_GE(widths.at(c), needed[c]) << "column " << c;
    }
}

TEST_F(QMExportTest, ExportingTwiceReplacesTheWorkbook) {
    OpenWithTallies();
    const std::string file = Folder.File("s.xls");
    ExportSummary(Db, file, false);
    Sql("update [abc] set [zc]=9 where [id]=1");
    ExportSummary(Db, file, true);
    const TReadWorkbook read = ReadWorkbookWithXlrd(file);
    EXPECT_EQ(read.Sheets, std::vector<std::string>{"计票结果_票数"});
    ASSERT_GE(read.Cells.size(), 2u);
    EXPECT_EQ(read.Cells[1], (std::vector<std::string>{"N:1", "S:甲", "N:9", "N:2", "N:0", "S:否"}));
}

TEST_F(QMExportTest, TargetThatCannotBeReplacedStaysUntouched) {
    OpenWithTallies();
    // Open in LibreOffice (its lock file beside it), or a folder in the way.
    const std::string open = Folder.Write("open.xls", "the workbook somebody has open");
    Folder.Write(".~lock.open.xls#", "lock");
    const std::string folder = Folder.File("folder.xls");
    std::filesystem::create_directories(folder + "/inside");
    for (const std::string& path : {open, folder}) {
        EXPECT_EQ(ErrorOf([&] { ExportSummary(Db, path, false); }), "无法覆盖目标文件：" + path);
        EXPECT_EQ(ErrorOf([&] { ExportDetail(Db, path); }), "无法覆盖目标文件：" + path);
        EXPECT_EQ(ErrorOf([&] { ExportDetailStatistics(Db, path); }), "无法覆盖目标文件：" + path);
    }
    EXPECT_EQ(TempFolder::Read(open), "the workbook somebody has open");
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/inside"));
}

TEST_F(QMExportTest, DetailGetsMissingColumnsFirst) {
    OpenNew({"张三", "李四"});
    Db.EnsureDetailTable();
    Sql("insert into [detail] ([票类型],[张三],[李四]) values ('有效票','O','X')");
    Sql("insert into [detail] ([票类型]) values ('弃权票')");
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (3,'王五',0,0,0,False)");
    const std::string file = Folder.File("计票明细.xls");
    ExportDetail(Db, file);
    EXPECT_EQ(ReadBoth(file, "计票明细"), (Rows{{"S:id", "S:票类型", "S:张三", "S:李四", "S:王五"},
                                                {"N:1", "S:有效票", "S:O", "S:X", "E:"},
                                                {"N:2", "S:弃权票", "E:", "E:", "E:"}}));
}

TEST_F(QMExportTest, StatisticsGroupMarksWithQuotedColumnsAndAbstentions) {
    OpenNew({"甲"});
    // Names with "]" never reach [abc] through the program; one put there by
    // hand must still be quoted correctly.
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (2,'x]y',0,0,0,False)");
    Db.EnsureDetailTable();
    for (const char* row : {"'有效票','O','X'", "'有效票','O','X'", "'废票','O','X'", "'有效票','X',' '"}) {
        Sql(std::string("insert into [detail] ([票类型],[甲],[x]]y]) values (") + row + ")");
    }
    Sql("insert into [detail] ([票类型]) values ('弃权票')");
    Sql("insert into [detail] ([票类型]) values ('弃权票')");
    const std::string file = Folder.File("明细统计.xls");
    ExportDetailStatistics(Db, file);
    EXPECT_EQ(Sorted(ReadBoth(file, "明细统计")), (Rows{{"S:票数", "S:甲", "S:x]y"},
                                                        {"N:1", "S:X", "S: "},
                                                        {"N:2", "E:", "E:"},
                                                        {"N:3", "S:O", "S:X"}}));
}

TEST_F(QMExportTest, StatisticsWithoutCandidateColumns) {
    OpenNew({});
    const std::string file = Folder.Write("明细统计.xls", "previous");
    EXPECT_EQ(ErrorOf([&] { ExportDetailStatistics(Db, file); }), "detail 中没有候选人字段，无法生成明细统计。");
    EXPECT_EQ(TempFolder::Read(file), "previous");
}

TEST_F(QMExportTest, EngineErrorsArePassedOn) {
    OpenWithTallies();
    const std::string file = Folder.File("missing/s.xls");
    const std::string message = ErrorOf([&] { ExportSummary(Db, file, false); });
    EXPECT_NE(message.find("missing/s.xls"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(QMExportTest, EngineNeverWritesOverAnExistingFile) {
    OpenWithTallies();
    EnsureWorkbookWriter(Db);
    const std::string file = Folder.Write("kept.xls", "kept");
    EXPECT_EQ(ErrorOf([&] { Sql("select [xm] into [Excel 8.0;Database=" + file + "].[<s>] from [abc]"); }),
              "目标文件已存在：" + file);
    EXPECT_EQ(TempFolder::Read(file), "kept");
}

TEST_F(QMExportTest, ClosedDatabase) {
    const std::string file = Folder.Write("x.xls", "kept");
    const std::function<void()> actions[] = {
        [&] { ExportSummary(Db, file, true); },
        [&] { ExportDetail(Db, file); },
        [&] { ExportDetailStatistics(Db, file); },
        [&] { WordBallot(Db, "选票", 5, 0, {Folder.File("Documents"), {}}); },
        [&] { ElectionReport(Db, "选举", false, {Folder.File("Documents"), {}}); },
        [&] { CountBallotsOfType(Db, "有效票"); },
    };
    for (const auto& action : actions) {
        EXPECT_EQ(ErrorOf(action), "数据库尚未打开。");
    }
    EXPECT_EQ(TempFolder::Read(file), "kept");
    EXPECT_FALSE(std::filesystem::exists(Folder.File("Documents")));
}

TEST_F(QMExportTest, WordBallotOfTheFormalCandidates) {
    std::vector<std::string> names;
    for (int i = 1; i <= 12; ++i) {
        names.push_back("候选" + std::to_string(i));
    }
    OpenNew(names);
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (13,'另选者',0,0,0,True)");
    std::string opened;
    const TSavedDocument saved =
        WordBallot(Db, "选票", 0, 2, {Folder.File("Documents"), [&](const std::string& file, std::string&) {
                                          opened = file;
                                          return true;
                                      }});
    EXPECT_EQ(opened, saved.FileName);
    EXPECT_EQ(std::filesystem::path(saved.FileName).parent_path(), Folder.Path() / "Documents");
    EXPECT_EQ(std::filesystem::path(saved.FileName).filename().string().rfind("选票_", 0), 0u);

    const TReadDocument doc = ReadDocumentWithPythonDocx(saved.FileName);
    ASSERT_EQ(doc.ExitCode, 0);
    EXPECT_EQ(doc.Title, "选票选票");
    EXPECT_EQ(doc.Of("T"), (Rows{{"T", "2", "13", "top=single,left=single,bottom=single,right=single,insideH=single,insideV=single", "center"},
                                 {"T", "2", "3", "top=single,left=single,bottom=single,right=single,insideH=single,insideV=single", "center"}}));
    std::vector<std::string> firstRow = {"R", "候选人姓名"};
    firstRow.insert(firstRow.end(), names.begin(), names.end());
    EXPECT_EQ(doc.Of("R")[0], firstRow);
    EXPECT_EQ(doc.Of("P").back()[2], "3、本张选票所选人数不得多于1人，否则该选票作废。");
}

TEST_F(QMExportTest, ElectionReportCountsAndOrder) {
    OpenNew({"甲", "乙", "丙"});
    Db.EnsureDetailTable();
    for (int i = 0; i < 27; ++i) {
        Sql("insert into [detail] ([票类型],[甲],[乙],[丙]) values ('有效票','O','O','X')");
    }
    for (int i = 0; i < 2; ++i) {
        Sql("insert into [detail] ([票类型],[甲],[乙],[丙]) values ('废票','O','O','O')");
    }
    Sql("insert into [detail] ([票类型]) values ('弃权票')");
    Sql("update [abc] set [zc]=3 where [id]=1");
    Sql("update [abc] set [zc]=5 where [id]=2");
    Sql("update [abc] set [zc]=5,[qq]=NULL where [id]=3");
    EXPECT_EQ(CountBallotsOfType(Db, "有效票"), 27);
    EXPECT_EQ(CountBallotsOfType(Db, "it's"), 0);

    TDocumentTarget target{Folder.File("Documents"), [](const std::string&, std::string& error) {
                               error = "no desktop";
                               return false;
                           }};
    const TSavedDocument byVotes = ElectionReport(Db, "第一届", true, target);
    EXPECT_EQ(byVotes.Notice,
              "文档已保存：" + byVotes.FileName + "\r\n无法用默认程序打开它（no desktop），请手动打开该文件。");
    EXPECT_EQ(std::filesystem::path(byVotes.FileName).filename().string().rfind("选举报告单_", 0), 0u);
    const TReadDocument doc = ReadDocumentWithPythonDocx(byVotes.FileName);
    ASSERT_EQ(doc.ExitCode, 0);
    const Rows paragraphs = doc.Of("P");
    EXPECT_NE(paragraphs[2][2].find("收回选票30 张，其中有效票 27 张，废票 2 张，弃权票 1 张。"), std::string::npos)
        << paragraphs[2][2];
    EXPECT_EQ(doc.Of("R"), (Rows{{"R", "序号", "姓名", "赞成票数", "不赞成票数", "弃权票数"},
                                 {"R", "2", "乙", "5", "0", "0"},
                                 {"R", "3", "丙", "5", "0", ""},
                                 {"R", "1", "甲", "3", "0", "0"}}));
    EXPECT_EQ(paragraphs[5][2], "本次选举无另选人。");

    const TSavedDocument byNumber = ElectionReport(Db, "第一届", false, target);
    EXPECT_NE(byNumber.FileName, byVotes.FileName);
    EXPECT_TRUE(std::filesystem::exists(byVotes.FileName));
    const Rows rows = ReadDocumentWithPythonDocx(byNumber.FileName).Of("R");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1][2], "甲");
    EXPECT_EQ(rows[2][2], "乙");
    EXPECT_EQ(rows[3][2], "丙");
}

// Flags written by other tools: NULL is a formal candidate, any value other
// than 0 (Access's True is -1) a write-in.
TEST_F(QMExportTest, WriteInFlagsOfOtherToolsInTheBallotAndTheReport) {
    OpenNew({"甲"});
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (2,'乙',4,0,0,NULL)");
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (3,'丙',2,0,0,-1)");
    Sql("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (4,'丁',1,0,0,True)");
    const TDocumentTarget target{Folder.File("Documents"), [](const std::string&, std::string&) { return true; }};

    const TReadDocument ballot = ReadDocumentWithPythonDocx(WordBallot(Db, "选票", 2, 0, target).FileName);
    ASSERT_EQ(ballot.ExitCode, 0);
    EXPECT_EQ(ballot.Of("R")[0], (std::vector<std::string>{"R", "候选人姓名", "甲", "乙"}));

    const TReadDocument report = ReadDocumentWithPythonDocx(ElectionReport(Db, "选举", false, target).FileName);
    ASSERT_EQ(report.ExitCode, 0);
    EXPECT_EQ(report.Of("R"), (Rows{{"R", "序号", "姓名", "赞成票数", "不赞成票数", "弃权票数"},
                                    {"R", "1", "甲", "0", "0", "0"},
                                    {"R", "2", "乙", "4", "0", "0"},
                                    {"R", "序号", "姓名", "赞成票数", "不赞成票数", "弃权票数"},
                                    {"R", "3", "丙", "2", "0", "0"},
                                    {"R", "4", "丁", "1", "0", "0"}}));

    const std::string file = Folder.File("s.xls");
    ExportSummary(Db, file, false);
    const TReadWorkbook summary = ReadWorkbookWithXlrd(file);
    ASSERT_EQ(summary.Cells.size(), 5u);
    EXPECT_EQ(summary.Cells[2][5], "S:否");
    EXPECT_EQ(summary.Cells[3][5], "S:是");
}
