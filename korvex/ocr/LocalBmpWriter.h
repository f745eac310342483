#pragma once
// A 24-bit BMP writer for the OCR input bitmap only, kept in this one file so
// that it can give way to the image core's writer of the same signature.
#include <string>

#include "imaging/Raster.h"

namespace korvex::ocrbmp {

// Writes an uncompressed bottom-up 24-bit Windows bitmap. Raises EKorvexError
// (EFileError when the file cannot be written).
void SaveBitmap24(const TRaster& raster, const std::string& fileName);

}  // namespace korvex::ocrbmp
