#pragma once
// The rules of the candidate editor without any window: numbering, name
// checks, the row hooks of the candidate table and the text import.
#include <cstdint>
#include <string>
#include <vector>

#include "database/DbEngine.h"

namespace korvex {

class TEditableRowSet;
class TQMDatabase;

inline constexpr const char* kCandidateQuery = "select * from [abc] order by [id]";

// The highest [id] of [abc] plus 1, or 1 for an empty table.
std::int64_t NextCandidateID(TDbConnection& conn);

// Raises the operator's message when the trimmed name (TrimName: Unicode
// blanks too) may not be stored for the row numbered id: empty, holding a line
// break or control character, a leading ASCII digit, one of ( ) , ; / ? \ or
// ], or the name of another row (the engine's comparison, letter case ignored).
void ValidateCandidateName(TDbConnection& conn, const std::string& name, std::int64_t id);

// The row hooks of the candidate table.
void InitNewCandidateRow(TEditableRowSet& rows, TDbConnection& conn);
void CheckCandidateRowBeforePost(TEditableRowSet& rows, TDbConnection& conn);

// The lines of an import file: UTF-8 with or without a byte-order mark; a
// file that is not valid UTF-8 is read as GB18030. CR LF and LF both end lines.
std::vector<std::string> DecodeImportLines(const std::string& bytes);
std::vector<std::string> ReadImportLines(const std::string& fileName);
bool IsValidUtf8(const std::string& bytes);

// Inserts the non-empty lines, trimmed by TrimName, as candidates 1, 2, 3 … inside one
// transaction; any refused name rolls all of them back and is raised.
// Answers the number inserted. The [detail] table is brought up to date after.
int ImportCandidateNames(TQMDatabase& db, const std::vector<std::string>& lines);

}  // namespace korvex
