#include "export/uQMExport.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "export/FileOutput.h"
#include "export/OleCompoundFile.h"
#include "export/uExcelWorkbook.h"
#include "export/uWordDocuments.h"
#include "model/Errors.h"

namespace korvex {
namespace {

const char* const kNotOpen = "数据库尚未打开。";

void RequireOpen(TQMDatabase& db) {
    if (!db.IsOpen()) {
        throw EKorvexError(kNotOpen);
    }
}

// Writes the result of a select ... into statement as a new workbook; like the
// engine it replaces, it never writes over a file that is already there.
class TExcelWorkbookWriter : public IWorkbookWriter {
public:
    void WriteSheet(const std::string& path, const std::string& sheet, const std::vector<std::string>& columns,
                    const std::vector<std::vector<TDbValue>>& rows) override {
        TSheetData data{sheet, columns, {}};
        data.Rows.reserve(rows.size());
        for (const auto& row : rows) {
            TSheetRow cells;
            cells.reserve(row.size());
            for (const TDbValue& value : row) {
                std::visit([&](const auto& v) { cells.emplace_back(v); }, value);
            }
            data.Rows.push_back(std::move(cells));
        }
        static const unsigned char kWorkbookClass[16] = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
        // Written under a temporary name and renamed when whole: a crash never
        // leaves half a workbook under the chosen name.
        if (!WriteNewFile(path, BuildCompoundFile("Workbook", BuildBiff8Workbook(data), kWorkbookClass))) {
            throw EKorvexError("目标文件已存在：" + path);
        }
    }
};

// LibreOffice marks a document it has open with ".~lock.<name>#" beside it.
bool OpenInOffice(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::exists(file.parent_path() / (".~lock." + file.filename().string() + "#"), ec);
}

// Refuses, before anything is touched, a path that cannot name a workbook
// file: empty, holding a NUL character or naming a folder.
void CheckTargetPath(const std::string& path) {
    if (path.empty()) {
        throw EKorvexError("没有指定导出文件。");
    }
    if (path.find('\0') != std::string::npos) {
        throw EKorvexError("导出文件名含有空字符，无法使用。");
    }
    if (path.back() == '/' || std::filesystem::path(path).filename() == "." ||
        std::filesystem::path(path).filename() == "..") {
        throw EKorvexError("导出目标是文件夹，不是文件：" + path);
    }
}

// Removes a file at path so that the statement writes a new workbook. A file
// that cannot be removed, or is open in an office program, is left untouched.
void MakeRoomFor(const std::string& path) {
    const std::filesystem::path file(path);
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(file, ec);
    if (ec || !std::filesystem::exists(status)) {
        return;
    }
    if (std::filesystem::is_directory(status) || OpenInOffice(file) || !std::filesystem::remove(file, ec) || ec) {
        throw EKorvexError("无法覆盖目标文件：" + path);
    }
}

// The workbook target of a select ... into statement. The path is bracketed
// like a name, "]" doubled, and read back whole: ";", quotes and "]" in a file
// name reach the writer as they are.
std::string Target(const std::string& path, const std::string& sheet) {
    return TQMDatabase::QuoteIdentifier("Excel 8.0;Database=" + path) + ".[<" + sheet + ">]";
}

void RunExport(TQMDatabase& db, const std::string& path, const std::string& statement) {
    MakeRoomFor(path);
    EnsureWorkbookWriter(db);
    db.Conn().Execute(statement);
}

std::vector<TTallyRow> TallyRows(TQMDatabase& db, bool writeIns, const std::string& order) {
    std::vector<TTallyRow> rows;
    const std::string sql =
        "select [id] as 序号,[xm] as 姓名,[zc] as 赞成票数,[bzc] as 不赞成票数,[qq] as 弃权票数 from [abc] where " +
        std::string(writeIns ? TQMDatabase::kIsWriteIn : TQMDatabase::kIsFormal) + " order by " + order;
    for (auto q = db.Conn().OpenQuery(sql); !q->Eof(); q->Next()) {
        TTallyRow row;
        for (std::size_t c = 0; c < row.size(); ++c) {
            row[c] = DbValueToText(q->Field(q->FieldName(c)));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

TSavedDocument Deliver(const TWordDocument& doc, const std::string& baseName, const TDocumentTarget& target) {
    const std::string folder = target.Folder.empty() ? DefaultDocumentsFolder() : target.Folder;
    const TDocumentOpener opener =
        target.Opener ? target.Opener
                      : TDocumentOpener([](const std::string& file, std::string& error) {
                            return OpenWithDesktop(file, error);
                        });
    return SaveAndOpenDocument(folder, baseName, doc.DocxBytes(), opener);
}

}  // namespace

void EnsureWorkbookWriter(TQMDatabase& ADatabase) {
    if (ADatabase.Conn().WorkbookWriter() == nullptr) {
        ADatabase.Conn().SetWorkbookWriter(std::make_unique<TExcelWorkbookWriter>());
    }
}

void ExportSummary(TQMDatabase& ADatabase, const std::string& path, bool byVotes) {
    RequireOpen(ADatabase);
    CheckTargetPath(path);
    const std::string sheet = byVotes ? "计票结果_票数" : "计票结果_序号";
    const std::string order = byVotes ? "[zc] desc,[id]" : "[id]";
    RunExport(ADatabase, path,
              "select [id] as 序号,[xm] as 姓名,[zc] as 赞成票数,[bzc] as 不赞成票数,[qq] as 弃权票数,"
              "iif([nxr],'是','否') as 是否另选人 into " +
                  Target(path, sheet) + " from [abc] order by " + order);
}

void ExportDetail(TQMDatabase& ADatabase, const std::string& path) {
    RequireOpen(ADatabase);
    CheckTargetPath(path);
    ADatabase.EnsureDetailTable();
    RunExport(ADatabase, path, "select * into " + Target(path, "计票明细") + " from [detail]");
}

void ExportDetailStatistics(TQMDatabase& ADatabase, const std::string& path) {
    RequireOpen(ADatabase);
    CheckTargetPath(path);
    ADatabase.EnsureDetailTable();
    const auto layout = ADatabase.Conn().OpenQuery("select * from [detail] where 1=2");
    std::string columns;
    for (std::size_t i = 2; i < layout->FieldCount(); ++i) {
        if (!columns.empty()) {
            columns += ',';
        }
        columns += TQMDatabase::QuoteIdentifier(layout->FieldName(i));
    }
    if (columns.empty()) {
        throw EKorvexError("detail 中没有候选人字段，无法生成明细统计。");
    }
    RunExport(ADatabase, path,
              "select count([id]) as 票数," + columns + " into " + Target(path, "明细统计") +
                  " from [detail] group by " + columns);
}

int CountBallotsOfType(TQMDatabase& ADatabase, const std::string& ballotType) {
    RequireOpen(ADatabase);
    const auto q = ADatabase.Conn().OpenQuery("select count(*) as cnt from [detail] where [票类型]=?", {ballotType});
    return q->Eof() ? 0 : static_cast<int>(q->AsInteger("cnt"));
}

TSavedDocument WordBallot(TQMDatabase& ADatabase, const std::string& title, int maxSelect, int writeInCount,
                          const TDocumentTarget& target) {
    RequireOpen(ADatabase);
    std::vector<std::string> names;
    for (const TCandidateInfo& c : ADatabase.LoadCandidates(false)) {
        names.push_back(c.Name);
    }
    return Deliver(BuildWordBallot(title, names, maxSelect, writeInCount), "选票", target);
}

TSavedDocument ElectionReport(TQMDatabase& ADatabase, const std::string& title, bool byVotes,
                              const TDocumentTarget& target) {
    RequireOpen(ADatabase);
    ADatabase.EnsureDetailTable();
    TElectionReportData data;
    data.Title = title;
    data.Total = ADatabase.GetDetailCount();
    data.Valid = CountBallotsOfType(ADatabase, kValidBallot);
    data.Invalid = CountBallotsOfType(ADatabase, kInvalidBallot);
    data.Abstention = CountBallotsOfType(ADatabase, kAbstentionBallot);
    const std::string order = byVotes ? "[zc] desc,[id]" : "[id]";
    data.Candidates = TallyRows(ADatabase, false, order);
    data.WriteIns = TallyRows(ADatabase, true, order);
    data.Date = Today();
    return Deliver(BuildElectionReport(data), "选举报告单", target);
}

}  // namespace korvex
