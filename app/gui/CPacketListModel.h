// The packet list as a Qt model: an owner-data list over CPacketList. The
// capture worker feeds it through IPacketListSink from its own thread; the
// model itself is only ever changed on the UI thread.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <QThread>

#include <atomic>

#include "CPacketList.h"
#include "IPacketListSink.h"

namespace orvane::app {

class CCaptureWorker;

class CPacketListModel : public QAbstractTableModel, public IPacketListSink, public IEventHandler {
    Q_OBJECT
public:
    enum Role { DepthRole = Qt::UserRole + 1, HasChildrenRole, ExpandedRole };

    explicit CPacketListModel(QObject* parent = nullptr);
    ~CPacketListModel() override;

    CPacketList& List() { return list_; }
    void SetWorker(CCaptureWorker* worker) { worker_ = worker; }
    IEventPublisher* Publisher() const { return publisher_; }
    UsbItem* ItemAt(int row);
    IDecode* Decoder() { return list_.Cells().Decoder(); }
    // One icon of a decoder's image list; null for none.
    QPixmap Icon(const ImageList* icons, int index) const;
    // Expands or collapses the row and announces the rows that came and went.
    void ToggleExpand(int row);
    // The whole top-level item holding the row; answers the row to select, -1 none.
    int ToggleSubtree(int row);
    // One text per column index; hides the top-level rows that do not match.
    void ApplyHeaderFilter(const std::vector<std::string>& texts);
    // Expands every row of the shown level, or collapses them all.
    void ExpandAll(bool expand = true);
    // Expands the ancestors of `item` below the top-level `top`; answers the
    // row that shows the item itself, -1 for none.
    int RevealItem(UsbItem* top, UsbItem* item);

    // ---- QAbstractItemModel ----
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // ---- IPacketListSink ----
    void AppendItem(UsbItem* item) override { list_.Rows().AppendItems(&item, 1); }
    void AppendItems(UsbItem* const* items, size_t count) override { list_.Rows().AppendItems(items, count); }
    // The worker sets these from its thread before a parse; the cells are read
    // on the UI thread, so the change goes there, ahead of the rows it queues.
    void SetRowDecoder(IDecode* decoder) override {
        OnUiThread([this, decoder] { list_.SetDecoder(decoder); });
    }
    void SetDataSource(IDataSource* source) override {
        OnUiThread([this, source] { list_.SetDataSource(source); });
    }
    int32_t RowCount() override { return list_.Rows().RowCount(); }
    void SetRowCount(int32_t rows) override;
    void SetRoot(UsbItem* root) override { list_.SetRoot(root); }
    int32_t RebuildRows() override { return list_.Rows().RebuildRows(); }
    void ClearRowCaches() override { list_.Rows().ClearRowCaches(); }
    void ClearSummaryCache() override { list_.Cells().ClearSummaryCache(); }
    void ClearHeaderFilter() override;
    IEventHandler* EventHandler() override { return this; }
    void KeepPlace() override { list_.KeepPlace(); }
    void RestorePlace() override;
    // Not dropped with the capture's epoch: the worker waits for it.
    void RunOnUiThread(std::function<void()> call) override {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }

    // Counts the captures the list let go of (CaptureCleared): code that pumps
    // events compares it before and after to learn that its capture went.
    uint64_t Epoch() const { return epoch_; }

    // ---- IEventHandler ----
    int32_t SetPublisher(IEventPublisher* publisher) override;
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

signals:
    // A packet to show was asked for; -1 when a hidden item holds it.
    void GoToRow(int row);
    // The filter bar's texts no longer apply: the header empties its edits.
    void HeaderFilterCleared();
    // The marks changed elsewhere: their symbols are drawn anew.
    void MarksChanged();

private:
    template <class F>
    void OnUiThread(F f) {
        if (QThread::currentThread() == thread()) f();
        else Queue(std::move(f));
    }
    // A call queued from the worker is dropped when the capture it was made
    // for has been let go before it arrives.
    template <class F>
    void Queue(F f) {
        QMetaObject::invokeMethod(this, [this, f = std::move(f), epoch = epoch_.load()] {
            if (epoch == epoch_) f();
        }, Qt::QueuedConnection);
    }

    // Rows only ever grow from the worker's pushes: a reset comes from the UI thread.
    void GrowTo(int rows);
    void ResetTo(int rows);
    // No row, no decoder, no data source: nothing the list shows or caches
    // reads the capture that goes.
    void DropCapture();
    void Announce(const CPacketListRows::RowChange& change);

    // data() is const for Qt, but the list caches summaries as it answers.
    mutable CPacketList list_;
    int shown_ = 0;
    std::atomic<uint64_t> epoch_{0};
    CCaptureWorker* worker_ = nullptr;
    IEventPublisher* publisher_ = nullptr;
    mutable QHash<const ImageList*, QPixmap> strips_;
};

}  // namespace orvane::app
