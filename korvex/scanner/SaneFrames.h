#pragma once
// Turns the frames a SANE device delivers into the 24-bit working raster.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Raster.h"

namespace korvex {

enum class TFrameKind { Gray, Rgb, Red, Green, Blue };

struct TSaneFrame {
    TFrameKind Kind = TFrameKind::Gray;
    int Depth = 8;             // 1, 8 or 16 bits per sample
    int PixelsPerLine = 0;
    int BytesPerLine = 0;
    int Lines = 0;             // lines actually received
    std::vector<std::uint8_t> Data;
};

// Largest page accepted from a device, in pixels per side.
constexpr int kMaxScanSide = 30000;

// Gray and line-art frames become grey pixels (a set bit of a 1-bit grey frame
// is black); 16-bit samples are in host byte order. Raises EKorvexError for a
// frame set it cannot combine.
TRaster FramesToRaster(const std::vector<TSaneFrame>& frames);

}  // namespace korvex
