#pragma once
// The test program's QApplication, made in QtTestMain.cpp.
#include <QApplication>

inline QApplication& QtTestApp() { return *static_cast<QApplication*>(QCoreApplication::instance()); }
