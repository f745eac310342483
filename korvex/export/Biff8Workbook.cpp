// The BIFF8 Workbook stream: workbook globals (fonts, formats, the sheet
// directory, the shared string table) followed by one worksheet substream.
#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "export/Biff8Stream.h"
#include "export/Utf16.h"
#include "export/uExcelWorkbook.h"
#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

enum : std::uint16_t {
    rtBOF = 0x0809,
    rtEOF = 0x000A,
    rtInterfaceHdr = 0x00E1,
    rtMms = 0x00C1,
    rtInterfaceEnd = 0x00E2,
    rtCodePage = 0x0042,
    rtDSF = 0x0161,
    rtWindow1 = 0x003D,
    rtDate1904 = 0x0022,
    rtFont = 0x0031,
    rtXF = 0x00E0,
    rtStyle = 0x0293,
    rtBoundSheet8 = 0x0085,
    rtSST = 0x00FC,
    rtContinue = 0x003C,
    rtExtSST = 0x00FF,
    rtDefColWidth = 0x0055,
    rtColInfo = 0x007D,
    rtDimensions = 0x0200,
    rtRow = 0x0208,
    rtNumber = 0x0203,
    rtLabelSst = 0x00FD,
    rtBoolErr = 0x0205,
    rtWindow2 = 0x023E,
};

constexpr std::uint16_t kCellXF = 15;         // the default cell format, "General"
constexpr std::uint16_t kUnicodeCodePage = 1200;
constexpr std::size_t kRowsPerBlock = 32;

TBiffBuffer BofPayload(std::uint16_t substreamType) {
    TBiffBuffer p;
    p.U16(0x0600);  // BIFF8
    p.U16(substreamType);
    p.U16(0x0DBB);  // build
    p.U16(0x07CC);  // year
    p.U32(0x00000000);
    p.U32(0x00000006);  // lowest version that can read the file
    return p;
}

void Simple16(TBiffBuffer& out, std::uint16_t type, std::uint16_t value) {
    TBiffBuffer p;
    p.U16(value);
    AppendRecord(out, type, p);
}

void AppendFont(TBiffBuffer& out) {
    const std::u16string name = u"宋体";
    TBiffBuffer p;
    p.U16(240);     // 12 pt in twentieths of a point
    p.U16(0);       // attributes
    p.U16(0x7FFF);  // automatic colour
    p.U16(400);     // normal weight
    p.U16(0);       // no super/subscript
    p.U8(0);        // no underline
    p.U8(0);        // family
    p.U8(134);      // GB2312 character set
    p.U8(0);
    p.U8(static_cast<std::uint8_t>(name.size()));
    p.U8(1);  // 16-bit characters
    p.Utf16(name, 0, name.size());
    AppendRecord(out, rtFont, p);
}

void AppendXF(TBiffBuffer& out, std::uint16_t font, bool isStyle) {
    TBiffBuffer p;
    p.U16(font);
    p.U16(0);                          // number format "General"
    p.U16(isStyle ? 0xFFF5 : 0x0001);  // locked; style XFs have no parent
    p.U8(0x20);                        // general horizontal, bottom vertical alignment
    p.U8(0);
    p.U8(0);
    p.U8(isStyle && font != 0 ? 0xF4 : 0x00);
    p.U32(0);  // no borders
    p.U32(0);
    p.U16(0x20C0);  // default pattern colours
    AppendRecord(out, rtXF, p);
}

// Workbook globals up to (not including) the sheet directory.
TBiffBuffer GlobalsHead() {
    TBiffBuffer out;
    AppendRecord(out, rtBOF, BofPayload(0x0005));
    Simple16(out, rtInterfaceHdr, kUnicodeCodePage);
    Simple16(out, rtMms, 0);
    AppendRecord(out, rtInterfaceEnd, TBiffBuffer());
    Simple16(out, rtCodePage, kUnicodeCodePage);
    Simple16(out, rtDSF, 0);
    TBiffBuffer window;
    window.U16(0x0000);
    window.U16(0x0000);
    window.U16(0x25BC);  // window width and height in twips
    window.U16(0x1572);
    window.U16(0x0038);  // horizontal and vertical scroll bars, sheet tabs
    window.U16(0);       // active sheet
    window.U16(0);       // first visible tab
    window.U16(1);       // selected tabs
    window.U16(600);     // tab bar width ratio
    AppendRecord(out, rtWindow1, window);
    Simple16(out, rtDate1904, 0);
    // Font index 4 does not exist in the format, so four fonts fill 0..3.
    for (int i = 0; i < 4; ++i) {
        AppendFont(out);
    }
    // Fifteen style formats, then the cell format every cell uses.
    for (std::uint16_t i = 0; i < 15; ++i) {
        AppendXF(out, i == 0 ? 0 : 1, true);
    }
    AppendXF(out, 0, false);
    TBiffBuffer style;
    style.U16(0x8000);  // built-in style on XF 0
    style.U8(0);        // "Normal"
    style.U8(0xFF);
    AppendRecord(out, rtStyle, style);
    return out;
}

TBiffBuffer BoundSheet(std::uint32_t sheetOffset, const std::u16string& name) {
    TBiffBuffer p;
    p.U32(sheetOffset);
    p.U8(0);  // visible
    p.U8(0);  // worksheet
    p.U8(static_cast<std::uint8_t>(name.size()));
    p.U8(1);
    p.Utf16(name, 0, name.size());
    TBiffBuffer out;
    AppendRecord(out, rtBoundSheet8, p);
    return out;
}

// The shared string table: every distinct text once; cells refer to it by index.
class TSharedStrings {
public:
    std::uint32_t Add(const std::u16string& text) {
        ++FReferences;
        const auto [it, added] = FIndex.try_emplace(text, static_cast<std::uint32_t>(FTexts.size()));
        if (added) {
            FTexts.push_back(&it->first);
        }
        return it->second;
    }

    // SST with its CONTINUE records and the EXTSST lookup table; streamOffset
    // is where the SST record starts in the stream.
    TBiffBuffer Records(std::size_t streamOffset) const {
        const std::size_t perBucket = std::max<std::size_t>(8, (FTexts.size() + 127) / 128);
        struct TBucket {
            std::uint32_t Position;
            std::uint16_t InRecord;
        };
        std::vector<TBucket> buckets;

        TBiffBuffer out;
        TBiffBuffer record;
        record.U32(FReferences);
        record.U32(static_cast<std::uint32_t>(FTexts.size()));
        std::uint16_t recordType = rtSST;
        auto flush = [&] {
            AppendRecord(out, recordType, record);
            record = TBiffBuffer();
            recordType = rtContinue;
        };
        for (std::size_t s = 0; s < FTexts.size(); ++s) {
            const std::u16string& text = *FTexts[s];
            // The length and flags never split from the first character.
            if (record.Size() + 3 + (text.empty() ? 0 : 2) > kMaxRecordPayload) {
                flush();
            }
            if (s % perBucket == 0) {
                buckets.push_back({static_cast<std::uint32_t>(streamOffset + out.Size() + 4 + record.Size()),
                                   static_cast<std::uint16_t>(4 + record.Size())});
            }
            record.U16(static_cast<std::uint16_t>(text.size()));
            record.U8(0x01);  // 16-bit characters
            std::size_t done = 0;
            while (done < text.size()) {
                std::size_t fit = std::min((kMaxRecordPayload - record.Size()) / 2, text.size() - done);
                // Keep a surrogate pair in one record.
                if (fit > 0 && done + fit < text.size() && text[done + fit - 1] >= 0xD800 &&
                    text[done + fit - 1] <= 0xDBFF) {
                    --fit;
                }
                if (fit == 0) {
                    flush();
                    record.U8(0x01);  // a continued text repeats its flags
                    continue;
                }
                record.Utf16(text, done, fit);
                done += fit;
            }
        }
        flush();

        TBiffBuffer ext;
        ext.U16(static_cast<std::uint16_t>(perBucket));
        for (const TBucket& b : buckets) {
            ext.U32(b.Position);
            ext.U16(b.InRecord);
            ext.U16(0);
        }
        AppendRecord(out, rtExtSST, ext);
        return out;
    }

private:
    std::unordered_map<std::u16string, std::uint32_t> FIndex;
    std::vector<const std::u16string*> FTexts;  // keys of FIndex in order of first use
    std::uint32_t FReferences = 0;
};

std::u16string CellText(const std::string& utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    if (text.size() > kMaxCellTextLength) {
        throw EKorvexError(Format("单元格文字过长（%zu 个字符），Excel 97-2003 工作表最多容纳 %zu 个字符。",
                                  text.size(), kMaxCellTextLength));
    }
    return text;
}

void CellHead(TBiffBuffer& p, std::size_t row, std::size_t col) {
    p.U16(static_cast<std::uint16_t>(row));
    p.U16(static_cast<std::uint16_t>(col));
    p.U16(kCellXF);
}

void AppendNumber(TBiffBuffer& out, std::size_t row, std::size_t col, double value) {
    TBiffBuffer p;
    CellHead(p, row, col);
    if (std::isfinite(value)) {
        p.F64(value);
        AppendRecord(out, rtNumber, p);
    } else {
        p.U8(0x24);  // #NUM!
        p.U8(1);
        AppendRecord(out, rtBoolErr, p);
    }
}

// One cell record, or nothing for an empty cell.
void AppendCell(TBiffBuffer& out, TSharedStrings& strings, std::size_t row, std::size_t col,
                const TCellValue& value) {
    TBiffBuffer p;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        AppendNumber(out, row, col, static_cast<double>(*i));
    } else if (const auto* d = std::get_if<double>(&value)) {
        AppendNumber(out, row, col, *d);
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        CellHead(p, row, col);
        p.U32(strings.Add(CellText(*s)));
        AppendRecord(out, rtLabelSst, p);
    } else if (const auto* b = std::get_if<bool>(&value)) {
        CellHead(p, row, col);
        p.U8(*b ? 1 : 0);
        p.U8(0);
        AppendRecord(out, rtBoolErr, p);
    }
}

bool IsEmpty(const TCellValue& v) { return std::holds_alternative<std::monostate>(v); }

// Characters a cell shows: a text's (East Asian wide characters counting two
// widths of "0"), a number as General formats it, TRUE or FALSE.
std::size_t ShownWidth(const TCellValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        return DisplayWidth(*s);
    }
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*i).size();
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return Format("%.10g", *d).size();
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        return *b ? 4 : 5;
    }
    return 0;
}

// One COLINFO per column, wide enough for its header and its widest cell (in
// 1/256 of the width of "0" in the default font), within Excel's limits.
void AppendColumnWidths(TBiffBuffer& out, const TSheetData& sheet) {
    constexpr std::size_t kMinChars = 8;
    constexpr std::size_t kMaxChars = 100;
    constexpr std::size_t kPaddingChars = 2;
    Simple16(out, rtDefColWidth, kMinChars);
    std::vector<std::size_t> widths(sheet.Columns.size(), 0);
    for (std::size_t c = 0; c < sheet.Columns.size(); ++c) {
        widths[c] = DisplayWidth(sheet.Columns[c]);
    }
    for (const TSheetRow& row : sheet.Rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], ShownWidth(row[c]));
        }
    }
    for (std::size_t c = 0; c < widths.size(); ++c) {
        const std::size_t chars = std::clamp(widths[c] + kPaddingChars, kMinChars, kMaxChars);
        TBiffBuffer p;
        p.U16(static_cast<std::uint16_t>(c));  // first and last column
        p.U16(static_cast<std::uint16_t>(c));
        p.U16(static_cast<std::uint16_t>(chars * 256));
        p.U16(kCellXF);
        p.U16(0x0002);  // width set by the writer, not the default
        p.U16(0);
        AppendRecord(out, rtColInfo, p);
    }
}

// The worksheet substream; the texts it uses are added to strings.
TBiffBuffer Worksheet(const TSheetData& sheet, TSharedStrings& strings) {
    TSheetRow header;
    for (const std::string& name : sheet.Columns) {
        header.emplace_back(name);
    }
    const std::size_t columns = sheet.Columns.size();
    TBiffBuffer out;
    AppendRecord(out, rtBOF, BofPayload(0x0010));
    AppendColumnWidths(out, sheet);
    TBiffBuffer dims;
    const std::size_t rowCount = columns == 0 ? 0 : sheet.Rows.size() + 1;
    dims.U32(0);
    dims.U32(static_cast<std::uint32_t>(rowCount));
    dims.U16(0);
    dims.U16(static_cast<std::uint16_t>(columns));
    dims.U16(0);
    AppendRecord(out, rtDimensions, dims);

    auto rowAt = [&](std::size_t r) -> const TSheetRow& { return r == 0 ? header : sheet.Rows[r - 1]; };
    for (std::size_t first = 0; first < rowCount; first += kRowsPerBlock) {
        const std::size_t last = std::min(rowCount, first + kRowsPerBlock);
        for (std::size_t r = first; r < last; ++r) {
            const TSheetRow& cells = rowAt(r);
            std::size_t lo = cells.size(), hi = 0;
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (!IsEmpty(cells[c])) {
                    lo = std::min(lo, c);
                    hi = c + 1;
                }
            }
            if (hi == 0) {
                continue;
            }
            TBiffBuffer p;
            p.U16(static_cast<std::uint16_t>(r));
            p.U16(static_cast<std::uint16_t>(lo));
            p.U16(static_cast<std::uint16_t>(hi));
            p.U16(0x00FF);  // default height
            p.U16(0);
            p.U16(0);
            p.U32(0x000F0100);
            AppendRecord(out, rtRow, p);
        }
        for (std::size_t r = first; r < last; ++r) {
            const TSheetRow& cells = rowAt(r);
            for (std::size_t c = 0; c < cells.size(); ++c) {
                AppendCell(out, strings, r, c, cells[c]);
            }
        }
    }

    TBiffBuffer window;
    window.U16(0x06B6);  // grid, headers, zeros, outline symbols, selected, shown
    window.U16(0);
    window.U16(0);
    window.U16(0x0040);  // automatic grid colour
    window.U16(0);
    window.U16(0);
    window.U16(0);
    window.U16(0);
    window.U16(0);
    AppendRecord(out, rtWindow2, window);
    AppendRecord(out, rtEOF, TBiffBuffer());
    return out;
}

void CheckLimits(const TSheetData& sheet) {
    if (sheet.Columns.size() > kMaxSheetColumns) {
        throw EKorvexError(Format("结果有 %zu 列，Excel 97-2003 工作表最多容纳 %zu 列。", sheet.Columns.size(),
                                  kMaxSheetColumns));
    }
    if (sheet.Rows.size() + 1 > kMaxSheetRows) {
        throw EKorvexError(Format("结果有 %zu 行，Excel 97-2003 工作表最多容纳 %zu 行（含标题行）。",
                                  sheet.Rows.size(), kMaxSheetRows));
    }
    for (const TSheetRow& row : sheet.Rows) {
        if (row.size() > sheet.Columns.size()) {
            throw EKorvexError(Format("工作表的一行有 %zu 个单元格，但只有 %zu 列。", row.size(),
                                      sheet.Columns.size()));
        }
    }
}

}  // namespace

std::string WorkbookSheetName(std::string_view requested) {
    if (requested.size() >= 2 && requested.front() == '<' && requested.back() == '>') {
        requested = requested.substr(1, requested.size() - 2);
    }
    std::string name;
    std::size_t units = 0;
    for (std::size_t i = 0; i < requested.size();) {
        std::size_t length = 1;
        const unsigned char lead = static_cast<unsigned char>(requested[i]);
        if (lead >= 0xC0) {
            length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        }
        length = std::min(length, requested.size() - i);
        const std::string_view ch = requested.substr(i, length);
        const std::size_t chUnits = Utf16Length(ch);
        if (units + chUnits > 31) {
            break;
        }
        units += chUnits;
        name += (ch.size() == 1 && std::string_view("[]:*?/\\").find(ch[0]) != std::string_view::npos)
                    ? std::string_view("_")
                    : ch;
        i += length;
    }
    return name.empty() ? "Sheet1" : name;
}

std::string BuildBiff8Workbook(const TSheetData& sheet) {
    CheckLimits(sheet);
    const std::u16string sheetName = Utf8ToUtf16(WorkbookSheetName(sheet.Name));
    TSharedStrings strings;
    const TBiffBuffer worksheet = Worksheet(sheet, strings);
    const TBiffBuffer head = GlobalsHead();
    const std::size_t directorySize = BoundSheet(0, sheetName).Size();
    TBiffBuffer tail = strings.Records(head.Size() + directorySize);
    AppendRecord(tail, rtEOF, TBiffBuffer());
    const std::size_t sheetOffset = head.Size() + directorySize + tail.Size();

    std::string stream = head.Bytes();
    stream += BoundSheet(static_cast<std::uint32_t>(sheetOffset), sheetName).Bytes();
    stream += tail.Bytes();
    stream += worksheet.Bytes();
    return stream;
}

}  // namespace korvex
