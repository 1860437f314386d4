#include "CFixtureView.h"

#include <cstdio>

namespace orvane::fixture {

int32_t CFixtureView::alive_ = 0;

CFixtureView::CFixtureView()
{
    log_.handler = this;
    ++alive_;
}

CFixtureView::~CFixtureView()
{
    delete window_;
    --alive_;
}

void CFixtureView::Release() { delete this; }

int32_t CFixtureView::GetInfo(ViewInfo* info)
{
    info->id = FIXTURE_VIEW_ID;
    info->title = FIXTURE_VIEW_TITLE;
    return 1;
}

WindowHandle CFixtureView::Create(WindowHandle parent)
{
    if (!window_) window_ = new Window{parent};
    return window_;
}

void CFixtureView::Attach(IEventPublisher* publisher)
{
    publisher_ = publisher;
    if (publisher) publisher->Subscribe(this);
}

int32_t CFixtureView::OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2)
{
    log_.events.push_back({sender, type, param1, param2});
    switch (type) {
    case EventCaptureCleared:
        log_.marks.clear();
        return 1;
    case EventMarksChanged: {
        // Reads the marks as the summary view lists them.
        log_.marks.clear();
        auto* bookmarks = reinterpret_cast<IBookmark*>(param1);
        if (!bookmarks) return 1;
        for (int32_t i = 0; i < bookmarks->GetCount(); ++i) {
            Mark mark;
            if (!bookmarks->GetAt(i, &mark)) continue;
            // Not std::to_string: its table is a unique symbol, which would keep
            // this library from ever unloading and hide unload faults.
            char packet[16];
            std::snprintf(packet, sizeof packet, "%d", mark.packet);
            log_.marks.push_back(std::string(packet) + " " + mark.name + " " + mark.comment);
        }
        return 1;
    }
    case EventGoToPacket:
        return 1;
    default:
        return 0;
    }
}

void CFixtureView::DoubleClick(int32_t packet)
{
    if (publisher_) publisher_->Publish(this, EventGoToPacket, packet, 0);
}

}  // namespace orvane::fixture
