// korvex-cli: the command line over the same libraries the window uses.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "Commands.h"
#include "model/Errors.h"

using namespace korvex;

namespace {

// The help on standard output when asked for, on standard error after a wrong command line.
void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "用法 / usage: korvex-cli <command> [arguments]\n"
                 "程序目录 / program folder: $KORVEX_HOME, else the folder of korvex-cli\n"
                 "  new-database [--candidates FILE]   新建计票数据库 qm.mdb / create an empty counting database\n"
                 "  recognize [--template FILE] [--json] IMAGE...   识别选票 / recognise ballots\n"
                 "  commit [--template FILE] IMAGE...  识别并入库无需复核的选票 / recognise and commit clean ballots\n"
                 "  tally                              显示当前计票结果 / print the current tallies\n"
                 "  scan [--device NAME] [--dpi N] [--max-pages N] [--recognize]   批量扫描 / batch scan\n"
                 "  scan --list [--device NAME]        列出扫描仪及其来源、分辨率、纸张尺寸 / scanners and their options\n"
                 "  ocr-selftest                       检测OCR / test the OCR backend\n"
                 "  generate --title T --write-ins N   生成标准选票与识别模板 / the standard ballot and its template\n"
                 "  print --copies N [--pdf FILE]      打印标准选票 / print the last generated ballot\n"
                 "  export summary|summary-by-votes|detail|statistics FILE   导出 Excel / export a workbook\n"
                 "  report [--title T] [--by-votes]    生成选举报告单 / the election report (.docx)\n"
                 "  word-ballot [--title T] [--write-ins N]   生成Word选票 / the Word ballot (.docx)\n"
                 "退出码 / exit codes: 0 成功 success, 1 错误 error, 2 用法 usage, 3 部分图片失败 some images failed\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "new-database") return cli::NewDatabase(args);
        if (command == "tally") return cli::Tally(args);
        if (command == "recognize") return cli::Recognize(args);
        if (command == "commit") return cli::Commit(args);
        if (command == "scan") return cli::Scan(args);
        if (command == "ocr-selftest") return cli::OcrSelfTest(args);
        if (command == "generate") return cli::Generate(args);
        if (command == "print") return cli::Print(args);
        if (command == "export") return cli::Export(args);
        if (command == "report") return cli::Report(args);
        if (command == "word-ballot") return cli::WordBallotCommand(args);
        if (command == "help" || command == "--help" || command == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        std::fprintf(stderr, "korvex-cli: 未知的命令 / unknown command: %s\n", command.c_str());
        PrintUsage(stderr);
        return 2;
    } catch (const cli::EUsageError& e) {
        std::fprintf(stderr, "korvex-cli %s: %s\n", command.c_str(), e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvex-cli: %s\n", e.what());
        return 1;
    }
}
