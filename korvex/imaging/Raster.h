#pragma once
// The working raster: 24-bit pixels in blue, green, red order, row 0 at the top,
// rows packed without padding.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvex {

struct TRaster {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Pixels;  // Width * Height * 3 bytes

    TRaster() = default;
    TRaster(int width, int height, std::uint8_t fill = 255)
        : Width(width), Height(height),
          Pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u, fill) {}

    std::size_t Stride() const { return static_cast<std::size_t>(Width) * 3u; }
    std::uint8_t* Row(int y) { return Pixels.data() + static_cast<std::size_t>(y) * Stride(); }
    const std::uint8_t* Row(int y) const { return Pixels.data() + static_cast<std::size_t>(y) * Stride(); }
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

}  // namespace korvex
