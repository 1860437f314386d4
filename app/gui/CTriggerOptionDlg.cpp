#include "CTriggerOptionDlg.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include "IPrompt.h"

namespace orvane::app {

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }
using Steps = CTriggerSteps;
constexpr int kRow = Steps::kRowHeight;
constexpr uint32_t kSelectedBack = 0xF0F0F0;

}  // namespace

CTriggerListCtrl::CTriggerListCtrl(CTriggerSteps& steps, QWidget* parent)
    : QAbstractScrollArea(parent), steps_(steps), columns_(new QStandardItemModel(0, Steps::kColumns, this)),
      header_(new QHeaderView(Qt::Horizontal, this)), address_(new QLineEdit(viewport())),
      data_(new QLineEdit(viewport())) {
    for (int c = 0; c < Steps::kColumns; ++c)
        columns_->setHorizontalHeaderItem(c, new QStandardItem(U(Steps::kColumnInfo[c].title)));
    header_->setModel(columns_);
    header_->setSectionsMovable(true);
    header_->setStretchLastSection(false);
    for (int c = 0; c < Steps::kColumns; ++c) header_->resizeSection(c, Steps::kColumnInfo[c].width);
    setViewportMargins(0, header_->sizeHint().height(), 0, 0);
    connect(header_, &QHeaderView::sectionResized, this, [this] { UpdateScroll(); PlaceEdits(); viewport()->update(); });
    connect(header_, &QHeaderView::sectionMoved, this, [this] { PlaceEdits(); viewport()->update(); });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, header_, &QHeaderView::setOffset);
    address_->setObjectName("address");
    data_->setObjectName("data");
    address_->hide();
    data_->hide();
    setFrameShape(QFrame::StyledPanel);
    setFocusPolicy(Qt::StrongFocus);
}

void CTriggerListCtrl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QRect r = viewport()->geometry();
    header_->setGeometry(r.left(), r.top() - header_->sizeHint().height(), r.width(), header_->sizeHint().height());
    UpdateScroll();
    PlaceEdits();
}

void CTriggerListCtrl::scrollContentsBy(int, int) {
    PlaceEdits();
    viewport()->update();
}

void CTriggerListCtrl::UpdateScroll() {
    const int height = int(steps_.Count()) * kRow;
    verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(kRow / 4);
    horizontalScrollBar()->setRange(0, std::max(0, header_->length() - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

QRect CTriggerListCtrl::CellRect(int row, int column) const {
    return QRect(header_->sectionViewportPosition(column), row * kRow - verticalScrollBar()->value(),
                 header_->sectionSize(column), kRow);
}

void CTriggerListCtrl::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QColor back = QColor(QRgb(kSelectedBack));
    const int first = verticalScrollBar()->value() / kRow;
    const int last = std::min(int(steps_.Count()) - 1, (verticalScrollBar()->value() + viewport()->height()) / kRow);
    auto drawBox = [&](const Steps::Box& b, bool on) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = QRect(b.left, b.top, b.right - b.left, b.bottom - b.top);
        option.state = QStyle::State_Enabled | (on ? QStyle::State_On : QStyle::State_Off);
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &p, this);
    };
    for (int row = first; row <= last; ++row) {
        const TriggerStep& step = steps_.Steps()[size_t(row)];
        const bool selected = row == selected_;
        const QRect line(0, row * kRow - verticalScrollBar()->value(), viewport()->width(), kRow);
        if (selected) p.fillRect(line, back);
        p.setPen(back);
        p.drawLine(line.topLeft(), line.topRight());
        p.drawLine(line.bottomLeft(), line.bottomRight());
        p.setPen(palette().color(QPalette::Text));
        for (int visual = 0; visual < Steps::kColumns; ++visual) {
            const int column = header_->logicalIndex(visual);
            const QRect cell = CellRect(row, column);
            const QRect text = cell.adjusted(Steps::kCellIndent, 0, 0, 0);
            p.save();
            p.setClipRect(cell);
            switch (column) {
            case Steps::ColNumber:
                p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QString::number(row));
                break;
            case Steps::ColAddress:
                if (!selected)
                    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                               QString::fromStdString(Steps::AddressCellText(step.address)));
                break;
            case Steps::ColPattern:
                if (!selected)
                    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                               QString::fromStdString(Steps::PatternCellText(step.data)));
                break;
            case Steps::ColEndpoint:
                for (int i = 0; i < 17; ++i) {
                    const Steps::Box b = Steps::EndpointBox(i, cell.left(), cell.top());
                    if (b.right > cell.right() + 1) break;
                    drawBox(b, Steps::EndpointTicked(step, i));
                    p.drawText(QRect(b.left - 4, b.top - 16, b.right - b.left + 8, 16), Qt::AlignCenter,
                               i == 16 ? U("全选") : QString::number(15 - i));
                }
                break;
            default:
                if (const Steps::PidBox* boxes = Steps::PidBoxes(column)) {
                    for (int i = 0; i < Steps::kPidBoxes; ++i) {
                        const Steps::Box b = Steps::PidBoxRect(i, cell.left(), cell.top());
                        drawBox(b, Steps::PidTicked(step, boxes[i].bits));
                        p.drawText(QRect(b.left + Steps::kPidLabelOffset, b.top, cell.right() - b.left, 16),
                                   Qt::AlignLeft | Qt::AlignVCenter, U(boxes[i].label));
                    }
                }
                break;
            }
            p.restore();
        }
    }
}

void CTriggerListCtrl::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const int row = (at.y() + verticalScrollBar()->value()) / kRow;
    if (event->button() != Qt::LeftButton || at.y() < 0 || row >= int(steps_.Count())) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const int column = header_->logicalIndexAt(at.x());
    if (column >= 0) {
        const QRect cell = CellRect(row, column);
        Steps::ClickAt(steps_.Steps()[size_t(row)], column, at.x() - cell.left(), at.y() - cell.top());
    }
    Select(row);
    viewport()->update();
}

void CTriggerListCtrl::keyPressEvent(QKeyEvent* event) {
    // The keys of a list: also from the edits, which leave these alone.
    const int count = int(steps_.Count());
    const int page = std::max(1, viewport()->height() / kRow);
    int row = selected_;
    switch (event->key()) {
    case Qt::Key_Up: row -= 1; break;
    case Qt::Key_Down: row += 1; break;
    case Qt::Key_PageUp: row -= page; break;
    case Qt::Key_PageDown: row += page; break;
    case Qt::Key_Home: row = 0; break;
    case Qt::Key_End: row = count - 1; break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    if (count == 0) return;
    row = std::clamp(row, 0, count - 1);
    Select(row);
    ScrollTo(row);
}

void CTriggerListCtrl::CommitEdits() {
    if (editRow_ < 0 || size_t(editRow_) >= steps_.Count()) return;
    Steps::Commit(steps_.Steps()[size_t(editRow_)], address_->text().toStdString(), data_->text().toStdString());
}

void CTriggerListCtrl::Select(int row) {
    if (row == selected_) return;
    CommitEdits();
    Reload(row);
}

void CTriggerListCtrl::Reload(int row) {
    selected_ = row >= 0 && size_t(row) < steps_.Count() ? row : -1;
    editRow_ = selected_;
    if (selected_ >= 0) {
        const TriggerStep& step = steps_.Steps()[size_t(selected_)];
        address_->setText(QString::fromStdString(TriggerAddressText(step.address)));
        data_->setText(QString::fromStdString(step.data));
    }
    UpdateScroll();
    PlaceEdits();
    viewport()->update();
    emit SelectionChanged(selected_);
}

void CTriggerListCtrl::ScrollTo(int row) {
    if (row < 0) return;
    const int top = row * kRow;
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value()) bar->setValue(top);
    else if (top + kRow > bar->value() + viewport()->height()) bar->setValue(top + kRow - viewport()->height());
}

void CTriggerListCtrl::PlaceEdits() {
    if (selected_ < 0) {
        address_->hide();
        data_->hide();
        return;
    }
    // Over the address and pattern cells, 2 pixels in at the sides and 51 at top and bottom.
    address_->setGeometry(CellRect(selected_, Steps::ColAddress).adjusted(2, 51, -2, -51));
    data_->setGeometry(CellRect(selected_, Steps::ColPattern).adjusted(2, 51, -2, -51));
    address_->show();
    data_->show();
}

// ---------------------------------------------------------------- the page

CTriggerOptionDlg::CTriggerOptionDlg(SetupXml& setup, QWidget* parent)
    : QWidget(parent), setup_(setup), list_(new CTriggerListCtrl(steps_, this)) {
    setWindowTitle(U("触发设置"));
    auto* buttons = new QHBoxLayout;
    const char* texts[] = {"添加", "删除", "清空", "上移", "下移"};
    for (int i = 0; i < 5; ++i) {
        buttons_[i] = new QPushButton(U(texts[i]), this);
        buttons_[i]->setAutoDefault(false);
        buttons->addWidget(buttons_[i]);
    }
    buttons->addStretch(1);
    connect(buttons_[Add], &QPushButton::clicked, this, &CTriggerOptionDlg::OnAdd);
    connect(buttons_[Remove], &QPushButton::clicked, this, &CTriggerOptionDlg::OnRemove);
    connect(buttons_[Clear], &QPushButton::clicked, this, &CTriggerOptionDlg::OnClear);
    connect(buttons_[Up], &QPushButton::clicked, this, [this] { OnMove(true); });
    connect(buttons_[Down], &QPushButton::clicked, this, [this] { OnMove(false); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 10, 5, 5);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    connect(&timer_, &QTimer::timeout, this, &CTriggerOptionDlg::UpdateButtons);
    connect(list_, &CTriggerListCtrl::SelectionChanged, this, &CTriggerOptionDlg::UpdateButtons);
    timer_.start(200);
    LoadTriggerSteps();
}

void CTriggerOptionDlg::LoadTriggerSteps() {
    steps_.Load(setup_);
    list_->Reload(-1);
    UpdateButtons();
}

bool CTriggerOptionDlg::StoreTriggerSteps() {
    list_->CommitEdits();
    if (!steps_.Store(setup_)) {
        Prompt().Message(this, QMessageBox::Warning, U(SetupXml::kTooManyStepsText));
        return false;
    }
    if (steps_.PatternCut()) Prompt().Message(this, QMessageBox::Information, U(kPatternCutText));
    return true;
}

void CTriggerOptionDlg::UpdateButtons() {
    const CTriggerSteps::ButtonStates s = steps_.States(list_->Selected());
    buttons_[Remove]->setEnabled(s.remove);
    buttons_[Clear]->setEnabled(s.clear);
    buttons_[Up]->setEnabled(s.up);
    buttons_[Down]->setEnabled(s.down);
}

void CTriggerOptionDlg::OnAdd() {
    list_->CommitEdits();
    if (!steps_.Add()) {
        Prompt().Message(this, QMessageBox::Warning, U(CTriggerSteps::kTooManyText));
        return;
    }
    const int row = int(steps_.Count()) - 1;
    list_->Reload(row);
    list_->ScrollTo(row);
    UpdateButtons();
}

void CTriggerOptionDlg::OnRemove() {
    list_->CommitEdits();
    list_->Reload(steps_.Remove(list_->Selected()));
    UpdateButtons();
}

void CTriggerOptionDlg::OnClear() {
    if (Prompt().Message(this, QMessageBox::Question, U(CTriggerSteps::kClearQuestion),
                         QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    steps_.Clear();
    list_->Reload(-1);
    UpdateButtons();
}

void CTriggerOptionDlg::OnMove(bool up) {
    list_->CommitEdits();
    const int row = up ? steps_.MoveUp(list_->Selected()) : steps_.MoveDown(list_->Selected());
    list_->Reload(row);
    list_->ScrollTo(row);
    UpdateButtons();
}

}  // namespace orvane::app
