#pragma once
// The desktop program's command line: image files to queue, and for
// automation, recognising them at once and saving a picture of the window.
#include <QStringList>
#include <string>
#include <vector>

namespace korvex {

class TMainForm;

struct TStartupOptions {
    std::vector<std::string> Images;  // queued in this order
    bool RecognizeAll = false;        // "全部识别" once they are queued
    int Select = 0;                   // queue position shown afterwards (1-based); 0: the first
    std::string Screenshot;           // PNG of the window, then the program ends
    bool Help = false;
    std::string Error;                // a usage error: nothing else is valid
};

// arguments: as QCoreApplication::arguments() gives them, program name first.
TStartupOptions ParseStartupOptions(const QStringList& arguments);
std::string StartupUsage();

// Queues, recognises and selects as asked. True when a screenshot was asked
// and written; raises EFileError when it cannot be written.
bool ApplyStartupOptions(TMainForm& window, const TStartupOptions& options);

}  // namespace korvex
