// The editable row set: hooks, write-back and optimistic locking.
#include "DbFixture.h"

#include "database/DbRowSet.h"
#include "database/SqliteEngine.h"
#include "model/TextUtil.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

using RowSetTest = DbTest;

TEST_F(RowSetTest, HooksRunAndAFailingCheckCancelsThePost) {
    OpenNew({"甲", "乙"});
    TDbRowSet rows(Db.Conn(), "select * from [abc] order by [id]", "abc");
    std::vector<std::string> calls;
    rows.OnNewRecord = [&](TDbRowSet& r) {
        calls.push_back("new");
        r.SetField("id", std::int64_t{3});
        r.SetField("zc", std::int64_t{0});
        r.SetField("nxr", std::int64_t{0});
    };
    rows.BeforePost = [&](TDbRowSet& r) {
        calls.push_back("before");
        const std::string name = TrimmedCopy(DbValueToText(r.Field("xm")));
        if (name.empty()) throw EKorvexError("候选人姓名不能为空。");
        r.SetField("xm", name);
    };
    rows.AfterPost = [&](TDbRowSet&) { calls.push_back("after"); };
    rows.Open();
    EXPECT_EQ(rows.RecordCount(), 2u);

    rows.Append();
    EXPECT_THROW(rows.Post(), EKorvexError);
    EXPECT_EQ(rows.State(), TDbRowSet::rsInsert) << "the row stays in editing";
    rows.SetField("xm", std::string("  丙 "));
    rows.Post();
    EXPECT_EQ(calls, (std::vector<std::string>{"new", "before", "before", "after"}));
    EXPECT_EQ(rows.State(), TDbRowSet::rsBrowse);
    EXPECT_EQ(Db.LoadCandidates(true).back(), (TCandidateInfo{3, "丙", false}));
    EXPECT_EQ(Strings("select [qq] from [abc] where [id]=3"), std::vector<std::string>{"NULL"});
}

TEST_F(RowSetTest, EditAndDeleteWriteBack) {
    OpenNew({"甲", "乙", "丙"});
    TDbRowSet rows(Db.Conn(), "select * from [abc] order by [id]", "abc");
    rows.Open();
    rows.Next();
    rows.Edit();
    rows.SetField("XM", std::string("O'Neil"));
    rows.Post();
    EXPECT_EQ(DbValueToText(rows.Field("xm")), "O'Neil");
    rows.First();
    rows.Delete();
    EXPECT_EQ(rows.RecordCount(), 2u);
    EXPECT_EQ(Db.LoadCandidates(true), (std::vector<TCandidateInfo>{{2, "O'Neil", false}, {3, "丙", false}}));
    rows.Edit();
    rows.Cancel();
    rows.Refresh();
    EXPECT_EQ(DbValueToText(rows.Field("xm")), "O'Neil");
}

TEST_F(RowSetTest, ARowChangedElsewhereIsNotOverwritten) {
    OpenNew({"甲", "乙"});
    TDbRowSet rows(Db.Conn(), "select * from [abc] order by [id]", "abc");
    rows.Open();
    TSqliteConnection other;
    other.Connect(Path);
    other.Execute("update [abc] set [xm]='别人改的' where [id]=1");
    rows.Edit();
    rows.SetField("xm", std::string("我改的"));
    EXPECT_THROW(rows.Post(), EDbError);
    rows.Cancel();
    EXPECT_THROW(rows.Delete(), EDbError);
    EXPECT_EQ(Strings("select [xm] from [abc] order by [id]"), (std::vector<std::string>{"别人改的", "乙"}));
    rows.Next();
    rows.Delete();  // the untouched row can still go
    EXPECT_EQ(Strings("select [xm] from [abc] order by [id]"), std::vector<std::string>{"别人改的"});
}

}  // namespace
