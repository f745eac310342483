#pragma once
// Everything the window asks or tells the operator in a dialog, behind one
// interface so window tests can answer in place of a person.
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace korvex {

class IOperatorPrompts {
public:
    virtual ~IOperatorPrompts() = default;
    virtual void Information(const std::string& text) = 0;
    virtual void Warning(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    // Yes / No.
    virtual bool Confirm(const std::string& text) = 0;
    // Several existing files, in the dialog's order; empty when cancelled.
    // The filter is "caption|patterns|caption|patterns…".
    virtual std::vector<std::string> OpenFiles(const std::string& filter) = 0;
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
    // A target file; nothing when cancelled.
    virtual std::optional<std::string> SaveFile(const std::string& filter, const std::string& defaultExtension,
                                                const std::string& suggestedName) = 0;
    // A line of text; nothing when cancelled.
    virtual std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                                 const std::string& defaultText) = 0;
};

// The real dialogs.
class TQtOperatorPrompts : public IOperatorPrompts {
public:
    explicit TQtOperatorPrompts(QWidget* parent) : parent_(parent) {}
    void Information(const std::string& text) override;
    void Warning(const std::string& text) override;
    void Error(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::vector<std::string> OpenFiles(const std::string& filter) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    std::optional<std::string> SaveFile(const std::string& filter, const std::string& defaultExtension,
                                        const std::string& suggestedName) override;
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& defaultText) override;

private:
    QWidget* parent_;
};

// "扫描图片|*.bmp;*.jpg|所有文件|*.*" → Qt's "扫描图片 (*.bmp *.jpg);;所有文件 (*.*)".
std::string QtFileFilter(const std::string& filter);

}  // namespace korvex
