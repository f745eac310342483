// Feeds arbitrary bytes to the TIFF decoder: the page count, the first pages
// and their scan identities. Any outcome but decoded rasters or an
// EImageError is a fault.
#include <algorithm>
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
    int pages = 0;
    try {
        pages = korvex::detail::CountTiffPages(data, size, limits);
    } catch (const korvex::EImageError&) {
        return 0;
    }
    for (int page = 0; page < std::min(pages, 3); ++page) {
        try {
            korvex::TRaster raster = korvex::detail::DecodeTiffPage(data, size, page, limits);
            if (raster.Width <= 0 || raster.Height <= 0 ||
                raster.Pixels.size() != static_cast<std::size_t>(raster.Width) * raster.Height * 3u)
                std::abort();
        } catch (const korvex::EImageError&) {
        }
        try {
            if (korvex::detail::TiffPageScanUID(data, size, page, limits).size() != 16) std::abort();
        } catch (const korvex::EImageError&) {
        }
    }
    return 0;
}
