#pragma once
// Excel 97-2003 workbooks (.xls): one worksheet with a header row, written as a
// BIFF8 "Workbook" stream inside an OLE2 compound file.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace korvex {

// One cell: NULL (left empty), integer, real, text (UTF-8) or boolean.
using TCellValue = std::variant<std::monostate, std::int64_t, double, std::string, bool>;
using TSheetRow = std::vector<TCellValue>;

struct TSheetData {
    std::string Name;                  // sheet tab name, see WorkbookSheetName
    std::vector<std::string> Columns;  // first row of the sheet
    std::vector<TSheetRow> Rows;       // a row may be shorter than Columns; missing cells are empty
};

// Limits of the file format, checked before anything is written.
constexpr std::size_t kMaxSheetRows = 65536;  // header row included
constexpr std::size_t kMaxSheetColumns = 256;
constexpr std::size_t kMaxCellTextLength = 32767;  // UTF-16 units

// The tab name a requested name gets: one pair of enclosing angle brackets
// ("<计票明细>") is taken off, the characters a tab cannot hold ([ ] : * ? / \)
// become "_", the name is cut to 31 UTF-16 units, and an empty name becomes "Sheet1".
std::string WorkbookSheetName(std::string_view requested);

// The bytes of the Workbook stream. Each column is as wide as its header or
// widest cell (East Asian wide characters counting two), between 8 and 100
// characters. Raises EKorvexError when the sheet exceeds the format's limits or
// a row has more cells than there are columns.
std::string BuildBiff8Workbook(const TSheetData& sheet);

// Writes a new workbook at path, replacing a file already there. The file is
// written under a temporary name and renamed when complete, so a failure never
// leaves a half-written workbook. Raises EFileError when it cannot be written.
void WriteExcel97Workbook(const std::string& path, const TSheetData& sheet);

}  // namespace korvex
