// korvex-cli: the command line over the same libraries the window uses.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
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
                 "程序目录 / program folder: $KORVEX_HOME, else the folder of korvex-cli\n"
                 "  new-database [--candidates FILE]   新建计票数据库 qm.mdb / create an empty counting database\n"
                 "  recognize [--template FILE] [--json] IMAGE...   识别选票 / recognise ballots\n"
                 "  commit [--template FILE] IMAGE...  识别并入库无需复核的选票 / recognise and commit clean ballots\n"
                 "  tally                              显示当前计票结果 / print the current tallies\n"
                 "  scan [--device NAME] [--dpi N] [--max-pages N] [--recognize]   批量扫描 / batch scan\n"
                 "  ocr-selftest                       检测OCR / test the OCR backend\n"
                 "  demo [FOLDER]                      运行示范流程 / run the end-to-end demo in FOLDER\n"
                 "退出码 / exit codes: 0 成功 success, 1 错误 error, 2 用法 usage, 3 部分图片失败 some images failed\n");
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
        if (command == "new-database") return cli::NewDatabase(args);
        if (command == "tally") return cli::Tally(args);
        if (command == "recognize") return cli::Recognize(args);
        if (command == "commit") return cli::Commit(args);
        if (command == "scan") return cli::Scan(args);
        if (command == "ocr-selftest") return cli::OcrSelfTest(args);
        if (command == "help" || command == "--help" || command == "-h") {
            PrintUsage();
            return 0;
        }
        PrintUsage();
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvex-cli: %s\n", e.what());
        return 1;
    }
}
