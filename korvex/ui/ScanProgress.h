#pragma once
// The window shown while a batch scan runs: which page is coming in, how much
// of it has arrived, how many pages are done, and a button to stop the batch.
#include <QDialog>
#include <cstddef>

class QLabel;
class QProgressBar;
class QPushButton;

namespace korvex {

class TScanProgressDialog : public QDialog {
public:
    explicit TScanProgressDialog(QWidget* parent = nullptr);
    // Page (from 1) being scanned and its bytes so far and expected (0: not known).
    void ShowProgress(int page, std::size_t received, std::size_t expected);
    // True once the operator pressed the button or closed the window.
    bool Cancelled() const { return cancelled_; }
    void reject() override;

    QLabel* Text() const { return text_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    void Cancel();

    QLabel* text_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    bool cancelled_ = false;
};

}  // namespace korvex
