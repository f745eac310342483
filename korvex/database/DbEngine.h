#pragma once
// The database engine as the counting database sees it: one connection that
// runs Access-dialect SQL text with bound parameters, forward queries with
// typed field access, table and column lists, one-level transactions and the
// workbook hook of "select ... into [Excel 8.0;Database=...]" statements.
//
// Parameters: every value a person typed or a file supplied (a name, a path, a
// scan identity, a ballot type, a mark) is bound, never written into the SQL
// text. A statement marks each value with a positional "?" outside strings and
// brackets; the values follow in the order of the marks, each typed (NULL,
// integer, real, text). Names of tables and columns stay in the text, bracketed
// by TQMDatabase::QuoteIdentifier. An engine runs the values through its own
// binding (sqlite3_bind_* here) and refuses a statement whose marks and values
// do not pair up.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/Errors.h"

namespace korvex {

// An error reported by the engine; the message is the engine's own text.
class EDbError : public EKorvexError {
public:
    EDbError(const std::string& message, int engineCode) : EKorvexError(message), FEngineCode(engineCode) {}
    // The engine's extended result code (0 when the error is not the engine's).
    int EngineCode() const { return FEngineCode; }
    bool IsUniqueViolation() const;

private:
    int FEngineCode;
};

// One field value: NULL, integer, real or text.
using TDbValue = std::variant<std::monostate, std::int64_t, double, std::string>;

bool DbIsNull(const TDbValue& value);
std::string DbValueToText(const TDbValue& value);  // NULL gives ""

// The materialised result of one select: column names and rows.
struct TDbResult {
    std::vector<std::string> Columns;
    std::vector<std::vector<TDbValue>> Rows;
};

// A query read forward from the first row. Field names are found without
// regard to ASCII letter case; an unknown name raises EDbError.
class TDbQuery {
public:
    explicit TDbQuery(TDbResult result) : FResult(std::move(result)) {}

    bool Eof() const { return FRow >= FResult.Rows.size(); }
    void Next() { if (!Eof()) ++FRow; }
    std::size_t RecordCount() const { return FResult.Rows.size(); }
    std::size_t FieldCount() const { return FResult.Columns.size(); }
    const std::string& FieldName(std::size_t index) const { return FResult.Columns.at(index); }
    bool HasField(std::string_view name) const;

    const TDbValue& Field(std::string_view name) const;
    bool IsNull(std::string_view name) const { return DbIsNull(Field(name)); }
    // NULL reads as 0, "" and False; a text that is not a number raises EDbError.
    std::int64_t AsInteger(std::string_view name) const;
    std::string AsText(std::string_view name) const { return DbValueToText(Field(name)); }
    bool AsBoolean(std::string_view name) const { return AsInteger(name) != 0; }

    const TDbResult& Result() const { return FResult; }

private:
    TDbResult FResult;
    std::size_t FRow = 0;
};

// Receives the result of a "select ... into [Excel 8.0;Database=path].[<sheet>]"
// statement and writes it as a workbook at path.
class IWorkbookWriter {
public:
    virtual ~IWorkbookWriter() = default;
    virtual void WriteSheet(const std::string& path, const std::string& sheet, const std::vector<std::string>& columns,
                            const std::vector<std::vector<TDbValue>>& rows) = 0;
};

// The values of a statement's "?" marks, in order.
using TDbParams = std::vector<TDbValue>;

class TDbConnection {
public:
    virtual ~TDbConnection() = default;

    // Opens an existing database file; raises EDbError with the engine's message.
    virtual void Connect(const std::string& fileName) = 0;
    virtual void Disconnect() = 0;
    virtual bool Connected() const = 0;

    // Runs one statement; answers the number of rows it changed.
    std::int64_t Execute(std::string_view sql, const TDbParams& params = {}) { return ExecuteSql(sql, params); }
    std::unique_ptr<TDbQuery> OpenQuery(std::string_view sql, const TDbParams& params = {}) {
        return OpenSql(sql, params);
    }
    // Runs a select and hands each row to visit in turn without keeping the
    // rows (for reading whole tables); the row is valid during the call only.
    using TRowVisitor = std::function<void(const std::vector<TDbValue>& row)>;
    void ForEachRow(std::string_view sql, const TRowVisitor& visit, const TDbParams& params = {}) {
        EachRowSql(sql, params, visit);
    }

    // User tables only; a table's columns in table order.
    virtual std::vector<std::string> TableNames() = 0;
    virtual std::vector<std::string> ColumnNames(std::string_view table) = 0;
    // The most characters a text column holds; 0 when it has no limit, is not
    // a text column or does not exist.
    virtual std::size_t TextColumnLimit(std::string_view table, std::string_view column) = 0;

    // One level: BeginTrans inside a transaction raises EDbError. A write
    // transaction waits for other programs' writers (busy timeout).
    virtual void BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    virtual bool InTransaction() const = 0;

    void SetWorkbookWriter(std::unique_ptr<IWorkbookWriter> writer) { FWorkbookWriter = std::move(writer); }
    IWorkbookWriter* WorkbookWriter() const { return FWorkbookWriter.get(); }

protected:
    virtual std::int64_t ExecuteSql(std::string_view sql, const TDbParams& params) = 0;
    virtual std::unique_ptr<TDbQuery> OpenSql(std::string_view sql, const TDbParams& params) = 0;
    virtual void EachRowSql(std::string_view sql, const TDbParams& params, const TRowVisitor& visit) = 0;

private:
    std::unique_ptr<IWorkbookWriter> FWorkbookWriter;
};

}  // namespace korvex
