#pragma once
// Decoding of the engine's input image (BMP, PNG, JPEG) into top-down,
// unpadded blue-green-red bytes, and the model input tensor built from it.
#include <cstdint>
#include <string>
#include <vector>

namespace scrivane {

struct DecodedImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 3 bytes, B G R
};

// Status codes carried by the decoder's messages; errno values (below 0x1000)
// report a file that cannot be read.
namespace decode_status {
constexpr std::uint32_t kUnknownFormat = 0xE5C00001;  // no BMP, PNG or JPEG signature
constexpr std::uint32_t kBmpHeader = 0xE5C00002;      // BMP headers truncated or inconsistent
constexpr std::uint32_t kBmpPixels = 0xE5C00003;      // BMP pixel data shorter than its size
constexpr std::uint32_t kPngHeader = 0xE5C00010;      // libpng rejected the header
constexpr std::uint32_t kPngPixels = 0xE5C00011;      // libpng failed in the image data
constexpr std::uint32_t kJpegBase = 0xE5C10000;       // + libjpeg message code
constexpr std::uint32_t kJpegTruncated = 0xE5C1FFFF;  // data ended before the last row
constexpr std::uint32_t kNotAFile = 0xE5C00004;       // a FIFO, socket or device instead of a file
constexpr std::uint32_t kFileTooLarge = 0xE5C00005;   // more than kMaxImageFileBytes
}  // namespace decode_status

// The limits of Korvex's own picture decoders, checked before any pixel
// memory is allocated: a small file may claim an enormous picture.
constexpr std::uint64_t kMaxImageSide = 30000;
constexpr std::uint64_t kMaxImagePixels = 100'000'000;
constexpr std::uint64_t kMaxImageFileBytes = 512ull << 20;
// Decoder working memory beyond the pixels (progressive JPEG coefficients).
constexpr long kMaxDecoderWorkBytes = 800'000'000;

// "0x" and the status in upper-case hexadecimal without leading zeros.
std::string FormatHResult(std::uint32_t status);

// Raises EEngineError with the decoder messages ("WIC cannot open image: 0x2", ...).
DecodedImage DecodeImageBgr24(const std::string& path);
DecodedImage DecodeImageBytes(const std::vector<std::uint8_t>& bytes);

constexpr int kTensorHeight = 48;
constexpr int kTensorWidth = 320;
constexpr int kTensorChannels = 3;
constexpr std::size_t kTensorFloats = std::size_t(kTensorChannels) * kTensorHeight * kTensorWidth;

// Resized width: ceil(w / h * 48) limited to 1 ... 320.
int ResizedWidth(std::int32_t width, std::int32_t height);

// 1 x 3 x 48 x 320 floats, planes blue, green, red, values (v / 255 - 0.5) * 2,
// bilinear sampling with edge clamping, zero beyond the resized width.
std::vector<float> BuildInputTensor(const DecodedImage& image);

}  // namespace scrivane
