// PNG through libpng's simplified reader: every colour type is converted to
// 8-bit BGR; an alpha channel is read as BGRA and then dropped.
#include <memory>

#include <png.h>

#include "scrivane/DecodeSteps.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {

namespace {
// Frees libpng's reader state on every path.
struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
};
}  // namespace

DecodedImage DecodePng(const std::vector<std::uint8_t>& bytes) {
  PngImage png;
  if (!png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size()))
    RaiseDecodeError("WIC cannot decode first image frame: ", decode_status::kPngHeader);
  const std::uint64_t width = png.image.width, height = png.image.height;
  CheckImageSize(width, height);
  CheckBufferSize(width, height);
  const bool alpha = (png.image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  png.image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  const std::uint64_t channels = alpha ? 4 : 3;

  // libpng writes into an uninitialised buffer, so pages of a header that
  // claims a huge size are only touched as far as real image data reaches;
  // the pixels are copied out only after a complete read.
  const std::uint64_t count = width * height;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[count * channels]);
  if (!png_image_finish_read(&png.image, nullptr, buffer.get(), png_int_32(width * channels), nullptr))
    RaiseDecodeError("WIC CopyPixels failed: ", decode_status::kPngPixels);
  DecodedImage image;
  image.width = std::int32_t(width);
  image.height = std::int32_t(height);
  if (!alpha) {
    image.pixels.assign(buffer.get(), buffer.get() + count * 3);
  } else {
    image.pixels.resize(count * 3);
    for (std::uint64_t i = 0; i < count; ++i)
      for (int c = 0; c < 3; ++c) image.pixels[i * 3 + c] = buffer[i * 4 + c];
  }
  return image;
}

}  // namespace scrivane
