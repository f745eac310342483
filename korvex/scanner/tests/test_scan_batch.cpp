#include <gtest/gtest.h>

#include <filesystem>

#include "ScriptedScanner.h"
#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "scanner/uWiaScanner.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

std::vector<std::string> Names(const std::vector<std::string>& files) {
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(std::filesystem::path(f).filename().string());
    return names;
}

double Number(const std::map<std::string, TScanValue>& values, const std::string& name) {
    return std::get<double>(values.at(name));
}

}  // namespace

TEST(ScanBatch, FeederBatchEndsQuietlyWhenEmpty) {
    TempFolder dir;
    ScriptedBackend backend;
    auto device = MakeDevice({"Flatbed", "Automatic Document Feeder"});
    device->pages = {Page(), Page(), Page()};  // then the feeder is empty
    backend.toOpen.push_back(std::move(device));
    ScriptedDialogs dialogs;
    dialogs.settingsChanges = {{"resolution", 300.0}};  // the operator's choice carries to every page
    const auto files = ScanBatch(backend, dialogs, dir.File("Scans/20261210_101500"), 600, 500).Files;
    EXPECT_EQ(Names(files), (std::vector<std::string>{"scan_000001.bmp", "scan_000002.bmp", "scan_000003.bmp"}));
    for (const auto& f : files) EXPECT_EQ(LoadWorkingBitmap(f).Width, 40);
    ScriptedDevice& d = *backend.opened.at(0);
    ASSERT_EQ(d.valuesAtPage.size(), 4u);  // three pages and the empty-feeder answer
    for (const auto& v : d.valuesAtPage) {
        EXPECT_EQ(std::get<std::string>(v.at("source")), "Automatic Document Feeder");
        EXPECT_EQ(std::get<std::string>(v.at("mode")), "Color");
        EXPECT_EQ(Number(v, "resolution"), 300);
        EXPECT_EQ(Number(v, "br-x"), 210);
        EXPECT_EQ(Number(v, "br-y"), 297);
    }
    EXPECT_EQ(dialogs.selectCalls, 1);
    EXPECT_EQ(dialogs.settingsCalls, 1);
    EXPECT_EQ(dialogs.processCalls, 3);
}

TEST(ScanBatch, PageLimitAndDefaults) {
    TempFolder dir;
    ScriptedBackend backend;
    auto device = MakeDevice({"ADF Front"}, 200);
    device->pages = {Page(), Page(), Page(), Page(), Page()};
    backend.toOpen.push_back(std::move(device));
    ScriptedDialogs dialogs;
    const auto files = ScanBatch(backend, dialogs, dir.File("s"), 0, 2).Files;
    EXPECT_EQ(files.size(), 2u);
    const auto& v = backend.opened[0]->valuesAtPage.at(0);
    EXPECT_EQ(Number(v, "resolution"), 600);  // dpi below 1 means 600
    EXPECT_EQ(Number(v, "br-x"), 200);        // the device's largest area when smaller than A4
    EXPECT_EQ(Number(v, "br-y"), 200);
    EXPECT_EQ(backend.opened[0]->pages.size(), 3u);  // the rest stay in the feeder
}

TEST(ScanBatch, FlatbedScansOnePagePerCallAndReplacesFiles) {
    TempFolder dir;
    const std::string folder = dir.File("s");
    std::filesystem::create_directories(folder);
    dir.Write("s/scan_000001.bmp", "old contents");
    ScriptedBackend backend;
    auto device = MakeDevice({"Flatbed"});
    device->pages = {Page(10, 20), Page()};
    backend.toOpen.push_back(std::move(device));
    ScriptedDialogs dialogs;
    const auto files = ScanBatch(backend, dialogs, folder, 300, 0).Files;
    ASSERT_EQ(Names(files), (std::vector<std::string>{"scan_000001.bmp"}));
    EXPECT_EQ(LoadWorkingBitmap(files[0]).Height, 20);
    EXPECT_EQ(backend.opened[0]->pages.size(), 1u);
}

TEST(ScanBatch, NoImageLeadsToSinglePageFallback) {
    TempFolder dir;
    {
        ScriptedBackend backend;
        auto device = MakeDevice({"ADF"});
        device->pages = {NoImage()};
        backend.toOpen.push_back(std::move(device));
        auto fallback = MakeDevice({"Flatbed"});
        fallback->pages = {Page(7, 9)};
        backend.toOpen.push_back(std::move(fallback));
        ScriptedDialogs dialogs;
        const auto files = ScanBatch(backend, dialogs, dir.File("a"), 300, 10).Files;
        ASSERT_EQ(Names(files), (std::vector<std::string>{"scan_000001.bmp"}));
        EXPECT_EQ(LoadWorkingBitmap(files[0]).Width, 7);
        EXPECT_EQ(dialogs.selectCalls, 2);  // the fallback asks for the device again
    }
    {
        // An empty feeder at the first page, then the operator cancels the fallback.
        ScriptedBackend backend;
        backend.toOpen.push_back(MakeDevice({"ADF"}));
        backend.toOpen.push_back(MakeDevice({"ADF"}));
        ScriptedDialogs dialogs;
        dialogs.settingsAnswers = {true, false};
        EXPECT_TRUE(ScanBatch(backend, dialogs, dir.File("b"), 300, 10).Files.empty());
        EXPECT_FALSE(std::filesystem::exists(dir.File("b/scan_000001.bmp")));
    }
}

TEST(ScanBatch, NoScannerAndCancelledChoice) {
    TempFolder dir;
    ScriptedDialogs dialogs;
    ScriptedBackend none;
    none.devices.clear();
    EXPECT_THROW(ScanBatch(none, dialogs, dir.File("a"), 300, 1), EKorvexError);
    ScriptedBackend backend;
    dialogs.choices = {std::nullopt};
    EXPECT_TRUE(ScanBatch(backend, dialogs, dir.File("b"), 300, 1).Files.empty());
    EXPECT_EQ(dialogs.selectCalls, 1);  // cancelling the choice offers no fallback
}

TEST(ScanOptions, NearestSupportedValue) {
    TScanOption list;
    list.NumberList = {75, 150, 300, 600};
    TScanOption stepped;
    stepped.Range = TNumberRange{50, 1200, 25};
    TScanOption any;
    any.Range = TNumberRange{1, 1200, 0};
    const struct {
        const TScanOption* option;
        double wanted, expected;
    } cases[] = {{&list, 600, 600},  {&list, 400, 300}, {&list, 2000, 600}, {&list, 1, 75},
                 {&stepped, 610, 600}, {&stepped, 20, 50}, {&stepped, 1199, 1200}, {&stepped, 5000, 1200},
                 {&any, 333, 333},   {&any, 0, 1}};
    for (const auto& c : cases) EXPECT_EQ(NearestSupportedValue(*c.option, c.wanted), c.expected) << c.wanted;
}

TEST(ScanOptions, FeederAndModeChoices) {
    const struct {
        std::vector<std::string> choices;
        std::optional<std::string> feeder;
    } cases[] = {{{"Flatbed", "Automatic Document Feeder"}, "Automatic Document Feeder"},
                 {{"Flatbed", "ADF Duplex", "ADF Front"}, "ADF Front"},
                 {{"Flatbed", "Duplex"}, "Duplex"},
                 {{"Flatbed", "Transparency Unit"}, std::nullopt},
                 {{}, std::nullopt}};
    for (const auto& c : cases) {
        TScanOption source;
        source.StringList = c.choices;
        EXPECT_EQ(FindFeederSource(source), c.feeder);
    }
    TScanOption mode;
    mode.StringList = {"Lineart", "Gray"};
    EXPECT_EQ(FindColourMode(mode), "Gray");
    mode.StringList = {"Lineart", "Colour", "Gray"};
    EXPECT_EQ(FindColourMode(mode), "Colour");
}

TEST(ScanFiles, Naming) {
    EXPECT_EQ(ScanFileName("/x/y", 1), "/x/y/scan_000001.bmp");
    EXPECT_EQ(ScanFileName("/x/y", 123456), "/x/y/scan_123456.bmp");
}
