#include "CFindSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orvane::app {

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }
constexpr const char* kCue = "<任意条件>";
std::string S(const QLineEdit* edit) { return edit->text().toStdString(); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CEditEmpty::CEditEmpty(QWidget* parent) : QLineEdit(parent) { setPlaceholderText(U(kCue)); }

void CEditEmpty::focusInEvent(QFocusEvent* event) {
    // Nothing is drawn in an empty edit that has the focus.
    setPlaceholderText(QString());
    QLineEdit::focusInEvent(event);
}

void CEditEmpty::focusOutEvent(QFocusEvent* event) {
    setPlaceholderText(U(kCue));
    QLineEdit::focusOutEvent(event);
}

CFindSheet::CFindSheet(FindCondition& condition, QWidget* parent)
    : QDialog(parent, Qt::Tool), condition_(condition), pages_(new QTabWidget(this)),
      placeMark_(new QCheckBox(U("放置标签(&B)"), this)), previous_(new QPushButton(U("上一个(&P)"), this)),
      next_(new QPushButton(U("下一个(&N)"), this)) {
    setWindowTitle(U("查找"));
    setModal(false);
    pages_->addTab(BuildTransactionPage(), U("查找事务"));
    pages_->addTab(BuildRowPage(), U("查找信息"));
    previous_->setAutoDefault(false);
    next_->setAutoDefault(false);
    next_->setDefault(true);
    connect(previous_, &QPushButton::clicked, this, [this] { emit FindRequested(false); });
    connect(next_, &QPushButton::clicked, this, [this] { emit FindRequested(true); });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(placeMark_);
    bottom->addStretch(1);
    bottom->addWidget(previous_);
    bottom->addWidget(next_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_);
    layout->addLayout(bottom);
}

QWidget* CFindSheet::BuildTransactionPage() {
    auto* page = new QWidget;
    auto* basic = new QGroupBox(U("基本条件"), page);
    auto* form = new QFormLayout(basic);
    const char* labels[] = {"地址：", "端点：", "数据(Hex)：", "大小(Bytes)："};
    for (size_t i = 0; i < transactionEdits_.size(); ++i) {
        transactionEdits_[i] = new CEditEmpty(basic);
        form->addRow(U(labels[i]), transactionEdits_[i]);
    }
    usePid_ = new QCheckBox(U(" 使用 PID 组合"), page);
    pidBlock_ = new QFrame(page);
    static_cast<QFrame*>(pidBlock_)->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(pidBlock_);
    const char* groups[] = {"令牌：", "数据：", "握手："};
    const char* pids[kPids] = {"SETUP", "IN", "OUT", "PING", "DATA0", "DATA1", "DATA2", "MDATA",
                               "ACK", "NAK", "STALL", "NYET"};
    for (int g = 0; g < 3; ++g) {
        grid->addWidget(new QLabel(U(groups[g]), pidBlock_), g, 0);
        for (int i = 0; i < 4; ++i) {
            QCheckBox*& box = pidBoxes_[size_t(g * 4 + i)];
            box = new QCheckBox(U(pids[g * 4 + i]), pidBlock_);
            grid->addWidget(box, g, 1 + i);
            connect(box, &QCheckBox::clicked, this, &CFindSheet::PidClicked);
        }
        selectAll_[size_t(g)] = new QCheckBox(U("全选"), pidBlock_);
        grid->addWidget(selectAll_[size_t(g)], g, 5);
        connect(selectAll_[size_t(g)], &QCheckBox::clicked, this, [this, g] { SelectAllClicked(g); });
    }
    pidBlock_->setVisible(false);
    connect(usePid_, &QCheckBox::toggled, pidBlock_, &QWidget::setVisible);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(basic);
    layout->addWidget(usePid_);
    layout->addWidget(pidBlock_);
    layout->addStretch(1);
    return page;
}

QWidget* CFindSheet::BuildRowPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    const char* labels[] = {"Item：", "Address：", "Endpoint：", "Interface：", "Data：", "Size："};
    for (size_t i = 0; i < rowEdits_.size(); ++i) {
        rowEdits_[i] = new CEditEmpty(page);
        form->addRow(U(labels[i]), rowEdits_[i]);
    }
    speed_ = new QComboBox(page);
    for (const char* item : {"<任意条件>", "LS", "FS", "HS"}) speed_->addItem(U(item));
    status_ = new QComboBox(page);
    for (const char* item : {"<任意条件>", "ACK", "NYET", "NAK", "STALL", "OK", "FAILIED", "TIMEOUT"})
        status_->addItem(U(item));
    form->addRow(U("Speed："), speed_);
    form->addRow(U("Status："), status_);
    return page;
}

void CFindSheet::SelectAllClicked(int group) {
    const bool on = selectAll_[size_t(group)]->isChecked();
    for (int i = 0; i < 4; ++i) pidBoxes_[size_t(group * 4 + i)]->setChecked(on);
}

void CFindSheet::PidClicked() {
    for (int g = 0; g < 3; ++g) {
        bool all = true;
        for (int i = 0; i < 4; ++i) all = all && pidBoxes_[size_t(g * 4 + i)]->isChecked();
        selectAll_[size_t(g)]->setChecked(all);
    }
}

void CFindSheet::SetActivePage(int page) { pages_->setCurrentIndex(page); }

int CFindSheet::ActivePage() const { return pages_->currentIndex(); }

void CFindSheet::ReadTransactionPage() {
    FindCondition& c = condition_;
    c.address = FindText::Number(S(transactionEdits_[0]));
    c.endpoint = FindText::Number(S(transactionEdits_[1]));
    c.data = FindText::HexBytes(S(transactionEdits_[2]));
    c.size = FindText::Number(S(transactionEdits_[3]));
    c.usePidCombination = usePid_->isChecked();
    c.pidMask = 0;
    for (int i = 0; i < kPids; ++i)
        if (pidBoxes_[size_t(i)]->isChecked()) c.pidMask |= 1u << i;
}

void CFindSheet::ReadCondition() {
    FindCondition& c = condition_;
    c.mode = uint32_t(std::max(0, ActivePage()));
    c.placeMark = placeMark_->isChecked();
    ReadTransactionPage();
    c.rowText = FindText::Trimmed(S(rowEdits_[0]));
    c.rowAddress = FindText::Number(S(rowEdits_[1]));
    c.rowEndpoint = FindText::Number(S(rowEdits_[2]));
    c.rowInterface = FindText::Number(S(rowEdits_[3]));
    c.rowData = FindText::HexBytes(S(rowEdits_[4]));
    c.rowSize = FindText::Number(S(rowEdits_[5]));
    c.rowSpeed = FindText::SpeedOfIndex(speed_->currentIndex());
    c.rowStatus = FindText::StatusOfIndex(status_->currentIndex());
}

void CFindSheet::WriteRowConditions() {
    ReadTransactionPage();
    const FindCondition& c = condition_;
    rowEdits_[0]->setText(Q(c.rowText));
    rowEdits_[1]->setText(Q(FindText::NumberText(c.rowAddress)));
    rowEdits_[2]->setText(Q(FindText::NumberText(c.rowEndpoint)));
    rowEdits_[3]->setText(Q(FindText::NumberText(c.rowInterface)));
    rowEdits_[4]->setText(Q(FindText::HexText(c.rowData)));
    rowEdits_[5]->setText(Q(FindText::NumberText(c.rowSize)));
    speed_->setCurrentIndex(FindText::IndexOfSpeed(c.rowSpeed));
    status_->setCurrentIndex(FindText::IndexOfStatus(c.rowStatus));
}

}  // namespace orvane::app
