#pragma once
// TIFF files written through libtiff for the tests: single and multi-page,
// every common pixel kind, strips or tiles, any compression libtiff writes.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Raster.h"

namespace korvex::test {

enum TTiffPixels { tpBilevel, tpGrey8, tpGrey16, tpRgb8, tpRgba8, tpPalette8, tpCmyk8 };

struct TTiffPage {
    TRaster Picture;
    TTiffPixels Pixels = tpRgb8;
    int Compression = 1;          // libtiff's COMPRESSION_* number; 1 = none
    bool MinIsWhite = false;      // bilevel and grey: 0 is white
    int TileSize = 0;             // a multiple of 16; 0 = strips
    int RowsPerStrip = 0;         // 0 = the whole picture in one strip
    int Predictor = 1;            // LZW and Deflate: 2 = horizontal differencing
    bool Reduced = false;         // a reduced-resolution copy (thumbnail), not a page
    double Dpi = 0;               // 0 = no resolution fields
    std::vector<std::uint8_t> Alpha;  // tpRgba8: one per pixel, unassociated
};

TTiffPage TiffPage(const TRaster& picture, TTiffPixels pixels, int compression = 1, bool minIsWhite = false);

// The bytes of a TIFF holding the pages in order. Bilevel pages are black
// where the picture's grey value is below 128; grey pages store the grey
// value of each pixel; palette pages need at most 256 distinct colours.
// mode: libtiff's "w" (this machine's byte order), "wb" (big-endian), "w8"
// (BigTIFF), "wb8".
std::string EncodeTiff(const std::vector<TTiffPage>& pages, const char* mode = "w");

// The picture as the bilevel and grey kinds store it (black and white, or grey).
TRaster BilevelOf(const TRaster& r);
TRaster GreyPicture(const TRaster& r);

}  // namespace korvex::test
