#include "CFakeHost.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "SetupPacket.h"

namespace orvane {

namespace {

bool IsInLike(uint16_t type)
{
    return type == ItemInTransaction || type == ItemSsplitIn || type == ItemCsplitIn;
}

std::string TypeName(uint16_t type)
{
    switch (type) {
    case ItemInTransaction: return "IN transaction";
    case ItemOutTransaction: return "OUT transaction";
    case ItemSetupTransaction: return "SETUP transaction";
    case ItemPingTransaction: return "PING transaction";
    case ItemNakGroup: return "NAKed transactions";
    default: return "item " + std::to_string(type);
    }
}

// The parser's status cell: the handshake PID's result code.
int32_t StatusOf(uint8_t pid) { return pid == kNone ? -1 : int32_t(pid >> 2); }

const ImageList kNoIcons{};

}  // namespace

CFakeHost::~CFakeHost()
{
    for (UsbItem* item : made_) {
        item->children.clear();
        delete item;
    }
}

void CFakeHost::SetDevice(uint8_t address, uint8_t interface, int32_t speed)
{
    address_ = address;
    interface_ = interface;
    speed_ = speed;
}

void CFakeHost::SetEndpoints(uint8_t in, uint8_t out)
{
    in_ = in;
    out_ = out;
}

UsbItem* CFakeHost::Make(uint16_t type, uint8_t endpoint, uint8_t status, std::vector<uint8_t> payload)
{
    auto* item = new UsbItem(type, nextRecord_++);
    item->address = address_;
    item->endpoint = endpoint;
    item->interface = interface_;
    item->status = status;
    Entry entry;
    entry.row.name = TypeName(type);
    entry.row.address = address_;
    entry.row.endpoint = endpoint;
    entry.row.interface = interface_ == kNone ? -1 : interface_;
    entry.row.status = StatusOf(status);
    entry.row.speed = speed_;
    // A NAKed or unanswered transaction carries no data packet.
    const bool carries = status != PidNak && status != PidStall && type >= ItemInTransaction && type <= ItemCsplitIn;
    entry.row.size = carries ? int32_t(payload.size()) : -1;
    entry.row.time = int64_t(item->firstRecord) * 1000;
    entry.row.duration = 500;
    entry.payload = std::move(payload);
    entries_.emplace(item, std::move(entry));
    made_.push_back(item);
    return item;
}

UsbItem* CFakeHost::Transaction(uint16_t type, uint8_t status, std::vector<uint8_t> payload)
{
    return Make(type, IsInLike(type) ? in_ : out_, status, std::move(payload));
}

UsbItem* CFakeHost::NakRun(uint16_t type, uint32_t count)
{
    std::vector<UsbItem*> members;
    for (uint32_t i = 0; i < count; ++i) members.push_back(Transaction(type, PidNak));
    UsbItem* run = Item(ItemNakGroup, members, PidNak);
    run->endpoint = IsInLike(type) ? in_ : out_;
    Row(run)->endpoint = run->endpoint;
    return run;
}

UsbItem* CFakeHost::ControlTransfer(std::span<const uint8_t> setup, std::vector<uint8_t> data, uint32_t packetSize)
{
    const bool in = !setup.empty() && (setup[0] & 0x80);
    std::vector<UsbItem*> stages;
    stages.push_back(Make(ItemSetupTransaction, 0, PidAck, std::vector<uint8_t>(setup.begin(), setup.end())));
    if (packetSize == 0) packetSize = 64;
    for (size_t at = 0; at < data.size(); at += packetSize) {
        const size_t end = std::min(data.size(), at + packetSize);
        std::vector<uint8_t> piece(data.begin() + long(at), data.begin() + long(end));
        stages.push_back(Make(in ? ItemInTransaction : ItemOutTransaction, 0, PidAck, std::move(piece)));
    }
    stages.push_back(Make(in ? ItemOutTransaction : ItemInTransaction, 0, PidAck, {}));
    UsbItem* transfer = Item(ItemControlTransfer, stages);
    transfer->endpoint = 0;
    // As the parser: the handshake of the last stage.
    transfer->status = stages.back()->status;
    // The standard-request decoder places a request to an interface there.
    if (setup.size() >= 6 && (setup[0] & 0x1F) == SetupPacket::RecipientInterface) {
        transfer->interface = setup[4];
        stages.front()->interface = setup[4];
    }
    return transfer;
}

UsbItem* CFakeHost::Item(uint16_t type, std::vector<UsbItem*> children, uint8_t status, std::vector<uint8_t> payload)
{
    // The item comes first in time, so it takes its first member's record.
    const uint32_t first = children.empty() ? nextRecord_ : children.front()->firstRecord;
    UsbItem* item = Make(type, children.empty() ? out_ : children.front()->endpoint, status, std::move(payload));
    item->firstRecord = first;
    Entry& entry = entries_.at(item);
    entry.row.time = int64_t(first) * 1000;
    if (!children.empty()) entry.row = entries_.at(children.front()).row;
    entry.row.name = TypeName(type);
    for (UsbItem* child : children) item->Append(child);
    return item;
}

void CFakeHost::SetPayload(const UsbItem* item, std::vector<uint8_t> payload)
{
    auto it = entries_.find(item);
    if (it == entries_.end()) return;
    if (it->second.row.size >= 0) it->second.row.size = int32_t(payload.size());
    it->second.payload = std::move(payload);
}

void CFakeHost::LosePayload(const UsbItem* item, bool lost)
{
    if (auto it = entries_.find(item); it != entries_.end()) it->second.lost = lost;
}

void CFakeHost::FailReads(const UsbItem* item)
{
    if (auto it = entries_.find(item); it != entries_.end()) it->second.failsRead = true;
}

bool CFakeHost::Lost(const UsbItem* item) const
{
    auto it = entries_.find(item);
    if (it == entries_.end()) return false;
    if (item->type != ItemControlTransfer) return it->second.lost && !it->second.payload.empty();
    for (const UsbItem* stage : item->children)
        if (stage->status != PidNak && Lost(stage)) return true;
    return false;
}

int32_t CFakeHost::OnNotify(int32_t code, void* arg, intptr_t param)
{
    const auto* item = static_cast<const UsbItem*>(arg);
    if (code != NotifyPayloadLost || !Lost(item)) return 0;
    if (param && entries_.at(item).failsRead) *reinterpret_cast<const char**>(param) = kPayloadUnreadText;
    return 1;
}

const std::vector<uint8_t>* CFakeHost::Payload(const UsbItem* item) const
{
    auto it = entries_.find(item);
    return it == entries_.end() ? nullptr : &it->second.payload;
}

ItemSummary* CFakeHost::Row(const UsbItem* item)
{
    auto it = entries_.find(item);
    return it == entries_.end() ? nullptr : &it->second.row;
}

void CFakeHost::FreeDecoderItems(const std::vector<UsbItem*>& items)
{
    // Iterative and by identity: a decoder's tree may hold an item twice by fault,
    // and freeing it twice must not be the test's own crash.
    std::unordered_set<UsbItem*> doomed;
    std::vector<UsbItem*> stack(items.begin(), items.end());
    while (!stack.empty()) {
        UsbItem* item = stack.back();
        stack.pop_back();
        if (!item || Made(item) || !doomed.insert(item).second) continue;
        for (UsbItem* child : item->children) stack.push_back(child);
    }
    for (UsbItem* item : doomed) {
        item->children.clear();
        delete item;
    }
}

int32_t CFakeHost::Summarize(UsbItem* item, ItemSummary* out)
{
    auto it = entries_.find(item);
    // The parser knows its own types only, also on an item a decoder retyped.
    if (!out || it == entries_.end() || item->type > ItemControlTransfer) return 0;
    *out = it->second.row;
    if (item->type != ItemControlTransfer) return 1;
    // As the parser: the request is the interface decoder's unless standard and
    // not addressed to an interface.
    out->status = StatusOk;
    int32_t size = 0;
    for (uint32_t i = 1; i < item->children.size(); ++i) {
        const ItemSummary* row = Row(item->children[i]);
        if (row && item->children[i]->status != PidNak && row->size > 0) size += row->size;
    }
    out->size = size;
    const auto setup = SetupPacket::FetchOfTransfer(this, item);
    if (!setup) return 0;
    out->name = "Request " + std::to_string(setup->bRequest);
    out->icon = 24 + (setup->bmRequestType >> 7);
    return setup->IsStandard() && setup->RequestRecipient() != SetupPacket::RecipientInterface ? 1 : 0;
}

int32_t CFakeHost::GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity)
{
    ++dataCalls_;
    auto it = entries_.find(item);
    if (it == entries_.end()) return -1;
    if (item->type == ItemControlTransfer) {
        uint32_t total = 0;
        for (uint32_t i = 1; i < item->children.size(); ++i) {
            UsbItem* child = item->children[i];
            if (child->status == PidNak) continue;
            const uint32_t room = capacity > total ? capacity - total : 0;
            const int32_t n = GetData(child, buffer && room ? buffer + total : nullptr, room);
            if (n > 0) total += uint32_t(n);
            if (Lost(child)) break;
        }
        return int32_t(total);
    }
    if (item->type > ItemControlTransfer) return -1;
    if (it->second.failsRead) it->second.lost = true;
    if (it->second.lost) return 0;
    const std::vector<uint8_t>& bytes = it->second.payload;
    const size_t n = std::min<size_t>(capacity, bytes.size());
    if (buffer && n) {
        std::memcpy(buffer, bytes.data(), n);
        bytesCopied_ += n;
    }
    return int32_t(bytes.size());
}

int32_t CFakeHost::GetDetail(UsbItem* item, std::string& xml)
{
    if (!Made(item) || item->type > ItemControlTransfer) return 0;
    if (item->type == ItemControlTransfer || item->type == ItemSetupTransaction) {
        const auto setup = item->type == ItemControlTransfer ? SetupPacket::FetchOfTransfer(this, item)
                                                               : SetupPacket::Fetch(this, item);
        if (!setup || !setup->IsStandard()) return 0;
    }
    xml = "<groups/>";
    return 1;
}

const ImageList* CFakeHost::GetImageList(UsbItem* item)
{
    return Made(item) && item->type <= ItemControlTransfer ? &kNoIcons : nullptr;
}

std::vector<UsbItem*> Feed(IDecodeClass& decoder, std::span<UsbItem* const> items)
{
    std::vector<UsbItem*> out;
    for (UsbItem* item : items)
        if (UsbItem* r = decoder.OnTransaction(item)) out.push_back(r);
    if (UsbItem* rest = decoder.OnTransaction(nullptr)) out.push_back(rest);
    return out;
}

std::string DescribeTree(const CFakeHost& host, const UsbItem* item)
{
    if (!item) return "null";
    if (host.Made(item)) return std::to_string(item->type) + "#" + std::to_string(item->firstRecord);
    std::string s = std::to_string(item->type) + "(";
    for (uint32_t i = 0; i < item->children.size(); ++i) s += (i ? " " : "") + DescribeTree(host, item->children[i]);
    return s + ")";
}

std::string DescribeTree(const CFakeHost& host, std::span<UsbItem* const> items)
{
    std::string s;
    for (const UsbItem* item : items) s += (s.empty() ? "" : " ") + DescribeTree(host, item);
    return s;
}

}  // namespace orvane
