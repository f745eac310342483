#pragma once
// The window's scan dialogs: the SANE device list and the device's settings,
// built from its options.
#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scanner/ScanDevice.h"

class QComboBox;
class QListWidget;
class QFormLayout;

namespace korvex {

// Lists the devices; the chosen one is the current row.
class TScanDeviceDialog : public QDialog {
public:
    TScanDeviceDialog(const std::vector<TScanDeviceInfo>& devices, QWidget* parent = nullptr);
    std::optional<std::string> ChosenDevice() const;
    QListWidget* List() const { return list_; }

private:
    std::vector<TScanDeviceInfo> devices_;
    QListWidget* list_;
};

// One editor per basic option of the device (source, mode, resolution, depth,
// paper size, scan area); Apply writes the edited values back to the device.
class TScanSettingsDialog : public QDialog {
public:
    TScanSettingsDialog(IScanDevice& device, QWidget* parent = nullptr);
    void Apply();
    // The editor of an option, for tests; null when the option is not shown.
    QWidget* EditorOf(const std::string& optionName) const;

private:
    struct Editor {
        TScanOption option;
        QWidget* widget;
    };
    IScanDevice& device_;
    std::vector<Editor> editors_;
};

class TScanProgressDialog;

// IScanDialogs for the window: modal dialogs, a progress window with a page
// counter and a cancel button while pages come in, and the window's messages
// processed between pages and between the chunks of a page.
class TQtScanDialogs : public IScanDialogs {
public:
    explicit TQtScanDialogs(QWidget* parent);
    ~TQtScanDialogs() override;
    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>& devices) override;
    bool ShowSettings(IScanDevice& device) override;
    void ProcessMessages() override;
    bool ScanProgress(int page, std::size_t received, std::size_t expected) override;
    void ScanFinished() override;
    // The progress window of the running batch, or null.
    TScanProgressDialog* Progress() const { return progress_.get(); }

private:
    QWidget* parent_;
    std::unique_ptr<TScanProgressDialog> progress_;
};

}  // namespace korvex
