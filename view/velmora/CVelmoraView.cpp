#include "CVelmoraView.h"

#include "ChartDraw.h"
#include "ChartText.h"
#include "CTrafficPane.h"
#include "IDataSource.h"
#include "UsbItem.h"

namespace orvane::velmora {

CVelmoraView::CVelmoraView() : CUsbViewFrame(kViewId, text::kViewTitle, ViewIcon()) { model_.handler = this; }

CVelmoraView::~CVelmoraView()
{
    DestroyWindow();
    // The bus outlives its views: it must not call a released one.
    if (model_.publisher) model_.publisher->Unsubscribe(this);
}

CTrafficPane* CVelmoraView::Pane() const { return static_cast<CTrafficPane*>(Window()); }

QWidget* CVelmoraView::CreateWindow(QWidget* parent) { return new CTrafficPane(model_, parent); }

void CVelmoraView::Attach(IEventPublisher* publisher)
{
    model_.publisher = publisher;
    CUsbViewFrame::Attach(publisher);
}

int32_t CVelmoraView::OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t)
{
    switch (type) {
    case EventCaptureCleared:
        ++generation_;
        OnGui([this] { ClearCapture(); });
        return 1;
    case EventItemSelected: {
        auto* item = reinterpret_cast<const UsbItem*>(param1);
        if (sender == this || !item) return 0;
        uint32_t index = item->firstRecord;
        OnGui([this, index] { SelectRecord(index); });
        return 1;
    }
    case EventDataReady: {
        auto* source = reinterpret_cast<IDataSource*>(param1);
        uint64_t generation = generation_;
        std::shared_ptr<const CaptureArrays> arrays;
        // A capture cleared meanwhile (the window closing) ends the load: its arrays would be dropped.
        // Its rows are walked, not counted: the count fails while the analyser's status does.
        if (source)
            arrays = CaptureArrays::Load(source, [this, generation] { return generation_ != generation; });
        if (arrays && arrays->Empty()) arrays = nullptr;
        Queue([this, source, arrays, generation] { ApplyCapture(source, arrays, generation); });
        return arrays ? 1 : 0;
    }
    case EventGoToPacket: {
        auto index = uint32_t(param1);
        OnGui([this, index] { GoToRecord(index); });
        return 1;
    }
    default:
        return 1;
    }
}

void CVelmoraView::ClearCapture()
{
    model_.arrays = CaptureArrays::Load(nullptr);
    model_.source = nullptr;
    model_.publishingGoTo = false;
    store_.packetCount = 0;
    if (CTrafficPane* pane = Pane()) pane->OnCaptureCleared();
}

void CVelmoraView::ApplyCapture(IDataSource* source, std::shared_ptr<const CaptureArrays> arrays, uint64_t generation)
{
    if (generation != generation_) return;
    if (!arrays) {
        model_.source = nullptr;
        return;
    }
    model_.source = source;
    model_.arrays = std::move(arrays);
    store_.packetCount = model_.arrays->PacketCount();
    if (CTrafficPane* pane = Pane()) pane->OnDataLoaded();
}

bool CVelmoraView::ReadRecord(uint32_t index, PacketRecord* record)
{
    if (!model_.source) return false;
    // A source that neither counts nor serves the row holds no capture now.
    // A failed read leaves the record as it was: all zero.
    if (model_.source->GetRecord(index, record) != RecordOk && model_.source->GetCount() == 0) {
        model_.source = nullptr;
        return false;
    }
    return true;
}

void CVelmoraView::SelectRecord(uint32_t index)
{
    if (!model_.source) return;
    PacketRecord record;
    if (model_.publishingGoTo || !ReadRecord(index, &record)) return;
    if (CTrafficPane* pane = Pane()) pane->ShowPacket(nullptr, record, false);
}

void CVelmoraView::GoToRecord(uint32_t index)
{
    PacketRecord record;
    if (!ReadRecord(index, &record)) return;
    if (CTrafficPane* pane = Pane()) pane->ShowPacket(nullptr, record, true);
}

}  // namespace orvane::velmora
