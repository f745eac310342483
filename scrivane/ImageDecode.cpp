// Decoding follows one sequence for every format: open, read the first frame's
// header, check the size, pick a conversion to 24-bit BGR, check the buffer
// limit, then transfer the pixels. Each step has its own message.
#include "scrivane/ImageDecode.h"

#include <cstring>

#include "scrivane/DecodeSteps.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/FileBytes.h"

namespace scrivane {

// Per-format decoders, each in its own file.
DecodedImage DecodeBmp(const std::vector<std::uint8_t>& bytes);
DecodedImage DecodePng(const std::vector<std::uint8_t>& bytes);
DecodedImage DecodeJpeg(const std::vector<std::uint8_t>& bytes);

std::string FormatHResult(std::uint32_t status) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  do {
    hex.insert(hex.begin(), digits[status & 0xF]);
    status >>= 4;
  } while (status != 0);
  return "0x" + hex;
}

[[noreturn]] void RaiseDecodeError(const char* message, std::uint32_t status) {
  throw EEngineError(std::string(message) + FormatHResult(status));
}

// Size checks shared by all formats, in the order of the decoding steps.
void CheckImageSize(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0) throw EEngineError("invalid image dimensions");
  if (width > 2147483647u || height > 2147483647u) throw EEngineError("image dimensions are too large");
}

void CheckBufferSize(std::uint64_t width, std::uint64_t height) {
  if (3 * width > 4294967295u || 3 * width * height > 4294967295u)
    throw EEngineError("image buffer is too large for WIC");
  if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
    throw EEngineError("image of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is above the limit of " + std::to_string(kMaxImageSide) + " per side and " +
                       std::to_string(kMaxImagePixels) + " in all");
}

DecodedImage DecodeImageBytes(const std::vector<std::uint8_t>& bytes) {
  auto starts = [&](const char* sig, std::size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), sig, n) == 0;
  };
  if (starts("BM", 2)) return DecodeBmp(bytes);
  if (starts("\x89PNG\r\n\x1a\n", 8)) return DecodePng(bytes);
  if (starts("\xFF\xD8\xFF", 3)) return DecodeJpeg(bytes);
  RaiseDecodeError("WIC cannot open image: ", decode_status::kUnknownFormat);
}

DecodedImage DecodeImageBgr24(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  switch (const int error = ReadFileBytes(path, bytes, kMaxImageFileBytes)) {
    case 0: break;
    case kNotARegularFile: RaiseDecodeError("WIC cannot open image: ", decode_status::kNotAFile);
    case kFileTooLarge: RaiseDecodeError("WIC cannot open image: ", decode_status::kFileTooLarge);
    default: RaiseDecodeError("WIC cannot open image: ", std::uint32_t(error));
  }
  return DecodeImageBytes(bytes);
}

}  // namespace scrivane
