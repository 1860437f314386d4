#include "CBookmarkDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CPacketListCommands.h"

namespace orvane::app {

CBookmarkDlg::CBookmarkDlg(Mode mode, const QString& name, const QString& comment, QWidget* parent)
    : QDialog(parent), mode_(mode), name_(new QLineEdit(name, this)), comment_(new QLineEdit(comment, this)) {
    setWindowTitle(QString::fromUtf8(mode == Mode::Add ? CPacketListCommands::kAddMarkTitle
                                                       : CPacketListCommands::kEditMarkTitle));
    name_->setObjectName("name");
    comment_->setObjectName("comment");
    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8("名称："), name_);
    form->addRow(QString::fromUtf8("注释："), comment_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

QString CBookmarkDlg::Name() const { return name_->text(); }

QString CBookmarkDlg::Comment() const { return comment_->text(); }

}  // namespace orvane::app
