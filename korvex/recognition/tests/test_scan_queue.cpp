#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/tests/TestImages.h"
#include "imaging/tests/TestTiff.h"
#include "recognition/ScanQueue.h"

using namespace korvex;

namespace {

TRecognitionOutcome Success(bool needReview, const std::string& id) {
    TRecognitionOutcome o;
    o.Success = true;
    o.Template = std::make_unique<TBallotTemplate>();
    o.Template->TemplateID = id;
    o.Recognition = std::make_unique<TBallotRecognition>();
    o.Recognition->NeedReview = needReview;
    return o;
}

}  // namespace

TEST(ScanQueue, ItemLifeAndStatuses) {
    auto item = NewScanItem("scans/../scans/a.bmp");
    EXPECT_TRUE(std::filesystem::path(item->FileName).is_absolute());
    EXPECT_EQ(std::filesystem::path(item->FileName).filename(), "a.bmp");
    EXPECT_EQ(item->FileName.find(".."), std::string::npos);
    EXPECT_EQ(item->Status, "待识别");

    ApplyRecognitionOutcome(*item, Success(false, "first"));
    EXPECT_EQ(item->Status, "已识别");
    ApplyRecognitionOutcome(*item, Success(true, "second"));
    EXPECT_EQ(item->Status, "待复核");
    EXPECT_EQ(item->Template->TemplateID, "second");

    TRecognitionOutcome failed;
    failed.ErrorText = "检查图片：扫描图片不存在。";
    ApplyRecognitionOutcome(*item, std::move(failed));
    EXPECT_EQ(item->Status, "识别失败");
    ASSERT_NE(item->Template, nullptr);  // the old result stays visible
    EXPECT_EQ(item->Template->TemplateID, "second");

    item->Status = "已入库";
    EXPECT_TRUE(item->IsCommitted());
}

TEST(ScanQueue, ListLines) {
    TScanItem item;
    item.FileName = "/data/Scans/20261210_101500/scan_000001.bmp";
    EXPECT_EQ(QueueLine(1, item), "0001  待识别  scan_000001.bmp");
    EXPECT_EQ(QueueLine(9999, item), "9999  待识别  scan_000001.bmp");
    EXPECT_EQ(QueueLine(10000, item), "10000  待识别  scan_000001.bmp");
}

TEST(ScanQueue, OneItemPerPageOfAMultiPageFile) {
    test::TTempDir dir;
    const TRaster page = test::MakeTestPicture(20, 10);
    test::WriteFile(dir.File("batch.tif"), test::EncodeTiff({test::TiffPage(page, test::tpRgb8),
                                                             test::TiffPage(page, test::tpGrey8),
                                                             test::TiffPage(page, test::tpBilevel)}));
    test::WriteFile(dir.File("one.tif"), test::EncodeTiff({test::TiffPage(page, test::tpRgb8)}));
    test::WriteFile(dir.File("broken.tif"), std::string("II*\0garbage", 11));
    const struct {
        const char* file;
        std::vector<std::string> lines;
    } cases[] = {
        {"batch.tif",
         {"0001  待识别  batch.tif（第 1/3 页）", "0002  待识别  batch.tif（第 2/3 页）",
          "0003  待识别  batch.tif（第 3/3 页）"}},
        {"one.tif", {"0001  待识别  one.tif"}},
        {"broken.tif", {"0001  待识别  broken.tif"}},  // refused with the reason when recognised
        {"missing.png", {"0001  待识别  missing.png"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto items = NewScanItems(dir.File(c.file));
        ASSERT_EQ(items.size(), c.lines.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i]->PageIndex, static_cast<int>(i));
            EXPECT_TRUE(std::filesystem::path(items[i]->FileName).is_absolute());
            EXPECT_EQ(QueueLine(1 + static_cast<int>(i), *items[i]), c.lines[i]);
        }
    }
}
