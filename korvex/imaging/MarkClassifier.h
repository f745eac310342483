#pragma once
// Reading one mark cell (O, X or blank) and the split option boxes of an
// external ballot. Every decided mark carries a confidence of at least 0.8,
// every msUnknown less than 0.8.
#include <string_view>

#include "imaging/InkMeasures.h"
#include "model/uBallotTypes.h"

namespace korvex {

struct TMarkReading {
    TMarkState State = msUnknown;
    double Confidence = 0.0;
};

// The review line: a mark below it, or msUnknown, needs the operator.
constexpr double kReviewConfidence = 0.8;

// One cell with a circle (approve), a cross (oppose) or nothing (abstain).
TMarkReading ClassifyMarkCell(const TRaster& cell);
// Two or three boxes side by side (approve, oppose[, abstain]); optionMode is
// the template's text such as "2.1" or "3-2".
TMarkReading ClassifySplitOptionCell(const TRaster& cell, std::string_view optionMode);

}  // namespace korvex
