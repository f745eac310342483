// TIFF through libtiff: every page of a multi-page file, strips and tiles, the
// compressions libtiff offers (none, LZW, Deflate, PackBits, JPEG, CCITT G3
// and G4, ...), bilevel, grey, palette, RGB, RGBA, CMYK and YCbCr pictures;
// alpha is composited over white.
#include <algorithm>
#include <vector>

#include "imaging/TiffFile.h"

namespace korvex::detail {

namespace {

// Decoded rows are fetched in bands of about this many bytes.
constexpr std::int64_t kBandBytes = 64ll << 20;

bool FlipsVertically(std::uint16_t orientation) {
    return orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
           orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
}

struct TRgbaImageEnd {
    TIFFRGBAImage* Image;
    ~TRgbaImageEnd() { TIFFRGBAImageEnd(Image); }
};

// 16-bit grey in tiles, read here: libtiff's generic reader shifts the rows
// of a tile cut off at the right edge for this kind. Each sample keeps its
// high byte, as libtiff does for strips.
bool IsTiledGrey16(TIFF* tif) {
    std::uint16_t bits = 0, samples = 1, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    return TIFFIsTiled(tif) && bits == 16 && samples == 1 &&
           (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE);
}

TRaster DecodeGrey16Tiles(TIFF* tif, TTiffContext& ctx, std::uint32_t width, std::uint32_t height,
                          const TImageLimits& limits) {
    std::uint32_t tileWidth = 0, tileLength = 0;
    std::uint16_t photometric = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const std::uint64_t tileBytes = TIFFTileSize64(tif);
    if (tileWidth == 0 || tileLength == 0 || tileBytes < std::uint64_t{tileWidth} * tileLength * 2)
        RaiseTiffFailure(ctx, "invalid tile size");
    if (tileBytes > static_cast<std::uint64_t>(limits.MaxWorkBytes))
        RaiseImageError(ikTooLarge, "TIFF 解码所需内存超出上限");
    std::vector<std::uint16_t> tile(static_cast<std::size_t>(tileBytes / 2));
    const bool inverted = photometric == PHOTOMETRIC_MINISWHITE;
    TRaster raster(static_cast<int>(width), static_cast<int>(height), 255);
    for (std::uint32_t ty = 0; ty < height; ty += tileLength)
        for (std::uint32_t tx = 0; tx < width; tx += tileWidth) {
            if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0 || !ctx.FirstError.empty())
                RaiseTiffFailure(ctx, "cannot decode a tile");
            const std::uint32_t rows = std::min(tileLength, height - ty), columns = std::min(tileWidth, width - tx);
            for (std::uint32_t r = 0; r < rows; ++r) {
                const std::uint16_t* src = tile.data() + static_cast<std::size_t>(r) * tileWidth;
                std::uint8_t* dst = raster.Row(static_cast<int>(ty + r)) + 3 * static_cast<std::size_t>(tx);
                for (std::uint32_t c = 0; c < columns; ++c, dst += 3) {
                    const std::uint8_t g = static_cast<std::uint8_t>(src[c] >> 8);
                    dst[0] = dst[1] = dst[2] = inverted ? static_cast<std::uint8_t>(255 - g) : g;
                }
            }
        }
    return raster;
}

TRaster DecodeDirectory(TIFF* tif, TTiffContext& ctx, const TImageLimits& limits) {
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    CheckImageDimensions(width, height, limits);
    RequireWholeImageData(tif, ctx);
    if (IsTiledGrey16(tif)) return DecodeGrey16Tiles(tif, ctx, width, height, limits);
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif, message)) {
        if (!ctx.FirstError.empty()) RaiseTiffFailure(ctx, message);
        RaiseImageError(ikUnsupported, std::string("不支持的 TIFF 图像类型：") + message);
    }
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tif, 1, message)) RaiseTiffFailure(ctx, message);
    TRgbaImageEnd end{&image};

    // Rows come in bands of whole strips (or tile rows). A picture stored
    // bottom-up is flipped by libtiff within one request, so it comes whole.
    std::uint32_t unit = height;
    if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::clamp<std::uint32_t>(unit, 1, height);
    const std::int64_t rowBytes = static_cast<std::int64_t>(width) * 4;
    std::int64_t band = height;
    if (!FlipsVertically(image.orientation)) {
        const std::int64_t fit = std::min(kBandBytes, limits.MaxWorkBytes) / rowBytes / unit * unit;
        band = std::clamp<std::int64_t>(fit, unit, height);
    }
    if (band * rowBytes > limits.MaxWorkBytes) RaiseImageError(ikTooLarge, "TIFF 解码所需内存超出上限");
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(band) * width);

    TRaster raster(static_cast<int>(width), static_cast<int>(height), 255);
    image.req_orientation = ORIENTATION_TOPLEFT;
    for (std::uint32_t y = 0; y < height; y += static_cast<std::uint32_t>(band)) {
        const std::uint32_t rows = std::min<std::uint32_t>(static_cast<std::uint32_t>(band), height - y);
        image.row_offset = static_cast<int>(y);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, pixels.data(), width, rows) || !ctx.FirstError.empty())
            RaiseTiffFailure(ctx, "cannot decode the image data");
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* src = pixels.data() + static_cast<std::size_t>(r) * width;
            std::uint8_t* dst = raster.Row(static_cast<int>(y + r));
            for (std::uint32_t x = 0; x < width; ++x, dst += 3) {
                // Colour comes premultiplied by alpha; over white add what is see-through.
                const std::uint32_t p = src[x];
                const std::uint32_t clear = 255u - TIFFGetA(p);
                dst[0] = static_cast<std::uint8_t>(std::min(255u, TIFFGetB(p) + clear));
                dst[1] = static_cast<std::uint8_t>(std::min(255u, TIFFGetG(p) + clear));
                dst[2] = static_cast<std::uint8_t>(std::min(255u, TIFFGetR(p) + clear));
            }
        }
    }
    return raster;
}

}  // namespace

int CountTiffPages(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    TTiffContext ctx = ContextOver(data, size);
    TTiffHandle tif = OpenTiff(ctx, limits, "r");
    int directories = 0;
    int pages = 0;
    do {
        if (IsPage(tif.get())) ++pages;
    } while (NextDirectory(tif.get(), ctx, directories));
    return pages;
}

TRaster DecodeTiffPage(const std::uint8_t* data, std::size_t size, int pageIndex, const TImageLimits& limits) {
    TTiffContext ctx = ContextOver(data, size);
    TTiffHandle tif = OpenTiff(ctx, limits, "r");
    GoToPage(tif.get(), ctx, pageIndex);
    return DecodeDirectory(tif.get(), ctx, limits);
}

TRaster DecodeTiff(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    return DecodeTiffPage(data, size, 0, limits);
}

}  // namespace korvex::detail
