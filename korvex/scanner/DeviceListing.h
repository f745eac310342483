#pragma once
// How scanners are named to the operator, and the options an operator looks
// for when choosing one (sources, resolutions, page size), as text lines.
#include <string>
#include <vector>

#include "scanner/ScanDevice.h"

namespace korvex {

// Vendor, model and type: "HP LaserJet MFP M28w（eSCL network scanner）".
// Empty parts are left out; a device without any is named by its SANE name.
std::string DeviceTitle(const TScanDeviceInfo& device);
// The title and the name SANE opens it by: "… [airscan:e0:HP LaserJet]".
std::string DeviceCaption(const TScanDeviceInfo& device);

// One line each: sources, resolutions, scan area and page-size limits.
std::vector<std::string> DescribeDeviceOptions(IScanDevice& device);

}  // namespace korvex
