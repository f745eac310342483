#pragma once
// A transaction on a connection that rolls back when the scope is left by an error.
#include "database/DbEngine.h"

namespace korvex {

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

}  // namespace korvex
