#pragma once
// Registering an externally printed ballot by the large rectangular frame of a
// reference image: corner search in the quarter turns the page shape allows,
// edge-line refinement, skew measurement and the four-point perspective map.
#include <array>

#include "imaging/InkMeasures.h"
#include "model/uBallotTypes.h"

namespace korvex {

// [P0 top left, P1 top right, P2 bottom left, P3 bottom right] of the frame
// as printed, in scan pixels, wherever they lie in the scan.
using TFrameQuad = std::array<TPointD, 4>;

// A line a·x + b·y + c = 0 with (a, b) a unit normal.
struct TLine {
    double A = 0.0, B = 0.0, C = 0.0;
};

// Finds the frame F (reference pixels of a refW × refH reference image) in
// the scan. rotation is 0, 90, 180 or 270.
bool FindExternalFrame(const TRaster& raster, int refW, int refH, const TRect& frame, int& rotation,
                       TFrameQuad& quad);
// The mean direction of the top and bottom edges in degrees, in (−90, 90].
double ComputeFrameSkewAngle(const TFrameQuad& quad);
// The perspective map carrying F onto the quadrilateral.
TPointD MapFramePoint(const TFrameQuad& quad, const TRect& frame, double refX, double refY);
// A reference rectangle resampled through MapFramePoint into outW × outH.
TRaster WarpExternalRegion(const TRaster& raster, const TFrameQuad& quad, const TRect& frame, const TRect& region,
                           int outW, int outH);
// The angle reduced to (−90, 90] by steps of 180.
double NormalizeAngle(double degrees);

// Straightening a reference page against the frame drawn on it: the page of
// the same size on which the frame's corners fall on the corners of F.
struct TStraightenedPage {
    TRaster Page;
    TFrameQuad Quad{};
    int Rotation = 0;
    double SkewAngle = 0.0;
};
bool StraightenReferencePage(const TRaster& raster, const TRect& frame, TStraightenedPage& result);

// Building blocks, exposed for the tests and the template editor.
TPointD MapReferencePoint(int scanW, int scanH, int refW, int refH, double x, double y, int k);
void RotateDirection(int k, int dx, int dy, int& outDx, int& outDy);
double InkHitRatioAlongLine(const TRaster& raster, int x0, int y0, int dx, int dy, int length, int step, int radius);
double LineProfileDarkness(const TRaster& raster, TPointD p, TPointD tangent, TPointD normal);
bool FitLine(const TPointD* points, int count, TLine& line);
bool FitEdgeLine(const TRaster& raster, TPointD p, TPointD q, TLine& line);
bool IntersectLines(const TLine& l1, const TLine& l2, TPointD& point);
bool RefineQuadByEdges(const TRaster& raster, const TFrameQuad& quad, TFrameQuad& refined);

}  // namespace korvex
