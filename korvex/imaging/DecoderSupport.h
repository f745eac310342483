#pragma once
// Shared pieces of the picture decoders (not part of the public interface).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "imaging/ImageFiles.h"

namespace korvex::detail {

[[noreturn]] void RaiseImageError(TImageErrorKind kind, const std::string& reason);

// Refuses zero, negative and over-limit dimensions before any allocation.
void CheckImageDimensions(std::int64_t width, std::int64_t height, const TImageLimits& limits);

// Every BMP header, mask and palette lies within this many leading bytes.
constexpr std::size_t kBmpHeadBytes = 2048;
// The bytes [offset, offset + count) of a picture, valid until the next call;
// raises EImageError when they cannot be had.
using TByteSource = std::function<const std::uint8_t*(std::size_t offset, std::size_t count)>;

// A BMP whose leading bytes are in `head` and whose pixel rows come from
// `source`, so that a file's pixels need not be held twice in memory.
TRaster DecodeBmpFrom(const std::uint8_t* head, std::size_t headSize, std::size_t totalSize,
                      const TByteSource& source, const TImageLimits& limits);
TRaster DecodeBmp(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
TRaster DecodeJpeg(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
TRaster DecodePng(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);

// Pages are the image directories that are not reduced-resolution copies
// (thumbnails) of another; pageIndex counts from 0.
int CountTiffPages(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
TRaster DecodeTiffPage(const std::uint8_t* data, std::size_t size, int pageIndex, const TImageLimits& limits);
// The first page, for the format dispatch.
TRaster DecodeTiff(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
// 16 hexadecimal digits over the page's stored image data and the fields
// that say how to decode it; fields that describe the file (offsets, page
// numbers, dates, software, resolution) are left out, so the page keeps its
// identity when the file is rewritten around it.
std::string TiffPageScanUID(const std::uint8_t* data, std::size_t size, int pageIndex, const TImageLimits& limits);

}  // namespace korvex::detail
