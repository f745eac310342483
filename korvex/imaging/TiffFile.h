#pragma once
// Opening a TIFF held in memory with libtiff and moving through its pages;
// shared by the TIFF decoder and the page identity (not a public interface).
// libtiff's own messages never reach standard error: its first error is kept
// for the decoder message.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <tiffio.h>

#include "imaging/DecoderSupport.h"

namespace korvex::detail {

struct TTiffContext {
    const std::uint8_t* Data = nullptr;
    std::uint64_t Size = 0;
    std::uint64_t Pos = 0;
    bool ReadPastEnd = false;
    std::string FirstError;
};

TTiffContext ContextOver(const std::uint8_t* data, std::size_t size);

struct TTiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TTiffHandle = std::unique_ptr<TIFF, TTiffCloser>;

[[noreturn]] void RaiseTruncated();
// The decoder error for a libtiff failure: cut short, over the memory limit,
// or damaged with libtiff's first error (else the fallback) as the reason.
[[noreturn]] void RaiseTiffFailure(const TTiffContext& ctx, const std::string& fallback);

// mode: "r" reads with the bytes mapped; "c" keeps large strips as stored.
// A file whose first directory lies beyond its end raises as cut short.
TTiffHandle OpenTiff(TTiffContext& ctx, const TImageLimits& limits, const char* mode);
// Pages are the directories that are not reduced-resolution copies.
bool IsPage(TIFF* tif);
// Moves to the next directory; false at the last one. A broken chain raises.
bool NextDirectory(TIFF* tif, TTiffContext& ctx, int& directories);
// Leaves the handle on page pageIndex (from 0); raises when there are fewer.
void GoToPage(TIFF* tif, TTiffContext& ctx, int pageIndex);
// Every strip or tile of the current directory lies within the file.
void RequireWholeImageData(TIFF* tif, TTiffContext& ctx);

}  // namespace korvex::detail
