// A multi-page TIFF as high-volume scanners write it (1 bit, CCITT Group 4,
// 200 dpi) of forged ballots: one queue item per page, each page read and
// counted on its own, and the same file counted again refused page by page.
#include <gtest/gtest.h>

#include <QListWidget>
#include <set>
#include <tiffio.h>

#include "ForgeBallot.h"
#include "ForgedProgramFolder.h"
#include "database/uBallotDB.h"
#include "imaging/ImageFiles.h"
#include "imaging/tests/TestTiff.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

const std::vector<std::string> kNames = {"王芳", "李伟", "张敏", "刘洋", "陈静"};
const char* const kDuplicate = "这张扫描图片已经入库，系统已阻止重复计票。";

class TiffBatch : public ForgedProgramFolder {
protected:
    void SetUp() override {
        ForgedProgramFolder::SetUp();
        MakeDatabase(kNames);
        window_ = Open();
        template_ = GenerateStandardTemplate(window_->Database().LoadCandidates(false), "业主委员会选举", 3, 0);
        SaveTemplate(*template_, home_.File("Templates/" + template_->TemplateID + ".ini"));
    }

    // The fills forged at 200 dpi, thresholded to black and white and stored
    // as the pages of one G4 file, white as zero as fax-style files have it.
    std::string ForgeG4Batch(const std::vector<forge::TBallotFill>& fills) {
        forge::TForgeOptions o;
        o.OutputFolder = home_.File("forged");
        o.Seed = 3;
        o.Dpi = 200;
        o.QuarterTurns = 0;
        o.MaxSkewDegrees = 0.5;
        o.Format = "png";
        std::vector<test::TTiffPage> pages;
        for (const forge::TForgedScan& s : forge::ForgeScans(*template_, RenderBallotBitmap(*template_), fills, o)) {
            test::TTiffPage page = test::TiffPage(LoadWorkingBitmap(o.OutputFolder + "/" + s.FileName),
                                                  test::tpBilevel, COMPRESSION_CCITTFAX4, true);
            page.Dpi = 200;
            pages.push_back(std::move(page));
        }
        const std::string file = home_.File("Scans/batch.tif");
        std::filesystem::create_directories(home_.File("Scans"));
        std::ofstream(file, std::ios::binary) << test::EncodeTiff(pages);
        return file;
    }

    void CommitItem(int index) {
        window_->QueueList()->setCurrentRow(index);
        window_->ShowCurrentItem();
        window_->CommitCurrent();
    }

    std::unique_ptr<TMainForm> window_;
    std::unique_ptr<TBallotTemplate> template_;
};

}  // namespace

TEST_F(TiffBatch, EveryPageIsABallotCountedOnce) {
    const std::vector<std::string> lines = {"OXO--", "X-O-X", "-OOX-"};
    std::vector<forge::TBallotFill> fills;
    for (const std::string& line : lines) fills.push_back(forge::ParseFillLine(line, *template_));
    const std::string batch = ForgeG4Batch(fills);

    window_->AddImageFiles({batch});
    ASSERT_EQ(window_->Items().size(), 3u);
    EXPECT_EQ(window_->QueueList()->item(1)->text().toStdString(), "0002  待识别  batch.tif（第 2/3 页）");
    EXPECT_FALSE(window_->ScanPicture().isNull()) << "the first page is shown";
    EXPECT_EQ(window_->ScanPicture().width(), LoadWorkingBitmapPage(batch, 0).Width);

    window_->RecognizeAll();
    std::set<std::string> identities;
    for (int i = 0; i < 3; ++i) {
        const TScanItem& item = *window_->Items()[static_cast<std::size_t>(i)];
        EXPECT_EQ(item.PageIndex, i);
        ASSERT_NE(item.Recognition, nullptr) << i << ": " << item.Status << " " << window_->StatusText();
        EXPECT_EQ(item.Status, "已识别") << i;
        for (std::size_t c = 0; c < kNames.size(); ++c)
            EXPECT_EQ(item.Recognition->Candidates[c].Mark, forge::IntendedMark(fills[i].Candidates[c]))
                << "page " << i + 1 << " candidate " << c;
        identities.insert(item.Recognition->ScanUID);
    }
    EXPECT_EQ(identities.size(), 3u) << "a scan identity per page";
    EXPECT_EQ(identities.count(ComputeScanUID(batch)), 0u);

    for (int i = 0; i < 3; ++i) CommitItem(i);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(window_->Items()[static_cast<std::size_t>(i)]->Status, "已入库") << i;
    EXPECT_TRUE(prompts_->errors.empty()) << prompts_->errors.front();
    EXPECT_EQ(window_->Database().GetDetailCount(), 3);

    // The same file again: every page is refused as already counted.
    window_->AddImageFiles({batch});
    window_->RecognizeAll();
    for (int i = 3; i < 6; ++i) {
        ASSERT_NE(window_->Items()[static_cast<std::size_t>(i)]->Recognition, nullptr) << i;
        CommitItem(i);
        EXPECT_NE(window_->Items()[static_cast<std::size_t>(i)]->Status, "已入库") << i;
    }
    ASSERT_EQ(prompts_->errors.size(), 3u);
    for (const std::string& e : prompts_->errors) EXPECT_EQ(e, kDuplicate);
    EXPECT_EQ(window_->Database().GetDetailCount(), 3);
}
