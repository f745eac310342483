#pragma once
// Scanners through SANE. One backend object per process (SANE keeps global
// state); it initialises SANE when made and ends it when destroyed.
#include <memory>
#include <string>
#include <vector>

#include "scanner/ScanDevice.h"

namespace korvex {

class TSaneBackend : public IScanBackend {
public:
    TSaneBackend();  // raises EKorvexError when SANE cannot start or is already in use
    ~TSaneBackend() override;
    TSaneBackend(const TSaneBackend&) = delete;
    TSaneBackend& operator=(const TSaneBackend&) = delete;

    std::vector<TScanDeviceInfo> ListDevices() override;
    std::unique_ptr<IScanDevice> Open(const std::string& name) override;
};

}  // namespace korvex
