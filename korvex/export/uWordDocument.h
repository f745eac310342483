#pragma once
// A word-processing document built the way an operator types it: a current
// font and alignment, typed text, paragraph breaks and tables inserted at the
// current paragraph. Saved as Office Open XML (.docx).
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace korvex {

enum class TParagraphAlignment { paLeft = 0, paCenter = 1, paRight = 2 };

struct TTextFormat {
    std::string FontName = "宋体";
    int SizePoints = 10;
};

struct TWordRun {
    std::string Text;
    TTextFormat Format;
};

struct TWordParagraph {
    TParagraphAlignment Alignment = TParagraphAlignment::paLeft;
    TTextFormat MarkFormat;  // formatting of the paragraph mark (height of an empty paragraph)
    std::vector<TWordRun> Runs;
};

struct TWordTable {
    std::size_t Rows = 0;
    std::size_t Columns = 0;
    std::vector<std::string> Cells;  // row by row
    TTextFormat Format;              // the text format where the table was inserted
    TParagraphAlignment CellAlignment = TParagraphAlignment::paLeft;
    bool Borders = false;            // all outer and inner borders
    bool Centred = false;            // table centred on the page
};

using TWordBlock = std::variant<TWordParagraph, TWordTable>;

class TWordDocument {
public:
    TWordDocument();

    // The document's title property (shown as the window caption by word processors).
    void SetTitle(const std::string& title) { FTitle = title; }
    const std::string& Title() const { return FTitle; }

    // Font and size for the text typed from now on.
    void SetFont(const std::string& name, int sizePoints);
    // Alignment of the current paragraph and of the paragraphs that follow it.
    void SetAlignment(TParagraphAlignment alignment);
    void TypeText(const std::string& text);
    // Ends the current paragraph; the new one keeps its alignment and font.
    void TypeParagraph();

    // Inserts an empty table of rows x columns before the current paragraph,
    // which must be empty (a paragraph with text is ended first). Returns the
    // table's number for the calls below; rows and columns count from 1.
    std::size_t AddTable(std::size_t rows, std::size_t columns);
    void SetCellText(std::size_t table, std::size_t row, std::size_t column, const std::string& text);
    void EnableBorders(std::size_t table);
    // Centres the table on the page and the text in all its cells.
    void CentreTable(std::size_t table);

    const std::vector<TWordBlock>& Blocks() const { return FBlocks; }

    // The WordprocessingML main part (word/document.xml).
    std::string DocumentXml() const;
    // The complete .docx file.
    std::string DocxBytes() const;

private:
    TWordParagraph& Current();
    TWordTable& Table(std::size_t table);

    std::vector<TWordBlock> FBlocks;  // the last block is always the current paragraph
    TTextFormat FFormat;
    std::string FTitle;
};

}  // namespace korvex
