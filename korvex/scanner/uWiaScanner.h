#pragma once
// Batch scanning: choose a scanner, set resolution, an A4 page and scan area,
// show the scanner's settings once, then pull pages into scan_000001.bmp
// onwards until the feeder is empty, the page limit is reached, the operator
// cancels, or a later page fails (the pages before it are kept).
#include <string>
#include <vector>

#include "scanner/ScanDevice.h"

namespace korvex {

constexpr int kDefaultScanDpi = 600;
constexpr int kDefaultScanPageLimit = 200;
constexpr double kA4WidthMm = 210.0;
constexpr double kA4HeightMm = 297.0;

// The file of page i (from 1): folder + "/scan_%6.6d.bmp".
std::string ScanFileName(const std::string& folder, int page);

// How a batch ended and the files it wrote, in scanning order.
struct TScanBatch {
    enum TEnding {
        seComplete,     // the feeder ran empty, the page limit or a flatbed's one page
        seCancelled,    // the operator stopped it; the pages before stay
        seInterrupted   // a page could not be scanned or saved; the pages before stay
    };
    std::vector<std::string> Files;
    TEnding Ending = seComplete;
    int FailedPage = 0;   // seInterrupted: the page (from 1) that failed
    std::string Message;  // seInterrupted: the device's or the file system's reason
};

// Raises EKorvexError when no scanner exists, the device cannot be opened, or
// the first page fails to scan or save.
TScanBatch ScanBatch(IScanBackend& backend, IScanDialogs& dialogs, const std::string& folder, int dpi,
                     int maxPages);

// The single-page fallback: choose a device, show its settings, scan one page
// into the file. True when the file exists afterwards; never raises.
bool AcquireSingleImage(IScanBackend& backend, IScanDialogs& dialogs, const std::string& file);

// Option helpers: false / nothing when the device lacks the option or refuses.
bool SetScanOption(IScanDevice& device, const std::string& name, const TScanValue& value);
std::optional<TScanValue> GetScanOption(IScanDevice& device, const std::string& name);

// The supported value nearest to the wanted one (list or range with step).
double NearestSupportedValue(const TScanOption& option, double wanted);
// The "source" choice that names a document feeder (ADF, feeder, duplex), if any.
std::optional<std::string> FindFeederSource(const TScanOption& source);
// Whether a "source" value names a document feeder.
bool IsFeederSource(const std::string& source);
// "Color" / "Colour" when offered, else a grey choice, else nothing.
std::optional<std::string> FindColourMode(const TScanOption& mode);

}  // namespace korvex
