#pragma once
// The standard ballot layout: candidate groups and write-in slots on the fixed
// 2480 x 3508 page grid (A4 at 300 units per inch).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/uBallotTypes.h"

namespace korvex {

constexpr int kMaxStandardCandidates = 56;
constexpr int kMaxWriteInSlots = 4;

struct TStandardGrid {
    int Columns = 0;
    int Groups = 0;
    friend bool operator==(const TStandardGrid&, const TStandardGrid&) = default;
};

// Columns and groups for n printed candidates; raises "数据库中没有候选人。"
// for n <= 0 and the 56-candidate message for n > 56.
TStandardGrid ChooseStandardGrid(int candidateCount);

// The layout for the candidates in ballot order. TemplateID is made from the
// current local time and a new GUID; TemplateCode is its code.
std::unique_ptr<TBallotTemplate> GenerateStandardTemplate(const std::vector<TCandidateInfo>& candidates,
                                                          std::string_view title, int maxSelect, int writeInCount);

// The same layout with a given identifier (used where the identifier must be
// reproducible, for example by the ballot forge).
std::unique_ptr<TBallotTemplate> GenerateStandardTemplateWithID(const std::vector<TCandidateInfo>& candidates,
                                                                std::string_view title, int maxSelect,
                                                                int writeInCount, std::string templateID);

// "yyyymmdd-hhnnss-" + the first 8 characters of a new GUID, in local time.
std::string NewStandardTemplateID();

}  // namespace korvex
