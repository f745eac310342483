// Opening, schema upkeep, candidate maintenance and the maximum selection.
#include "DbFixture.h"
#include "model/TextUtil.h"

#include <filesystem>

using namespace korvex;
using namespace korvex::testing;

namespace {

using QMDatabaseTest = DbTest;

TEST_F(QMDatabaseTest, OpenRefusesMissingAccessAndForeignFiles) {
    const std::string missing = Folder.File("none.mdb");
    EXPECT_EQ(ErrorOf([&] { Db.Open(missing); }), "Access数据库不存在：" + missing);

    std::string jet(2048, '\0');
    jet.replace(0, 19, std::string("\0\1\0\0Standard Jet DB", 19));
    const std::string access = Folder.Write("access.mdb", jet);
    const std::string accessError = ErrorOf([&] { Db.Open(access); });
    EXPECT_NE(accessError.find("Access格式"), std::string::npos) << accessError;
    EXPECT_NE(accessError.find("转换"), std::string::npos) << accessError;
    EXPECT_FALSE(Db.IsOpen());

    const std::string junk = Folder.Write("junk.mdb", std::string(4096, 'j'));
    EXPECT_EQ(ErrorOf([&] { Db.Open(junk); }),
              "无法打开Access数据库。请优先使用Win32编译；如Jet不可用，请安装位数匹配的Access Database Engine。\r\n"
              "file is not a database");
    EXPECT_FALSE(Db.IsOpen());
    EXPECT_EQ(Db.DatabaseFile(), "");
}

TEST_F(QMDatabaseTest, OpenAndCloseKeepTheFullPath) {
    OpenNew({"甲"});
    EXPECT_TRUE(Db.IsOpen());
    EXPECT_EQ(Db.DatabaseFile(), std::filesystem::path(Path).lexically_normal().string());
    Db.Close();
    EXPECT_FALSE(Db.IsOpen());
    EXPECT_EQ(Db.DatabaseFile(), "");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(Folder.Path());
    Db.Open("./qm.mdb");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(Db.DatabaseFile(), std::filesystem::path(Path).lexically_normal().string());
}

TEST_F(QMDatabaseTest, ClosedDatabaseRefusesEveryDatabaseOperation) {
    TBallotTemplate t;
    TBallotRecognition r;
    int id = 0;
    bool changed = false;
    const std::vector<std::function<void()>> actions = {
        [&] { Db.LoadCandidates(true); },        [&] { Db.EnsureDetailTable(); },
        [&] { Db.ClearVotingResults(true); },    [&] { Db.ClearCandidatesAndResults(); },
        [&] { Db.RenumberCandidates(); },        [&] { Db.GetDetailCount(); },
        [&] { Db.CommitBallot(&t, &r, kValidBallot, id, changed); },
    };
    for (const auto& action : actions) EXPECT_EQ(ErrorOf(action), "数据库尚未打开。");
    EXPECT_FALSE(Db.IsScanCommitted("050C5D1FCA549E3B"));
}

TEST_F(QMDatabaseTest, LoadCandidatesReadsInIdOrderWithWriteInsOnRequest) {
    OpenNew({});
    Db.Conn().Execute("insert into [abc] values (5,' 丙 ',0,0,0,True)");
    Db.Conn().Execute("insert into [abc] values (2,'乙',0,0,0,NULL)");
    Db.Conn().Execute("insert into [abc] values (1,'甲',0,0,0,False)");
    EXPECT_EQ(Db.LoadCandidates(true), (std::vector<TCandidateInfo>{{1, "甲", false}, {2, "乙", false}, {5, " 丙 ", true}}));
    EXPECT_EQ(Db.LoadCandidates(false), (std::vector<TCandidateInfo>{{1, "甲", false}, {2, "乙", false}}));
}

TEST_F(QMDatabaseTest, DetailTableFollowsTheCandidateList) {
    OpenNew({});
    Db.EnsureDetailTable();
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型"}));
    Db.Conn().Execute("insert into [detail] ([票类型]) values ('有效票')");
    Db.Conn().Execute("insert into [abc] values (1,'O''Neil',0,0,0,False)");
    Db.Conn().Execute("insert into [abc] values (2,'李四',0,0,0,False)");
    Db.EnsureDetailTable();
    Db.EnsureDetailTable();
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "O'Neil", "李四"}));
    EXPECT_EQ(DetailRow(1), (std::vector<std::string>{"有效票", "NULL", "NULL"}));
}

TEST_F(QMDatabaseTest, TableAndColumnLookupsIgnoreLetterCase) {
    OpenNew({"zhang"});
    Db.Conn().Execute("create table [Detail] ([id] autoincrement primary key,[票类型] text(6),[Zhang] text(1))");
    Db.EnsureDetailTable();  // would fail with "duplicate column" if either lookup minded the case
    EXPECT_EQ(Db.Conn().TableNames(), (std::vector<std::string>{"abc", "Detail"}));
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "Zhang"}));
}

TEST_F(QMDatabaseTest, IdentifierQuotingDoublesOnlyItsOwnDelimiter) {
    struct Case {
        std::string in, ident;
    } cases[] = {
        {"O'Neil", "[O'Neil]"},
        {"a]b", "[a]]b]"},
        {"x'); drop table [abc]; --", "[x'); drop table [abc]]; --]"},
        {"", "[]"},
    };
    for (const auto& c : cases) EXPECT_EQ(TQMDatabase::QuoteIdentifier(c.in), c.ident);
}

TEST_F(QMDatabaseTest, RenumberKeepsTheOrder) {
    OpenNew({});
    Db.RenumberCandidates();  // empty: nothing to do, no error
    for (auto [id, name] : std::vector<std::pair<int, std::string>>{{20, "丙"}, {3, "甲"}, {7, "乙"}})
        Db.Conn().Execute("insert into [abc] values (" + std::to_string(id) + ",'" + name + "',1,2,3,False)");
    Db.RenumberCandidates();
    EXPECT_EQ(Db.LoadCandidates(true), (std::vector<TCandidateInfo>{{1, "甲", false}, {2, "乙", false}, {3, "丙", false}}));
    EXPECT_EQ(Tallies(Db)[2], (TTally{"丙", 1, 2, 3, false})) << "only the numbers change";
}

TEST_F(QMDatabaseTest, RenumberManyRows) {
    OpenNew({});
    Db.Conn().BeginTrans();
    for (int i = 0; i < 250; ++i)
        Db.Conn().Execute("insert into [abc] values (?,?,0,0,0,False)",
                          {std::int64_t{1000 + 3 * i}, Format("n%d", i)});
    Db.Conn().CommitTrans();
    Db.RenumberCandidates();
    const auto list = Db.LoadCandidates(true);
    ASSERT_EQ(list.size(), 250u);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(list[i].ID, i + 1);
        EXPECT_EQ(list[i].Name, Format("n%d", i));
    }
}

TEST_F(QMDatabaseTest, ClearVotingResultsOnAFreshDatabase) {
    OpenNew({"甲", "乙"});
    Db.Conn().Execute("update [abc] set [zc]=4,[bzc]=1,[qq]=2");
    Db.Conn().Execute("insert into [abc] values (3,'另',1,0,0,True)");
    Db.ClearVotingResults(true);
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"甲", 0, 0, 0, false}, {"乙", 0, 0, 0, false}}));
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "甲", "乙"}));
    EXPECT_EQ(Db.Conn().TableNames(), (std::vector<std::string>{"abc", "detail"}));
}

// Write-in flags as other tools store them: Access's True is -1, and a NULL
// flag is a formal candidate.
TEST_F(QMDatabaseTest, ClearVotingResultsRemovesEveryWriteInFlag) {
    OpenNew({"甲"});
    Db.Conn().Execute("insert into [abc] values (2,'乙',3,0,0,NULL)");
    Db.Conn().Execute("insert into [abc] values (3,'Access',1,0,0,-1)");
    Db.Conn().Execute("insert into [abc] values (4,'Korvex',1,0,0,True)");
    Db.Conn().Execute("insert into [abc] values (5,'Other',1,0,0,7)");
    Db.ClearVotingResults(true);
    EXPECT_EQ(Db.LoadCandidates(true), (std::vector<TCandidateInfo>{{1, "甲", false}, {2, "乙", false}}));
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "甲", "乙"}));
}

TEST_F(QMDatabaseTest, ClearCandidatesAndResultsLeavesAnEmptyList) {
    OpenNew({"甲", "乙"});
    Db.EnsureDetailTable();
    Db.Conn().Execute("insert into [detail] ([票类型]) values ('废票')");
    EXPECT_EQ(Db.GetDetailCount(), 1);
    Db.IsScanCommitted("X");  // creates [OCR_Commit]
    Db.Conn().Execute("insert into [OCR_Commit] ([ScanUID]) values ('A')");
    Db.ClearCandidatesAndResults();
    EXPECT_TRUE(Db.LoadCandidates(true).empty());
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型"}));
    EXPECT_EQ(Db.GetDetailCount(), 0);
    EXPECT_FALSE(Db.IsScanCommitted("A"));
}

TEST_F(QMDatabaseTest, MaxSelectSetting) {
    OpenNew({});
    const std::string ini = Folder.File("Korvex.ini");
    EXPECT_EQ(Db.ReadMaxSelect(5), 5) << "missing file";
    for (const char* text : {"0", "-3", "abc", ""}) {
        Folder.Write("Korvex.ini", std::string("[SYSTEM]\r\nBDY=") + text + "\r\n");
        EXPECT_EQ(Db.ReadMaxSelect(5), 5) << text;
    }
    Folder.Write("Korvex.ini", "[OCR]\r\nCommand=x\r\n");
    Db.WriteMaxSelect(12);
    EXPECT_EQ(Db.ReadMaxSelect(5), 12);
    EXPECT_NE(TempFolder::Read(ini).find("Command=x"), std::string::npos) << "other settings are kept";
    EXPECT_EQ(ErrorOf([&] { Db.WriteMaxSelect(0); }), "最多可选人数必须大于0。");
    EXPECT_EQ(Db.ReadMaxSelect(5), 12);
    std::filesystem::remove(ini);
    Db.Close();  // the setting does not need the database
    Db.WriteMaxSelect(3);
    EXPECT_EQ(Db.ReadMaxSelect(5), 3);
}

TEST_F(QMDatabaseTest, NewDatabaseHoldsTheGivenCandidates) {
    const std::string list =
        Folder.Write("names.txt", "\xEF\xBB\xBF张三\r\n\r\n  李四\u3000\r\nO'Neil\r\n\u3000\r\n");
    Path = Folder.File("qm.mdb");
    CreateCountingDatabase(Path, ReadCandidateNamesFile(list));
    Db.Open(Path);
    EXPECT_EQ(Db.LoadCandidates(true),
              (std::vector<TCandidateInfo>{{1, "张三", false}, {2, "李四", false}, {3, "O'Neil", false}}));
    EXPECT_EQ(Tallies(Db)[0], (TTally{"张三", 0, 0, 0, false}));
    EXPECT_EQ(Db.Conn().TableNames(), std::vector<std::string>{"abc"}) << "[detail] is Korvex's own to create";
    EXPECT_THROW(CreateCountingDatabase(Path, {}), EKorvexError) << "an existing file is never overwritten";
    EXPECT_EQ(Db.LoadCandidates(true).size(), 3u);
}

TEST_F(QMDatabaseTest, NewDatabaseRefusesBadNamesAndLeavesNoFile) {
    const struct {
        std::vector<std::string> names;
        std::string error;
    } bad[] = {
        {{"甲", "乙", "甲"}, "候选人姓名不能重复：甲"},
        {{"甲", "Zhang", "zhang"}, "候选人姓名不能重复：zhang"},
        {{"王五", "王五\u3000"}, "候选人姓名不能重复：王五"},
        {{"a]b"}, "候选人姓名不能包含字符 ]：a]b"},
        {{"x'); drop table [abc]; --"}, "候选人姓名不能包含字符 ]：x'); drop table [abc]; --"},
        {{"李\n四"}, "候选人姓名不能包含换行符或控制字符：李<U+000A>四"},
        {{"李\x01四"}, "候选人姓名不能包含换行符或控制字符：李<U+0001>四"},
        {{"李\u2029四"}, "候选人姓名不能包含换行符或控制字符：李<U+2029>四"},
        {{std::string(31, 'n')}, ""},
    };
    for (const auto& c : bad) {
        const std::string file = Folder.File("bad.mdb");
        const std::string error = ErrorOf([&] { CreateCountingDatabase(file, c.names); });
        if (c.error.empty()) {
            EXPECT_NE(error, "(no error)") << c.names.back();
        } else {
            EXPECT_EQ(error, c.error) << c.names.back();
        }
        EXPECT_FALSE(std::filesystem::exists(file)) << c.names.back();
    }
    CreateCountingDatabase(Folder.File("ok.mdb"), {std::string(30, 'n'), "x'); drop table abc; --"});
    Db.Open(Folder.File("ok.mdb"));
    EXPECT_EQ(Db.LoadCandidates(true)[1].Name, "x'); drop table abc; --");
}

}  // namespace
