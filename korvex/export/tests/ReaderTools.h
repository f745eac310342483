#pragma once
// Runs the independent readers (xlrd, python-docx, LibreOffice) the export
// tests check their files with.
#include <map>
#include <string>
#include <vector>

struct TCommandResult {
    int ExitCode = -1;
    std::string Output;  // standard output
};

// Runs argv without a shell and collects its standard output.
TCommandResult RunCommand(const std::vector<std::string>& argv);

// The system Python with the Debian reader modules.
std::string SystemPython();

// Converts file into outDir with LibreOffice (private profile, headless);
// returns LibreOffice's exit code.
int ConvertWithLibreOffice(const std::string& file, const std::string& filter, const std::string& outDir);

// A workbook as a reader saw it: the sheet names, and the first sheet's cells
// as "<kind>:<value>" with kind S (text), N (number, printed "%.15g"),
// B (boolean, 0/1), X (error) or E (empty).
struct TReadWorkbook {
    int ExitCode = -1;
    std::vector<std::string> Sheets;
    std::vector<std::vector<std::string>> Cells;
};

TReadWorkbook ReadWorkbookWithXlrd(const std::string& file);

// Through "libreoffice --convert-to csv", every sheet to its own file; text
// cells are quoted, so texts and numbers stay apart (booleans read as numbers).
TReadWorkbook ReadWorkbookWithLibreOffice(const std::string& file, const std::string& workDir);

// The first sheet's column widths in characters (the width of "0"), by column
// index: as xlrd reads them, and as LibreOffice keeps them when it saves the
// workbook again as .xlsx.
std::map<int, double> ReadColumnWidthsWithXlrd(const std::string& file);
std::map<int, double> ReadColumnWidthsWithLibreOffice(const std::string& file, const std::string& workDir);

// A .docx as python-docx reads it (see data/read_docx.py): the title and one
// line per paragraph, table, table row and table cell format, fields split.
struct TReadDocument {
    int ExitCode = -1;
    std::string Title;
    std::vector<std::vector<std::string>> Lines;

    // The lines of one kind ("P", "T", "R", "C") in document order.
    std::vector<std::vector<std::string>> Of(const std::string& kind) const;
    // The kinds of the body's paragraphs and tables in order, as "PPTP...".
    std::string Shape() const;
};

TReadDocument ReadDocumentWithPythonDocx(const std::string& file);
