// The chart plug-in's view object: what the host holds. It owns the capture
// the charts read and takes the host's events; the pane is its window.
#pragma once

#include <atomic>

#include "CData.h"
#include "PacketRecord.h"
#include "CUsbViewFrame.h"
#include "PaneModel.h"
#include "QtSettingsStore.h"

namespace orvane::velmora {

class CTrafficPane;

class CVelmoraView : public view::CUsbViewFrame, public IEventHandler {
public:
    static constexpr uint32_t kViewId = 4004;

    CVelmoraView();
    ~CVelmoraView() override;

    void Attach(IEventPublisher* publisher) override;
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    // DataReady comes on the capture worker thread: the arrays are built
    // there and handed to the GUI thread, which swaps them in.
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override;

    CTrafficPane* Pane() const;
    const PaneModel& Model() const { return model_; }

protected:
    QWidget* CreateWindow(QWidget* parent) override;
    IEventHandler* Handler() override { return this; }

private:
    void ClearCapture();
    void ApplyCapture(IDataSource* source, std::shared_ptr<const CaptureArrays> arrays, uint64_t generation);
    void SelectRecord(uint32_t index);
    void GoToRecord(uint32_t index);
    // Null, and the source forgotten, when it has no records.
    bool ReadRecord(uint32_t index, PacketRecord* record);

    QtSettingsStore settings_;
    CData store_{settings_};
    PaneModel model_{store_};
    // Counts cleared captures: arrays built for an older capture are dropped.
    std::atomic<uint64_t> generation_{0};
};

}  // namespace orvane::velmora
