#pragma once
// The subcommands; each returns the process exit code and raises
// EKorvexError with an operator message on failure.
#include <string>
#include <vector>

namespace korvex::cli {

int NewDatabase(const std::vector<std::string>& args);
int Tally(const std::vector<std::string>& args);
int Recognize(const std::vector<std::string>& args);
int Commit(const std::vector<std::string>& args);
int Scan(const std::vector<std::string>& args);
int OcrSelfTest(const std::vector<std::string>& args);

}  // namespace korvex::cli
