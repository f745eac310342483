#include "database/DbRowSet.h"

#include <cstdio>

#include "model/TextUtil.h"

namespace korvex {
namespace {

std::string Bracketed(const std::string& name) {
    std::string out = "[";
    for (char c : name) {
        if (c == ']') out += ']';
        out += c;
    }
    return out + "]";
}

std::string Literal(const TDbValue& value) {
    if (DbIsNull(value)) return "NULL";
    if (const auto* d = std::get_if<double>(&value)) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", *d);
        return text;
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        std::string out = "'";
        for (char c : *s) {
            if (c == '\'') out += '\'';
            out += c;
        }
        return out + "'";
    }
    return DbValueToText(value);
}

// Appends piece to a comma-separated list.
void AddToList(std::string& list, const std::string& piece) {
    if (!list.empty()) list += ',';
    list += piece;
}

}  // namespace

TDbRowSet::TDbRowSet(TDbConnection& conn, std::string selectSql, std::string table)
    : FConn(conn), FSelect(std::move(selectSql)), FTable(std::move(table)) {}

void TDbRowSet::Open() {
    auto query = FConn.OpenQuery(FSelect);
    FColumns = query->Result().Columns;
    FRows = query->Result().Rows;
    FRow = 0;
    FState = rsBrowse;
    FOpen = true;
}

void TDbRowSet::Close() {
    FOpen = false;
    FColumns.clear();
    FRows.clear();
    FRow = 0;
    FState = rsBrowse;
}

bool TDbRowSet::HasField(std::string_view name) const {
    for (const auto& c : FColumns)
        if (SameText(c, name)) return true;
    return false;
}

std::size_t TDbRowSet::Index(std::string_view name) const {
    for (std::size_t i = 0; i < FColumns.size(); ++i)
        if (SameText(FColumns[i], name)) return i;
    throw EDbError("字段不存在：" + std::string(name), 0);
}

const TDbValue& TDbRowSet::Field(std::string_view name) const {
    const std::size_t i = Index(name);
    if (FState != rsBrowse) return FBuffer[i];
    if (Eof()) throw EDbError("没有当前记录。", 0);
    return FRows[FRow][i];
}

void TDbRowSet::SetField(std::string_view name, TDbValue value) {
    if (FState == rsBrowse) throw EDbError("记录不在编辑状态。", 0);
    FBuffer[Index(name)] = std::move(value);
}

void TDbRowSet::RequireBrowseRow() const {
    if (!FOpen) throw EDbError("记录集尚未打开。", 0);
    if (FState != rsBrowse) throw EDbError("记录正在编辑。", 0);
}

void TDbRowSet::Append() {
    RequireBrowseRow();
    FBuffer.assign(FColumns.size(), TDbValue{});
    FState = rsInsert;
    if (OnNewRecord) OnNewRecord(*this);
}

void TDbRowSet::Edit() {
    RequireBrowseRow();
    if (Eof()) throw EDbError("没有当前记录。", 0);
    FBuffer = FRows[FRow];
    FState = rsEdit;
}

void TDbRowSet::Cancel() { FState = rsBrowse; }

std::string TDbRowSet::WhereOriginal(const std::vector<TDbValue>& row) const {
    std::string where;
    for (std::size_t i = 0; i < FColumns.size(); ++i) {
        where += i ? " and " : " where ";
        where += Bracketed(FColumns[i]);
        where += " is ";
        where += Literal(row[i]);
    }
    return where;
}

void TDbRowSet::Post() {
    if (FState == rsBrowse) return;
    if (BeforePost) BeforePost(*this);  // an error leaves the row in editing
    if (FState == rsInsert) {
        std::string columns, values;
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            if (DbIsNull(FBuffer[i])) continue;
            AddToList(columns, Bracketed(FColumns[i]));
            AddToList(values, Literal(FBuffer[i]));
        }
        if (columns.empty()) throw EDbError("新记录没有任何字段值。", 0);
        FConn.Execute("insert into " + Bracketed(FTable) + " (" + columns + ") values (" + values + ")");
        FRows.push_back(FBuffer);
        FRow = FRows.size() - 1;
    } else {
        std::string set;
        for (std::size_t i = 0; i < FColumns.size(); ++i)
            if (FBuffer[i] != FRows[FRow][i]) AddToList(set, Bracketed(FColumns[i]) + "=" + Literal(FBuffer[i]));
        if (!set.empty() &&
            FConn.Execute("update " + Bracketed(FTable) + " set " + set + WhereOriginal(FRows[FRow])) == 0)
            throw EDbError("记录已被其他用户更改或删除，无法保存。", 0);
        FRows[FRow] = FBuffer;
    }
    FState = rsBrowse;
    if (AfterPost) AfterPost(*this);
}

void TDbRowSet::Delete() {
    RequireBrowseRow();
    if (Eof()) throw EDbError("没有当前记录。", 0);
    if (FConn.Execute("delete from " + Bracketed(FTable) + WhereOriginal(FRows[FRow])) == 0)
        throw EDbError("记录已被其他用户更改或删除，无法删除。", 0);
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(FRow));
}

}  // namespace korvex
