#include <gtest/gtest.h>

#include "recognition/ReviewRules.h"

using namespace korvex;

namespace {

TBallotTemplate Template(int maxSelect, int slots) {
    TBallotTemplate t;
    t.TemplateID = "20261210-101500-1A2B3C4D";
    t.MaxSelect = maxSelect;
    t.WriteInSlots = slots;
    return t;
}

TBallotRecognition Ballot(const std::vector<TMarkState>& marks) {
    TBallotRecognition r;
    const char* names[] = {"甲", "乙", "丙", "丁", "戊", "己", "庚", "辛"};
    for (std::size_t i = 0; i < marks.size(); ++i)
        r.Candidates.push_back({static_cast<int>(i + 1), names[i % 8], marks[i], 0.95});
    return r;
}

TWriteInVoteResult WriteIn(TMarkState mark, const std::string& name, bool ink = true) {
    TWriteInVoteResult w;
    w.Mark = mark;
    w.Name = name;
    w.HasNameInk = ink;
    w.MarkConfidence = 0.95;
    w.NameConfidence = 0.9;
    return w;
}

}  // namespace

TEST(ReviewRules, SuggestedBallotType) {
    const TBallotTemplate t = Template(5, 2);
    EXPECT_EQ(SuggestBallotType(t, Ballot({msBlank, msReject, msUnknown})).BallotType, "弃权票");
    TBallotRecognition six = Ballot({msApprove, msApprove, msApprove, msApprove, msApprove, msReject});
    six.WriteIns = {WriteIn(msApprove, "张三")};
    const auto invalid = SuggestBallotType(t, six);
    EXPECT_EQ(invalid.BallotType, "废票");
    EXPECT_EQ(invalid.Approvals, 6);
    six.WriteIns[0].Name = "  ";  // an approved write-in without a name does not count
    EXPECT_EQ(SuggestBallotType(t, six).BallotType, "有效票");
    EXPECT_EQ(SuggestBallotType(t, six).Approvals, 5);
}

TEST(ReviewRules, WriteInProblems) {
    const struct {
        std::vector<TWriteInVoteResult> writeIns;
        bool problem;
    } cases[] = {
        {{}, false},
        {{WriteIn(msApprove, "张三")}, false},
        {{WriteIn(msApprove, "")}, true},
        {{WriteIn(msBlank, "")}, false},                              // not approved: ignored
        {{WriteIn(msApprove, "乙")}, true},                           // a printed candidate's name
        {{WriteIn(msApprove, "Li Na"), WriteIn(msApprove, " li na ")}, true},  // duplicates after trimming
        {{WriteIn(msApprove, "张三"), WriteIn(msReject, "张三")}, false},
    };
    for (const auto& c : cases) {
        TBallotRecognition r = Ballot({msReject, msBlank});
        r.WriteIns = c.writeIns;
        EXPECT_EQ(HasWriteInProblem(r), c.problem) << c.writeIns.size();
    }
}

TEST(ReviewRules, WriteInConfidenceShown) {
    TBallotRecognition r;
    r.WriteIns = {WriteIn(msApprove, "张三")};
    TWriteInVoteResult& w = r.WriteIns[0];
    w.NameConfidence = 0.6;
    EXPECT_EQ(BuildResultRows(r, {}).at(0).Confidence, "60.0%");
    w.NameConfidence = 0;
    EXPECT_EQ(BuildResultRows(r, {}).at(0).Confidence, "0.0%");
    w.HasNameInk = false;
    EXPECT_EQ(BuildResultRows(r, {}).at(0).Confidence, "95.0%");
}

TEST(ReviewRules, RowsAndFilters) {
    TBallotRecognition r = Ballot({msBlank, msApprove, msReject});
    r.Candidates[2].Confidence = 0.5;
    r.WriteIns = {WriteIn(msBlank, "", true), WriteIn(msBlank, "", false), WriteIn(msBlank, "王五", false)};
    r.WriteIns[0].NameConfidence = 0;  // ink but nothing read
    const auto all = BuildResultRows(r, {});
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[1].Category, "候选人");
    EXPECT_EQ(all[1].Mark, "O");
    EXPECT_EQ(all[1].Kind, "C");
    EXPECT_EQ(all[1].Position, "1");
    EXPECT_EQ(all[3].Category, "另选人");
    EXPECT_EQ(all[5].Position, "2");
    // Non-blank: the blank candidate and the empty write-in go; ink or a name keeps a write-in.
    const auto nonBlank = BuildResultRows(r, {.NonBlankOnly = true});
    ASSERT_EQ(nonBlank.size(), 4u);
    EXPECT_EQ(nonBlank[2].Position, "0");
    EXPECT_EQ(nonBlank[3].Name, "王五");
    const auto low = BuildResultRows(r, {.LowConfidenceOnly = true});
    ASSERT_EQ(low.size(), 2u);  // the 0.5 cross and the write-in with ink but no name score
    EXPECT_EQ(low[0].Position, "2");
    EXPECT_EQ(BuildResultRows(r, {true, true}).size(), 2u);
}

TEST(ReviewRules, GridRowsFlowBackIntoTheRecognition) {
    TBallotRecognition r = Ballot({msBlank, msBlank});
    r.WriteIns = {WriteIn(msBlank, "")};
    SyncResultRow(r, "C", "0", "typed name ignored", "o");
    SyncResultRow(r, "C", "1", "", "0");
    SyncResultRow(r, "W", "0", "  赵六 ", " X ");
    SyncResultRow(r, "C", "7", "", "O");   // out of range: ignored
    SyncResultRow(r, "", "0", "", "X");    // no kind: ignored
    SyncResultRow(r, "C", "a", "", "X");   // no position: ignored
    EXPECT_EQ(r.Candidates[0].Mark, msApprove);
    EXPECT_EQ(r.Candidates[0].CandidateName, "甲");
    EXPECT_EQ(r.Candidates[1].Mark, msUnknown);
    EXPECT_EQ(r.WriteIns[0].Name, "赵六");
    EXPECT_EQ(r.WriteIns[0].Mark, msReject);
    EXPECT_EQ(CommitBlocker(r), "存在未确认符号“?”，请先人工修正。");
}

TEST(ReviewRules, MarkCycle) {
    EXPECT_EQ(NextMarkText("空白"), "O");
    EXPECT_EQ(NextMarkText("O"), "X");
    EXPECT_EQ(NextMarkText("X"), "空白");
    EXPECT_EQ(NextMarkText("?"), "空白");
    EXPECT_EQ(NextMarkText(NextMarkText("?")), "O");
}

TEST(ReviewRules, NotesOfAProblemBallot) {
    TBallotTemplate t = Template(5, 2);
    t.TemplateKind = tkExternal;
    TBallotRecognition r = Ballot({msApprove, msUnknown, msBlank});
    r.Rotation = 180;
    r.DeskewAngle = 0.573;
    r.NeedReview = true;
    r.WriteIns = {WriteIn(msApprove, "甲"), WriteIn(msBlank, "")};
    r.WriteIns[0].NameOCRAttempted = true;
    r.WriteIns[1].NameOCRError = "OCR未返回可用姓名。";
    EXPECT_EQ(ReviewNotes(t, r), (std::vector<std::string>{
                                     "模板：20261210-101500-1A2B3C4D",
                                     "方向：180°；最多可选：5；另选人数：2；当前赞成：2",
                                     "外部票配准：长边校正 + 四点透视；检测倾斜角 0.57°。",
                                     "系统建议票型：有效票",
                                     "另选人OCR：正式候选人X=0；本票实际调用OCR=1次。",
                                     "存在“?”，必须人工改为 O / X / 空白后才能入库。",
                                     "另选人信息不完整、与正式候选人重名或重复，请人工核对。",
                                     "另选人O数量大于正式候选人X数量，请人工核对票面规则。",
                                     "另选人2：OCR未返回可用姓名。（可直接人工复核/填写姓名，不影响固定候选人识别。）",
                                     "提示：自动识别曾标记本票需要人工复核。",
                                 }));
    // A clean standard ballot without slots has only the four fixed lines.
    const TBallotRecognition clean = Ballot({msApprove, msReject});
    EXPECT_EQ(ReviewNotes(Template(5, 0), clean).size(), 3u);
    EXPECT_EQ(CommitBlocker(clean), std::nullopt);
}
