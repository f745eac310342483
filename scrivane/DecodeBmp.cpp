// Windows bitmaps: core (12-byte) and info (40-byte and longer) headers,
// 1/4/8-bit palettes, 16/24/32-bit direct colour, uncompressed or with
// bit-field masks; the alpha channel of 32-bit pixels is dropped.
#include <bit>
#include <cstdlib>

#include "scrivane/DecodeSteps.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {

namespace {

constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8;
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}

[[noreturn]] void HeaderError() { RaiseDecodeError("WIC cannot decode first image frame: ", decode_status::kBmpHeader); }

// One colour channel described by a bit mask, widened to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;
  explicit Channel(std::uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  std::uint8_t Of(std::uint32_t px) const {
    if (max == 0) return 0;
    std::uint64_t v = (px & mask) >> shift;
    return std::uint8_t((v * 255 + max / 2) / max);
  }
};

struct BmpInfo {
  std::int64_t width = 0, height = 0;  // height < 0: rows stored top-down
  std::uint32_t bits = 0, compression = kBiRgb, colours = 0;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue
  std::size_t paletteAt = 0, paletteEntry = 4;
};

BmpInfo ReadHeaders(const std::vector<std::uint8_t>& b) {
  if (b.size() < 18) HeaderError();
  BmpInfo info;
  const std::uint32_t headerSize = U32(b, 14);
  if (headerSize == 12) {
    if (b.size() < 26) HeaderError();
    info.width = U16(b, 18);
    info.height = U16(b, 20);
    if (U16(b, 22) != 1) HeaderError();
    info.bits = U16(b, 24);
    info.paletteEntry = 3;
  } else if (headerSize >= 40) {
    if (b.size() < 14 + std::size_t(headerSize)) HeaderError();
    info.width = std::int32_t(U32(b, 18));
    info.height = std::int32_t(U32(b, 22));
    if (U16(b, 26) != 1) HeaderError();
    info.bits = U16(b, 28);
    info.compression = U32(b, 30);
    info.colours = U32(b, 46);
  } else {
    HeaderError();
  }
  info.paletteAt = 14 + std::size_t(headerSize);
  if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) {
    std::size_t at = 54;
    if (headerSize == 40) {  // masks follow the header
      at = info.paletteAt;
      info.paletteAt += info.compression == kBiBitfields ? 12 : 16;
    }
    if (b.size() < at + 12) HeaderError();
    for (int i = 0; i < 3; ++i) info.masks[i] = U32(b, at + 4 * std::size_t(i));
  } else if (info.bits == 16) {
    info.masks[0] = 0x7C00, info.masks[1] = 0x03E0, info.masks[2] = 0x001F;
  } else if (info.bits == 32) {
    info.masks[0] = 0xFF0000, info.masks[1] = 0xFF00, info.masks[2] = 0xFF;
  }
  switch (info.bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: HeaderError();
  }
  return info;
}

bool Convertible(const BmpInfo& info) {
  if (info.compression == kBiRgb) return true;
  bool masked = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
  return masked && (info.bits == 16 || info.bits == 32);
}

}  // namespace

DecodedImage DecodeBmp(const std::vector<std::uint8_t>& b) {
  const BmpInfo info = ReadHeaders(b);
  const std::uint64_t width = info.width < 0 ? 0 : std::uint64_t(info.width);
  const std::uint64_t height = std::uint64_t(std::llabs(info.height));
  CheckImageSize(width, height);
  if (!Convertible(info)) throw EEngineError("WIC cannot convert image to 24bpp BGR");
  CheckBufferSize(width, height);

  // Palette (for 1, 4 and 8 bits) and pixel rows must lie inside the file.
  std::vector<std::uint8_t> palette;  // B G R triples
  if (info.bits <= 8) {
    std::uint64_t count = info.colours != 0 ? info.colours : (1u << info.bits);
    if (count > 256 || info.paletteAt + count * info.paletteEntry > b.size()) HeaderError();
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* e = &b[info.paletteAt + i * info.paletteEntry];
      palette.insert(palette.end(), e, e + 3);
    }
  }
  const std::uint64_t offset = U32(b, 10);
  const std::uint64_t stride = (width * info.bits + 31) / 32 * 4;
  if (offset > b.size() || stride * height > b.size() - offset)
    RaiseDecodeError("WIC CopyPixels failed: ", decode_status::kBmpPixels);

  const Channel red(info.masks[0]), green(info.masks[1]), blue(info.masks[2]);
  DecodedImage image;
  image.width = std::int32_t(width);
  image.height = std::int32_t(height);
  image.pixels.assign(width * height * 3, 0);
  for (std::uint64_t y = 0; y < height; ++y) {
    const std::uint64_t stored = info.height < 0 ? y : height - 1 - y;
    const std::uint8_t* src = &b[offset + stored * stride];
    std::uint8_t* dst = &image.pixels[y * width * 3];
    for (std::uint64_t x = 0; x < width; ++x, dst += 3) {
      switch (info.bits) {
        case 24:
          dst[0] = src[x * 3], dst[1] = src[x * 3 + 1], dst[2] = src[x * 3 + 2];
          break;
        case 16:
        case 32: {
          std::uint32_t px = info.bits == 16 ? std::uint32_t(src[x * 2]) | std::uint32_t(src[x * 2 + 1]) << 8
                                             : std::uint32_t(src[x * 4]) | std::uint32_t(src[x * 4 + 1]) << 8 |
                                                   std::uint32_t(src[x * 4 + 2]) << 16 |
                                                   std::uint32_t(src[x * 4 + 3]) << 24;
          dst[0] = blue.Of(px), dst[1] = green.Of(px), dst[2] = red.Of(px);
          break;
        }
        default: {  // palette index of 1, 4 or 8 bits, most significant first
          const std::uint64_t bit = x * info.bits;
          const unsigned shift = unsigned(8 - info.bits - bit % 8);
          const std::size_t index = (src[bit / 8] >> shift) & ((1u << info.bits) - 1);
          if (index * 3 < palette.size())
            dst[0] = palette[index * 3], dst[1] = palette[index * 3 + 1], dst[2] = palette[index * 3 + 2];
        }
      }
    }
  }
  return image;
}

}  // namespace scrivane
