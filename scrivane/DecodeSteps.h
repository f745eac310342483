#pragma once
// Shared failure steps of the per-format decoders.
#include <cstdint>

namespace scrivane {
[[noreturn]] void RaiseDecodeError(const char* message, std::uint32_t status);
void CheckImageSize(std::uint64_t width, std::uint64_t height);
// The buffer limit and then the pixel limits; both before any pixel memory.
void CheckBufferSize(std::uint64_t width, std::uint64_t height);
}  // namespace scrivane
