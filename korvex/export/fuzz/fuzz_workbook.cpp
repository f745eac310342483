// Builds workbooks from arbitrary cells and checks the stream's record
// structure: every record fits its length field and the format's limit, the
// records tile the stream exactly, and the sheet directory points at the
// worksheet's BOF record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "export/uExcelWorkbook.h"
#include "model/Errors.h"

using namespace korvex;

namespace {

unsigned Read16(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}

void CheckStream(const std::string& stream) {
    std::size_t at = 0;
    std::size_t sheetOffset = 0;
    bool sawWorksheetBof = false;
    while (at < stream.size()) {
        if (at + 4 > stream.size()) std::abort();
        const unsigned type = Read16(stream, at);
        const unsigned length = Read16(stream, at + 2);
        if (length > 8224 || at + 4 + length > stream.size()) std::abort();
        if (type == 0x0085) {
            sheetOffset = Read16(stream, at + 4) | (static_cast<std::size_t>(Read16(stream, at + 6)) << 16);
        }
        if (type == 0x0809 && at == sheetOffset && at != 0) sawWorksheetBof = true;
        at += 4 + length;
    }
    if (!sawWorksheetBof) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // First byte: column count; then cells as (kind, length, bytes).
    if (size < 1) return 0;
    TSheetData sheet;
    sheet.Name = "<明细>";
    const std::size_t columns = 1 + data[0] % 8;
    for (std::size_t c = 0; c < columns; ++c) sheet.Columns.push_back("c" + std::to_string(c));
    std::size_t at = 1;
    TSheetRow row;
    while (at + 2 <= size) {
        const std::uint8_t kind = data[at];
        std::size_t length = data[at + 1];
        at += 2;
        length = std::min(length * (kind & 0x80 ? 97 : 1), size - at);
        const std::string bytes(reinterpret_cast<const char*>(data + at), length);
        at += std::min<std::size_t>(length, data[at - 1]);
        switch (kind % 5) {
            case 0: row.emplace_back(); break;
            case 1: row.emplace_back(static_cast<std::int64_t>(length) - 50); break;
            case 2: row.emplace_back(static_cast<double>(length) / 7.0); break;
            case 3: row.emplace_back(bytes); break;
            default: row.emplace_back((length & 1) != 0);
        }
        if (row.size() == columns || at + 2 > size) {
            sheet.Rows.push_back(std::move(row));
            row.clear();
        }
    }
    try {
        CheckStream(BuildBiff8Workbook(sheet));
    } catch (const EKorvexError&) {
        // a text beyond the cell limit
    }
    return 0;
}
