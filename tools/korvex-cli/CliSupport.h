#pragma once
// Shared pieces of the command line: options, the program folder's files,
// JSON text and progress lines.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/Errors.h"

namespace korvex {

class TQMDatabase;

namespace cli {

// A command line the subcommand cannot take (unknown option, missing value,
// not a number); main() answers it with exit code 2.
class EUsageError : public EKorvexError {
public:
    using EKorvexError::EKorvexError;
};

// Arguments after the subcommand: "--name value" options, "--name" flags and
// the rest in order. Any other "--name" is refused.
class TArgs {
public:
    TArgs(std::vector<std::string> args, const std::vector<std::string>& valueOptions,
          const std::vector<std::string>& flagOptions = {});
    std::optional<std::string> Value(const std::string& name) const;
    bool Flag(const std::string& name) const;
    int IntValue(const std::string& name, int defaultValue) const;  // raises for a non-number
    const std::vector<std::string>& Rest() const { return rest_; }
    void RefuseRest() const;  // for subcommands without positional arguments

private:
    std::vector<std::pair<std::string, std::string>> options_;
    std::vector<std::string> flags_;
    std::vector<std::string> rest_;
};

std::string DatabaseFile();   // the program folder's qm.mdb
std::string ConfigFile();     // the program folder's Korvex.ini
std::string TemplatesFolder();

// The open counting database; raises when qm.mdb is missing or cannot be opened.
std::unique_ptr<TQMDatabase> OpenDatabase();

// The local time now, formatted with strftime.
std::string LocalTimeText(const char* format);

// A progress line on a terminal; nothing when standard error is not one.
void Progress(const std::string& text);
void EndProgress();

}  // namespace cli
}  // namespace korvex
