#pragma once
// Translation of the Access SQL forms Korvex writes into SQLite's dialect.
// Only these forms change; everything else is passed on as written:
//   [name] with "]]" inside         -> "name" with "]" and '"' kept literal
//   @@identity                      -> last_insert_rowid()
//   in create/alter table column definitions:
//     autoincrement [primary key]   -> integer primary key autoincrement
//     long                          -> integer
//     text(n) / text                -> text collate nocase with a length check of n (255 without n)
//   select ... into [Excel 8.0;Database=path].[<sheet>] ...
//                                   -> the select without its into clause, plus the workbook target
// True, False, iif(), count, max, group by and order by ... desc are SQLite's
// own; Now() is a function the connection registers.
#include <optional>
#include <string>
#include <string_view>

namespace korvex {

struct TWorkbookTarget {
    std::string Path;
    std::string Sheet;  // without the enclosing "<" and ">"
};

struct TTranslatedSql {
    std::string Sql;
    std::optional<TWorkbookTarget> Workbook;
};

TTranslatedSql TranslateAccessSql(std::string_view accessSql);

}  // namespace korvex
