#include "database/EditableRowSet.h"

#include <algorithm>

#include "database/uBallotDB.h"
#include "model/TextUtil.h"

namespace korvex {

TEditableRowSet::TEditableRowSet(TDbConnection& conn, std::string table, std::string sql)
    : FConn(conn), FTable(std::move(table)), FSql(std::move(sql)) {}

void TEditableRowSet::RequireActive() const {
    if (FState == rsInactive) throw EDbError("数据集尚未打开。", 0);
}

void TEditableRowSet::ReadRows() {
    auto query = FConn.OpenQuery(FSql);
    FColumns = query->Result().Columns;
    FRows = query->Result().Rows;
}

void TEditableRowSet::Open() {
    if (Active()) return;
    ReadRows();
    FState = rsBrowse;
    FCurrent = FRows.empty() ? -1 : 0;
}

void TEditableRowSet::Close() {
    FState = rsInactive;
    FRows.clear();
    FBuffer.clear();
    FCurrent = -1;
}

void TEditableRowSet::Refresh() {
    RequireActive();
    Cancel();
    ReadRows();
    FCurrent = FRows.empty() ? -1 : std::clamp(FCurrent, 0, static_cast<int>(FRows.size()) - 1);
}

void TEditableRowSet::MoveTo(int row) {
    RequireActive();
    if (row < 0 || row >= static_cast<int>(FRows.size())) throw EDbError("行号超出范围。", 0);
    if (FState == rsEdit || FState == rsInsert) Post();
    FCurrent = row;
}

bool TEditableRowSet::HasField(const std::string& name) const {
    return std::any_of(FColumns.begin(), FColumns.end(), [&](const std::string& c) { return SameText(c, name); });
}

std::size_t TEditableRowSet::ColumnIndex(const std::string& name) const {
    for (std::size_t i = 0; i < FColumns.size(); ++i)
        if (SameText(FColumns[i], name)) return i;
    throw EDbError("字段不存在：" + name, 0);
}

const TDbValue& TEditableRowSet::Field(const std::string& name) const {
    RequireActive();
    const std::size_t column = ColumnIndex(name);
    if (FState == rsEdit || FState == rsInsert) return FBuffer.at(column);
    if (FCurrent < 0) throw EDbError("没有当前行。", 0);
    return FRows.at(static_cast<std::size_t>(FCurrent)).at(column);
}

const TDbValue& TEditableRowSet::Value(std::size_t row, const std::string& name) const {
    return FRows.at(row).at(ColumnIndex(name));
}

void TEditableRowSet::SetField(const std::string& name, TDbValue value) {
    RequireActive();
    const std::size_t column = ColumnIndex(name);
    if (FState == rsBrowse) Edit();
    FBuffer.at(column) = std::move(value);
}

void TEditableRowSet::Append() {
    RequireActive();
    if (FState == rsEdit || FState == rsInsert) Post();
    FBuffer.assign(FColumns.size(), TDbValue{});
    FState = rsInsert;
    FCurrent = static_cast<int>(FRows.size());
    if (OnNewRecord) OnNewRecord(*this);
}

void TEditableRowSet::Edit() {
    RequireActive();
    if (FState != rsBrowse) return;
    if (FCurrent < 0) throw EDbError("没有可编辑的行。", 0);
    FBuffer = FRows.at(static_cast<std::size_t>(FCurrent));
    FState = rsEdit;
}

std::string TEditableRowSet::MatchOriginal(const std::vector<TDbValue>& row, TDbParams& params) const {
    std::string where;
    for (std::size_t i = 0; i < FColumns.size(); ++i) {
        if (!where.empty()) where += " and ";
        where += TQMDatabase::QuoteIdentifier(FColumns[i]);
        if (DbIsNull(row[i])) {
            where += " is null";
        } else {
            where += "=?";
            params.push_back(row[i]);
        }
    }
    return where;
}

void TEditableRowSet::Post() {
    RequireActive();
    if (FState == rsBrowse) return;
    if (BeforePost) BeforePost(*this);
    const std::string table = TQMDatabase::QuoteIdentifier(FTable);
    if (FState == rsInsert) {
        std::string names, values;
        TDbParams params;
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            if (DbIsNull(FBuffer[i])) continue;
            if (!names.empty()) names += ",", values += ",";
            names += TQMDatabase::QuoteIdentifier(FColumns[i]);
            values += '?';
            params.push_back(FBuffer[i]);
        }
        FConn.Execute("insert into " + table + " (" + names + ") values (" + values + ")", params);
        FRows.push_back(FBuffer);
        FCurrent = static_cast<int>(FRows.size()) - 1;
    } else {
        std::vector<TDbValue>& original = FRows.at(static_cast<std::size_t>(FCurrent));
        std::string assignments;
        TDbParams params(FBuffer.begin(), FBuffer.end());
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            if (!assignments.empty()) assignments += ",";
            assignments += TQMDatabase::QuoteIdentifier(FColumns[i]);
            assignments += "=?";
        }
        const std::string where = MatchOriginal(original, params);
        const std::int64_t changed =
            FConn.Execute("update " + table + " set " + assignments + " where " + where, params);
        if (changed == 0) throw EDbError("该行已被其他用户修改或删除，未能保存。", 0);
        original = FBuffer;
    }
    FBuffer.clear();
    FState = rsBrowse;
    if (AfterPost) AfterPost(*this);
}

void TEditableRowSet::Cancel() {
    if (FState != rsEdit && FState != rsInsert) return;
    if (FState == rsInsert) FCurrent = FRows.empty() ? -1 : std::min(FCurrent, static_cast<int>(FRows.size()) - 1);
    FBuffer.clear();
    FState = rsBrowse;
}

void TEditableRowSet::Delete() {
    RequireActive();
    if (FState == rsInsert) {
        Cancel();
        return;
    }
    Cancel();
    if (FCurrent < 0) throw EDbError("没有可删除的行。", 0);
    const auto row = FRows.begin() + FCurrent;
    TDbParams params;
    const std::string where = MatchOriginal(*row, params);
    const std::int64_t changed =
        FConn.Execute("delete from " + TQMDatabase::QuoteIdentifier(FTable) + " where " + where, params);
    if (changed == 0) throw EDbError("该行已被其他用户修改或删除，未能删除。", 0);
    FRows.erase(row);
    FCurrent = FRows.empty() ? -1 : std::min(FCurrent, static_cast<int>(FRows.size()) - 1);
}

}  // namespace korvex
