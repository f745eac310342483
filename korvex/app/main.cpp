// Korvex: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <exception>

#include "ui/StartupOptions.h"
#include "ui/uMain.h"

namespace {

// Errors that an action does not catch itself are shown, and the window stays usable.
class TKorvexApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(activeWindow(), applicationDisplayName(), QString::fromStdString(e.what()));
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // The command line is read before Qt starts, so that --help needs no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const korvex::TStartupOptions options = korvex::ParseStartupOptions(arguments);
    if (options.Help || !options.Error.empty()) {
        if (!options.Error.empty()) std::fprintf(stderr, "%s\n", options.Error.c_str());
        std::fprintf(options.Help ? stdout : stderr, "%s", korvex::StartupUsage().c_str());
        return options.Help ? 0 : 2;
    }
    TKorvexApplication app(argc, argv);
    app.setApplicationName(QString::fromUtf8(korvex::kApplicationTitle));
    app.setApplicationDisplayName(QString::fromUtf8(korvex::kApplicationTitle));
    app.setProperty("helpFile", QString::fromUtf8("Varnel选举扫描计票工具.chm"));
    korvex::TMainForm window;
    window.show();
    int status = 0;
    // Once the window is up: queue the files given, and for automation recognise and save a picture.
    QTimer::singleShot(0, &window, [&] {
        try {
            if (korvex::ApplyStartupOptions(window, options)) app.quit();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
            app.quit();
        }
    });
    const int result = app.exec();
    return status != 0 ? status : result;
}
