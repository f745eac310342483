#pragma once
// Shared pieces of the picture decoders (not part of the public interface).
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/ImageFiles.h"

namespace korvex::detail {

[[noreturn]] void RaiseImageError(TImageErrorKind kind, const std::string& reason);

// Refuses zero, negative and over-limit dimensions before any allocation.
void CheckImageDimensions(std::int64_t width, std::int64_t height, const TImageLimits& limits);

TRaster DecodeBmp(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
TRaster DecodeJpeg(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);
TRaster DecodePng(const std::uint8_t* data, std::size_t size, const TImageLimits& limits);

}  // namespace korvex::detail
