#pragma once
// A scanner that follows a script of page results, and dialogs that answer as
// told; both record what was asked of them.
#include <deque>
#include <map>

#include "scanner/ScanDevice.h"

namespace korvex::testing {

struct ScriptedDevice : IScanDevice {
    std::vector<TScanOption> options;
    std::map<std::string, TScanValue> values;
    std::deque<TPageResult> pages;                    // what each AcquirePage returns, in order
    std::vector<std::map<std::string, TScanValue>> valuesAtPage;  // option values seen by each scan

    std::vector<TScanOption> Options() override { return options; }
    std::optional<TScanValue> GetOption(const std::string& name) override {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    bool SetOption(const std::string& name, const TScanValue& value) override {
        for (const TScanOption& o : options)
            if (o.Name == name) {
                values[name] = value;
                return true;
            }
        return false;
    }
    TPageResult AcquirePage() override {
        valuesAtPage.push_back(values);
        if (pages.empty()) return TPageResult{TPageResult::psNoDocuments, {}, ""};
        TPageResult r = pages.front();
        pages.pop_front();
        return r;
    }
};

// What Open hands out: a view of a device the backend keeps, so a test can
// inspect it after the scan has closed it.
struct DeviceView : IScanDevice {
    explicit DeviceView(ScriptedDevice& device) : d(device) {}
    std::vector<TScanOption> Options() override { return d.Options(); }
    std::optional<TScanValue> GetOption(const std::string& n) override { return d.GetOption(n); }
    bool SetOption(const std::string& n, const TScanValue& v) override { return d.SetOption(n, v); }
    TPageResult AcquirePage() override { return d.AcquirePage(); }
    ScriptedDevice& d;
};

// Hands out the scripted devices in order, one per Open.
struct ScriptedBackend : IScanBackend {
    std::vector<TScanDeviceInfo> devices{{"scripted:0", "Test", "Scripted", "virtual"}};
    std::deque<std::unique_ptr<ScriptedDevice>> toOpen;
    std::vector<std::unique_ptr<ScriptedDevice>> opened;

    std::vector<TScanDeviceInfo> ListDevices() override { return devices; }
    std::unique_ptr<IScanDevice> Open(const std::string&) override {
        opened.push_back(std::move(toOpen.front()));
        toOpen.pop_front();
        return std::make_unique<DeviceView>(*opened.back());
    }
};

struct ScriptedDialogs : IScanDialogs {
    std::deque<std::optional<std::string>> choices;  // answers to SelectDevice, in order
    std::deque<bool> settingsAnswers;                // answers to ShowSettings (default: OK)
    std::map<std::string, TScanValue> settingsChanges;  // what the operator changes in the first settings dialog
    int selectCalls = 0;
    int settingsCalls = 0;
    int processCalls = 0;

    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>&) override {
        ++selectCalls;
        if (choices.empty()) return std::string("scripted:0");
        auto c = choices.front();
        choices.pop_front();
        return c;
    }
    bool ShowSettings(IScanDevice& device) override {
        if (settingsCalls++ == 0)
            for (const auto& [name, value] : settingsChanges) device.SetOption(name, value);
        if (settingsAnswers.empty()) return true;
        const bool answer = settingsAnswers.front();
        settingsAnswers.pop_front();
        return answer;
    }
    void ProcessMessages() override { ++processCalls; }
};

inline TPageResult Page(int width = 40, int height = 60, std::uint8_t shade = 200) {
    TPageResult r;
    r.Status = TPageResult::psPage;
    r.Image = TRaster(width, height, shade);
    return r;
}
inline TPageResult Failure(const std::string& message) { return TPageResult{TPageResult::psError, {}, message}; }
inline TPageResult NoImage() { return TPageResult{TPageResult::psNoImage, {}, ""}; }

// A device shaped like a document scanner: resolution list, mm geometry up to
// the given size, colour and grey modes, and the given source choices.
inline TScanOption Option(const std::string& name, TScanOptionType type, TScanUnit unit = TScanUnit::None) {
    TScanOption o;
    o.Name = o.Title = name;
    o.Type = type;
    o.Unit = unit;
    return o;
}

inline std::unique_ptr<ScriptedDevice> MakeDevice(std::vector<std::string> sources, double maxMm = 300) {
    auto d = std::make_unique<ScriptedDevice>();
    TScanOption res = Option("resolution", TScanOptionType::Int, TScanUnit::Dpi);
    res.NumberList = {75, 150, 300, 600, 1200};
    d->options.push_back(res);
    for (const char* edge : {"tl-x", "tl-y", "br-x", "br-y"}) {
        TScanOption o = Option(edge, TScanOptionType::Fixed, TScanUnit::Mm);
        o.Range = TNumberRange{0, maxMm, 0};
        d->options.push_back(o);
    }
    TScanOption mode = Option("mode", TScanOptionType::String);
    mode.StringList = {"Lineart", "Gray", "Color"};
    d->options.push_back(mode);
    if (!sources.empty()) {
        TScanOption source = Option("source", TScanOptionType::String);
        source.StringList = std::move(sources);
        d->options.push_back(source);
    }
    return d;
}

}  // namespace korvex::testing
