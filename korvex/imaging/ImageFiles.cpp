#include "imaging/ImageFiles.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "imaging/DecoderSupport.h"
#include "model/uBallotTypes.h"

namespace korvex {

namespace detail {

void RaiseImageError(TImageErrorKind kind, const std::string& reason) { throw EImageError(kind, reason); }

void CheckImageDimensions(std::int64_t width, std::int64_t height, const TImageLimits& limits) {
    if (width <= 0 || height <= 0)
        RaiseImageError(ikInvalidDimensions,
                        "图像尺寸无效（宽 " + std::to_string(width) + "，高 " + std::to_string(height) + "）");
    // Both factors are bounded by MaxSide first, so the product cannot overflow.
    if (width > limits.MaxSide || height > limits.MaxSide || width * height > limits.MaxPixels)
        RaiseImageError(ikTooLarge, "图像尺寸 " + std::to_string(width) + " × " + std::to_string(height) +
                                        " 超出上限（每边最多 " + std::to_string(limits.MaxSide) + " 像素，共最多 " +
                                        std::to_string(limits.MaxPixels) + " 像素）");
}

}  // namespace detail

TImageFormat SniffImageFormat(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return ifBmp;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ifJpeg;
    if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return ifPng;
    // Classic TIFF (42) and BigTIFF (43), in either byte order.
    if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0) ||
                      (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43))))
        return ifTiff;
    return ifUnknown;
}

namespace {

[[noreturn]] void RaiseUnknownFormat() {
    detail::RaiseImageError(ikUnknownFormat, "不是可识别的图像格式（支持 BMP、JPEG、PNG、TIFF）");
}

// Pictures of one page have nothing beyond the first.
void RequireFirstPage(int pageIndex) {
    if (pageIndex != 0)
        detail::RaiseImageError(ikNoSuchPage, "文件中没有第 " + std::to_string(pageIndex + 1) + " 页（共 1 页）");
}

TImageFormat RequireKnownFormat(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) detail::RaiseImageError(ikEmptyFile, "文件为空");
    const TImageFormat format = SniffImageFormat(data, size);
    if (format == ifUnknown) RaiseUnknownFormat();
    return format;
}

}  // namespace

TRaster DecodeWorkingBitmap(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    return DecodeWorkingBitmapPage(data, size, 0, limits);
}

TRaster DecodeWorkingBitmapPage(const std::uint8_t* data, std::size_t size, int pageIndex,
                                const TImageLimits& limits) {
    const TImageFormat format = RequireKnownFormat(data, size);
    if (format == ifTiff) return detail::DecodeTiffPage(data, size, pageIndex, limits);
    RequireFirstPage(pageIndex);
    switch (format) {
    case ifBmp: return detail::DecodeBmp(data, size, limits);
    case ifJpeg: return detail::DecodeJpeg(data, size, limits);
    case ifPng: return detail::DecodePng(data, size, limits);
    default: RaiseUnknownFormat();
    }
}

int CountImagePages(const std::uint8_t* data, std::size_t size, const TImageLimits& limits) {
    if (RequireKnownFormat(data, size) != ifTiff) return 1;
    return detail::CountTiffPages(data, size, limits);
}

namespace {

// Reads exactly `count` bytes at `offset`; fewer bytes mean the file ended early.
std::size_t ReadAt(int fd, const std::string& fileName, std::uint8_t* out, std::size_t count, std::size_t offset) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t got = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            RaiseFileError("无法读取图像文件", fileName, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// An image file open for reading: its size checked against the limits, its
// format known from the leading bytes.
struct TOpenImageFile {
    TOpenImageFile(const std::string& fileName, const TImageLimits& limits) : Name(fileName) {
        Fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (Fd < 0) RaiseFileError("无法打开图像文件", fileName, errno);
        struct stat info {};
        if (::fstat(Fd, &info) != 0) Fail(errno);
        if (!S_ISREG(info.st_mode)) Fail(EISDIR);
        if (info.st_size > limits.MaxFileBytes) {
            ::close(Fd);
            detail::RaiseImageError(ikTooLarge, "文件过大（" + std::to_string(info.st_size) + " 字节，上限 " +
                                                    std::to_string(limits.MaxFileBytes) + " 字节）");
        }
        Size = static_cast<std::size_t>(info.st_size);
        try {
            Head.resize(std::min(Size, detail::kBmpHeadBytes));
            Head.resize(ReadAt(Fd, fileName, Head.data(), Head.size(), 0));
        } catch (...) {
            ::close(Fd);
            throw;
        }
        Format = SniffImageFormat(Head.data(), Head.size());
    }
    ~TOpenImageFile() { ::close(Fd); }
    TOpenImageFile(const TOpenImageFile&) = delete;
    TOpenImageFile& operator=(const TOpenImageFile&) = delete;

    // Empty and unknown files raise the decoder's messages.
    void RequireKnownFormat() const {
        if (Size == 0) detail::RaiseImageError(ikEmptyFile, "文件为空");
        if (Format == ifUnknown) RaiseUnknownFormat();
    }
    // The whole file (TIFF directories and image data lie anywhere in it).
    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> bytes(Size);
        bytes.resize(ReadAt(Fd, Name, bytes.data(), Size, 0));
        return bytes;
    }

    std::string Name;
    int Fd = -1;
    std::size_t Size = 0;
    std::vector<std::uint8_t> Head;
    TImageFormat Format = ifUnknown;

private:
    [[noreturn]] void Fail(int error) {
        ::close(Fd);
        RaiseFileError("无法读取图像文件", Name, error);
    }
};

TRaster LoadFromFile(const std::string& fileName, const TImageLimits& limits, int pageIndex) {
    TOpenImageFile file(fileName, limits);
    if (file.Format == ifBmp) {
        RequireFirstPage(pageIndex);
        // BMP pixels go straight from the file into the raster, a few rows at a time.
        std::vector<std::uint8_t> chunk;
        auto source = [&](std::size_t offset, std::size_t count) -> const std::uint8_t* {
            chunk.resize(count);
            if (ReadAt(file.Fd, fileName, chunk.data(), count, offset) != count)
                detail::RaiseImageError(ikTruncated, "文件数据不完整（被截断）");
            return chunk.data();
        };
        return detail::DecodeBmpFrom(file.Head.data(), file.Head.size(), file.Size, source, limits);
    }
    const std::vector<std::uint8_t> bytes = file.Bytes();
    return DecodeWorkingBitmapPage(bytes.data(), bytes.size(), pageIndex, limits);
}

int CountFilePages(const std::string& fileName, const TImageLimits& limits) {
    TOpenImageFile file(fileName, limits);
    file.RequireKnownFormat();
    if (file.Format != ifTiff) return 1;
    const std::vector<std::uint8_t> bytes = file.Bytes();
    return detail::CountTiffPages(bytes.data(), bytes.size(), limits);
}

// Runs a reading step; decoder errors get the file's name.
template <class F>
auto WithFileName(const std::string& fileName, F&& step) {
    try {
        return step();
    } catch (const EImageError& e) {
        throw EImageError(e.Kind(), "无法读取图像文件“" + fileName + "”：" + e.what() + "。");
    }
}

}  // namespace

TRaster LoadWorkingBitmap(const std::string& fileName) { return LoadWorkingBitmap(fileName, TImageLimits{}); }

TRaster LoadWorkingBitmap(const std::string& fileName, const TImageLimits& limits) {
    return LoadWorkingBitmapPage(fileName, 0, limits);
}

TRaster LoadWorkingBitmapPage(const std::string& fileName, int pageIndex, const TImageLimits& limits) {
    return WithFileName(fileName, [&] { return LoadFromFile(fileName, limits, pageIndex); });
}

int CountImageFilePages(const std::string& fileName, const TImageLimits& limits) {
    return WithFileName(fileName, [&] { return CountFilePages(fileName, limits); });
}

std::string ComputePageScanUID(const std::string& fileName, int pageIndex) {
    const TImageLimits limits;
    if (CountImageFilePages(fileName, limits) <= 1) return ComputeScanUID(fileName);
    return WithFileName(fileName, [&] {
        TOpenImageFile file(fileName, limits);
        const std::vector<std::uint8_t> bytes = file.Bytes();
        return detail::TiffPageScanUID(bytes.data(), bytes.size(), pageIndex, limits);
    });
}

namespace {

void PutLE16(std::string& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void PutLE32(std::string& out, std::size_t at, std::uint32_t v) {
    PutLE16(out, at, v & 0xFFFF);
    PutLE16(out, at + 2, v >> 16);
}

}  // namespace

std::string EncodeBitmap24(const TRaster& raster) {
    if (raster.Empty() || raster.Pixels.size() < raster.Stride() * static_cast<std::size_t>(raster.Height))
        throw EKorvexError("无法保存空白图像：图像没有像素。");
    const std::size_t rowBytes = raster.Stride();
    const std::size_t paddedRow = (rowBytes + 3u) & ~static_cast<std::size_t>(3u);
    const std::size_t imageBytes = paddedRow * static_cast<std::size_t>(raster.Height);
    const std::size_t headerBytes = 14 + 40;
    if (imageBytes + headerBytes > 0xFFFFFFFFu) throw EKorvexError("无法保存图像：图像过大，超出 BMP 文件的上限。");
    std::string out(headerBytes + imageBytes, '\0');
    out[0] = 'B';
    out[1] = 'M';
    PutLE32(out, 2, static_cast<std::uint32_t>(out.size()));
    PutLE32(out, 10, static_cast<std::uint32_t>(headerBytes));
    PutLE32(out, 14, 40);
    PutLE32(out, 18, static_cast<std::uint32_t>(raster.Width));
    PutLE32(out, 22, static_cast<std::uint32_t>(raster.Height));  // positive: bottom-up rows
    PutLE16(out, 26, 1);
    PutLE16(out, 28, 24);
    PutLE32(out, 34, static_cast<std::uint32_t>(imageBytes));
    PutLE32(out, 38, 11811);  // 300 dots per inch
    PutLE32(out, 42, 11811);
    for (int y = 0; y < raster.Height; ++y) {
        std::size_t at = headerBytes + static_cast<std::size_t>(raster.Height - 1 - y) * paddedRow;
        std::memcpy(out.data() + at, raster.Row(y), rowBytes);
    }
    return out;
}

void SaveBitmap24(const TRaster& raster, const std::string& fileName) {
    const std::string bytes = EncodeBitmap24(raster);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "wb"), &std::fclose);
    if (!file) RaiseFileError("无法创建图像文件", fileName, errno);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0)
        RaiseFileError("无法写入图像文件", fileName, errno != 0 ? errno : EIO);
    std::FILE* raw = file.release();
    if (std::fclose(raw) != 0) RaiseFileError("无法写入图像文件", fileName, errno != 0 ? errno : EIO);
}

}  // namespace korvex
