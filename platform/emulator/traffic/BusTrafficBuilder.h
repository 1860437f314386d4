// Builds bus traffic record by record on a running 60 MHz clock: packets with
// realistic durations and gaps, whole transactions, split transactions, control
// transfers and SOF frames. Every packet call returns the index of its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "BusCapture.h"
#include "PacketRecord.h"

namespace orvane::emu {

// Codes of records whose PID byte is 0 (word 1 bits 24-27).
enum BusEventCode : uint8_t {
    EvHostConnect = 0, EvDeviceConnect = 1, EvHostReset = 2, EvDeviceChirp = 3, EvHostChirpJ = 4,
    EvHostChirpK = 5, EvDeviceDisconnect = 6, EvBusSuspend = 7, EvBusResume = 8, EvHostResetCompleted = 9,
};

class BusTrafficBuilder {
public:
    using Bytes = std::vector<uint8_t>;

    // ET field of a SPLIT token.
    enum SplitType : uint8_t { EtControl = 0, EtIso = 1, EtBulk = 2, EtInterrupt = 3 };

    // Where a full- or low-speed device hangs below a high-speed hub.
    struct HubPort {
        uint8_t hub = 1;
        uint8_t port = 1;
        bool lowSpeed = false;
    };

    struct ControlOptions {
        uint16_t maxPacket = 64;
        bool stall = false;          // STALL the data stage, or the status stage when there is none
        int naks = 0;                // NAKs before each data and status transaction
        std::optional<HubPort> hub;  // run every stage as split transactions
    };

    static constexpr Pid kNoHandshake = Pid(0);

    explicit BusTrafficBuilder(SpeedCode speed = SpeedFull);

    // ---- clock ----
    BusTrafficBuilder& SetSpeed(SpeedCode speed);
    SpeedCode Speed() const { return speed_; }
    uint64_t Now() const { return now_; }
    BusTrafficBuilder& Idle(uint64_t ticks);
    // Moves the clock forward (never back), emitting due SOFs when automatic.
    BusTrafficBuilder& AdvanceTo(uint64_t tick);
    // Idle after every transaction helper; defaults by speed.
    BusTrafficBuilder& SetTransactionIdle(uint64_t ticks);
    uint64_t InterPacketGap() const;
    // Duration in ticks of a packet of `bits` between SYNC and EOP at `speed`.
    static uint16_t PacketTicks(SpeedCode speed, uint32_t bits, bool sof = false);

    // ---- frames ----
    // With automatic SOFs every transaction helper, Idle and AdvanceTo first
    // emit the SOFs that are due, and a transaction never crosses a frame start.
    BusTrafficBuilder& SetAutoSof(bool on);
    BusTrafficBuilder& SetFrame(uint16_t frame, uint8_t microframe = 0);
    uint16_t Frame() const { return frame_; }
    uint64_t FrameTicks() const { return speed_ == SpeedHigh ? 7500 : 60000; }
    uint64_t NextSofTime();
    // `count` SOFs on the frame grid (microframes at high speed); returns the first index.
    size_t SofRun(int count);

    // ---- packets ----
    size_t Sof(uint16_t frame);
    size_t Token(Pid pid, uint8_t address, uint8_t endpoint);
    size_t Data(Pid pid, const Bytes& bytes);
    // A data packet with the given stored bytes (no CRC added) and length field.
    size_t DataWithLength(Pid pid, const Bytes& stored, uint16_t lengthField);
    size_t Handshake(Pid pid);
    size_t Split(uint8_t hubAddress, uint8_t port, bool complete, bool s, bool e, uint8_t et);
    // A bus event lasting `ticks` (the duration field saturates).
    size_t BusEvent(uint8_t code, uint64_t ticks = 0);
    // Appends `r` stamped with the clock; a non-empty `payload` becomes its payload.
    size_t Raw(PacketRecord r, const Bytes& payload = {});

    // Damages record `index` by PacketError bits: a wrong check nibble, a wrong
    // CRC5 or CRC16 where the packet has one, and the matching error flags.
    BusTrafficBuilder& Damage(size_t index, uint8_t errors);

    // ---- transactions; each returns the index of its first record ----
    size_t In(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, Pid handshake = PidAck);
    size_t InHandshake(uint8_t address, uint8_t endpoint, Pid handshake);
    // `count` IN transactions answered by NAK.
    size_t InNak(uint8_t address, uint8_t endpoint, int count = 1);
    size_t Out(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, Pid handshake = PidAck);
    // `naks` refusals first: OUT/NAK at full and low speed, OUT/NAK and PINGs at high speed.
    size_t OutAfterNaks(uint8_t address, uint8_t endpoint, Pid dataPid, const Bytes& bytes, int naks);
    size_t Setup(uint8_t address, const Bytes& setup);
    size_t Ping(uint8_t address, uint8_t endpoint, Pid handshake = PidAck);

    // Split transactions: a start split and the complete splits that finish it.
    size_t SplitSetup(const HubPort& hub, uint8_t address, const Bytes& setup, int nyets = 0);
    size_t SplitIn(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et, Pid dataPid,
                   const Bytes& bytes, int nyets = 0);
    size_t SplitInHandshake(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et, Pid handshake);
    // Isochronous OUT goes as start splits of at most 188 bytes, one a microframe.
    size_t SplitOut(const HubPort& hub, uint8_t address, uint8_t endpoint, uint8_t et, Pid dataPid,
                    const Bytes& bytes, Pid handshake = PidAck);

    // SETUP, data stage in maxPacket pieces from DATA1 on, status stage the
    // other way; `data` is what the device returns (IN) or the host sends (OUT).
    size_t ControlTransfer(uint8_t address, const Bytes& setup, const Bytes& data, const ControlOptions& options);
    size_t ControlTransfer(uint8_t address, const Bytes& setup, const Bytes& data);

    // ---- result ----
    size_t Count() const { return capture_.records.size(); }
    const PacketRecord& Record(size_t index) const { return capture_.records[index]; }
    // A data packet's bytes without the CRC16.
    std::span<const uint8_t> PayloadOf(size_t index) const;
    const BusCapture& Capture() const { return capture_; }
    BusCapture Take();

private:
    size_t Append(PacketRecord r, uint16_t duration);
    uint16_t Ticks(uint32_t bits, bool sof = false) const { return PacketTicks(speed_, bits, sof); }
    uint64_t Cost(int tokens, int dataBytes, int handshakes) const;
    void BeginTransaction(uint64_t ticks);
    void EndTransaction();
    void SyncGrid();
    void EmitGridSof();
    void StepGrid();
    size_t SplitToken(const HubPort& hub, bool complete, uint8_t et, bool s, bool e);
    void NextMicroframe();

    BusCapture capture_;
    SpeedCode speed_;
    uint64_t now_ = 0;
    std::optional<uint64_t> transactionIdle_;
    bool autoSof_ = false;
    bool gridStarted_ = false;
    uint64_t nextSof_ = 0;
    uint16_t frame_ = 0;
    uint8_t microframe_ = 0;
};

}  // namespace orvane::emu
