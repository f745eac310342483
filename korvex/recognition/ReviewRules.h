#pragma once
// What the operator sees and checks before a ballot is counted: the result
// rows with their filters, the proposed ballot type, the checks that block a
// commit and the review notes. Shared by the window and the command line.
#include <optional>
#include <string>
#include <vector>

#include "model/uBallotTypes.h"

namespace korvex {

struct TBallotSuggestion {
    std::string BallotType;
    int Approvals = 0;
};

// Approvals: approved candidates plus approved write-ins with a name.
TBallotSuggestion SuggestBallotType(const TBallotTemplate& ATemplate, const TBallotRecognition& ARecognition);
bool HasUnconfirmedMark(const TBallotRecognition& ARecognition);
// An approved write-in without a name, equal to a printed candidate, or equal
// to an earlier approved write-in.
bool HasWriteInProblem(const TBallotRecognition& ARecognition);
// The confidence shown for a write-in row.
double WriteInConfidence(const TWriteInVoteResult& writeIn);

struct TResultFilter {
    bool NonBlankOnly = false;       // "只显示非空白"
    bool LowConfidenceOnly = false;  // "只显示置信度 < 0.8"
};

// One data row of the result grid: the six columns.
struct TResultRow {
    std::string Category;    // "候选人" / "另选人"
    std::string Name;
    std::string Mark;        // grid text of the mark
    std::string Confidence;  // "%.1f%%"
    std::string Kind;        // "C" / "W"
    std::string Position;    // index in Candidates / WriteIns
};

std::vector<TResultRow> BuildResultRows(const TBallotRecognition& ARecognition, const TResultFilter& filter);
// Takes one grid row back into the recognition: the mark of any row, the
// trimmed name of a write-in row. Rows without a kind or position are skipped.
void SyncResultRow(TBallotRecognition& ARecognition, const std::string& kind, const std::string& position,
                   const std::string& name, const std::string& mark);
// The mark text after one click: blank → O → X → blank, "?" → blank.
std::string NextMarkText(const std::string& markText);

// The review notes, one line each, for the ballot as it stands.
std::vector<std::string> ReviewNotes(const TBallotTemplate& ATemplate, const TBallotRecognition& ARecognition);

// The warning that blocks committing this recognition, or nothing.
std::optional<std::string> CommitBlocker(const TBallotRecognition& ARecognition);

}  // namespace korvex
