#include "database/uBallotDB.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "database/DbTransaction.h"
#include "database/SqliteEngine.h"
#include "model/NameText.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

const char* const kNotOpen = "数据库尚未打开。";
const char* const kDuplicateScan = "这张扫描图片已经入库，系统已阻止重复计票。";

// The first bytes of a Jet (.mdb) or ACE (.accdb) file name their engine.
bool IsAccessFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    char header[32] = {};
    in.read(header, sizeof header);
    const std::string text(header, static_cast<std::size_t>(in.gcount()));
    return text.size() >= 19 && (text.compare(4, 15, "Standard Jet DB") == 0 || text.compare(4, 15, "Standard ACE DB") == 0);
}

}  // namespace

TQMDatabase::TQMDatabase() : TQMDatabase(std::make_unique<TSqliteConnection>()) {}

TQMDatabase::TQMDatabase(std::unique_ptr<TDbConnection> AConn)
    : FConn(std::move(AConn)), FConfigFile(ProgramPath("Korvex.ini")) {}

TQMDatabase::~TQMDatabase() = default;

void TQMDatabase::Open(const std::string& FileName) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(FileName, ec)) throw EKorvexError(Format("Access数据库不存在：%s", FileName.c_str()));
    Close();
    if (IsAccessFile(FileName))
        throw EKorvexError(Format("这是Microsoft Access格式（Jet/ACE）的数据库文件，本程序不能直接打开：%s\r\n"
                                  "请先将它转换为SQLite格式的计票数据库。",
                                  FileName.c_str()));
    try {
        FConn->Connect(FileName);
    } catch (const EKorvexError& e) {
        FConn->Disconnect();
        throw EKorvexError(std::string("无法打开Access数据库。请优先使用Win32编译；如Jet不可用，请安装位数匹配的Access "
                                       "Database Engine。\r\n") +
                           e.what());
    }
    FDatabaseFile = std::filesystem::absolute(FileName, ec).lexically_normal().string();
    if (ec) FDatabaseFile = FileName;
}

void TQMDatabase::Close() {
    FConn->Disconnect();
    FDatabaseFile.clear();
}

bool TQMDatabase::IsOpen() const { return FConn->Connected(); }

void TQMDatabase::RequireOpen() const {
    if (!IsOpen()) throw EKorvexError(kNotOpen);
}

std::string TQMDatabase::QuoteIdentifier(const std::string& s) {
    std::string out = "[";
    for (char c : s) {
        if (c == ']') out += ']';
        out += c;
    }
    return out + "]";
}

std::int64_t TQMDatabase::QueryInteger(const std::string& sql, const std::string& field, const TDbParams& params) {
    const auto query = FConn->OpenQuery(sql, params);
    return query->Eof() ? 0 : query->AsInteger(field);
}

bool TQMDatabase::TableExists(const std::string& name) {
    for (const auto& table : FConn->TableNames())
        if (SameText(table, name)) return true;
    return false;
}

bool TQMDatabase::ColumnExists(const std::string& table, const std::string& column) {
    if (!TableExists(table)) return false;
    for (const auto& name : FConn->ColumnNames(table))
        if (SameText(name, column)) return true;
    return false;
}

std::vector<TCandidateInfo> TQMDatabase::LoadCandidates(bool IncludeWriteIns) {
    RequireOpen();
    std::vector<TCandidateInfo> list;
    for (auto q = FConn->OpenQuery("select [id],[xm],[nxr] from [abc] order by [id]"); !q->Eof(); q->Next()) {
        TCandidateInfo info;
        info.IsWriteIn = !q->IsNull("nxr") && q->AsBoolean("nxr");
        if (!IncludeWriteIns && info.IsWriteIn) continue;
        info.ID = static_cast<int>(q->AsInteger("id"));
        info.Name = q->AsText("xm");
        list.push_back(std::move(info));
    }
    return list;
}

std::vector<std::string> TQMDatabase::MissingDetailColumns(const std::vector<TCandidateInfo>& candidates) {
    // One read of the column list instead of one per candidate; a name counts
    // as present once an earlier candidate's column would have been added.
    std::vector<std::string> known = TableExists("detail") ? FConn->ColumnNames("detail") : std::vector<std::string>{};
    std::vector<std::string> missing;
    for (const auto& c : candidates) {
        const bool present = std::any_of(known.begin(), known.end(), [&](const std::string& k) { return SameText(k, c.Name); });
        if (present) continue;
        missing.push_back(c.Name);
        known.push_back(c.Name);
    }
    return missing;
}

void TQMDatabase::AddDetailColumns(const std::vector<TCandidateInfo>& candidates) {
    for (const auto& name : MissingDetailColumns(candidates))
        FConn->Execute("alter table [detail] add column " + QuoteIdentifier(name) + " text(1)");
}

void TQMDatabase::EnsureCandidateColumn(const std::string& name) {
    if (!ColumnExists("detail", name))
        FConn->Execute("alter table [detail] add column " + QuoteIdentifier(name) + " text(1)");
}

void TQMDatabase::EnsureDetailTable() {
    RequireOpen();
    const auto candidates = LoadCandidates(true);
    if (TableExists("detail")) {
        AddDetailColumns(candidates);
        return;
    }
    std::string sql = "create table [detail] ([id] autoincrement primary key,[票类型] text(6)";
    for (const auto& c : candidates) {
        sql += ',';
        sql += QuoteIdentifier(c.Name);
        sql += " text(1)";
    }
    FConn->Execute(sql + ")");
}

namespace {
const char* const kCommitColumns[] = {"ScanUID", "DetailID", "TemplateID", "ImageFile", "CommitTime"};
}

void TQMDatabase::CreateCommitTable(const std::string& table) {
    // [ImageFile] holds the full path of the image, however long.
    FConn->Execute("create table " + QuoteIdentifier(table) +
                   " ([ScanUID] text(64) not null,[DetailID] long,[TemplateID] text(64),[ImageFile] memo,"
                   "[CommitTime] datetime)");
}

void TQMDatabase::EnsureCommitTable() {
    if (TableExists("OCR_Commit")) {
        if (CommitTableNeedsLongPaths()) RebuildCommitTableForLongPaths();
        return;
    }
    CreateCommitTable("OCR_Commit");
    FConn->Execute("create unique index [PK_OCR_Commit] on [OCR_Commit] ([ScanUID])");
}

bool TQMDatabase::CommitTableNeedsLongPaths() { return FConn->TextColumnLimit("OCR_Commit", "ImageFile") != 0; }

void TQMDatabase::RebuildCommitTableForLongPaths() {
    // Databases of earlier versions created [ImageFile] as text(255), which
    // refuses longer paths. The rows move through a copy into a new table of
    // the long layout, all in one transaction, so the guard is never lost.
    const auto body = [&] {
        std::string columns;
        for (const std::string& name : FConn->ColumnNames("OCR_Commit")) {
            for (const char* known : kCommitColumns) {
                if (!SameText(name, known)) continue;
                if (!columns.empty()) columns += ',';
                columns += QuoteIdentifier(known);
            }
        }
        if (TableExists("OCR_Commit_copy")) FConn->Execute("drop table [OCR_Commit_copy]");
        CreateCommitTable("OCR_Commit_copy");
        FConn->Execute("insert into [OCR_Commit_copy] (" + columns + ") select " + columns + " from [OCR_Commit]");
        FConn->Execute("drop table [OCR_Commit]");
        CreateCommitTable("OCR_Commit");
        FConn->Execute("create unique index [PK_OCR_Commit] on [OCR_Commit] ([ScanUID])");
        FConn->Execute("insert into [OCR_Commit] (" + columns + ") select " + columns + " from [OCR_Commit_copy]");
        FConn->Execute("drop table [OCR_Commit_copy]");
    };
    if (FConn->InTransaction()) {
        body();
        return;
    }
    TTransaction rebuild(*FConn);
    body();
    rebuild.Commit();
}

bool TQMDatabase::IsScanCommitted(const std::string& ScanUID) {
    if (!IsOpen()) return false;
    EnsureCommitTable();
    return QueryInteger("select count(*) as cnt from [OCR_Commit] where [ScanUID]=?", "cnt", {ScanUID}) > 0;
}

bool TQMDatabase::SchemaComplete() {
    return TableExists("detail") && TableExists("OCR_Commit") && !CommitTableNeedsLongPaths() &&
           MissingDetailColumns(LoadCandidates(true)).empty();
}

void TQMDatabase::CheckTemplateAgainstDatabase(const TBallotTemplate* ATemplate) {
    if (!ATemplate) throw EKorvexError("模板为空。");
    const auto formal = LoadCandidates(false);
    if (formal.size() != ATemplate->Candidates.size())
        throw EKorvexError("当前数据库的正式候选人数与打印选票模板不一致，禁止自动入库。\r\n请确认是否更换过候选人名单。");
    for (std::size_t i = 0; i < formal.size(); ++i) {
        const TCandidateTemplate& t = ATemplate->Candidates[i];
        if (formal[i].ID != t.ID || !SameText(formal[i].Name, t.Name))
            throw EKorvexError(Format("当前数据库候选人顺序与选票模板不一致：模板第%d位为“%s”，数据库为“%s”。禁止自动入库。",
                                      static_cast<int>(i + 1), t.Name.c_str(), formal[i].Name.c_str()));
    }
}

int TQMDatabase::EnsureWriteInCandidate(const std::string& name, bool& created) {
    created = false;
    const std::string trimmed = TrimName(name);
    if (trimmed.empty()) throw EKorvexError("另选人姓名不能为空。");
    if (HasForbiddenNameCharacter(trimmed))
        throw EKorvexError("另选人姓名不能包含换行符或控制字符：" + VisibleName(trimmed));
    if (Utf16Length(trimmed) > 30) throw EKorvexError("另选人姓名过长。");
    if (trimmed.find(']') != std::string::npos) throw EKorvexError("另选人姓名不能包含字符 ]。");
    if (auto q = FConn->OpenQuery("select [id] from [abc] where [xm]=?", {trimmed}); !q->Eof())
        return static_cast<int>(q->AsInteger("id"));
    const auto q = FConn->OpenQuery("select max([id]) as mid from [abc]");
    const int id = q->Eof() || q->IsNull("mid") ? 1 : static_cast<int>(q->AsInteger("mid")) + 1;
    FConn->Execute("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (?,?,0,0,0,True)",
                   {std::int64_t{id}, trimmed});
    EnsureCandidateColumn(trimmed);
    created = true;
    return id;
}

void TQMDatabase::CommitBallot(const TBallotTemplate* ATemplate, const TBallotRecognition* ARecognition,
                               const std::string& BallotType, int& DetailID, bool& StructureChanged) {
    RequireOpen();
    if (!ATemplate || !ARecognition) throw EKorvexError("没有可入库的识别结果。");
    DetailID = 0;
    StructureChanged = false;
    CheckTemplateAgainstDatabase(ATemplate);
    if (!SchemaComplete()) {
        // Schema upkeep under the write lock, so that two programs never both
        // create the same table; it stays even when the ballot fails later.
        TTransaction schema(*FConn);
        EnsureDetailTable();
        EnsureCommitTable();
        schema.Commit();
    }
    if (IsScanCommitted(ARecognition->ScanUID)) throw EKorvexError(kDuplicateScan);

    TTransaction ballot(*FConn);
    // Checked again under the write lock: another program may have committed
    // the same scan since the check above.
    if (IsScanCommitted(ARecognition->ScanUID)) throw EKorvexError(kDuplicateScan);
    WriteBallot(*ATemplate, *ARecognition, BallotType, DetailID, StructureChanged);
    ballot.Commit();
}

void TQMDatabase::WriteBallot(const TBallotTemplate& ATemplate, const TBallotRecognition& ARecognition,
                              const std::string& BallotType, int& DetailID, bool& StructureChanged) {
    // Names compare as the database compares them (ASCII letter case ignored),
    // so that a write-in or a template naming a candidate in another case
    // finds the candidate the database found.
    std::map<std::string, TMarkState, TNameLess> marks;
    for (const auto& c : ARecognition.Candidates) marks[c.CandidateName] = c.Mark;
    for (const auto& w : ARecognition.WriteIns) {
        const std::string name = TrimName(w.Name);
        if (w.Mark != msApprove || name.empty()) continue;
        bool created = false;
        if (EnsureWriteInCandidate(name, created) <= 0) throw EKorvexError("新增另选人失败：" + name);
        if (created) StructureChanged = true;
        marks[name] = msApprove;
    }

    const auto candidates = LoadCandidates(true);
    AddDetailColumns(candidates);

    if (BallotType == kAbstentionBallot) {
        FConn->Execute("insert into [detail] ([票类型]) values (?)", {std::string(kAbstentionBallot)});
    } else {
        std::string columns = "[票类型]";
        std::string values = "?";
        TDbParams params{BallotType};
        params.reserve(candidates.size() + 1);
        for (const auto& c : candidates) {
            columns += ',';
            columns += QuoteIdentifier(c.Name);
            values += ",?";
            const auto mark = marks.find(c.Name);
            params.emplace_back(mark == marks.end() ? std::string(" ") : MarkStateToDbCode(mark->second));
        }
        FConn->Execute("insert into [detail] (" + columns + ") values (" + values + ")", params);
    }
    DetailID = static_cast<int>(QueryInteger("select @@identity as NewID", "NewID"));
    FConn->Execute("insert into [OCR_Commit] ([ScanUID],[DetailID],[TemplateID],[ImageFile],[CommitTime]) "
                   "values (?,?,?,?,Now())",
                   {ARecognition.ScanUID, std::int64_t{DetailID}, ATemplate.TemplateID, ARecognition.ImageFile});
    RecountTallies();
}

void TQMDatabase::RecountTallies() {
    // Every tally is counted afresh from all of [detail] after every commit:
    // per candidate the "O" and "X" cells of valid ballots and the blank
    // cells of valid and abstention ballots; NULL cells and invalid ballots
    // count nowhere. One pass over the table reads every cell once, instead of
    // three count queries (three table scans) per candidate.
    const auto candidates = LoadCandidates(true);
    if (candidates.empty()) return;
    std::string sql = "select [票类型]";
    for (const auto& c : candidates) {
        sql += ',';
        sql += QuoteIdentifier(c.Name);
    }
    struct TCount {
        std::int64_t zc = 0, bzc = 0, qq = 0;
    };
    std::vector<TCount> counts(candidates.size());
    // Marks compare as the engine's text comparison does: ASCII case ignored.
    const auto is = [](const TDbValue& v, char mark) {
        const auto* s = std::get_if<std::string>(&v);
        return s && SameText(*s, std::string_view(&mark, 1));
    };
    FConn->ForEachRow(sql + " from [detail]", [&](const std::vector<TDbValue>& row) {
        const auto* type = std::get_if<std::string>(&row[0]);
        const bool valid = type && *type == kValidBallot;
        if (!valid && !(type && *type == kAbstentionBallot)) return;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const TDbValue& cell = row[i + 1];
            if (valid && is(cell, 'O')) ++counts[i].zc;
            else if (valid && is(cell, 'X')) ++counts[i].bzc;
            else if (is(cell, ' ')) ++counts[i].qq;
        }
    });
    for (std::size_t i = 0; i < candidates.size(); ++i)
        FConn->Execute("update [abc] set [zc]=?,[bzc]=?,[qq]=? where [xm]=?",
                       {counts[i].zc, counts[i].bzc, counts[i].qq, candidates[i].Name});
}

}  // namespace korvex
