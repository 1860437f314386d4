#include "CPanelDetail.h"

#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

#include "CDetailGroup.h"
#include "IDecode.h"

namespace orvane::app {

namespace {

qint64 MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CPanelDetail::CPanelDetail(QWidget* parent) : QDockWidget(QString::fromUtf8("解码"), parent), clock_(MonotonicMs) {
    setObjectName("pane4002");
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    auto* content = new QWidget(scroll_);
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(2, 2, 2, 2);
    layout_->setSpacing(2);
    layout_->addStretch(1);
    scroll_->setWidget(content);
    setWidget(scroll_);

    coalesce_ = new QTimer(this);
    coalesce_->setSingleShot(true);
    connect(coalesce_, &QTimer::timeout, this, &CPanelDetail::ShowPending);
}

int32_t CPanelDetail::SetPublisher(IEventPublisher* publisher) {
    publisher_ = publisher;
    return 1;
}

int32_t CPanelDetail::OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t param2) {
    // Both come from the UI thread; anything else is moved there.
    const bool here = QThread::currentThread() == thread();
    if (type == EventItemSelected) {
        auto* item = reinterpret_cast<UsbItem*>(param1);
        auto* decoder = reinterpret_cast<IDecode*>(param2);
        if (here) Select(item, decoder);
        else QMetaObject::invokeMethod(this, [this, item, decoder] { Select(item, decoder); }, Qt::QueuedConnection);
    } else if (type == EventCaptureCleared) {
        if (here) Clear();
        else QMetaObject::invokeMethod(this, [this] { Clear(); }, Qt::QueuedConnection);
    }
    return 1;
}

void CPanelDetail::Select(UsbItem* item, IDecode* decoder) {
    pendingItem_ = item;
    pendingDecoder_ = decoder;
    pending_ = true;
    if (coalesce_->isActive()) return;
    const qint64 since = shownAt_ < 0 ? kCoalesceMs : clock_() - shownAt_;
    // A lone selection shows at once; one soon after the last waits, so a
    // held arrow key costs one decode per interval, not one per row.
    if (since >= kCoalesceMs) ShowPending();
    else coalesce_->start(int(kCoalesceMs - since));
}

void CPanelDetail::ShowPending() {
    if (!pending_) return;
    pending_ = false;
    std::string text;
    // GetDetail's answer is not needed: whatever text it made is shown.
    if (pendingItem_ && pendingDecoder_) pendingDecoder_->GetDetail(pendingItem_, text);
    pendingItem_ = nullptr;
    pendingDecoder_ = nullptr;
    ShowDecodeDetail(text);
    shownAt_ = clock_();
}

void CPanelDetail::Clear() {
    coalesce_->stop();
    pending_ = false;
    pendingItem_ = nullptr;
    pendingDecoder_ = nullptr;
    rows_.Clear();
    SetGroupCount(0);
}

bool CPanelDetail::ShowDecodeDetail(const std::string& text) {
    QWidget* content = scroll_->widget();
    content->setUpdatesEnabled(false);
    const bool shown = rows_.Load(text);
    const auto& groups = rows_.Groups();
    SetGroupCount(int(groups.size()));
    for (size_t i = 0; i < groups.size(); ++i) groups_[i]->Fill(groups[i]);
    content->setUpdatesEnabled(true);
    return shown;
}

void CPanelDetail::SetGroupCount(int n) {
    while (int(groups_.size()) > n) {
        delete groups_.back();
        groups_.pop_back();
    }
    for (CDetailGroup* group : groups_) group->Empty();
    while (int(groups_.size()) < n) {
        auto* group = new CDetailGroup(scroll_->widget());
        connect(group, &CDetailGroup::FieldSelected, this, &CPanelDetail::OnFieldSelected);
        // Before the closing stretch.
        layout_->insertWidget(layout_->count() - 1, group);
        groups_.push_back(group);
    }
}

void CPanelDetail::OnFieldSelected(qulonglong range) {
    const CDetailRows::Range* field = rows_.RangeAt(size_t(range));
    if (!field || !publisher_) return;
    publisher_->Publish(this, EventByteRangeSelected, intptr_t(field->offset), intptr_t(field->bits));
}

}  // namespace orvane::app
