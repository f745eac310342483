#pragma once
// What OCR calls leave behind when the program is ended in the middle of one.
//
// The bitmap of a call holds a voter's handwriting, so on SIGTERM, SIGINT or
// SIGHUP the files of every running call are removed and every running OCR
// program (with its process group) is killed before the program ends as the
// signal says. The handlers are installed only for signals whose action is
// still the default one, so a program's own handling is left alone.
#include <sys/types.h>

#include <string>

namespace korvex {

// Installs the handlers once per process.
void InstallOcrSignalCleanup();

// An OCR program that is running: its process group is killed by the handlers.
class TOcrChildRegistration {
public:
    explicit TOcrChildRegistration(pid_t pid);
    ~TOcrChildRegistration();
    TOcrChildRegistration(const TOcrChildRegistration&) = delete;
    TOcrChildRegistration& operator=(const TOcrChildRegistration&) = delete;

private:
    int slot_;
};

// The files of one call: in folder, the entries named base or base + "." +
// anything. Removed by the handlers while registered.
class TOcrFilesRegistration {
public:
    TOcrFilesRegistration(const std::string& folder, const std::string& base);
    ~TOcrFilesRegistration();
    TOcrFilesRegistration(const TOcrFilesRegistration&) = delete;
    TOcrFilesRegistration& operator=(const TOcrFilesRegistration&) = delete;

private:
    int slot_;
};

}  // namespace korvex
