#include "CClassDecoderBase.h"

#include <memory>

namespace orvane {

CClassDecoderBase::CClassDecoderBase(int32_t cls, int32_t subclass, int32_t protocol, const ImageList* images)
    : images_(images), class_(cls), subclass_(subclass), protocol_(protocol)
{
}

void CClassDecoderBase::Release() { delete this; }

int32_t CClassDecoderBase::Summarize(UsbItem* item, ItemSummary* out)
{
    if (!item || !out) return 0;
    try {
        return SummarizeItem(item, *out);
    } catch (...) {
        return 0;
    }
}

int32_t CClassDecoderBase::GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    if (!item) return -1;
    try {
        return GetItemData(item, buffer, capacity);
    } catch (...) {
        return 0;
    }
}

int32_t CClassDecoderBase::GetDetail(UsbItem* item, std::string& xml)
{
    if (!item) return 0;
    try {
        const bool lostBefore = LostText(item) != nullptr;
        auto document = std::make_unique<CDecodeResultWriter>();
        bool described = DescribeItem(item, *document);
        const char* lost = LostText(item);
        if (!lostBefore && lost) {
            // A read of its payload from the analyser failed while it was
            // described: described again knowing it, as every later time.
            document = std::make_unique<CDecodeResultWriter>();
            described = DescribeItem(item, *document);
        }
        if (!described && FallbackDetail(item, xml)) return 1;
        // A row whose data lack a payload says so, whatever was written: no
        // fields of bytes never read stand alone.
        if (lost && !Names(*document, lost)) {
            document = std::make_unique<CDecodeResultWriter>();
            described = DescribeIfLost(item, *document);
        }
        if (!described) return 0;
        xml = document->Text();
        return 1;
    } catch (...) {
        return 0;
    }
}

bool CClassDecoderBase::Names(const CDecodeResultWriter& document, const char* text)
{
    for (const xml::Node& node : document.Document().selectNodes("//item"))
        if (node.attribute("value") == text) return true;
    return false;
}

const ImageList* CClassDecoderBase::GetImageList(UsbItem* item)
{
    try {
        return ItemImages(item);
    } catch (...) {
        return nullptr;
    }
}

int32_t CClassDecoderBase::OnNotify(int32_t code, void* arg, intptr_t param)
{
    try {
        if (code == NotifyConfiguration && arg && param > 0) {
            const auto* bytes = static_cast<const uint8_t*>(arg);
            configuration_.assign(bytes, bytes + param);
        }
        // The data pane sizes its buffer by this answer, so it must be exactly
        // what GetData will give, however large.
        if (code == NotifyDataLength && arg && param) {
            const int32_t length = GetData(static_cast<UsbItem*>(arg), nullptr, 0);
            if (length >= 0) *reinterpret_cast<uint32_t*>(param) = uint32_t(length);
        }
        if (code == NotifyPayloadLost) {
            const char* text = LostText(static_cast<UsbItem*>(arg));
            if (text && param) *reinterpret_cast<const char**>(param) = text;
            return text ? 1 : 0;
        }
        return Notify(code, arg, param);
    } catch (...) {
        return 0;
    }
}

const char* CClassDecoderBase::LostText(UsbItem* item)
{
    if (!item) return nullptr;
    if (item->type <= ItemControlTransfer) return LostPayloadText(host_, item);
    // Written over by the ring in one child is so for the row.
    const char* text = nullptr;
    for (UsbItem* child : item->children) {
        const char* lost = ShowsDataOf(*item, *child) ? LostText(child) : nullptr;
        if (lost && !IsPayloadUnreadText(lost)) return lost;
        if (lost) text = lost;
    }
    return text;
}

void CClassDecoderBase::DescribeLost(const std::string& title, UsbItem* item, CDecodeResultWriter& document)
{
    const char* text = LostText(item);
    if (!text) text = kPayloadLostText;
    document.AddItem(document.AddGroup(title), "Data", text, text, 0, 0);
}

bool CClassDecoderBase::DescribeIfLost(UsbItem* item, CDecodeResultWriter& document)
{
    if (!LostText(item)) return false;
    ItemSummary row;
    SummarizeItem(item, row);
    DescribeLost(row.name, item, document);
    return true;
}

int32_t CClassDecoderBase::GetClassCode(int32_t* cls, int32_t* subclass, int32_t* protocol)
{
    if (cls) *cls = class_;
    if (subclass) *subclass = subclass_;
    if (protocol) *protocol = protocol_;
    return 1;
}

UsbItem* CClassDecoderBase::OnTransaction(UsbItem* item)
{
    try {
        return Transaction(item);
    } catch (...) {
        return nullptr;
    }
}

void CClassDecoderBase::Reset()
{
    try {
        ResetState();
    } catch (...) {
    }
}

const ImageList* CClassDecoderBase::ImagesByOwner(UsbItem* item) const
{
    if (item && item->type <= ItemControlTransfer) return host_ ? host_->GetImageList(item) : nullptr;
    return images_;
}

void CClassDecoderBase::MergeCells(ItemSummary& row, const ItemSummary& child)
{
    for (auto cell : {&ItemSummary::address, &ItemSummary::endpoint, &ItemSummary::interface, &ItemSummary::status,
                      &ItemSummary::speed, &ItemSummary::size})
        if (row.*cell < 0) row.*cell = child.*cell;
    if (row.time <= 0) row.time = child.time;
}

void CClassDecoderBase::MergeChildSummaries(UsbItem* item, ItemSummary& row)
{
    for (UsbItem* child : item->children) {
        ItemSummary summary;
        Summarize(child, &summary);
        MergeCells(row, summary);
    }
    if (row.status == StatusAck || row.status == StatusNyet) row.status = StatusOk;
}

UsbItem* CClassDecoderBase::NewItem(uint16_t type, const UsbItem& header)
{
    auto* item = new UsbItem(type, header.firstRecord);
    item->address = header.address;
    item->endpoint = header.endpoint;
    item->interface = header.interface;
    return item;
}

int32_t CClassDecoderBase::DurationTo(const ItemSummary& row, const ItemSummary& last)
{
    return int32_t(uint32_t(last.time) + uint32_t(last.duration) - uint32_t(row.time));
}

int32_t CClassDecoderBase::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    return host_ ? host_->Summarize(item, &out) : 0;
}

int32_t CClassDecoderBase::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    return host_ ? host_->GetData(item, buffer, capacity) : -1;
}

}  // namespace orvane
