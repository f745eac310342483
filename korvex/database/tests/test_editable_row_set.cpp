// The editable row set over the candidate table: appending, editing, deleting
// and posting rows, the three hooks and the optimistic check on write-back.
#include <gtest/gtest.h>

#include "DbFixture.h"
#include "database/EditableRowSet.h"
#include "model/TextUtil.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

class RowSet : public DbTest {
protected:
    void SetUp() override { OpenNew({"甲", "乙", "丙"}); }
    TEditableRowSet Rows() { return TEditableRowSet(Db.Conn(), "abc", "select * from [abc] order by [id]"); }
    std::vector<std::string> Names() { return Strings("select [xm] from [abc] order by [id]"); }
};

}  // namespace

TEST_F(RowSet, OpensOnTheRowsOfTheQuery) {
    TEditableRowSet rows = Rows();
    EXPECT_FALSE(rows.Active());
    EXPECT_THROW(rows.Append(), EDbError);
    rows.Open();
    EXPECT_EQ(rows.State(), rsBrowse);
    ASSERT_EQ(rows.RecordCount(), 3u);
    EXPECT_EQ(rows.RecNo(), 0);
    EXPECT_TRUE(rows.HasField("XM"));
    EXPECT_FALSE(rows.HasField("nope"));
    EXPECT_EQ(rows.AsText("xm"), "甲");
    rows.MoveTo(2);
    EXPECT_EQ(rows.AsText("xm"), "丙");
    EXPECT_EQ(DbValueToText(rows.Value(1, "id")), "2");
    EXPECT_THROW(rows.MoveTo(3), EDbError);
    rows.Close();
    EXPECT_FALSE(rows.Active());
}

TEST_F(RowSet, AppendRunsTheHooksAndInserts) {
    TEditableRowSet rows = Rows();
    std::vector<std::string> calls;
    rows.OnNewRecord = [&](TEditableRowSet& r) {
        calls.push_back("new");
        r.SetField("id", std::int64_t{9});
        r.SetField("zc", std::int64_t{0});
    };
    rows.BeforePost = [&](TEditableRowSet& r) {
        calls.push_back("before:" + r.AsText("xm"));
        r.SetField("xm", TrimmedCopy(r.AsText("xm")));
    };
    rows.AfterPost = [&](TEditableRowSet&) { calls.push_back("after"); };
    rows.Open();
    rows.Append();
    EXPECT_EQ(rows.State(), rsInsert);
    EXPECT_EQ(rows.RecNo(), 3);
    EXPECT_EQ(rows.AsText("id"), "9");
    rows.SetField("xm", std::string("  丁 "));
    rows.Post();
    EXPECT_EQ(calls, (std::vector<std::string>{"new", "before:  丁 ", "after"}));
    EXPECT_EQ(rows.State(), rsBrowse);
    EXPECT_EQ(rows.RecordCount(), 4u);
    EXPECT_EQ(rows.AsText("xm"), "丁");
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙", "丁"}));
    EXPECT_EQ(Strings("select [zc] from [abc] where [id]=9"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(Strings("select [bzc] from [abc] where [id]=9"), (std::vector<std::string>{"NULL"}));
}

TEST_F(RowSet, ABeforePostErrorCancelsThePost) {
    TEditableRowSet rows = Rows();
    int afterPosts = 0;
    rows.BeforePost = [](TEditableRowSet& r) {
        if (r.AsText("xm").empty()) throw EKorvexError("候选人姓名不能为空。");
    };
    rows.AfterPost = [&](TEditableRowSet&) { ++afterPosts; };
    rows.Open();
    rows.MoveTo(1);
    rows.SetField("xm", std::string(""));
    EXPECT_EQ(rows.State(), rsEdit);
    EXPECT_THROW(rows.Post(), EKorvexError);
    EXPECT_EQ(rows.State(), rsEdit);
    EXPECT_EQ(rows.AsText("xm"), "");
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙"}));
    EXPECT_THROW(rows.MoveTo(0), EKorvexError);  // moving away posts first
    EXPECT_EQ(rows.RecNo(), 1);

    rows.SetField("xm", std::string("乙二"));
    rows.MoveTo(0);
    EXPECT_EQ(rows.RecNo(), 0);
    EXPECT_EQ(afterPosts, 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙二", "丙"}));
}

TEST_F(RowSet, CancelAndDelete) {
    TEditableRowSet rows = Rows();
    rows.Open();
    rows.SetField("xm", std::string("改"));
    rows.Cancel();
    EXPECT_EQ(rows.AsText("xm"), "甲");
    rows.Append();
    rows.Cancel();
    EXPECT_EQ(rows.RecordCount(), 3u);
    EXPECT_EQ(rows.RecNo(), 2);

    rows.MoveTo(1);
    rows.Delete();
    EXPECT_EQ(rows.RecordCount(), 2u);
    EXPECT_EQ(rows.AsText("xm"), "丙");
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "丙"}));
    rows.Append();
    rows.Delete();  // a new row is only dropped
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "丙"}));
}

TEST_F(RowSet, ARowChangedBehindItsBackIsNotOverwritten) {
    TEditableRowSet rows = Rows();
    rows.Open();
    rows.MoveTo(2);
    Db.Conn().Execute("update [abc] set [xm]='别人改的' where [id]=3");
    rows.SetField("xm", std::string("我改的"));
    EXPECT_THROW(rows.Post(), EDbError);
    EXPECT_EQ(Names()[2], "别人改的");
    rows.Refresh();
    EXPECT_EQ(rows.State(), rsBrowse);
    EXPECT_EQ(rows.RecNo(), 2);
    EXPECT_EQ(rows.AsText("xm"), "别人改的");

    Db.Conn().Execute("delete from [abc] where [id]=1");
    rows.MoveTo(0);
    EXPECT_THROW(rows.Delete(), EDbError);
}

TEST_F(RowSet, ValuesOfEveryKindAreWrittenAndMatchedAsTheyAre) {
    // Texts with quotes, a real that has no short decimal form and NULL reach
    // the table through bound values, and the row is found again by them.
    Db.Conn().Execute("create table [v] ([n] long,[t] text(40),[r] double)");
    TEditableRowSet rows(Db.Conn(), "v", "select * from [v]");
    rows.Open();
    rows.Append();
    rows.SetField("n", std::int64_t{-12});
    rows.SetField("t", std::string("O'Brien \"x\" ?; --"));
    rows.SetField("r", 0.1 + 0.2);
    rows.Post();
    rows.Append();
    rows.SetField("t", std::string("x'); drop table [abc]; --"));
    rows.Post();
    EXPECT_EQ(Strings("select [t] from [v] order by [n] desc"),
              (std::vector<std::string>{"O'Brien \"x\" ?; --", "x'); drop table [abc]; --"}));
    EXPECT_EQ(Strings("select count(*) from [v] where [r]=0.30000000000000004"), std::vector<std::string>{"1"});
    rows.MoveTo(0);
    rows.SetField("t", std::string("it's"));
    rows.Post();  // matched by n, t and the exact real
    rows.MoveTo(1);
    rows.Delete();  // matched by NULL n and r
    EXPECT_EQ(Strings("select [t] from [v]"), std::vector<std::string>{"it's"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙"}));
}
