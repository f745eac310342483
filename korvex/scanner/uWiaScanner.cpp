#include "scanner/uWiaScanner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace fs = std::filesystem;

namespace {

// Options carried from the settings dialog into every page, in the order they
// are set again: source and mode first, as they may change the others' ranges.
const char* const kRememberedOptions[] = {"source",      "mode", "depth", "resolution", "page-width",
                                          "page-height", "tl-x", "tl-y",  "br-x",       "br-y"};

std::optional<TScanOption> FindOption(IScanDevice& device, const std::string& name) {
    for (TScanOption& o : device.Options())
        if (o.Name == name && o.Active) return o;
    return std::nullopt;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    return AsciiUpper(text).find(AsciiUpper(part)) != std::string::npos;
}

using TRemembered = std::vector<std::pair<std::string, TScanValue>>;

// Sets again what the operator chose where the device no longer has it.
void Reapply(IScanDevice& device, const TRemembered& remembered) {
    for (const auto& [name, value] : remembered) {
        const auto current = GetScanOption(device, name);
        if (!current || *current != value) SetScanOption(device, name, value);
    }
}

// Tells the dialogs the batch has ended, on every way out.
struct TBatchEnd {
    IScanDialogs& Dialogs;
    ~TBatchEnd() {
        try {
            Dialogs.ScanFinished();
        } catch (...) {
        }
    }
};

// Resolution first: a geometry given in pixels depends on it.
void SetResolution(IScanDevice& device, int dpi) {
    if (const auto o = FindOption(device, "resolution"))
        SetScanOption(device, o->Name, NearestSupportedValue(*o, dpi));
}

const struct {
    const char* name;
    double mm;
} kA4Page[] = {{"page-width", kA4WidthMm}, {"page-height", kA4HeightMm}, {"tl-x", 0.0},
               {"tl-y", 0.0},              {"br-x", kA4WidthMm},         {"br-y", kA4HeightMm}};

// The page-size and area options the device has active now.
std::set<std::string> ActivePageOptions(IScanDevice& device) {
    std::set<std::string> names;
    for (const auto& e : kA4Page)
        if (FindOption(device, e.name)) names.insert(e.name);
    return names;
}

// A4 paper where the device has paper-size options (sheet-fed scanners stop
// the scan at the paper's length, often Letter by default), then the A4 area
// from the top-left corner; a device smaller than A4 gets its largest.
// Options named in `leave` keep their values.
void SetA4Page(IScanDevice& device, int dpi, const std::set<std::string>& leave = {}) {
    for (const auto& e : kA4Page) {
        if (leave.count(e.name)) continue;
        const auto o = FindOption(device, e.name);
        if (!o) continue;
        double wanted = e.mm;
        if (o->Unit == TScanUnit::Pixel) wanted = std::nearbyint(e.mm / 25.4 * dpi);
        if (o->Range) wanted = std::min(wanted, o->Range->Max);
        SetScanOption(device, o->Name, NearestSupportedValue(*o, wanted));
    }
}

void SetColourMode(IScanDevice& device) {
    if (const auto o = FindOption(device, "mode"))
        if (const auto mode = FindColourMode(*o)) SetScanOption(device, o->Name, *mode);
}

// Selects a feeder source when the device offers one.
void SelectFeeder(IScanDevice& device) {
    const auto source = FindOption(device, "source");
    if (!source) return;
    if (const auto feeder = FindFeederSource(*source)) SetScanOption(device, source->Name, *feeder);
}

void ReplaceWithPage(const TRaster& page, const std::string& file) {
    std::error_code ec;
    fs::remove(file, ec);
    SaveBitmap24(page, file);
}

}  // namespace

std::string ScanFileName(const std::string& folder, int page) {
    char name[32];
    std::snprintf(name, sizeof name, "scan_%6.6d.bmp", page);
    return (fs::path(folder) / name).string();
}

double NearestSupportedValue(const TScanOption& option, double wanted) {
    if (!option.NumberList.empty()) {
        double best = option.NumberList.front();
        for (const double v : option.NumberList)
            if (std::fabs(v - wanted) < std::fabs(best - wanted)) best = v;
        return best;
    }
    if (option.Range) {
        const TNumberRange& r = *option.Range;
        double v = std::clamp(wanted, r.Min, std::max(r.Min, r.Max));
        if (r.Quant > 0) {
            v = r.Min + std::nearbyint((v - r.Min) / r.Quant) * r.Quant;
            if (v > r.Max) v -= r.Quant;
        }
        return v;
    }
    return wanted;
}

std::optional<std::string> FindFeederSource(const TScanOption& source) {
    // A simplex feeder first; a duplex feeder also feeds sheets one by one.
    for (const std::string& choice : source.StringList)
        if (ContainsNoCase(choice, "ADF") || ContainsNoCase(choice, "feeder")) {
            if (!ContainsNoCase(choice, "duplex")) return choice;
        }
    for (const std::string& choice : source.StringList)
        if (IsFeederSource(choice)) return choice;
    return std::nullopt;
}

std::optional<std::string> FindColourMode(const TScanOption& mode) {
    for (const char* wanted : {"color", "colour", "gray", "grey"})
        for (const std::string& choice : mode.StringList)
            if (ContainsNoCase(choice, wanted)) return choice;
    return std::nullopt;
}

bool SetScanOption(IScanDevice& device, const std::string& name, const TScanValue& value) {
    try {
        return device.SetOption(name, value);
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<TScanValue> GetScanOption(IScanDevice& device, const std::string& name) {
    try {
        return device.GetOption(name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool IsFeederSource(const std::string& source) {
    return ContainsNoCase(source, "ADF") || ContainsNoCase(source, "feeder") || ContainsNoCase(source, "duplex");
}

TScanBatch ScanBatch(IScanBackend& backend, IScanDialogs& dialogs, const std::string& folder, int dpi,
                     int maxPages) {
    TScanBatch batch;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw EFileError("无法创建文件夹 \"" + folder + "\": " + ec.message());
    if (dpi < 1) dpi = kDefaultScanDpi;
    if (maxPages < 1) maxPages = kDefaultScanPageLimit;

    const std::vector<TScanDeviceInfo> devices = backend.ListDevices();
    if (devices.empty()) throw EKorvexError("没有找到可用的扫描仪。请检查扫描仪是否已连接并已安装 SANE 驱动。");
    const auto chosen = dialogs.SelectDevice(devices);
    if (!chosen || chosen->empty()) return batch;  // cancelled: no fallback

    TBatchEnd end{dialogs};
    {
        std::unique_ptr<IScanDevice> device = backend.Open(*chosen);
        SetColourMode(*device);
        SelectFeeder(*device);  // the default; the operator may choose another source
        SetResolution(*device, dpi);
        SetA4Page(*device, dpi);
        const std::set<std::string> shown = ActivePageOptions(*device);
        try {
            dialogs.ShowSettings(*device);  // cancelling keeps the values set above
        } catch (const std::exception&) {
        }
        // Another source chosen in the settings may bring paper-size options
        // the operator could not see there (a feeder's page height): A4 too.
        SetA4Page(*device, dpi, shown);
        TRemembered remembered;
        for (const char* name : kRememberedOptions)
            if (auto value = GetScanOption(*device, name)) remembered.emplace_back(name, std::move(*value));
        // The source the operator left in force decides: a feeder runs until
        // it is empty, anything else scans one page.
        const auto source = GetScanOption(*device, "source");
        const bool feeder = source && std::holds_alternative<std::string>(*source) &&
                            IsFeederSource(std::get<std::string>(*source));

        for (int page = 1; page <= maxPages; ++page) {
            if (!dialogs.ScanProgress(page, 0, 0)) {
                batch.Ending = TScanBatch::seCancelled;
                break;
            }
            Reapply(*device, remembered);
            TPageResult result;
            try {
                result = device->AcquirePage([&dialogs, page](std::size_t received, std::size_t expected) {
                    return dialogs.ScanProgress(page, received, expected);
                });
            } catch (const std::exception& e) {
                result.Status = TPageResult::psError;
                result.Message = e.what();
            }
            if (result.Status == TPageResult::psNoDocuments || result.Status == TPageResult::psNoImage) break;
            if (result.Status == TPageResult::psCancelled) {
                batch.Ending = TScanBatch::seCancelled;
                break;
            }
            const std::string file = ScanFileName(folder, page);
            try {
                if (result.Status == TPageResult::psError) throw EKorvexError(result.Message);
                ReplaceWithPage(result.Image, file);
            } catch (const std::exception& e) {
                // A later page's failure ends the batch; the pages before it stay.
                if (batch.Files.empty()) throw;
                batch.Ending = TScanBatch::seInterrupted;
                batch.FailedPage = page;
                batch.Message = e.what();
                break;
            }
            batch.Files.push_back(file);
            dialogs.ProcessMessages();
            if (!feeder) break;  // a flatbed scans one page
        }
    }

    if (batch.Files.empty() && batch.Ending == TScanBatch::seComplete) {
        const std::string file = ScanFileName(folder, 1);
        if (AcquireSingleImage(backend, dialogs, file)) batch.Files.push_back(file);
    }
    return batch;
}

bool AcquireSingleImage(IScanBackend& backend, IScanDialogs& dialogs, const std::string& file) {
    try {
        const std::vector<TScanDeviceInfo> devices = backend.ListDevices();
        if (devices.empty()) return false;
        const auto chosen = dialogs.SelectDevice(devices);
        if (!chosen || chosen->empty()) return false;
        std::unique_ptr<IScanDevice> device = backend.Open(*chosen);
        if (!dialogs.ShowSettings(*device)) return false;
        const TPageResult result = device->AcquirePage([&dialogs](std::size_t received, std::size_t expected) {
            return dialogs.ScanProgress(1, received, expected);
        });
        if (result.Status != TPageResult::psPage) return false;
        ReplaceWithPage(result.Image, file);
        return fs::exists(file);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace korvex
