#include "CSummaryCtrl.h"

#include <QPainter>

#include <algorithm>
#include <utility>

#include "CSummaryPane.h"
#include "IEventBus.h"

namespace orvane::ombrel {

CSummaryCtrl::CSummaryCtrl() : CUsbViewFrame(kViewId, "统计", SummaryIcon(0)) {}

CSummaryCtrl::~CSummaryCtrl()
{
    DestroyWindow();
    // The bus outlives its views: it must not call a released one.
    if (IEventPublisher* bus = Publisher()) bus->Unsubscribe(this);
}

CSummaryPane* CSummaryCtrl::Pane() const { return static_cast<CSummaryPane*>(Window()); }

QWidget* CSummaryCtrl::CreateWindow(QWidget* parent)
{
    auto* pane = new CSummaryPane(*this, parent);
    pane->Show(rows_, marks_);
    return pane;
}

int32_t CSummaryCtrl::OnEvent(IEventHandler*, int32_t type, intptr_t param1, intptr_t)
{
    switch (type) {
    case EventCaptureCleared:
        // No figures outlive their capture, also for a window made later.
        // Figures of the cleared capture still queued for the window are dropped.
        ++generation_;
        source_ = nullptr;
        OnGui([this] {
            rows_ = FixedTree();
            Show();
        });
        return 1;
    case EventDataReady:
        source_ = reinterpret_cast<IDataSource*>(param1);
        return 1;
    case EventParseFinished: {
        // A clear that comes while this counts (a close) drops what it counted.
        const uint64_t generation = generation_;
        // The tree is valid only while this publication lasts: count it now.
        stats_.Clear();
        stats_.Count(reinterpret_cast<const UsbItem*>(param1), source_.load());
        std::vector<SummaryRow> rows = FillTree(stats_);
        OnGui([this, rows = std::move(rows), generation]() mutable {
            if (generation != generation_) return;
            rows_ = std::move(rows);
            Show();
        });
        return 1;
    }
    case EventMarksChanged: {
        // The marks are edited on the GUI thread and live as long as the
        // document: read there, a copy meets no edit half done and never
        // replaces what a later edit published.
        // Only the rows of the marks that changed are redone: an edit among
        // many marks costs a row, not the report.
        auto* bookmarks = reinterpret_cast<IBookmark*>(param1);
        OnGui([this, bookmarks] {
            std::vector<Mark> marks;
            const int32_t n = bookmarks ? bookmarks->GetCount() : 0;
            marks.reserve(size_t(std::max(n, 0)));
            for (int32_t i = 0; i < n; ++i) {
                Mark mark;
                if (bookmarks->GetAt(i, &mark)) marks.push_back(std::move(mark));
            }
            const MarkChange change = DiffMarks(marks_, marks);
            if (change.None()) return;
            std::vector<Mark> before = std::exchange(marks_, std::move(marks));
            if (CSummaryPane* pane = Pane()) pane->EditMarks(change, before, marks_);
        });
        return 1;
    }
    default:
        return 1;
    }
}

void CSummaryCtrl::Show()
{
    if (CSummaryPane* pane = Pane()) pane->Show(rows_, marks_);
}

void CSummaryCtrl::GoToMark(const std::string& text)
{
    const int32_t packet = PacketOfMarkText(text);
    if (packet >= 0 && Publisher()) Publisher()->Publish(this, EventGoToPacket, packet, 0);
}

}  // namespace orvane::ombrel
