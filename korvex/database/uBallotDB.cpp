#include "database/uBallotDB.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "database/SqliteEngine.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"
#include "templates/IniDocument.h"

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

// Rolls the connection's transaction back when the scope is left by an error.
class TTransaction {
public:
    explicit TTransaction(TDbConnection& conn) : FConn(conn) { FConn.BeginTrans(); }
    ~TTransaction() {
        if (FConn.InTransaction()) {
            try {
                FConn.RollbackTrans();
            } catch (...) {
                // The error that ended the transaction is the one to report.
            }
        }
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;
    void Commit() { FConn.CommitTrans(); }

private:
    TDbConnection& FConn;
};

}  // namespace

TQMDatabase::TQMDatabase() : FConn(std::make_unique<TSqliteConnection>()), FConfigFile(ProgramPath("Korvex.ini")) {}

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

std::string TQMDatabase::QuoteSqlText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string TQMDatabase::QuoteIdentifier(const std::string& s) {
    std::string out = "[";
    for (char c : s) {
        if (c == ']') out += ']';
        out += c;
    }
    return out + "]";
}

std::int64_t TQMDatabase::QueryInteger(const std::string& sql, const std::string& field) {
    const auto query = FConn->OpenQuery(sql);
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

void TQMDatabase::EnsureCommitTable() {
    if (TableExists("OCR_Commit")) return;
    FConn->Execute(
        "create table [OCR_Commit] ([ScanUID] text(64) not null,[DetailID] long,[TemplateID] text(64),"
        "[ImageFile] text(255),[CommitTime] datetime)");
    FConn->Execute("create unique index [PK_OCR_Commit] on [OCR_Commit] ([ScanUID])");
}

bool TQMDatabase::IsScanCommitted(const std::string& ScanUID) {
    if (!IsOpen()) return false;
    EnsureCommitTable();
    return QueryInteger("select count(*) as cnt from [OCR_Commit] where [ScanUID]=" + QuoteSqlText(ScanUID), "cnt") > 0;
}

bool TQMDatabase::SchemaComplete() {
    return TableExists("detail") && TableExists("OCR_Commit") && MissingDetailColumns(LoadCandidates(true)).empty();
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
    const std::string trimmed = TrimmedCopy(name);
    if (trimmed.empty()) throw EKorvexError("另选人姓名不能为空。");
    if (Utf16Length(trimmed) > 30) throw EKorvexError("另选人姓名过长。");
    if (trimmed.find(']') != std::string::npos) throw EKorvexError("另选人姓名不能包含字符 ]。");
    if (auto q = FConn->OpenQuery("select [id] from [abc] where [xm]=" + QuoteSqlText(trimmed)); !q->Eof())
        return static_cast<int>(q->AsInteger("id"));
    const auto q = FConn->OpenQuery("select max([id]) as mid from [abc]");
    const int id = q->Eof() || q->IsNull("mid") ? 1 : static_cast<int>(q->AsInteger("mid")) + 1;
    FConn->Execute("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (" + std::to_string(id) + "," +
                   QuoteSqlText(trimmed) + ",0,0,0,True)");
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
    std::map<std::string, TMarkState> marks;
    for (const auto& c : ARecognition.Candidates) marks[c.CandidateName] = c.Mark;
    for (const auto& w : ARecognition.WriteIns) {
        const std::string name = TrimmedCopy(w.Name);
        if (w.Mark != msApprove || name.empty()) continue;
        bool created = false;
        if (EnsureWriteInCandidate(name, created) <= 0) throw EKorvexError("新增另选人失败：" + name);
        if (created) StructureChanged = true;
        marks[name] = msApprove;
    }

    const auto candidates = LoadCandidates(true);
    AddDetailColumns(candidates);

    if (BallotType == kAbstentionBallot) {
        FConn->Execute("insert into [detail] ([票类型]) values ('弃权票')");
    } else {
        std::string columns = "[票类型]";
        std::string values = QuoteSqlText(BallotType);
        for (const auto& c : candidates) {
            columns += ',';
            columns += QuoteIdentifier(c.Name);
            const auto mark = marks.find(c.Name);
            values += ',';
            values += mark == marks.end() ? std::string("' '") : QuoteSqlText(MarkStateToDbCode(mark->second));
        }
        FConn->Execute("insert into [detail] (" + columns + ") values (" + values + ")");
    }
    DetailID = static_cast<int>(QueryInteger("select @@identity as NewID", "NewID"));
    FConn->Execute("insert into [OCR_Commit] ([ScanUID],[DetailID],[TemplateID],[ImageFile],[CommitTime]) values (" +
                   QuoteSqlText(ARecognition.ScanUID) + "," + std::to_string(DetailID) + "," +
                   QuoteSqlText(ATemplate.TemplateID) + "," + QuoteSqlText(ARecognition.ImageFile) + ",Now())");
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
        FConn->Execute("update [abc] set [zc]=" + std::to_string(counts[i].zc) + ",[bzc]=" + std::to_string(counts[i].bzc) +
                       ",[qq]=" + std::to_string(counts[i].qq) + " where [xm]=" + QuoteSqlText(candidates[i].Name));
}

void TQMDatabase::ClearVotingResults(bool RemoveWriteIns) {
    RequireOpen();
    FConn->Execute("update [abc] set [zc]=0,[bzc]=0,[qq]=0");
    if (RemoveWriteIns) FConn->Execute("delete from [abc] where [nxr]=True");
    if (TableExists("OCR_Commit")) FConn->Execute("delete from [OCR_Commit]");
    if (TableExists("detail")) FConn->Execute("drop table [detail]");
    EnsureDetailTable();
}

void TQMDatabase::ClearCandidatesAndResults() {
    RequireOpen();
    if (TableExists("OCR_Commit")) FConn->Execute("delete from [OCR_Commit]");
    if (TableExists("detail")) FConn->Execute("drop table [detail]");
    FConn->Execute("delete from [abc]");
    EnsureDetailTable();
}

void TQMDatabase::RenumberCandidates() {
    RequireOpen();
    const std::int64_t n = QueryInteger("select count(*) as cnt from [abc]", "cnt");
    FConn->Execute("update [abc] set [id]=[id]+" + std::to_string(n + 1000100));
    std::vector<std::int64_t> ids;
    for (auto q = FConn->OpenQuery("select [id] from [abc] order by [id]"); !q->Eof(); q->Next())
        ids.push_back(q->AsInteger("id"));
    for (std::size_t k = 0; k < ids.size(); ++k)
        FConn->Execute("update [abc] set [id]=" + std::to_string(k + 1) + " where [id]=" + std::to_string(ids[k]));
}

int TQMDatabase::GetDetailCount() {
    EnsureDetailTable();
    return static_cast<int>(QueryInteger("select count([id]) as [cnt] from [detail]", "cnt"));
}

int TQMDatabase::ReadMaxSelect(int DefaultValue) const {
    try {
        const int value = TIniDocument::LoadFileIfExists(FConfigFile).ReadInteger("SYSTEM", "BDY", DefaultValue);
        return value > 0 ? value : DefaultValue;
    } catch (const EKorvexError&) {
        return DefaultValue;  // an unreadable file counts as a missing value
    }
}

void TQMDatabase::WriteMaxSelect(int Value) const {
    if (Value <= 0) throw EKorvexError("最多可选人数必须大于0。");
    TIniDocument ini = TIniDocument::LoadFileIfExists(FConfigFile);
    ini.WriteInteger("SYSTEM", "BDY", Value);
    ini.SaveFile(FConfigFile);
}

}  // namespace korvex
