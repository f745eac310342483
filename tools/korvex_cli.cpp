// korvex-cli: the command line over the same libraries the window uses.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "model/Errors.h"
#include "model/uBallotTypes.h"
#include "templates/uBallotTemplate.h"

namespace fs = std::filesystem;
using namespace korvex;

namespace {

// The embedded default election used when no candidate list is given.
const std::vector<std::string> kDefaultCandidates = {"张伟", "王小明", "李娜", "刘洋", "陈静", "欧阳娜娜"};

int RunDemo(const std::vector<std::string>& args) {
    const fs::path home = args.empty() ? fs::current_path() / "korvex-demo" : fs::path(args[0]);
    const fs::path templates = home / "Templates";

    TBallotTemplate t;
    t.TemplateID = "DEMO-" + NewGuidText().substr(0, 8);
    t.TemplateCode = TemplateCodeOf(t.TemplateID);
    t.Title = "示范选票";
    t.MaxSelect = 3;
    t.WriteInSlots = 2;
    int id = 1;
    for (const std::string& name : kDefaultCandidates) t.Candidates.push_back({id++, name, {}, {}});
    for (int slot = 1; slot <= t.WriteInSlots; ++slot) t.WriteIns.push_back({slot, {}, {}});

    const std::string file = (templates / (t.TemplateID + ".ini")).string();
    SaveTemplate(t, file);
    const auto loaded = LoadTemplate(file);
    std::printf("template file   %s\n", file.c_str());
    std::printf("template code   %s (check nibble %X)\n", TemplateCodeText(loaded->TemplateCode).c_str(),
                CodeCheckNibble(loaded->TemplateCode));
    std::printf("candidates      %zu, write-in slots %zu, max select %d\n", loaded->Candidates.size(),
                loaded->WriteIns.size(), loaded->MaxSelect);
    std::printf("scan identity   %s of the template file\n", ComputeScanUID(file).c_str());
    if (!(*loaded == t)) {
        std::fprintf(stderr, "demo: the reloaded template differs from the saved one\n");
        return 1;
    }
    std::printf("reloaded template equals the saved one\n");
    return 0;
}

void PrintUsage() {
    std::fprintf(stderr,
                 "用法 / usage: korvex-cli <command> [arguments]\n"
                 "  demo [FOLDER]   运行示范流程 / run the end-to-end demo in FOLDER\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage();
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "demo") return RunDemo(args);
        PrintUsage();
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvex-cli: %s\n", e.what());
        return 1;
    }
}
