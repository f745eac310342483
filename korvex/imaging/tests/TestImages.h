#pragma once
// Synthetic pictures and encoders for the imaging tests: rasters drawn in
// code, BMP files of every depth, PNG and JPEG written through the libraries.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Raster.h"
#include "model/uBallotTypes.h"

namespace korvex::test {

void FillRect(TRaster& r, int left, int top, int right, int bottom, std::uint8_t grey);
void SetPixel(TRaster& r, int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t red);
// A thick line between two points (discs of the given radius along it).
void DrawLine(TRaster& r, double x0, double y0, double x1, double y1, double radius, std::uint8_t grey = 0);
// An elliptic ring of the given stroke radius.
void DrawEllipse(TRaster& r, double cx, double cy, double rx, double ry, double radius, std::uint8_t grey = 0);
// Outline of a rectangle drawn `thickness` pixels inwards from its edges.
void DrawFrame(TRaster& r, int left, int top, int right, int bottom, int thickness, std::uint8_t grey = 0);

TRaster RotateClockwise(const TRaster& r);  // a quarter turn
TRaster Rotate180(const TRaster& r);
TRaster HalfSize(const TRaster& r);          // 2 × 2 box average

// A standard page at 2480 × 3508: four corner blocks and the code grid of `code`.
TRaster DrawStandardPage(std::uint32_t code);
// The 28 border cells plus the 36 inner cells of a code, drawn into the grid
// rectangle scaled by `scale` (1 = page grid units).
void DrawCodeGrid(TRaster& page, std::uint32_t code, double scale = 1.0);
// Whether cell (col, row) of the grid of `code` is black.
bool CodeCellBlack(std::uint32_t code, int col, int row);

// A colourful picture using at most `colours` distinct colours (0 = any).
TRaster MakeTestPicture(int width, int height, int colours = 0);

struct TBmpOptions {
    int Bits = 24;               // 1, 4, 8, 16, 24, 32
    bool TopDown = false;
    bool Bitfields = false;      // 16: 5-6-5 masks; 32: masks in B, G, R order swapped
    int HeaderSize = 40;         // 12, 40, 108 or 124
    std::vector<std::uint8_t> Alpha;  // 32-bit only: one alpha per pixel (with a V4/V5 header)
};
std::string EncodeBmp(const TRaster& r, const TBmpOptions& options);

enum TPngKind { pkRgb8, pkRgba8, pkPalette, pkGrey8, pkGrey16, pkRgb16, pkGreyAlpha8, pkPaletteTrns };
std::string EncodePng(const TRaster& r, TPngKind kind, bool interlaced = false,
                      const std::vector<std::uint8_t>& alpha = {});
std::string EncodeJpeg(const TRaster& r, int quality, bool grey = false, bool progressive = false,
                       bool cmyk = false);

// A fresh folder under the build's temporary directory, removed at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};
void WriteFile(const std::string& fileName, const std::string& bytes);
std::string ReadFile(const std::string& fileName);

}  // namespace korvex::test
