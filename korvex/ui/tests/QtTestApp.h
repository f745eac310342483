#pragma once
// One QApplication for a test process, on the offscreen platform unless told otherwise.
#include <QApplication>
#include <cstdlib>

inline QApplication& QtTestApp() {
    static int argc = 1;
    static char name[] = "korvex-tests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(argc, argv);
    return app;
}
