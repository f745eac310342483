#pragma once
// A minimal 24-bit BMP writer for the ballot preview.
#include <string>

#include "imaging/Raster.h"

namespace korvex {

// Writes an uncompressed bottom-up 24-bit BMP at 300 dots per inch; raises
// EFileError when the file cannot be written.
void WritePreviewBitmap24(const TRaster& raster, const std::string& fileName);

}  // namespace korvex
