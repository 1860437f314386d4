#include "CDecode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "BoundedFetch.h"
#include "DirectionIcons.h"
#include "ScsiWalkers.h"
#include "SetupPacket.h"
#include "TransportWalkers.h"
#include "WriteEnumerableGroup.h"

namespace orvane::gartho {

namespace {

// The largest data a data walker is given; the structures it reads are far shorter.
constexpr uint32_t kDataWalkerBytes = 1024;

const char* PhaseName(uint16_t type)
{
    switch (type) {
    case TypeBulkTransfer: return "Bulk Transfer";
    case TypeCommandTransport: return "Command Transport";
    case TypeDataIn: case TypeDataOut: return "Data Transport";
    case TypeStatusTransport: return "Status Transport";
    default: return "";
    }
}

bool IsPhase(uint16_t type) { return type >= TypeCommandTransport && type <= TypeStatusTransport; }
bool Accepted(const UsbItem& item) { return item.status == PidAck || item.status == PidNyet; }
// An IN or OUT transaction the device took or answered.
bool Valid(const UsbItem& item)
{
    return (item.type == ItemInTransaction || item.type == ItemOutTransaction) && Accepted(item);
}
bool IsNakRun(const UsbItem& item) { return item.type == ItemNakGroup; }

// What comes before an accepted wrapper on the OUT pipe and is part of
// sending it: refused tries, PINGs, and runs of them.
bool LeadsIntoWrapper(const UsbItem& item)
{
    if (item.type == ItemPingTransaction) return true;
    if (item.type == ItemOutTransaction) return !Accepted(item);
    if (!IsNakRun(item)) return false;
    const UsbItem* first = item.children.empty() ? nullptr : item.children[0];
    return !first || first->type == ItemOutTransaction || first->type == ItemPingTransaction;
}

// A command without a walker (START STOP UNIT, SYNCHRONIZE CACHE, ...): its
// operation code and the wrapper's LUN, which the command block of a newer
// command no longer carries.
std::string UnknownCommandName(const uint8_t (&cbw)[kCbwBytes])
{
    char text[48];
    std::snprintf(text, sizeof text, "SCSI Operation 0x%02X (Lun %u)", cbw[kCommandBlockAt], cbw[kCbwLun] & 0x0Fu);
    return text;
}

}  // namespace

CDecode::CDecode() : CClassDecoderBase(8, 6, 0x50, &DirectionIcons()) {}

// ---------------------------------------------------------------- transport

bool CDecode::ReadWrapper(UsbItem* out, bool& dataIn)
{
    wrapperItem_ = nullptr;
    // The signature is not compared: the size alone marks a wrapper.
    if (out->type != ItemOutTransaction || !FetchExact(Host(), out, wrapper_)) return false;
    wrapperItem_ = out;
    dataIn = (wrapper_[kCbwFlags] & 0x80) != 0;
    return true;
}

bool CDecode::CommandWrapper(UsbItem* command, uint8_t (&cbw)[kCbwBytes])
{
    // The phase's data are those of its accepted children; when the kept
    // wrapper is the only one, they are its bytes.
    const auto& tries = command->children;
    if (!tries.empty() && tries.back() == wrapperItem_ &&
        std::none_of(tries.begin(), tries.end() - 1, [](const UsbItem* t) { return Accepted(*t); })) {
        std::memcpy(cbw, wrapper_, kCbwBytes);
        return true;
    }
    return FetchExact(this, command, cbw);
}

UsbItem* CDecode::Transaction(UsbItem* item)
{
    if (!item) return BuildBulkTransfer();
    if (!Valid(*item)) {
        if (state_ == DataInPhase && LeadsIntoWrapper(*item)) {
            // The host is about to send (a PING, or an OUT try the device
            // refused): the data-in command is over, its status included.
            UsbItem* built = BuildBulkTransfer();
            pending_.push_back(item);
            state_ = AwaitingCommand;
            return built;
        }
        if (item->type == ItemControlTransfer) return item;
        pending_.push_back(item);
        return nullptr;
    }

    bool dataIn = false;
    UsbItem* built = nullptr;
    switch (state_) {
    case AwaitingCommand:
        if (ReadWrapper(item, dataIn)) {
            // Traffic of a command whose wrapper was not captured goes out on
            // its own first, so the new command starts clean and nothing is lost.
            auto own = pending_.end();
            while (own != pending_.begin() && LeadsIntoWrapper(**(own - 1))) --own;
            if (own != pending_.begin()) {
                std::vector<UsbItem*> tries(own, pending_.end());
                pending_.erase(own, pending_.end());
                built = BuildBulkTransfer();
                pending_ = std::move(tries);
            }
            state_ = dataIn ? DataInPhase : DataOutPhase;
        }
        pending_.push_back(item);
        return built;
    case DataInPhase:
        if (item->type == ItemInTransaction) {
            pending_.push_back(item);
            return nullptr;
        }
        built = BuildBulkTransfer();
        pending_.push_back(item);
        if (ReadWrapper(item, dataIn)) state_ = dataIn ? DataInPhase : DataOutPhase;
        return built;
    case DataOutPhase:
        pending_.push_back(item);
        if (item->type == ItemOutTransaction) return nullptr;
        state_ = AwaitingCommand;
        return BuildBulkTransfer();
    }
    return nullptr;
}

UsbItem* CDecode::BuildBulkTransfer()
{
    if (pending_.empty()) return nullptr;
    UsbItem* transfer = NewItem(TypeBulkTransfer, *pending_.front());
    transfer->children.reserve(3);  // its phases, in one block
    Cursor at = pending_.cbegin();
    UsbItem* command = CollectCommandTransport(at);
    transfer->Append(command);
    uint8_t cbw[kCbwBytes];
    if (CommandWrapper(command, cbw)) {
        transfer->type = uint16_t(TypeCommandBase + cbw[kCommandBlockAt]);
        const bool dataIn = (cbw[kCbwFlags] & 0x80) != 0;
        const uint32_t length = uint32_t(cbw[kCbwLength]) | uint32_t(cbw[kCbwLength + 1]) << 8 |
                                uint32_t(cbw[kCbwLength + 2]) << 16 | uint32_t(cbw[kCbwLength + 3]) << 24;
        if (length != 0) {
            if (UsbItem* data = dataIn ? CollectDataInTransport(at) : CollectDataOutTransport(at))
                transfer->Append(data);
        }
        if (UsbItem* status = CollectStatusTransport(at)) transfer->Append(status);
    }
    // Whatever no phase took stays in the transfer: nothing captured may
    // vanish from the transfer level.
    for (; at != pending_.cend(); ++at) transfer->Append(*at);
    pending_.clear();
    return transfer;
}

UsbItem* CDecode::TakePhase(uint16_t type, Cursor& at, Cursor end)
{
    UsbItem* phase = NewItem(type, **at);
    phase->children.reserve(uint32_t(end - at));
    for (; at != end; ++at) phase->Append(*at);
    return phase;
}

UsbItem* CDecode::CollectCommandTransport(Cursor& at)
{
    // OUT tries, NAK runs and PINGs up to the first accepted OUT.
    Cursor end = at;
    while (end != pending_.cend()) {
        const UsbItem& item = **end;
        if (item.type != ItemOutTransaction && !IsNakRun(item) && item.type != ItemPingTransaction) break;
        ++end;
        if (item.type == ItemOutTransaction && Accepted(item)) break;
    }
    return TakePhase(TypeCommandTransport, at, end);
}

bool CDecode::EndsWithStatusWrapper()
{
    UsbItem* last = pending_.back();
    if (last->type != ItemInTransaction) return false;
    uint8_t csw[kCswBytes];
    // A transaction of the host's: its data come from the host itself.
    if (FetchExact(Host(), last, csw)) return true;
    // One whose payload the capture lacks is known by its size: its bytes
    // must not join the data as if they were the last of them.
    ItemSummary row;
    return Host() && Host()->OnNotify(NotifyPayloadLost, last, 0) == 1 && Host()->Summarize(last, &row) &&
           row.size == int32_t(kCswBytes);
}

UsbItem* CDecode::CollectDataInTransport(Cursor& at)
{
    if (at == pending_.cend()) return nullptr;
    // INs and NAK runs, short of a status wrapper that ends the list.
    const Cursor stop = EndsWithStatusWrapper() ? pending_.cend() - 1 : pending_.cend();
    Cursor end = at;
    while (end != stop && ((*end)->type == ItemInTransaction || IsNakRun(**end))) ++end;
    return TakePhase(TypeDataIn, at, end);
}

UsbItem* CDecode::CollectDataOutTransport(Cursor& at)
{
    Cursor end = at;
    while (end != pending_.cend()) {
        const uint16_t type = (*end)->type;
        if (type != ItemOutTransaction && type != ItemNakGroup && type != ItemPingTransaction) break;
        ++end;
    }
    return end == at ? nullptr : TakePhase(TypeDataOut, at, end);
}

UsbItem* CDecode::CollectStatusTransport(Cursor& at)
{
    return at == pending_.cend() ? nullptr : TakePhase(TypeStatusTransport, at, pending_.cend());
}

// ---------------------------------------------------------------- rows

int32_t CDecode::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    if (Host() && Host()->Summarize(item, &out)) return 1;
    if (item->type == ItemControlTransfer) return SummarizeControlTransfer(item, out);
    if (item->type < ItemControlTransfer) return 0;
    out = ItemSummary{};
    if (IsPhase(item->type)) SummarizePhase(item, out);
    else SummarizeTransfer(item, out);
    return 1;
}

int32_t CDecode::SummarizeControlTransfer(UsbItem* item, ItemSummary& out)
{
    if (Host()) Host()->Summarize(item, &out);
    const auto setup = SetupPacket::FetchOfTransfer(this, item);
    if (!setup || !setup->IsClass()) return 0;
    if (setup->bRequest == kGetMaxLun) out.name = "GetMaxLun ( )";
    if (setup->bRequest == kBulkOnlyReset) out.name = "Reset()";
    return 1;
}

void CDecode::SummarizePhase(UsbItem* item, ItemSummary& out)
{
    const uint16_t type = item->type;
    out.name = PhaseName(type);
    if (type == TypeStatusTransport) {
        if (!item->children.empty()) Summarize(item->children[0], &out);
        if (out.status == StatusAck) out.status = StatusOk;
        out.name = PhaseName(type);
        out.icon = kIconIn;
        return;
    }
    if (type == TypeCommandTransport) {
        MergeChildSummaries(item, out);
        if (!item->children.empty()) {
            ItemSummary last;
            Summarize(item->children.back(), &last);
            out.duration = DurationTo(out, last);
        }
        out.icon = kIconOut;
        return;
    }
    out.size = 0;
    for (UsbItem* child : item->children) {
        ItemSummary row;
        Summarize(child, &row);
        MergeCells(out, row);
        if (row.size > 0 && child->status != PidNak) out.size += row.size;
        out.duration = DurationTo(out, row);
    }
    out.status = StatusOk;
    out.icon = type == TypeDataIn ? kIconIn : kIconOut;
}

void CDecode::SummarizeTransfer(UsbItem* item, ItemSummary& out)
{
    out.icon = kIconOut;
    bool summarizedApart = false;
    ItemSummary last;
    for (UsbItem* child : item->children) {
        if (child->type == TypeCommandTransport) {
            Summarize(child, &out);
            out.size = 0;
            out.name = PhaseName(item->type);
            uint8_t cbw[kCbwBytes];
            if (FetchExact(this, child, cbw)) {
                if (auto walker = MakeWalker(cbw[kCommandBlockAt])) {
                    walker->SetData(cbw + kCommandBlockAt, kCommandBlockBytes);
                    walker->GetName(out.name);
                } else {
                    out.name = UnknownCommandName(cbw);
                }
                out.icon = (cbw[kCbwFlags] & 0x80) ? kIconIn : kIconOut;
            }
            continue;
        }
        Summarize(child, &last);
        summarizedApart = true;
        if (child->type == TypeDataIn || child->type == TypeDataOut) {
            out.size = last.size;
        } else if (!IsPhase(child->type)) {
            // Traffic outside any phase: its cells fill the row, its data count.
            MergeCells(out, last);
            if (last.size > 0 && child->status != PidNak) out.size = (out.size > 0 ? out.size : 0) + last.size;
        }
    }
    if (out.name.empty() && item->type == TypeBulkTransfer) out.name = PhaseName(item->type);
    if (summarizedApart) out.duration = DurationTo(out, last);
}

int32_t CDecode::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    if (IsPhase(item->type)) return ConcatChildData(this, *item, buffer, capacity, Accepted);
    if (item->type >= TypeCommandBase) {
        for (UsbItem* child : item->children)
            if (child->type == TypeDataIn || child->type == TypeDataOut) return GetData(child, buffer, capacity);
        return 0;
    }
    if (item->type == TypeBulkTransfer) {
        // Everything the device or host accepted, phase or not.
        return ConcatChildData(this, *item, buffer, capacity,
                               [](const UsbItem& child) { return IsPhase(child.type) || Accepted(child); });
    }
    return CClassDecoderBase::GetItemData(item, buffer, capacity);
}

bool CDecode::ShowsDataOf(const UsbItem& item, const UsbItem& child)
{
    // As GetItemData takes them: a command shows its data transport alone.
    if (IsPhase(item.type)) return Accepted(child);
    if (item.type >= TypeCommandBase) return child.type == TypeDataIn || child.type == TypeDataOut;
    if (item.type == TypeBulkTransfer) return IsPhase(child.type) || Accepted(child);
    return true;
}

const ImageList* CDecode::ItemImages(UsbItem* item)
{
    return item && item->type > ItemControlTransfer ? Images() : nullptr;
}

// ---------------------------------------------------------------- detail

bool CDecode::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    const bool described = DescribeHeld(item, document);
    // Asked after the reads, which may fail: a wrapper, or a command's data,
    // the capture lacks in part shows what it holds, then names the rest.
    if (item->type > ItemControlTransfer && DescribeIfLost(item, document)) return true;
    return described;
}

bool CDecode::DescribeHeld(UsbItem* item, CDecodeResultWriter& document)
{
    int64_t offset = 0;
    switch (item->type) {
    case ItemSetupTransaction: {
        uint8_t setup[SetupPacket::kSize];
        if (!FetchExact(this, item, setup) || ((setup[0] & 0x60) != 0x20)) return false;
        WriteFieldGroup(document, "Setup request", DeviceRequestFields(), setup, offset);
        return true;
    }
    case ItemControlTransfer: return true;
    case TypeCommandTransport: {
        uint8_t cbw[kCbwBytes];
        if (!FetchExact(this, item, cbw)) return false;
        WriteFieldGroup(document, "Command Block Wrapper", CommandBlockWrapperFields(), cbw, offset);
        if (auto walker = MakeWalker(cbw[kCommandBlockAt])) {
            walker->SetData(cbw + kCommandBlockAt, kCommandBlockBytes);
            offset = kCbwFieldBits;
            WriteEnumerableGroup(document, *walker, "Command", offset);
        }
        return true;
    }
    case TypeDataIn:
    case TypeDataOut:
    case TypeBulkTransfer: return true;
    case TypeStatusTransport: {
        uint8_t csw[kCswBytes];
        if (!FetchExact(this, item, csw)) return false;
        WriteFieldGroup(document, "Command Status Wrapper", CommandStatusWrapperFields(), csw, offset);
        return true;
    }
    default: break;
    }
    if (item->type < TypeCommandBase) return false;
    if (auto walker = MakeWalker(item->type)) {
        // A fresh buffer per item: a short answer never shows an earlier command's bytes.
        std::vector<uint8_t> data;
        FetchAll(this, item, data, kDataWalkerBytes);
        if (!data.empty()) {
            walker->SetData(data.data(), uint32_t(data.size()));
            std::string title;
            walker->GetName(title);
            WriteEnumerableGroup(document, *walker, title, offset);
        }
    }
    return true;
}

}  // namespace orvane::gartho
