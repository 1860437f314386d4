#include "CUsbListCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "CBookmarkDlg.h"
#include "CFindSheet.h"
#include "CRecordSheet.h"
#include "CListHeader.h"
#include "IPrompt.h"
#include "MarkTip.h"
#include "SettingStore.h"
#include "SetupXml.h"

namespace orvane::app {

namespace {

using Cmd = CPacketListCommands;

QString U(const char* text) { return QString::fromUtf8(text); }

// The list's own artwork: two expand boxes (11 x 11), the trigger and the
// bookmark symbols (16 x 16).
struct Artwork {
    QPixmap expand[2];
    QPixmap mark[2];

    template <size_t N>
    static QPixmap Symbol(const QPointF (&outline)[N], const QColor& pen, const QColor& fill) {
        QPixmap symbol(16, 16);
        symbol.fill(Qt::transparent);
        QPainter p(&symbol);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(pen, 1));
        p.setBrush(fill);
        p.drawPolygon(outline, int(N));
        return symbol;
    }

    Artwork() {
        for (int open = 0; open < 2; ++open) {
            // White is the mask colour: the row's highlight shows inside the box.
            QPixmap box(11, 11);
            box.fill(Qt::transparent);
            QPainter p(&box);
            p.setPen(QColor(0x80, 0x80, 0x80));
            p.drawRect(0, 0, 10, 10);
            p.setPen(Qt::black);
            p.drawLine(2, 5, 8, 5);
            if (!open) p.drawLine(5, 2, 5, 8);
            expand[open] = box;
        }
        const QPointF bolt[] = {{9, 1}, {3, 9}, {7.5, 9}, {6, 15}, {13, 6}, {8.5, 6}, {10, 1}};
        mark[0] = Symbol(bolt, QColor(0x80, 0, 0), QColor(0xE0, 0x20, 0x20));
        const QPointF flag[] = {{4, 1.5}, {12, 1.5}, {12, 14.5}, {8, 10.5}, {4, 14.5}};
        mark[1] = Symbol(flag, QColor(0x10, 0x30, 0x90), QColor(0x30, 0x70, 0xE0));
    }
};

const Artwork& Art() {
    static const Artwork art;
    return art;
}

void RowHighlight(QPainter* p, const QRectF& r, const CPacketList::Highlight& colours) {
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0, QColor::fromRgba(colours.gradientTop));
    gradient.setColorAt(1, QColor::fromRgba(colours.gradientBottom));
    QPainterPath outer, inner;
    outer.addRoundedRect(r.adjusted(3, 1, -3, -1), 2, 2);
    inner.addRoundedRect(r.adjusted(4, 2, -4, -2), 2, 2);
    p->fillPath(outer, gradient);
    p->strokePath(inner, QPen(QColor::fromRgba(colours.innerPen), 1));
    p->strokePath(outer, QPen(QColor::fromRgba(colours.outerPen), 1));
}

}  // namespace

CUsbListCtrl::CUsbListCtrl(CPacketListModel* model, QWidget* parent)
    : QAbstractItemView(parent),
      model_(model),
      header_(new CListHeader(model->List().Columns(), this)),
      commands_(model->List()),
      find_(model->List()) {
    // The first column stays where it is against the user's drags, as in a tree.
    header_->SetFirstSectionMovable(false);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(header_, &QHeaderView::sectionMoved, this, [this] { viewport()->update(); });
    connect(header_, &QHeaderView::sectionCountChanged, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(header_, &QHeaderView::sectionHandleDoubleClicked, this, &CUsbListCtrl::ResizeColumnToContents);
    connect(header_, &QHeaderView::geometriesChanged, this, &CUsbListCtrl::updateGeometries);
    setModel(model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // The bar counts rows; across, it counts pixels.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(16, 16));
    setMouseTracking(true);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    setFont(font);

    // One tool for the whole list; the text comes from the row under the cursor at each show.
    tooltip_.Create(this);
    tooltip_.SetNotify([this](ToolTipDisplayNotify& notify) { AnswerTipNotify(notify); });
    ToolInfo tool;
    tool.id = kToolId;
    tool.mask = MaskBehaviour;
    tool.behaviour = ShowAgain;
    tooltip_.AddTool(this, tool);
    tooltip_.RelayEventsOf(this);
    tooltip_.RelayEventsOf(viewport());
    tipTimer_.setSingleShot(true);
    connect(&tipTimer_, &QTimer::timeout, this, [this] { tooltip_.HideTooltip(); });

    ApplyColumns();
    connect(header_, &QHeaderView::sectionMoved, this, &CUsbListCtrl::ScheduleLayoutSave);
    connect(header_, &QHeaderView::sectionResized, this, &CUsbListCtrl::ScheduleLayoutSave);
    connect(header_, &CListHeader::FilterChanged, this, &CUsbListCtrl::ApplyHeaderFilter);
    connect(header_, &CListHeader::ColumnToggled, this, &CUsbListCtrl::ToggleColumn);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, header_, &CListHeader::PlaceEdits);
    connect(model, &CPacketListModel::GoToRow, this, [this](int row) {
        tipTimer_.stop();
        tooltip_.HideTooltip();
        if (row >= 0) SelectRow(row); else ShowHiddenPacketTip();
    });
    connect(model, &CPacketListModel::HeaderFilterCleared, header_, &CListHeader::ClearFilterTexts);
    connect(model, &CPacketListModel::MarksChanged, viewport(), qOverload<>(&QWidget::update));
    updateGeometries();
}

CUsbListCtrl::~CUsbListCtrl() {
    // The header is a child: hidden and destroyed after this part of the
    // list, what it then signals must not reach the list.
    header_->disconnect(this);
}

// ---------------------------------------------------------------- columns

void CUsbListCtrl::SetSettings(SettingStore* settings) {
    settings_ = settings;
    if (settings_) model_->List().Columns().Load(*settings_);
    ApplyColumns();
}

void CUsbListCtrl::ApplyColumns() {
    applyingColumns_ = true;
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
    applyingColumns_ = false;
    header_->PlaceEdits();
}

void CUsbListCtrl::ScheduleLayoutSave() {
    // Once per burst of header changes, after the header has settled.
    if (applyingColumns_ || savePending_) return;
    savePending_ = true;
    QMetaObject::invokeMethod(this, [this] { SaveColumnLayout(); }, Qt::QueuedConnection);
}

void CUsbListCtrl::SaveColumnLayout() {
    savePending_ = false;
    CPacketListColumns& columns = model_->List().Columns();
    const QHeaderView* h = header();
    std::vector<int> order;
    for (int visual = 0; visual < CPacketListColumns::kCount; ++visual) order.push_back(h->logicalIndex(visual));
    columns.SetOrder(order);
    for (int c = 0; c < CPacketListColumns::kCount; ++c)
        if (!h->isSectionHidden(c)) columns.SetWidth(c, h->sectionSize(c));
    if (!settings_) return;
    columns.Save(*settings_);
    emit SettingsChanged();
}

void CUsbListCtrl::ToggleColumn(int column) {
    // The header's widths first, so a hidden column keeps the width it had.
    SaveColumnLayout();
    if (!model_->List().Columns().ToggleColumn(column)) return;
    ApplyColumns();
    SaveColumnLayout();
    viewport()->update();
}

// ---------------------------------------------------------------- filter bar

void CUsbListCtrl::ApplyHeaderFilter() {
    model_->ApplyHeaderFilter(header_->FilterTexts());
}

void CUsbListCtrl::OnClearFilter() {
    header_->ClearFilterTexts();
    model_->ApplyHeaderFilter({});
}

// ---------------------------------------------------------------- geometry

QHeaderView* CUsbListCtrl::header() const { return header_; }

void CUsbListCtrl::setModel(QAbstractItemModel* model) {
    if (model == this->model()) return;
    header_->setModel(model);
    QAbstractItemView::setModel(model);
    if (!model) return;
    // Rows that went change the scroll range and what shows, nothing else.
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CUsbListCtrl::RowsChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &CUsbListCtrl::RowsChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &CUsbListCtrl::SelectionDropped);
}

void CUsbListCtrl::setSelectionModel(QItemSelectionModel* selectionModel) {
    header_->setSelectionModel(selectionModel);
    QAbstractItemView::setSelectionModel(selectionModel);
}

int CUsbListCtrl::FirstRow() const { return verticalScrollBar()->value(); }

int CUsbListCtrl::PageRows() const { return std::max(1, viewport()->height() / CPacketList::kRowHeight); }

int CUsbListCtrl::RowAt(int y) const {
    if (y < 0) return -1;
    const int64_t row = int64_t(FirstRow()) + y / CPacketList::kRowHeight;
    return row < model_->rowCount() ? int(row) : -1;
}

QRect CUsbListCtrl::RowRect(int row) const {
    const int64_t top = int64_t(row - FirstRow()) * CPacketList::kRowHeight;
    // Far off screen: clamped, so that it never wraps into view.
    const int y = int(std::clamp<int64_t>(top, -(int64_t(1) << 30), int64_t(1) << 30));
    return QRect(0, y, viewport()->width(), CPacketList::kRowHeight);
}

QRect CUsbListCtrl::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model_ || isIndexHidden(index)) return {};
    const QRect row = RowRect(index.row());
    return QRect(header_->sectionViewportPosition(index.column()), row.top(), header_->sectionSize(index.column()),
                 row.height());
}

QModelIndex CUsbListCtrl::indexAt(const QPoint& point) const {
    const int row = RowAt(point.y());
    const int column = header_->logicalIndexAt(point.x());
    if (row < 0 || column < 0) return {};
    return model_->index(row, column);
}

void CUsbListCtrl::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model_) return;
    UpdateScrollBars();
    QScrollBar* bar = verticalScrollBar();
    const int row = index.row();
    const int top = bar->value();
    const int page = PageRows();
    if (hint == EnsureVisible && row >= top && row < top + page) {
        // already on screen
    } else if (hint == PositionAtTop || (hint == EnsureVisible && row < top)) {
        bar->setValue(row);
    } else if (hint == PositionAtCenter) {
        bar->setValue(row - (page - 1) / 2);
    } else {
        bar->setValue(row - page + 1);
    }
    // Across, the cell's column comes into view.
    const int width = viewport()->width();
    const int offset = header_->offset();
    const int position = header_->sectionPosition(index.column());
    const int cell = header_->sectionSize(index.column());
    if (hint == PositionAtCenter)
        horizontalScrollBar()->setValue(position - (width - cell) / 2);
    else if (position - offset < 0 || cell > width)
        horizontalScrollBar()->setValue(position);
    else if (position - offset + cell > width)
        horizontalScrollBar()->setValue(position - width + cell);
}

QModelIndex CUsbListCtrl::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = model_->rowCount();
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        // The first row, at the first column shown.
        for (int visual = 0; visual < header_->count() && rows > 0; ++visual)
            if (!header_->isSectionHidden(header_->logicalIndex(visual)))
                return model_->index(0, header_->logicalIndex(visual));
        return {};
    }
    const int row = current.row();
    int to = row;
    switch (action) {
    case MoveUp:
    case MovePrevious: to = row - 1; break;
    case MoveDown:
    case MoveNext: to = row + 1; break;
    case MovePageUp: to = row - PageRows(); break;
    case MovePageDown: to = row + PageRows(); break;
    case MoveHome: to = 0; break;
    case MoveEnd: to = rows - 1; break;
    case MoveLeft:
    case MoveRight: {
        // Rows are whole: left and right scroll across.
        QScrollBar* bar = horizontalScrollBar();
        bar->setValue(bar->value() + (action == MoveLeft ? -bar->singleStep() : bar->singleStep()));
        return current;
    }
    }
    return model_->index(std::clamp(to, 0, std::max(0, rows - 1)), current.column());
}

int CUsbListCtrl::horizontalOffset() const { return header_->offset(); }

int CUsbListCtrl::verticalOffset() const { return FirstRow() * CPacketList::kRowHeight; }

bool CUsbListCtrl::isIndexHidden(const QModelIndex& index) const { return header_->isSectionHidden(index.column()); }

void CUsbListCtrl::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    QItemSelectionModel* selection = selectionModel();
    if (!selection || rect.isNull()) return;
    const QRect r = rect.normalized();
    const QModelIndex topLeft = indexAt(r.topLeft());
    const QModelIndex bottomRight = indexAt(r.bottomRight());
    if (!topLeft.isValid() && !bottomRight.isValid()) {
        if (command & QItemSelectionModel::Clear) selection->clear();
        return;
    }
    // A corner off the rows stands for the first or the last row.
    const int first = topLeft.isValid() ? topLeft.row() : 0;
    const int last = bottomRight.isValid() ? bottomRight.row() : model_->rowCount() - 1;
    selection->select(QItemSelection(model_->index(std::min(first, last), 0),
                                     model_->index(std::max(first, last), model_->columnCount() - 1)),
                      command);
}

QRegion CUsbListCtrl::visualRegionForSelection(const QItemSelection& selection) const {
    // Only the rows on screen: a selection may span more rows than a region can hold.
    const int first = FirstRow();
    const int last = first + viewport()->height() / CPacketList::kRowHeight;
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid()) continue;
        const int top = std::max(range.top(), first), bottom = std::min(range.bottom(), last);
        if (top <= bottom) region += RowRect(top).united(RowRect(bottom));
    }
    return region;
}

void CUsbListCtrl::UpdateScrollBars() {
    const int rows = model_->rowCount();
    const int page = PageRows();
    QScrollBar* down = verticalScrollBar();
    down->setRange(0, std::max(0, rows - page));
    down->setPageStep(page);
    down->setSingleStep(1);
    const int width = viewport()->width();
    const int length = header_->length();
    QScrollBar* across = horizontalScrollBar();
    across->setPageStep(width);
    across->setRange(0, std::max(0, length - width));
    int columns = 0;
    for (int visual = header_->count() - 1, used = 0; visual >= 0; --visual) {
        used += header_->sectionSize(header_->logicalIndex(visual));
        if (used > width) break;
        ++columns;
    }
    across->setSingleStep(std::max(width / (std::max(columns, 1) + 1), 2));
}

void CUsbListCtrl::updateGeometries() {
    // The header sits in a margin above the rows, as wide as they are.
    if (placingHeader_) return;
    placingHeader_ = true;
    int height = 0;
    if (!header_->isHidden())
        height = std::min(std::max(header_->minimumHeight(), header_->sizeHint().height()), header_->maximumHeight());
    setViewportMargins(0, height, 0, 0);
    const QRect rows = viewport()->geometry();
    header_->setGeometry(rows.left(), rows.top() - height, rows.width(), height);
    QMetaObject::invokeMethod(header_, "updateGeometries");
    UpdateScrollBars();
    header_->setOffset(horizontalScrollBar()->value());
    placingHeader_ = false;
    QAbstractItemView::updateGeometries();
}

void CUsbListCtrl::scrollContentsBy(int dx, int dy) {
    if (dx) header_->setOffset(horizontalScrollBar()->value());
    // The bar counts rows.
    const int pixels = dy * CPacketList::kRowHeight;
    if (std::abs(dy) >= PageRows()) viewport()->update();
    else viewport()->scroll(dx, pixels);
}

void CUsbListCtrl::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    RowsChanged();
}

void CUsbListCtrl::RowsChanged() {
    UpdateScrollBars();
    viewport()->update();
}

void CUsbListCtrl::ResizeColumnToContents(int column) {
    // The rows on screen decide, as a tree view's would.
    if (column < 0 || column >= header_->count()) return;
    const QFontMetrics metrics(font());
    int width = header_->sectionSizeHint(column);
    int first = -1;
    for (int visual = 0; visual < header_->count() && first < 0; ++visual)
        if (!header_->isSectionHidden(header_->logicalIndex(visual))) first = header_->logicalIndex(visual);
    CPacketList& list = model_->List();
    const int end = std::min(model_->rowCount(), FirstRow() + PageRows() + 1);
    for (int row = FirstRow(); row < end; ++row) {
        const CPacketList::RowPaint paint = list.PaintRow(row);
        if (!paint.item) continue;
        int used = 2 * CPacketList::kCellPadding;
        if (column == first) used += CPacketList::kMarkArea;
        if (column == CPacketListCells::ColItem) {
            const QModelIndex index = model_->index(row, column);
            const QRect box = ExpandBox(index);
            used += box.right() + 1 - header_->sectionViewportPosition(column) + CPacketList::kIconWidth;
        }
        used += metrics.horizontalAdvance(QString::fromStdString(list.GetCellText(paint.item, column)));
        width = std::max(width, used);
    }
    header_->resizeSection(column, width);
}

// ---------------------------------------------------------------- drawing

QRect CUsbListCtrl::ExpandBox(const QModelIndex& index) const {
    const QHeaderView* h = header();
    int first = -1;
    for (int visual = 0; visual < h->count() && first < 0; ++visual)
        if (!h->isSectionHidden(h->logicalIndex(visual))) first = h->logicalIndex(visual);
    const QRect row = visualRect(index.siblingAtColumn(CPacketListCells::ColItem));
    const int depth = index.isValid() ? index.data(CPacketListModel::DepthRole).toInt() : 0;
    const CPacketList::Rect r = CPacketList::ExpandBoxRect(depth, first == CPacketListCells::ColItem,
                                                           h->sectionPosition(CPacketListCells::ColItem), h->offset(),
                                                           row.top(), row.top() + CPacketList::kRowHeight);
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void CUsbListCtrl::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int rows = model_->rowCount();
    const int first = RowAt(std::max(0, area.top()));
    if (first < 0) return;
    for (int row = first; row < rows; ++row) {
        const int top = RowRect(row).top();
        if (top > area.bottom()) break;
        DrawRow(&painter, top, row);
    }
}

void CUsbListCtrl::DrawRow(QPainter* p, int top, int row) const {
    CPacketList& list = model_->List();
    const QHeaderView* h = header();
    const QModelIndex index = model_->index(row, 0);
    const QRect R(-h->offset(), top, h->length(), CPacketList::kRowHeight);
    std::vector<int> shown;
    for (int visual = 0; visual < h->count(); ++visual)
        if (!h->isSectionHidden(h->logicalIndex(visual))) shown.push_back(h->logicalIndex(visual));
    p->save();

    p->setPen(QColor(QRgb(CPacketList::kGridLine)));
    for (int column : shown) {
        const int x = h->sectionViewportPosition(column) + h->sectionSize(column) - 1;
        p->drawLine(x, R.top(), x, R.bottom());
    }

    p->setRenderHint(QPainter::Antialiasing, true);
    const QRectF highlight(R.left() + CPacketList::kMarkArea, R.top(), R.width() - CPacketList::kMarkArea, R.height());
    if (selectionModel() && selectionModel()->isRowSelected(row, QModelIndex()))
        RowHighlight(p, highlight, hasFocus() ? CPacketList::kSelectedFocused : CPacketList::kSelectedUnfocused);
    if (hoverRow_ == row) RowHighlight(p, highlight, CPacketList::kHover);
    p->setRenderHint(QPainter::Antialiasing, false);

    const CPacketList::RowPaint paint = list.PaintRow(row);
    if (!paint.item) {
        p->restore();
        return;
    }
    const Artwork& art = Art();
    const QColor text = QColor(QRgb(paint.textColour));
    const QFontMetrics metrics(font());
    bool first = true;
    for (int column : shown) {
        const QRect cell(h->sectionViewportPosition(column), R.top(), h->sectionSize(column), R.height());
        int left = cell.left();
        if (first) {
            p->fillRect(QRect(left, cell.top(), CPacketList::kMarkArea, CPacketList::kRowHeight),
                        palette().color(QPalette::Button));
            if (paint.mark) p->drawPixmap(left, cell.top() + 2, art.mark[1]);
            if (paint.trigger) p->drawPixmap(left, cell.top() + 2, art.mark[0]);
            left += CPacketList::kMarkArea;
            first = false;
        }
        left += CPacketList::kCellPadding;
        if (column == CPacketListCells::ColItem) {
            const QRect box = ExpandBox(index);
            if (paint.hasChildren) p->drawPixmap(box.topLeft(), art.expand[paint.expanded ? 1 : 0]);
            left = box.right() + 1 + CPacketList::kCellPadding;
            const QPixmap icon = model_->Icon(paint.icons, paint.icon);
            if (!icon.isNull()) p->drawPixmap(left, cell.top() + 2, icon);
            left += CPacketList::kIconWidth;
        }
        const int width = cell.right() + 1 - left;
        if (width <= 0) continue;
        const QString cellText = QString::fromStdString(list.GetCellText(paint.item, column));
        p->setPen(text);
        p->drawText(QRect(left, cell.top(), width, cell.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    metrics.elidedText(cellText, Qt::ElideRight, width));
    }
    p->restore();
}

// ---------------------------------------------------------------- mouse and keys

void CUsbListCtrl::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() &&
        index.data(CPacketListModel::HasChildrenRole).toBool() &&
        ExpandBox(index).adjusted(-1, -1, 1, 1).contains(event->position().toPoint())) {
        model_->ToggleExpand(index.row());
        SelectRow(index.row());
        return;
    }
    QAbstractItemView::mousePressEvent(event);
}

void CUsbListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        QAbstractItemView::mouseDoubleClickEvent(event);
        return;
    }
    model_->ToggleExpand(index.row());
    SelectRow(index.row());
}

void CUsbListCtrl::mouseMoveEvent(QMouseEvent* event) {
    const int row = indexAt(event->position().toPoint()).row();
    if (row != hoverRow_) {
        hoverRow_ = row;
        viewport()->update();
    }
    QAbstractItemView::mouseMoveEvent(event);
}

void CUsbListCtrl::wheelEvent(QWheelEvent* event) {
    QAbstractItemView::wheelEvent(event);
    // The rows moved under the cursor (a wheel turns over the list only): the
    // highlight follows the cursor, not the row.
    hoverRow_ = indexAt(event->position().toPoint()).row();
    viewport()->update();
}

void CUsbListCtrl::leaveEvent(QEvent* event) {
    hoverRow_ = kNoHover;
    viewport()->update();
    QAbstractItemView::leaveEvent(event);
}

void CUsbListCtrl::keyPressEvent(QKeyEvent* event) {
    const int row = SelectedRow();
    UsbItem* item = row >= 0 ? model_->ItemAt(row) : nullptr;
    const int key = event->key();
    if (!item || (key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Return && key != Qt::Key_Enter)) {
        QAbstractItemView::keyPressEvent(event);
        return;
    }
    const bool children = CPacketListRows::HasChildren(item);
    const bool open = children && CPacketListRows::Expanded(item);
    if (key == Qt::Key_Left) {
        if (open) {
            model_->ToggleExpand(row);
        } else if (const int parentRow = model_->List().Rows().ParentRow(row); parentRow >= 0) {
            SelectRow(parentRow);
            viewport()->update();
        }
    } else if (key == Qt::Key_Right) {
        if (children && !open) {
            model_->ToggleExpand(row);
        } else if (open) {
            const bool scrolls = hasAutoScroll();
            setAutoScroll(false);
            setCurrentIndex(model_->index(row + 1, 0));
            setAutoScroll(scrolls);
        }
    } else {
        model_->ToggleExpand(row);
    }
    event->accept();
}

// ---------------------------------------------------------------- selection

int CUsbListCtrl::SelectedRow() const {
    const QItemSelectionModel* selection = selectionModel();
    if (!selection) return -1;
    const QModelIndex current = currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex())) return current.row();
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void CUsbListCtrl::SelectRow(int row) {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid()) return;
    setCurrentIndex(index);
    scrollTo(index);
}

void CUsbListCtrl::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    // The whole rows: they are drawn whole.
    if (previous.isValid()) viewport()->update(RowRect(previous.row()));
    if (current.isValid()) viewport()->update(RowRect(current.row()));
    QAbstractItemView::currentChanged(current, previous);
    PublishSelection();
}

void CUsbListCtrl::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    PublishSelection();
}

void CUsbListCtrl::PublishSelection() {
    // The panes show what the list shows selected: a current row without the
    // selection (the focus coming back after a reset puts it on row 0) is none.
    const int row = SelectedRow();
    UsbItem* item = row >= 0 ? model_->ItemAt(row) : nullptr;
    if (item == publishedItem_) return;
    model_->List().SetSelectedItem(item);
    IEventPublisher* bus = model_->Publisher();
    if (!bus) return;
    publishedItem_ = item;
    bus->Publish(model_, EventItemSelected, reinterpret_cast<intptr_t>(item),
                 item ? reinterpret_cast<intptr_t>(model_->Decoder()) : 0);
}

void CUsbListCtrl::SelectionDropped() {
    // The detail pane is cleared by the frame; the view plug-ins (the data
    // pane's bytes) hear it as a selection of no item. The item may be gone.
    model_->List().SetSelectedItem(nullptr);
    if (!publishedItem_) return;
    publishedItem_ = nullptr;
    if (IEventPublisher* bus = model_->Publisher()) bus->Publish(model_, EventItemSelected, 0, 0);
}

// ---------------------------------------------------------------- commands

bool CUsbListCtrl::HandlesCommand(int id) const {
    if (CPacketListColumns::Valid(id) || id == Cmd::CmdClearFilter) return true;
    for (const Cmd::MenuEntry& entry : Cmd::RowMenu())
        if (entry.id != 0 && entry.id == id) return true;
    return false;
}

bool CUsbListCtrl::IsCommandEnabled(int id) {
    if (CPacketListColumns::Valid(id)) return id != CPacketListCells::ColItem;
    return commands_.Enabled(id, SelectedRow());
}

void CUsbListCtrl::OnCommand(int id) {
    if (CPacketListColumns::Valid(id)) {
        ToggleColumn(id);
        return;
    }
    switch (id) {
    case Cmd::CmdClearFilter: OnClearFilter(); break;
    case Cmd::CmdCopy: OnCopy(); break;
    case Cmd::CmdToggleSubtree: OnToggleSubtree(); break;
    case Cmd::CmdSetTrigger: OnSetTriggerCondition(); break;
    case Cmd::CmdAddTrigger: OnAddTriggerCondition(); break;
    case Cmd::CmdGoToTrigger: OnGoToTrigger(); break;
    case Cmd::CmdAddMark: OnAddMark(); break;
    case Cmd::CmdEditMark: OnEditMark(); break;
    case Cmd::CmdDeleteMark: OnDeleteMark(); break;
    case Cmd::CmdDeleteAllMarks: OnDeleteAllMarks(); break;
    case Cmd::CmdPrevMark: OnPrevMark(); break;
    case Cmd::CmdNextMark: OnNextMark(); break;
    case Cmd::CmdFindSettings: OnFindSettings(); break;
    case Cmd::CmdFindCondition: OnSetFindCondition(); break;
    case Cmd::CmdFindPrev: OnFind(false); break;
    case Cmd::CmdFindNext: OnFind(true); break;
    case Cmd::CmdTriggerSettings: OnTriggerSettings(); break;
    default: break;
    }
}

QMenu* CUsbListCtrl::CreateRowMenu(QWidget* parent) {
    emit RowMenuAboutToShow();
    auto* menu = new QMenu(parent);
    const int selected = SelectedRow();
    for (const Cmd::MenuEntry& entry : Cmd::RowMenu()) {
        if (entry.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(U(entry.text));
        action->setData(entry.id);
        bool enabled = commands_.RowMenuEnabled(entry.id, selected);
        if (QAction* shared = route_ ? route_(entry.id) : nullptr) {
            // An entry the window cannot run now would do nothing when picked.
            enabled = enabled && shared->isEnabled();
            action->setShortcut(shared->shortcut());
            action->setShortcutContext(Qt::WidgetShortcut);
            connect(action, &QAction::triggered, shared, &QAction::trigger);
        } else {
            connect(action, &QAction::triggered, this, [this, id = entry.id] { OnCommand(id); });
        }
        action->setEnabled(enabled);
    }
    return menu;
}

void CUsbListCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Keyboard) return;
    std::unique_ptr<QMenu> menu(CreateRowMenu(this));
    menu->exec(event->globalPos());
}

void CUsbListCtrl::OnCopy() {
    const std::string text = model_->List().CopyText(SelectedRow());
    if (text.empty()) return;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdString(text));
}

void CUsbListCtrl::OnToggleSubtree() {
    const int row = SelectedRow();
    if (row < 0) return;
    const int select = model_->ToggleSubtree(row);
    if (select >= 0) SelectRow(select);
}

void CUsbListCtrl::SetTriggerCondition(bool append) {
    bool cut = false;
    switch (commands_.SetTriggerCondition(SelectedRow(), append, &cut)) {
    case Cmd::TriggerResult::Refused:
        Prompt().Message(this, QMessageBox::Warning, U(SetupXml::kTooManyStepsText));
        break;
    case Cmd::TriggerResult::Stored:
        if (cut) Prompt().Message(this, QMessageBox::Information, U(kPatternCutText));
        [[fallthrough]];
    case Cmd::TriggerResult::NoSteps:
        viewport()->update();  // the trigger symbol moved
        break;
    case Cmd::TriggerResult::NoItem:
        break;
    }
}

void CUsbListCtrl::OnGoToTrigger() {
    const int row = model_->List().TriggerRow();
    if (row >= 0) SelectRow(row);
}

void CUsbListCtrl::MarksChanged() {
    viewport()->update();
    IBookmark* marks = model_->List().Bookmarks();
    if (IEventPublisher* bus = model_->Publisher(); bus && marks)
        bus->Publish(model_, EventMarksChanged, reinterpret_cast<intptr_t>(marks), 0);
}

void CUsbListCtrl::OnAddMark() {
    Mark mark;
    if (!commands_.ProposeMark(SelectedRow(), mark)) return;
    CBookmarkDlg dialog(CBookmarkDlg::Mode::Add, QString::fromStdString(mark.name), QString(), this);
    if (Prompt().Exec(dialog) != QDialog::Accepted) return;
    mark.name = dialog.Name().toStdString();
    mark.comment = dialog.Comment().toStdString();
    if (commands_.AddMark(mark)) MarksChanged();
}

void CUsbListCtrl::OnEditMark() {
    const int index = commands_.MarkAtRow(SelectedRow());
    IBookmark* marks = model_->List().Bookmarks();
    Mark mark;
    if (index < 0 || !marks || !marks->GetAt(index, &mark)) return;
    CBookmarkDlg dialog(CBookmarkDlg::Mode::Edit, QString::fromStdString(mark.name),
                        QString::fromStdString(mark.comment), this);
    if (Prompt().Exec(dialog) != QDialog::Accepted) return;
    if (commands_.EditMark(index, dialog.Name().toStdString(), dialog.Comment().toStdString())) MarksChanged();
}

void CUsbListCtrl::OnDeleteMark() {
    if (commands_.DeleteMark(SelectedRow())) MarksChanged();
}

void CUsbListCtrl::OnDeleteAllMarks() {
    if (commands_.MarkCount() <= 0) return;
    if (Prompt().Message(this, QMessageBox::Question, U(Cmd::kDeleteAllQuestion),
                         QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (commands_.DeleteAllMarks()) MarksChanged();
}

void CUsbListCtrl::OnPrevMark() {
    const int row = commands_.PrevMarkRow(SelectedRow());
    if (row == Cmd::kStay) return;
    if (row >= 0) SelectRow(row);
    else Prompt().Message(this, QMessageBox::Information, U(Cmd::kFileStart));
}

void CUsbListCtrl::OnNextMark() {
    const int row = commands_.NextMarkRow(SelectedRow());
    if (row >= 0) SelectRow(row);
    else Prompt().Message(this, QMessageBox::Information, U(Cmd::kFileEnd));
}

// ---------------------------------------------------------------- find

CFindSheet* CUsbListCtrl::EnsureFindSheet() {
    if (!findSheet_) {
        findSheet_ = new CFindSheet(find_.Condition(), this);
        connect(findSheet_, &CFindSheet::FindRequested, this, &CUsbListCtrl::OnFind);
    }
    return findSheet_;
}

void CUsbListCtrl::OnFindSettings() {
    CFindSheet* sheet = EnsureFindSheet();
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
}

void CUsbListCtrl::OnSetFindCondition() {
    const int row = SelectedRow();
    if (!model_->ItemAt(row)) return;
    CFindSheet* sheet = EnsureFindSheet();
    sheet->SetActivePage(CFindSheet::RowPage);
    sheet->show();
    sheet->raise();
    // The transaction page is read first, so switching pages loses nothing typed there.
    sheet->ReadTransactionPage();
    find_.SetAsFindCondition(row);
    sheet->WriteRowConditions();
}

void CUsbListCtrl::OnFind(bool forward) {
    // A sheet never opened searches with the condition as it stands.
    if (findSheet_) findSheet_->ReadCondition();
    constexpr qint64 kPumpMs = 50;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> progress;
    qint64 lastPump = -kPumpMs;
    // A close or quit run by a pump let go of the capture the search reads.
    const uint64_t epoch = model_->Epoch();
    auto report = [&](size_t done, size_t total) {
        const qint64 now = clock.elapsed();
        if (now < findProgressDelayMs_ || now - lastPump < kPumpMs) return !progress || !progress->wasCanceled();
        lastPump = now;
        if (!progress) {
            progress = std::make_unique<QProgressDialog>(U("正在查找..."), U("取消"), 0, 1000, this);
            progress->setWindowTitle(U("查找"));
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
        }
        progress->setValue(total ? int(uint64_t(done) * 1000 / total) : 0);
        QCoreApplication::processEvents();
        return model_->Epoch() == epoch && !progress->wasCanceled();
    };
    CPacketListFind::Hit hit;
    const CPacketListFind::Outcome outcome = find_.FindItem(SelectedRow(), forward, hit, report);
    progress.reset();
    if (outcome == CPacketListFind::Outcome::Cancelled || model_->Epoch() != epoch) return;
    if (outcome == CPacketListFind::Outcome::NotFound) {
        Prompt().Message(this, QMessageBox::Information,
                         U(forward ? CPacketListFind::kFileEnd : CPacketListFind::kFileStart));
        return;
    }
    if (find_.Condition().placeMark && commands_.AddMark(Mark{int32_t(hit.item->firstRecord), "", ""}))
        MarksChanged();
    // The hit's own row, so that the bytes highlighted belong to the selection.
    const int row = model_->RevealItem(hit.top, hit.item);
    if (row >= 0) SelectRow(row);
    IEventPublisher* bus = model_->Publisher();
    if (bus && hit.length >= 0)
        bus->Publish(model_, EventByteRangeSelected, intptr_t(hit.offset * 8), intptr_t(hit.length * 8));
}

void CUsbListCtrl::OnTriggerSettings() {
    COrvaneDoc* doc = commands_.Document();
    if (!doc) return;
    CRecordSheet::EditDocumentSetup(this, *doc, commands_.DocumentLock(), CRecordSheet::TriggerPage);
}

// ---------------------------------------------------------------- balloon

void CUsbListCtrl::ShowHiddenPacketTip() {
    ToolInfo balloon;
    balloon.text = U(CPacketList::kHiddenPacketTip).toStdU16String();
    balloon.mask = MaskBehaviour;
    balloon.behaviour = tooltip_.Core().DefaultBehaviour() | NoAutoPop;
    tooltip_.ShowTooltip(QCursor::pos(), balloon);
    tipTimer_.start(CPacketList::kHiddenPacketTipMs);
}

void CUsbListCtrl::AnswerTipNotify(ToolTipDisplayNotify& notify) {
    notify.tool->transparency = kTipTransparency;
    // Only the list's own tool takes a row's text; a balloon keeps its own.
    if (notify.toolWindow != static_cast<const QWidget*>(this) || !notify.point) return;
    const QPoint client = viewport()->mapFromGlobal(QPoint(notify.point->x, notify.point->y));
    if (!viewport()->rect().contains(client)) return;
    const int index = commands_.MarkAtRow(indexAt(client).row());
    IBookmark* marks = model_->List().Bookmarks();
    Mark mark;
    if (index < 0 || !marks || !marks->GetAt(index, &mark)) return;
    const std::string text = MarkTipText(mark);
    if (!text.empty()) notify.tool->text = QString::fromStdString(text).toStdU16String();
}

}  // namespace orvane::app
