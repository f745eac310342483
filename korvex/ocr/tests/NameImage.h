#pragma once
// Renders a name as black text on white, the way a write-in cell is cut out.
#include <string>

#include "imaging/Raster.h"

namespace ocrtest {

korvex::TRaster RenderName(const std::string& utf8Name, int width = 320, int height = 64);

}  // namespace ocrtest
