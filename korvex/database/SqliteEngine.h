#pragma once
// The engine on SQLite: Access SQL is translated (AccessSql.h) and run on one
// sqlite3 connection, its "?" parameters bound with sqlite3_bind_*. Commits are durable (rollback journal, full sync); a
// write transaction waits for another program's writer instead of failing.
#include "database/DbEngine.h"

struct sqlite3;

namespace korvex {

class TSqliteConnection : public TDbConnection {
public:
    // How long a statement waits for another program's lock.
    static constexpr int kBusyTimeoutMs = 30000;

    TSqliteConnection() = default;
    ~TSqliteConnection() override;
    TSqliteConnection(const TSqliteConnection&) = delete;
    TSqliteConnection& operator=(const TSqliteConnection&) = delete;

    void Connect(const std::string& fileName) override;
    // Creates a new, empty database file; refuses a file that exists.
    void CreateDatabase(const std::string& fileName);
    void Disconnect() override;
    bool Connected() const override { return FDb != nullptr; }

    std::vector<std::string> TableNames() override;
    std::vector<std::string> ColumnNames(std::string_view table) override;
    std::size_t TextColumnLimit(std::string_view table, std::string_view column) override;

    void BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    bool InTransaction() const override;

protected:
    std::int64_t ExecuteSql(std::string_view sql, const TDbParams& params) override;
    std::unique_ptr<TDbQuery> OpenSql(std::string_view sql, const TDbParams& params) override;
    void EachRowSql(std::string_view sql, const TDbParams& params, const TRowVisitor& visit) override;

private:
    void OpenFile(const std::string& fileName, int flags);
    sqlite3* Db() const;
    TDbResult RunSelect(const std::string& sql, const TDbParams& params = {});
    // Runs one statement of SQLite's dialect with its parameters bound; answers
    // its column names and hands each row to visit.
    std::vector<std::string> Run(const std::string& sql, const TDbParams& params, const TRowVisitor& visit);
    [[noreturn]] void Raise() const;

    sqlite3* FDb = nullptr;
    bool FInTransaction = false;
};

}  // namespace korvex
