#pragma once
// Runs a program as its own process, the way a script would: standard output
// and standard error collected apart, the exit code kept.
#include <map>
#include <optional>
#include <string>
#include <vector>

struct TProgramRun {
    int ExitCode = -1;  // 128 + signal when the program was killed
    std::string Out;
    std::string Err;
};

// The environment of this process with the given changes: a value sets the
// variable, std::nullopt removes it.
using TEnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// argv[0] is the program's path. Standard input is /dev/null; scratchFolder
// holds the captured output files while the program runs.
TProgramRun RunProgram(const std::vector<std::string>& argv, const TEnvironmentChanges& env,
                       const std::string& scratchFolder);
