#pragma once
// A program folder for window tests on forged scans: the counting database,
// an OCR stand-in answering from a list, and forged scans of a template.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTableWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ForgeRun.h"
#include "QtTestApp.h"
#include "ScriptedPrompts.h"
#include "database/NewDatabase.h"
#include "model/tests/TempFolder.h"
#include "ui/uMain.h"

namespace korvex::testing {

class ForgedProgramFolder : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        ::setenv("KORVEX_HOME", home_.Path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVEX_HOME"); }

    void MakeDatabase(const std::vector<std::string>& names) { CreateCountingDatabase(home_.File("qm.mdb"), names); }

    // The OCR command: the n-th call answers the n-th line ("name|confidence"),
    // a call past the list answers nothing (a failed reading).
    void UseOCRAnswers(const std::vector<std::string>& answers) {
        std::ofstream list(home_.File("ocr-answers"));
        for (const std::string& a : answers) list << a << "\n";
        const std::string script = home_.File("fake-ocr.sh");
        std::ofstream(script) << "#!/bin/sh\ncalls=\"" << home_.File("ocr-calls") << "\"\n"
                              << "n=$(( $(cat \"$calls\" 2>/dev/null || echo 0) + 1 ))\necho $n > \"$calls\"\n"
                              << "sed -n \"${n}p\" \"" << home_.File("ocr-answers") << "\" > \"$2\"\n";
        ::chmod(script.c_str(), 0755);
        std::ofstream(home_.File("Korvex.ini"))
            << "[OCR]\nCommand=" << script << "\nArguments={image} {output}\nTextFileExtension=.txt\n";
    }
    int OCRCalls() const {
        std::ifstream in(home_.File("ocr-calls"));
        int n = 0;
        in >> n;
        return n;
    }

    std::unique_ptr<TMainForm> Open() {
        auto prompts = std::make_unique<ScriptedPrompts>();
        prompts_ = prompts.get();
        return std::make_unique<TMainForm>(std::move(prompts));
    }

    // Upright scans at 300 dpi of the fills, in order; full paths. (At 150 dpi the
    // template code of a skewed page is not always readable.)
    std::vector<std::string> Forge(const TBallotTemplate& t, const QImage& blankPage,
                                   const std::vector<forge::TBallotFill>& fills, const std::string& folder,
                                   double perspective = 0.0) {
        forge::TForgeOptions o;
        o.OutputFolder = home_.File(folder);
        o.Seed = 11;
        o.Dpi = 300;
        o.QuarterTurns = 0;
        o.Perspective = perspective;
        o.Format = "png";
        std::vector<std::string> files;
        for (const forge::TForgedScan& s : forge::ForgeScans(t, blankPage, fills, o))
            files.push_back((std::filesystem::path(o.OutputFolder) / s.FileName).string());
        return files;
    }

    static std::string Cell(QTableWidget* grid, int row, int column) {
        const QTableWidgetItem* item = grid->item(row, column);
        return item ? item->text().toStdString() : std::string();
    }
    // The grid row showing the candidate ("C") or write-in ("W") at a position; -1 when hidden.
    static int GridRow(QTableWidget* grid, char kind, int position) {
        for (int r = 0; r < grid->rowCount(); ++r)
            if (Cell(grid, r, 4) == std::string(1, kind) && Cell(grid, r, 5) == std::to_string(position)) return r;
        return -1;
    }

    TempFolder home_;
    ScriptedPrompts* prompts_ = nullptr;
};

}  // namespace korvex::testing
