// The Access SQL forms Korvex writes, each run on a real SQLite file.
#include <gtest/gtest.h>

#include "../../model/tests/TempFolder.h"
#include "database/AccessSql.h"
#include "database/SqliteEngine.h"

using namespace korvex;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { Conn.CreateDatabase(Folder.File("t.db")); }
    std::string One(const std::string& sql) {
        auto q = Conn.OpenQuery(sql);
        EXPECT_FALSE(q->Eof()) << sql;
        if (q->Eof()) return "(no row)";
        return q->IsNull(q->FieldName(0)) ? "NULL" : q->AsText(q->FieldName(0));
    }
    std::string ErrorOf(const std::string& sql) {
        try {
            Conn.Execute(sql);
        } catch (const EDbError& e) {
            return e.what();
        }
        return "(no error)";
    }
    TempFolder Folder;
    TSqliteConnection Conn;
};

TEST(AccessSqlTest, TranslatesOnlyTheListedForms) {
    struct Case {
        const char* access;
        const char* sqlite;
    } cases[] = {
        {"select [a]]b] from [t]", R"(select "a]b" from "t")"},
        {R"(select [say "hi"] from t)", R"(select "say ""hi""" from t)"},
        {"select @@identity as NewID", "select last_insert_rowid() as NewID"},
        {"select '[x] @@identity text(5)' from t", "select '[x] @@identity text(5)' from t"},
        {"select 1 -- [x] long\n", "select 1 -- [x] long\n"},
        {"create table [t] ([id] autoincrement primary key,[n] long)",
         R"(create table "t" ("id" integer primary key autoincrement,"n" integer))"},
        {"alter table [d] add column [x] text(1)",
         R"(alter table "d" add column "x" text(1) collate nocase constraint "x 最多 1 个字符" check(length("x")<=1))"},
        {"select long, text from t", "select long, text from t"},
        {"update [t] set [v]=iif([b]=True,1,0) where [n]=False", R"(update "t" set "v"=iif("b"=True,1,0) where "n"=False)"},
    };
    for (const auto& c : cases) {
        const auto t = TranslateAccessSql(c.access);
        EXPECT_EQ(t.Sql, c.sqlite) << c.access;
        EXPECT_FALSE(t.Workbook);
    }
}

TEST(AccessSqlTest, FormsThatMeanOtherThingsInSqliteAreRefused) {
    const struct {
        const char* sql;
        const char* error;  // the start of the message
    } cases[] = {
        {"select [xm] & '先生' from [abc]", "不支持 Access 的 & 文字连接"},
        {"select * from [abc] where [xm]=\"王五\"", "不支持双引号括起的文字"},
        {"select * from [abc] where [xm] like '王*'", "不支持 like 模式中的 *"},
        {"select * from [abc] where [xm] not like '*五'", "不支持 like 模式中的 *"},
        {"select * from [abc] where [xm] like [zc]", "like 的模式只能是文字或参数"},
    };
    for (const auto& c : cases) {
        std::string error = "(no error)";
        try {
            TranslateAccessSql(c.sql);
        } catch (const EDbError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.sql << ": " << error;
        EXPECT_NE(error.find(c.sql), std::string::npos) << "the message names the statement";
    }
    // The same characters inside texts and names, and SQLite's own pattern forms, pass.
    for (const char* sql : {"select '&\"*' from [a&b]", R"(select [say "hi"] from t)",
                            "select * from [abc] where [xm] like '王%' and [xm] like ?"}) {
        EXPECT_NO_THROW(TranslateAccessSql(sql)) << sql;
    }
}

TEST(AccessSqlTest, ParametersAreCountedOutsideTextsAndNames) {
    const auto t = TranslateAccessSql("select '?',[a?] from [t] where [x]=? and [y] like ? and [z]<>? -- ?");
    EXPECT_EQ(t.ParameterCount, 3u);
    EXPECT_EQ(t.LikeParameters, std::vector<std::size_t>{1});
    EXPECT_EQ(t.Sql, R"(select '?',"a?" from "t" where "x"=? and "y" like ? and "z"<>? -- ?)");
}

TEST(AccessSqlTest, SelectIntoAWorkbookIsSplitOff) {
    const auto t = TranslateAccessSql(
        "select [id] as 序号,[xm] as 姓名 into [Excel 8.0;Database=/tmp/out dir/r.xls].[<计票结果_序号>] from [abc] "
        "order by [zc] desc,[id]");
    ASSERT_TRUE(t.Workbook);
    EXPECT_EQ(t.Workbook->Path, "/tmp/out dir/r.xls");
    EXPECT_EQ(t.Workbook->Sheet, "计票结果_序号");
    EXPECT_EQ(t.Sql, R"(select "id" as 序号,"xm" as 姓名 from "abc" order by "zc" desc,"id")");
    // The path is the whole rest of the bracket: ";", quotes and a doubled "]" are part of it.
    const auto odd = TranslateAccessSql(
        "select * into [Excel 8.0;Database=/tmp/a;b]]c 'd\" e;Database=f.xls].[<计票明细>] from [detail]");
    ASSERT_TRUE(odd.Workbook);
    EXPECT_EQ(odd.Workbook->Path, "/tmp/a;b]c 'd\" e;Database=f.xls");
    EXPECT_EQ(odd.Sql, R"(select * from "detail")");
    // An ordinary into (not an Excel target) is left to the engine.
    EXPECT_FALSE(TranslateAccessSql("select * into [copy] from [abc]").Workbook);
}

TEST_F(EngineTest, AutoincrementAndIdentity) {
    Conn.Execute("create table [detail] ([id] autoincrement primary key,[票类型] text(6))");
    Conn.Execute("create table [other] ([n] long)");
    for (int i = 0; i < 3; ++i) Conn.Execute("insert into [detail] ([票类型]) values ('有效票')");
    EXPECT_EQ(One("select @@identity as NewID"), "3");
    Conn.Execute("delete from [detail] where [id]=3");
    Conn.Execute("insert into [detail] ([票类型]) values ('废票')");
    EXPECT_EQ(One("select @@identity as NewID"), "4") << "an autoincrement number is never given twice";
    Conn.Execute("drop table [detail]");
    Conn.Execute("create table [detail] ([id] autoincrement primary key,[票类型] text(6))");
    Conn.Execute("insert into [detail] ([票类型]) values ('废票')");
    EXPECT_EQ(One("select max([id]) from [detail]"), "1") << "a new table numbers from 1 again";
}

TEST_F(EngineTest, TextSizeIsEnforced) {
    Conn.Execute("create table [t] ([a] text(2),[b] text)");
    Conn.Execute("insert into [t] ([a]) values ('中文')");
    const std::string error = ErrorOf("insert into [t] ([a]) values ('abc')");
    EXPECT_NE(error.find("CHECK constraint failed"), std::string::npos) << error;
    EXPECT_NE(error.find("a 最多 2 个字符"), std::string::npos) << error;
    EXPECT_NE(ErrorOf("insert into [t] ([b]) values ('" + std::string(256, 'x') + "')"), "(no error)");
    Conn.Execute("alter table [t] add column [c] text(1)");
    EXPECT_NE(ErrorOf("update [t] set [c]='OO'"), "(no error)");
    Conn.Execute("update [t] set [c]='O'");
    EXPECT_EQ(One("select count(*) from [t] where [c]='O'"), "1");
}

TEST_F(EngineTest, NameComparisonIgnoresLetterCase) {
    Conn.Execute("create table [abc] ([id] long,[xm] text(30))");
    Conn.Execute("insert into [abc] ([id],[xm]) values (1,'Zhang San')");
    EXPECT_EQ(One("select [id] from [abc] where [xm]='zhang san'"), "1");
    EXPECT_EQ(One("select count(*) from [abc] where [xm]='zhang'"), "0");
    // Table and column names too, as the Access engine reads them.
    EXPECT_EQ(One("select [XM] from [ABC]"), "Zhang San");
}

TEST_F(EngineTest, BooleansIifNowAndAggregates) {
    Conn.Execute("create table [abc] ([id] long,[xm] text(30),[zc] long,[nxr] bit,[t] datetime)");
    Conn.Execute("insert into [abc] values (1,'甲',3,False,Now())");
    Conn.Execute("insert into [abc] values (2,'乙',5,True,Now())");
    Conn.Execute("insert into [abc] values (3,'丙',5,False,Now())");
    EXPECT_EQ(One("select [xm] from [abc] where [nxr]=True"), "乙");
    EXPECT_EQ(One("select iif([nxr],'是','否') from [abc] where [id]=1"), "否");
    EXPECT_EQ(One("select max([id]) as mid from [abc]"), "3");
    EXPECT_EQ(One("select count([id]) from [abc] group by [zc] order by count([id]) desc"), "2");
    EXPECT_EQ(One("select [xm] from [abc] order by [zc] desc,[id]"), "乙");
    const std::string now = One("select [t] from [abc] where [id]=1");
    ASSERT_EQ(now.size(), 19u) << now;
    EXPECT_EQ(now[4], '-');
    EXPECT_EQ(now[13], ':');
}

TEST_F(EngineTest, DdlInsideATransactionRollsBack) {
    Conn.Execute("create table [detail] ([id] autoincrement primary key)");
    Conn.BeginTrans();
    Conn.Execute("alter table [detail] add column [张] text(1)");
    Conn.Execute("create table [extra] ([a] long)");
    Conn.Execute("insert into [detail] ([张]) values ('O')");
    Conn.RollbackTrans();
    EXPECT_EQ(Conn.ColumnNames("detail"), std::vector<std::string>{"id"});
    EXPECT_EQ(Conn.TableNames(), std::vector<std::string>{"detail"});
    EXPECT_EQ(One("select count(*) from [detail]"), "0");
}

TEST_F(EngineTest, TransactionsAreOneLevel) {
    Conn.BeginTrans();
    EXPECT_THROW(Conn.BeginTrans(), EDbError);
    Conn.CommitTrans();
    EXPECT_THROW(Conn.CommitTrans(), EDbError);
    EXPECT_THROW(Conn.RollbackTrans(), EDbError);
}

struct RecordingWriter : IWorkbookWriter {
    struct Call {
        std::string path, sheet;
        std::vector<std::string> columns;
        std::vector<std::vector<TDbValue>> rows;
    };
    explicit RecordingWriter(std::vector<Call>& calls) : Calls(calls) {}
    void WriteSheet(const std::string& path, const std::string& sheet, const std::vector<std::string>& columns,
                    const std::vector<std::vector<TDbValue>>& rows) override {
        Calls.push_back({path, sheet, columns, rows});
    }
    std::vector<Call>& Calls;
};

TEST_F(EngineTest, SelectIntoExcelHandsTheResultToTheWriter) {
    Conn.Execute("create table [abc] ([id] long,[xm] text(30),[zc] long,[nxr] bit)");
    Conn.Execute("insert into [abc] values (1,'甲',3,False)");
    Conn.Execute("insert into [abc] values (2,'乙',5,True)");
    EXPECT_NE(ErrorOf("select [id] into [Excel 8.0;Database=/x.xls].[<s>] from [abc]"), "(no error)")
        << "without a writer the statement fails";
    std::vector<RecordingWriter::Call> calls;
    Conn.SetWorkbookWriter(std::make_unique<RecordingWriter>(calls));
    Conn.Execute("select [id] as 序号,[xm] as 姓名,iif([nxr],'是','否') as 是否另选人 into "
                 "[Excel 8.0;Database=/out/r.xls].[<计票结果_票数>] from [abc] order by [zc] desc,[id]");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, "/out/r.xls");
    EXPECT_EQ(calls[0].sheet, "计票结果_票数");
    EXPECT_EQ(calls[0].columns, (std::vector<std::string>{"序号", "姓名", "是否另选人"}));
    ASSERT_EQ(calls[0].rows.size(), 2u);
    EXPECT_EQ(DbValueToText(calls[0].rows[0][1]), "乙");
    EXPECT_EQ(DbValueToText(calls[0].rows[0][2]), "是");
    EXPECT_EQ(DbValueToText(calls[0].rows[1][0]), "1");
}

TEST_F(EngineTest, OtherStatementsReachTheEngineWithItsMessage) {
    EXPECT_EQ(ErrorOf("select * from [abc]"), "no such table: abc");
    EXPECT_EQ(ErrorOf("selec 1"), "near \"selec\": syntax error");
    Conn.Execute("create table [t] ([a] long)");
    EXPECT_NE(ErrorOf("insert into [t] values (1); drop table [t]"), "(no error)");
    EXPECT_EQ(Conn.TableNames(), std::vector<std::string>{"t"}) << "a second statement is never run";
    EXPECT_EQ(One("select count(*) from [t]"), "0");
}

TEST_F(EngineTest, ValuesAreBoundToTheirParameters) {
    Conn.Execute("create table [t] ([n] long,[r] double,[s] text(40),[u] text(5))");
    const std::string hostile = "x'); drop table [t]; --";
    EXPECT_EQ(Conn.Execute("insert into [t] values (?,?,?,?)", {std::int64_t{-7}, 2.5, hostile, TDbValue{}}), 1);
    Conn.Execute("insert into [t] ([s]) values (?)", {std::string("it's \"?\"")});
    auto q = Conn.OpenQuery("select * from [t] where [s]=? and [n]=?", {hostile, std::int64_t{-7}});
    ASSERT_EQ(q->RecordCount(), 1u);
    EXPECT_EQ(q->AsInteger("n"), -7);
    EXPECT_EQ(q->AsText("r"), "2.5");
    EXPECT_TRUE(q->IsNull("u"));
    EXPECT_EQ(One("select count(*) from [t] where [s]='it''s \"?\"'"), "1");
    EXPECT_EQ(Conn.TableNames(), std::vector<std::string>{"t"});
    // Bound texts compare as the column's texts do, letter case ignored.
    EXPECT_EQ(Conn.OpenQuery("select count(*) as c from [t] where [s]=?", {std::string("IT'S \"?\"")})->AsInteger("c"), 1);
    // The column's length check holds for bound values too.
    EXPECT_NE(ErrorOf("update [t] set [u]='toolong'"), "(no error)");
    EXPECT_THROW(Conn.Execute("update [t] set [u]=?", {std::string("toolong")}), EDbError);
    std::vector<std::string> seen;
    Conn.ForEachRow("select [s] from [t] where [n] is null and [s]<>?",
                    [&](const std::vector<TDbValue>& row) { seen.push_back(DbValueToText(row[0])); }, {hostile});
    EXPECT_EQ(seen, std::vector<std::string>{"it's \"?\""});
}

TEST_F(EngineTest, ParametersAndValuesMustPairUp) {
    Conn.Execute("create table [t] ([a] long,[b] text(10))");
    const auto error = [&](const std::string& sql, const TDbParams& params) {
        try {
            Conn.Execute(sql, params);
        } catch (const EDbError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(error("insert into [t] values (?,?)", {std::int64_t{1}}), "语句有 2 个参数，却给出了 1 个值。");
    EXPECT_EQ(error("insert into [t] ([a]) values (1)", {std::int64_t{1}}), "语句有 0 个参数，却给出了 1 个值。");
    EXPECT_EQ(error("insert into [t] values (:a,:b)", {std::int64_t{1}, std::string("x")}), "只支持 ? 参数：:a");
    EXPECT_EQ(error("insert into [t] values (?1,?2)", {std::int64_t{1}, std::string("x")}), "只支持 ? 参数：?1");
    EXPECT_EQ(error("select * from [t] where [b] like ?", {std::string("王*")}).rfind("不支持 like 模式中的 *", 0), 0u);
    EXPECT_EQ(One("select count(*) from [t]"), "0");
    Conn.Execute("insert into [t] values (?,?)", {std::int64_t{1}, std::string("王五")});
    EXPECT_EQ(Conn.OpenQuery("select count(*) as c from [t] where [b] like ?", {std::string("王%")})->AsInteger("c"), 1);
}

TEST_F(EngineTest, TextColumnLimits) {
    Conn.Execute("create table [t] ([a] text(64),[b] text,[c] memo,[d] longtext,[e] long)");
    EXPECT_EQ(Conn.TextColumnLimit("t", "a"), 64u);
    EXPECT_EQ(Conn.TextColumnLimit("T", "B"), 255u);
    EXPECT_EQ(Conn.TextColumnLimit("t", "c"), 0u);
    EXPECT_EQ(Conn.TextColumnLimit("t", "d"), 0u);
    EXPECT_EQ(Conn.TextColumnLimit("t", "e"), 0u);
    EXPECT_EQ(Conn.TextColumnLimit("t", "missing"), 0u);
    EXPECT_EQ(Conn.TextColumnLimit("missing", "a"), 0u);
    const std::string path(5000, 'p');
    Conn.Execute("insert into [t] ([c],[d]) values (?,?)", {path, path});
    EXPECT_EQ(One("select length([c]) from [t]"), "5000");
    EXPECT_EQ(Conn.OpenQuery("select count(*) as n from [t] where [c]=? and [d]=?", {path, path})->AsInteger("n"), 1);
}

TEST_F(EngineTest, QueryFieldsByNameWithNullTest) {
    Conn.Execute("create table [t] ([Name] text(10),[n] long,[b] bit)");
    Conn.Execute("insert into [t] values ('x',7,True)");
    Conn.Execute("insert into [t] values (NULL,NULL,NULL)");
    auto q = Conn.OpenQuery("select * from [t] order by [n] desc");
    EXPECT_EQ(q->RecordCount(), 2u);
    EXPECT_EQ(q->FieldCount(), 3u);
    EXPECT_EQ(q->AsText("name"), "x");
    EXPECT_EQ(q->AsInteger("N"), 7);
    EXPECT_TRUE(q->AsBoolean("b"));
    EXPECT_THROW(q->Field("missing"), EDbError);
    q->Next();
    EXPECT_TRUE(q->IsNull("name"));
    EXPECT_TRUE(q->IsNull("n"));
    EXPECT_FALSE(q->AsBoolean("b"));
    q->Next();
    EXPECT_TRUE(q->Eof());
    EXPECT_THROW(q->Field("n"), EDbError);
}

}  // namespace
