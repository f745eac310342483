#pragma once
// The engine on SQLite: Access SQL is translated (AccessSql.h) and run on one
// sqlite3 connection. Commits are durable (rollback journal, full sync); a
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

    std::int64_t Execute(std::string_view sql) override;
    std::unique_ptr<TDbQuery> OpenQuery(std::string_view sql) override;
    void ForEachRow(std::string_view sql, const TRowVisitor& visit) override;
    std::vector<std::string> TableNames() override;
    std::vector<std::string> ColumnNames(std::string_view table) override;

    void BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    bool InTransaction() const override;

private:
    void OpenFile(const std::string& fileName, int flags);
    sqlite3* Db() const;
    TDbResult RunSelect(const std::string& sql);
    // Runs one statement; answers its column names and hands each row to visit.
    std::vector<std::string> Run(const std::string& sql, const TRowVisitor& visit);
    [[noreturn]] void Raise() const;

    sqlite3* FDb = nullptr;
    bool FInTransaction = false;
};

}  // namespace korvex
