#pragma once
// What one recognition run holds while it reads a ballot: the scan, the
// template, where the page lies in the scan, and the write-in state.
#include <memory>
#include <string>

#include "imaging/uImageCore.h"
#include "model/uBallotTypes.h"
#include "ocr/uExternalOCR.h"

namespace korvex {

struct TBallotContext {
    TRaster Raster;
    std::unique_ptr<TBallotTemplate> Template;
    TCornerSet PageCorners{};  // standard ballots
    TFrameQuad Frame{};        // external ballots
    std::string ConfigFile;
    int ReliableCrosses = 0;
    // The OCR client, made at the first name to read and kept for the run.
    std::unique_ptr<TExternalOCR> OCR;
    bool OCRAvailable = false;
    std::string OCRDescription;
};

// The scan point of a template point, by the run's own mapping.
TPointD MapTemplatePoint(const TBallotContext& ctx, double x, double y);

// A template region cut out of the scan as an upright outW × outH raster;
// external regions are first shrunk by the insets fx, fy.
TRaster ExtractCellImage(const TBallotContext& ctx, const TRect& region, int outW, int outH, double fx, double fy);

}  // namespace korvex
