// The system's own BMP reader: 1, 4 and 8 bits with a palette, 16 and 32 bits
// with BI_RGB or bit-field masks, 24 bits; bottom-up and top-down rows.
#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/DecoderSupport.h"

namespace korvex::detail {

namespace {

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4, kBiPng = 5,
                        kBiAlphaBitfields = 6;

std::uint32_t U16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8); }
std::uint32_t U32(const std::uint8_t* p) { return U16(p) | (U16(p + 2) << 16); }
std::int32_t S32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }

[[noreturn]] void Corrupt(const std::string& what) { RaiseImageError(ikCorrupt, "BMP 文件头损坏：" + what); }
[[noreturn]] void Truncated() { RaiseImageError(ikTruncated, "文件数据不完整（被截断）"); }

// One colour channel described by a bit mask; Scale maps its values to 0..255.
struct TChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    std::uint8_t Get(std::uint32_t pixel) const {
        if (Bits == 0) return 0;
        std::uint32_t v = (pixel & Mask) >> Shift;
        if (Bits >= 8) return static_cast<std::uint8_t>(v >> (Bits - 8));
        std::uint32_t maxV = (1u << Bits) - 1u;
        return static_cast<std::uint8_t>((v * 255u + maxV / 2u) / maxV);
    }
};

TChannel MakeChannel(std::uint32_t mask, int pixelBits) {
    TChannel c;
    if (pixelBits < 32) mask &= (1u << pixelBits) - 1u;
    if (mask == 0) return c;
    c.Mask = mask;
    c.Shift = std::countr_zero(mask);
    std::uint32_t shifted = mask >> c.Shift;
    if ((shifted & (shifted + 1u)) != 0) Corrupt("位域掩码不连续");
    c.Bits = std::popcount(shifted);
    return c;
}

struct TBmpInfo {
    std::int64_t Width = 0;
    std::int64_t Height = 0;  // absolute value
    bool TopDown = false;
    int Bits = 0;
    std::uint32_t Compression = kBiRgb;
    bool HasAlphaMask = false;
    TChannel Red, Green, Blue, Alpha;
    std::uint8_t Palette[256][3] = {};  // blue, green, red
    std::size_t PaletteSize = 0;
    std::size_t PixelOffset = 0;
};

TBmpInfo ReadHeaders(const std::uint8_t* data, std::size_t size) {
    if (size < 14 + 12) Truncated();
    TBmpInfo info;
    const std::uint32_t headerSize = U32(data + 14);
    const std::uint8_t* h = data + 14;
    bool core = false;
    std::uint32_t colorsUsed = 0;
    if (headerSize == 12) {
        core = true;
        info.Width = static_cast<std::int16_t>(U16(h + 4));
        std::int64_t height = static_cast<std::int16_t>(U16(h + 6));
        info.Bits = static_cast<int>(U16(h + 10));
        info.TopDown = height < 0;
        info.Height = height < 0 ? -height : height;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
               headerSize == 124) {
        if (size < 14 + static_cast<std::size_t>(headerSize)) Truncated();
        info.Width = S32(h + 4);
        std::int64_t height = S32(h + 8);
        info.Bits = static_cast<int>(U16(h + 14));
        info.Compression = U32(h + 16);
        colorsUsed = U32(h + 32);
        info.TopDown = height < 0;
        info.Height = height < 0 ? -height : height;
        if (headerSize == 64 && info.Compression >= kBiRle8) Corrupt("不支持 OS/2 的压缩方式");
    } else {
        Corrupt("未知的信息头长度 " + std::to_string(headerSize));
    }
    if (U16(h + (core ? 8 : 12)) != 1) Corrupt("位面数不是 1");

    switch (info.Compression) {
    case kBiRgb:
    case kBiBitfields:
    case kBiAlphaBitfields: break;
    case kBiRle8:
    case kBiRle4:
        RaiseImageError(ikUnsupported, "不支持 RLE 压缩的 BMP 文件，请改存为未压缩的 BMP、PNG 或 JPEG");
    case kBiJpeg:
    case kBiPng: RaiseImageError(ikUnsupported, "不支持内嵌 JPEG 或 PNG 数据的 BMP 文件");
    default: Corrupt("未知的压缩方式 " + std::to_string(info.Compression));
    }
    const int b = info.Bits;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) Corrupt("不支持每像素 " + std::to_string(b) + " 位");
    if (info.Compression != kBiRgb && b != 16 && b != 32) Corrupt("位域掩码只能用于 16 位或 32 位图像");

    std::size_t afterHeader = 14 + headerSize;
    if (b == 16 || b == 32) {
        std::uint32_t r, g, bl, a = 0;
        if (info.Compression == kBiRgb) {
            r = b == 16 ? 0x7C00u : 0x00FF0000u;
            g = b == 16 ? 0x03E0u : 0x0000FF00u;
            bl = b == 16 ? 0x001Fu : 0x000000FFu;
        } else {
            // Masks follow a 40-byte header; larger headers hold them inside:
            // red, green and blue from 52 bytes on, alpha too from 56 on. A
            // 52-byte header has no alpha mask, whatever the compression says.
            const std::uint8_t* m = h + 40;
            std::size_t maskBytes = info.Compression == kBiAlphaBitfields ? 16 : 12;
            if (headerSize == 40) {
                if (size < afterHeader + maskBytes) Truncated();
                afterHeader += maskBytes;
            } else {
                maskBytes = std::min<std::size_t>(maskBytes, headerSize - 40);
            }
            r = U32(m);
            g = U32(m + 4);
            bl = U32(m + 8);
            if (maskBytes == 16 || headerSize >= 56) a = U32(m + 12);
        }
        info.Red = MakeChannel(r, b);
        info.Green = MakeChannel(g, b);
        info.Blue = MakeChannel(bl, b);
        info.Alpha = MakeChannel(a, b);
        info.HasAlphaMask = info.Alpha.Bits > 0;
        if (info.Red.Bits == 0 && info.Green.Bits == 0 && info.Blue.Bits == 0) Corrupt("位域掩码全为 0");
    }
    if (b <= 8) {
        std::size_t maxColors = std::size_t{1} << b;
        std::size_t count = colorsUsed == 0 || colorsUsed > maxColors ? maxColors : colorsUsed;
        std::size_t entry = core ? 3 : 4;
        if (size < afterHeader + count * entry) Truncated();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = data + afterHeader + i * entry;
            info.Palette[i][0] = p[0];
            info.Palette[i][1] = p[1];
            info.Palette[i][2] = p[2];
        }
        info.PaletteSize = count;  // indices beyond it read as black
        afterHeader += count * entry;
    }
    std::size_t offset = U32(data + 10);
    // A few writers leave the offset at 0; the pixels then follow the palette.
    info.PixelOffset = offset < 14 + static_cast<std::size_t>(headerSize) ? afterHeader : offset;
    return info;
}

void DecodeRow(const TBmpInfo& info, const std::uint8_t* src, std::uint8_t* dst, bool& anyAlpha,
               std::uint8_t* alphaRow) {
    const std::int64_t w = info.Width;
    switch (info.Bits) {
    case 24: std::memcpy(dst, src, static_cast<std::size_t>(w) * 3u); return;
    case 1:
    case 4:
    case 8: {
        const int bits = info.Bits;
        const unsigned mask = (1u << bits) - 1u;
        for (std::int64_t x = 0; x < w; ++x) {
            std::int64_t bit = x * bits;
            unsigned index = (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
            if (index < info.PaletteSize) std::memcpy(dst + 3 * x, info.Palette[index], 3);
            else std::memset(dst + 3 * x, 0, 3);
        }
        return;
    }
    default: {
        const bool wide = info.Bits == 32;
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint32_t px = wide ? U32(src + 4 * x) : U16(src + 2 * x);
            dst[3 * x] = info.Blue.Get(px);
            dst[3 * x + 1] = info.Green.Get(px);
            dst[3 * x + 2] = info.Red.Get(px);
            if (info.HasAlphaMask) {
                alphaRow[x] = info.Alpha.Get(px);
                if (alphaRow[x] != 0) anyAlpha = true;
            }
        }
    }
    }
}

}  // namespace

TRaster DecodeBmp(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    return DecodeBmpFrom(data, std::min(size, kBmpHeadBytes), size,
                         [data](std::size_t offset, std::size_t) { return data + offset; }, limits);
}

TRaster DecodeBmpFrom(const std::uint8_t* head, std::size_t headSize, std::size_t totalSize,
                      const TByteSource& source, const TImageLimits& limits) {
    TBmpInfo info = ReadHeaders(head, headSize);
    CheckImageDimensions(info.Width, info.Height, limits);
    const std::size_t stride = static_cast<std::size_t>((info.Width * info.Bits + 31) / 32 * 4);
    const std::size_t rows = static_cast<std::size_t>(info.Height);
    if (info.PixelOffset > totalSize || (totalSize - info.PixelOffset) / stride < rows) Truncated();

    TRaster raster(static_cast<int>(info.Width), static_cast<int>(info.Height), 0);
    // The alpha plane is kept only for masks that declare one. A plane that is
    // zero everywhere is the common "alpha unused" case and means opaque.
    std::vector<std::uint8_t> alpha(info.HasAlphaMask ? static_cast<std::size_t>(info.Width) * rows : 0);
    bool anyAlpha = false;
    // Rows are fetched a few megabytes at a time, in file order.
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, (std::size_t{4} << 20) / stride);
    for (std::size_t first = 0; first < rows; first += rowsPerChunk) {
        const std::size_t count = std::min(rowsPerChunk, rows - first);
        const std::uint8_t* chunk = source(info.PixelOffset + first * stride, count * stride);
        for (std::size_t r = first; r < first + count; ++r) {
            const std::size_t y = info.TopDown ? r : rows - 1 - r;
            DecodeRow(info, chunk + (r - first) * stride, raster.Row(static_cast<int>(y)), anyAlpha,
                      info.HasAlphaMask ? alpha.data() + y * static_cast<std::size_t>(info.Width) : nullptr);
        }
    }
    if (anyAlpha) {
        for (std::size_t i = 0; i < alpha.size(); ++i) {
            unsigned a = alpha[i];
            for (int c = 0; c < 3; ++c) {
                std::uint8_t& v = raster.Pixels[3 * i + c];
                v = static_cast<std::uint8_t>((v * a + 255u * (255u - a) + 127u) / 255u);
            }
        }
    }
    return raster;
}

}  // namespace korvex::detail
