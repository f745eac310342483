#pragma once
// A scanner that follows a script of page results, and dialogs that answer as
// told; both record what was asked of them.
#include <deque>
#include <functional>
#include <map>

#include "scanner/ScanDevice.h"

namespace korvex::testing {

struct ScriptedDevice : IScanDevice {
    std::vector<TScanOption> options;
    std::map<std::string, TScanValue> values;
    std::deque<TPageResult> pages;                    // what each AcquirePage returns, in order
    std::vector<std::map<std::string, TScanValue>> valuesAtPage;  // option values seen by each scan
    int chunks = 2;  // progress reports while a page comes in

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
    TPageResult AcquirePage(const TReadProgress& progress) override {
        valuesAtPage.push_back(values);
        if (pages.empty()) return TPageResult{TPageResult::psNoDocuments, {}, ""};
        TPageResult r = pages.front();
        pages.pop_front();
        if (r.Status == TPageResult::psPage && progress)
            for (int c = 1; c <= chunks; ++c)
                if (!progress(1000u * static_cast<unsigned>(c), 1000u * static_cast<unsigned>(chunks)))
                    return TPageResult{TPageResult::psCancelled, {}, ""};
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
    TPageResult AcquirePage(const TReadProgress& progress) override { return d.AcquirePage(progress); }
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

// A real backend's devices with something done to a device as each scan
// starts, for example an error injected into SANE's test device.
struct HookedBackend : IScanBackend {
    struct Device : IScanDevice {
        Device(std::unique_ptr<IScanDevice> d, HookedBackend& b) : inner(std::move(d)), backend(b) {}
        std::vector<TScanOption> Options() override { return inner->Options(); }
        std::optional<TScanValue> GetOption(const std::string& n) override { return inner->GetOption(n); }
        bool SetOption(const std::string& n, const TScanValue& v) override { return inner->SetOption(n, v); }
        TPageResult AcquirePage(const TReadProgress& progress) override {
            if (backend.beforeScan) backend.beforeScan(*inner, ++scans);
            return inner->AcquirePage(progress);
        }
        std::unique_ptr<IScanDevice> inner;
        HookedBackend& backend;
        int scans = 0;
    };
    explicit HookedBackend(std::unique_ptr<IScanBackend> b) : real(std::move(b)) {}
    std::vector<TScanDeviceInfo> ListDevices() override { return real->ListDevices(); }
    std::unique_ptr<IScanDevice> Open(const std::string& name) override {
        return std::make_unique<Device>(real->Open(name), *this);
    }
    std::unique_ptr<IScanBackend> real;
    std::function<void(IScanDevice&, int scan)> beforeScan;  // scan counts from 1 per opened device
};

struct ScriptedDialogs : IScanDialogs {
    std::deque<std::optional<std::string>> choices;  // answers to SelectDevice, in order
    std::deque<bool> settingsAnswers;                // answers to ShowSettings (default: OK)
    std::map<std::string, TScanValue> settingsChanges;  // what the operator changes in the first settings dialog
    // Answers ScanProgress (page from 1, bytes so far); default: go on.
    std::function<bool(int page, std::size_t received)> onProgress;
    int selectCalls = 0;
    int settingsCalls = 0;
    int processCalls = 0;
    int finishedCalls = 0;
    int lastProgressPage = 0;

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
    bool ScanProgress(int page, std::size_t received, std::size_t) override {
        lastProgressPage = page;
        return !onProgress || onProgress(page, received);
    }
    void ScanFinished() override { ++finishedCalls; }
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
