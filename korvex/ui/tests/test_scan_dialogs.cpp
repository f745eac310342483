#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "QtTestApp.h"
#include "scanner/tests/ScriptedScanner.h"
#include "ui/ScanDialogs.h"
#include "ui/ScanProgress.h"

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

TEST(ScanDialogs, ProgressWindowCountsPagesAndCancelsOnButtonOrClose) {
    QtTestApp();
    TScanProgressDialog byButton;
    byButton.ShowProgress(2, 500, 1000);
    EXPECT_EQ(byButton.Text()->text().toStdString(), "正在扫描第 2 页……（已完成 1 页）");
    EXPECT_EQ(byButton.Bar()->maximum(), 100);
    EXPECT_EQ(byButton.Bar()->value(), 50);
    byButton.ShowProgress(3, 0, 0);  // a length the device does not tell: a busy bar
    EXPECT_EQ(byButton.Bar()->maximum(), 0);
    EXPECT_FALSE(byButton.Cancelled());
    byButton.CancelButton()->click();
    EXPECT_TRUE(byButton.Cancelled());
    EXPECT_FALSE(byButton.CancelButton()->isEnabled());
    byButton.ShowProgress(4, 0, 0);
    EXPECT_EQ(byButton.Text()->text().toStdString(), "正在取消扫描，已扫描的页面会保留……");

    TScanProgressDialog byClosing;
    byClosing.show();
    byClosing.close();  // the window's close button or Esc
    EXPECT_TRUE(byClosing.Cancelled());
}
