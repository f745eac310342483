// Feeds arbitrary bytes to one picture decoder (chosen at build time). Any
// outcome but a decoded raster or an EImageError is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/DecoderSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korvex::TImageLimits limits;
    // Small limits keep each run quick; the limit checks themselves are exercised.
    limits.MaxSide = 4096;
    limits.MaxPixels = 4'000'000;
    limits.MaxWorkBytes = 64'000'000;
    try {
        korvex::TRaster raster = korvex::detail::KORVEX_FUZZ_DECODER(data, size, limits);
        if (raster.Width <= 0 || raster.Height <= 0 ||
            raster.Pixels.size() != static_cast<std::size_t>(raster.Width) * raster.Height * 3u)
            std::abort();
    } catch (const korvex::EImageError&) {
    }
    return 0;
}
