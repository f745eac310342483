#include <QPrinter>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "CliSupport.h"
#include "Commands.h"
#include "database/uBallotDB.h"
#include "export/uQMExport.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "templates/IniDocument.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotPrinting.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

namespace korvex::cli {
namespace fs = std::filesystem;

namespace {

// The standard template generated last, remembered beside the templates so
// that "print" finds it in a later run.
std::string LastGeneratedFile() { return (fs::path(TemplatesFolder()) / "last-generated.txt").string(); }

}  // namespace

int Generate(const std::vector<std::string>& args) {
    const TArgs a(args, {"--title", "--write-ins"});
    a.RefuseRest();
    const int writeIns = a.IntValue("--write-ins", 0);
    auto db = OpenDatabase();
    const auto t = GenerateStandardTemplate(db->LoadCandidates(false), a.Value("--title").value_or("选票"),
                                            db->ReadMaxSelect(5), writeIns);
    fs::create_directories(TemplatesFolder());
    const std::string ini = (fs::path(TemplatesFolder()) / (t->TemplateID + ".ini")).string();
    SaveTemplate(*t, ini);
    EnsureGuiApplication();
    const std::string preview = SaveBallotPreview(*t, TemplatesFolder());
    std::ofstream(LastGeneratedFile()) << ini << "\n";
    std::printf("%s\n%s\n", ini.c_str(), preview.c_str());
    return 0;
}

int Print(const std::vector<std::string>& args) {
    const TArgs a(args, {"--copies", "--pdf"});
    a.RefuseRest();
    const int copies = a.IntValue("--copies", 1);
    if (copies <= 0) throw EKorvexError("打印份数必须大于 0。");
    std::ifstream last(LastGeneratedFile());
    std::string ini;
    if (!std::getline(last, ini) || ini.empty()) throw EKorvexError("请先生成标准选票。");
    const auto t = LoadTemplate(ini);
    EnsureGuiApplication();
    try {
        if (const auto pdf = a.Value("--pdf")) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(*pdf));
            PrintBallotOn(printer, *t, copies);
        } else {
            PrintBallot(*t, copies);
        }
    } catch (const EKorvexError& e) {
        throw EKorvexError(std::string("打印失败：") + e.what());
    }
    std::printf("已打印 %d 份 / printed %d copies: %s\n", copies, copies, t->TemplateID.c_str());
    return 0;
}

int Export(const std::vector<std::string>& args) {
    const TArgs a(args, {});
    if (a.Rest().size() != 2) throw EUsageError("用法 / usage: export summary|summary-by-votes|detail|statistics FILE");
    const std::string& kind = a.Rest()[0];
    const std::string& file = a.Rest()[1];
    if (kind != "summary" && kind != "summary-by-votes" && kind != "detail" && kind != "statistics")
        throw EUsageError("未知的导出种类 / unknown export: " + kind);
    auto db = OpenDatabase();
    if (kind == "summary") ExportSummary(*db, file, false);
    else if (kind == "summary-by-votes") ExportSummary(*db, file, true);
    else if (kind == "detail") ExportDetail(*db, file);
    else ExportDetailStatistics(*db, file);
    std::printf("数据已成功导出 / exported: %s\n", file.c_str());
    return 0;
}

namespace {

// Documents are saved without opening a viewer: the command line runs unattended.
TDocumentTarget QuietTarget() {
    TDocumentTarget target;
    target.Opener = [](const std::string&, std::string&) { return true; };
    return target;
}

}  // namespace

int Report(const std::vector<std::string>& args) {
    const TArgs a(args, {"--title"}, {"--by-votes"});
    a.RefuseRest();
    auto db = OpenDatabase();
    const TSavedDocument saved = ElectionReport(*db, a.Value("--title").value_or("选票"), a.Flag("--by-votes"), QuietTarget());
    std::printf("%s\n", saved.FileName.c_str());
    return 0;
}

int WordBallotCommand(const std::vector<std::string>& args) {
    const TArgs a(args, {"--title", "--write-ins"});
    a.RefuseRest();
    const int writeIns = a.IntValue("--write-ins", 0);
    auto db = OpenDatabase();
    const TSavedDocument saved =
        WordBallot(*db, a.Value("--title").value_or("选票"), db->ReadMaxSelect(5), writeIns, QuietTarget());
    std::printf("%s\n", saved.FileName.c_str());
    return 0;
}

}  // namespace korvex::cli
