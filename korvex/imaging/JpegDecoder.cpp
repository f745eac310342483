// JPEG through libjpeg-turbo: grey, colour (decoded straight to blue-green-red),
// CMYK and YCCK converted to colour; baseline and progressive.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/DecoderSupport.h"

namespace korvex::detail {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return. It
// jumps back to DecodeWithLibjpeg, whose frame holds only trivially
// destructible locals, so no C++ destructor is skipped.
struct TJpegContext {
    jpeg_error_mgr Errors{};
    jpeg_progress_mgr Progress{};
    std::jmp_buf Jump{};
    char Message[JMSG_LENGTH_MAX] = {};
    TImageErrorKind Kind = ikCorrupt;
    bool Failed = false;
    const TImageLimits* Limits = nullptr;
    TRaster* Out = nullptr;
    std::uint8_t* CmykRow = nullptr;  // one row of 4-byte samples, owned by the caller
    std::size_t CmykRowBytes = 0;
};

TJpegContext& ContextOf(j_common_ptr cinfo) {
    // The error manager is the first member, so its address is the context's.
    return *reinterpret_cast<TJpegContext*>(cinfo->err);
}

void OnError(j_common_ptr cinfo) {
    TJpegContext& ctx = ContextOf(cinfo);
    (*cinfo->err->format_message)(cinfo, ctx.Message);
    // Work memory is capped through max_memory_to_use; going past it ends here.
    const int code = cinfo->err->msg_code;
    if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY || code == JERR_TFILE_CREATE)
        ctx.Kind = ikTooLarge;
    ctx.Failed = true;
    std::longjmp(ctx.Jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    // A premature end of data would otherwise be padded with grey: refuse it.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        TJpegContext& ctx = ContextOf(cinfo);
        ctx.Kind = ikTruncated;
        std::snprintf(ctx.Message, sizeof ctx.Message, "%s", "文件数据不完整（被截断）");
        ctx.Failed = true;
        std::longjmp(ctx.Jump, 1);
    }
}

void OnProgress(j_common_ptr cinfo) {
    // A crafted progressive file may hold thousands of tiny scans; real ones have few.
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > 200) {
        TJpegContext& ctx = ContextOf(cinfo);
        std::snprintf(ctx.Message, sizeof ctx.Message, "%s", "JPEG 扫描段数量异常");
        ctx.Failed = true;
        std::longjmp(ctx.Jump, 1);
    }
}

void ConvertCmykRow(const std::uint8_t* src, std::uint8_t* dst, int width, bool inverted) {
    for (int x = 0; x < width; ++x) {
        unsigned c = src[4 * x], m = src[4 * x + 1], y = src[4 * x + 2], k = src[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // Inverted (Adobe) samples: 255 means no ink.
        dst[3 * x] = static_cast<std::uint8_t>((y * k + 127) / 255);
        dst[3 * x + 1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        dst[3 * x + 2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// Returns false with ctx.Message set when libjpeg failed. Dimension checks
// throw only after jpeg_destroy_decompress has run.
bool DecodeWithLibjpeg(TJpegContext& ctx, jpeg_decompress_struct& cinfo, const std::uint8_t* data,
                       std::size_t size, std::vector<std::uint8_t>& cmykBuffer) {
    if (setjmp(ctx.Jump) != 0) return false;
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = static_cast<long>(ctx.Limits->MaxWorkBytes);
    cinfo.progress = &ctx.Progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        static_cast<std::int64_t>(cinfo.image_width) > ctx.Limits->MaxSide ||
        static_cast<std::int64_t>(cinfo.image_height) > ctx.Limits->MaxSide ||
        static_cast<std::int64_t>(cinfo.image_width) * cinfo.image_height > ctx.Limits->MaxPixels)
        return true;  // the caller reports the dimensions
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    const int w = static_cast<int>(cinfo.output_width);
    const int h = static_cast<int>(cinfo.output_height);
    *ctx.Out = TRaster(w, h, 255);
    if (cmyk) {
        cmykBuffer.resize(static_cast<std::size_t>(w) * 4u);
        ctx.CmykRow = cmykBuffer.data();
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row = cmyk ? ctx.CmykRow : ctx.Out->Row(y);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
        if (cmyk) ConvertCmykRow(ctx.CmykRow, ctx.Out->Row(y), w, cinfo.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

TRaster DecodeJpeg(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    TRaster raster;
    std::vector<std::uint8_t> cmykBuffer;
    TJpegContext ctx;
    ctx.Limits = &limits;
    ctx.Out = &raster;
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&ctx.Errors);
    ctx.Errors.error_exit = &OnError;
    ctx.Errors.emit_message = &OnMessage;
    ctx.Progress.progress_monitor = &OnProgress;
    bool ok = DecodeWithLibjpeg(ctx, cinfo, data, size, cmykBuffer);
    const std::int64_t width = cinfo.image_width, height = cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    if (!ok || ctx.Failed) {
        if (ctx.Kind == ikTruncated) RaiseImageError(ikTruncated, ctx.Message);
        if (ctx.Kind == ikTooLarge) RaiseImageError(ikTooLarge, "JPEG 解码所需内存超出上限");
        RaiseImageError(ikCorrupt, std::string("JPEG 数据损坏：") + ctx.Message);
    }
    if (raster.Empty()) CheckImageDimensions(width, height, limits);
    return raster;
}

}  // namespace korvex::detail
