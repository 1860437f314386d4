#include "BusTrafficBuilder.h"

#include <algorithm>
#include <stdexcept>

#include "Crc.h"

namespace orvane::emu {

namespace {

constexpr uint32_t kTokenBits = 24;  // PID + 16-bit field
constexpr uint32_t kSplitBits = 32;  // PID + 24-bit field
constexpr uint32_t kHandshakeBits = 8;
constexpr uint32_t kIsoSplitChunk = 188;  // bytes of one isochronous OUT start split

uint32_t DataBits(size_t bytes) { return uint32_t(8 + 8 * bytes + 16); }

bool HasCrc5(uint8_t pid) {
    return pid == PidOut || pid == PidIn || pid == PidSetup || pid == PidPing || pid == PidSof || pid == PidSplit;
}

bool Periodic(uint8_t et) {
    return et == BusTrafficBuilder::EtIso || et == BusTrafficBuilder::EtInterrupt;
}

}  // namespace

BusTrafficBuilder::BusTrafficBuilder(SpeedCode speed) : speed_(speed) {}

BusTrafficBuilder& BusTrafficBuilder::SetSpeed(SpeedCode speed) {
    speed_ = speed;
    return *this;
}

uint16_t BusTrafficBuilder::PacketTicks(SpeedCode speed, uint32_t bits, bool sof) {
    uint64_t ticks;
    if (speed == SpeedHigh) {
        // 32-bit SYNC, 8-bit EOP (40 bits after an SOF); 8 bits a tick.
        ticks = (32 + bits + (sof ? 40 : 8) + 7) / 8;
    } else {
        // 8-bit SYNC, EOP of two SE0 bits and a J.
        ticks = uint64_t(8 + bits + 3) * (speed == SpeedLow ? 40 : 5);
    }
    return uint16_t(std::clamp<uint64_t>(ticks, 1, 0xFFFF));
}

uint64_t BusTrafficBuilder::InterPacketGap() const {
    switch (speed_) {
    case SpeedLow: return 160;  // 4 bit times
    case SpeedHigh: return 16;  // about 128 bit times of turnaround
    default: return 20;
    }
}

BusTrafficBuilder& BusTrafficBuilder::SetTransactionIdle(uint64_t ticks) {
    transactionIdle_ = ticks;
    return *this;
}

BusTrafficBuilder& BusTrafficBuilder::Idle(uint64_t ticks) { return AdvanceTo(now_ + ticks); }

BusTrafficBuilder& BusTrafficBuilder::AdvanceTo(uint64_t tick) {
    if (autoSof_) {
        SyncGrid();
        while (nextSof_ <= tick) {
            now_ = std::max(now_, nextSof_);
            EmitGridSof();
        }
    }
    now_ = std::max(now_, tick);
    return *this;
}

// ---- frames ----

BusTrafficBuilder& BusTrafficBuilder::SetAutoSof(bool on) {
    autoSof_ = on;
    return *this;
}

BusTrafficBuilder& BusTrafficBuilder::SetFrame(uint16_t frame, uint8_t microframe) {
    frame_ = frame & 0x7FF;
    microframe_ = microframe & 7;
    return *this;
}

uint64_t BusTrafficBuilder::NextSofTime() {
    SyncGrid();
    return nextSof_;
}

void BusTrafficBuilder::StepGrid() {
    nextSof_ += FrameTicks();
    if (speed_ != SpeedHigh || ++microframe_ == 8) {
        microframe_ = 0;
        frame_ = (frame_ + 1) & 0x7FF;
    }
}

// Starts the grid at the clock, or skips frames the clock has already passed
// (their SOFs were not built) so that frame numbers keep following time.
void BusTrafficBuilder::SyncGrid() {
    if (!gridStarted_) {
        gridStarted_ = true;
        nextSof_ = now_;
        return;
    }
    while (nextSof_ + FrameTicks() <= now_) StepGrid();
}

void BusTrafficBuilder::EmitGridSof() {
    Sof(frame_);
    StepGrid();
}

size_t BusTrafficBuilder::SofRun(int count) {
    size_t first = Count();
    for (int i = 0; i < count; ++i) {
        SyncGrid();
        now_ = std::max(now_, nextSof_);
        EmitGridSof();
    }
    return first;
}

// ---- packets ----

size_t BusTrafficBuilder::Append(PacketRecord r, uint16_t duration) {
    r.SetTimestamp(now_);
    if (r.PidNibble() == PidSplit && !r.IsBusEvent())
        r.SetSplitWord0(uint8_t(std::min<uint16_t>(duration, 0xFF)), r.SplitHubAddress(), r.SplitComplete());
    else
        r.SetDuration(duration);
    r.SetSpeed(speed_);
    capture_.records.push_back(r);
    now_ += duration + InterPacketGap();
    return capture_.records.size() - 1;
}

size_t BusTrafficBuilder::Sof(uint16_t frame) {
    PacketRecord r;
    r.SetLow16(uint16_t((frame & 0x7FF) | Crc::Sof(frame) << 11));
    r.SetPidByte(PacketRecord::MakePidByte(PidSof));
    return Append(r, Ticks(kTokenBits, true));
}

size_t BusTrafficBuilder::Token(Pid pid, uint8_t address, uint8_t endpoint) {
    PacketRecord r;
    r.SetLow16(uint16_t((address & 0x7F) | (endpoint & 0xF) << 7 | Crc::Token(address, endpoint) << 11));
    r.SetPidByte(PacketRecord::MakePidByte(pid));
    return Append(r, Ticks(kTokenBits));
}

size_t BusTrafficBuilder::Data(Pid pid, const Bytes& bytes) {
    if (bytes.size() > 0xFFFD) throw std::length_error("data packet too long");
    Bytes stored = bytes;
    uint16_t crc = Crc::Crc16(bytes);
    stored.push_back(uint8_t(crc));
    stored.push_back(uint8_t(crc >> 8));
    return DataWithLength(pid, stored, uint16_t(stored.size()));
}

size_t BusTrafficBuilder::DataWithLength(Pid pid, const Bytes& stored, uint16_t lengthField) {
    PacketRecord r;
    r.SetLow16(lengthField);
    r.SetPidByte(PacketRecord::MakePidByte(pid));
    r.SetPayloadOffset(uint32_t(capture_.payload.size()));
    capture_.payload.insert(capture_.payload.end(), stored.begin(), stored.end());
    // A length field below 2 still counts as a packet of at least its PID.
    uint32_t bytes = lengthField >= 2 ? lengthField - 2u : 0u;
    return Append(r, Ticks(DataBits(bytes) - (lengthField >= 2 ? 0 : 16 - 8 * lengthField)));
}

size_t BusTrafficBuilder::Handshake(Pid pid) {
    PacketRecord r;
    r.SetPidByte(PacketRecord::MakePidByte(pid));
    return Append(r, Ticks(kHandshakeBits));
}

size_t BusTrafficBuilder::Split(uint8_t hubAddress, uint8_t port, bool complete, bool s, bool e, uint8_t et) {
    PacketRecord r;
    r.SetLow16(uint16_t((port & 0x7F) | s << 7 | e << 8 | (et & 3) << 9 |
                        Crc::Split(hubAddress, complete, port, s, e, et) << 11));
    r.SetPidByte(PacketRecord::MakePidByte(PidSplit));
    r.SetSplitWord0(0, hubAddress, complete);
    return Append(r, Ticks(kSplitBits));
}

size_t BusTrafficBuilder::BusEvent(uint8_t code, uint64_t ticks) {
    PacketRecord r;
    r.SetBusEventCode(code);
    r.SetTimestamp(now_);
    r.SetDuration(uint16_t(std::min<uint64_t>(ticks, 0xFFFF)));
    r.SetSpeed(speed_);
    capture_.records.push_back(r);
    now_ += ticks;
    return capture_.records.size() - 1;
}

size_t BusTrafficBuilder::Raw(PacketRecord r, const Bytes& payload) {
    if (!payload.empty()) {
        r.SetPayloadOffset(uint32_t(capture_.payload.size()));
        capture_.payload.insert(capture_.payload.end(), payload.begin(), payload.end());
    }
    uint16_t duration = r.PidNibble() == PidSplit && !r.IsBusEvent() ? r.SplitDuration() : r.Duration();
    r.SetTimestamp(now_);
    capture_.records.push_back(r);
    now_ += duration + InterPacketGap();
    return capture_.records.size() - 1;
}

BusTrafficBuilder& BusTrafficBuilder::Damage(size_t index, uint8_t errors) {
    PacketRecord& r = capture_.records.at(index);
    if (r.IsBusEvent()) return *this;  // bits 24-27 hold the event code there
    uint8_t fresh = errors & ~r.ErrorFlags();
    uint8_t pid = r.PidNibble();
    if (fresh & ErrPidCheck) r.SetPidByte(uint8_t(pid | (((~pid & 0xF) ^ 0x1) << 4)));
    if ((fresh & ErrCrc5) && HasCrc5(pid)) r.word1 ^= 1ull << 11;
    if ((fresh & ErrCrc16) && r.IsData() && r.Length() >= 2) {
        size_t at = size_t(r.PayloadOffset()) + r.Length() - 2;
        if (at < capture_.payload.size()) capture_.payload[at] ^= 0x01;
    }
    r.SetErrorFlags(uint8_t(r.ErrorFlags() | errors));
    return *this;
}

// ---- transactions ----

uint64_t BusTrafficBuilder::Cost(int tokens, int dataBytes, int handshakes) const {
    uint64_t ticks = uint64_t(tokens) * (Ticks(kTokenBits) + InterPacketGap()) +
                     uint64_t(handshakes) * (Ticks(kHandshakeBits) + InterPacketGap());
    if (dataBytes >= 0) ticks += Ticks(DataBits(size_t(dataBytes))) + InterPacketGap();
    return ticks;
}

void BusTrafficBuilder::BeginTransaction(uint64_t ticks) {
    if (!autoSof_) return;
    AdvanceTo(now_);
    // The host does not start what cannot end before the next frame begins.
    if (now_ + ticks > nextSof_ && ticks < FrameTicks()) AdvanceTo(nextSof_);
}

void BusTrafficBuilder::EndTransaction() {
    uint64_t idle = transactionIdle_ ? *transactionIdle_
                                     : speed_ == SpeedLow ? 400 : speed_ == SpeedHigh ? 40 : 60;
    Idle(idle);
}

size_t BusTrafficBuilder::In(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, Pid handshake) {
    BeginTransaction(Cost(1, int(bytes.size()), 1));
    size_t first = Token(PidIn, address, endpoint);
    Data(dataPid, bytes);
    if (handshake != kNoHandshake) Handshake(handshake);
    EndTransaction();
    return first;
}

size_t BusTrafficBuilder::InHandshake(uint8_t address, uint8_t endpoint, Pid handshake) {
    BeginTransaction(Cost(1, -1, 1));
    size_t first = Token(PidIn, address, endpoint);
    if (handshake != kNoHandshake) Handshake(handshake);
    EndTransaction();
    return first;
}

size_t BusTrafficBuilder::InNak(uint8_t address, uint8_t endpoint, int count) {
    size_t first = Count();
    for (int i = 0; i < count; ++i) InHandshake(address, endpoint, PidNak);
    return first;
}

size_t BusTrafficBuilder::Out(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, Pid handshake) {
    BeginTransaction(Cost(1, int(bytes.size()), 1));
    size_t first = Token(PidOut, address, endpoint);
    Data(dataPid, bytes);
    if (handshake != kNoHandshake) Handshake(handshake);
    EndTransaction();
    return first;
}

size_t BusTrafficBuilder::OutAfterNaks(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, int naks) {
    size_t first = Count();
    if (naks > 0 && speed_ == SpeedHigh) {
        // High speed: after a NAK the host PINGs until the endpoint has room.
        Out(address, endpoint, dataPid, bytes, PidNak);
        for (int i = 1; i < naks; ++i) Ping(address, endpoint, PidNak);
        Ping(address, endpoint, PidAck);
    } else {
        for (int i = 0; i < naks; ++i) Out(address, endpoint, dataPid, bytes, PidNak);
    }
    Out(address, endpoint, dataPid, bytes, PidAck);
    return first;
}

size_t BusTrafficBuilder::Setup(uint8_t address, const Bytes& setup) {
    BeginTransaction(Cost(1, int(setup.size()), 1));
    size_t first = Token(PidSetup, address, 0);
    Data(PidData0, setup);
    Handshake(PidAck);
    EndTransaction();
    return first;
}

size_t BusTrafficBuilder::Ping(uint8_t address, uint8_t endpoint, Pid handshake) {
    BeginTransaction(Cost(1, -1, 1));
    size_t first = Token(PidPing, address, endpoint);
    if (handshake != kNoHandshake) Handshake(handshake);
    EndTransaction();
    return first;
}

// ---- split transactions ----

size_t BusTrafficBuilder::SplitToken(const HubPort& hub, bool complete, uint8_t et, bool s, bool e) {
    return Split(hub.hub, hub.port, complete, s, e, et);
}

// Periodic complete splits come in the microframes after their start split.
void BusTrafficBuilder::NextMicroframe() {
    if (autoSof_) AdvanceTo(NextSofTime());
}

size_t BusTrafficBuilder::SplitSetup(const HubPort& hub, uint8_t address, const Bytes& setup, int nyets) {
    uint64_t split = Ticks(kSplitBits) + InterPacketGap();
    BeginTransaction(split + Cost(1, int(setup.size()), 1));
    size_t first = SplitToken(hub, false, EtControl, hub.lowSpeed, false);
    Token(PidSetup, address, 0);
    Data(PidData0, setup);
    Handshake(PidAck);
    EndTransaction();
    for (int i = 0; i <= nyets; ++i) {
        BeginTransaction(split + Cost(1, -1, 1));
        SplitToken(hub, true, EtControl, hub.lowSpeed, false);
        Token(PidSetup, address, 0);
        Handshake(i < nyets ? PidNyet : PidAck);
        EndTransaction();
    }
    return first;
}

size_t BusTrafficBuilder::SplitIn(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et, Pid dataPid,
                                  const Bytes& bytes, int nyets) {
    uint64_t split = Ticks(kSplitBits) + InterPacketGap();
    bool speedBit = et != EtIso && hub.lowSpeed;
    BeginTransaction(split + Cost(1, -1, 1));
    size_t first = SplitToken(hub, false, et, speedBit, false);
    Token(PidIn, address, endpoint);
    if (!Periodic(et)) Handshake(PidAck);
    EndTransaction();
    for (int i = 0; i <= nyets; ++i) {
        if (Periodic(et)) NextMicroframe();
        BeginTransaction(split + Cost(1, int(bytes.size()), 0));
        SplitToken(hub, true, et, speedBit, false);
        Token(PidIn, address, endpoint);
        if (i < nyets)
            Handshake(PidNyet);
        else
            Data(dataPid, bytes);
        EndTransaction();
    }
    return first;
}

size_t BusTrafficBuilder::SplitInHandshake(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et,
                                           Pid handshake) {
    uint64_t split = Ticks(kSplitBits) + InterPacketGap();
    BeginTransaction(split + Cost(1, -1, 1));
    size_t first = SplitToken(hub, false, et, hub.lowSpeed, false);
    Token(PidIn, address, endpoint);
    if (!Periodic(et)) Handshake(PidAck);
    EndTransaction();
    if (Periodic(et)) NextMicroframe();
    BeginTransaction(split + Cost(1, -1, 1));
    SplitToken(hub, true, et, hub.lowSpeed, false);
    Token(PidIn, address, endpoint);
    Handshake(handshake);
    EndTransaction();
    return first;
}

size_t BusTrafficBuilder::SplitOut(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et, Pid dataPid,
                                   const Bytes& bytes, Pid handshake) {
    uint64_t split = Ticks(kSplitBits) + InterPacketGap();
    size_t first = Count();
    if (et == EtIso) {
        // S and E mark the first and last piece (both: all of it).
        size_t at = 0;
        do {
            size_t n = std::min<size_t>(kIsoSplitChunk, bytes.size() - at);
            if (at > 0) NextMicroframe();
            BeginTransaction(split + Cost(1, int(n), 0));
            SplitToken(hub, false, et, at == 0, at + n == bytes.size());
            Token(PidOut, address, endpoint);
            Data(dataPid, Bytes(bytes.begin() + long(at), bytes.begin() + long(at + n)));
            EndTransaction();
            at += n;
        } while (at < bytes.size());
        return first;
    }
    BeginTransaction(split + Cost(1, int(bytes.size()), 1));
    SplitToken(hub, false, et, hub.lowSpeed, false);
    Token(PidOut, address, endpoint);
    Data(dataPid, bytes);
    if (!Periodic(et)) Handshake(PidAck);
    EndTransaction();
    if (Periodic(et)) NextMicroframe();
    BeginTransaction(split + Cost(1, -1, 1));
    SplitToken(hub, true, et, hub.lowSpeed, false);
    Token(PidOut, address, endpoint);
    Handshake(handshake);
    EndTransaction();
    return first;
}

// ---- control transfers ----

size_t BusTrafficBuilder::ControlTransfer(uint8_t address, const Bytes& setup, const Bytes& data,
                                          const ControlOptions& options) {
    if (setup.size() != 8) throw std::invalid_argument("a setup packet has 8 bytes");
    const bool deviceToHost = (setup[0] & 0x80) != 0;
    const uint16_t wLength = uint16_t(setup[6] | setup[7] << 8);
    const uint16_t maxPacket = std::max<uint16_t>(options.maxPacket, 1);
    const HubPort* hub = options.hub ? &*options.hub : nullptr;

    auto inNak = [&] {
        if (hub) SplitInHandshake(*hub, address, 0, EtControl, PidNak);
        else InHandshake(address, 0, PidNak);
    };
    auto inStage = [&](Pid pid, const Bytes& piece) {
        for (int i = 0; i < options.naks; ++i) inNak();
        if (hub) SplitIn(*hub, address, 0, EtControl, pid, piece);
        else In(address, 0, pid, piece);
    };
    auto outStage = [&](Pid pid, const Bytes& piece) {
        if (hub) {
            for (int i = 0; i < options.naks; ++i) SplitOut(*hub, address, 0, EtControl, pid, piece, PidNak);
            SplitOut(*hub, address, 0, EtControl, pid, piece);
        } else {
            OutAfterNaks(address, 0, pid, piece, options.naks);
        }
    };
    auto stall = [&](bool in, const Bytes& piece) {
        if (in) {
            if (hub) SplitInHandshake(*hub, address, 0, EtControl, PidStall);
            else InHandshake(address, 0, PidStall);
        } else {
            if (hub) SplitOut(*hub, address, 0, EtControl, PidData1, piece, PidStall);
            else Out(address, 0, PidData1, piece, PidStall);
        }
    };

    size_t first = hub ? SplitSetup(*hub, address, setup) : Setup(address, setup);
    if (wLength > 0) {
        std::vector<Bytes> pieces;
        for (size_t at = 0; at < data.size(); at += maxPacket)
            pieces.emplace_back(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + maxPacket)));
        // A short answer that ends on a packet boundary ends with an empty packet.
        if (data.size() < wLength && data.size() % maxPacket == 0) pieces.emplace_back();
        if (options.stall) {
            stall(deviceToHost, pieces.front());
            return first;
        }
        Pid toggle = PidData1;
        for (const Bytes& piece : pieces) {
            if (deviceToHost) inStage(toggle, piece);
            else outStage(toggle, piece);
            toggle = toggle == PidData1 ? PidData0 : PidData1;
        }
    }
    const bool statusIn = !(deviceToHost && wLength > 0);
    if (options.stall) {
        stall(statusIn, {});
    } else if (statusIn) {
        inStage(PidData1, {});
    } else {
        outStage(PidData1, {});
    }
    return first;
}

size_t BusTrafficBuilder::ControlTransfer(uint8_t address, const Bytes& setup, const Bytes& data) {
    return ControlTransfer(address, setup, data, ControlOptions());
}

// ---- result ----

std::span<const uint8_t> BusTrafficBuilder::PayloadOf(size_t index) const {
    const PacketRecord& r = capture_.records.at(index);
    size_t at = r.PayloadOffset();
    size_t n = r.PayloadLength();
    if (!r.IsData() || at + n > capture_.payload.size()) return {};
    return {capture_.payload.data() + at, n};
}

BusCapture BusTrafficBuilder::Take() {
    BusCapture out = std::move(capture_);
    capture_ = {};
    return out;
}

}  // namespace orvane::emu
