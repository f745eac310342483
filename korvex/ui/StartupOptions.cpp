#include "ui/StartupOptions.h"

#include <QApplication>
#include <QListWidget>
#include <QPixmap>

#include "model/Errors.h"
#include "ui/uMain.h"

namespace korvex {

std::string StartupUsage() {
    return "用法 / usage: Korvex [--recognize-all] [--select N] [--screenshot FILE.png] [IMAGE...]\n"
           "  IMAGE...           加入扫描队列 / queue these scans\n"
           "  --recognize-all    加入后立即全部识别 / recognise the queue at once\n"
           "  --select N         显示第 N 项（从 1 起）/ show queue item N (from 1)\n"
           "  --screenshot FILE  把窗口保存为 PNG 后退出 / save the window as PNG and quit\n";
}

TStartupOptions ParseStartupOptions(const QStringList& arguments) {
    TStartupOptions o;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString a = arguments[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= arguments.size()) {
                o.Error = "缺少参数值：" + a.toStdString();
                return {};
            }
            return arguments[++i];
        };
        if (a == "--help" || a == "-h") {
            o.Help = true;
        } else if (a == "--recognize-all") {
            o.RecognizeAll = true;
        } else if (a == "--select") {
            const QString v = value();
            bool ok = false;
            o.Select = v.toInt(&ok);
            if (o.Error.empty() && (!ok || o.Select < 1)) o.Error = "--select 需要正整数：" + v.toStdString();
        } else if (a == "--screenshot") {
            o.Screenshot = value().toStdString();
        } else if (a.startsWith("--")) {
            o.Error = "未知选项：" + a.toStdString();
        } else {
            o.Images.push_back(a.toStdString());
        }
        if (!o.Error.empty()) return o;
    }
    return o;
}

bool ApplyStartupOptions(TMainForm& window, const TStartupOptions& options) {
    if (!options.Images.empty()) window.AddImageFiles(options.Images);
    if (options.RecognizeAll) window.RecognizeAll();
    if (options.Select > 0 && options.Select <= window.QueueList()->count()) {
        window.QueueList()->setCurrentRow(options.Select - 1);
        window.ShowCurrentItem();
    }
    if (options.Screenshot.empty()) return false;
    QApplication::processEvents();
    if (!window.grab().save(QString::fromStdString(options.Screenshot), "PNG"))
        throw EFileError("无法保存窗口截图：" + options.Screenshot);
    return true;
}

}  // namespace korvex
