#include "recognition/ReviewRules.h"

#include <algorithm>

#include "model/TextUtil.h"

namespace korvex {
namespace {

bool NamedApproval(const TWriteInVoteResult& w) { return w.Mark == msApprove && !TrimBlanks(w.Name).empty(); }

std::string Percent(double confidence) { return Format("%.1f%%", confidence * 100.0); }

bool EmptyWriteIn(const TWriteInVoteResult& w) {
    return w.Mark == msBlank && !w.HasNameInk && TrimBlanks(w.Name).empty();
}

}  // namespace

TBallotSuggestion SuggestBallotType(const TBallotTemplate& t, const TBallotRecognition& r) {
    int approvals = 0;
    for (const TCandidateVoteResult& c : r.Candidates) approvals += c.Mark == msApprove ? 1 : 0;
    for (const TWriteInVoteResult& w : r.WriteIns) approvals += NamedApproval(w) ? 1 : 0;
    if (approvals == 0) return {kAbstentionBallot, approvals};
    if (approvals > t.MaxSelect) return {kInvalidBallot, approvals};
    return {kValidBallot, approvals};
}

bool HasUnconfirmedMark(const TBallotRecognition& r) {
    for (const TCandidateVoteResult& c : r.Candidates)
        if (c.Mark == msUnknown) return true;
    for (const TWriteInVoteResult& w : r.WriteIns)
        if (w.Mark == msUnknown) return true;
    return false;
}

bool HasWriteInProblem(const TBallotRecognition& r) {
    std::vector<std::string_view> earlier;
    for (const TWriteInVoteResult& w : r.WriteIns) {
        if (w.Mark != msApprove) continue;
        const std::string_view name = TrimBlanks(w.Name);
        if (name.empty()) return true;
        for (const TCandidateVoteResult& c : r.Candidates)
            if (SameText(name, c.CandidateName)) return true;
        for (const std::string_view e : earlier)
            if (SameText(name, e)) return true;
        earlier.push_back(name);
    }
    return false;
}

double WriteInConfidence(const TWriteInVoteResult& w) {
    if (!w.HasNameInk) return w.MarkConfidence;
    if (!(w.NameConfidence > 0)) return 0.0;
    return std::min(w.MarkConfidence, w.NameConfidence);
}

std::vector<TResultRow> BuildResultRows(const TBallotRecognition& r, const TResultFilter& f) {
    std::vector<TResultRow> rows;
    for (std::size_t i = 0; i < r.Candidates.size(); ++i) {
        const TCandidateVoteResult& c = r.Candidates[i];
        if (f.NonBlankOnly && c.Mark == msBlank) continue;
        if (f.LowConfidenceOnly && c.Confidence >= 0.8) continue;
        rows.push_back({"候选人", c.CandidateName, MarkStateToText(c.Mark), Percent(c.Confidence), "C",
                        std::to_string(i)});
    }
    for (std::size_t i = 0; i < r.WriteIns.size(); ++i) {
        const TWriteInVoteResult& w = r.WriteIns[i];
        const double confidence = WriteInConfidence(w);
        if (f.NonBlankOnly && EmptyWriteIn(w)) continue;
        if (f.LowConfidenceOnly && confidence >= 0.8) continue;
        rows.push_back({"另选人", w.Name, MarkStateToText(w.Mark), Percent(confidence), "W", std::to_string(i)});
    }
    return rows;
}

void SyncResultRow(TBallotRecognition& r, const std::string& kind, const std::string& position,
                   const std::string& name, const std::string& mark) {
    if (kind.empty()) return;
    const auto index = ParseDecimalInt32(position);
    if (!index || *index < 0) return;
    const auto at = static_cast<std::size_t>(*index);
    if (kind == "C" && at < r.Candidates.size()) {
        r.Candidates[at].Mark = TextToMarkState(mark);
    } else if (kind == "W" && at < r.WriteIns.size()) {
        r.WriteIns[at].Name = TrimmedCopy(name);
        r.WriteIns[at].Mark = TextToMarkState(mark);
    }
}

std::string NextMarkText(const std::string& markText) {
    switch (TextToMarkState(markText)) {
        case msBlank: return MarkStateToText(msApprove);
        case msApprove: return MarkStateToText(msReject);
        case msReject:
        case msUnknown: break;
    }
    return MarkStateToText(msBlank);
}

std::vector<std::string> ReviewNotes(const TBallotTemplate& t, const TBallotRecognition& r) {
    const TBallotSuggestion suggestion = SuggestBallotType(t, r);
    int xCount = 0, oCount = 0, ocrCount = 0;
    for (const TCandidateVoteResult& c : r.Candidates) xCount += c.Mark == msReject ? 1 : 0;
    for (const TWriteInVoteResult& w : r.WriteIns) {
        oCount += NamedApproval(w) ? 1 : 0;
        ocrCount += w.NameOCRAttempted ? 1 : 0;
    }
    std::vector<std::string> lines;
    lines.push_back("模板：" + t.TemplateID);
    lines.push_back(Format("方向：%d°；最多可选：%d；另选人数：%d；当前赞成：%d", r.Rotation, t.MaxSelect, t.WriteInSlots,
                           suggestion.Approvals));
    if (t.TemplateKind == tkExternal)
        lines.push_back(Format("外部票配准：长边校正 + 四点透视；检测倾斜角 %.2f°。", r.DeskewAngle));
    lines.push_back("系统建议票型：" + suggestion.BallotType);
    if (t.WriteInSlots > 0)
        lines.push_back(Format("另选人OCR：正式候选人X=%d；本票实际调用OCR=%d次。", xCount, ocrCount));
    if (HasUnconfirmedMark(r)) lines.push_back("存在“?”，必须人工改为 O / X / 空白后才能入库。");
    if (HasWriteInProblem(r)) lines.push_back("另选人信息不完整、与正式候选人重名或重复，请人工核对。");
    if (xCount < oCount) lines.push_back("另选人O数量大于正式候选人X数量，请人工核对票面规则。");
    for (std::size_t i = 0; i < r.WriteIns.size(); ++i) {
        const std::string_view error = TrimBlanks(r.WriteIns[i].NameOCRError);
        if (!error.empty())
            lines.push_back(Format("另选人%zu：%s（可直接人工复核/填写姓名，不影响固定候选人识别。）", i + 1,
                                   r.WriteIns[i].NameOCRError.c_str()));
    }
    if (r.NeedReview) lines.push_back("提示：自动识别曾标记本票需要人工复核。");
    return lines;
}

std::optional<std::string> CommitBlocker(const TBallotRecognition& r) {
    if (HasUnconfirmedMark(r)) return std::string("存在未确认符号“?”，请先人工修正。");
    if (HasWriteInProblem(r)) return std::string("另选人信息不完整、重名或重复，请先人工修正。");
    return std::nullopt;
}

}  // namespace korvex
