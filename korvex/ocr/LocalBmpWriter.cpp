#include "LocalBmpWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "model/Errors.h"

namespace korvex::ocrbmp {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

}  // namespace

void SaveBitmap24(const TRaster& raster, const std::string& fileName) {
    if (raster.Width <= 0 || raster.Height <= 0 ||
        raster.Pixels.size() != raster.Stride() * static_cast<std::size_t>(raster.Height))
        throw EKorvexError("位图数据不完整，无法保存：" + fileName);
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(raster.Width) * 3u + 3u) & ~std::uint64_t{3};
    const std::uint64_t imageBytes = rowBytes * static_cast<std::uint64_t>(raster.Height);
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    if (imageBytes + kHeaderBytes > UINT32_MAX) throw EKorvexError("位图过大，无法保存为 BMP：" + fileName);

    std::vector<std::uint8_t> header;
    header.reserve(kHeaderBytes);
    header.push_back('B');
    header.push_back('M');
    Put32(header, static_cast<std::uint32_t>(imageBytes + kHeaderBytes));
    Put32(header, 0);  // reserved
    Put32(header, kHeaderBytes);
    Put32(header, 40);  // BITMAPINFOHEADER
    Put32(header, static_cast<std::uint32_t>(raster.Width));
    Put32(header, static_cast<std::uint32_t>(raster.Height));  // positive: rows bottom-up
    Put16(header, 1);                                          // planes
    Put16(header, 24);                                         // bits per pixel
    Put32(header, 0);                                          // BI_RGB
    Put32(header, static_cast<std::uint32_t>(imageBytes));
    Put32(header, 2835);  // 72 dpi
    Put32(header, 2835);
    Put32(header, 0);
    Put32(header, 0);

    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(fileName.c_str(), "wb"), &std::fclose);
    if (!file) RaiseFileError("无法写入位图文件", fileName, errno);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes), 0);
    for (int y = raster.Height - 1; ok && y >= 0; --y) {
        const std::uint8_t* src = raster.Row(y);
        std::copy(src, src + raster.Stride(), row.begin());
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    const int writeErrno = errno;
    if (std::fclose(file.release()) != 0 && ok) RaiseFileError("无法写入位图文件", fileName, errno);
    if (!ok) RaiseFileError("无法写入位图文件", fileName, writeErrno);
}

}  // namespace korvex::ocrbmp
