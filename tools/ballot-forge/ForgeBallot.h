#pragma once
// Filled ballots: which marks and names go on a ballot, drawing them on the
// page, and the ground-truth record of what was drawn.
#include <cstdint>
#include <string>
#include <vector>

#include <QImage>

#include "PenMarks.h"
#include "ScanEffects.h"
#include "model/uBallotTypes.h"

namespace korvex::forge {

struct TWriteInFill {
    std::string Name;  // empty: nothing written
    TMarkStyle Mark = TMarkStyle::Blank;
};

// The content of one ballot: one style per candidate cell (template order),
// one entry per write-in slot.
struct TBallotFill {
    std::vector<TMarkStyle> Candidates;
    std::vector<TWriteInFill> WriteIns;
};

// One line of a marks file: mark characters for the candidates, then for each
// write-in slot "|" name ":" mark, for example "OX-O@ | 张三:O | :-".
// Missing cells are blank; raises EKorvexError for a malformed line.
TBallotFill ParseFillLine(const std::string& line, const TBallotTemplate& ATemplate);
std::string FillToLine(const TBallotFill& fill);

// A plausible ballot: mostly O, X and blanks, some hard cases, now and then a
// write-in (written only beside at least one X, as the rules ask).
TBallotFill RandomFill(const TBallotTemplate& ATemplate, TForgeRandom& rng, double hardShare);

// n candidates with plausible, distinct Chinese names, IDs 1..n.
std::vector<TCandidateInfo> ForgeCandidateNames(int count);

// Draws the fill onto a rendered page (300 dots per inch, template units).
void DrawFill(QImage& page, const TBallotTemplate& ATemplate, const TBallotFill& fill, TForgeRandom& rng);

// One forged scan and its record.
struct TForgedScan {
    std::string FileName;  // name only
    TBallotFill Fill;
    TScanSettings Scan;
    QTransform PageToScan;
    int Width = 0, Height = 0;
};

// JSON of the whole run: settings, template, and every ballot with its cells,
// write-ins and the geometry applied.
std::string GroundTruthJson(const TBallotTemplate& ATemplate, std::uint64_t seed, const std::vector<TForgedScan>& scans);

}  // namespace korvex::forge
