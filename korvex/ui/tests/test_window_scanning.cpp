// "WIA批量扫描" through SANE's virtual test device: the progress window's page
// counter and cancel button, and what the operator is told when a page after
// the first fails. Pages at 50 dpi keep the batches quick.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "QtTestApp.h"
#include "ScriptedPrompts.h"
#include "model/tests/TempFolder.h"
#include "scanner/SaneBackend.h"
#include "scanner/tests/SaneTestBackend.h"
#include "scanner/tests/ScriptedScanner.h"
#include "ui/ScanDialogs.h"
#include "ui/ScanProgress.h"
#include "ui/uMain.h"

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

// The window's own dialogs, with the device chosen and 50 dpi set in the
// settings as an operator would; the progress window is the real one.
struct OperatorDialogs : TQtScanDialogs {
    OperatorDialogs() : TQtScanDialogs(nullptr) {}
    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>&) override { return "test:0"; }
    bool ShowSettings(IScanDevice& device) override { return device.SetOption("resolution", 50.0); }
    bool ScanProgress(int page, std::size_t received, std::size_t expected) override {
        if (onPage) onPage(page, received);
        return TQtScanDialogs::ScanProgress(page, received, expected);
    }
    std::function<void(int page, std::size_t received)> onPage;
};

class WindowScanning : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        ::setenv("KORVEX_HOME", home_.Path().c_str(), 1);
        const std::string conf = home_.File("sane");
        fs::create_directories(conf);
        std::ofstream(conf + "/dll.conf") << "test\n";
        std::ofstream(conf + "/test.conf") << "number_of_devices 1\nmode Color\ndepth 8\nresolution 300\n"
                                              "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
                                              "scan-source \"Automatic Document Feeder\"\ntest-picture \"Grid\"\n";
        ::setenv("SANE_CONFIG_DIR", conf.c_str(), 1);
        KeepTestBackendLoaded();
        auto prompts = std::make_unique<ScriptedPrompts>();
        prompts_ = prompts.get();
        window_ = std::make_unique<TMainForm>(std::move(prompts));
        prompts_->errors.clear();  // no counting database here: scanning needs none
    }
    void TearDown() override { ::unsetenv("KORVEX_HOME"); }

    // The batch folder the scan writes into (the only one under Scans).
    std::string BatchFolder() const {
        for (const auto& entry : fs::directory_iterator(home_.File("Scans"))) return entry.path().string();
        return "";
    }

    TempFolder home_;
    ScriptedPrompts* prompts_ = nullptr;
    std::unique_ptr<TMainForm> window_;
};

}  // namespace

TEST_F(WindowScanning, TheCancelButtonEndsTheBatchWithThePagesSoFar) {
    auto dialogs = std::make_unique<OperatorDialogs>();
    OperatorDialogs& d = *dialogs;
    std::string shownAtPage3;
    bool progressWhileScanning = false;
    d.onPage = [&](int page, std::size_t received) {
        if (!d.Progress()) return;
        progressWhileScanning = d.Progress()->isVisible();
        if (page == 3 && received > 0 && shownAtPage3.empty()) {
            // What the window says as page 3 comes in; the operator stops the batch.
            shownAtPage3 = d.Progress()->Text()->text().toStdString();
            d.Progress()->CancelButton()->click();
        }
    };
    window_->SetScanner(std::make_unique<TSaneBackend>(), std::move(dialogs));
    window_->ScanAndRecognize();
    EXPECT_TRUE(progressWhileScanning);
    EXPECT_EQ(shownAtPage3, "正在扫描第 3 页……（已完成 2 页）");
    ASSERT_EQ(window_->Items().size(), 2u) << (prompts_->errors.empty() ? "" : prompts_->errors.back());
    for (const auto& item : window_->Items()) EXPECT_NE(item->Status, "待识别");  // recognised (and refused: a test pattern)
    EXPECT_EQ(window_->StatusText(), "WIA扫描已取消，共取得 2 张图片。");
    EXPECT_TRUE(prompts_->errors.empty());
    EXPECT_FALSE(fs::exists(BatchFolder() + "/scan_000003.bmp"));
    EXPECT_EQ(d.Progress(), nullptr) << "the progress window goes with the batch";
}

TEST_F(WindowScanning, AJamAfterTheFirstPageIsShownWithThePageItStoppedAt) {
    auto backend = std::make_unique<HookedBackend>(std::make_unique<TSaneBackend>());
    backend->beforeScan = [](IScanDevice& device, int scan) {
        if (scan == 2) device.SetOption("read-return-value", std::string("SANE_STATUS_JAMMED"));
    };
    window_->SetScanner(std::move(backend), std::make_unique<OperatorDialogs>());
    window_->ScanAndRecognize();
    ASSERT_EQ(window_->Items().size(), 1u);
    EXPECT_NE(window_->Items()[0]->Status, "待识别");
    ASSERT_EQ(prompts_->errors.size(), 1u);
    EXPECT_EQ(prompts_->errors[0], "WIA扫描失败：第 2 页：扫描仪错误：Document feeder jammed\r\n"
                                   "此前扫描的 1 张图片已保存并加入扫描队列。");
    EXPECT_EQ(window_->StatusText(), "WIA扫描在第 2 页中断，共取得 1 张图片。");
}

TEST_F(WindowScanning, ASaveFailureOnPageThreeKeepsPagesOneAndTwoAndSaysSo) {
    auto dialogs = std::make_unique<OperatorDialogs>();
    dialogs->onPage = [this](int page, std::size_t received) {
        if (page != 3 || received != 0) return;
        // The disk refuses page 3: a folder stands where its file belongs.
        const std::string blocked = BatchFolder() + "/scan_000003.bmp";
        fs::create_directories(blocked);
        std::ofstream(blocked + "/keep") << "x";
    };
    window_->SetScanner(std::make_unique<TSaneBackend>(), std::move(dialogs));
    window_->ScanAndRecognize();
    ASSERT_EQ(window_->Items().size(), 2u);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(fs::exists(window_->Items()[static_cast<std::size_t>(i)]->FileName));
    ASSERT_EQ(prompts_->errors.size(), 1u);
    const std::string& e = prompts_->errors[0];
    EXPECT_EQ(e.rfind("WIA扫描失败：第 3 页：无法创建图像文件", 0), 0u) << e;
    EXPECT_NE(e.find("scan_000003.bmp"), std::string::npos) << e;
    EXPECT_NE(e.find("\r\n此前扫描的 2 张图片已保存并加入扫描队列。"), std::string::npos) << e;
    EXPECT_EQ(window_->StatusText(), "WIA扫描在第 3 页中断，共取得 2 张图片。");
}
