#pragma once
// Translation of the Access SQL forms Korvex writes into SQLite's dialect.
// Only these forms change; everything else is passed on as written:
//   [name] with "]]" inside         -> "name" with "]" and '"' kept literal
//   @@identity                      -> last_insert_rowid()
//   ?                               -> ? (a positional parameter, counted)
//   in create/alter table column definitions:
//     autoincrement [primary key]   -> integer primary key autoincrement
//     long                          -> integer
//     text(n) / text                -> text collate nocase with a length check of n (255 without n)
//     memo / longtext               -> text collate nocase without a length limit
//   select ... into [Excel 8.0;Database=path].[<sheet>] ...
//                                   -> the select without its into clause, plus the workbook target;
//                                      path is everything after "Database=" up to the closing "]",
//                                      with "]]" read as "]" (";" and quotes are part of the path)
// True, False, iif(), count, max, group by and order by ... desc are SQLite's
// own; Now() is a function the connection registers.
//
// Forms whose meaning differs between the two dialects are refused with an
// EDbError instead of being passed on:
//   a & b                 Access joins texts, SQLite takes the bitwise and
//   "text"                Access reads a text, SQLite a column name (or a text when no column matches)
//   like '...*...'        Access's wildcard *, a plain character in SQLite; a bound pattern
//                         holding * is refused when the statement runs (see LikeParameters)
//   like <anything else>  a column or expression as the pattern could hold * unseen
// Values never need any of these: they are bound to "?" parameters.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

struct TWorkbookTarget {
    std::string Path;
    std::string Sheet;  // without the enclosing "<" and ">"
};

struct TTranslatedSql {
    std::string Sql;
    std::optional<TWorkbookTarget> Workbook;
    std::size_t ParameterCount = 0;
    // Positions (from 0) of the parameters that are like patterns.
    std::vector<std::size_t> LikeParameters;
};

// Raises EDbError for a refused form.
TTranslatedSql TranslateAccessSql(std::string_view accessSql);

}  // namespace korvex
