// PNG through libpng: every colour type and bit depth, interlaced or not;
// alpha (and tRNS transparency) composited over white.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "imaging/DecoderSupport.h"

namespace korvex::detail {

namespace {

struct TPngContext {
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
    std::size_t Pos = 0;
    char Message[256] = {};
    TImageErrorKind Kind = ikCorrupt;
    const TImageLimits* Limits = nullptr;
    TRaster* Out = nullptr;
    std::vector<std::uint8_t>* Work = nullptr;  // BGRA rows, owned by the caller
};

void OnRead(png_structp png, png_bytep out, png_size_t length) {
    auto* ctx = static_cast<TPngContext*>(png_get_io_ptr(png));
    if (length > ctx->Size - ctx->Pos) {
        ctx->Kind = ikTruncated;
        png_error(png, "truncated");
    }
    std::memcpy(out, ctx->Data + ctx->Pos, length);
    ctx->Pos += length;
}

void OnError(png_structp png, png_const_charp message) {
    auto* ctx = static_cast<TPngContext*>(png_get_error_ptr(png));
    std::snprintf(ctx->Message, sizeof ctx->Message, "%s", message != nullptr ? message : "");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // ancillary-chunk trouble does not stop decoding

void CompositeRow(const std::uint8_t* bgra, std::uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x) {
        unsigned a = bgra[4 * x + 3];
        for (int c = 0; c < 3; ++c)
            dst[3 * x + c] = static_cast<std::uint8_t>((bgra[4 * x + c] * a + 255u * (255u - a) + 127u) / 255u);
    }
}

// Returns false with ctx.Message set when libpng failed; frame locals are all
// trivially destructible, so the longjmp out of libpng skips no destructor.
bool DecodeWithLibpng(TPngContext& ctx, png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_read_fn(png, &ctx, &OnRead);
    png_set_user_limits(png, static_cast<png_uint_32>(ctx.Limits->MaxSide),
                        static_cast<png_uint_32>(ctx.Limits->MaxSide));
    png_set_chunk_malloc_max(png, 16u << 20);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    if (static_cast<std::int64_t>(w) * h > ctx.Limits->MaxPixels) return true;  // the caller reports it
    const int colorType = png_get_color_type(png, info);
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    png_set_expand(png);  // palette to colour, grey below 8 bits to 8, tRNS to alpha
    png_set_scale_16(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t channels = alpha ? 4 : 3;
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(w) * channels) {
        std::snprintf(ctx.Message, sizeof ctx.Message, "%s", "unexpected row layout");
        return false;
    }
    *ctx.Out = TRaster(static_cast<int>(w), static_cast<int>(h), 255);
    if (!alpha) {
        // Opaque pictures decode straight into the raster rows, every pass.
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, ctx.Out->Row(static_cast<int>(y)), nullptr);
        png_read_end(png, nullptr);
        return true;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 4u;
    // Interlaced images revisit every row on each pass and need the whole image.
    const std::size_t workRows = interlaced ? h : 1;
    if (static_cast<std::int64_t>(rowBytes * workRows) > ctx.Limits->MaxWorkBytes) {
        ctx.Kind = ikTooLarge;
        std::snprintf(ctx.Message, sizeof ctx.Message, "%s", "interlace buffer above the memory limit");
        return false;
    }
    ctx.Work->assign(rowBytes * workRows, 0);
    std::uint8_t* work = ctx.Work->data();
    if (interlaced) {
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, work + y * rowBytes, nullptr);
        for (png_uint_32 y = 0; y < h; ++y)
            CompositeRow(work + y * rowBytes, ctx.Out->Row(static_cast<int>(y)), static_cast<int>(w));
    } else {
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, work, nullptr);
            CompositeRow(work, ctx.Out->Row(static_cast<int>(y)), static_cast<int>(w));
        }
    }
    png_read_end(png, nullptr);
    return true;
}

struct TPngReader {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngReader() { png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr); }
};

}  // namespace

TRaster DecodePng(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    // The dimensions sit at a fixed place in the leading IHDR chunk; checking
    // them here gives the limit message instead of libpng's own.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        auto be32 = [&](std::size_t at) {
            return (std::int64_t{data[at]} << 24) | (std::int64_t{data[at + 1]} << 16) |
                   (std::int64_t{data[at + 2]} << 8) | std::int64_t{data[at + 3]};
        };
        CheckImageDimensions(be32(16), be32(20), limits);
    }
    TRaster raster;
    std::vector<std::uint8_t> work;
    TPngContext ctx;
    ctx.Data = data;
    ctx.Size = size;
    ctx.Limits = &limits;
    ctx.Out = &raster;
    ctx.Work = &work;
    TPngReader reader;
    reader.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, &OnError, &OnWarning);
    if (reader.Png == nullptr) RaiseImageError(ikCorrupt, "PNG 解码器无法初始化");
    reader.Info = png_create_info_struct(reader.Png);
    if (reader.Info == nullptr) RaiseImageError(ikCorrupt, "PNG 解码器无法初始化");
    if (!DecodeWithLibpng(ctx, reader.Png, reader.Info)) {
        if (ctx.Kind == ikTruncated) RaiseImageError(ikTruncated, "文件数据不完整（被截断）");
        if (ctx.Kind == ikTooLarge) RaiseImageError(ikTooLarge, "PNG 隔行图像所需内存超出上限");
        RaiseImageError(ikCorrupt, std::string("PNG 数据损坏：") + ctx.Message);
    }
    if (raster.Empty())
        CheckImageDimensions(png_get_image_width(reader.Png, reader.Info),
                             png_get_image_height(reader.Png, reader.Info), limits);
    return raster;
}

}  // namespace korvex::detail
