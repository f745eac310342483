// The candidate editor: name checks, the row hooks through the table, clearing,
// renumbering and the text import in one transaction.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <cstdlib>

#include "QtTestApp.h"
#include "ScriptedPrompts.h"
#include "database/EditableRowSet.h"
#include "database/tests/DbFixture.h"
#include "ui/CandidateEditorLogic.h"
#include "ui/unt_edit.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

class CandidateEditor : public DbTest {
protected:
    void SetUp() override { QtTestApp(); }
    std::unique_ptr<Tfrm_edit> Editor() { return std::make_unique<Tfrm_edit>(nullptr, Db, prompts_); }
    std::vector<std::string> Names() { return Strings("select [xm] from [abc] order by [id]"); }
    std::vector<std::string> IDs() { return Strings("select [id] from [abc] order by [id]"); }
    static void Type(Tfrm_edit& form, int row, int column, const std::string& text) {
        form.Grid()->item(row, column)->setText(QString::fromStdString(text));
    }
    ScriptedPrompts prompts_;
};

}  // namespace

TEST_F(CandidateEditor, NameChecks) {
    OpenNew({"甲", "Alice"});
    const struct {
        const char* name;
        std::int64_t id;
        const char* message;
    } cases[] = {
        {"  ", 9, "候选人姓名不能为空。"},
        {"3号", 9, "候选人姓名不能以数字开头。"},
        {" 0甲", 9, "候选人姓名不能以数字开头。"},
        {"张(三", 9, "候选人姓名不能包含字符 (。"},
        {"张?三(", 9, "候选人姓名不能包含字符 (。"},  // reported in the fixed order
        {"a\\b", 9, "候选人姓名不能包含字符 \\。"},
        {"a,b", 9, "候选人姓名不能包含字符 ,。"},
        {"a]b", 9, "候选人姓名不能包含字符 ]。"},
        {"甲", 9, "候选人姓名不能重复。"},
        {" ALICE ", 9, "候选人姓名不能重复。"},
        {"甲", 1, ""},           // its own row
        {"３号", 9, ""},         // a full-width digit
        {"O'Neil", 9, ""},
        {"\u3000\u3000", 9, "候选人姓名不能为空。"},
        {"李\n四", 9, "候选人姓名不能包含换行符或控制字符。"},
        {"李\t四", 9, "候选人姓名不能包含换行符或控制字符。"},
        {"李\u2028四", 9, "候选人姓名不能包含换行符或控制字符。"},
        {"甲\u3000", 9, "候选人姓名不能重复。"},  // the same name once trimmed
        {"x'); drop table [abc]; --", 9, "候选人姓名不能包含字符 )。"},
        {"x'' or ''1''=''1", 9, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf([&] { ValidateCandidateName(Db.Conn(), c.name, c.id); }),
                  *c.message ? c.message : "(no error)")
            << c.name;
    }
}

TEST_F(CandidateEditor, NeedsAnOpenDatabase) {
    EXPECT_EQ(ErrorOf([&] { Editor(); }), "数据库尚未打开。");
}

TEST_F(CandidateEditor, NextIDIsTheHighestPlusOne) {
    OpenNew({});
    EXPECT_EQ(NextCandidateID(Db.Conn()), 1);
    Db.Conn().Execute("insert into [abc] ([id],[xm]) values (7,'甲')");
    Db.Conn().Execute("insert into [abc] ([id],[xm]) values (3,'乙')");
    EXPECT_EQ(NextCandidateID(Db.Conn()), 8);
}

TEST_F(CandidateEditor, NewRowIsStoredTrimmedWithZeroTallies) {
    OpenNew({"甲", "乙"});
    Db.Conn().Execute("update [abc] set [zc]=5 where [id]=1");
    auto form = Editor();
    EXPECT_EQ(form->windowTitle().toStdString(), "编辑候选人信息");
    EXPECT_EQ(form->size(), QSize(470, 570));
    EXPECT_EQ(form->Grid()->horizontalHeaderItem(0)->text().toStdString(), "显示顺序");
    ASSERT_EQ(form->Grid()->rowCount(), 2);

    ASSERT_TRUE(form->InsertRow());
    ASSERT_EQ(form->Grid()->rowCount(), 3);
    EXPECT_EQ(form->Grid()->item(2, 0)->text().toStdString(), "3");
    Type(*form, 2, 1, "  丙  ");
    ASSERT_TRUE(form->PostRow()) << (prompts_.errors.empty() ? "" : prompts_.errors[0]);
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙"}));
    for (const char* column : {"zc", "bzc", "qq", "nxr"})
        EXPECT_EQ(Strings(std::string("select [") + column + "] from [abc] where [id]=3"),
                  (std::vector<std::string>{"0"}))
            << column;
    EXPECT_EQ(form->Grid()->item(2, 1)->text().toStdString(), "丙");
    // After the post [detail] has a column for the new name.
    const auto columns = Db.Conn().ColumnNames("detail");
    EXPECT_NE(std::find(columns.begin(), columns.end(), "丙"), columns.end());

    // Blanks of every kind around a name go; blanks inside stay.
    ASSERT_TRUE(form->InsertRow());
    Type(*form, 3, 1, "\u3000丁\u00A0五\u3000");
    ASSERT_TRUE(form->PostRow()) << (prompts_.errors.empty() ? "" : prompts_.errors[0]);
    EXPECT_EQ(Names().back(), "丁\u00A0五");

    // Editing a row again stores it with zero tallies; unchanged it is accepted.
    Type(*form, 0, 1, "甲 ");
    EXPECT_TRUE(form->PostRow());
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙", "丁\u00A0五"}));
    EXPECT_EQ(Strings("select [zc] from [abc] where [id]=1"), (std::vector<std::string>{"0"}));
    EXPECT_TRUE(prompts_.errors.empty());
}

TEST_F(CandidateEditor, RefusedNamesStayInEditing) {
    OpenNew({"甲", "乙"});
    auto form = Editor();
    const struct {
        const char* name;
        const char* message;
    } cases[] = {{"3号", "候选人姓名不能以数字开头。"},
                 {"张(三", "候选人姓名不能包含字符 (。"},
                 {"张\\三", "候选人姓名不能包含字符 \\。"},
                 {"乙", "候选人姓名不能重复。"}};
    for (const auto& c : cases) {
        prompts_.errors.clear();
        Type(*form, 0, 1, c.name);
        EXPECT_FALSE(form->PostRow()) << c.name;
        ASSERT_EQ(prompts_.errors.size(), 1u) << c.name;
        EXPECT_EQ(prompts_.errors[0], c.message);
        EXPECT_EQ(form->Query().State(), rsEdit);
        EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙"}));
    }
    form->CancelRow();
    EXPECT_EQ(form->Grid()->item(0, 1)->text().toStdString(), "甲");

    // A refused new row is not stored either.
    form->InsertRow();
    Type(*form, 2, 1, "9号");
    EXPECT_FALSE(form->PostRow());
    EXPECT_EQ(form->Query().State(), rsInsert);
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙"}));
}

TEST_F(CandidateEditor, ClearAndRenumber) {
    OpenNew({"甲", "乙", "丙"});
    Db.Conn().Execute("update [abc] set [id]=20 where [id]=3");
    Db.Conn().Execute("update [abc] set [id]=7 where [id]=2");
    Db.Conn().Execute("update [abc] set [id]=3 where [id]=1");
    auto form = Editor();
    // A pending edit is posted first; a refused one stops the renumbering.
    Type(*form, 1, 1, "甲");
    form->Renumber();
    EXPECT_EQ(prompts_.errors, (std::vector<std::string>{"候选人姓名不能重复。"}));
    EXPECT_EQ(IDs(), (std::vector<std::string>{"3", "7", "20"}));
    Type(*form, 1, 1, "乙二");
    form->Renumber();
    EXPECT_EQ(IDs(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙二", "丙"}));
    Type(*form, 1, 1, "乙");
    form->PostRow();
    EXPECT_EQ(Names(), (std::vector<std::string>{"甲", "乙", "丙"}));
    EXPECT_EQ(form->Grid()->item(2, 0)->text().toStdString(), "3");

    prompts_.confirmAnswers = {false};
    form->ClearAll();
    EXPECT_EQ(prompts_.confirmations, (std::vector<std::string>{"清空全部候选人以及现有计票明细？"}));
    EXPECT_EQ(Names().size(), 3u);
    prompts_.confirmAnswers = {true};
    form->ClearAll();
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(form->Grid()->rowCount(), 0);
}

TEST_F(CandidateEditor, ImportReadsOneNamePerLine) {
    OpenNew({"甲"});
    auto form = Editor();
    const std::string file = Folder.Write("names.txt", "\xEF\xBB\xBF 张三 \r\n\r\n李四\u3000\r\n\u3000\r\n王五");
    prompts_.fileAnswers = {file};
    form->ImportText();
    EXPECT_EQ(prompts_.informations, (std::vector<std::string>{"请先清空现有候选人再导入。"}));
    EXPECT_EQ(prompts_.fileAnswers.size(), 1u);  // refused before any file is chosen

    prompts_.confirmAnswers = {true};
    form->ClearAll();
    form->ImportText();
    EXPECT_TRUE(prompts_.errors.empty());
    EXPECT_EQ(Names(), (std::vector<std::string>{"张三", "李四", "王五"}));
    EXPECT_EQ(IDs(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(form->Grid()->rowCount(), 3);
    const auto columns = Db.Conn().ColumnNames("detail");
    EXPECT_NE(std::find(columns.begin(), columns.end(), "王五"), columns.end());
    if (const char* dir = std::getenv("KORVEX_SCREENSHOT_DIR")) {
        form->show();
        QtTestApp().processEvents();
        form->grab().save(QString(dir) + "/candidate-editor.png");
    }
}

TEST_F(CandidateEditor, ARefusedImportStoresNothing) {
    OpenNew({});
    auto form = Editor();
    const struct {
        const char* text;
        const char* message;
    } cases[] = {{"甲\n\n乙\n甲\n", "候选人姓名不能重复。"},
                 {"甲\n乙\n3丙\n", "候选人姓名不能以数字开头。"},
                 {"王五\n王五\u3000\n", "候选人姓名不能重复。"},
                 {"甲\n乙\u2028丙\n", "候选人姓名不能包含换行符或控制字符。"},
                 {"甲\n乙\r丙\n", "候选人姓名不能包含换行符或控制字符。"}};
    for (const auto& c : cases) {
        prompts_.errors.clear();
        prompts_.fileAnswers = {Folder.Write("names.txt", c.text)};
        form->ImportText();
        ASSERT_EQ(prompts_.errors.size(), 1u) << c.text;
        EXPECT_EQ(prompts_.errors[0], c.message);
        EXPECT_TRUE(Names().empty()) << c.text;
        EXPECT_FALSE(Db.Conn().InTransaction());
        EXPECT_EQ(form->Grid()->rowCount(), 0);
    }
}

TEST_F(CandidateEditor, AnUnreadableImportFileIsReported) {
    OpenNew({});
    auto form = Editor();
    prompts_.fileAnswers = {Folder.File("missing.txt")};
    form->ImportText();
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_NE(prompts_.errors[0].find("missing.txt"), std::string::npos) << prompts_.errors[0];
    EXPECT_TRUE(Names().empty());
}

TEST(CandidateImportText, EncodingsAndLineEnds) {
    const std::vector<std::string> expected = {"张三", "", "李四"};
    EXPECT_EQ(DecodeImportLines("张三\n\n李四"), expected);
    EXPECT_EQ(DecodeImportLines("\xEF\xBB\xBF张三\r\n\r\n李四\r\n"), expected);
    EXPECT_EQ(DecodeImportLines("\xD5\xC5\xC8\xFD\r\n\r\n\xC0\xEE\xCB\xC4"), expected);  // GB18030
    EXPECT_EQ(DecodeImportLines(""), std::vector<std::string>{});
    EXPECT_TRUE(IsValidUtf8("ａ３号 plain"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xE5\xBC"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}
