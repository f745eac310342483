#include "ui/ScanProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/TextUtil.h"

namespace korvex {

TScanProgressDialog::TScanProgressDialog(QWidget* parent)
    : QDialog(parent), text_(new QLabel(this)), bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("取消扫描"), this)) {
    setWindowTitle(QStringLiteral("正在扫描"));
    setWindowModality(Qt::ApplicationModal);  // the queue stays as it is while pages come in
    bar_->setRange(0, 100);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });
    resize(360, 120);
}

void TScanProgressDialog::ShowProgress(int page, std::size_t received, std::size_t expected) {
    if (cancelled_) return;
    text_->setText(QString::fromStdString(Format("正在扫描第 %d 页……（已完成 %d 页）", page, page - 1)));
    if (expected > 0) {
        bar_->setRange(0, 100);
        bar_->setValue(static_cast<int>(std::min<std::size_t>(100, received * 100 / expected)));
    } else {
        bar_->setRange(0, 0);  // length not known: a busy bar
    }
}

void TScanProgressDialog::reject() { Cancel(); }

void TScanProgressDialog::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    cancel_->setEnabled(false);
    text_->setText(QStringLiteral("正在取消扫描，已扫描的页面会保留……"));
}

}  // namespace korvex
