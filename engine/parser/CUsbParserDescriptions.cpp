// The parser's descriptions of its items: list rows, bytes, detail documents
// and icons. Everything is read again from the data source.
#include <algorithm>
#include <cstdio>

#include "CDecodeResultWriter.h"
#include "CDeviceRequest.h"
#include "CUsbParser.h"
#include "DescriptorList.h"
#include "ParserIcons.h"

namespace orvane {

namespace {

const char* const kBusEvents[] = {
    "Host Connect", "Device Connect", "Host Reset",        "Device Chirp", "Host ChirpJ",
    "Host ChirpK",  "Device Disconnect", "Bus Suspend", "Bus Resume",   "Host Reset Completed",
};

int32_t IconFor(uint32_t key) {
    switch (key) {
    case 13: return 0;
    case 1: return 1;
    case 9: return 2;
    case 4: return 3;
    case 5: return 10;
    case 3: case 11: case 7: case 15: return 4;
    case 0x103: case 0x10B: case 0x107: case 0x10F: return 8;
    case 2: return 8;
    case 0x102: return 6;
    case 10: case 6: case 14: case 0x10A: case 0x106: case 0x10E: return 9;
    case 18: return 11;
    case 17: return 12;
    case 16: return 13;
    case 19: return 18;
    default: return 0;
    }
}

bool IsToken(uint16_t type) { return type == PidOut || type == PidIn || type == PidSetup || type == PidPing; }
bool IsDataType(uint16_t type) { return type < 16 && (type & 3) == 3; }
bool IsHandshakeType(uint16_t type) { return type < 16 && (type & 3) == 2; }
bool PidCheckFails(const PacketRecord& r) { return r.HasError() && !r.PidCheckOk(); }

// The one error class a row can show for a damaged record: the packet's own
// check first, then its length, then bit stuffing.
int32_t ErrorClassOf(const PacketRecord& r) {
    if (!r.HasError()) return ErrorClassNone;
    const uint8_t flags = r.ErrorFlags();
    if (!r.PidCheckOk()) return ErrorClassPid;
    if (flags & ErrCrc5) return ErrorClassCrc5;
    if (flags & ErrCrc16) return ErrorClassCrc16;
    if (flags & ErrLength) return ErrorClassDataLength;
    if (flags & ErrBitStuff) return ErrorClassBitStuff;
    return ErrorClassNone;
}

std::string Dec(int64_t v) { return std::to_string(v); }

// The data packet a transaction carries its data in; null for one without.
const UsbItem* DataPacketOf(const UsbItem* item) {
    uint32_t at;
    switch (item->type) {
    case ItemInTransaction: case ItemOutTransaction: case ItemSetupTransaction:
        at = 1;
        break;
    case ItemSsplitOut: case ItemCsplitIn:
        at = 2;
        break;
    default:
        return nullptr;
    }
    if (at >= item->children.size()) return nullptr;
    const UsbItem* packet = item->children[at];
    return IsDataType(packet->type) ? packet : nullptr;
}

// Copies what fits and always answers the whole length.
struct Bounded {
    uint8_t* buffer;
    uint32_t capacity;
    uint32_t length = 0;
    void Put(uint8_t b) {
        if (buffer && length < capacity) buffer[length] = b;
        ++length;
    }
};

}  // namespace

bool CUsbParser::RecordAt(uint32_t index, PacketRecord* out) {
    if (!source_) return false;
    // Not through the parse's reader: rows are described from the UI thread
    // while the parse or a decoding reads on the worker.
    uint32_t count = 0;
    if (const PacketRecord* p = source_->PeekRecords(index, &count)) {
        *out = *p;
        return true;
    }
    return source_->GetRecord(index, out) == RecordOk;
}

bool CUsbParser::RecordOf(const UsbItem* item, PacketRecord* out) { return item && RecordAt(item->firstRecord, out); }

const char* CUsbParser::LostTextOf(const UsbItem* item) {
    if (!item) return nullptr;
    if (item->type < 16) {
        PacketRecord r;
        if (!IsDataType(item->type) || !RecordOf(item, &r)) return nullptr;
        if (r.PayloadLost()) return r.PayloadUnread() ? kPayloadUnreadText : kPayloadLostText;
        // Held, but its read from the analyser failed: asked without reading it again.
        const bool failed = r.Length() >= 2 && source_ && source_->GetPayload(&r, nullptr, 0, nullptr) == kPayloadNotRead;
        return failed ? kPayloadUnreadText : nullptr;
    }
    if (item->type == ItemControlTransfer) {
        // One stage written over by the ring makes the whole transfer's text that.
        const char* text = nullptr;
        for (const UsbItem* stage : item->children) {
            const char* lost = stage->status != PidNak ? LostTextOf(stage) : nullptr;
            if (lost && !IsPayloadUnreadText(lost)) return lost;
            if (lost) text = lost;
        }
        return text;
    }
    if (item->type >= ItemControlTransfer) return nullptr;
    // A zero-length packet lost its CRC alone: the transaction, and a status
    // stage's transfer, lack none of their data.
    const UsbItem* packet = DataPacketOf(item);
    PacketRecord r;
    const char* text = packet ? LostTextOf(packet) : nullptr;
    return text && RecordOf(packet, &r) && r.PayloadLength() > 0 ? text : nullptr;
}

int32_t CUsbParser::OnNotify(int32_t code, void* arg, intptr_t param) {
    const auto* item = static_cast<const UsbItem*>(arg);
    if (code == NotifyOutNextOnPipe) return OutNextOnPipe(item) ? 1 : 0;
    if (code != NotifyPayloadLost) return 0;
    const char* text = LostTextOf(item);
    if (text && param) *reinterpret_cast<const char**>(param) = text;
    return text ? 1 : 0;
}

bool CUsbParser::OutNextOnPipe(const UsbItem* item) {
    if (!item || item->children.empty()) return false;
    const uint8_t address = item->address, endpoint = item->endpoint;
    const uint32_t last = item->children.back()->firstRecord;
    // A default pipe's IN stage whose next token the parse met: it noted it.
    if ((item->type == ItemInTransaction || item->type == ItemCsplitIn) && endpoint == 0 && address < 128 &&
        last < parsedTo_ && stageAwaitingToken_[address] != last)
        return std::binary_search(outAfterStage_.begin(), outAfterStage_.end(), last);
    // The status stage follows its data stage at once, other pipes' traffic
    // between: a bounded look is enough, and keeps a lone request cheap.
    PacketRecord r;
    for (uint32_t at = last + 1, end = at + kNextTokenLook; at < end && RecordAt(at, &r); ++at) {
        const uint8_t pid = r.PidNibble();
        if (PidCheckFails(r) || !IsToken(pid) || r.Address() != address || r.Endpoint() != endpoint) continue;
        return StatusOutToken(pid);
    }
    return false;
}

const ImageList* CUsbParser::GetImageList(UsbItem* item) {
    return item && item->type <= ItemControlTransfer ? &ParserIcons() : nullptr;
}

// ---------------------------------------------------------------- rows

int32_t CUsbParser::Summarize(UsbItem* item, ItemSummary* out) {
    if (!item || !out) return 0;
    *out = ItemSummary{};
    out->icon = IconFor(item->type);
    if (item->type < 16) {
        SummarizePacket(item, out);
        const UsbItem* parent = item->parent;
        if (parent && (parent->type == ItemInTransaction || parent->type == ItemSsplitIn ||
                       parent->type == ItemCsplitIn))
            out->icon = IconFor(item->type + 0x100u);
        return 1;
    }
    if (item->type < ItemControlTransfer) {
        SummarizeTransaction(item, out);
        if (item->status == PidNak) {
            out->icon = 15;
        } else if (item->status == kNone) {
            switch (item->type) {
            case ItemOutTransaction: case ItemSetupTransaction: case ItemPingTransaction:
            case ItemSsplitOut: case ItemCsplitOut:
                out->icon = 16;
                break;
            case ItemInTransaction: case ItemSsplitIn: case ItemCsplitIn:
                out->icon = 17;
                break;
            default:
                break;
            }
        }
        return 1;
    }
    if (item->type == ItemControlTransfer) {
        if (item->children.empty()) return 0;
        Summarize(item->children[0], out);
        uint8_t bytes[8] = {};
        int32_t got = GetData(item->children[0], bytes, sizeof bytes);
        CDeviceRequest setup(bytes, got > 0 ? uint32_t(std::min(got, 8)) : 0);
        // Without its setup bytes the request has no name: zeros would read as GetStatus.
        const bool setupLost = PayloadLostIn(item->children[0]);
        int32_t errorClass = StatusErrorClass(out->status);
        out->status = ControlTransferResult(item->status);
        out->name = setupLost ? "ControlTransfer" : setup.FormatRequestSummary();
        int32_t size = 0;
        ItemSummary child;
        for (uint32_t i = 1; i < item->children.size(); ++i) {
            UsbItem* c = item->children[i];
            Summarize(c, &child);
            if (errorClass == ErrorClassNone) errorClass = StatusErrorClass(child.status);
            if (c->status == PidNak) continue;
            if (child.size > 0) size += child.size;
        }
        out->status = WithErrorClass(out->status, errorClass);
        out->size = size;
        out->icon = 24 + (setup.bmRequestType() >> 7);
        return setup.IsStandard() && setup.RequestRecipient() != CDeviceRequest::RecipientInterface ? 1 : 0;
    }
    return 0;
}

int32_t CUsbParser::SummarizePacket(UsbItem* item, ItemSummary* out) { return FillPacketSummary(item, out, true); }

int32_t CUsbParser::FillPacketSummary(UsbItem* item, ItemSummary* out, bool named) {
    PacketRecord r;
    if (!item || !out || !RecordOf(item, &r)) return 0;
    const bool split = item->type == PidSplit;
    out->duration = r.PacketDuration();
    if (item->firstRecord > 0) {
        PacketRecord prev;
        if (RecordAt(item->firstRecord - 1, &prev)) {
            uint32_t prevDuration = split ? prev.SplitDuration() : prev.Duration();
            out->idle = int32_t(uint32_t(r.word0) - uint32_t(prev.word0) - prevDuration);
        }
    }
    if (named) {
        GetTypeName(item->type, out->name);
        out->name += " packet";
    }
    out->time = int64_t(r.Timestamp());
    if (PidCheckFails(r)) {
        if (named) {
            char text[32];
            std::snprintf(text, sizeof text, "Error PID (0x%02X)", r.PidByte());
            out->name = text;
        }
        out->status = MakeItemStatus(StatusError, ErrorClassPid);
        return 1;
    }
    const uint16_t type = item->type;
    if (IsToken(type)) {
        out->address = r.Address();
        out->endpoint = r.Endpoint();
        out->speed = r.Speed();
    } else if (IsDataType(type)) {
        out->speed = r.Speed();
        out->size = int32_t(r.PayloadLength());  // never negative for a length field below 2
    } else if (IsHandshakeType(type)) {
        out->speed = r.Speed();
        out->status = type >> 2;
    } else if (type == PidSplit) {
        out->speed = r.Speed();
    } else if (type == PidSof) {
        if (named) out->name += " " + Dec(r.FrameNumber());
        out->speed = r.Speed();
    } else if (type == ItemBusEvent) {
        if (r.BusEventCode() < 10) out->name = kBusEvents[r.BusEventCode()];
    }
    out->status = WithErrorClass(out->status, ErrorClassOf(r));
    return 1;
}

int32_t CUsbParser::ErrorClassWithin(const UsbItem* item) {
    if (item->children.empty()) {
        PacketRecord r;
        return RecordOf(item, &r) ? ErrorClassOf(r) : ErrorClassNone;
    }
    for (const UsbItem* child : item->children)
        if (int32_t found = ErrorClassWithin(child)) return found;
    return ErrorClassNone;
}

int32_t CUsbParser::SummarizeTransaction(UsbItem* item, ItemSummary* out) {
    if (!item || !out || item->children.empty()) return 1;
    const uint16_t type = item->type;
    const bool transaction = (type >= ItemInTransaction && type <= ItemPingTransaction) ||
                             (type >= ItemSsplitOut && type <= ItemCsplitIn);
    if (transaction) {
        FillPacketSummary(item->children[0], out, false);
        GetTypeName(type, out->name);
        // The handshake gives the result; a damaged packet anywhere gives the class.
        int32_t errorClass = StatusErrorClass(out->status);
        out->status = -1;
        ItemSummary scratch;
        for (uint32_t i = 1; i < item->children.size(); ++i) {
            FillPacketSummary(item->children[i], &scratch, false);
            if (errorClass == ErrorClassNone) errorClass = StatusErrorClass(scratch.status);
            if (out->address < 0) out->address = scratch.address;
            if (out->endpoint < 0) out->endpoint = scratch.endpoint;
            if (out->interface < 0) out->interface = scratch.interface;
            if (out->status < 0 && scratch.status >= 0 && StatusResult(scratch.status) != StatusError)
                out->status = StatusResult(scratch.status);
            if (out->speed < 0) out->speed = scratch.speed;
            if (out->size < 0) out->size = scratch.size;
            if (out->time < 0) out->time = scratch.time;
        }
        out->status = WithErrorClass(out->status, errorClass);
        out->interface = item->interface == kNone ? -1 : item->interface;
        if (item->children.size() > 1) {
            ItemSummary last;
            FillPacketSummary(item->children.back(), &last, false);
            out->duration = int32_t(uint32_t(last.time) - uint32_t(out->time) + uint32_t(last.duration));
        }
        return 1;
    }
    if (type == ItemNakGroup || type == ItemSofGroup || type == ItemHostChirp) {
        UsbItem* first = item->children[0];
        Summarize(first, out);
        std::string name = out->name;
        if (first->type == PidSof) name = "SOF";
        if (type == ItemHostChirp) name = "Host Chirp";
        out->name = name + "s (" + Dec(item->children.size()) + ")";
        ItemSummary last;
        Summarize(item->children.back(), &last);
        if (type != ItemHostChirp)
            out->duration = int32_t(uint32_t(last.time) - uint32_t(out->time) + uint32_t(last.duration));
        if (StatusErrorClass(out->status) == ErrorClassNone) out->status = WithErrorClass(out->status, ErrorClassWithin(item));
    }
    return 1;
}

// ---------------------------------------------------------------- bytes

int32_t CUsbParser::GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) {
    if (!item) return -1;
    if (item->type < 16) return GetPacketData(item, buffer, capacity);
    if (item->type < ItemControlTransfer) return GetTransactionData(item, buffer, capacity);
    if (item->type == ItemControlTransfer) {
        // The data stage holds at most what the setup asked for: the halves of
        // split stages in a damaged capture could add up to gigabytes.
        uint32_t limit = 0xFFFF;
        uint8_t setup[8];
        if (!item->children.empty() && GetData(item->children[0], setup, sizeof setup) == 8)
            limit = uint32_t(setup[6] | setup[7] << 8);
        uint32_t total = 0;
        for (uint32_t i = 1; i < item->children.size() && total < limit; ++i) {
            UsbItem* c = item->children[i];
            if (c->status == PidNak) continue;
            const uint32_t room = std::min(total < capacity ? capacity - total : 0, limit - total);
            const int32_t n = GetData(c, buffer && room ? buffer + total : nullptr, room);
            if (n > 0) total += std::min(uint32_t(n), limit - total);
            // What follows a stage the capture lacks has no known place.
            if (PayloadLostIn(c)) break;
        }
        return int32_t(total);
    }
    return -1;
}

int32_t CUsbParser::PacketBytes(const PacketRecord& r, uint16_t type, uint8_t* buffer, uint32_t capacity) {
    Bounded out{buffer, capacity};
    out.Put(r.PidByte());
    if (PidCheckFails(r)) return 1;
    if (IsDataType(type)) {
        const uint32_t length = r.Length();
        if (length < 2 || r.PayloadLost()) return 1;  // no room for even the CRC16, or none kept
        // Only what fits is read: a length field of 65535 costs nothing when
        // the caller asks for the size alone.
        const uint32_t payload = length - 2;
        const uint32_t room = buffer && capacity > 1 ? std::min(payload, capacity - 1) : 0;
        // Straight into the caller's buffer: no scratch shared between threads.
        uint8_t* bytes = room ? buffer + 1 : nullptr;
        uint16_t crc = 0;
        int32_t got = source_ ? source_->GetPayload(&r, bytes, room, &crc) : 0;
        if (got == kPayloadNotRead) return 1;  // as one the ring wrote over: the PID alone
        if (got < 0) got = 0;
        // Bytes the store lacks read as 0.
        if (uint32_t(got) < room) std::fill(bytes + got, bytes + room, uint8_t(0));
        out.length = 1 + payload;
        out.Put(uint8_t(crc));
        out.Put(uint8_t(crc >> 8));
        return int32_t(out.length);
    }
    if (IsHandshakeType(type)) return 1;
    if (IsToken(type) || type == PidSof) {
        out.Put(uint8_t(r.word1));
        out.Put(uint8_t(r.word1 >> 8));
        return 3;
    }
    if (type == PidSplit) {
        out.Put(uint8_t(r.word0 >> 56));
        out.Put(uint8_t(r.word1));
        out.Put(uint8_t(r.word1 >> 8));
        return 4;
    }
    return -1;
}

int32_t CUsbParser::GetPacketData(UsbItem* item, uint8_t* buffer, uint32_t capacity) {
    PacketRecord r;
    if (!item || !RecordOf(item, &r)) return -1;
    if (PidCheckFails(r)) return PacketBytes(r, item->type, buffer, capacity);
    if (item->type == ItemBusEvent || item->type == PidPre) return -1;
    return PacketBytes(r, item->type, buffer, capacity);
}

int32_t CUsbParser::GetTransactionData(UsbItem* item, uint8_t* buffer, uint32_t capacity) {
    if (!item) return 0;
    const UsbItem* packet = DataPacketOf(item);
    PacketRecord r;
    if (!packet || !RecordOf(packet, &r) || r.Length() < 2) return 0;
    uint16_t crc = 0;
    int32_t got = source_ ? source_->GetPayload(&r, buffer, buffer ? capacity : 0, &crc) : 0;
    return got > 0 ? got : 0;
}

// ---------------------------------------------------------------- detail

int32_t CUsbParser::GetDetail(UsbItem* item, std::string& xml) {
    if (!item) return 0;
    if (item->type == ItemBusEvent) return 1;
    if (item->type < 16) return GetPacketDetail(item, xml);
    if (item->type < ItemControlTransfer) {
        xml = "<groups/>";
        return GetTransactionDetail(item, xml);
    }
    if (item->type != ItemControlTransfer || item->children.empty()) return 0;

    // Nothing decodes what is not there, a class decoder no more than this.
    auto describeLost = [&] {
        CDecodeResultWriter writer;
        auto group = writer.AddGroup("Transfer");
        // Which part is missing: without its setup the request is not known.
        if (const char* text = LostTextOf(item->children[0])) writer.AddItem(group, "Setup", text, text, 0, 0);
        const char* lost = nullptr;
        for (uint32_t i = 1; i < item->children.size() && (!lost || IsPayloadUnreadText(lost)); ++i)
            if (item->children[i]->status != PidNak)
                if (const char* text = LostTextOf(item->children[i])) lost = text;
        if (lost) writer.AddItem(group, "Data", lost, lost, 0, 0);
        xml = writer.Text();
        return 1;
    };
    // Each read comes before the lost question, which then tells of a read
    // from the analyser that failed.
    uint8_t bytes[8] = {};
    int32_t got = GetData(item->children[0], bytes, sizeof bytes);
    if (PayloadLostIn(item)) return describeLost();
    CDeviceRequest setup(bytes, got > 0 ? uint32_t(std::min(got, 8)) : 0);
    if (!setup.IsStandard()) return 0;
    int32_t length = GetData(item, nullptr, 0);
    std::vector<uint8_t> data(size_t(length > 0 ? length : 0));
    if (!data.empty()) GetData(item, data.data(), uint32_t(data.size()));
    if (PayloadLostIn(item)) return describeLost();
    CDecodeResultWriter writer;
    // A class's own descriptors (HID, report, physical) are laid out by its
    // rules: split as standard ones by their first bytes they would be garbage.
    const unsigned kind = setup.wValue() >> 8;
    if (setup.bRequest() == 6 && kind >= 0x21 && kind <= 0x23) {
        writer.AddItem(writer.AddGroup("Unknown descriptor"), "Undecoded", "Check Data pane", "", 0,
                       int64_t(data.size()) * 8);
    } else if (setup.bRequest() == 6) {
        DescriptorList list(setup, data.data(), uint32_t(data.size()));
        int64_t offset = 0;
        for (size_t i = 0; i < list.size(); ++i) offset = writer.AddDescriptor(list[i], offset);
    } else if (setup.bRequest() == 0 && setup.RequestRecipient() == CDeviceRequest::RecipientDevice) {
        auto group = writer.AddGroup("GetStatus");
        uint8_t first = data.empty() ? 0 : data[0];
        std::string power = (first & 1) ? "self-powered" : "bus-powered";
        std::string wake = (first & 2) ? "enabled" : "disabled";
        writer.AddItem(group, "SelfPowered", power, power, 0, 1);
        writer.AddItem(group, "RemoteWakeup", wake, wake, 1, 1);
    }
    xml = writer.Text();
    return setup.RequestRecipient() == CDeviceRequest::RecipientInterface ? 0 : 1;
}

int32_t CUsbParser::GetPacketDetail(UsbItem* item, std::string& xml) {
    PacketRecord r;
    if (!item || !RecordOf(item, &r)) return 0;
    std::string typeName;
    GetTypeName(item->type, typeName);
    CDecodeResultWriter writer;
    auto group = writer.AddGroup(typeName + " packet");
    auto add = [&](const std::string& name, const std::string& value, int64_t offset, int64_t bits) {
        writer.AddItem(group, name, value, value, offset, bits);
    };
    const uint16_t type = item->type;
    if (IsDataType(type)) {
        const int64_t payload = r.PayloadLength();
        add("PID", typeName, 0, 8);
        uint16_t crc = 0;
        const bool unread = r.PayloadUnread() ||
                            (!r.PayloadLost() && r.Length() >= 2 && source_ &&
                             source_->GetPayload(&r, nullptr, 0, &crc) == kPayloadNotRead);
        if (r.PayloadLost() || unread) {
            // Neither bytes nor CRC: the data pane holds the PID alone.
            add("Data", unread ? kPayloadUnreadText : kPayloadLostText, 8, 0);
        } else {
            add("Data", Dec(payload) + " bytes", 8, 8 * payload);
            if (r.Length() >= 2) add("CRC-16", Dec(crc), 8 + 8 * payload, 16);
        }
    } else if (IsHandshakeType(type)) {
        add("PID", typeName, 0, 8);
    } else if (IsToken(type)) {
        add("PID", typeName, 0, 8);
        add("Address", Dec(r.Address()), 8, 7);
        add("Endpoint", Dec(r.Endpoint()), 15, 4);
        add("CRC-5", Dec(r.Crc5()), 19, 5);
    } else if (type == PidSof) {
        add("PID", "SOF", 0, 8);
        add("Frame number", Dec(r.FrameNumber()), 8, 11);
        add("CRC-5", Dec(r.Crc5()), 19, 5);
    }
    xml = writer.Text();
    return 1;
}

int32_t CUsbParser::GetTransactionDetail(UsbItem* item, std::string& xml) {
    if (!item) return 0;
    CDecodeResultWriter writer;
    int32_t result = 1;
    std::string typeName;
    GetTypeName(item->type, typeName);
    // A setup's bytes are read before the lost question, which then tells of a
    // read from the analyser that failed.
    uint8_t bytes[8] = {};
    const int32_t got = item->type == ItemSetupTransaction ? GetTransactionData(item, bytes, sizeof bytes) : 0;
    if (const char* text = LostTextOf(item)) {
        writer.AddItem(writer.AddGroup(typeName), "Raw data", text, text, 0, 0);
    } else if (item->type == ItemSetupTransaction) {
        CDeviceRequest setup(bytes, got > 0 ? uint32_t(std::min(got, 8)) : 0);
        auto group = writer.AddGroup("SETUP transaction");
        int64_t offset = 0;
        FieldRecord field;
        for (int32_t i = 0; i < setup.GetFieldCount(); ++i) {
            if (!setup.GetField(i, &field)) continue;
            writer.AddItem(group, field.name, field.value, field.tip, offset, field.bits);
            offset += field.bits;
        }
        result = setup.IsStandard() ? 1 : 0;
    } else if ((item->type == ItemNakGroup || item->type == ItemSofGroup) && !item->children.empty()) {
        std::string first;
        GetTypeName(item->children[0]->type, first);
        writer.AddGroup(first + "s (" + Dec(item->children.size()) + ")");
    } else {
        auto group = writer.AddGroup(typeName);
        // An empty data packet leaves nothing in the data pane to point at.
        const UsbItem* packet = DataPacketOf(item);
        PacketRecord r;
        if (packet && RecordOf(packet, &r) && r.PayloadLength() == 0)
            writer.AddItem(group, "Raw data", "0 bytes", "0 bytes", 0, 0);
        else
            writer.AddItem(group, "Raw data", "Check Data pane", "Please check the Data pane to see the raw data.",
                           0, 0);
    }
    xml = writer.Text();
    return result;
}

}  // namespace orvane
