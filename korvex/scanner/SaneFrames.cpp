#include "scanner/SaneFrames.h"

#include <cstring>

#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

// Sample s (0-based, counting channels) of a line, scaled to 8 bits. A set bit
// of a 1-bit grey frame is black; in a colour frame it is full intensity.
std::uint8_t Sample(const std::uint8_t* line, int depth, int s, bool grey = false) {
    switch (depth) {
        case 1: {
            const bool set = (line[s / 8] & (0x80 >> (s % 8))) != 0;
            return (set != grey) ? 255 : 0;
        }
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, line + 2 * s, 2);
            return static_cast<std::uint8_t>(v >> 8);
        }
        default: return line[s];
    }
}

void CheckFrame(const TSaneFrame& f, int channels) {
    if (f.Depth != 1 && f.Depth != 8 && f.Depth != 16)
        throw EKorvexError(Format("扫描仪送来的图像位深 %d 不受支持。", f.Depth));
    if (f.PixelsPerLine <= 0 || f.Lines <= 0 || f.PixelsPerLine > kMaxScanSide || f.Lines > kMaxScanSide)
        throw EKorvexError(Format("扫描仪送来的图像尺寸无效：%d × %d。", f.PixelsPerLine, f.Lines));
    const long long bitsNeeded = static_cast<long long>(f.PixelsPerLine) * channels * f.Depth;
    if (static_cast<long long>(f.BytesPerLine) * 8 < bitsNeeded ||
        static_cast<long long>(f.BytesPerLine) * f.Lines > static_cast<long long>(f.Data.size()))
        throw EKorvexError("扫描仪送来的图像数据不完整。");
}

}  // namespace

TRaster FramesToRaster(const std::vector<TSaneFrame>& frames) {
    if (frames.empty()) throw EKorvexError("扫描仪没有送来图像。");
    const TSaneFrame& first = frames.front();
    if (first.Kind == TFrameKind::Gray || first.Kind == TFrameKind::Rgb) {
        const int channels = first.Kind == TFrameKind::Rgb ? 3 : 1;
        CheckFrame(first, channels);
        TRaster r(first.PixelsPerLine, first.Lines);
        for (int y = 0; y < r.Height; ++y) {
            const std::uint8_t* src = first.Data.data() + static_cast<std::size_t>(y) * first.BytesPerLine;
            std::uint8_t* dst = r.Row(y);
            for (int x = 0; x < r.Width; ++x, dst += 3) {
                if (channels == 1) {
                    dst[0] = dst[1] = dst[2] = Sample(src, first.Depth, x, true);
                } else {
                    dst[2] = Sample(src, first.Depth, 3 * x);
                    dst[1] = Sample(src, first.Depth, 3 * x + 1);
                    dst[0] = Sample(src, first.Depth, 3 * x + 2);
                }
            }
        }
        return r;
    }
    // Three-pass colour: one frame per channel, all of one size.
    TRaster r(first.PixelsPerLine, first.Lines, 0);
    bool seen[3] = {false, false, false};
    for (const TSaneFrame& f : frames) {
        CheckFrame(f, 1);
        if (f.PixelsPerLine != first.PixelsPerLine || f.Lines != first.Lines ||
            f.Kind == TFrameKind::Gray || f.Kind == TFrameKind::Rgb)
            throw EKorvexError("扫描仪送来的分色图像不一致。");
        const int channel = f.Kind == TFrameKind::Red ? 2 : f.Kind == TFrameKind::Green ? 1 : 0;
        seen[channel] = true;
        for (int y = 0; y < r.Height; ++y) {
            const std::uint8_t* src = f.Data.data() + static_cast<std::size_t>(y) * f.BytesPerLine;
            std::uint8_t* dst = r.Row(y) + channel;
            for (int x = 0; x < r.Width; ++x, dst += 3) *dst = Sample(src, f.Depth, x);
        }
    }
    if (!(seen[0] && seen[1] && seen[2])) throw EKorvexError("扫描仪送来的分色图像不完整。");
    return r;
}

}  // namespace korvex
