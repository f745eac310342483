#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QImage>
#include <QPrinter>

#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotPrinting.h"
#include "templates/uStandardLayout.h"

using namespace korvex;

namespace {

std::unique_ptr<TBallotTemplate> Template() {
    std::vector<TCandidateInfo> list;
    for (int i = 0; i < 12; ++i) list.push_back({i + 1, "候选人" + std::to_string(i + 1), false});
    return GenerateStandardTemplateWithID(list, "打印测试", 5, 2, "20261210-101500-77AA77AA");
}

// Standard output of a shell command, or nullopt when it cannot run.
std::optional<std::string> Run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    if (!pipe) return std::nullopt;
    std::string out;
    std::array<char, 4096> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) out.append(buffer.data(), n);
    return out;
}

bool HaveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

int PdfPages(const std::string& pdf) {
    const auto info = Run("pdfinfo '" + pdf + "' 2>/dev/null");
    const std::size_t at = info ? info->find("Pages:") : std::string::npos;
    if (at == std::string::npos) return -1;
    return std::atoi(info->c_str() + at + 6);
}

class PrintingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        EnsureGuiApplication();
    }
};

}  // namespace

TEST(PrintPlacement, ScalesToNinetySixPercentOfTheLimitingSideAndCentres) {
    struct Case { int pw, ph, x, y, w, h; };
    const Case cases[] = {
        {4800, 6800, 96, 141, 4608, 6518},   // width limits
        {6800, 4800, 1771, 96, 3258, 4608},  // height limits (landscape paper)
        {2480, 3508, 49, 70, 2381, 3368},    // the page grid itself
    };
    for (const Case& c : cases) {
        const TPrintPlacement p = ComputePrintPlacement(c.pw, c.ph);
        EXPECT_EQ(p.X, c.x) << c.pw;
        EXPECT_EQ(p.Y, c.y) << c.pw;
        EXPECT_EQ(p.Width, c.w) << c.pw;
        EXPECT_EQ(p.Height, c.h) << c.pw;
    }
    EXPECT_NEAR(ComputePrintPlacement(4800, 6800).Scale, 0.96 * 4800.0 / 2480.0, 1e-12);
}

TEST_F(PrintingTest, ThreeCopiesMakeOnePdfJobOfThreeIdenticalPages) {
    if (!HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    TempFolder folder;
    const std::string pdf = folder.File("ballot.pdf");
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        PrintBallotOn(printer, *Template(), 3);
    }
    EXPECT_EQ(PdfPages(pdf), 3);
    if (!HaveTool("pdftoppm")) return;
    // The three pages render alike, and each shows the top-left corner block
    // where the placement puts it.
    ASSERT_EQ(std::system(("pdftoppm -r 50 -gray '" + pdf + "' '" + folder.File("page") + "'").c_str()), 0);
    const QImage p1(QString::fromStdString(folder.File("page-1.pgm")));
    const QImage p2(QString::fromStdString(folder.File("page-2.pgm")));
    const QImage p3(QString::fromStdString(folder.File("page-3.pgm")));
    ASSERT_FALSE(p1.isNull());
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(p1, p3);
    QPrinter geometry(QPrinter::HighResolution);
    geometry.setOutputFormat(QPrinter::PdfFormat);
    const QRect paint = geometry.pageLayout().paintRectPixels(geometry.resolution());
    const TPrintPlacement place = ComputePrintPlacement(paint.width(), paint.height());
    const double toPage = 50.0 / geometry.resolution();
    const int bx = static_cast<int>((paint.left() + place.X + 140 * place.Scale) * toPage);
    const int by = static_cast<int>((paint.top() + place.Y + 140 * place.Scale) * toPage);
    EXPECT_LT(qGray(p1.pixel(bx, by)), 60) << bx << "," << by;
    EXPECT_GT(qGray(p1.pixel(bx - 11, by)), 200);
}

TEST_F(PrintingTest, ZeroCopiesPrintOnePage) {
    if (!HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    TempFolder folder;
    const std::string pdf = folder.File("one.pdf");
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        PrintBallotOn(printer, *Template(), 0);
    }
    EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(PrintingTest, AnUnwritablePdfFailsWithAMessage) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("/nonexistent-folder/ballot.pdf");
    EXPECT_THROW(PrintBallotOn(printer, *Template(), 1), EKorvexError);
}
