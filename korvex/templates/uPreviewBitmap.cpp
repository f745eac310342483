#include "templates/uPreviewBitmap.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "model/Errors.h"

namespace korvex {

namespace {

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

void WritePreviewBitmap24(const TRaster& raster, const std::string& fileName) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(raster.Width) * 3u + 3u) & ~3u;
    const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(raster.Height);
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    constexpr std::uint32_t kPixelsPerMetre = 11811;  // 300 dpi

    std::vector<std::uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutLE(header, kHeaderBytes + imageBytes, 4);
    PutLE(header, 0, 4);
    PutLE(header, kHeaderBytes, 4);
    PutLE(header, 40, 4);
    PutLE(header, static_cast<std::uint32_t>(raster.Width), 4);
    PutLE(header, static_cast<std::uint32_t>(raster.Height), 4);  // positive: bottom-up
    PutLE(header, 1, 2);
    PutLE(header, 24, 2);
    PutLE(header, 0, 4);  // no compression
    PutLE(header, imageBytes, 4);
    PutLE(header, kPixelsPerMetre, 4);
    PutLE(header, kPixelsPerMetre, 4);
    PutLE(header, 0, 4);
    PutLE(header, 0, 4);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "wb"), &std::fclose);
    if (!file) RaiseFileError("无法写入文件", fileName, errno);
    std::vector<std::uint8_t> row(rowBytes, 0);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    for (int y = raster.Height - 1; ok && y >= 0; --y) {
        std::copy(raster.Row(y), raster.Row(y) + raster.Stride(), row.begin());
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    if (std::fflush(file.get()) != 0) ok = false;
    if (!ok) RaiseFileError("无法写入文件", fileName, errno);
}

}  // namespace korvex
