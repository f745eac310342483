#include "ui/ScanPicture.h"

#include <QImage>
#include <fstream>

#include "imaging/ImageFiles.h"

namespace korvex {
namespace {

bool IsTiff(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    std::uint8_t head[4] = {0, 0, 0, 0};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    return in.gcount() == sizeof head && SniffImageFormat(head, sizeof head) == ifTiff;
}

}  // namespace

QPixmap LoadScanPicture(const TScanItem& item) {
    QPixmap picture;
    if (item.PageCount <= 1 && !IsTiff(item.FileName)) {
        picture.load(QString::fromStdString(item.FileName));
        return picture;
    }
    try {
        const TRaster page = LoadWorkingBitmapPage(item.FileName, item.PageIndex);
        const QImage image(page.Pixels.data(), page.Width, page.Height, static_cast<qsizetype>(page.Stride()),
                           QImage::Format_BGR888);
        picture = QPixmap::fromImage(image);  // copies the pixels
    } catch (const std::exception&) {
    }
    return picture;
}

}  // namespace korvex
