// Batch scans through SANE's own virtual "test" and "pnm" devices, enabled by a
// private configuration folder (no system file is touched). SANE reads that
// folder once per process; every test here runs as its own process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>

#include "imaging/ImageFiles.h"
#include "model/tests/TempFolder.h"
#include "scanner/SaneBackend.h"
#include "scanner/uWiaScanner.h"

using namespace korvex;

namespace {

// Answers without asking: a fixed device, and optional option changes in the
// settings dialog.
struct FixedDialogs : IScanDialogs {
    std::string device;
    std::map<std::string, TScanValue> settings;
    bool settingsOk = true;
    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>&) override { return device; }
    bool ShowSettings(IScanDevice& d) override {
        for (const auto& [name, value] : settings) d.SetOption(name, value);
        return settingsOk;
    }
};

// SANE unloads its backends on exit; the test backend is kept loaded so that
// the leak checker can name it (its own allocations are suppressed).
void KeepTestBackendLoaded() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/sane", "/usr/lib/sane", "/usr/lib64/sane"}) {
        const std::string path = std::string(dir) + "/libsane-test.so.1";
        if (::dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE)) return;
    }
}

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
        KeepTestBackendLoaded();
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
    const auto files = ScanBatch(*backend_, dialogs, dir_.File("batch"), 50, 500);
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
    const auto files = ScanBatch(*backend_, dialogs, folder, 50, 2);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(LoadWorkingBitmap(files[0]).Width, LoadWorkingBitmap(files[1]).Width);  // the stale file was replaced
}

TEST_F(SaneDevices, ResolutionGivesA4Pixels) {
    FixedDialogs dialogs;
    dialogs.device = "test:0";
    const auto at300 = ScanBatch(*backend_, dialogs, dir_.File("a"), 300, 1);
    ASSERT_EQ(at300.size(), 1u);
    const TRaster page = LoadWorkingBitmap(at300[0]);
    EXPECT_NEAR(page.Width, 2480, 2);
    EXPECT_NEAR(page.Height, 3508, 2);
    const auto atDefault = ScanBatch(*backend_, dialogs, dir_.File("b"), 0, 1);  // 0 means 600 dpi
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
    const auto files = ScanBatch(*backend_, dialogs, dir_.File("flat"), 300, 10);
    ASSERT_EQ(files.size(), 1u);
    const TRaster page = LoadWorkingBitmap(files[0]);
    ASSERT_EQ(page.Width, 4);
    ASSERT_EQ(page.Height, 3);
    EXPECT_EQ(page.Row(2)[3 * 3 + 2], 110);  // red of the last pixel
    EXPECT_EQ(page.Row(2)[3 * 3 + 0], 250);  // blue
}
