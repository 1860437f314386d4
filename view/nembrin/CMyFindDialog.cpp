#include "CMyFindDialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "CDataPane.h"
#include "NembrinPrompt.h"
#include "NembrinSettings.h"
#include "NembrinText.h"

namespace orvane::nembrin {

CMyFindDialog::CMyFindDialog(CDataPane* owner) : QDialog(owner), owner_(owner)
{
    setWindowTitle(QString::fromUtf8(text::kFindCaption));
    setModal(false);
    auto* box = new QGroupBox(QStringLiteral("基本条件"), this);
    auto* grid = new QGridLayout(box);
    pattern_ = new QLineEdit(box);
    radix_ = new QComboBox(box);
    radix_->addItems({QStringLiteral("自动判断查找进制"), QStringLiteral("以二进制形式查找"),
                      QStringLiteral("以十六进制形式查找"), QStringLiteral("以字符形式查找")});
    scope_ = new QComboBox(box);
    scope_->addItems({QStringLiteral("在当前数据中查找"), QStringLiteral("在当前可见区域内查找")});
    grid->addWidget(new QLabel(QStringLiteral("查找内容："), box), 0, 0);
    grid->addWidget(pattern_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("进制类型："), box), 1, 0);
    grid->addWidget(radix_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("查找方式："), box), 2, 0);
    grid->addWidget(scope_, 2, 1);
    prev_ = new QPushButton(QString::fromUtf8(text::kFindPrev), this);
    find_ = new QPushButton(QString::fromUtf8(text::kFindAll), this);
    find_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(prev_);
    buttons->addWidget(find_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addLayout(buttons);
    connect(prev_, &QPushButton::clicked, this, [this] { owner_->FindPrev(); });
    connect(find_, &QPushButton::clicked, this, &CMyFindDialog::OnFind);

    const FindPlacement placement = ReadFindPlacement();
    minimumUnit_ = placement.minimumUnit;
    adjustSize();
    const QPoint ownerTopLeft = owner_->mapToGlobal(QPoint(0, 0));
    move(ownerTopLeft.x() - placement.posX, ownerTopLeft.y() - placement.posY);
    radix_->setCurrentIndex(placement.radix < radix_->count() ? placement.radix : 0);
    scope_->setCurrentIndex(placement.scope < scope_->count() ? placement.scope : 0);
    prev_->hide();
}

void CMyFindDialog::ShowForFind()
{
    prev_->hide();
    find_->setText(QString::fromUtf8(text::kFindAll));
    show();
    raise();
}

void CMyFindDialog::OnFind()
{
    if (find_->text() != QString::fromUtf8(text::kFindAll)) {
        owner_->FindNext();
        return;
    }
    found_ = true;
    const QString typed = pattern_->text();
    const std::u16string trimmed = TrimSpaces(typed.toStdU16String());
    if (trimmed.empty()) {
        owner_->FindClear();
        return;
    }
    Pattern pattern = InterpretPattern(trimmed, radix_->currentIndex());
    if (pattern.kind == PatternNone) {
        Prompt().Message(this, QMessageBox::Warning, QString::fromUtf8(text::kErrorCaption),
                         QString::fromUtf8(text::kBadPattern));
        return;
    }
    kind_ = pattern.kind;
    bytes_ = std::move(pattern.bytes);
    if (scope_->currentIndex() != 0)
        owner_->FindInView(bytes_);
    else
        owner_->FindInData(bytes_);
    if (found_) {
        prev_->show();
        find_->setText(QString::fromUtf8(text::kFindNext));
    }
}

void CMyFindDialog::OnNotFound()
{
    found_ = false;
    Prompt().Message(this, QMessageBox::Information, QString::fromUtf8(text::kPromptCaption),
                     QString::fromUtf8(text::kNotFound));
}

void CMyFindDialog::OnAtEnd()
{
    Prompt().Message(this, QMessageBox::Information, QString::fromUtf8(text::kPromptCaption),
                     QString::fromUtf8(text::kAtStart));
}

void CMyFindDialog::SavePlacement()
{
    FindPlacement placement;
    const QPoint ownerTopLeft = owner_->mapToGlobal(QPoint(0, 0));
    placement.posX = ownerTopLeft.x() - x();
    placement.posY = ownerTopLeft.y() - y();
    placement.radix = uint8_t(std::max(radix_->currentIndex(), 0));
    placement.scope = uint8_t(std::max(scope_->currentIndex(), 0));
    placement.minimumUnit = minimumUnit_;
    WriteFindPlacement(placement);
}

void CMyFindDialog::closeEvent(QCloseEvent* event)
{
    if (owner_) SavePlacement();
    QDialog::closeEvent(event);
}

}  // namespace orvane::nembrin
