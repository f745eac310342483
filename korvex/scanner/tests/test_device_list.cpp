// The device list as SANE gives it, through a scripted SANE library, and the
// names and option summaries the operator sees.
#include <gtest/gtest.h>

#include "ScriptedScanner.h"
#include "model/Errors.h"
#include "scanner/DeviceListing.h"
#include "scanner/SaneApi.h"
#include "scanner/SaneBackend.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

// A SANE library that knows a network and a driverless scanner and records
// how it was asked for its devices.
struct TScriptedSane {
    static inline int getDevicesCalls = 0;
    static inline SANE_Bool lastLocalOnly = SANE_TRUE;
    static inline int exits = 0;

    static SANE_Status Init(SANE_Int* version, SANE_Auth_Callback) {
        *version = SANE_VERSION_CODE(1, 0, 0);
        return SANE_STATUS_GOOD;
    }
    static void Exit() { ++exits; }
    static SANE_Status GetDevices(const SANE_Device*** list, SANE_Bool localOnly) {
        static const SANE_Device airscan{"airscan:e0:HP LaserJet MFP M28w", "HP", "LaserJet MFP M28w",
                                         "eSCL network scanner"};
        static const SANE_Device net{"net:192.168.1.20:fujitsu:fi-7160:1234", "FUJITSU", "fi-7160", "scanner"};
        static const SANE_Device* devices[] = {&airscan, &net, nullptr};
        ++getDevicesCalls;
        lastLocalOnly = localOnly;
        *list = devices;
        return SANE_STATUS_GOOD;
    }
    static SANE_Status Open(SANE_String_Const, SANE_Handle*) { return SANE_STATUS_INVAL; }
    static void Close(SANE_Handle) {}
    static const SANE_Option_Descriptor* Descriptor(SANE_Handle, SANE_Int) { return nullptr; }
    static SANE_Status Control(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*) { return SANE_STATUS_INVAL; }
    static SANE_Status Parameters(SANE_Handle, SANE_Parameters*) { return SANE_STATUS_INVAL; }
    static SANE_Status Start(SANE_Handle) { return SANE_STATUS_INVAL; }
    static SANE_Status Read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*) { return SANE_STATUS_INVAL; }
    static void Cancel(SANE_Handle) {}
    static SANE_String_Const Text(SANE_Status) { return "Invalid argument"; }

    static const TSaneApi& Api() {
        static const TSaneApi api{&Init,  &Exit, &GetDevices, &Open,   &Close, &Descriptor, &Control,
                                  &Parameters, &Start, &Read,       &Cancel, &Text};
        return api;
    }
};

}  // namespace

TEST(DeviceList, AsksSaneForEveryDeviceNotOnlyLocalOnes) {
    std::vector<TScanDeviceInfo> devices;
    {
        TSaneBackend backend(TScriptedSane::Api());
        devices = backend.ListDevices();
        EXPECT_THROW(backend.Open("gone:0"), EKorvexError);
    }
    EXPECT_EQ(TScriptedSane::getDevicesCalls, 1);
    EXPECT_EQ(TScriptedSane::lastLocalOnly, SANE_FALSE);
    EXPECT_EQ(TScriptedSane::exits, 1);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].Name, "airscan:e0:HP LaserJet MFP M28w");
    EXPECT_EQ(devices[1].Vendor, "FUJITSU");
    EXPECT_EQ(devices[1].Model, "fi-7160");
    EXPECT_EQ(devices[1].Type, "scanner");
    EXPECT_EQ(DeviceCaption(devices[0]), "HP LaserJet MFP M28w（eSCL network scanner） [airscan:e0:HP LaserJet MFP M28w]");
}

TEST(DeviceList, TitlesLeaveOutWhatADeviceDoesNotSay) {
    const struct {
        TScanDeviceInfo device;
        const char* title;
    } cases[] = {{{"test:0", "Noname", "frontend-tester", "virtual device"}, "Noname frontend-tester（virtual device）"},
                 {{"pnm:0", "", "", "virtual device"}, "pnm:0（virtual device）"},
                 {{"x:1", " Canon ", "LiDE 400", ""}, "Canon LiDE 400"}};
    for (const auto& c : cases) EXPECT_EQ(DeviceTitle(c.device), c.title);
}

TEST(DeviceList, OptionSummaryNamesSourcesResolutionsAndPaperLimits) {
    auto device = MakeDevice({"Flatbed", "ADF Duplex"}, 215.9);
    TScanOption height = Option("page-height", TScanOptionType::Fixed, TScanUnit::Mm);
    height.Range = TNumberRange{0, 355.6, 0.1};
    device->options.push_back(height);
    const std::vector<std::string> lines = DescribeDeviceOptions(*device);
    const std::vector<std::string> expected = {
        "  来源 / sources: Flatbed, ADF Duplex",
        "  分辨率 / resolutions: 75, 150, 300, 600, 1200 dpi",
        "  扫描宽度 / scan width (br-x): 0–215.9 mm",
        "  扫描高度 / scan height (br-y): 0–215.9 mm",
        "  纸张宽度 / page width: none",
        "  纸张高度 / page height: 0–355.6 mm (step 0.1)",
    };
    EXPECT_EQ(lines, expected);
}
