#include "CUsbListCtrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace orvane::app {

namespace {

constexpr int kBoxSize = 9;

int IndentOf(const QModelIndex& index) {
    const int depth = index.data(CPacketListModel::DepthRole).toInt();
    return std::max(0, depth - 1) * CPacketList::kIndentStep;
}

QRect BoxIn(const QRect& cell, const QModelIndex& index) {
    const int left = cell.left() + IndentOf(index) + 3;
    return QRect(left, cell.top() + (cell.height() - kBoxSize) / 2, kBoxSize, kBoxSize);
}

// Draws the depth indent and the expand box, then the icon and text after them.
class ItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.column() != CPacketListCells::ColItem) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.icon = QIcon();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

        if (index.data(CPacketListModel::HasChildrenRole).toBool()) {
            const QRect box = BoxIn(option.rect, index);
            painter->save();
            painter->setPen(QColor(0x80, 0x80, 0x80));
            painter->setBrush(Qt::white);
            painter->drawRect(box.adjusted(0, 0, -1, -1));
            painter->setPen(Qt::black);
            const int midY = box.center().y(), midX = box.center().x();
            painter->drawLine(box.left() + 2, midY, box.right() - 2, midY);
            if (!index.data(CPacketListModel::ExpandedRole).toBool())
                painter->drawLine(midX, box.top() + 2, midX, box.bottom() - 2);
            painter->restore();
        }
        QStyleOptionViewItem rest = option;
        rest.rect.setLeft(option.rect.left() + IndentOf(index) + kBoxSize + 6);
        QStyledItemDelegate::paint(painter, rest, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(CPacketList::kRowHeight);
        return size;
    }
};

}  // namespace

CUsbListCtrl::CUsbListCtrl(CPacketListModel* model, QWidget* parent) : QTreeView(parent), model_(model) {
    setModel(model);
    setItemDelegate(new ItemDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setIconSize(QSize(16, 16));
    header()->setSectionsMovable(true);
    header()->setStretchLastSection(false);
    ApplyColumns();
    connect(model, &CPacketListModel::GoToRow, this, [this](int row) {
        if (row >= 0) SelectRow(row);
    });
}

void CUsbListCtrl::ApplyColumns() {
    CPacketListColumns& columns = model_->List().Columns();
    QHeaderView* h = header();
    const auto& order = columns.Order();
    for (int visual = 0; visual < CPacketListColumns::kCount; ++visual) {
        const int logical = order[size_t(visual)];
        const int from = h->visualIndex(logical);
        if (from != visual) h->moveSection(from, visual);
    }
    for (int c = 0; c < CPacketListColumns::kCount; ++c) {
        h->setSectionHidden(c, !columns.Visible(c));
        if (columns.Visible(c)) h->resizeSection(c, columns.Width(c));
    }
}

QRect CUsbListCtrl::ExpandBox(const QModelIndex& index) const {
    const QModelIndex cell = index.siblingAtColumn(CPacketListCells::ColItem);
    return BoxIn(visualRect(cell), cell);
}

void CUsbListCtrl::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && index.data(CPacketListModel::HasChildrenRole).toBool() &&
        ExpandBox(index).adjusted(-2, -2, 2, 2).contains(event->position().toPoint())) {
        model_->ToggleExpand(index.row());
        SelectRow(index.row());
        return;
    }
    QTreeView::mousePressEvent(event);
}

void CUsbListCtrl::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        const int row = currentIndex().row();
        model_->ToggleExpand(row);
        SelectRow(row);
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CUsbListCtrl::SelectRow(int row) {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid()) return;
    setCurrentIndex(index);
    scrollTo(index);
}

void CUsbListCtrl::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    if (!current.isValid() || current.row() == previous.row()) return;
    UsbItem* item = model_->ItemAt(current.row());
    IEventPublisher* bus = model_->Publisher();
    if (!item || !bus) return;
    bus->Publish(model_, EventItemSelected, reinterpret_cast<intptr_t>(item),
                 reinterpret_cast<intptr_t>(model_->Decoder()));
}

}  // namespace orvane::app
