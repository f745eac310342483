#include "database/SqliteEngine.h"

#include <sqlite3.h>

#include <ctime>
#include <filesystem>

#include "database/AccessSql.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

// Now(): the local time as "yyyy-mm-dd hh:nn:ss".
void NowFunction(sqlite3_context* context, int, sqlite3_value**) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    sqlite3_result_text(context, text, -1, SQLITE_TRANSIENT);
}

// Owns one prepared statement.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql, std::size_t& consumed) {
        const char* tail = nullptr;
        FRc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &FStmt, &tail);
        consumed = tail ? static_cast<std::size_t>(tail - sql.c_str()) : sql.size();
    }
    ~Statement() { sqlite3_finalize(FStmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    int PrepareResult() const { return FRc; }
    sqlite3_stmt* Get() const { return FStmt; }

private:
    sqlite3_stmt* FStmt = nullptr;
    int FRc;
};

// Binds the values to the statement's "?" marks; a mark without a value, a
// value without a mark or a named parameter is refused.
void Bind(sqlite3* db, sqlite3_stmt* stmt, const TDbParams& params) {
    const int count = sqlite3_bind_parameter_count(stmt);
    if (count != static_cast<int>(params.size()))
        throw EDbError(Format("语句有 %d 个参数，却给出了 %zu 个值。", count, params.size()), SQLITE_RANGE);
    for (int i = 1; i <= count; ++i) {
        if (sqlite3_bind_parameter_name(stmt, i) != nullptr)
            throw EDbError(std::string("只支持 ? 参数：") + sqlite3_bind_parameter_name(stmt, i), SQLITE_MISUSE);
        const TDbValue& value = params[static_cast<std::size_t>(i - 1)];
        int rc;
        if (const auto* n = std::get_if<std::int64_t>(&value)) rc = sqlite3_bind_int64(stmt, i, *n);
        else if (const auto* d = std::get_if<double>(&value)) rc = sqlite3_bind_double(stmt, i, *d);
        else if (const auto* t = std::get_if<std::string>(&value))
            rc = sqlite3_bind_text64(stmt, i, t->data(), t->size(), SQLITE_STATIC, SQLITE_UTF8);
        else rc = sqlite3_bind_null(stmt, i);
        if (rc != SQLITE_OK) throw EDbError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
    }
}

// A bound like pattern may not hold Access's wildcard * (see AccessSql.h).
void RefuseAccessWildcards(const TTranslatedSql& translated, const TDbParams& params) {
    for (const std::size_t i : translated.LikeParameters) {
        const auto* pattern = i < params.size() ? std::get_if<std::string>(&params[i]) : nullptr;
        if (pattern && pattern->find('*') != std::string::npos)
            throw EDbError("不支持 like 模式中的 *（Access 的通配符，本数据库中是普通字符）：" + *pattern, SQLITE_MISUSE);
    }
}

TDbValue ColumnValue(sqlite3_stmt* stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL: return std::monostate{};
        case SQLITE_INTEGER: return static_cast<std::int64_t>(sqlite3_column_int64(stmt, i));
        case SQLITE_FLOAT: return sqlite3_column_double(stmt, i);
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
        }
    }
}

}  // namespace

TSqliteConnection::~TSqliteConnection() { Disconnect(); }

void TSqliteConnection::Connect(const std::string& fileName) { OpenFile(fileName, SQLITE_OPEN_READWRITE); }

void TSqliteConnection::CreateDatabase(const std::string& fileName) {
    std::error_code ec;
    if (std::filesystem::exists(fileName, ec)) throw EDbError(Format("文件已存在：%s", fileName.c_str()), 0);
    OpenFile(fileName, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void TSqliteConnection::OpenFile(const std::string& fileName, int flags) {
    Disconnect();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw EDbError(message, rc);
    }
    FDb = db;
    sqlite3_extended_result_codes(FDb, 1);
    sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
    sqlite3_create_function(FDb, "now", 0, SQLITE_UTF8, nullptr, NowFunction, nullptr, nullptr);
    try {
        // Reading the schema proves the file is an SQLite database.
        RunSelect("select count(*) from sqlite_master");
        Execute("pragma journal_mode=delete");
        Execute("pragma synchronous=full");
        Execute("pragma foreign_keys=off");
    } catch (...) {
        Disconnect();
        throw;
    }
}

void TSqliteConnection::Disconnect() {
    if (!FDb) return;
    sqlite3_close_v2(FDb);
    FDb = nullptr;
    FInTransaction = false;
}

sqlite3* TSqliteConnection::Db() const {
    if (!FDb) throw EDbError("数据库连接未打开。", SQLITE_MISUSE);
    return FDb;
}

void TSqliteConnection::Raise() const { throw EDbError(sqlite3_errmsg(FDb), sqlite3_extended_errcode(FDb)); }

std::vector<std::string> TSqliteConnection::Run(const std::string& sql, const TDbParams& params,
                                                const TRowVisitor& visit) {
    sqlite3* db = Db();
    std::size_t consumed = 0;
    Statement stmt(db, sql, consumed);
    if (stmt.PrepareResult() != SQLITE_OK) Raise();
    if (!stmt.Get()) throw EDbError("查询语句为空。", SQLITE_MISUSE);
    if (!TrimBlanks(std::string_view(sql).substr(consumed)).empty())
        throw EDbError("一次只能执行一条语句。", SQLITE_MISUSE);
    Bind(db, stmt.Get(), params);
    std::vector<std::string> columns;
    const int count = sqlite3_column_count(stmt.Get());
    for (int i = 0; i < count; ++i) columns.emplace_back(sqlite3_column_name(stmt.Get(), i));
    std::vector<TDbValue> row(static_cast<std::size_t>(count));
    for (;;) {
        const int rc = sqlite3_step(stmt.Get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) Raise();
        for (int i = 0; i < count; ++i) row[static_cast<std::size_t>(i)] = ColumnValue(stmt.Get(), i);
        visit(row);
    }
    return columns;
}

TDbResult TSqliteConnection::RunSelect(const std::string& sql, const TDbParams& params) {
    TDbResult result;
    result.Columns = Run(sql, params, [&](const std::vector<TDbValue>& row) { result.Rows.push_back(row); });
    return result;
}

void TSqliteConnection::EachRowSql(std::string_view sql, const TDbParams& params, const TRowVisitor& visit) {
    const TTranslatedSql translated = TranslateAccessSql(sql);
    if (translated.Workbook) throw EDbError("select … into 语句不返回记录。", SQLITE_MISUSE);
    RefuseAccessWildcards(translated, params);
    Run(translated.Sql, params, visit);
}

std::int64_t TSqliteConnection::ExecuteSql(std::string_view sql, const TDbParams& params) {
    const TTranslatedSql translated = TranslateAccessSql(sql);
    RefuseAccessWildcards(translated, params);
    TDbResult result = RunSelect(translated.Sql, params);
    if (translated.Workbook) {
        IWorkbookWriter* writer = WorkbookWriter();
        if (!writer) throw EDbError("没有可用的Excel工作簿输出。", 0);
        writer->WriteSheet(translated.Workbook->Path, translated.Workbook->Sheet, result.Columns, result.Rows);
        return static_cast<std::int64_t>(result.Rows.size());
    }
    return sqlite3_changes64(FDb);
}

std::unique_ptr<TDbQuery> TSqliteConnection::OpenSql(std::string_view sql, const TDbParams& params) {
    const TTranslatedSql translated = TranslateAccessSql(sql);
    if (translated.Workbook) throw EDbError("select … into 语句不返回记录。", SQLITE_MISUSE);
    RefuseAccessWildcards(translated, params);
    return std::make_unique<TDbQuery>(RunSelect(translated.Sql, params));
}

std::vector<std::string> TSqliteConnection::TableNames() {
    const TDbResult r =
        RunSelect("select name from sqlite_master where type='table' and name not like 'sqlite\\_%' escape '\\'");
    std::vector<std::string> names;
    for (const auto& row : r.Rows) names.push_back(DbValueToText(row[0]));
    return names;
}

std::vector<std::string> TSqliteConnection::ColumnNames(std::string_view table) {
    const TDbResult r = RunSelect("select name from pragma_table_info(?)", {std::string(table)});
    std::vector<std::string> names;
    for (const auto& row : r.Rows) names.push_back(DbValueToText(row[0]));
    return names;
}

std::size_t TSqliteConnection::TextColumnLimit(std::string_view table, std::string_view column) {
    // The declared type as the translation wrote it: "text(n)" for a limited
    // column (the limit is its check constraint), "text" for an unlimited one.
    const TDbResult r = RunSelect("select name,type from pragma_table_info(?)", {std::string(table)});
    for (const auto& row : r.Rows) {
        if (!SameText(DbValueToText(row[0]), column)) continue;
        const std::string type = AsciiUpper(TrimBlanks(DbValueToText(row[1])));
        if (type.rfind("TEXT(", 0) != 0 || type.back() != ')') return 0;
        const auto size = ParseDecimalInt32(type.substr(5, type.size() - 6));
        return size && *size > 0 ? static_cast<std::size_t>(*size) : 0;
    }
    return 0;
}

void TSqliteConnection::BeginTrans() {
    if (FInTransaction || !sqlite3_get_autocommit(Db())) throw EDbError("事务已经开始。", SQLITE_MISUSE);
    // Immediate: the write lock is taken (or waited for) now, so that two
    // programs never meet in a lock upgrade that one of them must lose.
    RunSelect("begin immediate");
    FInTransaction = true;
}

void TSqliteConnection::CommitTrans() {
    if (!FInTransaction) throw EDbError("没有正在进行的事务。", SQLITE_MISUSE);
    RunSelect("commit");
    FInTransaction = false;
}

void TSqliteConnection::RollbackTrans() {
    if (!FInTransaction) throw EDbError("没有正在进行的事务。", SQLITE_MISUSE);
    FInTransaction = false;
    // The engine may already have rolled back on its own (disk full, I/O error).
    if (!sqlite3_get_autocommit(Db())) RunSelect("rollback");
}

bool TSqliteConnection::InTransaction() const { return FInTransaction; }

}  // namespace korvex
