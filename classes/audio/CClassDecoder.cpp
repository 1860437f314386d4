#include "CClassDecoder.h"

#include <cstdio>
#include <vector>

#include "AudioControlDetail.h"
#include "AudioRequests.h"
#include "AudioSetupFields.h"
#include "BoundedFetch.h"
#include "DirectionIcons.h"
#include "WriteEnumerableGroup.h"

namespace orvane::audio {

namespace {

// wLength is 16 bits; a data stage longer than that is read no further.
constexpr uint32_t kParameterBlockLimit = 0xFFFF;

UsbItem* FirstSetup(const UsbItem& item)
{
    for (UsbItem* child : item.children)
        if (child->type == ItemSetupTransaction) return child;
    return nullptr;
}

// The transactions of a request's data stage in its direction.
uint16_t DataStageType(uint16_t type) { return IsDeviceToHost(type) ? ItemInTransaction : ItemOutTransaction; }

std::string Printf(const char* format, int a, int b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

CClassDecoder::CClassDecoder() : CClassDecoderBase(1, -1, 0, &DirectionIcons()) {}

int32_t CClassDecoder::Notify(int32_t code, void*, intptr_t)
{
    // Only the first configuration counts: requests already typed keep their meaning.
    if (code != NotifyConfiguration || notified_) return 0;
    notified_ = true;
    entities_.ParseAudioControlDescriptors(Configuration());
    return 0;
}

int32_t CClassDecoder::GetHandshake(const UsbItem& transaction)
{
    // The parser's transactions end with their handshake packet; the
    // transaction's own status is that packet's PID.
    const uint8_t pid = transaction.children.empty() ? transaction.status : uint8_t(transaction.children.back()->type);
    switch (pid) {
    case PidAck: return 0;
    case PidNyet: return 1;
    case PidNak: return 2;
    default: return -1;
    }
}

std::optional<SetupPacket> CClassDecoder::AcceptedSetup(UsbItem* setup)
{
    ItemSummary row;
    if (!Summarize(setup, &row) || row.status != StatusAck) return std::nullopt;
    return SetupPacket::Fetch(this, setup);
}

std::optional<SetupPacket> CClassDecoder::GetSetupPacket(UsbItem* item)
{
    for (UsbItem* child : item->children) {
        if (child->type != ItemSetupTransaction) continue;
        if (auto setup = AcceptedSetup(child)) return setup;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- typing

uint16_t CClassDecoder::RequestType(const SetupPacket& setup) const
{
    if (IsMemoryOrStatus(setup.bRequest)) return uint16_t(kMemoryRequest + setup.bRequest);
    if (setup.RequestRecipient() == SetupPacket::RecipientEndpoint) return uint16_t(kEndpointRequest + setup.bRequest);
    const uint32_t subtype = entities_.FindEntityType(setup.wIndex & 0xFF, setup.wIndex >> 8);
    // An entity the table does not hold (or the header's ID) would give a
    // type among the engine's own packets, transactions and groups.
    if (!IsEntity(subtype)) return ItemControlTransfer;
    return uint16_t(subtype * 256 + setup.bRequest);
}

UsbItem* CClassDecoder::Transaction(UsbItem* item)
{
    if (!item) return nullptr;
    UsbItem* setupItem = FirstSetup(*item);
    // A transfer typed by an earlier run over the same tree is typed again.
    if (IsAudioType(item->type) && setupItem) item->type = ItemControlTransfer;
    if (item->type != ItemControlTransfer || !setupItem) return item;
    const auto setup = SetupPacket::Fetch(this, setupItem);
    if (setup && setup->IsClass()) item->type = RequestType(*setup);
    return item;
}

// ---------------------------------------------------------------- rows and data

int32_t CClassDecoder::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    if (Host() && Host()->Summarize(item, &out)) return 1;
    if (!IsAudioType(item->type)) return 0;
    out = ItemSummary{};
    const uint16_t type = item->type;
    const bool in = IsDeviceToHost(type);
    // Reused for every child, as the host leaves a row it cannot describe.
    ItemSummary scratch;
    uint8_t setup[SetupPacket::kSize] = {};
    for (UsbItem* child : item->children) {
        const bool described = Host() && Host()->Summarize(child, &scratch);
        if (described) {
            for (auto cell : {&ItemSummary::address, &ItemSummary::endpoint, &ItemSummary::interface,
                              &ItemSummary::status, &ItemSummary::speed})
                if (out.*cell < 0) out.*cell = scratch.*cell;
            if (out.time <= 0) out.time = scratch.time;
        }
        if (child->type == ItemSetupTransaction) FetchExact(this, child, setup);
        // The data stage: what was acknowledged, each transaction once.
        const bool counted = child->type == ItemInTransaction || (!in && child->type == ItemOutTransaction);
        if (counted && described && GetHandshake(*child) == 0 && scratch.size > 0)
            out.size = out.size < 0 ? scratch.size : out.size + scratch.size;
        // A stall anywhere is the row's result; a transaction without a
        // result (unanswered, damaged) tells nothing of the request's.
        if (scratch.status >= 0 && scratch.status != StatusAck && scratch.status != StatusNak &&
            (out.status == StatusAck || out.status == StatusNak))
            out.status = scratch.status;
    }
    if (out.status == StatusAck || out.status == StatusNyet) out.status = StatusOk;
    out.name = RowName(uint8_t(type));
    out.duration = DurationTo(out, scratch);
    out.icon = in ? kIconIn : kIconOut;
    const uint16_t wLength = uint16_t(setup[6] | setup[7] << 8);
    // No data bytes leave the size at -1, so a request of wLength 0 is flagged too.
    if (out.status == StatusOk && int32_t(wLength) != out.size) out.status = MakeItemStatus(StatusOk, ErrorClassDataLength);
    out.name += TargetName(item);
    return 1;
}

std::string CClassDecoder::TargetName(UsbItem* item)
{
    if (item->children.empty() || item->children[0]->type != ItemSetupTransaction) return {};
    const auto setup = AcceptedSetup(item->children[0]);
    if (!setup) return {};
    const uint8_t recipient = setup->RequestRecipient();
    const bool endpoint = recipient == SetupPacket::RecipientEndpoint;
    const bool interface = recipient == SetupPacket::RecipientInterface;
    if (IsMemoryOrStatus(setup->bRequest)) {
        if (endpoint) return Printf("( Endpoint %d )", setup->wIndex);
        if (interface) return Printf("( Interface %d , Entity %d )", setup->wIndex & 0xFF, setup->wIndex >> 8);
        return {};
    }
    if (endpoint) {
        static constexpr const char* kControls[] = {"( Undefined , Endpoint %d )", "( Sampling Frequency , Endpoint %d )",
                                                    "( Pitch Control , Endpoint %d )"};
        const uint32_t control = setup->wValue >> 8;
        return Printf(control < std::size(kControls) ? kControls[control] : "( Error Control Selector , Endpoint %d )",
                      setup->wIndex);
    }
    if (interface) return FormatEntityName(item->type >> 8, setup->wValue >> 8, setup->wIndex >> 8);
    return {};
}

int32_t CClassDecoder::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    if (!IsAudioType(item->type)) return CClassDecoderBase::GetItemData(item, buffer, capacity);
    const UsbItem* setupItem = FirstSetup(*item);
    if (!setupItem) return 0;
    const uint16_t stage = DataStageType(item->type);
    bool afterSetup = false;
    return ConcatChildData(this, *item, buffer, capacity, [&](const UsbItem& child) {
        if (&child == setupItem) {
            afterSetup = true;
            return false;
        }
        return afterSetup && child.type == stage && GetHandshake(child) == 0;
    });
}

bool CClassDecoder::ShowsDataOf(const UsbItem& item, const UsbItem& child)
{
    // As GetItemData takes them: the acknowledged data stage after the
    // setup, never the status stage or a NAKed try.
    if (!IsAudioType(item.type)) return true;
    if (child.type != DataStageType(item.type) || GetHandshake(child) != 0) return false;
    for (const UsbItem* stage : item.children) {
        if (stage->type == ItemSetupTransaction) return true;
        if (stage == &child) return false;
    }
    return false;
}

const ImageList* CClassDecoder::ItemImages(UsbItem* item)
{
    return item && item->type > ItemControlTransfer ? Images() : nullptr;
}

// ---------------------------------------------------------------- detail

bool CClassDecoder::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    if (item->type == ItemSetupTransaction) {
        uint8_t setup[SetupPacket::kSize];
        if (!FetchExact(this, item, setup)) return false;
        STAND_AUDIO_REQUEST_imp walker(entities_);
        walker.SetData(setup, sizeof setup);
        int64_t offset = 0;
        WriteEnumerableGroup(document, walker, kSetupGroupTitle, offset);
        return true;
    }
    if (!IsAudioType(item->type)) return false;
    if (OnNotify(NotifyPayloadLost, item, 0) == 1) {
        // No parameter block of bytes the capture lacks, as the host says of a transfer.
        DescribeLost("Transfer", item, document);
        return true;
    }
    // A setup that cannot be had reads as zeros.
    const SetupPacket setup = GetSetupPacket(item).value_or(SetupPacket{});
    std::vector<uint8_t> data;
    FetchAll(this, item, data, kParameterBlockLimit);
    return DescribeAudioRequest(item->type, setup, data, document);
}

}  // namespace orvane::audio
