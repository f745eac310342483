#pragma once
// Scanners through SANE. One backend object per process (SANE keeps global
// state); it initialises SANE when made and ends it when destroyed.
#include <memory>
#include <string>
#include <vector>

#include "scanner/ScanDevice.h"

namespace korvex {

struct TSaneApi;

class TSaneBackend : public IScanBackend {
public:
    // Raises EKorvexError when SANE cannot start or is already in use. The
    // default table is the SANE library's own.
    TSaneBackend();
    explicit TSaneBackend(const TSaneApi& api);
    ~TSaneBackend() override;
    TSaneBackend(const TSaneBackend&) = delete;
    TSaneBackend& operator=(const TSaneBackend&) = delete;

    // Every device SANE knows: local ones and those its network and
    // driverless back ends (net, airscan, ...) find.
    std::vector<TScanDeviceInfo> ListDevices() override;
    std::unique_ptr<IScanDevice> Open(const std::string& name) override;

private:
    const TSaneApi& api_;
};

}  // namespace korvex
