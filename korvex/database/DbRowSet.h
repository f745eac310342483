#pragma once
// An editable row set over one table: the rows of a select kept in memory
// (a static cursor), edited one row at a time and written back with
// optimistic locking: an edit or delete names every value the row had when it
// was read, so a row changed meanwhile by anyone else is not overwritten.
#include <functional>
#include <string>
#include <vector>

#include "database/DbEngine.h"

namespace korvex {

class TDbRowSet {
public:
    enum TState { rsBrowse, rsEdit, rsInsert };
    using THook = std::function<void(TDbRowSet&)>;

    // selectSql reads the rows of table (for example "select * from [abc] order by [id]").
    TDbRowSet(TDbConnection& conn, std::string selectSql, std::string table);

    THook OnNewRecord;  // after Append, to fill in defaults
    THook BeforePost;   // an error raised here cancels the post; the row stays in editing
    THook AfterPost;

    void Open();
    void Close();
    bool IsOpen() const { return FOpen; }
    void Refresh() { Open(); }

    std::size_t RecordCount() const { return FRows.size(); }
    bool Eof() const { return FRow >= FRows.size(); }
    void First() { FRow = 0; }
    void Next() { if (!Eof()) ++FRow; }
    void MoveTo(std::size_t row) { FRow = row < FRows.size() ? row : FRows.size(); }
    TState State() const { return FState; }

    bool HasField(std::string_view name) const;
    // The current row's value, or the edit buffer's while editing or inserting.
    const TDbValue& Field(std::string_view name) const;
    void SetField(std::string_view name, TDbValue value);

    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

private:
    std::size_t Index(std::string_view name) const;
    std::string WhereOriginal(const std::vector<TDbValue>& row) const;
    void RequireBrowseRow() const;

    TDbConnection& FConn;
    std::string FSelect;
    std::string FTable;
    bool FOpen = false;
    std::vector<std::string> FColumns;
    std::vector<std::vector<TDbValue>> FRows;
    std::size_t FRow = 0;
    TState FState = rsBrowse;
    std::vector<TDbValue> FBuffer;
};

}  // namespace korvex
