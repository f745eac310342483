#pragma once
// The folder of the OCR calls' temporary files and the files of one call.
//
// The folder belongs to one user: "$XDG_RUNTIME_DIR/KorvexOCR" when the
// session has a private runtime folder, else "KorvexOCR-<uid>" in the
// temporary folder ($TMPDIR or /tmp). It is created with mode 0700 and
// refused when another user owns it.
//
// Each call holds an exclusive lock on its own "<base>.lock" file for as
// long as it runs. A call whose lock can be taken has ended without cleaning
// up (its program was killed), and its files are swept by the next call.
#include <filesystem>
#include <memory>
#include <string>

#include "OcrCleanup.h"

namespace korvex {

std::filesystem::path OcrWorkFolder();

// Creates and checks the folder and sweeps the files of dead calls. Raises
// EFileError when the folder cannot be made or is not this user's.
std::filesystem::path PrepareWorkFolder();

// Removes the files of calls whose caller is gone; returns how many.
int SweepDeadCalls(const std::filesystem::path& folder);

// One call's base name and lock. On every way out the files named after the
// base are removed (the lock last); they are also removed if the program is
// ended by SIGTERM, SIGINT or SIGHUP meanwhile.
class TOcrCallFiles {
public:
    // Raises EFileError when no lock file can be made.
    explicit TOcrCallFiles(std::filesystem::path folder);
    ~TOcrCallFiles();
    TOcrCallFiles(const TOcrCallFiles&) = delete;
    TOcrCallFiles& operator=(const TOcrCallFiles&) = delete;

    const std::string& BaseName() const { return base_; }

private:
    std::filesystem::path folder_;
    std::string base_;
    int lockFd_ = -1;
    std::unique_ptr<TOcrFilesRegistration> registration_;
};

}  // namespace korvex
