// The decode-detail pane: the selected row's decode result as collapsible
// groups, each a name/value grid with nested rows and a tip line; picking a
// field publishes its byte range. Group widgets are kept by position from one
// display to the next, and a fast walk through the list shows only where it
// stopped.
#pragma once

#include <QDockWidget>

#include <functional>
#include <string>
#include <vector>

#include "CDetailRows.h"
#include "IEventBus.h"

class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace orvane {
class IDecode;
struct UsbItem;
}

namespace orvane::app {

class CDetailGroup;

class CPanelDetail : public QDockWidget, public IEventHandler {
    Q_OBJECT
public:
    // Selections closer together than this are shown as the last of them.
    static constexpr int kCoalesceMs = 50;

    explicit CPanelDetail(QWidget* parent = nullptr);

    // Milliseconds on a monotonic clock; a test gives its own to walk
    // through the list at a speed it knows.
    using Clock = std::function<qint64()>;
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    // False (and an empty pane) when the text is not a decode result.
    bool ShowDecodeDetail(const std::string& text);
    // Empties the pane and forgets a selection not shown yet: its item may be
    // freed with the tree it belongs to.
    void Clear();

    int GroupCount() const { return int(groups_.size()); }
    CDetailGroup* Group(int index) const { return groups_.at(size_t(index)); }
    const std::vector<CDetailRows::Range>& FieldRanges() const { return rows_.Ranges(); }
    bool SelectionPending() const { return pending_; }

    int32_t SetPublisher(IEventPublisher* publisher) override;
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

private:
    void Select(UsbItem* item, IDecode* decoder);
    void ShowPending();
    // Keeps the first n group widgets (emptied), drops the rest, adds new ones.
    void SetGroupCount(int n);
    void OnFieldSelected(qulonglong range);

    QScrollArea* scroll_;
    QVBoxLayout* layout_;
    std::vector<CDetailGroup*> groups_;
    CDetailRows rows_;
    IEventPublisher* publisher_ = nullptr;

    UsbItem* pendingItem_ = nullptr;
    IDecode* pendingDecoder_ = nullptr;
    bool pending_ = false;
    QTimer* coalesce_;
    Clock clock_;
    qint64 shownAt_ = -1;  // none shown yet
};

}  // namespace orvane::app
