// Window actions end to end: a foreign ballot registered in the external
// template editor from the window and read through the window with it, and
// printing the standard ballot into a PDF file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QTableWidget>
#include <filesystem>

#include "ExternalBallot.h"
#include "ForgeBallot.h"
#include "ForgedProgramFolder.h"
#include "database/uBallotDB.h"
#include "templates/uBallotPrinting.h"
#include "templates/uBallotTemplate.h"
#include "ui/ExternalEditorLogic.h"
#include "ui/uExternalTemplateEditor.h"

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

class WindowActions : public ForgedProgramFolder {};

// The pages of a PDF file as Qt writes it: one "/Type /Page" object each.
int PdfPageCount(const std::string& file) {
    const std::string text = TempFolder::Read(file);
    if (text.rfind("%PDF-", 0) != 0) return -1;
    int pages = 0;
    for (std::size_t at = text.find("/Type /Page"); at != std::string::npos; at = text.find("/Type /Page", at + 1))
        if (text.compare(at, 12, "/Type /Pages") != 0) ++pages;
    return pages;
}

// The operator's drag over one image rectangle at the editor's zoom.
void DragOver(TExternalEditorForm& form, const TRect& r) {
    const double z = form.Zoom();
    const auto at = [z](int v) { return static_cast<int>(std::lround(v * z)); };
    form.MouseDown({at(r.Left), at(r.Top)}, Qt::LeftButton);
    form.MouseMove({at((r.Left + r.Right) / 2), at((r.Top + r.Bottom) / 2)});
    form.MouseUp({at(r.Right), at(r.Bottom)});
}

}  // namespace

// A ballot printed elsewhere: the operator opens its blank reference from the
// window's "新建外部模板", drags the frame and every cell, saves, and reads
// filled scans (slightly turned, mild keystone) through "全部识别" with the
// new template chosen in the list.
TEST_F(WindowActions, ForeignBallotRegisteredAndReadThroughTheWindow) {
    MakeDatabase({"周国强", "吴晓燕", "郑海波", "孙丽娟"});
    UseOCRAnswers({"冯志明|0.9"});
    auto window = Open();
    const forge::TExternalBallot ballot =
        forge::MakeExternalBallot(window->Database().LoadCandidates(false), "1", 1, "村民委员会选举选票", "EXT-FORGE");
    const std::string reference = home_.File("blank-ballot.png");
    ASSERT_TRUE(ballot.Reference.save(QString::fromStdString(reference)));

    window->WriteInSlotsCombo()->setCurrentText("1");
    window->TitleEdit()->setText("村民委员会选举选票");
    prompts_->fileAnswers = {reference};
    int tasks = 0, unfinished = 0;
    window->SetEditorRunner([&](TExternalEditorForm& form) {
        form.SetZoom(0.5);
        form.SelectTask(0);
        const TBallotTemplate& drawn = ballot.Template;  // where the forge printed the frame and cells
        DragOver(form, drawn.ExternalFrameRect);
        for (const TCandidateTemplate& c : drawn.Candidates) DragOver(form, c.MarkRect);
        for (const TWriteInTemplate& w : drawn.WriteIns) {
            DragOver(form, w.NameRect);
            DragOver(form, w.MarkRect);
        }
        tasks = ExternalTaskCount(form.Template());
        unfinished = FirstUnfinishedTask(form.Template());
        form.Save();
    });
    window->NewExternalTemplateAction();
    EXPECT_EQ(tasks, 7);  // frame, four candidates, the write-in's name and mark
    EXPECT_EQ(unfinished, -1);
    ASSERT_TRUE(prompts_->errors.empty() && prompts_->warnings.empty())
        << (prompts_->warnings.empty() ? prompts_->errors.front() : prompts_->warnings.front());
    const std::string file = window->SelectedTemplateFile();
    ASSERT_FALSE(file.empty()) << "the new template is not chosen";
    const auto registered = LoadTemplate(file);
    EXPECT_EQ(window->RecognitionTemplateCombo()->currentText().toStdString(),
              "外部：村民委员会选举选票 [" + registered->TemplateID.substr(registered->TemplateID.size() - 8) + "]");
    EXPECT_EQ(prompts_->informations.back(),
              "外部模板制作完成。以后扫描这类选票时，在“识别模板”下拉框选择它即可。\r\n" + file);
    EXPECT_TRUE(fs::exists(fs::path(file).parent_path() / "ExternalRefs" / (registered->TemplateID + "_ref.bmp")));
    for (std::size_t i = 0; i < ballot.Template.Candidates.size(); ++i) {
        const TRect& want = ballot.Template.Candidates[i].MarkRect;
        const TRect& got = registered->Candidates[i].MarkRect;
        EXPECT_LE(std::abs(got.Left - want.Left) + std::abs(got.Bottom - want.Bottom), 2) << i;
    }

    const std::vector<std::string> lines = {"OX-O", "-OXX", "XXO- | 冯志明:O", "OOOX"};
    std::vector<forge::TBallotFill> fills;
    for (const std::string& line : lines) fills.push_back(forge::ParseFillLine(line, ballot.Template));
    const std::vector<std::string> scans = Forge(ballot.Template, ballot.Reference, fills, "Scans/external", 0.01);
    window->AddImageFiles(scans);
    window->RecognizeAll();
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const TScanItem& item = *window->Items()[i];
        ASSERT_NE(item.Recognition, nullptr) << i << " " << item.Status << " " << window->StatusText();
        EXPECT_EQ(item.Recognition->TemplateID, registered->TemplateID);
        for (std::size_t c = 0; c < fills[i].Candidates.size(); ++c)
            EXPECT_EQ(item.Recognition->Candidates[c].Mark, forge::IntendedMark(fills[i].Candidates[c]))
                << lines[i] << " candidate " << c;
        EXPECT_EQ(item.Recognition->WriteIns.at(0).Mark, forge::IntendedMark(fills[i].WriteIns.at(0).Mark)) << lines[i];
    }
    EXPECT_EQ(window->Items()[2]->Recognition->WriteIns[0].Name, "冯志明");
    EXPECT_EQ(OCRCalls(), 1);

    window->QueueList()->setCurrentRow(2);
    window->ShowCurrentItem();
    EXPECT_EQ(Cell(window->Grid(), GridRow(window->Grid(), 'W', 0), 1), "冯志明");
    window->CommitCurrent();
    ASSERT_EQ(window->Items()[2]->Status, "已入库")
        << (prompts_->errors.empty() ? (prompts_->warnings.empty() ? "" : prompts_->warnings.back()) : prompts_->errors.back());
    EXPECT_EQ(window->Database().GetDetailCount(), 1);
    const auto all = window->Database().LoadCandidates(true);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all.back().Name, "冯志明");
    EXPECT_TRUE(all.back().IsWriteIn);
}

TEST_F(WindowActions, PrintsTheRequestedCopiesIntoAPdf) {
    MakeDatabase({"甲", "乙", "丙"});
    auto window = Open();
    std::vector<std::string> pdfs;
    window->SetPrinter([&](const TBallotTemplate& t, int copies) {
        pdfs.push_back(home_.File("print" + std::to_string(pdfs.size() + 1) + ".pdf"));
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdfs.back()));
        PrintBallotOn(printer, t, copies);
    });
    window->PrintBallotAction();
    EXPECT_EQ(prompts_->warnings.back(), "请先生成标准选票。");
    EXPECT_TRUE(pdfs.empty());

    window->GenerateBallotAction();
    ASSERT_NE(window->GeneratedTemplate(), nullptr);
    prompts_->inputAnswers = {std::nullopt, std::string("3")};
    window->PrintBallotAction();  // the box cancelled: one copy
    window->PrintBallotAction();
    ASSERT_EQ(pdfs.size(), 2u);
    EXPECT_EQ(PdfPageCount(pdfs[0]), 1);
    EXPECT_EQ(PdfPageCount(pdfs[1]), 3);
    EXPECT_TRUE(prompts_->errors.empty());
}
