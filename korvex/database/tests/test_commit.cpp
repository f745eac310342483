// Committing ballots: detail rows, write-in candidates, tallies and refusals.
#include "DbFixture.h"
#include "model/TextUtil.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

class CommitTest : public DbTest {
protected:
    void Start(const std::vector<std::string>& names) {
        OpenNew(names);
        Template = TemplateOf(Db.LoadCandidates(false));
    }
    int Commit(const TBallotRecognition& r, const std::string& type = kValidBallot) {
        int id = -1;
        Changed = true;
        Db.CommitBallot(&Template, &r, type, id, Changed);
        return id;
    }
    std::string CommitError(const TBallotRecognition& r, const std::string& type = kValidBallot) {
        return ErrorOf([&] { Commit(r, type); });
    }
    long long Count(const std::string& table) {
        return Db.Conn().OpenQuery("select count(*) as n from [" + table + "]")->AsInteger("n");
    }
    TBallotTemplate Template;
    bool Changed = false;
};

TEST_F(CommitTest, ThreeBallotTypesAndTheirTallies) {
    Start({"甲", "乙", "丙"});
    EXPECT_EQ(Commit(Ballot(Template, "OX ", "S1")), 1);
    EXPECT_FALSE(Changed);
    EXPECT_EQ(Commit(Ballot(Template, "OOO", "S2"), kInvalidBallot), 2);
    EXPECT_EQ(Commit(Ballot(Template, "XX?", "S3"), kAbstentionBallot), 3);
    EXPECT_EQ(Commit(Ballot(Template, "O  ", "S4")), 4);
    EXPECT_EQ(DetailRow(1), (std::vector<std::string>{"有效票", "O", "X", " "}));
    EXPECT_EQ(DetailRow(2), (std::vector<std::string>{"废票", "O", "O", "O"}));
    EXPECT_EQ(DetailRow(3), (std::vector<std::string>{"弃权票", "NULL", "NULL", "NULL"}));
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"甲", 2, 0, 0, false}, {"乙", 0, 1, 1, false}, {"丙", 0, 0, 2, false}}));
    EXPECT_EQ(Strings("select [DetailID] from [OCR_Commit] order by [DetailID]"),
              (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(Strings("select [ImageFile] from [OCR_Commit] where [ScanUID]='S3'"),
              std::vector<std::string>{"/scans/S3.bmp"});
    EXPECT_EQ(Strings("select [TemplateID] from [OCR_Commit] where [ScanUID]='S3'"),
              std::vector<std::string>{Template.TemplateID});
    EXPECT_EQ(Strings("select count(*) from [OCR_Commit] where [CommitTime] like '2___-__-__ __:__:__'"),
              std::vector<std::string>{"4"});
}

TEST_F(CommitTest, WriteInApprovedTwiceAddsOneCandidate) {
    Start({"甲", "乙"});
    auto r = Ballot(Template, "XO", "S1");
    AddWriteIn(r, 0, " 王五 ");
    AddWriteIn(r, 1, "赵六", msReject);  // not approved: ignored
    AddWriteIn(r, 2, "王五");
    AddWriteIn(r, 3, "  ");  // approved but nameless: ignored
    const int id = Commit(r);
    EXPECT_TRUE(Changed);
    EXPECT_EQ(Db.LoadCandidates(true), (std::vector<TCandidateInfo>{{1, "甲", false}, {2, "乙", false}, {3, "王五", true}}));
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"有效票", "X", "O", "O"}));
    EXPECT_EQ(Tallies(Db)[2], (TTally{"王五", 1, 0, 0, true}));
    // The next ballot naming him again adds nothing.
    auto again = Ballot(Template, "OO", "S2");
    AddWriteIn(again, 1, "王五");
    Commit(again);
    EXPECT_FALSE(Changed);
    EXPECT_EQ(Tallies(Db)[2], (TTally{"王五", 2, 0, 0, true}));
}

TEST_F(CommitTest, WriteInOfAnExistingNameApprovesThatCandidate) {
    Start({"甲", "乙"});
    auto r = Ballot(Template, "OX", "S1");
    AddWriteIn(r, 0, "乙");
    const int id = Commit(r);
    EXPECT_FALSE(Changed);
    EXPECT_EQ(Db.LoadCandidates(true).size(), 2u);
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"有效票", "O", "O"}));
    EXPECT_EQ(Tallies(Db)[1], (TTally{"乙", 1, 0, 0, false}));
}

TEST_F(CommitTest, LaterWriteInCandidateCountsBlanksOnlyOnLaterBallots) {
    Start({"甲"});
    Commit(Ballot(Template, "O", "S1"));
    auto w = Ballot(Template, "X", "S2");
    AddWriteIn(w, 0, "王五");
    Commit(w);
    Commit(Ballot(Template, "O", "S3"));
    Commit(Ballot(Template, "O", "S4"), kInvalidBallot);
    EXPECT_EQ(DetailRow(1), (std::vector<std::string>{"有效票", "O", "NULL"}));
    EXPECT_EQ(DetailRow(3), (std::vector<std::string>{"有效票", "O", " "}));
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"甲", 2, 1, 0, false}, {"王五", 1, 0, 1, true}}));
}

TEST_F(CommitTest, UnconfirmedMarkRollsBackTheWholeBallot) {
    Start({"甲", "乙"});
    Commit(Ballot(Template, "O ", "S0"));
    auto r = Ballot(Template, "O?", "S1");
    AddWriteIn(r, 0, "新人");
    EXPECT_EQ(CommitError(r), "存在未确认的符号，不能入库。");
    EXPECT_EQ(Db.LoadCandidates(true).size(), 2u);
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "甲", "乙"}));
    EXPECT_EQ(Count("detail"), 1);
    EXPECT_EQ(Count("OCR_Commit"), 1);
    EXPECT_FALSE(Db.IsScanCommitted("S1"));
    EXPECT_EQ(Tallies(Db)[0], (TTally{"甲", 1, 0, 0, false}));
    // An abstention ballot never looks at its marks.
    const int id = Commit(r, kAbstentionBallot);
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"弃权票", "NULL", "NULL", "NULL"}));
    EXPECT_TRUE(Db.IsScanCommitted("S1"));
}

TEST_F(CommitTest, SameScanIsCountedOnce) {
    Start({"甲"});
    Commit(Ballot(Template, "O", "6733D79895444432"));
    auto copy = Ballot(Template, "X", "6733D79895444432");
    copy.ImageFile = "/elsewhere/copy.bmp";
    EXPECT_EQ(CommitError(copy), "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_EQ(CommitError(copy, kAbstentionBallot), "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_EQ(Count("detail"), 1);
    EXPECT_EQ(Tallies(Db)[0], (TTally{"甲", 1, 0, 0, false}));
    // The unique index refuses a second row even when the check is bypassed.
    EXPECT_THROW(Db.Conn().Execute("insert into [OCR_Commit] ([ScanUID]) values ('6733d79895444432')"), EDbError);
}

TEST_F(CommitTest, TemplateMustMatchTheFormalCandidates) {
    Start({"甲", "zhang", "丙"});
    auto r = Ballot(Template, "OOO", "S1");
    Db.Conn().Execute("insert into [abc] values (4,'王五',0,0,0,True)");  // write-ins take no part

    TBallotTemplate shorter = Template;
    shorter.Candidates.pop_back();
    int id = 0;
    bool changed = false;
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(&shorter, &r, kValidBallot, id, changed); }),
              "当前数据库的正式候选人数与打印选票模板不一致，禁止自动入库。\r\n请确认是否更换过候选人名单。");

    TBallotTemplate swapped = Template;
    std::swap(swapped.Candidates[1], swapped.Candidates[2]);
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(&swapped, &r, kValidBallot, id, changed); }),
              "当前数据库候选人顺序与选票模板不一致：模板第2位为“丙”，数据库为“zhang”。禁止自动入库。");

    TBallotTemplate renumbered = Template;
    renumbered.Candidates[2].ID = 9;
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(&renumbered, &r, kValidBallot, id, changed); }),
              "当前数据库候选人顺序与选票模板不一致：模板第3位为“丙”，数据库为“丙”。禁止自动入库。");
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(nullptr, &r, kValidBallot, id, changed); }), "没有可入库的识别结果。");
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(&Template, nullptr, kValidBallot, id, changed); }), "没有可入库的识别结果。");
    EXPECT_FALSE(Db.IsScanCommitted("S1"));

    TBallotTemplate otherCase = Template;
    otherCase.Candidates[1].Name = "ZHANG";
    Db.CommitBallot(&otherCase, &r, kValidBallot, id, changed);
    EXPECT_EQ(id, 1);
}

TEST_F(CommitTest, NamesWithApostropheAndBracketAreStoredLiterally) {
    Start({"O'Neil"});
    Db.Conn().Execute("insert into [abc] values (2,'a]b',0,0,0,False)");  // as another tool might store it
    Template = TemplateOf(Db.LoadCandidates(false));
    auto r = Ballot(Template, "OX", "S1");
    AddWriteIn(r, 0, "D'Arcy");
    const int id = Commit(r);
    EXPECT_EQ(Db.Conn().ColumnNames("detail"), (std::vector<std::string>{"id", "票类型", "O'Neil", "a]b", "D'Arcy"}));
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"有效票", "O", "X", "O"}));
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"O'Neil", 1, 0, 0, false}, {"a]b", 0, 1, 0, false}, {"D'Arcy", 1, 0, 0, true}}));
}

TEST_F(CommitTest, BadWriteInNamesAreRefusedOrStoredLiterally) {
    Start({"甲"});
    const std::string thirty = "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十";
    struct Case {
        std::string name, error;
    } cases[] = {
        {thirty + "多", "另选人姓名过长。"},
        {std::string(31, 'a'), "另选人姓名过长。"},
        {"a]b", "另选人姓名不能包含字符 ]。"},
        {"x'); drop table [abc]; --", "另选人姓名不能包含字符 ]。"},
        {"王\n五", "另选人姓名不能包含换行符或控制字符：王<U+000A>五"},
        {"王\u2028五", "另选人姓名不能包含换行符或控制字符：王<U+2028>五"},
    };
    int scan = 0;
    for (const auto& c : cases) {
        auto r = Ballot(Template, "X", "B" + std::to_string(++scan));
        AddWriteIn(r, 0, "先来");
        AddWriteIn(r, 1, c.name);
        EXPECT_EQ(CommitError(r), c.error) << c.name;
        EXPECT_EQ(Db.LoadCandidates(true).size(), 1u) << "the first write-in went with the rollback";
    }
    for (const std::string& name : {thirty, std::string("x'); drop table abc; --"), std::string("\"quoted\"")}) {
        auto r = Ballot(Template, "X", "B" + std::to_string(++scan));
        AddWriteIn(r, 0, name);
        Commit(r);
        EXPECT_EQ(Db.LoadCandidates(true).back(), (TCandidateInfo{Db.LoadCandidates(true).back().ID, name, true}));
        EXPECT_EQ(Tallies(Db).back().zc, 1) << name;
    }
    EXPECT_EQ(Count("detail"), 3);
}

// A write-in the database already knows in another letter case approves that
// candidate: the lookup finds the row, and the ballot's mark goes with it.
TEST_F(CommitTest, WriteInInAnotherLetterCaseApprovesTheKnownCandidate) {
    Start({"甲"});
    auto first = Ballot(Template, "X", "S1");
    AddWriteIn(first, 0, "Wang");
    Commit(first);
    auto second = Ballot(Template, "X", "S2");
    AddWriteIn(second, 0, "wang");
    const int id = Commit(second);
    EXPECT_FALSE(Changed);
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"有效票", "X", "O"}));
    auto third = Ballot(Template, "X", "S3");
    AddWriteIn(third, 0, "WANG");
    AddWriteIn(third, 1, "wAnG");
    Commit(third);
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"甲", 0, 3, 0, false}, {"Wang", 3, 0, 0, true}}));
}

// A candidate renamed only in letter case still matches its templates; the
// ballots read with them keep their marks.
TEST_F(CommitTest, CandidateRenamedInLetterCaseKeepsTheMarksOfOlderTemplates) {
    Start({"zhang", "li"});
    Commit(Ballot(Template, "OX", "S1"));
    Db.Conn().Execute("update [abc] set [xm]='Zhang' where [id]=1");
    Db.Conn().Execute("update [abc] set [xm]='LI' where [id]=2");
    const int id = Commit(Ballot(Template, "OX", "S2"));
    EXPECT_EQ(DetailRow(id), (std::vector<std::string>{"有效票", "O", "X"}));
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"Zhang", 2, 0, 0, false}, {"LI", 0, 2, 0, false}}));
}

// Blanks of any kind around a written name make no second candidate.
TEST_F(CommitTest, WriteInsTrimmedOfUnicodeBlanksAreOneCandidate) {
    Start({"甲"});
    const std::vector<std::string> spellings = {
        "王五", "王五\u3000", "\u3000王五", "\u00A0王五\u2003", "\uFEFF王五\u200B", "\t王五\r\n", "王五\u2028",
    };
    int scan = 0;
    for (const auto& name : spellings) {
        auto r = Ballot(Template, "X", Format("T%d", ++scan));
        AddWriteIn(r, 0, name);
        Commit(r);
    }
    EXPECT_EQ(Tallies(Db), (std::vector<TTally>{{"甲", 0, static_cast<long long>(spellings.size()), 0, false},
                                                {"王五", static_cast<long long>(spellings.size()), 0, 0, true}}));
    // Blanks inside a name are part of it.
    auto inner = Ballot(Template, "X", "T0");
    AddWriteIn(inner, 0, "王\u3000五");
    Commit(inner);
    EXPECT_EQ(Db.LoadCandidates(true).back().Name, "王\u3000五");
}

TEST_F(CommitTest, ImagePathsLongerThan255CharactersAreStoredWhole) {
    Start({"甲"});
    std::string path = "/media/扫描";
    while (path.size() < 1200) path += "/第一届代表大会选举第三投票站扫描结果";
    path += "/scan_000001.bmp";
    auto r = Ballot(Template, "O", "L1");
    r.ImageFile = path;
    Commit(r);
    EXPECT_EQ(Strings("select [ImageFile] from [OCR_Commit] where [ScanUID]='L1'"), std::vector<std::string>{path});
}

// An [OCR_Commit] made by an earlier version limits [ImageFile] to 255
// characters. It is rebuilt with its rows, and its guard stays in force.
TEST_F(CommitTest, OldCommitTableIsWidenedAndKeepsItsRows) {
    Start({"甲"});
    Db.EnsureDetailTable();
    Db.Conn().Execute(
        "create table [OCR_Commit] ([ScanUID] text(64) not null,[DetailID] long,[TemplateID] text(64),"
        "[ImageFile] text(255),[CommitTime] datetime)");
    Db.Conn().Execute("create unique index [PK_OCR_Commit] on [OCR_Commit] ([ScanUID])");
    Db.Conn().Execute("insert into [detail] ([票类型],[甲]) values ('有效票','O')");
    Db.Conn().Execute("insert into [OCR_Commit] values ('OLD1',1,'T','/old/scan.bmp','2026-12-10 10:15:00')");
    EXPECT_EQ(Db.Conn().TextColumnLimit("OCR_Commit", "ImageFile"), 255u);

    auto r = Ballot(Template, "X", "NEW1");
    r.ImageFile = "/" + std::string(400, 'p') + ".bmp";
    const int id = Commit(r);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(Db.Conn().TextColumnLimit("OCR_Commit", "ImageFile"), 0u);
    EXPECT_EQ(Strings("select [ScanUID] || '|' || [DetailID] || '|' || [TemplateID] || '|' || [ImageFile] || '|' || "
                      "[CommitTime] from [OCR_Commit] where [ScanUID]='OLD1'"),
              std::vector<std::string>{"OLD1|1|T|/old/scan.bmp|2026-12-10 10:15:00"});
    EXPECT_EQ(Strings("select [ImageFile] from [OCR_Commit] where [ScanUID]='NEW1'"), std::vector<std::string>{r.ImageFile});
    EXPECT_EQ(Db.Conn().TableNames(), (std::vector<std::string>{"abc", "detail", "OCR_Commit"}));
    EXPECT_EQ(CommitError(Ballot(Template, "O", "OLD1")), "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_THROW(Db.Conn().Execute("insert into [OCR_Commit] ([ScanUID]) values ('NEW1')"), EDbError)
        << "the unique index is back";
    EXPECT_EQ(Tallies(Db)[0], (TTally{"甲", 1, 1, 0, false}));
}

}  // namespace
