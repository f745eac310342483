#pragma once
// A ballot of a foreign layout: a table in a rectangular outer frame with the
// candidates' names and their mark cells, no corner blocks and no code.
#include <string>
#include <vector>

#include <QImage>

#include "model/uBallotTypes.h"

namespace korvex::forge {

constexpr int kMaxExternalCandidates = 16;

struct TExternalBallot {
    TBallotTemplate Template;  // kind External, regions in reference pixels
    QImage Reference;          // the empty ballot, 2480 x 3508 at 300 dpi
};

// Option mode "1" (one cell, O / X / blank), "2.v" (approve, oppose boxes) or
// "3.v" (approve, oppose, abstain) with v = 1..5 the mark style.
TExternalBallot MakeExternalBallot(const std::vector<TCandidateInfo>& candidates, const std::string& optionMode,
                                   int writeInCount, const std::string& title, const std::string& templateID);

// Writes TemplateID + ".ini" into the folder and the reference image as
// "ExternalRefs/" + TemplateID + "_ref.bmp"; returns the template file's path.
std::string SaveExternalBallot(const TExternalBallot& ballot, const std::string& folder);

// Boxes side by side in the option cell: 1, 2 or 3.
int OptionBoxCount(const std::string& optionMode);

}  // namespace korvex::forge
