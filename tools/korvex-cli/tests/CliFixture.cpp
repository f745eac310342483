#include "CliFixture.h"

#include <fstream>

TProgramRun CliTest::Cli(const std::vector<std::string>& args, TEnvironmentChanges env) const {
    std::vector<std::string> argv{KORVEX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    env.emplace("KORVEX_HOME", Home());
    env.emplace("QT_QPA_PLATFORM", "offscreen");
    return RunProgram(argv, env, scratch_.File("run"));
}

void CliTest::NewDatabase(const std::vector<std::string>& names) const {
    std::ofstream list(scratch_.File("candidates.txt"), std::ios::binary);
    for (const std::string& n : names) list << n << "\n";
    list.close();
    const TProgramRun run = Cli({"new-database", "--candidates", scratch_.File("candidates.txt")});
    ASSERT_EQ(run.ExitCode, kExitOk) << run.Err;
}

std::string CliTest::Generate(const std::string& title, int writeIns) const {
    const TProgramRun run = Cli({"generate", "--title", title, "--write-ins", std::to_string(writeIns)});
    EXPECT_EQ(run.ExitCode, kExitOk) << run.Err;
    const auto lines = Lines(run.Out);
    return lines.empty() ? "" : lines.front();
}

std::vector<std::string> CliTest::Forge(const std::string& templateFile, const std::vector<std::string>& marks,
                                        const std::string& folder, int quarterTurns, const std::string& format) const {
    const std::string marksFile = scratch_.File("marks.txt");
    std::ofstream list(marksFile, std::ios::binary);
    for (const std::string& m : marks) list << m << "\n";
    list.close();
    const TProgramRun run = RunProgram({KORVEX_FORGE, "standard", "--template", templateFile, "--out", folder, "--marks",
                                        marksFile, "--seed", "13", "--dpi", "300", "--rotate",
                                        std::to_string(90 * quarterTurns), "--blur", "0", "--format", format,
                                        "--hard", "0"},
                                       {{"QT_QPA_PLATFORM", "offscreen"}}, scratch_.File("forge"));
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    std::vector<std::string> scans;
    for (std::size_t i = 1; i <= marks.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "scan_%06zu.%s", i, format.c_str());
        scans.push_back((std::filesystem::path(folder) / name).string());
        EXPECT_TRUE(std::filesystem::exists(scans.back())) << scans.back();
    }
    return scans;
}

void CliTest::UseBuiltScrivane() const {
    std::ofstream(Home("Korvex.ini"), std::ios::binary) << "[OCR]\nCommand=" << KORVEX_SCRIVANE << "\n";
}

std::string CliTest::ReadWorkbook(const std::string& file) const {
    const TProgramRun run = RunProgram(
        {"/usr/bin/python3", std::string(KORVEX_SOURCE_DIR) + "/korvex/export/tests/data/read_xls.py", file}, {},
        scratch_.File("xlrd"));
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    return run.Out;
}

std::vector<std::string> CliTest::Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
