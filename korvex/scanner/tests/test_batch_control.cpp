// What the operator decides and sees during a batch, on scripted scanners:
// the source and paper size kept, the page counter, cancelling, and failures
// after the first page that keep the pages before them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "ScriptedScanner.h"
#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "scanner/uWiaScanner.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

std::string Source(const std::map<std::string, TScanValue>& values) {
    const auto it = values.find("source");
    return it == values.end() ? "(none)" : std::get<std::string>(it->second);
}

// A sheet-fed scanner as many feeder back ends are: the paper's length
// (page-height, Letter by default) ends the scan, whatever br-y says. With
// `pageOptionsFor`, the paper-size options are active only for that source.
struct SheetFeeder : ScriptedDevice {
    int sheets = 2;
    std::string pageOptionsFor;

    SheetFeeder() {
        TScanOption res = Option("resolution", TScanOptionType::Int, TScanUnit::Dpi);
        res.NumberList = {50, 100, 200, 300};
        options.push_back(res);
        TScanOption source = Option("source", TScanOptionType::String);
        source.StringList = {"Flatbed", "ADF Front", "ADF Duplex"};
        options.push_back(source);
        for (const char* name : {"tl-x", "tl-y", "br-x", "br-y", "page-width", "page-height"}) {
            TScanOption o = Option(name, TScanOptionType::Fixed, TScanUnit::Mm);
            o.Range = TNumberRange{0, 355.6, 0};
            options.push_back(o);
        }
        values = {{"resolution", 100.0}, {"tl-x", 0.0}, {"tl-y", 0.0}, {"br-x", 215.9}, {"br-y", 355.6},
                  {"page-width", 215.9}, {"page-height", 279.4}, {"source", std::string("Flatbed")}};
    }
    bool PageOptionsActive() const { return pageOptionsFor.empty() || Source(values) == pageOptionsFor; }
    std::vector<TScanOption> Options() override {
        std::vector<TScanOption> shown = options;
        for (TScanOption& o : shown)
            if (o.Name.rfind("page-", 0) == 0) o.Active = PageOptionsActive();
        return shown;
    }
    bool SetOption(const std::string& name, const TScanValue& value) override {
        if (name.rfind("page-", 0) == 0 && !PageOptionsActive()) return false;
        return ScriptedDevice::SetOption(name, value);
    }
    double Number(const std::string& name) const { return std::get<double>(values.at(name)); }
    TPageResult AcquirePage(const TReadProgress& progress) override {
        valuesAtPage.push_back(values);
        if (sheets-- <= 0) return TPageResult{TPageResult::psNoDocuments, {}, ""};
        if (progress) progress(1, 2);
        const double dpi = Number("resolution");
        const double widthMm = std::min(Number("br-x"), Number("page-width")) - Number("tl-x");
        const double heightMm = std::min(Number("br-y"), Number("page-height")) - Number("tl-y");
        return Page(static_cast<int>(widthMm / 25.4 * dpi), static_cast<int>(heightMm / 25.4 * dpi));
    }
};

}  // namespace

TEST(BatchControl, TheSourceTheOperatorChoseIsKeptForEveryPage) {
    const struct {
        std::optional<std::string> chosen;  // in the settings dialog; none: left as proposed
        std::string expected;
        std::size_t pages;
    } cases[] = {{std::nullopt, "ADF Front", 3}, {"ADF Duplex", "ADF Duplex", 3}, {"Flatbed", "Flatbed", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        TempFolder dir;
        ScriptedBackend backend;
        auto device = MakeDevice({"Flatbed", "ADF Front", "ADF Duplex"});
        device->pages = {Page(), Page(), Page()};
        backend.toOpen.push_back(std::move(device));
        ScriptedDialogs dialogs;
        if (c.chosen) dialogs.settingsChanges = {{"source", *c.chosen}};
        const TScanBatch batch = ScanBatch(backend, dialogs, dir.File("s"), 300, 10);
        EXPECT_EQ(batch.Files.size(), c.pages);
        EXPECT_EQ(batch.Ending, TScanBatch::seComplete);
        for (const auto& values : backend.opened[0]->valuesAtPage) EXPECT_EQ(Source(values), c.expected);
    }
}

TEST(BatchControl, PagesAreFullA4WhereThePaperLengthDefaultsShorter) {
    const struct {
        const char* what;
        std::string pageOptionsFor;
        std::map<std::string, TScanValue> settings;
    } cases[] = {
        {"paper size offered from the start", "", {}},
        {"paper size that comes with the duplex source chosen in the settings", "ADF Duplex",
         {{"source", std::string("ADF Duplex")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        ScriptedBackend backend;
        auto device = std::make_unique<SheetFeeder>();
        device->pageOptionsFor = c.pageOptionsFor;
        SheetFeeder& feeder = *device;
        backend.toOpen.push_back(std::move(device));
        ScriptedDialogs dialogs;
        dialogs.settingsChanges = c.settings;
        const TScanBatch batch = ScanBatch(backend, dialogs, dir.File("s"), 50, 10);
        ASSERT_EQ(batch.Files.size(), 2u);
        for (const std::string& file : batch.Files) {
            const TRaster page = LoadWorkingBitmap(file);
            EXPECT_EQ(page.Width, 413);   // 210 mm at 50 dpi
            EXPECT_EQ(page.Height, 584);  // 297 mm, not Letter's 279.4 mm (550)
        }
        EXPECT_EQ(feeder.Number("page-height"), 297);
        EXPECT_EQ(feeder.Number("page-width"), 210);
    }
}

TEST(BatchControl, ThePageCounterRunsBeforeAndDuringEveryPage) {
    TempFolder dir;
    ScriptedBackend backend;
    auto device = MakeDevice({"ADF"});
    device->pages = {Page(), Page()};
    backend.toOpen.push_back(std::move(device));
    ScriptedDialogs dialogs;
    std::vector<std::pair<int, std::size_t>> seen;
    dialogs.onProgress = [&](int page, std::size_t received) {
        seen.emplace_back(page, received);
        return true;
    };
    ScanBatch(backend, dialogs, dir.File("s"), 300, 10);
    const std::vector<std::pair<int, std::size_t>> expected = {{1, 0}, {1, 1000}, {1, 2000}, {2, 0},
                                                               {2, 1000}, {2, 2000}, {3, 0}};
    EXPECT_EQ(seen, expected);  // the third start finds the feeder empty
    EXPECT_EQ(dialogs.finishedCalls, 1);
}

TEST(BatchControl, CancelEndsTheBatchWithThePagesSoFar) {
    const struct {
        const char* what;
        std::size_t cancelWhenReceived;  // on page 3; 0: before it starts
        std::size_t scansStarted;
    } cases[] = {{"before the third page starts", 0, 2}, {"while the third page comes in", 1000, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        ScriptedBackend backend;
        auto device = MakeDevice({"ADF"});
        device->pages = {Page(), Page(), Page(), Page()};
        backend.toOpen.push_back(std::move(device));
        ScriptedDialogs dialogs;
        dialogs.onProgress = [&](int page, std::size_t received) {
            return !(page == 3 && received == c.cancelWhenReceived);
        };
        const TScanBatch batch = ScanBatch(backend, dialogs, dir.File("s"), 300, 10);
        EXPECT_EQ(batch.Ending, TScanBatch::seCancelled);
        ASSERT_EQ(batch.Files.size(), 2u);
        for (const std::string& f : batch.Files) EXPECT_EQ(LoadWorkingBitmap(f).Width, 40);
        EXPECT_FALSE(std::filesystem::exists(dir.File("s/scan_000003.bmp")));
        EXPECT_EQ(backend.opened[0]->valuesAtPage.size(), c.scansStarted);
        EXPECT_EQ(dialogs.selectCalls, 1) << "no single-page fallback after a cancel";
        EXPECT_EQ(dialogs.finishedCalls, 1);
    }
}

TEST(BatchControl, AFailureAfterTheFirstPageKeepsThePagesBeforeIt) {
    const struct {
        const char* what;
        int failingPage;
        bool saveFails;  // else the scanner reports the error
        const char* messagePart;
    } cases[] = {
        {"paper jam on page 2", 2, false, "Document feeder jammed"},
        {"I/O error on page 3", 3, false, "Error during device I/O"},
        {"page 3 cannot be saved", 3, true, "scan_000003.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        const std::string folder = dir.File("s");
        ScriptedBackend backend;
        auto device = MakeDevice({"ADF"});
        for (int i = 1; i <= 5; ++i)
            device->pages.push_back(i == c.failingPage && !c.saveFails
                                        ? Failure(std::string("扫描仪错误：") + c.messagePart)
                                        : Page());
        backend.toOpen.push_back(std::move(device));
        if (c.saveFails) {
            // A folder where the page's file belongs: the file cannot be written.
            std::filesystem::create_directories(folder + "/scan_000003.bmp");
            std::ofstream(folder + "/scan_000003.bmp/keep") << "x";
        }
        ScriptedDialogs dialogs;
        const TScanBatch batch = ScanBatch(backend, dialogs, folder, 300, 10);
        EXPECT_EQ(batch.Ending, TScanBatch::seInterrupted);
        EXPECT_EQ(batch.FailedPage, c.failingPage);
        EXPECT_NE(batch.Message.find(c.messagePart), std::string::npos) << batch.Message;
        ASSERT_EQ(batch.Files.size(), static_cast<std::size_t>(c.failingPage - 1));
        for (const std::string& f : batch.Files) EXPECT_EQ(LoadWorkingBitmap(f).Height, 60);
        EXPECT_EQ(backend.opened[0]->pages.size(), static_cast<std::size_t>(5 - c.failingPage));
        EXPECT_EQ(dialogs.finishedCalls, 1);
    }
}

TEST(BatchControl, AFailureOnTheFirstPageFailsTheBatch) {
    for (const bool saveFails : {false, true}) {
        SCOPED_TRACE(saveFails ? "save" : "scan");
        TempFolder dir;
        const std::string folder = dir.File("s");
        ScriptedBackend backend;
        auto device = MakeDevice({"ADF"});
        device->pages = {saveFails ? Page() : Failure("扫描仪错误：Document feeder jammed"), Page()};
        backend.toOpen.push_back(std::move(device));
        if (saveFails) {
            std::filesystem::create_directories(folder + "/scan_000001.bmp");
            std::ofstream(folder + "/scan_000001.bmp/keep") << "x";
        }
        ScriptedDialogs dialogs;
        try {
            ScanBatch(backend, dialogs, folder, 300, 10);
            ADD_FAILURE() << "no error";
        } catch (const EKorvexError& e) {
            EXPECT_NE(std::string(e.what()).find(saveFails ? "scan_000001.bmp" : "Document feeder jammed"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(dialogs.selectCalls, 1);  // no fallback after a failure
        EXPECT_EQ(dialogs.finishedCalls, 1);
    }
}
