#include "ui/ScanDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include "scanner/DeviceListing.h"
#include "ui/ScanProgress.h"

namespace korvex {
namespace {

// The options shown, in this order; the others keep the device's values.
const char* const kShownOptions[] = {"source",      "mode", "resolution", "depth", "page-width",
                                     "page-height", "tl-x", "tl-y",       "br-x",  "br-y"};

QString NumberText(double v) { return QString::number(v, 'g', 10); }

QWidget* MakeEditor(const TScanOption& o, const std::optional<TScanValue>& value, QWidget* parent) {
    if (o.Type == TScanOptionType::Bool) {
        auto* box = new QCheckBox(parent);
        if (value && std::holds_alternative<bool>(*value)) box->setChecked(std::get<bool>(*value));
        return box;
    }
    if (o.Type == TScanOptionType::String) {
        auto* combo = new QComboBox(parent);
        for (const std::string& s : o.StringList) combo->addItem(QString::fromStdString(s));
        if (value && std::holds_alternative<std::string>(*value))
            combo->setCurrentText(QString::fromStdString(std::get<std::string>(*value)));
        return combo;
    }
    const double current = value && std::holds_alternative<double>(*value) ? std::get<double>(*value) : 0.0;
    if (!o.NumberList.empty()) {
        auto* combo = new QComboBox(parent);
        for (const double v : o.NumberList) combo->addItem(NumberText(v), v);
        const int at = combo->findData(current);
        if (at >= 0) combo->setCurrentIndex(at);
        return combo;
    }
    auto* spin = new QDoubleSpinBox(parent);
    spin->setDecimals(o.Type == TScanOptionType::Fixed ? 2 : 0);
    spin->setRange(o.Range ? o.Range->Min : -1e9, o.Range ? o.Range->Max : 1e9);
    if (o.Range && o.Range->Quant > 0) spin->setSingleStep(o.Range->Quant);
    spin->setValue(current);
    return spin;
}

std::optional<TScanValue> ValueOf(const TScanOption& o, QWidget* w) {
    if (auto* box = dynamic_cast<QCheckBox*>(w)) return TScanValue(box->isChecked());
    if (auto* combo = dynamic_cast<QComboBox*>(w)) {
        if (combo->currentIndex() < 0) return std::nullopt;
        if (o.Type == TScanOptionType::String) return TScanValue(combo->currentText().toStdString());
        return TScanValue(combo->currentData().toDouble());
    }
    if (auto* spin = dynamic_cast<QDoubleSpinBox*>(w)) return TScanValue(spin->value());
    return std::nullopt;
}

}  // namespace

TScanDeviceDialog::TScanDeviceDialog(const std::vector<TScanDeviceInfo>& devices, QWidget* parent)
    : QDialog(parent), devices_(devices), list_(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("选择扫描仪"));
    for (const TScanDeviceInfo& d : devices_)
        list_->addItem(QString::fromStdString(DeviceCaption(d)));
    if (!devices_.empty()) list_->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(420, 260);
}

std::optional<std::string> TScanDeviceDialog::ChosenDevice() const {
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(devices_.size())) return std::nullopt;
    return devices_[static_cast<std::size_t>(row)].Name;
}

TScanSettingsDialog::TScanSettingsDialog(IScanDevice& device, QWidget* parent) : QDialog(parent), device_(device) {
    setWindowTitle(QStringLiteral("扫描仪设置"));
    auto* form = new QFormLayout;
    const std::vector<TScanOption> options = device_.Options();
    for (const char* name : kShownOptions) {
        for (const TScanOption& o : options) {
            if (o.Name != name || !o.Active || !o.Settable) continue;
            if (o.Type == TScanOptionType::Button || o.Type == TScanOptionType::Group) continue;
            QWidget* editor = MakeEditor(o, device_.GetOption(o.Name), this);
            form->addRow(QString::fromStdString(o.Title) + QStringLiteral("："), editor);
            editors_.push_back({o, editor});
        }
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TScanSettingsDialog::Apply() {
    for (const Editor& e : editors_)
        if (const auto value = ValueOf(e.option, e.widget)) device_.SetOption(e.option.Name, *value);
}

QWidget* TScanSettingsDialog::EditorOf(const std::string& optionName) const {
    for (const Editor& e : editors_)
        if (e.option.Name == optionName) return e.widget;
    return nullptr;
}

TQtScanDialogs::TQtScanDialogs(QWidget* parent) : parent_(parent) {}
TQtScanDialogs::~TQtScanDialogs() = default;

std::optional<std::string> TQtScanDialogs::SelectDevice(const std::vector<TScanDeviceInfo>& devices) {
    TScanDeviceDialog dialog(devices, parent_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.ChosenDevice();
}

bool TQtScanDialogs::ShowSettings(IScanDevice& device) {
    TScanSettingsDialog dialog(device, parent_);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.Apply();
    return true;
}

void TQtScanDialogs::ProcessMessages() { QCoreApplication::processEvents(); }

bool TQtScanDialogs::ScanProgress(int page, std::size_t received, std::size_t expected) {
    if (!progress_) {
        progress_ = std::make_unique<TScanProgressDialog>(parent_);
        progress_->show();
    }
    progress_->ShowProgress(page, received, expected);
    QCoreApplication::processEvents();
    return !progress_->Cancelled();
}

void TQtScanDialogs::ScanFinished() { progress_.reset(); }

}  // namespace korvex
