#include "ui/OperatorPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace korvex {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Title() { return QApplication::applicationDisplayName(); }

}  // namespace

std::string QtFileFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = filter.find('|', start);
        parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::string out;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string patterns = parts[i + 1];
        for (char& c : patterns)
            if (c == ';') c = ' ';
        if (!out.empty()) out += ";;";
        out += parts[i] + " (" + patterns + ")";
    }
    return out;
}

void TQtOperatorPrompts::Information(const std::string& text) { QMessageBox::information(parent_, Title(), Q(text)); }
void TQtOperatorPrompts::Warning(const std::string& text) { QMessageBox::warning(parent_, Title(), Q(text)); }
void TQtOperatorPrompts::Error(const std::string& text) { QMessageBox::critical(parent_, Title(), Q(text)); }

bool TQtOperatorPrompts::Confirm(const std::string& text) {
    return QMessageBox::question(parent_, Title(), Q(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::vector<std::string> TQtOperatorPrompts::OpenFiles(const std::string& filter) {
    std::vector<std::string> files;
    for (const QString& f : QFileDialog::getOpenFileNames(parent_, QString(), QString(), Q(QtFileFilter(filter))))
        files.push_back(f.toStdString());
    return files;
}

std::optional<std::string> TQtOperatorPrompts::OpenFile(const std::string& filter) {
    const QString f = QFileDialog::getOpenFileName(parent_, QString(), QString(), Q(QtFileFilter(filter)));
    if (f.isEmpty()) return std::nullopt;
    return f.toStdString();
}

std::optional<std::string> TQtOperatorPrompts::SaveFile(const std::string& filter, const std::string& defaultExtension,
                                                        const std::string& suggestedName) {
    QFileDialog dialog(parent_, QString(), QString(), Q(QtFileFilter(filter)));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(Q(defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.selectFile(Q(suggestedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> TQtOperatorPrompts::InputText(const std::string& caption, const std::string& prompt,
                                                         const std::string& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, Q(caption), Q(prompt), QLineEdit::Normal, Q(defaultText), &ok);
    if (!ok) return std::nullopt;
    return text.toStdString();
}

}  // namespace korvex
