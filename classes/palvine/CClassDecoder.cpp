#include "CClassDecoder.h"

#include <algorithm>
#include <cstdio>

#include "BoundedFetch.h"
#include "PtpDictionary.h"
#include "PtpWalkers.h"
#include "SetupPacket.h"
#include "WriteEnumerableGroup.h"

namespace orvane::palvine {

namespace {

const uint8_t kIconStrip[] = {
#include "PalvineIconsData.inc"
};
const ImageList kImages{kIconStrip, sizeof kIconStrip, 16, 16, 2};
constexpr int32_t kIconIn = 0, kIconOut = 1;

// The most of a data phase a dataset walker is given: far more than any
// dataset the device describes itself with, far less than a picture.
constexpr uint32_t kDatasetBytes = 1u << 20;
// A command, response or event container: the header, at most five parameters.
constexpr uint32_t kContainerBytes = 32;

bool IsPhase(uint16_t type) { return type >= TypeCommandPhase && type <= TypeEventPhase; }
bool IsOperation(uint16_t type) { return type == TypeOperation || type >= TypeFirstOperationCode; }
// Data the receiver took. A NAKed OUT carries the same bytes as the try that
// follows it, so it must not count twice.
bool Accepted(const UsbItem& item) { return item.status == PidAck || item.status == PidNyet; }

int32_t ClampSize(uint64_t size) { return int32_t(std::min<uint64_t>(size, 0x7FFFFFFF)); }

uint32_t Le32(const uint8_t* b) { return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24; }

}  // namespace

CClassDecoder::CClassDecoder() : CClassDecoderBase(6, 1, 1, &kImages) {}

// ---------------------------------------------------------------- grouping

bool CClassDecoder::CarriesData(UsbItem* in)
{
    return in->status == PidAck && FetchBounded(Host(), in, {}) > 0;
}

UsbItem* CClassDecoder::Transaction(UsbItem* item)
{
    if (!item) return BuildOperation();
    if (item->type >= ItemControlTransfer) return item;
    UsbItem* built = nullptr;
    // What the host sends after the device answered starts the next operation.
    if (inSeen_ && (item->type == ItemOutTransaction || item->type == ItemPingTransaction)) {
        built = BuildOperation();
        inSeen_ = false;
    } else if (!inSeen_ && item->type == ItemInTransaction && CarriesData(item)) {
        // Only an answer with data: a NAKed poll of the event pipe between the
        // packets of a long SendObject must not cut it up. Once seen, the
        // data of every further IN need not be asked for.
        inSeen_ = true;
    }
    pending_.push_back(item);
    return built;
}

UsbItem* CClassDecoder::BuildOperation()
{
    if (pending_.empty()) return nullptr;
    UsbItem* operation = NewItem(TypeOperation, *pending_.front());
    Cursor front = pending_.cbegin();
    Cursor back = pending_.cend();
    UsbItem* command = CollectCommandPhase(front);
    uint8_t head[kHeaderBytes] = {};
    int32_t length = -1;
    if (command) {
        operation->Append(command);
        length = FetchBounded(this, command, head);
    }
    const ContainerHeader header = ContainerHeader::From(head);
    // Only a whole command container types the operation; anything else gets
    // the private type, never one of the engine's own item types.
    if (length >= int32_t(kHeaderBytes) && (length - kHeaderBytes) % 4 == 0 && header.code >= TypeFirstOperationCode) {
        operation->type = header.code;
        UsbItem* response = CollectResponsePhase(front, back);
        UsbItem* event = nullptr;
        if (response && response->type == TypeEventPhase) {
            event = response;
            response = CollectResponsePhase(front, back);
        }
        if (UsbItem* data = CollectDataPhase(front, back)) operation->Append(data);
        if (response) operation->Append(response);
        if (event) operation->Append(event);
        front = pending_.cend();
    }
    // Whatever no phase took stays in the operation: nothing captured may
    // vanish from the transfer level.
    for (; front != pending_.cend(); ++front) operation->Append(*front);
    pending_.clear();
    return operation;
}

UsbItem* CClassDecoder::CollectCommandPhase(Cursor& front)
{
    // The OUT tries, PINGs and NAK runs up to the first OUT the device took.
    Cursor end = front;
    while (end != pending_.cend()) {
        const UsbItem& item = **end;
        if (item.type != ItemOutTransaction && item.type != ItemNakGroup && item.type != ItemPingTransaction) break;
        ++end;
        if (item.type == ItemOutTransaction && Accepted(item)) break;
    }
    if (end == front) return nullptr;
    UsbItem* phase = NewItem(TypeCommandPhase, **front);
    for (; front != end; ++front) phase->Append(*front);
    return phase;
}

UsbItem* CClassDecoder::CollectResponsePhase(Cursor front, Cursor& back)
{
    // Backwards from the end: the container IN and the tries and NAKs around it.
    std::vector<UsbItem*> taken;
    UsbItem* container = nullptr;
    uint16_t type = 0;
    Cursor at = back;
    while (at != front) {
        UsbItem* item = *(at - 1);
        if (item->type == ItemOutTransaction) break;
        // A NAKed IN carries nothing: passed over like a NAK run.
        if (item->type != ItemInTransaction || item->status == PidNak) {
            taken.push_back(item);
            --at;
            continue;
        }
        uint8_t bytes[8];
        if (FetchBounded(Host(), item, bytes) < int32_t(sizeof bytes)) break;
        const uint16_t blockType = uint16_t(bytes[4] | bytes[5] << 8);
        if (blockType != ResponseBlock && blockType != EventBlock) break;
        if (item->status == PidAck) {
            if (container) break;
            container = item;
            type = blockType == ResponseBlock ? TypeResponsePhase : TypeEventPhase;
        }
        taken.push_back(item);
        --at;
    }
    if (!container) return nullptr;
    UsbItem* phase = NewItem(type, *container);
    // Newest first: the container before the tries and NAKs that preceded it.
    for (UsbItem* item : taken) phase->Append(item);
    back = at;
    return phase;
}

UsbItem* CClassDecoder::CollectDataPhase(Cursor front, Cursor back)
{
    if (front == pending_.cend() || front == back) return nullptr;
    // Its endpoint is that of the data, not of a NAKed poll of the event pipe before them.
    const auto data = std::find_if(front, back, [](const UsbItem* item) { return Accepted(*item); });
    UsbItem* phase = NewItem(TypeDataPhase, data != back ? **data : **front);
    phase->firstRecord = (*front)->firstRecord;
    phase->children.reserve(uint32_t(back - front));
    for (; front != back; ++front) phase->Append(*front);
    return phase;
}

// ---------------------------------------------------------------- rows

int32_t CClassDecoder::SummarizeItem(UsbItem* item, ItemSummary& out)
{
    if (Host() && Host()->Summarize(item, &out)) return 1;
    if (item->type == ItemControlTransfer) return SummarizeClassRequest(item, out);
    if (IsPhase(item->type)) {
        SummarizePhase(item, out);
        return 1;
    }
    if (IsOperation(item->type)) {
        SummarizeOperation(item, out);
        return 1;
    }
    return 0;
}

bool CClassDecoder::ContainerLengthMatches(UsbItem* phase)
{
    uint8_t length[4];
    const int32_t n = FetchBounded(this, phase, length);
    return n >= 4 && Le32(length) == uint32_t(n);
}

void CClassDecoder::SummarizePhase(UsbItem* item, ItemSummary& out)
{
    out = ItemSummary{};
    const uint16_t type = item->type;
    if (type == TypeResponsePhase || type == TypeEventPhase) {
        // The row is the container's own.
        UsbItem* container = item->children.empty() ? nullptr : item->children[0];
        for (UsbItem* child : item->children)
            if (child->type == ItemInTransaction && child->status == PidAck) {
                container = child;
                break;
            }
        if (container) Summarize(container, &out);
        if (out.status == StatusAck) out.status = StatusOk;
        out.name = type == TypeResponsePhase ? "Still Image Response" : "Still Image Event";
        out.icon = kIconIn;
    } else {
        uint64_t size = 0;
        bool toDevice = false;
        ItemSummary first, last, cells;
        // The cells come from the data the receiver took; a refused try or a
        // NAKed poll says nothing of the phase's endpoint, result or size.
        for (bool accepted : {true, false}) {
            for (UsbItem* child : item->children) {
                if (Accepted(*child) != accepted) continue;
                Summarize(child, &cells);
                if (!accepted) cells.status = cells.size = -1;
                else if (cells.size > 0) size += uint64_t(cells.size);
                MergeCells(out, cells);
                toDevice |= child->type == ItemOutTransaction;
            }
        }
        if (out.status == StatusAck || out.status == StatusNyet) out.status = StatusOk;
        if (!item->children.empty()) {
            Summarize(item->children[0], &first);
            Summarize(item->children.back(), &last);
            out.time = first.time;
            out.duration = DurationTo(out, last);
        }
        out.size = ClampSize(size);
        if (type == TypeCommandPhase) {
            out.name = "Still Image Command";
            out.icon = kIconOut;
        } else {
            out.name = "Still Image Data";
            out.icon = toDevice ? kIconOut : kIconIn;
            out.status = StatusOk;
        }
    }
    if (!ContainerLengthMatches(item)) out.status = WithErrorClass(out.status, ErrorClassDataLength);
}

void CClassDecoder::SummarizeOperation(UsbItem* item, ItemSummary& out)
{
    out = ItemSummary{};
    const std::string name = item->type >= TypeFirstOperationCode ? FormatCodeName(item->type) : std::string();
    ItemSummary last;
    bool ended = false;
    for (UsbItem* child : item->children) {
        if (child->type == TypeCommandPhase) {
            Summarize(child, &out);
            out.size = 0;
            out.name = name.empty() ? "Still Image Command" : name;
            out.icon = kIconOut;
            continue;
        }
        Summarize(child, &last);
        ended = true;
        if (child->type == TypeDataPhase) {
            out.size = last.size;
            out.icon = last.icon;
        }
        if (IsPhase(child->type)) {
            if (last.status != StatusOk || out.status == -1) out.status = last.status;
        } else {
            // Traffic no phase took: its cells fill the row.
            MergeCells(out, last);
        }
    }
    if (ended) out.duration = DurationTo(out, last);
    if (out.name.empty()) out.name = name.empty() ? "Still Image Data" : name;
}

int32_t CClassDecoder::SummarizeClassRequest(UsbItem* item, ItemSummary& out)
{
    const auto setup = SetupPacket::FetchOfTransfer(this, item);
    if (!setup || !setup->IsClass() || setup->bRequest < RequestCancel || setup->bRequest > RequestGetDeviceStatus)
        return 0;
    // The icon stays the host's control-transfer icon of its direction.
    out.name = ClassRequestName(setup->bRequest);
    const int32_t result = StatusResult(out.status);
    if (result == StatusAck || result == StatusNyet) out.status = MakeItemStatus(StatusOk, StatusErrorClass(out.status));
    return 1;
}

int32_t CClassDecoder::Notify(int32_t code, void* arg, intptr_t param)
{
    if (code != NotifyDataLength || !arg || !param) return 0;
    // Large phases give the data pane a little more room than they need.
    ItemSummary row;
    Summarize(static_cast<UsbItem*>(arg), &row);
    if (row.size > int32_t(kSizeHintThreshold)) {
        auto* count = reinterpret_cast<uint32_t*>(param);
        const uint64_t hint = std::min<uint64_t>(uint64_t(row.size) + 10, 0xFFFFFFFFu);
        *count = uint32_t(std::max<uint64_t>(*count, hint));
    }
    return 0;
}

// ---------------------------------------------------------------- bytes

int32_t CClassDecoder::GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    if (IsPhase(item->type)) return ConcatChildData(this, *item, buffer, capacity, Accepted);
    if (IsOperation(item->type)) {
        for (UsbItem* child : item->children)
            if (child->type == TypeDataPhase) return GetData(child, buffer, capacity);
        return 0;
    }
    return CClassDecoderBase::GetItemData(item, buffer, capacity);
}

bool CClassDecoder::ShowsDataOf(const UsbItem& item, const UsbItem& child)
{
    // As GetItemData takes them: an operation shows its data phase alone.
    if (IsPhase(item.type)) return Accepted(child);
    if (IsOperation(item.type)) return child.type == TypeDataPhase;
    return true;
}

// ---------------------------------------------------------------- detail

uint32_t CClassDecoder::OperationCodeOf(const UsbItem* phase)
{
    const UsbItem* operation = phase->parent;
    if (!operation || operation->children.empty() || operation->children[0]->type != TypeCommandPhase) return 0;
    uint8_t head[kHeaderBytes];
    const int32_t n = FetchBounded(this, operation->children[0], head);
    return n > 8 ? uint32_t(head[6] | head[7] << 8) : 0;
}

bool CClassDecoder::DescribeContainer(UsbItem* phase, CDecodeResultWriter& document)
{
    uint8_t bytes[kContainerBytes];
    const int32_t n = FetchBounded(this, phase, bytes);
    if (n <= 0) return false;
    std::unique_ptr<CContainerWalker> walker;
    switch (phase->type) {
    case TypeCommandPhase: walker = std::make_unique<CONTAINER_STRUCTURE_imp>(); break;
    case TypeResponsePhase: walker = std::make_unique<CONTAINER_STRUCTURER_RES_imp>(OperationCodeOf(phase)); break;
    default: walker = std::make_unique<CONTAINER_STRUCTURER_EVENT_imp>(); break;
    }
    walker->SetData(bytes, std::min<uint32_t>(uint32_t(n), kContainerBytes));
    walker->SetCapturedCount(uint32_t(n));
    std::string title;
    walker->GetName(title);
    int64_t offset = 0;
    WriteEnumerableGroup(document, *walker, title, offset);
    return true;
}

bool CClassDecoder::DescribeDataPhase(UsbItem* item, const std::string& title, CDecodeResultWriter& document)
{
    uint8_t head[kHeaderBytes];
    const int32_t total = FetchBounded(this, item, head);
    if (total < int32_t(kHeaderBytes)) return false;
    const ContainerHeader header = ContainerHeader::From(head);
    DEVICE_INFO_HEAD_imp headWalker{uint64_t(total)};
    headWalker.SetData(head, kHeaderBytes);
    int64_t offset = 0;
    WriteEnumerableGroup(document, headWalker, title.empty() ? "Still Image Data" : title, offset);
    offset = kHeaderBytes * 8;
    const uint64_t dataset = uint64_t(total) - kHeaderBytes;
    // Asked after each read, which may fail: what the capture lacks of the
    // data is named after the fields of what it holds.
    const auto lost = [&](const std::string& block) {
        if (OnNotify(NotifyPayloadLost, item, 0) != 1) return false;
        DescribeLost(block, item, document);
        return true;
    };
    if (auto walker = MakeDatasetWalker(header.code)) {
        // Only the prefix a dataset can use, never a whole picture.
        std::vector<uint8_t> bytes;
        FetchAll(this, item, bytes, kDatasetBytes);
        std::string name;
        walker->GetName(name);
        if (bytes.size() >= kHeaderBytes) {
            walker->SetData(bytes.data() + kHeaderBytes, uint32_t(bytes.size() - kHeaderBytes));
            WriteEnumerableGroup(document, *walker, name, offset);
        }
        lost(name);
        return true;
    }
    // The size of the part held would pass for the block's.
    if (lost(DataBlockName(header.code))) return true;
    char tip[128];
    std::snprintf(tip, sizeof tip, "The data size of %s", FormatCodeName(header.code).c_str());
    const xml::Node group = document.AddGroup(DataBlockName(header.code));
    document.AddItem(group, "Data", FormatPtpByteSize(dataset), tip, offset, int64_t(dataset) * 8);
    return true;
}

bool CClassDecoder::DescribeClassRequest(UsbItem* transfer, CDecodeResultWriter& document)
{
    const auto setup = SetupPacket::FetchOfTransfer(this, transfer);
    if (!setup || !setup->IsClass()) return false;
    std::unique_ptr<CDatasetWalker> walker;
    switch (setup->bRequest) {
    case RequestCancel: walker = std::make_unique<CANCEL_SETUP_REQUEST_imp>(); break;
    case RequestGetExtendedEvent: walker = std::make_unique<GET_EVENT_SETUP_REQUEST_imp>(); break;
    case RequestGetDeviceStatus: walker = std::make_unique<GET_DEVICE_STATUS_REQUEST_imp>(); break;
    case RequestDeviceReset: {
        const xml::Node group = document.AddGroup("Device Reset");
        document.AddItem(group, "Data", "No Data", "No Data", 0, 0);
        return true;
    }
    default: return false;
    }
    std::vector<uint8_t> data;
    FetchAll(Host(), transfer, data, kDatasetBytes);
    walker->SetData(data.data(), uint32_t(data.size()));
    std::string title;
    walker->GetName(title);
    int64_t offset = 0;
    WriteEnumerableGroup(document, *walker, title, offset);
    return true;
}

bool CClassDecoder::DescribeItem(UsbItem* item, CDecodeResultWriter& document)
{
    // A container, or an operation's data, the capture lacks whole leaves
    // nothing described: the frame names it then.
    switch (item->type) {
    case TypeCommandPhase:
    case TypeResponsePhase:
    case TypeEventPhase: return DescribeContainer(item, document);
    case TypeDataPhase: return DescribeDataPhase(item, std::string(), document);
    case ItemControlTransfer: return DescribeClassRequest(item, document);
    default: break;
    }
    if (!IsOperation(item->type)) return false;
    for (UsbItem* child : item->children)
        if (child->type == TypeDataPhase) return DescribeDataPhase(item, FormatCodeName(item->type), document);
    return false;
}

}  // namespace orvane::palvine
