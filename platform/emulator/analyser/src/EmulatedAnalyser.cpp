#include "EmulatedAnalyser.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvane::emu {

namespace {

uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void PutU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Overlap of the byte range [start, start + length) with a register region.
struct Overlap {
    size_t rangeOffset = 0;
    size_t regionOffset = 0;
    size_t length = 0;
};

Overlap Intersect(uint32_t start, size_t length, uint32_t region, size_t regionLength) {
    uint64_t lo = std::max<uint64_t>(start, region);
    uint64_t hi = std::min<uint64_t>(uint64_t(start) + length, uint64_t(region) + regionLength);
    if (lo >= hi) return {};
    return {size_t(lo - start), size_t(lo - region), size_t(hi - lo)};
}

bool InRegisterSpace(uint32_t address, uint64_t length) {
    return address >= EmulatedAnalyser::kRegisterBase &&
           uint64_t(address) + length <= uint64_t(EmulatedAnalyser::kRegisterBase) + EmulatedAnalyser::kRegisterSpan;
}

std::vector<uint8_t> AckReply(size_t size, uint8_t first, uint8_t second) {
    std::vector<uint8_t> reply(size, 0);
    reply[0] = first;
    reply[1] = second;
    return reply;
}

}  // namespace

EmulatedAnalyser::EmulatedAnalyser() : registers_(kRegisterSpan, 0) {
    control_[CbHold] = 1;
    control_[CbPacketMask] = 0x3FFF;
    control_[CbPayloadMask] = 0xFFFFF;
}

// ---------------------------------------------------------------- transfers

int EmulatedAnalyser::InitializeInterface(const port::InterfaceGuid* guid) {
    if (!guid) return 0;
    return std::memcmp(guid, &port::kAnalyserInterface, sizeof(port::InterfaceGuid)) == 0 ? 1 : 0;
}

bool EmulatedAnalyser::Admit(bool commandBlock) {
    if (disconnected_) return false;
    if (commandBlock && disconnectIn_ > 0 && --disconnectIn_ == 0) {
        disconnected_ = true;
        AbandonExchange();
        return false;
    }
    return !(failIn_ > 0 && --failIn_ == 0);
}

int EmulatedAnalyser::WritePort(int device, int pipe, const void* buffer, unsigned long length,
                                unsigned long* transferred, unsigned long) {
    std::lock_guard lock(mutex_);
    if (transferred) *transferred = 0;
    if (pipe >= 1 && pipe <= 3) ++transfers_[size_t(pipe)];
    if (!Admit(pipe == port::kCommandPipe)) return 0;
    if (device != 0 || !buffer || length == 0) return 0;
    const auto* data = static_cast<const uint8_t*>(buffer);
    bool ok = false;
    if (pipe == port::kCommandPipe)
        ok = HandleCommand(data, length);
    else if (pipe == port::kBulkOutPipe)
        ok = HandleBulkOut(data, length);
    if (!ok) return 0;
    if (transferred) *transferred = length;
    return 1;
}

int EmulatedAnalyser::ReadPort(int device, int pipe, void* buffer, unsigned long length, unsigned long* transferred,
                               unsigned long) {
    std::unique_lock lock(mutex_);
    if (pipe == port::kBulkInPipe)
        released_.wait(lock, [this] {
            return !holdMemoryReads_ ||
                   (bulkRead_.source != Target::PacketMemory && bulkRead_.source != Target::PayloadMemory);
        });
    if (transferred) *transferred = 0;
    if (pipe >= 1 && pipe <= 3) ++transfers_[size_t(pipe)];
    if (!Admit(false)) return 0;
    if (device != 0 || !buffer || length == 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    unsigned long count = 0;

    if (pipe == port::kCommandPipe) {
        if (replies_.empty()) return 0;
        const std::vector<uint8_t>& reply = replies_.front();
        count = std::min<unsigned long>(length, reply.size());
        if (shortReplyIn_ > 0 && --shortReplyIn_ == 0) count = std::min(count, shortReplyBytes_);
        std::memcpy(out, reply.data(), count);
        replies_.pop_front();
    } else if (pipe == port::kBulkInPipe) {
        BulkRead& r = bulkRead_;
        if (r.source == Target::None || r.position >= r.length) return 0;
        count = std::min<uint64_t>(length, r.length - r.position);
        bool consume = true;
        if (shortRead_) {
            count = std::min<unsigned long>({count, *shortRead_, length - 1});
            shortRead_.reset();
            consume = false;
        }
        if (r.source == Target::Registers)
            std::memcpy(out, r.bytes.data() + r.position, count);
        else
            (r.source == Target::PacketMemory ? packetMemory_ : payloadMemory_)
                .Read(uint32_t(r.address + r.position), r.mask, out, count);
        if (consume) {
            r.position += count;
            if (r.position == r.length) r = BulkRead{};
        }
    } else {
        return 0;
    }
    if (transferred) *transferred = count;
    return 1;
}

void EmulatedAnalyser::AbandonExchange() {
    replies_.clear();
    phase_ = DataPhase{};
    bulkRead_ = BulkRead{};
}

void EmulatedAnalyser::QueueEcho(std::vector<uint8_t> reply) {
    if (corruptEcho_) {
        reply[0] ^= 0xFF;
        corruptEcho_ = false;
    }
    replies_.push_back(std::move(reply));
}

void EmulatedAnalyser::QueueAck(std::vector<uint8_t> reply) {
    if (corruptAck_) {
        reply[0] ^= 0xFF;
        reply[1] ^= 0xFF;
        corruptAck_ = false;
    }
    replies_.push_back(std::move(reply));
}

uint32_t EmulatedAnalyser::RegisterWord(uint32_t address) const {
    return GetU32(registers_.data() + (address - kRegisterBase));
}

bool EmulatedAnalyser::HandleCommand(const uint8_t* block, unsigned long length) {
    if (length != kCommandSize) return false;
    AbandonExchange();
    const uint16_t opcode = GetU16(block);
    const uint16_t argument = GetU16(block + 2);
    const uint32_t address = GetU32(block + 4);
    const uint32_t size = GetU32(block + 8);
    std::vector<uint8_t> echo(block, block + kCommandSize);

    switch (opcode) {
    case kOpWriteRegister:
        if (size > kInlineData || !InRegisterSpace(address, size)) return false;
        WriteRegisters(opcode, argument, address, block + 16, size);
        QueueEcho(std::move(echo));
        break;
    case kOpReadRegister: {
        if (size > kCommandSize - 4 || !InRegisterSpace(address, size)) return false;
        std::vector<uint8_t> reply(kCommandSize, 0);
        PutU16(reply.data(), opcode);
        PutU16(reply.data() + 2, argument);
        ReadRegisters(address, size, reply.data() + 4);
        QueueEcho(std::move(reply));
        break;
    }
    case kOpWriteMemory: {
        DataPhase phase;
        phase.argument = argument;
        phase.expected = size;
        if (address == kRecordPort || address == kPayloadPort) {
            const uint32_t window = address == kRecordPort ? kRecordWindow : kPayloadWindow;
            phase.target = address == kRecordPort ? Target::PacketMemory : Target::PayloadMemory;
            phase.address = RegisterWord(window);
            phase.mask = SparseMemory::NormaliseMask(RegisterWord(window + 8));
        } else if (InRegisterSpace(address, size)) {
            phase.target = Target::Registers;
            phase.address = address;
        } else {
            return false;
        }
        QueueEcho(std::move(echo));
        pieces_.clear();
        phase_ = std::move(phase);
        if (size == 0) HandleBulkOut(nullptr, 0);
        break;
    }
    case kOpReadMemory: {
        BulkRead r;
        r.length = size;
        if (address == kRecordPort || address == kPayloadPort) {
            const bool records = address == kRecordPort;
            const uint32_t window = records ? kRecordWindow : kPayloadWindow;
            const uint64_t allowed = uint64_t(RegisterWord(window + 4)) * (records ? 16 : 8);
            if (size > allowed) return false;
            r.source = records ? Target::PacketMemory : Target::PayloadMemory;
            r.address = RegisterWord(window);
            r.mask = SparseMemory::NormaliseMask(RegisterWord(window + 8));
        } else if (InRegisterSpace(address, size)) {
            r.source = Target::Registers;
            r.bytes.resize(size);
            ReadRegisters(address, size, r.bytes.data());
        } else {
            return false;
        }
        QueueEcho(std::move(echo));
        if (size > 0) bulkRead_ = std::move(r);
        break;
    }
    case kOpDeviceInfo: {
        std::vector<uint8_t> info(kDeviceInfoSize, 0);
        PutU16(info.data(), opcode);
        PutU32(info.data() + 8, model_);
        PutU32(info.data() + 12, firmware_);
        PutU32(info.data() + 16, configVersion_);
        PutU32(info.data() + 20, serial_);
        QueueEcho(std::move(info));
        break;
    }
    case kOpDownload:
        if (size == 0) return false;
        QueueAck(AckReply(2, 0x01, 0xFE));
        pieces_.clear();
        phase_.target = Target::Download;
        phase_.expected = size;
        break;
    default:
        return false;
    }
    ++commands_;
    return true;
}

bool EmulatedAnalyser::HandleBulkOut(const uint8_t* data, unsigned long length) {
    DataPhase& p = phase_;
    if (p.target == Target::None || length > p.expected - p.received) return false;
    if (length > 0) pieces_.push_back(length);
    switch (p.target) {
    case Target::PacketMemory:
    case Target::PayloadMemory:
        (p.target == Target::PacketMemory ? packetMemory_ : payloadMemory_)
            .Write(uint32_t(p.address + p.received), p.mask, data, length);
        break;
    case Target::Registers:
        if (length > 0) p.bytes.insert(p.bytes.end(), data, data + length);
        break;
    case Target::Download: {
        // Only the version word at the head of the file matters to the model.
        size_t keep = std::min<size_t>(length, 4 - std::min<size_t>(p.bytes.size(), 4));
        p.bytes.insert(p.bytes.end(), data, data + keep);
        break;
    }
    case Target::None:
        break;
    }
    p.received += length;
    if (p.received < p.expected) return true;

    if (p.target == Target::Download) {
        uint32_t version = p.bytes.size() == 4 ? GetU32(p.bytes.data()) : kUnconfigured;
        configVersion_ = version == kUnconfigured ? kDefaultConfigVersion : version;
        QueueAck(AckReply(2, 0xAA, 0x55));
    } else {
        if (p.target == Target::Registers)
            WriteRegisters(kOpWriteMemory, p.argument, p.address, p.bytes.data(), p.bytes.size());
        QueueAck(AckReply(kCommandSize, 0xAA, 0x55));
    }
    phase_ = DataPhase{};
    return true;
}

// ---------------------------------------------------------------- registers

void EmulatedAnalyser::WriteRegisters(uint16_t opcode, uint16_t argument, uint32_t address, const uint8_t* data,
                                      size_t length) {
    log_.push_back({opcode, argument, address, std::vector<uint8_t>(data, data + length)});
    if (length == 0) return;

    Overlap cb = Intersect(address, length, kControlBlock, kControlBlockSize);
    if (cb.length > 0) {
        // Apply the written bytes over the stored image; only the writable
        // words are taken from it.
        ControlImage image = control_;
        uint8_t bytes[kControlBlockSize];
        for (size_t i = 0; i < CbWords; ++i) PutU32(bytes + 4 * i, image[i]);
        std::memcpy(bytes + cb.regionOffset, data + cb.rangeOffset, cb.length);
        for (size_t i = 0; i < CbWords; ++i) image[i] = GetU32(bytes + 4 * i);
        ApplyControlWrite(image);
    }
    std::memcpy(registers_.data() + (address - kRegisterBase), data, length);

    if (Intersect(address, length, kClearControl, 4).length == 4) {
        if (RegisterWord(kClearControl) & 1)
            StartClear();
        else
            clearActive_ = false;
    }
    if (Intersect(address, length, kResetStrobe, 4).length > 0 && argument == 1) ResetControl();
}

void EmulatedAnalyser::ReadRegisters(uint32_t address, size_t length, uint8_t* out) {
    std::memcpy(out, registers_.data() + (address - kRegisterBase), length);

    Overlap clear = Intersect(address, length, kClearControl, 4);
    if (clear.length > 0) {
        if (clearActive_ && !clearDone_ && (clearReadsLeft_ == 0 || --clearReadsLeft_ == 0)) clearDone_ = true;
        uint8_t value[4];
        PutU32(value, (clearActive_ ? 1u : 0u) | (clearDone_ ? 2u : 0u));
        std::memcpy(out + clear.rangeOffset, value + clear.regionOffset, clear.length);
    }

    Overlap cb = Intersect(address, length, kControlBlock, kControlBlockSize);
    if (cb.length > 0) {
        // Each status read is the passing of time that lets the capture go on.
        if (capturing_) Record(pace_ == 0 ? std::numeric_limits<size_t>::max() : pace_);
        ControlImage image = RenderControl();
        uint8_t bytes[kControlBlockSize];
        for (size_t i = 0; i < CbWords; ++i) PutU32(bytes + 4 * i, image[i]);
        std::memcpy(out + cb.rangeOffset, bytes + cb.regionOffset, cb.length);
    }
}

EmulatedAnalyser::ControlImage EmulatedAnalyser::RenderControl() const {
    ControlImage image = control_;
    if (configVersion_ == kUnconfigured) image[CbHold] = 0xFFFFFFFF;
    return image;
}

void EmulatedAnalyser::ApplyControlWrite(const ControlImage& image) {
    const bool wasGo = (control_[CbFlags] & FlagRun) && control_[CbHold] == 0;
    control_[CbHold] = image[CbHold];
    control_[CbFlags] = (control_[CbFlags] & ~uint32_t(FlagRun)) | (image[CbFlags] & FlagRun);
    control_[CbPrePacket] = image[CbPrePacket];
    control_[CbPacketMask] = SparseMemory::NormaliseMask(image[CbPacketMask]);
    control_[CbPrePayload] = image[CbPrePayload];
    control_[CbPayloadMask] = SparseMemory::NormaliseMask(image[CbPayloadMask]);

    const bool run = control_[CbFlags] & FlagRun;
    const bool go = run && control_[CbHold] == 0;
    if (capturing_ && !run)
        EndCapture();
    else if (!capturing_ && go && !wasGo && configVersion_ != kUnconfigured)
        StartCapture();
}

void EmulatedAnalyser::StartClear() {
    // A clear wipes whatever capture was running with the memory.
    capturing_ = false;
    packetMemory_.Clear();
    payloadMemory_.Clear();
    control_[CbFlags] = 0;
    for (int w : {CbPacketCaptured, CbPayloadCaptured, CbPacketStart, CbPayloadStart, CbTriggerAddress})
        control_[size_t(w)] = 0;
    clearActive_ = true;
    clearDone_ = false;
    clearReadsLeft_ = clearReads_;
}

void EmulatedAnalyser::ResetControl() {
    capturing_ = false;
    control_[CbHold] = 1;
    control_[CbFlags] = 0;
    clearActive_ = false;
}

// ---------------------------------------------------------------- capture

void EmulatedAnalyser::StartCapture() {
    traffic_ = BuildTraffic();
    GroupTraffic();
    capturing_ = true;
    recorded_ = 0;
    written_ = 0;
    payloadWritten_ = 0;
    payloadBeforeRecord_ = 0;
    triggered_ = false;
    stepsMatched_ = 0;
    packetBeforeTrigger_ = payloadBeforeTrigger_ = packetPreAtTrigger_ = payloadPreAtTrigger_ = 0;
    keepGroup_ = true;
    groupKept_.clear();
    packetBase_ = startPacket_ & control_[CbPacketMask];
    payloadBase_ = startPayload_ & control_[CbPayloadMask];
    control_[CbFlags] = FlagRun;
    control_[CbPacketCaptured] = 0;
    control_[CbPayloadCaptured] = 0;
    control_[CbPacketStart] = packetBase_;
    control_[CbPayloadStart] = payloadBase_;
    control_[CbTriggerAddress] = 0;
    if (traffic_.records.empty() && endWhenExhausted_) EndCapture();
}

namespace {

bool IsToken(const PacketRecord& r) {
    const uint8_t pid = r.PidNibble();
    return !r.IsBusEvent() && (pid == PidOut || pid == PidIn || pid == PidSetup || pid == PidPing);
}

bool IsHandshake(const PacketRecord& r) {
    const uint8_t pid = r.PidNibble();
    return !r.IsBusEvent() && (pid == PidAck || pid == PidNak || pid == PidStall || pid == PidNyet);
}

// The PidMask bit of a packet; 0 for packets a step cannot name.
uint16_t PidMaskBit(const PacketRecord& r) {
    if (r.IsBusEvent()) return 0;
    static constexpr uint16_t kBits[16] = {0,     0x100, 0x001, 0x010, 0,     0x200, 0x002, 0x020,
                                           0,     0x400, 0x004, 0x040, 0,     0x800, 0x008, 0x080};
    return kBits[r.PidNibble()];
}

}  // namespace

void EmulatedAnalyser::GroupTraffic() {
    groups_.clear();
    groupOf_.assign(traffic_.records.size(), 0);
    for (size_t i = 0; i < traffic_.records.size(); ++i) {
        const PacketRecord& r = traffic_.records[i];
        Group* open = groups_.empty() ? nullptr : &groups_.back();
        if (open && (!open->token || open->handshake || open->last + 1 != i)) open = nullptr;
        if (!IsToken(r) && open && r.IsData() && !r.IsBusEvent() && !open->data) {
            open->data = i;
            open->last = i;
        } else if (!IsToken(r) && open && IsHandshake(r)) {
            open->handshake = r.PidNibble();
            open->last = i;
        } else {
            Group g;
            g.first = g.last = i;
            if (IsToken(r)) g.token = i;
            groups_.push_back(g);
        }
        groupOf_[i] = uint32_t(groups_.size() - 1);
    }
}

size_t EmulatedAnalyser::Record(size_t records) {
    size_t done = 0;
    while (capturing_ && done < records && recorded_ < traffic_.records.size()) {
        ConsumeOne();
        ++done;
    }
    if (capturing_ && recorded_ == traffic_.records.size() && endWhenExhausted_) EndCapture();
    return done;
}

bool EmulatedAnalyser::GroupPasses(const Group& g) const {
    uint8_t block[kFilterBlockSize];
    std::memcpy(block, registers_.data() + (kFilterBlock - kRegisterBase), sizeof block);
    if (GetU32(block) != 0 || !g.token) return true;  // held, or a lone packet
    const uint32_t flags = GetU32(block + 4);
    if ((flags & 0x10) && g.handshake == PidNak) return false;
    if ((flags & 0x04) && g.handshake == 0) return false;
    if (!(flags & 0x02)) return true;
    const PacketRecord& token = traffic_.records[*g.token];
    const uint32_t addresses = GetU32(block + 8);
    const bool upstream = token.PidNibble() == PidIn;
    bool match = false;
    for (unsigned c = 0; c < 4; ++c) {
        const uint16_t mask = GetU16(block + (upstream ? 16 : 24) + 2 * c);
        if (((addresses >> (7 * c)) & 0x7F) == token.Address() && (mask >> token.Endpoint()) & 1) match = true;
    }
    return (flags & 0x01) ? !match : match;
}

bool EmulatedAnalyser::RecordPasses(const PacketRecord& r) const {
    uint8_t block[8];
    std::memcpy(block, registers_.data() + (kFilterBlock - kRegisterBase), sizeof block);
    if (GetU32(block) != 0) return true;
    const uint32_t flags = GetU32(block + 4);
    if ((flags & 0x40) && r.IsBusEvent()) return false;
    if ((flags & 0x20) && !r.IsBusEvent() && r.PidNibble() == PidSof) return false;
    if ((flags & 0x08) && r.HasError()) return false;
    return true;
}

void EmulatedAnalyser::ConsumeOne() {
    const size_t i = recorded_;
    const Group& g = groups_[groupOf_[i]];
    if (i == g.first) {
        keepGroup_ = GroupPasses(g);
        groupKept_.clear();
    }
    if (keepGroup_ && RecordPasses(traffic_.records[i])) {
        WriteOne(i);
        groupKept_.push_back(i);
    }
    ++recorded_;
    if (i == g.last && !groupKept_.empty() && !triggered_ && TableArmed()) EvaluateTrigger(g);
    UpdateCounters();
}

void EmulatedAnalyser::WriteOne(size_t index) {
    const uint32_t packetMask = control_[CbPacketMask];
    const uint32_t payloadMask = control_[CbPayloadMask];
    PacketRecord record = traffic_.records[index];
    payloadBeforeRecord_ = payloadWritten_;

    if (record.IsData()) {
        // Data bytes and CRC16 go on at the payload write position; the record
        // learns where they landed.
        const size_t length = record.Length();
        const size_t offset = record.PayloadOffset();
        std::vector<uint8_t> bytes(length, 0);
        if (length > 0 && offset < traffic_.payload.size()) {
            size_t available = std::min(length, traffic_.payload.size() - offset);
            std::memcpy(bytes.data(), traffic_.payload.data() + offset, available);
        }
        const uint32_t at = uint32_t((payloadBase_ + payloadWritten_) & payloadMask);
        payloadMemory_.Write(at, payloadMask, bytes.data(), length);
        record.SetPayloadOffset(at);
        payloadWritten_ += length;
    }

    const uint32_t address = uint32_t((packetBase_ + written_ * 16) & packetMask);
    uint8_t raw[16];
    PutU64(raw, record.word0);
    PutU64(raw + 8, record.word1);
    packetMemory_.Write(address, packetMask, raw, sizeof raw);
    ++written_;
    // Without steps the first record kept from the trigger record on fires it:
    // a filter that drops that record must not leave the capture untriggered.
    if (!triggered_ && !TableArmed() && triggerRecord_ && index >= *triggerRecord_)
        Trigger(written_ - 1, payloadBeforeRecord_);
}

bool EmulatedAnalyser::TableArmed() const {
    const uint8_t* table = registers_.data() + (kTriggerTable - kRegisterBase);
    if (GetU32(table + 128) != 0) return false;
    for (unsigned e = 0; e < 16; ++e)
        if ((table[8 * e + 5] >> 5) & 1) return true;  // bit 45
    return false;
}

bool EmulatedAnalyser::StepMatches(unsigned entry, const Group& g) const {
    const uint8_t* table = registers_.data() + (kTriggerTable - kRegisterBase);
    uint64_t word = 0;
    for (int b = 7; b >= 0; --b) word = word << 8 | table[8 * entry + unsigned(b)];
    // The count has 9 bits but a step's pattern block holds 256 pairs: those
    // beyond are the next step's pattern, or past the register space.
    const unsigned pairs = std::min(unsigned(word & 0x1FF), unsigned(kPatternBlockSize / 2));
    const uint16_t pidMask = uint16_t((word >> 9) & 0xFFF);
    const uint16_t endpoints = uint16_t(word >> 21);
    const bool anyAddress = (word >> 37) & 1;
    const uint8_t address = uint8_t((word >> 38) & 0x7F);

    for (size_t i : groupKept_)
        if (!(PidMaskBit(traffic_.records[i]) & pidMask)) return false;
    const bool tokenKept = g.token && std::find(groupKept_.begin(), groupKept_.end(), *g.token) != groupKept_.end();
    if (tokenKept) {
        const PacketRecord& token = traffic_.records[*g.token];
        if (!anyAddress && token.Address() != address) return false;
        if (!((endpoints >> token.Endpoint()) & 1)) return false;
    } else if (!anyAddress || endpoints != 0xFFFF) {
        return false;
    }
    for (size_t i : groupKept_) {
        const PacketRecord& r = traffic_.records[i];
        if (!r.IsData()) continue;
        const size_t length = r.PayloadLength();
        if (pairs == 0) return length == 0;
        const uint8_t* pattern = registers_.data() + (kPatternBlocks + kPatternBlockSize * entry - kRegisterBase);
        for (unsigned p = 0; p < pairs; ++p) {
            const uint8_t value = pattern[2 * p], mask = pattern[2 * p + 1];
            if (mask == 0) continue;
            const size_t at = size_t(r.PayloadOffset()) + p;
            if (p >= length || at >= traffic_.payload.size()) return false;
            if ((traffic_.payload[at] & mask) != (value & mask)) return false;
        }
    }
    return true;
}

void EmulatedAnalyser::EvaluateTrigger(const Group& g) {
    const uint8_t* table = registers_.data() + (kTriggerTable - kRegisterBase);
    std::vector<unsigned> used;
    for (unsigned e = 0; e < 16; ++e)
        if ((table[8 * e + 5] >> 5) & 1) used.push_back(e);
    if (stepsMatched_ >= used.size() || !StepMatches(used[stepsMatched_], g)) return;
    if (++stepsMatched_ == used.size()) Trigger(written_, payloadWritten_);
}

void EmulatedAnalyser::Trigger(uint64_t recordsBefore, uint64_t payloadBefore) {
    const uint32_t packetMask = control_[CbPacketMask];
    const uint64_t packetKeep = ((uint64_t(packetMask) + 1) / 16) * 16;
    const uint64_t payloadKeep = uint64_t(control_[CbPayloadMask]) + 1;
    triggered_ = true;
    packetBeforeTrigger_ = recordsBefore * 16;
    payloadBeforeTrigger_ = payloadBefore;
    packetPreAtTrigger_ = std::min({packetBeforeTrigger_, uint64_t(control_[CbPrePacket]) / 16 * 16, packetKeep});
    payloadPreAtTrigger_ = std::min({payloadBefore, uint64_t(control_[CbPrePayload]), payloadKeep});
    control_[CbFlags] |= FlagTriggered;
    control_[CbTriggerAddress] = uint32_t((packetBase_ + packetBeforeTrigger_) & packetMask);
}

void EmulatedAnalyser::UpdateCounters() {
    const uint32_t packetMask = control_[CbPacketMask];
    const uint32_t payloadMask = control_[CbPayloadMask];
    const uint64_t packetKeep = ((uint64_t(packetMask) + 1) / 16) * 16;
    const uint64_t payloadKeep = uint64_t(payloadMask) + 1;
    const uint64_t packetPre = std::min(uint64_t(control_[CbPrePacket]) / 16 * 16, packetKeep);
    const uint64_t payloadPre = std::min(uint64_t(control_[CbPrePayload]), payloadKeep);
    const uint64_t packetBytes = written_ * 16;

    // Before the trigger only the pre-trigger share survives; past a full
    // buffer the oldest bytes are overwritten and the start follows the writes.
    uint64_t packets, payload;
    if (!triggered_) {
        packets = std::min(packetBytes, packetPre);
        payload = std::min(payloadWritten_, payloadPre);
    } else {
        packets = std::min(packetPreAtTrigger_ + packetBytes - packetBeforeTrigger_, packetKeep);
        payload = std::min(payloadPreAtTrigger_ + payloadWritten_ - payloadBeforeTrigger_, payloadKeep);
    }
    control_[CbPacketCaptured] = uint32_t(packets);
    control_[CbPacketStart] = uint32_t((packetBase_ + packetBytes - packets) & packetMask);
    control_[CbPayloadCaptured] = uint32_t(payload);
    control_[CbPayloadStart] = uint32_t((payloadBase_ + payloadWritten_ - payload) & payloadMask);

    if (triggered_ && capturing_) {
        const uint64_t packetPost = packetKeep - packetPre, payloadPost = payloadKeep - payloadPre;
        if ((packetPost > 0 && packetBytes - packetBeforeTrigger_ >= packetPost) ||
            (payloadPost > 0 && payloadWritten_ - payloadBeforeTrigger_ >= payloadPost))
            EndCapture();
    }
}

void EmulatedAnalyser::EndCapture() {
    capturing_ = false;
    control_[CbFlags] = (control_[CbFlags] & ~uint32_t(FlagRun)) | FlagEnded | FlagComplete;
}

// ---------------------------------------------------------------- test controls

void EmulatedAnalyser::SetTrafficProvider(std::function<BusCapture()> provider) {
    std::lock_guard lock(mutex_);
    provider_ = std::move(provider);
}

BusCapture EmulatedAnalyser::BuildTraffic() {
    return provider_ ? provider_() : fixedTraffic_ ? *fixedTraffic_ : BusCapture{};
}

BusCapture EmulatedAnalyser::NextTraffic() {
    std::lock_guard lock(mutex_);
    return BuildTraffic();
}

void EmulatedAnalyser::SetTraffic(BusCapture capture) {
    std::lock_guard lock(mutex_);
    fixedTraffic_ = std::move(capture);
}

void EmulatedAnalyser::SetPace(size_t recordsPerStatusRead) {
    std::lock_guard lock(mutex_);
    pace_ = recordsPerStatusRead;
}

void EmulatedAnalyser::SetTriggerRecord(std::optional<size_t> index) {
    std::lock_guard lock(mutex_);
    triggerRecord_ = index;
}

void EmulatedAnalyser::SetCaptureStart(uint32_t packetStart, uint32_t payloadStart) {
    std::lock_guard lock(mutex_);
    startPacket_ = packetStart;
    startPayload_ = payloadStart;
}

void EmulatedAnalyser::SetClearReads(unsigned reads) {
    std::lock_guard lock(mutex_);
    clearReads_ = std::max(reads, 1u);
}

size_t EmulatedAnalyser::AdvanceCapture(size_t records) { std::lock_guard lock(mutex_); return Record(records); }
void EmulatedAnalyser::FinishCapture() {
    std::lock_guard lock(mutex_);
    Record(std::numeric_limits<size_t>::max());
    if (capturing_) EndCapture();
}
void EmulatedAnalyser::SetEndWhenExhausted(bool end) { std::lock_guard lock(mutex_); endWhenExhausted_ = end; }
bool EmulatedAnalyser::Capturing() const { std::lock_guard lock(mutex_); return capturing_; }
size_t EmulatedAnalyser::RecordsWritten() const { std::lock_guard lock(mutex_); return size_t(written_); }

void EmulatedAnalyser::SetConfigured(bool configured) {
    std::lock_guard lock(mutex_);
    configVersion_ = configured ? kDefaultConfigVersion : kUnconfigured;
}

bool EmulatedAnalyser::Configured() const { std::lock_guard lock(mutex_); return configVersion_ != kUnconfigured; }

void EmulatedAnalyser::SetDeviceInfo(uint32_t model, uint32_t firmware, uint32_t serial) {
    std::lock_guard lock(mutex_);
    model_ = model;
    firmware_ = firmware;
    serial_ = serial;
}

uint32_t EmulatedAnalyser::ConfigurationVersion() const { std::lock_guard lock(mutex_); return configVersion_; }
void EmulatedAnalyser::FailTransfer(unsigned nth) { std::lock_guard lock(mutex_); failIn_ = nth; }
void EmulatedAnalyser::DisconnectAtCommand(unsigned nth) { std::lock_guard lock(mutex_); disconnectIn_ = nth; }

void EmulatedAnalyser::Reconnect() {
    std::lock_guard lock(mutex_);
    disconnected_ = false;
    disconnectIn_ = 0;
    AbandonExchange();
}

void EmulatedAnalyser::ShortenNextBulkRead(unsigned long bytes) { std::lock_guard lock(mutex_); shortRead_ = bytes; }
void EmulatedAnalyser::ShortenReply(unsigned nth, unsigned long bytes) {
    std::lock_guard lock(mutex_);
    shortReplyIn_ = nth;
    shortReplyBytes_ = bytes;
}
void EmulatedAnalyser::CorruptNextEcho() { std::lock_guard lock(mutex_); corruptEcho_ = true; }
void EmulatedAnalyser::CorruptNextAck() { std::lock_guard lock(mutex_); corruptAck_ = true; }

void EmulatedAnalyser::HoldMemoryReads(bool hold) {
    {
        std::lock_guard lock(mutex_);
        holdMemoryReads_ = hold;
    }
    released_.notify_all();
}
unsigned EmulatedAnalyser::CommandCount() const { std::lock_guard lock(mutex_); return commands_; }

unsigned EmulatedAnalyser::TransferCount(int pipe) const {
    std::lock_guard lock(mutex_);
    return pipe >= 1 && pipe <= 3 ? transfers_[size_t(pipe)] : 0;
}

std::vector<unsigned long> EmulatedAnalyser::LastWritePieces() const { std::lock_guard lock(mutex_); return pieces_; }

std::vector<EmulatedAnalyser::RegisterWrite> EmulatedAnalyser::RegisterWrites() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<uint8_t> EmulatedAnalyser::ReadPacketMemory(uint32_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out(length);
    packetMemory_.Read(address, control_[CbPacketMask], out.data(), length);
    return out;
}

std::vector<uint8_t> EmulatedAnalyser::ReadPayloadMemory(uint32_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out(length);
    payloadMemory_.Read(address, control_[CbPayloadMask], out.data(), length);
    return out;
}

std::array<uint8_t, EmulatedAnalyser::kFilterBlockSize> EmulatedAnalyser::FilterBlock() const {
    std::lock_guard lock(mutex_);
    std::array<uint8_t, kFilterBlockSize> out;
    std::memcpy(out.data(), registers_.data() + (kFilterBlock - kRegisterBase), out.size());
    return out;
}

std::array<uint8_t, EmulatedAnalyser::kTriggerTableSize> EmulatedAnalyser::TriggerTable() const {
    std::lock_guard lock(mutex_);
    std::array<uint8_t, kTriggerTableSize> out;
    std::memcpy(out.data(), registers_.data() + (kTriggerTable - kRegisterBase), out.size());
    return out;
}

std::array<uint8_t, EmulatedAnalyser::kPatternBlockSize> EmulatedAnalyser::PatternBlock(unsigned step) const {
    std::lock_guard lock(mutex_);
    std::array<uint8_t, kPatternBlockSize> out{};
    if (step < 16)
        std::memcpy(out.data(), registers_.data() + (kPatternBlocks + 0x200 * step - kRegisterBase), out.size());
    return out;
}

EmulatedAnalyser::ControlImage EmulatedAnalyser::ControlBlock() const { std::lock_guard lock(mutex_); return control_; }

}  // namespace orvane::emu
