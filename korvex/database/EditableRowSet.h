#pragma once
// The rows of one query on one table, kept in memory and edited one row at a
// time: append, edit, delete, post and cancel, written back with optimistic
// locking (a row changed or removed by somebody else since it was read is not
// overwritten). Hooks run on a new row, before a post (an exception cancels
// the post and leaves the row in editing) and after a post.
#include <functional>
#include <string>
#include <vector>

#include "database/DbEngine.h"

namespace korvex {

enum TRowSetState { rsInactive, rsBrowse, rsEdit, rsInsert };

class TEditableRowSet {
public:
    using THook = std::function<void(TEditableRowSet&)>;

    // table: the table the rows are written back to; sql: the select over it.
    TEditableRowSet(TDbConnection& conn, std::string table, std::string sql);

    void Open();
    void Close();
    // Reads the rows again; a pending edit is cancelled. The current row is
    // kept by position where it still exists.
    void Refresh();
    bool Active() const { return FState != rsInactive; }
    TRowSetState State() const { return FState; }

    std::size_t RecordCount() const { return FRows.size(); }
    // The current row's position, −1 without rows. While a new row is being
    // inserted it is the position the row will take.
    int RecNo() const { return FCurrent; }
    // Moving away from a row being edited posts it first.
    void MoveTo(int row);

    const std::vector<std::string>& Columns() const { return FColumns; }
    bool HasField(const std::string& name) const;
    // The current row's value (the edit buffer while editing).
    const TDbValue& Field(const std::string& name) const;
    // A value of any row as stored.
    const TDbValue& Value(std::size_t row, const std::string& name) const;
    std::string AsText(const std::string& name) const { return DbValueToText(Field(name)); }
    // Puts the current row into editing when it is not.
    void SetField(const std::string& name, TDbValue value);

    // A new row after the last one; runs the new-row hook.
    void Append();
    void Edit();
    // Writes the row being edited or inserted; nothing in browse state.
    void Post();
    void Cancel();
    // Removes the current row from the table (a new row is just dropped).
    void Delete();

    THook OnNewRecord, BeforePost, AfterPost;

private:
    void RequireActive() const;
    std::size_t ColumnIndex(const std::string& name) const;
    // The where clause that finds the row as it was read; its values go to params.
    std::string MatchOriginal(const std::vector<TDbValue>& row, TDbParams& params) const;
    void ReadRows();

    TDbConnection& FConn;
    std::string FTable;
    std::string FSql;
    std::vector<std::string> FColumns;
    std::vector<std::vector<TDbValue>> FRows;
    std::vector<TDbValue> FBuffer;
    TRowSetState FState = rsInactive;
    int FCurrent = -1;
};

}  // namespace korvex
