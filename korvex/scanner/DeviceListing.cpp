#include "scanner/DeviceListing.h"

#include <optional>

#include "model/TextUtil.h"

namespace korvex {
namespace {

std::string Number(double v) { return Format("%.10g", v); }

const char* UnitText(TScanUnit unit) {
    switch (unit) {
        case TScanUnit::Mm: return " mm";
        case TScanUnit::Dpi: return " dpi";
        case TScanUnit::Pixel: return " px";
        case TScanUnit::Bit: return " bit";
        case TScanUnit::Percent: return "%";
        case TScanUnit::Microsecond: return " µs";
        default: return "";
    }
}

std::optional<TScanOption> FindActive(const std::vector<TScanOption>& options, const std::string& name) {
    for (const TScanOption& o : options)
        if (o.Name == name && o.Active) return o;
    return std::nullopt;
}

// "75, 150, 300 dpi", "1–1200 dpi (step 1)", or the choices of a text option.
std::string ValuesText(const TScanOption& o) {
    std::string text;
    if (!o.StringList.empty()) {
        for (const std::string& s : o.StringList) text += (text.empty() ? "" : ", ") + s;
        return text;
    }
    if (!o.NumberList.empty()) {
        for (const double v : o.NumberList) text += (text.empty() ? "" : ", ") + Number(v);
        return text + UnitText(o.Unit);
    }
    if (o.Range) {
        text = Number(o.Range->Min) + "–" + Number(o.Range->Max) + UnitText(o.Unit);
        if (o.Range->Quant > 0) text += " (step " + Number(o.Range->Quant) + ")";
        return text;
    }
    return "any";
}

std::string Line(const char* label, const std::vector<TScanOption>& options, const std::string& name) {
    const auto o = FindActive(options, name);
    return std::string("  ") + label + (o ? ValuesText(*o) : std::string("none"));
}

}  // namespace

std::string DeviceTitle(const TScanDeviceInfo& device) {
    std::string title = TrimmedCopy(device.Vendor);
    const std::string model = TrimmedCopy(device.Model);
    if (!model.empty()) title += (title.empty() ? "" : " ") + model;
    if (title.empty()) title = device.Name;
    const std::string type = TrimmedCopy(device.Type);
    if (!type.empty()) title += "（" + type + "）";
    return title;
}

std::string DeviceCaption(const TScanDeviceInfo& device) { return DeviceTitle(device) + " [" + device.Name + "]"; }

std::vector<std::string> DescribeDeviceOptions(IScanDevice& device) {
    const std::vector<TScanOption> options = device.Options();
    return {
        Line("来源 / sources: ", options, "source"),
        Line("分辨率 / resolutions: ", options, "resolution"),
        Line("扫描宽度 / scan width (br-x): ", options, "br-x"),
        Line("扫描高度 / scan height (br-y): ", options, "br-y"),
        Line("纸张宽度 / page width: ", options, "page-width"),
        Line("纸张高度 / page height: ", options, "page-height"),
    };
}

}  // namespace korvex
