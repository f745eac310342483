#include "NameImage.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <memory>

namespace ocrtest {

namespace {

// Qt needs an application object for its font database: one for the test run,
// gone before the program's static objects are destroyed.
std::unique_ptr<QGuiApplication>& Application() {
    static std::unique_ptr<QGuiApplication> app;
    return app;
}

class TQtEnvironment : public ::testing::Environment {
public:
    void TearDown() override { Application().reset(); }
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(std::make_unique<TQtEnvironment>().release());  // gtest owns it

void EnsureGuiApplication() {
    if (QGuiApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "korvex_ocr_real_tests";
    static char* argv[] = {name, nullptr};
    Application() = std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

korvex::TRaster RenderName(const std::string& utf8Name, int width, int height) {
    EnsureGuiApplication();
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QFont font("Noto Sans CJK SC");
        font.setPixelSize(height * 5 / 8);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, QString::fromUtf8(utf8Name.c_str()));
    }
    korvex::TRaster raster(width, height);
    for (int y = 0; y < height; ++y) {
        const uchar* src = image.constScanLine(y);
        std::uint8_t* dst = raster.Row(y);
        for (int x = 0; x < width; ++x) {
            dst[3 * x + 0] = src[3 * x + 2];  // RGB to BGR
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x + 0];
        }
    }
    return raster;
}

}  // namespace ocrtest
