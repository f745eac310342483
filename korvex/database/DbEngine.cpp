#include "database/DbEngine.h"

#include <sqlite3.h>

#include <cstdio>

#include "model/TextUtil.h"

namespace korvex {

bool EDbError::IsUniqueViolation() const {
    return FEngineCode == SQLITE_CONSTRAINT_UNIQUE || FEngineCode == SQLITE_CONSTRAINT_PRIMARYKEY;
}

bool DbIsNull(const TDbValue& value) { return std::holds_alternative<std::monostate>(value); }

std::string DbValueToText(const TDbValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        char text[40];
        std::snprintf(text, sizeof text, "%.15g", *d);
        return text;
    }
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return {};
}

bool TDbQuery::HasField(std::string_view name) const {
    for (const auto& column : FResult.Columns)
        if (SameText(column, name)) return true;
    return false;
}

const TDbValue& TDbQuery::Field(std::string_view name) const {
    if (Eof()) throw EDbError("没有当前记录。", 0);
    for (std::size_t i = 0; i < FResult.Columns.size(); ++i)
        if (SameText(FResult.Columns[i], name)) return FResult.Rows[FRow][i];
    throw EDbError("字段不存在：" + std::string(name), 0);
}

std::int64_t TDbQuery::AsInteger(std::string_view name) const {
    const TDbValue& value = Field(name);
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (const auto* d = std::get_if<double>(&value)) return static_cast<std::int64_t>(*d);
    if (const auto* s = std::get_if<std::string>(&value)) {
        if (auto parsed = ParseDecimalInt32(*s)) return *parsed;
        throw EDbError("字段 " + std::string(name) + " 不是整数：" + *s, 0);
    }
    return 0;
}

}  // namespace korvex
