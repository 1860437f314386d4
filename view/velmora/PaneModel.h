// The capture as one pane's charts read it, and what they publish through.
// Owned by the view object; touched on the GUI thread only.
#pragma once

#include <memory>

#include "CData.h"
#include "CaptureArrays.h"
#include "IEventBus.h"

namespace orvane {
class IDataSource;
}

namespace orvane::velmora {

struct PaneModel {
    explicit PaneModel(CData& s) : store(s) {}

    CData& store;
    std::shared_ptr<const CaptureArrays> arrays = CaptureArrays::Load(nullptr);  // never null
    IDataSource* source = nullptr;  // null while no capture is loaded; not ours to release
    IEventPublisher* publisher = nullptr;
    IEventHandler* handler = nullptr;  // the sender of what the charts publish
    // Set only while a chart's GoToPacket is being published: the list answers
    // it at once on this thread, and that selection must not move the charts.
    // A list that does not answer (the row is hidden or already current)
    // leaves nothing behind to swallow the user's next selection.
    bool publishingGoTo = false;

    bool Loaded() const { return source != nullptr; }
    double TotalTime() const { return arrays->TotalTime(); }
};

}  // namespace orvane::velmora
