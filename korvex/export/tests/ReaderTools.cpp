#include "ReaderTools.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

TCommandResult RunCommand(const std::vector<std::string>& argv) {
    TCommandResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
            result.Output.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    close(pipeFds[0]);
    return result;
}

std::string SystemPython() { return "/usr/bin/python3"; }

int ConvertWithLibreOffice(const std::string& file, const std::string& filter, const std::string& outDir) {
    const std::string profile = "file://" + (std::filesystem::path(outDir) / "lo-profile").string();
    return RunCommand({"soffice", "-env:UserInstallation=" + profile, "--headless", "--norestore", "--convert-to",
                       filter, "--outdir", outDir, file})
        .ExitCode;
}

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string NormaliseNumber(const std::string& text) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", std::stod(text));
    return buffer;
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// CSV with '"' quoting; a quoted field is a text cell.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, inQuotes = false, any = false;
    auto endField = [&] {
        if (quoted) {
            row.push_back("S:" + field);
        } else if (field.empty()) {
            row.push_back("E:");
        } else {
            row.push_back("N:" + NormaliseNumber(field));
        }
        field.clear();
        quoted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        any = true;
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            inQuotes = quoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n') {
            endField();
            rows.push_back(std::move(row));
            row.clear();
            any = false;
        } else if (c != '\r') {
            field += c;
        }
    }
    if (any) {
        endField();
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

TReadWorkbook ReadWorkbookWithXlrd(const std::string& file) {
    TReadWorkbook book;
    const TCommandResult run =
        RunCommand({SystemPython(), std::string(KORVEX_TEST_DATA_DIR) + "/read_xls.py", file});
    book.ExitCode = run.ExitCode;
    for (const std::string& line : SplitLines(run.Output)) {
        if (line.rfind("sheet:", 0) == 0) {
            book.Sheets.push_back(line.substr(6));
            continue;
        }
        if (book.Sheets.size() != 1) {
            continue;  // cells of later sheets
        }
        std::vector<std::string> row;
        std::size_t start = 0;
        while (true) {
            const std::size_t tab = line.find('\t', start);
            std::string cell = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            if (cell.rfind("N:", 0) == 0) {
                cell = "N:" + NormaliseNumber(cell.substr(2));
            }
            row.push_back(cell);
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        book.Cells.push_back(row);
    }
    return book;
}

TReadWorkbook ReadWorkbookWithLibreOffice(const std::string& file, const std::string& workDir) {
    TReadWorkbook book;
    const std::filesystem::path out = std::filesystem::path(workDir) / "lo-csv";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    // Separator, quote, UTF-8, -, -, -, quote all texts, -, raw values, -, -, all sheets.
    book.ExitCode = ConvertWithLibreOffice(
        file, "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,-1", out.string());
    const std::string prefix = std::filesystem::path(file).stem().string() + "-";
    std::vector<std::filesystem::path> csvFiles;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        if (entry.path().extension() == ".csv") {
            csvFiles.push_back(entry.path());
        }
    }
    std::sort(csvFiles.begin(), csvFiles.end());
    for (const auto& csv : csvFiles) {
        const std::string stem = csv.stem().string();
        book.Sheets.push_back(stem.rfind(prefix, 0) == 0 ? stem.substr(prefix.size()) : stem);
    }
    if (csvFiles.size() == 1) {
        book.Cells = ParseCsv(ReadAll(csvFiles[0]));
    }
    return book;
}

namespace {

std::map<int, double> ParseWidths(const std::string& output) {
    std::map<int, double> widths;
    for (const std::string& line : SplitLines(output)) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) {
            widths[std::stoi(line.substr(0, tab))] = std::stod(line.substr(tab + 1));
        }
    }
    return widths;
}

}  // namespace

std::map<int, double> ReadColumnWidthsWithXlrd(const std::string& file) {
    return ParseWidths(
        RunCommand({SystemPython(), std::string(KORVEX_TEST_DATA_DIR) + "/read_column_widths.py", file}).Output);
}

std::map<int, double> ReadColumnWidthsWithLibreOffice(const std::string& file, const std::string& workDir) {
    const std::filesystem::path out = std::filesystem::path(workDir) / "lo-xlsx";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    if (ConvertWithLibreOffice(file, "xlsx", out.string()) != 0) {
        return {};
    }
    const std::string xlsx = (out / (std::filesystem::path(file).stem().string() + ".xlsx")).string();
    return ParseWidths(
        RunCommand({SystemPython(), std::string(KORVEX_TEST_DATA_DIR) + "/read_column_widths.py", xlsx}).Output);
}

std::vector<std::vector<std::string>> TReadDocument::Of(const std::string& kind) const {
    std::vector<std::vector<std::string>> out;
    for (const auto& line : Lines) {
        if (!line.empty() && line[0] == kind) {
            out.push_back(line);
        }
    }
    return out;
}

std::string TReadDocument::Shape() const {
    std::string shape;
    for (const auto& line : Lines) {
        if (line[0] == "P" || line[0] == "T") {
            shape += line[0];
        }
    }
    return shape;
}

TReadDocument ReadDocumentWithPythonDocx(const std::string& file) {
    TReadDocument doc;
    const TCommandResult run =
        RunCommand({SystemPython(), std::string(KORVEX_TEST_DATA_DIR) + "/read_docx.py", file});
    doc.ExitCode = run.ExitCode;
    for (const std::string& line : SplitLines(run.Output)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (true) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        if (fields[0] == "title") {
            doc.Title = fields.size() > 1 ? fields[1] : "";
        } else {
            doc.Lines.push_back(fields);
        }
    }
    return doc;
}
