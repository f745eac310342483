#pragma once
// korvex-cli run as a process on a fresh program folder per test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "model/tests/TempFolder.h"

class CliTest : public ::testing::Test {
public:
    static std::vector<std::string> Lines(const std::string& text);  // without the line ends

protected:
    // korvex-cli with KORVEX_HOME set to this test's program folder.
    TProgramRun Cli(const std::vector<std::string>& args, TEnvironmentChanges env = {}) const;

    // qm.mdb with the given candidates, through "new-database --candidates".
    void NewDatabase(const std::vector<std::string>& names) const;
    // "generate": the template file it wrote.
    std::string Generate(const std::string& title, int writeIns) const;
    // Forged scans of the template, one per marks line (see ballot-forge's README),
    // at 300 dpi, the lowest resolution scanners are run at, with a light scan effect.
    // (At 150 dpi a skewed, turned page's template code is not always readable.)
    std::vector<std::string> Forge(const std::string& templateFile, const std::vector<std::string>& marks,
                                   const std::string& folder, int quarterTurns = 0,
                                   const std::string& format = "png") const;
    // Korvex.ini naming the built Scrivane as the OCR engine.
    void UseBuiltScrivane() const;
    // The first sheet's name and rows as the export tests read it with xlrd.
    std::string ReadWorkbook(const std::string& file) const;

    std::string Home(const std::string& name = "") const { return name.empty() ? home_.Path().string() : home_.File(name); }

    TempFolder home_;
    TempFolder scratch_;  // captured output, outside the program folder
};

// Expected exit codes, as the help states them.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSomeImagesFailed = 3;
