// Review and commit in the window on forged scans of a generated standard
// ballot, read by the real recognition and counted in the real database.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <filesystem>

#include "ForgeBallot.h"
#include "ForgedProgramFolder.h"
#include "database/uBallotDB.h"
#include "recognition/ReviewRules.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kNames = {"王芳", "李伟", "张敏", "刘洋", "陈静"};

struct TTally {
    long long zc = 0, bzc = 0, qq = 0;
    friend bool operator==(const TTally&, const TTally&) = default;
};

std::ostream& operator<<(std::ostream& os, const TTally& t) { return os << t.zc << "/" << t.bzc << "/" << t.qq; }

TTally TallyOf(TQMDatabase& db, const std::string& name) {
    auto q = db.Conn().OpenQuery("select [zc],[bzc],[qq] from [abc] where [xm]=?", {name});
    if (q->Eof()) return {-1, -1, -1};
    return {q->AsInteger("zc"), q->AsInteger("bzc"), q->AsInteger("qq")};
}

class ReviewForged : public ForgedProgramFolder {
protected:
    // Five candidates, at most three approvals, two write-in slots; the
    // template is in Templates/ where recognition finds it by its code.
    void SetUp() override {
        ForgedProgramFolder::SetUp();
        MakeDatabase(kNames);
        UseOCRAnswers({"赵敏|0.6", "钱多|0.95"});
        window_ = Open();
        template_ = GenerateStandardTemplate(window_->Database().LoadCandidates(false), "业主委员会选举", 3, 2);
        SaveTemplate(*template_, home_.File("Templates/" + template_->TemplateID + ".ini"));
    }

    void Select(int index) {
        window_->QueueList()->setCurrentRow(index);
        window_->ShowCurrentItem();
    }
    TScanItem& Item(int index) { return *window_->Items().at(static_cast<std::size_t>(index)); }
    QTableWidget* Grid() { return window_->Grid(); }
    // Types into a grid cell of the row showing that candidate or write-in.
    void Type(char kind, int position, int column, const std::string& text) {
        const int row = GridRow(Grid(), kind, position);
        ASSERT_GE(row, 0) << kind << position;
        Grid()->item(row, column)->setText(QString::fromStdString(text));
    }
    std::string Shown(char kind, int position, int column) {
        const int row = GridRow(Grid(), kind, position);
        return row < 0 ? "(hidden)" : Cell(Grid(), row, column);
    }
    std::string LastWarning() const { return prompts_->warnings.empty() ? "" : prompts_->warnings.back(); }

    std::unique_ptr<TMainForm> window_;
    std::unique_ptr<TBallotTemplate> template_;
};

}  // namespace

TEST_F(ReviewForged, RecognisedBallotsReviewedAndCounted) {
    const std::vector<std::string> lines = {
        "OXO--",                    // 0 valid
        "OOOO-",                    // 1 four approvals, three allowed: invalid
        "X-X--",                    // 2 no approval: abstention
        "OX--- | 赵敏:O | :-",       // 3 a circled write-in, read at 0.6
        "XO--- | 钱多:O | 孙少:O",   // 4 two circled write-ins, one cross: the second is not read
    };
    std::vector<forge::TBallotFill> fills;
    for (const std::string& line : lines) fills.push_back(forge::ParseFillLine(line, *template_));
    std::vector<std::string> files = Forge(*template_, RenderBallotBitmap(*template_), fills, "Scans/forged");
    const std::string copy = home_.File("Scans/copy-of-first.png");
    fs::copy_file(files[0], copy);
    files.push_back(copy);  // 5: the first scan again under another name

    window_->AddImageFiles(files);
    window_->RecognizeAll();
    ASSERT_EQ(window_->Items().size(), 6u);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TScanItem& item = Item(static_cast<int>(i));
        ASSERT_NE(item.Recognition, nullptr) << i << " " << item.Status << " " << window_->StatusText();
        EXPECT_EQ(item.Recognition->TemplateID, template_->TemplateID);
        const forge::TBallotFill& fill = fills[i == 5 ? 0 : i];
        for (std::size_t c = 0; c < kNames.size(); ++c)
            EXPECT_EQ(item.Recognition->Candidates[c].Mark, forge::IntendedMark(fill.Candidates[c]))
                << "ballot " << i << " candidate " << c;
    }
    // Clear marks and no write-in need no review; a name read at 0.6 and a slot left unread do.
    for (int i : {0, 1, 2, 5}) EXPECT_EQ(Item(i).Status, "已识别") << i;
    for (int i : {3, 4}) EXPECT_EQ(Item(i).Status, "待复核") << i;
    EXPECT_EQ(OCRCalls(), 2);  // one per reliable cross, and none without a circled name

    // The proposals, also in the review memo.
    const char* const proposed[] = {"有效票", "废票", "弃权票", "有效票", "有效票", "有效票"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(SuggestBallotType(*Item(i).Template, *Item(i).Recognition).BallotType, proposed[i]) << i;
        Select(i);
        const std::string memo = window_->Memo()->toPlainText().toStdString();
        EXPECT_NE(memo.find(std::string("系统建议票型：") + proposed[i]), std::string::npos) << i << "\n" << memo;
    }

    // Ballot 3: the name as read, its confidence, and the filters.
    Select(3);
    EXPECT_EQ(Shown('W', 0, 1), "赵敏");
    EXPECT_EQ(Shown('W', 0, 2), "O");
    EXPECT_EQ(Shown('W', 0, 3), "60.0%");  // the name's 0.6, below the circle's confidence
    EXPECT_FALSE(Item(3).Recognition->WriteIns[1].HasNameInk);
    EXPECT_GE(std::stod(Shown('W', 1, 3)), 80.0);  // an empty slot: its blank circle cell alone, not zeroed for lack of a name
    window_->LowConfidenceFilter()->setChecked(true);
    EXPECT_EQ(Grid()->rowCount(), 1);  // every printed mark is clear; only the name is doubtful
    EXPECT_EQ(Shown('W', 0, 1), "赵敏");
    window_->LowConfidenceFilter()->setChecked(false);
    window_->NonBlankFilter()->setChecked(true);
    EXPECT_EQ(Grid()->rowCount(), 3);  // O, X and the named write-in; blanks and the empty slot go
    EXPECT_EQ(Shown('C', 2, 2), "(hidden)");
    EXPECT_EQ(Shown('W', 1, 2), "(hidden)");
    window_->NonBlankFilter()->setChecked(false);
    window_->CommitCurrent();
    EXPECT_EQ(Item(3).Status, "已入库") << LastWarning();

    // Ballot 4: the unread second name, then the checks on what the operator types.
    Select(4);
    EXPECT_EQ(Shown('W', 0, 1), "钱多");
    EXPECT_EQ(Shown('W', 0, 3), "95.0%");  // the name's 0.95 under a clear circle
    EXPECT_TRUE(Item(4).Recognition->WriteIns[1].HasNameInk);
    EXPECT_FALSE(Item(4).Recognition->WriteIns[1].NameOCRAttempted);
    EXPECT_EQ(Shown('W', 1, 1), "");
    EXPECT_EQ(Shown('W', 1, 3), "0.0%");  // handwriting, but not read
    EXPECT_NE(window_->Memo()->toPlainText().toStdString().find(
                  "另选人2：另选人数超过可靠反对票数量（X=1），本项未执行OCR。"),
              std::string::npos);
    const std::size_t warnings = prompts_->warnings.size();
    window_->CommitCurrent();  // approved without a name
    EXPECT_EQ(LastWarning(), "另选人信息不完整、重名或重复，请先人工修正。");
    Type('W', 1, 1, "李伟");  // a printed candidate
    window_->CommitCurrent();
    EXPECT_EQ(LastWarning(), "另选人信息不完整、重名或重复，请先人工修正。");
    Type('W', 1, 1, "  钱多 ");  // the first write-in again
    window_->CommitCurrent();
    EXPECT_EQ(LastWarning(), "另选人信息不完整、重名或重复，请先人工修正。");
    EXPECT_EQ(prompts_->warnings.size(), warnings + 3);
    EXPECT_EQ(Item(4).Status, "待复核");
    Type('W', 1, 1, " 孙少 ");
    window_->CommitCurrent();
    EXPECT_EQ(prompts_->warnings.size(), warnings + 3);
    ASSERT_EQ(Item(4).Status, "已入库");
    EXPECT_EQ(Item(4).Recognition->WriteIns[1].Name, "孙少");

    // Ballot 0: a typed 0 is "?" and blocks; a typed o is taken as O.
    Select(0);
    Type('C', 4, 2, "0");
    window_->CommitCurrent();
    EXPECT_EQ(LastWarning(), "存在未确认符号“?”，请先人工修正。");
    EXPECT_EQ(Item(0).Recognition->Candidates[4].Mark, msUnknown);
    Type('C', 4, 2, "空白");
    Type('C', 3, 2, "o");
    window_->NonBlankFilter()->setChecked(true);
    EXPECT_EQ(Item(0).Recognition->Candidates[3].Mark, msApprove);
    EXPECT_EQ(Shown('C', 3, 2), "O");
    window_->NonBlankFilter()->setChecked(false);
    window_->CommitCurrent();
    EXPECT_EQ(Item(0).Status, "已入库");
    EXPECT_EQ(window_->QueueList()->item(0)->text().toStdString().substr(6, 9), "已入库");

    for (int i : {1, 2}) {
        Select(i);
        window_->CommitCurrent();
        EXPECT_EQ(Item(i).Status, "已入库") << i;
    }
    // The copied scan is the same image: the database refuses it.
    Select(5);
    window_->CommitCurrent();
    ASSERT_FALSE(prompts_->errors.empty());
    EXPECT_EQ(prompts_->errors.back(), "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_EQ(Item(5).Status, "已识别");

    // Tallies: the O, X and blank cells of valid ballots; invalid and abstention ballots count nowhere.
    TQMDatabase& db = window_->Database();
    EXPECT_EQ(db.GetDetailCount(), 5);
    EXPECT_EQ(TallyOf(db, "王芳"), (TTally{2, 1, 0}));
    EXPECT_EQ(TallyOf(db, "李伟"), (TTally{1, 2, 0}));
    EXPECT_EQ(TallyOf(db, "张敏"), (TTally{1, 0, 2}));
    EXPECT_EQ(TallyOf(db, "刘洋"), (TTally{1, 0, 2}));
    EXPECT_EQ(TallyOf(db, "陈静"), (TTally{0, 0, 3}));
    for (const char* writeIn : {"赵敏", "钱多", "孙少"}) EXPECT_EQ(TallyOf(db, writeIn).zc, 1) << writeIn;
    EXPECT_EQ(db.LoadCandidates(true).size(), 8u);
}
