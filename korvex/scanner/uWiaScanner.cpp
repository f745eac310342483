#include "scanner/uWiaScanner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {
namespace fs = std::filesystem;

namespace {

// Options carried from the settings dialog into every page.
const char* const kRememberedOptions[] = {"resolution", "tl-x", "tl-y", "br-x", "br-y", "mode"};

std::optional<TScanOption> FindOption(IScanDevice& device, const std::string& name) {
    for (TScanOption& o : device.Options())
        if (o.Name == name && o.Active) return o;
    return std::nullopt;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    return AsciiUpper(text).find(AsciiUpper(part)) != std::string::npos;
}

// Resolution first: a geometry given in pixels depends on it.
void SetResolution(IScanDevice& device, int dpi) {
    if (const auto o = FindOption(device, "resolution"))
        SetScanOption(device, o->Name, NearestSupportedValue(*o, dpi));
}

// The A4 area from the top-left corner, or the device's largest area when smaller.
void SetA4Area(IScanDevice& device, int dpi) {
    const struct {
        const char* name;
        double mm;
    } edges[] = {{"tl-x", 0.0}, {"tl-y", 0.0}, {"br-x", kA4WidthMm}, {"br-y", kA4HeightMm}};
    for (const auto& e : edges) {
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
std::optional<std::string> SelectFeeder(IScanDevice& device) {
    const auto source = FindOption(device, "source");
    if (!source) return std::nullopt;
    const auto feeder = FindFeederSource(*source);
    if (feeder && SetScanOption(device, source->Name, *feeder)) return feeder;
    return std::nullopt;
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
        if (ContainsNoCase(choice, "ADF") || ContainsNoCase(choice, "feeder") || ContainsNoCase(choice, "duplex"))
            return choice;
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

std::vector<std::string> ScanBatch(IScanBackend& backend, IScanDialogs& dialogs, const std::string& folder, int dpi,
                                   int maxPages) {
    std::vector<std::string> files;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw EFileError("无法创建文件夹 \"" + folder + "\": " + ec.message());
    if (dpi < 1) dpi = kDefaultScanDpi;
    if (maxPages < 1) maxPages = kDefaultScanPageLimit;

    const std::vector<TScanDeviceInfo> devices = backend.ListDevices();
    if (devices.empty()) throw EKorvexError("没有找到可用的扫描仪。请检查扫描仪是否已连接并已安装 SANE 驱动。");
    const auto chosen = dialogs.SelectDevice(devices);
    if (!chosen || chosen->empty()) return files;  // cancelled: no fallback

    {
        std::unique_ptr<IScanDevice> device = backend.Open(*chosen);
        SetColourMode(*device);
        const std::optional<std::string> feeder = SelectFeeder(*device);
        SetResolution(*device, dpi);
        SetA4Area(*device, dpi);
        try {
            dialogs.ShowSettings(*device);  // cancelling keeps the values set above
        } catch (const std::exception&) {
        }
        std::vector<std::pair<std::string, TScanValue>> remembered;
        for (const char* name : kRememberedOptions)
            if (auto value = GetScanOption(*device, name)) remembered.emplace_back(name, std::move(*value));

        for (int page = 0; page < maxPages;) {
            if (feeder) SetScanOption(*device, "source", *feeder);
            for (const auto& [name, value] : remembered) SetScanOption(*device, name, value);
            TPageResult result;
            try {
                result = device->AcquirePage();
            } catch (const std::exception& e) {
                result.Status = TPageResult::psError;
                result.Message = e.what();
            }
            if (result.Status == TPageResult::psNoDocuments || result.Status == TPageResult::psNoImage) break;
            if (result.Status == TPageResult::psError) {
                if (!files.empty()) break;  // later errors end the batch; its pages stay
                throw EKorvexError(result.Message);
            }
            const std::string file = ScanFileName(folder, ++page);
            ReplaceWithPage(result.Image, file);
            files.push_back(file);
            dialogs.ProcessMessages();
            if (!feeder) break;  // a flatbed scans one page
        }
    }

    if (files.empty()) {
        const std::string file = ScanFileName(folder, 1);
        if (AcquireSingleImage(backend, dialogs, file)) files.push_back(file);
    }
    return files;
}

bool AcquireSingleImage(IScanBackend& backend, IScanDialogs& dialogs, const std::string& file) {
    try {
        const std::vector<TScanDeviceInfo> devices = backend.ListDevices();
        if (devices.empty()) return false;
        const auto chosen = dialogs.SelectDevice(devices);
        if (!chosen || chosen->empty()) return false;
        std::unique_ptr<IScanDevice> device = backend.Open(*chosen);
        if (!dialogs.ShowSettings(*device)) return false;
        const TPageResult result = device->AcquirePage();
        if (result.Status != TPageResult::psPage) return false;
        ReplaceWithPage(result.Image, file);
        return fs::exists(file);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace korvex
