#pragma once
// The write-in rules: a write-in name is read only when its circle is
// reliable, the ballot has a reliable cross, the name cell holds handwriting,
// and fewer names than reliable crosses have been read on this ballot.
#include "recognition/BallotContext.h"

namespace korvex {

// Fills recognition.WriteIns (already one element per slot) and NeedReview.
void RecognizeWriteIns(TBallotContext& ctx, TBallotRecognition& recognition);

}  // namespace korvex
