#pragma once
// Locating a standard ballot by its four black corner blocks, the four
// orientations, the page-to-scan mapping and the printed template code.
#include <array>
#include <cstdint>

#include "imaging/InkMeasures.h"

namespace korvex {

// Four points in scan pixels. As found: [scan top left, top right, bottom
// left, bottom right]; after OrderCorners: the page's [P0, P1, P2, P3].
using TCornerSet = std::array<TPointD, 4>;

// Page grid of the standard ballot.
constexpr TPointD kPageCornerCentres[4] = {{140, 140}, {2340, 140}, {140, 3368}, {2340, 3368}};
constexpr TRect kCodeGridRect{2040, 280, 2240, 480};
constexpr int kCodeImageSize = 160;

// The best corner-block candidate in the search rectangle (clipped to the
// raster): its centroid in scan coordinates, or false and (0, 0).
bool FindCornerBlock(const TRaster& raster, const TRect& search, TPointD& centre);
// Searches the four corner regions; true only when all four hold a block.
bool FindCornerBlocks(const TRaster& raster, TCornerSet& scanCorners);
// The page-ordered set for orientation k (quarter turns clockwise, modulo 4).
TCornerSet OrderCorners(const TCornerSet& scanCorners, int k);
// Bilinear map of a page point through the block centres; extrapolates outside.
TPointD MapPagePoint(const TCornerSet& pageCorners, double pageX, double pageY);
// The page rectangle resampled upright into an outW × outH raster.
TRaster WarpStandardRegion(const TRaster& raster, const TCornerSet& pageCorners, const TRect& page, int outW,
                           int outH);
// Whether the code cell (column, row) of an 8 × 8 code image is black.
bool CodeCellIsDark(const TRaster& codeImage, int column, int row);
// Reads the template code; the code is returned even when it is not valid.
bool ReadTemplateCode(const TRaster& raster, const TCornerSet& pageCorners, std::uint32_t& code);
// The same reading on a code image already cut out (kCodeImageSize square).
bool DecodeTemplateCodeImage(const TRaster& codeImage, std::uint32_t& code);

}  // namespace korvex
