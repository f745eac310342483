// Korvex: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <exception>

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
    TKorvexApplication app(argc, argv);
    app.setApplicationName(QString::fromUtf8(korvex::kApplicationTitle));
    app.setApplicationDisplayName(QString::fromUtf8(korvex::kApplicationTitle));
    app.setProperty("helpFile", QString::fromUtf8("Varnel选举扫描计票工具.chm"));
    korvex::TMainForm window;
    window.show();
    return app.exec();
}
