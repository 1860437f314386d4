#include "CPacketListModel.h"

#include <QColor>
#include <QThread>

#include "CCaptureWorker.h"

namespace orvane::app {

CPacketListModel::CPacketListModel(QObject* parent) : QAbstractTableModel(parent) {
    // Called on the appending (worker) thread: hop to the UI thread.
    list_.Rows().SetRowCountListener([this](int rows) { Queue([this, rows] { GrowTo(rows); }); });
}

CPacketListModel::~CPacketListModel() {
    if (publisher_) publisher_->Unsubscribe(this);
}

UsbItem* CPacketListModel::ItemAt(int row) {
    return row >= 0 && row < shown_ ? list_.Rows().ItemAtRow(row) : nullptr;
}

void CPacketListModel::SetRowCount(int32_t rows) {
    if (QThread::currentThread() == thread()) ResetTo(rows);
    else Queue([this, rows] { GrowTo(rows); });
}

void CPacketListModel::GrowTo(int rows) {
    // A push queued before a reset may be stale: never show rows the index lacks.
    rows = std::min(rows, list_.Rows().RowCount());
    if (rows <= shown_) return;
    // New rows may show packets that carry marks.
    list_.InvalidateMarkRows();
    beginInsertRows({}, shown_, rows - 1);
    shown_ = rows;
    endInsertRows();
}

void CPacketListModel::ResetTo(int rows) {
    beginResetModel();
    list_.InvalidateMarkRows();
    shown_ = std::max(0, std::min<int>(rows, list_.Rows().RowCount()));
    endResetModel();
}

void CPacketListModel::DropCapture() {
    ++epoch_;
    beginResetModel();
    list_.SetDecoder(nullptr);
    list_.SetDataSource(nullptr);
    list_.Rows().ClearRowCaches();
    list_.InvalidateMarkRows();
    shown_ = 0;
    endResetModel();
}

void CPacketListModel::Announce(const CPacketListRows::RowChange& change) {
    if (change.first < 0) return;
    if (change.removed > 0) {
        beginRemoveRows({}, change.first, change.first + change.removed - 1);
        shown_ -= change.removed;
        endRemoveRows();
    }
    if (change.inserted > 0) {
        beginInsertRows({}, change.first, change.first + change.inserted - 1);
        shown_ += change.inserted;
        endInsertRows();
    }
}

void CPacketListModel::ToggleExpand(int row) {
    if (row < 0 || row >= shown_) return;
    const CPacketListRows::RowChange change = list_.Rows().ToggleExpand(row);
    if (change.first < 0) return;
    Announce(change);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int CPacketListModel::ToggleSubtree(int row) {
    if (row < 0 || row >= shown_) return -1;
    int select = -1;
    const CPacketListRows::RowChange change = list_.Rows().ToggleSubtree(row, &select);
    if (change.first < 0) return -1;
    Announce(change);
    emit dataChanged(index(change.first - 1, 0), index(change.first - 1, columnCount() - 1));
    return select;
}

void CPacketListModel::ApplyHeaderFilter(const std::vector<std::string>& texts) {
    ResetTo(list_.ApplyHeaderFilter(texts));
}

void CPacketListModel::ClearHeaderFilter() {
    list_.ClearHeaderFilter();
    OnUiThread([this] { emit HeaderFilterCleared(); });
}

void CPacketListModel::RestorePlace() {
    // Not dropped with the capture's epoch: the parse it follows began a new one.
    QMetaObject::invokeMethod(this, [this] {
        const CPacketList::Place place = list_.RestorePlace();
        if (place.rows >= 0) ResetTo(place.rows);
        if (place.select >= 0) emit GoToRow(place.select);
    }, Qt::QueuedConnection);
}

int CPacketListModel::RevealItem(UsbItem* top, UsbItem* item) {
    CPacketListRows::RowChange change;
    if (!list_.Rows().RevealItem(top, item, &change)) return -1;
    if (change.first >= 0) {
        Announce(change);
        emit dataChanged(index(change.first - 1, 0), index(change.first - 1, columnCount() - 1));
    }
    return list_.Rows().RowOfItem(item);
}

void CPacketListModel::ExpandAll(bool expand) { ResetTo(list_.Rows().ExpandAll(expand)); }

int CPacketListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int CPacketListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : CPacketListColumns::kCount;
}

QPixmap CPacketListModel::Icon(const ImageList* icons, int index) const {
    if (!icons || !icons->png || index < 0 || uint32_t(index) >= icons->count) return {};
    auto it = strips_.find(icons);
    if (it == strips_.end()) {
        QPixmap strip;
        strip.loadFromData(icons->png, icons->pngSize, "PNG");
        it = strips_.insert(icons, strip);
    }
    const int w = int(icons->iconWidth), h = int(icons->iconHeight);
    return it->copy(index * w, 0, w, h);
}

QVariant CPacketListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole: {
        UsbItem* item = list_.Rows().ItemAtRow(row);
        return item ? QString::fromStdString(list_.GetCellText(item, index.column())) : QString();
    }
    case Qt::ForegroundRole:
        return QColor(QRgb(list_.PaintRow(row).textColour));
    case Qt::DecorationRole:
        if (index.column() != CPacketListCells::ColItem) return {};
        if (auto paint = list_.PaintRow(row); paint.item) return Icon(paint.icons, paint.icon);
        return {};
    case DepthRole:
        return list_.Rows().DepthOfRow(row);
    case HasChildrenRole:
    case ExpandedRole: {
        UsbItem* item = list_.Rows().ItemAtRow(row);
        if (!item || !CPacketListRows::HasChildren(item)) return false;
        return role == HasChildrenRole || CPacketListRows::Expanded(item);
    }
    default:
        return {};
    }
}

QVariant CPacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || !CPacketListColumns::Valid(section)) return {};
    return QString::fromUtf8(CPacketListColumns::InfoOf(section).title);
}

int32_t CPacketListModel::SetPublisher(IEventPublisher* publisher) {
    publisher_ = publisher;
    if (publisher) publisher->Subscribe(this);
    return 1;
}

int32_t CPacketListModel::OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t) {
    switch (type) {
    case EventGoToPacket: {
        const uint32_t record = uint32_t(param1);
        OnUiThread([this, record] { emit GoToRow(list_.GoToPacket(record)); });
        break;
    }
    case EventDeviceTreeChanged:
        if (sender != this && param1) {
            // The text lives only while it is published.
            const std::string tree = *reinterpret_cast<const std::string*>(param1);
            QMetaObject::invokeMethod(this, [this, tree] {
                if (worker_) worker_->OnDeviceTreeEdited(tree);
            });
        }
        break;
    case EventCaptureCleared:
        // Published on the UI thread before the capture is freed or its device released.
        OnUiThread([this] { DropCapture(); });
        break;
    case EventMarksChanged:
        // After a parse this comes on the worker thread.
        OnUiThread([this] {
            list_.InvalidateMarkRows();
            emit MarksChanged();
        });
        break;
    default:
        break;
    }
    return 0;
}

}  // namespace orvane::app
