// TIFF through libtiff: every page of a multi-page file, strips and tiles, the
// compressions libtiff offers (none, LZW, Deflate, PackBits, JPEG, CCITT G3
// and G4, ...), bilevel, grey, palette, RGB, RGBA, CMYK and YCbCr pictures;
// alpha is composited over white. libtiff's own messages never reach standard
// error: its first error becomes the decoder message.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <tiffio.h>

#include "imaging/DecoderSupport.h"
#include "model/uBallotTypes.h"

namespace korvex::detail {

namespace {

// A crafted chain of thousands of image directories is refused.
constexpr int kMaxTiffDirectories = 10000;
// Decoded rows are fetched in bands of about this many bytes.
constexpr std::int64_t kBandBytes = 64ll << 20;

struct TTiffContext {
    const std::uint8_t* Data = nullptr;
    std::uint64_t Size = 0;
    std::uint64_t Pos = 0;
    bool ReadPastEnd = false;
    std::string FirstError;
};

TTiffContext ContextOver(const std::uint8_t* data, std::size_t size) {
    TTiffContext ctx;
    ctx.Data = data;
    ctx.Size = size;
    return ctx;
}

TTiffContext& ContextOf(thandle_t h) { return *static_cast<TTiffContext*>(h); }

tmsize_t OnRead(thandle_t h, void* out, tmsize_t size) {
    TTiffContext& ctx = ContextOf(h);
    if (size <= 0) return 0;
    std::uint64_t want = static_cast<std::uint64_t>(size);
    if (ctx.Pos >= ctx.Size || want > ctx.Size - ctx.Pos) {
        ctx.ReadPastEnd = true;
        want = ctx.Pos >= ctx.Size ? 0 : ctx.Size - ctx.Pos;
    }
    if (want > 0) std::memcpy(out, ctx.Data + ctx.Pos, static_cast<std::size_t>(want));
    ctx.Pos += want;
    return static_cast<tmsize_t>(want);
}

tmsize_t OnWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t OnSeek(thandle_t h, toff_t offset, int whence) {
    TTiffContext& ctx = ContextOf(h);
    const std::uint64_t base = whence == SEEK_CUR ? ctx.Pos : whence == SEEK_END ? ctx.Size : 0;
    ctx.Pos = base + offset;  // a position past the end is refused by the next read
    return ctx.Pos;
}

int OnClose(thandle_t) { return 0; }
toff_t OnSize(thandle_t h) { return ContextOf(h).Size; }

// The bytes are in memory already: libtiff reads strips and tiles in place
// (its unmapped path refuses valid uncompressed tiles under 1 kB).
int OnMap(thandle_t h, void** base, toff_t* size) {
    TTiffContext& ctx = ContextOf(h);
    *base = const_cast<std::uint8_t*>(ctx.Data);
    *size = ctx.Size;
    return 1;
}
void OnUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    TTiffContext& ctx = *static_cast<TTiffContext*>(user);
    if (ctx.FirstError.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        ctx.FirstError = text[0] != '\0' ? text : "unknown error";
    }
    return 1;  // handled: libtiff's global handlers stay silent
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TTiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TTiffHandle = std::unique_ptr<TIFF, TTiffCloser>;

struct TOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

[[noreturn]] void RaiseTruncated() { RaiseImageError(ikTruncated, "文件数据不完整（被截断）"); }

[[noreturn]] void RaiseTiffFailure(const TTiffContext& ctx, const std::string& fallback) {
    if (ctx.ReadPastEnd) RaiseImageError(ikTruncated, "文件数据不完整（被截断）");
    const std::string& reason = ctx.FirstError.empty() ? fallback : ctx.FirstError;
    if (reason.find("limit defined in open options") != std::string::npos)
        RaiseImageError(ikTooLarge, "TIFF 解码所需内存超出上限");
    RaiseImageError(ikCorrupt, "TIFF 数据损坏：" + reason);
}

// The header and directory chain as stored: which byte order, classic or
// BigTIFF, and where a directory's next-directory pointer lies. Used to tell
// a file cut short from a damaged one.
struct TTiffLayout {
    bool BigEndian = false;
    bool Big = false;  // BigTIFF: 64-bit offsets
};

std::uint64_t ReadNumber(const TTiffContext& ctx, const TTiffLayout& layout, std::uint64_t at, int bytes, bool& ok) {
    if (at > ctx.Size || static_cast<std::uint64_t>(bytes) > ctx.Size - at) {
        ok = false;
        return 0;
    }
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        const std::uint64_t b = ctx.Data[at + static_cast<std::uint64_t>(layout.BigEndian ? i : bytes - 1 - i)];
        v = (v << 8) | b;
    }
    return v;
}

TTiffLayout LayoutOf(const TTiffContext& ctx) {
    TTiffLayout layout;
    layout.BigEndian = ctx.Size >= 2 && ctx.Data[0] == 'M';
    bool ok = true;
    layout.Big = ReadNumber(ctx, layout, 2, 2, ok) == 43;
    return layout;
}

// Whether the directory at this offset, with its entry count and the
// pointer after its entries, lies within the file.
bool DirectoryIsWhole(const TTiffContext& ctx, const TTiffLayout& layout, std::uint64_t offset) {
    bool ok = true;
    const int countBytes = layout.Big ? 8 : 2, entryBytes = layout.Big ? 20 : 12, pointerBytes = layout.Big ? 8 : 4;
    const std::uint64_t count = ReadNumber(ctx, layout, offset, countBytes, ok);
    if (!ok || count > ctx.Size) return false;
    const std::uint64_t pointer = offset + static_cast<std::uint64_t>(countBytes) + count * entryBytes;
    ReadNumber(ctx, layout, pointer, pointerBytes, ok);
    return ok;
}

std::uint64_t FirstDirectoryOffset(const TTiffContext& ctx, const TTiffLayout& layout, bool& ok) {
    return ReadNumber(ctx, layout, layout.Big ? 8 : 4, layout.Big ? 8 : 4, ok);
}

std::uint64_t NextDirectoryOffset(const TTiffContext& ctx, const TTiffLayout& layout, std::uint64_t offset) {
    bool ok = true;
    const int countBytes = layout.Big ? 8 : 2, entryBytes = layout.Big ? 20 : 12, pointerBytes = layout.Big ? 8 : 4;
    const std::uint64_t count = ReadNumber(ctx, layout, offset, countBytes, ok);
    const std::uint64_t next = ReadNumber(ctx, layout, offset + countBytes + count * entryBytes, pointerBytes, ok);
    return ok ? next : 0;
}

// mode: "r" reads with the bytes mapped; "c" keeps large strips as stored.
TTiffHandle OpenTiff(TTiffContext& ctx, const TImageLimits& limits, const char* mode) {
    const TTiffLayout layout = LayoutOf(ctx);
    bool headerWhole = true;
    const std::uint64_t first = FirstDirectoryOffset(ctx, layout, headerWhole);
    if (!headerWhole || !DirectoryIsWhole(ctx, layout, first)) RaiseTruncated();
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) RaiseImageError(ikCorrupt, "TIFF 解码器无法初始化");
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(limits.MaxWorkBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnError, &ctx);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnWarning, &ctx);
    TTiffHandle tif(TIFFClientOpenExt("TIFF", mode, &ctx, &OnRead, &OnWrite, &OnSeek, &OnClose, &OnSize, &OnMap,
                                      &OnUnmap, options.get()));
    if (!tif || !ctx.FirstError.empty()) RaiseTiffFailure(ctx, "not a readable TIFF file");
    return tif;
}

bool IsPage(TIFF* tif) {
    std::uint32_t subfile = 0;
    if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile) && (subfile & FILETYPE_REDUCEDIMAGE) != 0) return false;
    return true;
}

// Moves to the next directory; false at the last one. A broken chain raises.
bool NextDirectory(TIFF* tif, TTiffContext& ctx, int& directories) {
    if (TIFFLastDirectory(tif)) return false;
    if (++directories >= kMaxTiffDirectories) RaiseImageError(ikCorrupt, "TIFF 数据损坏：图像目录过多");
    const TTiffLayout layout = LayoutOf(ctx);
    const std::uint64_t next = NextDirectoryOffset(ctx, layout, TIFFCurrentDirOffset(tif));
    if (next >= ctx.Size || !DirectoryIsWhole(ctx, layout, next)) RaiseTruncated();
    if (!TIFFReadDirectory(tif) || !ctx.FirstError.empty()) RaiseTiffFailure(ctx, "cannot read the next directory");
    return true;
}

// Every strip or tile of the current directory lies within the file.
void RequireWholeImageData(TIFF* tif, TTiffContext& ctx) {
    const std::uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t i = 0; i < count; ++i) {
        int failed = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &failed);
        const std::uint64_t bytes = failed ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &failed);
        if (failed || !ctx.FirstError.empty()) RaiseTiffFailure(ctx, "cannot read the strip table");
        if (offset > ctx.Size || bytes > ctx.Size - offset) RaiseTruncated();
    }
}

// Leaves the handle on page pageIndex; raises when the file has fewer pages.
void GoToPage(TIFF* tif, TTiffContext& ctx, int pageIndex) {
    int directories = 0;
    int page = -1;
    for (;;) {
        if (IsPage(tif) && ++page == pageIndex) return;
        if (!NextDirectory(tif, ctx, directories)) break;
    }
    RaiseImageError(ikNoSuchPage, "文件中没有第 " + std::to_string(pageIndex + 1) + " 页（共 " +
                                      std::to_string(page + 1) + " 页）");
}

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

// Little-endian pieces for the page identity, the same on every machine.
struct TIdentityFeed {
    TScanUIDHash& Hash;
    void Tag(std::uint32_t tag) { Number(tag); }
    void Number(std::uint64_t v) {
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
        Hash.Feed(bytes, sizeof bytes);
    }
    void Words(const std::uint16_t* values, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Number(values[i]);
    }
};

void FeedDecodingFields(TIFF* tif, TIdentityFeed& feed) {
    const std::uint32_t wideTags[] = {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP,
                                      TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH};
    for (const std::uint32_t tag : wideTags) {
        std::uint32_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    const std::uint32_t shortTags[] = {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_COMPRESSION,
                                       TIFFTAG_PHOTOMETRIC,   TIFFTAG_FILLORDER,       TIFFTAG_PLANARCONFIG,
                                       TIFFTAG_ORIENTATION,   TIFFTAG_SAMPLEFORMAT,    TIFFTAG_INKSET};
    for (const std::uint32_t tag : shortTags) {
        std::uint16_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    std::uint16_t compression = COMPRESSION_NONE, bits = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra) {
        feed.Tag(TIFFTAG_EXTRASAMPLES);
        feed.Words(extra, extraCount);
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (bits <= 16 && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green && blue) {
        const std::size_t entries = std::size_t{1} << bits;
        feed.Tag(TIFFTAG_COLORMAP);
        feed.Words(red, entries);
        feed.Words(green, entries);
        feed.Words(blue, entries);
    }
    std::uint16_t subX = 0, subY = 0;
    if (TIFFGetField(tif, TIFFTAG_YCBCRSUBSAMPLING, &subX, &subY)) {
        feed.Tag(TIFFTAG_YCBCRSUBSAMPLING);
        feed.Number(subX);
        feed.Number(subY);
    }
    // Codec fields, asked only of the codec that knows them.
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
        compression == COMPRESSION_DEFLATE) {
        std::uint16_t predictor = 0;
        if (TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) {
            feed.Tag(TIFFTAG_PREDICTOR);
            feed.Number(predictor);
        }
    }
    if (compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4) {
        const std::uint32_t tag = compression == COMPRESSION_CCITTFAX3 ? TIFFTAG_GROUP3OPTIONS : TIFFTAG_GROUP4OPTIONS;
        std::uint32_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    if (compression == COMPRESSION_JPEG) {
        std::uint32_t count = 0;
        void* tables = nullptr;
        if (TIFFGetField(tif, TIFFTAG_JPEGTABLES, &count, &tables) && tables) {
            feed.Tag(TIFFTAG_JPEGTABLES);
            feed.Number(count);
            feed.Hash.Feed(tables, count);
        }
    }
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

std::string TiffPageScanUID(const std::uint8_t* data, std::size_t size, int pageIndex, const TImageLimits& limits) {
    TTiffContext ctx = ContextOver(data, size);
    TTiffHandle tif = OpenTiff(ctx, limits, "rc");
    GoToPage(tif.get(), ctx, pageIndex);
    RequireWholeImageData(tif.get(), ctx);
    TScanUIDHash hash;
    static const char kMarker[] = "TIFF page";
    hash.Feed(kMarker, sizeof kMarker);
    TIdentityFeed feed{hash};
    FeedDecodingFields(tif.get(), feed);
    // The stored strips or tiles as they lie in the file.
    const std::uint32_t count = TIFFIsTiled(tif.get()) ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t offset = TIFFGetStrileOffset(tif.get(), i);
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif.get(), i);
        feed.Number(bytes);
        hash.Feed(data + offset, static_cast<std::size_t>(bytes));
    }
    return hash.Finish();
}

}  // namespace korvex::detail
