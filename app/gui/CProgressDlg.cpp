#include "CProgressDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace orvane::app {

CProgressDlg::CProgressDlg(std::function<int()> progress, QWidget* parent, const QString& title, const QString& text)
    : QDialog(parent), progress_(std::move(progress)), bar_(new QProgressBar(this)) {
    setWindowTitle(title.isEmpty() ? QString::fromUtf8("正在上传数据") : title);
    bar_->setRange(0, 100);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(text.isEmpty() ? QString::fromUtf8("保存前等待数据上传完成...") : text, this));
    layout->addWidget(bar_);
    layout->addWidget(buttons);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &CProgressDlg::Poll);
    timer->start(100);
    Poll();
}

void CProgressDlg::Poll() {
    const int now = progress_ ? progress_() : 100;
    if (now < 0) return reject();
    bar_->setValue(std::clamp(now, 0, 100));
    if (now >= 100) accept();
}

}  // namespace orvane::app
