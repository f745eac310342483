#pragma once
// What batch scanning needs of a scanner: its options by name, and one page at
// a time. TSaneBackend drives real devices; tests drive scripted ones.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/Raster.h"

namespace korvex {

struct TScanDeviceInfo {
    std::string Name;    // what Open takes, e.g. "test:0"
    std::string Vendor;
    std::string Model;
    std::string Type;
};

enum class TScanOptionType { Bool, Int, Fixed, String, Button, Group };
enum class TScanUnit { None, Pixel, Bit, Mm, Dpi, Percent, Microsecond };

struct TNumberRange {
    double Min = 0;
    double Max = 0;
    double Quant = 0;  // 0: any value in the range
};

struct TScanOption {
    std::string Name;
    std::string Title;
    TScanOptionType Type = TScanOptionType::Int;
    TScanUnit Unit = TScanUnit::None;
    bool Active = true;
    bool Settable = true;
    std::optional<TNumberRange> Range;
    std::vector<double> NumberList;
    std::vector<std::string> StringList;
};

// Numbers for Int and Fixed options, texts for String, bool for Bool.
using TScanValue = std::variant<double, std::string, bool>;

struct TPageResult {
    enum TStatus { psPage, psNoDocuments, psNoImage, psError, psCancelled };
    TStatus Status = psNoImage;
    TRaster Image;          // psPage: the page as 24-bit BGR
    std::string Message;    // psError: the device's reason
};

// Called between the chunks of a page with the bytes received so far and the
// bytes the page will have (0 when the device does not say); false cancels.
using TReadProgress = std::function<bool(std::size_t received, std::size_t expected)>;

class IScanDevice {
public:
    virtual ~IScanDevice() = default;
    virtual std::vector<TScanOption> Options() = 0;
    // Nothing when the option is missing, inactive or cannot be read.
    virtual std::optional<TScanValue> GetOption(const std::string& name) = 0;
    // False when the option is missing, inactive, read-only or the device refuses.
    virtual bool SetOption(const std::string& name, const TScanValue& value) = 0;
    // Scans one page (one sheet from a feeder), reading it in chunks and
    // reporting each to progress; psCancelled when progress says stop.
    virtual TPageResult AcquirePage(const TReadProgress& progress) = 0;
};

class IScanBackend {
public:
    virtual ~IScanBackend() = default;
    virtual std::vector<TScanDeviceInfo> ListDevices() = 0;
    // Raises EKorvexError with the device's reason when it cannot be opened.
    virtual std::unique_ptr<IScanDevice> Open(const std::string& name) = 0;
};

// The dialogs of a scan: the window shows real ones, the command line answers
// without asking.
class IScanDialogs {
public:
    virtual ~IScanDialogs() = default;
    // The chosen device, or nothing when the operator cancels.
    virtual std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>& devices) = 0;
    // The device's settings; false when the operator cancels.
    virtual bool ShowSettings(IScanDevice& device) = 0;
    // Lets the window repaint between pages.
    virtual void ProcessMessages() {}
    // During a batch, before each page and between its chunks: the page being
    // scanned (from 1), its bytes so far and expected (0: not known). Shows
    // the progress, lets the window handle its events, and answers false when
    // the operator cancels the batch.
    virtual bool ScanProgress(int /*page*/, std::size_t /*received*/, std::size_t /*expected*/) { return true; }
    // The batch has ended, however it ended.
    virtual void ScanFinished() {}
};

}  // namespace korvex
