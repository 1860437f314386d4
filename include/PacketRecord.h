// The analyser's 16-byte packet record: two little-endian 64-bit words,
// exactly as capture memory stores it.
#pragma once

#include <cstdint>

namespace orvane {

// PID nibbles (low four bits of the PID byte).
enum Pid : uint8_t {
    PidOut = 0x1, PidAck = 0x2, PidData0 = 0x3, PidPing = 0x4, PidSof = 0x5,
    PidNyet = 0x6, PidData2 = 0x7, PidSplit = 0x8, PidIn = 0x9, PidNak = 0xA,
    PidData1 = 0xB, PidPre = 0xC, PidSetup = 0xD, PidStall = 0xE, PidMData = 0xF,
};

// Error flag bits of word 1 (valid when bit 31 is set).
enum PacketError : uint32_t {
    ErrPidCheck = 1u << 0, ErrCrc5 = 1u << 1, ErrCrc16 = 1u << 2,
    ErrLength = 1u << 3, ErrBitStuff = 1u << 4,
};

// The speed code of word 1 bits 29-30; also the BusSpeed of a summary.
enum SpeedCode : uint8_t { SpeedNone = 0, SpeedLow = 1, SpeedHigh = 2, SpeedFull = 3 };

struct PacketRecord {
    // The payload offset of a data packet whose payload the capture does not
    // hold; past any payload file, so a reader that knows nothing of it serves none.
    static constexpr uint32_t kPayloadLost = 0xFFFFFFFFu;
    // The same for one whose payload the analyser held but that was never read
    // from it (a record read cut short); older readers take it as lost.
    static constexpr uint32_t kPayloadUnread = 0xFFFFFFFEu;

    uint64_t word0 = 0;
    uint64_t word1 = 0;

    // ---- word 0 ----
    uint64_t Timestamp() const { return word0 & 0xFFFFFFFFFFFFull; }
    uint16_t Duration() const { return uint16_t(word0 >> 48); }
    // SPLIT records reuse the duration's high byte.
    uint8_t SplitDuration() const { return uint8_t(word0 >> 48); }
    uint8_t SplitHubAddress() const { return uint8_t((word0 >> 56) & 0x7F); }
    bool SplitComplete() const { return (word0 >> 63) != 0; }
    // The packet's own duration in ticks: a SPLIT's 8 bits, any other
    // record's 16. A record whose PID fails its check is no SPLIT.
    uint16_t PacketDuration() const { return IsSplit() ? SplitDuration() : Duration(); }

    // ---- word 1, bits 0-15 ----
    uint16_t Length() const { return uint16_t(word1); }
    uint8_t Address() const { return uint8_t(word1 & 0x7F); }
    uint8_t Endpoint() const { return uint8_t((word1 >> 7) & 0xF); }
    uint8_t Crc5() const { return uint8_t((word1 >> 11) & 0x1F); }
    uint16_t FrameNumber() const { return uint16_t(word1 & 0x7FF); }
    uint8_t SplitHubPort() const { return uint8_t(word1 & 0x7F); }
    bool SplitS() const { return ((word1 >> 7) & 1) != 0; }
    bool SplitE() const { return ((word1 >> 8) & 1) != 0; }
    uint8_t SplitEt() const { return uint8_t((word1 >> 9) & 3); }

    // ---- word 1, bits 16-31 ----
    uint8_t PidByte() const { return uint8_t(word1 >> 16); }
    uint8_t PidNibble() const { return uint8_t((word1 >> 16) & 0xF); }
    bool PidCheckOk() const { return ((PidByte() >> 4) ^ 0xF) == PidNibble(); }
    bool IsBusEvent() const { return PidByte() == 0; }
    bool IsSplit() const { return PidNibble() == PidSplit && !(HasError() && !PidCheckOk()); }
    uint8_t BusEventCode() const { return uint8_t((word1 >> 24) & 0xF); }
    // Bits 16 and 17 both set: DATA0, DATA1, DATA2, MDATA.
    bool IsData() const { return (word1 & 0x30000) == 0x30000; }
    bool HasError() const { return ((word1 >> 31) & 1) != 0; }
    uint8_t ErrorFlags() const { return HasError() ? uint8_t((word1 >> 24) & 0x1F) : 0; }
    uint8_t Speed() const { return uint8_t((word1 >> 29) & 3); }

    // ---- word 1, bits 32-63 ----
    uint32_t PayloadOffset() const { return uint32_t(word1 >> 32); }
    // Payload bytes without the CRC16; a length field below 2 carries none.
    uint32_t PayloadLength() const { return Length() >= 2 ? Length() - 2u : 0u; }
    // A data packet whose payload the analyser's payload buffer overwrote before
    // the capture ended, or that was never read from it: the capture holds its
    // record and none of its bytes.
    bool PayloadLost() const { return IsData() && PayloadOffset() >= kPayloadUnread; }
    // Of those, one whose payload the analyser held but that was not read from it.
    bool PayloadUnread() const { return IsData() && PayloadOffset() == kPayloadUnread; }

    // ---- writers ----
    void SetTimestamp(uint64_t t) { word0 = (word0 & ~0xFFFFFFFFFFFFull) | (t & 0xFFFFFFFFFFFFull); }
    void SetDuration(uint16_t d) { word0 = (word0 & 0xFFFFFFFFFFFFull) | (uint64_t(d) << 48); }
    void SetSplitWord0(uint8_t duration, uint8_t hubAddress, bool complete) {
        word0 = (word0 & 0xFFFFFFFFFFFFull) | (uint64_t(duration) << 48) |
                (uint64_t(hubAddress & 0x7F) << 56) | (uint64_t(complete ? 1 : 0) << 63);
    }
    void SetLow16(uint16_t v) { word1 = (word1 & ~0xFFFFull) | v; }
    void SetPidByte(uint8_t pid) { word1 = (word1 & ~0xFF0000ull) | (uint64_t(pid) << 16); }
    void SetErrorFlags(uint8_t flags) {
        word1 &= ~(0x1Full << 24 | 1ull << 31);
        if (flags) word1 |= (uint64_t(flags & 0x1F) << 24) | (1ull << 31);
    }
    void SetBusEventCode(uint8_t code) { word1 = (word1 & ~(0xFull << 24)) | (uint64_t(code & 0xF) << 24); }
    void SetSpeed(uint8_t s) { word1 = (word1 & ~(3ull << 29)) | (uint64_t(s & 3) << 29); }
    void SetPayloadOffset(uint32_t off) { word1 = (word1 & 0xFFFFFFFFull) | (uint64_t(off) << 32); }

    // PID byte with its check nibble.
    static constexpr uint8_t MakePidByte(uint8_t pid) { return uint8_t((pid & 0xF) | ((~pid & 0xF) << 4)); }
};

static_assert(sizeof(PacketRecord) == 16, "PacketRecord is the 16-byte capture record");

// Ticks of the analyser's 60 MHz clock.
constexpr double kTickNs = 1000.0 / 60.0;

}  // namespace orvane
