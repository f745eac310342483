#pragma once
// Drawing the standard ballot at full resolution: one pixel per page-grid unit.
#include <array>
#include <cstdint>
#include <string>

#include <QImage>

#include "imaging/Raster.h"
#include "model/uBallotTypes.h"

class QPainter;

namespace korvex {

// One cell text: "宋体" at the given character height, black, centred on one
// line, shortened with an ellipsis when it does not fit. The painter's state
// is restored afterwards.
void DrawCellText(QPainter& canvas, const TRect& rect, const std::string& text, bool bold, int height);

// The 8 x 8 code block at (2040, 280)-(2240, 480) and its caption.
void DrawTemplateCodeMark(QPainter& canvas, std::uint32_t code);

// The whole 2480 x 3508 page, white background (QImage::Format_RGB32).
QImage RenderBallotBitmap(const TBallotTemplate& ATemplate);

// The three instruction texts and the top of their block.
std::array<std::string, 3> BallotInstructionTexts(const TBallotTemplate& ATemplate);
int BallotInstructionTop(const TBallotTemplate& ATemplate);

// Conversions between Qt images and the working raster (24-bit BGR, top-down).
TRaster ImageToRaster(const QImage& image);
QImage RasterToImage(const TRaster& raster);

// Renders the page and writes it as TemplateID + "_preview.bmp" (24-bit) in the
// folder; returns the file's path.
std::string SaveBallotPreview(const TBallotTemplate& ATemplate, const std::string& templateFolder);

}  // namespace korvex
