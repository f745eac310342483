#pragma once
// Loading pictures into the working raster and saving it as a 24-bit BMP.
// The format is decided by the file's first bytes, never by its extension:
// BMP (own reader), JPEG (libjpeg-turbo), PNG (libpng) and TIFF (libtiff,
// also multi-page).
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/Raster.h"
#include "model/Errors.h"

namespace korvex {

// Hard limits applied before any pixel memory is allocated. The defaults admit
// an A3 page at 600 dpi with room to spare; a header claiming more is refused.
struct TImageLimits {
    int MaxSide = 30000;                     // pixels per side
    std::int64_t MaxPixels = 100'000'000;    // width × height (raster ≤ 300 MB)
    std::int64_t MaxFileBytes = 512ll << 20; // bytes read from one file
    // Decoder working memory beyond the raster (JPEG coefficient buffers of
    // progressive files, a PNG interlace buffer), in bytes.
    std::int64_t MaxWorkBytes = 800'000'000;
};

enum TImageErrorKind {
    ikEmptyFile,          // zero bytes
    ikUnknownFormat,      // not BMP, JPEG, PNG or TIFF
    ikInvalidDimensions,  // zero or negative width or height
    ikTooLarge,           // beyond TImageLimits
    ikTruncated,          // the data ends early
    ikCorrupt,            // the data contradicts itself
    ikUnsupported,        // a valid variant this reader does not handle (BMP RLE)
    ikNoSuchPage          // a page number beyond the pages of the file
};

// A picture that cannot be decoded. The message is the finished operator text.
class EImageError : public EKorvexError {
public:
    EImageError(TImageErrorKind kind, const std::string& message) : EKorvexError(message), FKind(kind) {}
    TImageErrorKind Kind() const { return FKind; }

private:
    TImageErrorKind FKind;
};

enum TImageFormat { ifUnknown, ifBmp, ifJpeg, ifPng, ifTiff };

// The format named by the first bytes of a file.
TImageFormat SniffImageFormat(const std::uint8_t* data, std::size_t size);

// Decodes a picture held in memory. Raises EImageError with a message that
// names the reason (for example "文件数据不完整（被截断）").
TRaster DecodeWorkingBitmap(const std::uint8_t* data, std::size_t size, const TImageLimits& limits = {});

// Reads and decodes an image file into a new working raster; transparent parts
// become white. Raises EFileError when the file cannot be read and EImageError
// (message naming the file) when it cannot be decoded.
TRaster LoadWorkingBitmap(const std::string& fileName);
TRaster LoadWorkingBitmap(const std::string& fileName, const TImageLimits& limits);

// Multi-page pictures (TIFF): pages count from 0; BMP, JPEG and PNG have one.
// Reduced-resolution copies (thumbnails) in a TIFF are not pages. Errors as
// for LoadWorkingBitmap; a page beyond the last raises ikNoSuchPage.
int CountImagePages(const std::uint8_t* data, std::size_t size, const TImageLimits& limits = {});
int CountImageFilePages(const std::string& fileName, const TImageLimits& limits = {});
TRaster DecodeWorkingBitmapPage(const std::uint8_t* data, std::size_t size, int pageIndex,
                                const TImageLimits& limits = {});
TRaster LoadWorkingBitmapPage(const std::string& fileName, int pageIndex, const TImageLimits& limits = {});

// The scan identity of one page. A file of one page keeps ComputeScanUID of
// its bytes; each page of a multi-page file gets an identity of its own stored
// image data, which stays the same when the file is rewritten around it (pages
// appended, tags changed) and differs from page to page.
std::string ComputePageScanUID(const std::string& fileName, int pageIndex);

// A 24-bit bottom-up BI_RGB BMP of the raster, rows padded to four bytes.
std::string EncodeBitmap24(const TRaster& raster);
// Writes EncodeBitmap24 to the file; raises EFileError on any write failure
// and EKorvexError for an empty raster.
void SaveBitmap24(const TRaster& raster, const std::string& fileName);

}  // namespace korvex
