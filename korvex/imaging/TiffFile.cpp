#include "imaging/TiffFile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace korvex::detail {

namespace {

// A crafted chain of thousands of image directories is refused.
constexpr int kMaxTiffDirectories = 10000;

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

struct TOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

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

}  // namespace

TTiffContext ContextOver(const std::uint8_t* data, std::size_t size) {
    TTiffContext ctx;
    ctx.Data = data;
    ctx.Size = size;
    return ctx;
}

[[noreturn]] void RaiseTruncated() { RaiseImageError(ikTruncated, "文件数据不完整（被截断）"); }

[[noreturn]] void RaiseTiffFailure(const TTiffContext& ctx, const std::string& fallback) {
    if (ctx.ReadPastEnd) RaiseImageError(ikTruncated, "文件数据不完整（被截断）");
    const std::string& reason = ctx.FirstError.empty() ? fallback : ctx.FirstError;
    if (reason.find("limit defined in open options") != std::string::npos)
        RaiseImageError(ikTooLarge, "TIFF 解码所需内存超出上限");
    RaiseImageError(ikCorrupt, "TIFF 数据损坏：" + reason);
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

}  // namespace korvex::detail
