#include "export/uWordDocument.h"

#include "export/XmlText.h"
#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

// A4 portrait with the usual margins, in twentieths of a point.
constexpr int kPageWidth = 11906;
constexpr int kPageHeight = 16838;
constexpr int kMarginTopBottom = 1440;
constexpr int kMarginLeftRight = 1800;
constexpr int kTextWidth = kPageWidth - 2 * kMarginLeftRight;

const char* AlignmentValue(TParagraphAlignment a) {
    switch (a) {
        case TParagraphAlignment::paCenter:
            return "center";
        case TParagraphAlignment::paRight:
            return "right";
        case TParagraphAlignment::paLeft:
            break;
    }
    return "left";
}

std::string RunProperties(const TTextFormat& f) {
    const std::string font = XmlAttribute(f.FontName);
    return "<w:rPr><w:rFonts w:ascii=\"" + font + "\" w:hAnsi=\"" + font + "\" w:eastAsia=\"" + font +
           "\" w:cs=\"" + font + "\"/><w:sz w:val=\"" + std::to_string(f.SizePoints * 2) +
           "\"/><w:szCs w:val=\"" + std::to_string(f.SizePoints * 2) + "\"/></w:rPr>";
}

std::string ParagraphXml(const TWordParagraph& p) {
    std::string xml = "<w:p><w:pPr><w:jc w:val=\"" + std::string(AlignmentValue(p.Alignment)) + "\"/>" +
                      RunProperties(p.MarkFormat) + "</w:pPr>";
    for (const TWordRun& run : p.Runs) {
        xml += "<w:r>" + RunProperties(run.Format) + XmlRunText(run.Text) + "</w:r>";
    }
    return xml + "</w:p>";
}

std::string TableXml(const TWordTable& t) {
    const int columnWidth = kTextWidth / static_cast<int>(t.Columns);
    std::string xml = "<w:tbl><w:tblPr><w:tblW w:w=\"" + std::to_string(columnWidth * t.Columns) +
                      "\" w:type=\"dxa\"/>";
    if (t.Centred) {
        xml += "<w:jc w:val=\"center\"/>";
    }
    if (t.Borders) {
        xml += "<w:tblBorders>";
        for (const char* side : {"top", "left", "bottom", "right", "insideH", "insideV"}) {
            xml += std::string("<w:") + side + " w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>";
        }
        xml += "</w:tblBorders>";
    }
    xml += "<w:tblLayout w:type=\"fixed\"/><w:tblLook w:val=\"0000\"/></w:tblPr><w:tblGrid>";
    for (std::size_t c = 0; c < t.Columns; ++c) {
        xml += "<w:gridCol w:w=\"" + std::to_string(columnWidth) + "\"/>";
    }
    xml += "</w:tblGrid>";
    for (std::size_t r = 0; r < t.Rows; ++r) {
        xml += "<w:tr>";
        for (std::size_t c = 0; c < t.Columns; ++c) {
            TWordParagraph cell{t.CellAlignment, t.Format, {}};
            if (const std::string& text = t.Cells[r * t.Columns + c]; !text.empty()) {
                cell.Runs.push_back({text, t.Format});
            }
            xml += "<w:tc><w:tcPr><w:tcW w:w=\"" + std::to_string(columnWidth) + "\" w:type=\"dxa\"/></w:tcPr>" +
                   ParagraphXml(cell) + "</w:tc>";
        }
        xml += "</w:tr>";
    }
    return xml + "</w:tbl>";
}

}  // namespace

TWordDocument::TWordDocument() { FBlocks.emplace_back(TWordParagraph{TParagraphAlignment::paLeft, FFormat, {}}); }

TWordParagraph& TWordDocument::Current() { return std::get<TWordParagraph>(FBlocks.back()); }

TWordTable& TWordDocument::Table(std::size_t table) {
    if (table >= FBlocks.size() || !std::holds_alternative<TWordTable>(FBlocks[table])) {
        throw EKorvexError(Format("文档中没有第 %zu 个块的表格。", table));
    }
    return std::get<TWordTable>(FBlocks[table]);
}

void TWordDocument::SetFont(const std::string& name, int sizePoints) {
    FFormat = {name, sizePoints};
    if (Current().Runs.empty()) {
        Current().MarkFormat = FFormat;
    }
}

void TWordDocument::SetAlignment(TParagraphAlignment alignment) { Current().Alignment = alignment; }

void TWordDocument::TypeText(const std::string& text) {
    TWordParagraph& p = Current();
    p.Runs.push_back({text, FFormat});
    p.MarkFormat = FFormat;
}

void TWordDocument::TypeParagraph() {
    const TParagraphAlignment alignment = Current().Alignment;
    FBlocks.emplace_back(TWordParagraph{alignment, FFormat, {}});
}

std::size_t TWordDocument::AddTable(std::size_t rows, std::size_t columns) {
    if (rows == 0 || columns == 0 || rows > 32767 || columns > 63) {
        throw EKorvexError(Format("无法插入 %zu 行 %zu 列的表格。", rows, columns));
    }
    if (!Current().Runs.empty()) {
        TypeParagraph();
    }
    TWordTable table;
    table.Rows = rows;
    table.Columns = columns;
    table.Cells.assign(rows * columns, std::string());
    table.Format = FFormat;
    table.CellAlignment = Current().Alignment;
    FBlocks.insert(FBlocks.end() - 1, std::move(table));
    return FBlocks.size() - 2;
}

void TWordDocument::SetCellText(std::size_t table, std::size_t row, std::size_t column, const std::string& text) {
    TWordTable& t = Table(table);
    if (row < 1 || row > t.Rows || column < 1 || column > t.Columns) {
        throw EKorvexError(Format("表格中没有第 %zu 行第 %zu 列的单元格。", row, column));
    }
    t.Cells[(row - 1) * t.Columns + (column - 1)] = text;
}

void TWordDocument::EnableBorders(std::size_t table) { Table(table).Borders = true; }

void TWordDocument::CentreTable(std::size_t table) {
    TWordTable& t = Table(table);
    t.Centred = true;
    t.CellAlignment = TParagraphAlignment::paCenter;
}

std::string TWordDocument::DocumentXml() const {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><w:body>";
    for (const TWordBlock& block : FBlocks) {
        xml += std::holds_alternative<TWordParagraph>(block) ? ParagraphXml(std::get<TWordParagraph>(block))
                                                             : TableXml(std::get<TWordTable>(block));
    }
    xml += "<w:sectPr><w:pgSz w:w=\"" + std::to_string(kPageWidth) + "\" w:h=\"" + std::to_string(kPageHeight) +
           "\"/><w:pgMar w:top=\"" + std::to_string(kMarginTopBottom) + "\" w:right=\"" +
           std::to_string(kMarginLeftRight) + "\" w:bottom=\"" + std::to_string(kMarginTopBottom) +
           "\" w:left=\"" + std::to_string(kMarginLeftRight) +
           "\" w:header=\"851\" w:footer=\"992\" w:gutter=\"0\"/></w:sectPr></w:body></w:document>";
    return xml;
}

}  // namespace korvex
