#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QTimer>

#include "QtTestApp.h"
#include "scanner/tests/ScriptedScanner.h"
#include "ui/ScanDialogs.h"

using namespace korvex;
using namespace korvex::testing;

TEST(ScanDialogs, DeviceChoiceAndCancel) {
    QtTestApp();
    const std::vector<TScanDeviceInfo> devices = {{"test:0", "Noname", "frontend-tester", "virtual device"},
                                                  {"test:1", "Noname", "frontend-tester", "virtual device"}};
    TQtScanDialogs dialogs(nullptr);
    QTimer::singleShot(0, [] {
        auto* d = dynamic_cast<TScanDeviceDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->List()->setCurrentRow(1);
        d->accept();
    });
    EXPECT_EQ(dialogs.SelectDevice(devices), "test:1");
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_EQ(dialogs.SelectDevice(devices), std::nullopt);
}

TEST(ScanDialogs, SettingsShowDeviceValuesAndWriteBackOnlyOnOk) {
    QtTestApp();
    auto device = MakeDevice({"Flatbed", "ADF"});
    device->values = {{"resolution", 300.0}, {"mode", std::string("Gray")}, {"source", std::string("ADF")},
                      {"br-x", 210.0}};
    {
        TScanSettingsDialog dialog(*device);
        auto* resolution = dynamic_cast<QComboBox*>(dialog.EditorOf("resolution"));
        auto* mode = dynamic_cast<QComboBox*>(dialog.EditorOf("mode"));
        auto* width = dynamic_cast<QDoubleSpinBox*>(dialog.EditorOf("br-x"));
        ASSERT_TRUE(resolution && mode && width && dialog.EditorOf("source"));
        EXPECT_EQ(resolution->currentText(), "300");
        EXPECT_EQ(mode->currentText(), "Gray");
        EXPECT_EQ(width->value(), 210.0);
        resolution->setCurrentText("600");
        mode->setCurrentText("Color");
        dialog.Apply();
    }
    EXPECT_EQ(std::get<double>(device->values.at("resolution")), 600.0);
    EXPECT_EQ(std::get<std::string>(device->values.at("mode")), "Color");

    TQtScanDialogs dialogs(nullptr);
    QTimer::singleShot(0, [] {
        auto* d = dynamic_cast<TScanSettingsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        dynamic_cast<QComboBox*>(d->EditorOf("resolution"))->setCurrentText("75");
        d->reject();
    });
    EXPECT_FALSE(dialogs.ShowSettings(*device));
    EXPECT_EQ(std::get<double>(device->values.at("resolution")), 600.0);  // cancelled: unchanged
}
