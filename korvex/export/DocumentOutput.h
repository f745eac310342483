#pragma once
// Saving a finished document under a new name and opening it for the operator
// with the desktop's default application.
#include <ctime>
#include <functional>
#include <string>

namespace korvex {

// Starts the viewer for file; returns false with the reason in error when none
// could be started.
using TDocumentOpener = std::function<bool(const std::string& file, std::string& error)>;

struct TSavedDocument {
    std::string FileName;  // full path of the saved document
    std::string Notice;    // empty when the document was opened; else what to tell the operator
};

// The "Documents" folder of the program folder.
std::string DefaultDocumentsFolder();

// Saves bytes as folder/baseName_yyyymmdd_hhnnss.docx (local time of now),
// adding "_2", "_3", ... when that name is taken: an existing file is never
// replaced. Creates the folder when missing. Raises EFileError on failure.
std::string SaveNewDocument(const std::string& folder, const std::string& baseName, const std::string& bytes,
                            std::time_t now);

// Saves and opens the document. When the opener fails, Notice tells the
// operator where the document is.
TSavedDocument SaveAndOpenDocument(const std::string& folder, const std::string& baseName, const std::string& bytes,
                                   const TDocumentOpener& opener);

// Runs command (by default "xdg-open") with the file. The command counts as
// started when it is still running after a short wait or has finished with
// exit code 0; it is never waited for beyond that and leaves no zombie.
bool OpenWithDesktop(const std::string& file, std::string& error, const std::string& command = "xdg-open");

}  // namespace korvex
