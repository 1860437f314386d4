// What the capture worker needs of the packet list. The list model implements
// it; the worker feeds it the items of a parse or a class decoding and resets
// it when the trees are freed or the shown level changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "IDataSource.h"
#include "IDecode.h"
#include "IEventBus.h"
#include "UsbItem.h"

namespace orvane::app {

class IPacketListSink {
public:
    // ---- worker thread, while the UI thread may paint ----
    // One finished top-level item, its filter bit already set or cleared:
    // clears its expanded bit, appends it to the root and indexes its row.
    virtual void AppendItem(UsbItem* item) = 0;
    // Several such items in order, for a list that indexes them in one go.
    virtual void AppendItems(UsbItem* const* items, size_t count) {
        for (size_t i = 0; i < count; ++i) AppendItem(items[i]);
    }
    // Before the first item of a parse: who describes the rows, and the capture.
    virtual void SetRowDecoder(IDecode* decoder) = 0;
    virtual void SetDataSource(IDataSource* source) = 0;

    // ---- UI thread, and the worker at the end of a parse or decoding ----
    virtual int32_t RowCount() = 0;
    // Pushes the row count to the control without scrolling.
    virtual void SetRowCount(int32_t rows) = 0;

    // ---- UI thread, only while the worker is idle ----
    virtual void SetRoot(UsbItem* root) = 0;
    // Rebuilds the row blocks from the root's children; returns the visible rows.
    virtual int32_t RebuildRows() = 0;
    virtual void ClearRowCaches() = 0;
    virtual void ClearSummaryCache() = 0;
    virtual void ClearHeaderFilter() = 0;
    // The list's own handler: the sender of what the worker publishes.
    virtual IEventHandler* EventHandler() = 0;

    // ---- the capture shown parsed again from its first row (the rest read after a replug) ----
    // Before its rows go: the list notes where the user is (the selected
    // record) and keeps its filter bar, which the reset then leaves alone.
    virtual void KeepPlace() = 0;
    // Once that parse is done (or, for the transfer level shown again, its
    // decoding), on the worker thread: the filter applied to the new rows and
    // the noted record's row selected again.
    virtual void RestorePlace() = 0;
    // Queues `call` to the UI thread, from the worker; returns before it runs.
    // The worker frees the trees through it.
    virtual void RunOnUiThread(std::function<void()> call) = 0;

protected:
    ~IPacketListSink() = default;
};

}  // namespace orvane::app
