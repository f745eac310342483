#pragma once
// Batch scanning: choose a scanner, set resolution and an A4 area, show the
// scanner's settings once, then pull pages into scan_000001.bmp onwards until
// the feeder is empty or the page limit is reached.
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

// The list of files written, in scanning order. Raises EKorvexError when no
// scanner exists, the device cannot be opened, or the first page fails.
std::vector<std::string> ScanBatch(IScanBackend& backend, IScanDialogs& dialogs, const std::string& folder, int dpi,
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
// "Color" / "Colour" when offered, else a grey choice, else nothing.
std::optional<std::string> FindColourMode(const TScanOption& mode);

}  // namespace korvex
