#include "CListHeader.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>

#include <memory>

#include "CPacketListColumns.h"

namespace orvane::app {

CListHeader::CListHeader(CPacketListColumns& columns, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), columns_(columns) {
    setSectionsMovable(true);
    setStretchLastSection(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    delay_.setSingleShot(true);
    delay_.setInterval(kFilterDelayMs);
    connect(&delay_, &QTimer::timeout, this, &CListHeader::FilterChanged);
    for (int c = 0; c < CPacketListColumns::kCount; ++c) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("filter%1").arg(c));
        edit->setClearButtonEnabled(false);
        connect(edit, &QLineEdit::textEdited, this, [this] { delay_.start(); });
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            delay_.stop();
            emit FilterChanged();
        });
        edits_.push_back(edit);
    }
    connect(this, &QHeaderView::sectionResized, this, &CListHeader::PlaceEdits);
    connect(this, &QHeaderView::sectionMoved, this, &CListHeader::PlaceEdits);
}

int CListHeader::EditHeight() const { return edits_.empty() ? 0 : edits_.front()->sizeHint().height(); }

QSize CListHeader::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(size.height() + EditHeight());
    return size;
}

void CListHeader::updateGeometries() {
    // The titles keep the top; the edits sit in a margin below them.
    setViewportMargins(0, 0, 0, EditHeight());
    QHeaderView::updateGeometries();
    PlaceEdits();
}

void CListHeader::PlaceEdits() {
    const int top = viewport()->geometry().bottom() + 1;
    const int height = EditHeight();
    for (int c = 0; c < int(edits_.size()) && c < count(); ++c) {
        QLineEdit* edit = edits_[size_t(c)];
        if (isSectionHidden(c) || sectionSize(c) <= 0) {
            edit->hide();
            continue;
        }
        edit->setGeometry(sectionViewportPosition(c), top, sectionSize(c), height);
        edit->show();
    }
}

std::vector<std::string> CListHeader::FilterTexts() const {
    std::vector<std::string> texts;
    for (const QLineEdit* edit : edits_) texts.push_back(edit->text().toStdString());
    return texts;
}

void CListHeader::ClearFilterTexts() {
    delay_.stop();
    for (QLineEdit* edit : edits_) edit->clear();
}

QMenu* CListHeader::CreateColumnMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const CPacketListColumns::MenuEntry& entry : columns_.HeaderMenu()) {
        QAction* action = menu->addAction(QString::fromStdString(entry.title));
        action->setData(entry.command);
        action->setCheckable(true);
        action->setChecked(entry.checked);
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this, [this, column = entry.command] { emit ColumnToggled(column); });
    }
    return menu;
}

bool CListHeader::OnHandle(int x) const {
    const int visual = visualIndexAt(x);
    if (visual < 0) return false;
    const int logical = logicalIndex(visual);
    const int left = sectionViewportPosition(logical);
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
    if (x > left + sectionSize(logical) - grip) return true;
    // The left grip resizes the section shown before this one, if any.
    if (x >= left + grip) return false;
    for (int before = visual - 1; before >= 0; --before)
        if (!isSectionHidden(logicalIndex(before))) return true;
    return false;
}

void CListHeader::mousePressEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    const bool drag = event->button() == Qt::LeftButton && sectionsMovable() && !OnHandle(x);
    if (firstMovable_ || !drag || logicalIndexAt(x) != 0) {
        dragging_ = drag;
        QHeaderView::mousePressEvent(event);
        return;
    }
    // A press on the first section only clicks it.
    dragging_ = false;
    setSectionsMovable(false);
    QHeaderView::mousePressEvent(event);
    setSectionsMovable(true);
}

void CListHeader::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && !firstMovable_ && (event->buttons() & Qt::LeftButton) &&
        visualIndexAt(event->position().toPoint().x()) == 0 && logicalIndex(0) == 0)
        return;
    QHeaderView::mouseMoveEvent(event);
}

void CListHeader::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QHeaderView::mouseReleaseEvent(event);
}

void CListHeader::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) return;
    std::unique_ptr<QMenu> menu(CreateColumnMenu(this));
    menu->exec(event->globalPos());
}

}  // namespace orvane::app
