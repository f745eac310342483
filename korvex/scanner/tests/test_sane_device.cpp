// Batch scans through SANE's own virtual "test" and "pnm" devices, enabled by a
// private configuration folder (no system file is touched). SANE reads that
// folder once per process; every test here runs as its own process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "imaging/ImageFiles.h"
#include "model/tests/TempFolder.h"
#include "SaneTestBackend.h"
#include "ScriptedScanner.h"
#include "scanner/SaneBackend.h"
#include "scanner/uWiaScanner.h"

using namespace korvex;

namespace {

// Answers without asking: a fixed device, optional option changes in the
// settings dialog, and the progress answered by `onProgress` (default: go on).
struct FixedDialogs : IScanDialogs {
    std::string device;
    std::map<std::string, TScanValue> settings;
    bool settingsOk = true;
    std::function<bool(int page, std::size_t received, std::size_t expected)> onProgress;
    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>&) override { return device; }
    bool ShowSettings(IScanDevice& d) override {
        for (const auto& [name, value] : settings) d.SetOption(name, value);
        return settingsOk;
    }
    bool ScanProgress(int page, std::size_t received, std::size_t expected) override {
        return !onProgress || onProgress(page, received, expected);
    }
};

class SaneDevices : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string conf = dir_.File("sane");
        std::filesystem::create_directories(conf);
        std::ofstream(conf + "/dll.conf") << "test\npnm\n";
        std::ofstream(conf + "/test.conf") << "number_of_devices 2\nmode Color\ndepth 8\nresolution 300\n"
                                              "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
                                              "tl_x 0.0\ntl_y 0.0\nbr_x 210.0\nbr_y 297.0\n"
                                              "scan-source \"Automatic Document Feeder\"\n"
                                              "test-picture \"Grid\"\n";
        ::setenv("SANE_CONFIG_DIR", conf.c_str(), 1);
        korvex::testing::KeepTestBackendLoaded();
        backend_ = std::make_unique<TSaneBackend>();
    }
    TempFolder dir_;
    std::unique_ptr<TSaneBackend> backend_;
};

}  // namespace

TEST_F(SaneDevices, ListsTheTestDevices) {
    std::vector<std::string> names;
    for (const auto& d : backend_->ListDevices()) names.push_back(d.Name);
    EXPECT_NE(std::find(names.begin(), names.end(), "test:0"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "test:1"), names.end());
}

TEST_F(SaneDevices, FeederBatchRunsUntilTheFeederIsEmpty) {
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    // The test device's feeder holds ten sheets; 50 dpi keeps the pages small.
    const auto files = ScanBatch(*backend_, dialogs, dir_.File("batch"), 50, 500).Files;
    ASSERT_EQ(files.size(), 10u);
    EXPECT_EQ(std::filesystem::path(files.front()).filename(), "scan_000001.bmp");
    EXPECT_EQ(std::filesystem::path(files.back()).filename(), "scan_000010.bmp");
    const TRaster page = LoadWorkingBitmap(files.back());
    EXPECT_NEAR(page.Width, 413, 2);   // A4 at 50 dpi
    EXPECT_NEAR(page.Height, 584, 2);
}

TEST_F(SaneDevices, PageLimitAndReplacedFile) {
    FixedDialogs dialogs;
    dialogs.device = "test:1";
    const std::string folder = dir_.File("batch");
    std::filesystem::create_directories(folder);
    dir_.Write("batch/scan_000001.bmp", "stale");
    const auto files = ScanBatch(*backend_, dialogs, folder, 50, 2).Files;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(LoadWorkingBitmap(files[0]).Width, LoadWorkingBitmap(files[1]).Width);  // the stale file was replaced
}

TEST_F(SaneDevices, ResolutionGivesA4Pixels) {
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    const auto at300 = ScanBatch(*backend_, dialogs, dir_.File("a"), 300, 1).Files;
    ASSERT_EQ(at300.size(), 1u);
    const TRaster page = LoadWorkingBitmap(at300[0]);
    EXPECT_NEAR(page.Width, 2480, 2);
    EXPECT_NEAR(page.Height, 3508, 2);
    const auto atDefault = ScanBatch(*backend_, dialogs, dir_.File("b"), 0, 1).Files;  // 0 means 600 dpi
    ASSERT_EQ(atDefault.size(), 1u);
    const TRaster big = LoadWorkingBitmap(atDefault[0]);
    EXPECT_NEAR(big.Width, 4960, 2);
    EXPECT_NEAR(big.Height, 7015, 2);
}

TEST_F(SaneDevices, FlatbedDeviceGivesOnePage) {
    // The pnm device has no feeder: it returns the picture file it is given.
    const std::string pnm = dir_.File("page.pnm");
    {
        std::ofstream out(pnm, std::ios::binary);
        out << "P6\n4 3\n255\n";
        for (int i = 0; i < 12; ++i) out << static_cast<char>(10 * i) << static_cast<char>(100) << static_cast<char>(250);
    }
    FixedDialogs dialogs;
    dialogs.device = "pnm:0";
    dialogs.settings = {{"filename", pnm}};
    const auto files = ScanBatch(*backend_, dialogs, dir_.File("flat"), 300, 10).Files;
    ASSERT_EQ(files.size(), 1u);
    const TRaster page = LoadWorkingBitmap(files[0]);
    ASSERT_EQ(page.Width, 4);
    ASSERT_EQ(page.Height, 3);
    EXPECT_EQ(page.Row(2)[3 * 3 + 2], 110);  // red of the last pixel
    EXPECT_EQ(page.Row(2)[3 * 3 + 0], 250);  // blue
}

TEST_F(SaneDevices, TheChosenSourceStays) {
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    dialogs.settings = {{"source", std::string("Flatbed")}};  // the feeder is proposed, the operator takes the flatbed
    const TScanBatch batch = ScanBatch(*backend_, dialogs, dir_.File("flat"), 50, 10);
    EXPECT_EQ(batch.Files.size(), 1u) << "a flatbed gives one page, the feeder would give ten";
    // The device keeps its options between openings: the source was never put back to the feeder.
    const auto device = backend_->Open("test:0");
    EXPECT_EQ(std::get<std::string>(*device->GetOption("source")), "Flatbed");
}

TEST_F(SaneDevices, CancelAfterTheSecondPageKeepsTwoPages) {
    for (const std::size_t cancelAfter : {std::size_t{0}, std::size_t{1}}) {
        SCOPED_TRACE(cancelAfter == 0 ? "before page 3" : "during page 3");
        FixedDialogs dialogs;
        dialogs.device = "test:0";
        // During page 3: after its first chunk has come in (a cancel right at
        // the start of a transfer can hang SANE's test device).
        dialogs.onProgress = [&](int page, std::size_t received, std::size_t) {
            return !(page == 3 && (cancelAfter == 0 || received > 0));
        };
        const std::string folder = dir_.File(cancelAfter == 0 ? "a" : "b");
        const TScanBatch batch = ScanBatch(*backend_, dialogs, folder, 50, 10);
        EXPECT_EQ(batch.Ending, TScanBatch::seCancelled);
        ASSERT_EQ(batch.Files.size(), 2u);
        for (const std::string& f : batch.Files) EXPECT_NEAR(LoadWorkingBitmap(f).Height, 584, 2);
        EXPECT_FALSE(std::filesystem::exists(folder + "/scan_000003.bmp"));
    }
}

TEST_F(SaneDevices, AnErrorAfterTheFirstPageIsReportedWithThePagesKept) {
    const struct {
        const char* status;
        int page;
        const char* message;
    } cases[] = {{"SANE_STATUS_JAMMED", 2, "扫描仪错误：Document feeder jammed"},
                 {"SANE_STATUS_IO_ERROR", 3, "扫描仪错误：Error during device I/O"}};
    backend_.reset();  // one SANE at a time: each case starts its own
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        korvex::testing::HookedBackend hooked(std::make_unique<TSaneBackend>());
        hooked.beforeScan = [&](IScanDevice& device, int scan) {
            if (scan == c.page) {
                EXPECT_TRUE(device.SetOption("read-return-value", std::string(c.status)));
            }
        };
        FixedDialogs dialogs;
        dialogs.device = "test:1";
        const TScanBatch batch = ScanBatch(hooked, dialogs, dir_.File(c.status), 50, 10);
        EXPECT_EQ(batch.Ending, TScanBatch::seInterrupted);
        EXPECT_EQ(batch.FailedPage, c.page);
        EXPECT_EQ(batch.Message, c.message);
        EXPECT_EQ(batch.Files.size(), static_cast<std::size_t>(c.page - 1));
        for (const std::string& f : batch.Files) EXPECT_TRUE(std::filesystem::exists(f));
    }
}

TEST_F(SaneDevices, ASaveFailureOnPageThreeKeepsPagesOneAndTwo) {
    const std::string folder = dir_.File("batch");
    std::filesystem::create_directories(folder + "/scan_000003.bmp");  // a folder where page 3 belongs
    std::ofstream(folder + "/scan_000003.bmp/keep") << "x";
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    const TScanBatch batch = ScanBatch(*backend_, dialogs, folder, 50, 10);
    EXPECT_EQ(batch.Ending, TScanBatch::seInterrupted);
    EXPECT_EQ(batch.FailedPage, 3);
    EXPECT_NE(batch.Message.find("scan_000003.bmp"), std::string::npos) << batch.Message;
    ASSERT_EQ(batch.Files.size(), 2u);
    for (const std::string& f : batch.Files) EXPECT_NEAR(LoadWorkingBitmap(f).Width, 413, 2);
}

TEST_F(SaneDevices, PagesComeInChunksWithProgressBetweenThem) {
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    std::vector<std::size_t> received;
    std::size_t expected = 0;
    dialogs.onProgress = [&](int page, std::size_t r, std::size_t e) {
        if (page == 1 && r > 0) {
            received.push_back(r);
            expected = e;
        }
        return true;
    };
    const TScanBatch batch = ScanBatch(*backend_, dialogs, dir_.File("b"), 100, 1);
    ASSERT_EQ(batch.Files.size(), 1u);
    const TRaster page = LoadWorkingBitmap(batch.Files[0]);
    EXPECT_EQ(expected, static_cast<std::size_t>(page.Width) * 3 * static_cast<std::size_t>(page.Height));
    ASSERT_GT(received.size(), 20u) << "A4 colour at 100 dpi is about 2.9 MB, read 64 kB at a time";
    EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
    EXPECT_EQ(received.back(), expected);
}
