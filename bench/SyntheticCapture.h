// A synthetic high-speed capture of any size with a realistic mix: SOF every
// microframe, NAKed interrupt polling, bulk IN at full rate with some NAKs,
// control transfers now and then, and a few damaged packets. Records are
// written directly, each data packet's bytes after the one before in the
// payload ring (RingCapture): with Payload::Held as many records as the ring
// holds whole (up to `records`), with Payload::Wrapped `records` of which the
// older packets lost their payload.
#pragma once

#include <cstdint>
#include <vector>

#include "BusCapture.h"
#include "PacketRecord.h"
#include "RingCapture.h"

namespace orvane::bench {

class SyntheticCapture {
public:
    static emu::BusCapture Build(size_t records, Payload payload = Payload::Wrapped) {
        SyntheticCapture s(payload, records);
        s.capture_.Reserve(records);
        uint32_t microframe = 0;
        while (s.capture_.Size() < records && !s.capture_.Full()) s.Microframe(microframe++);
        return s.capture_.Take();
    }

private:
    SyntheticCapture(Payload payload, size_t records) : capture_(payload), limit_(records) {}

    void Put(uint8_t pid, uint16_t low16, uint16_t duration) {
        if (capture_.Size() >= limit_) return;
        PacketRecord r;
        r.SetTimestamp(now_);
        r.SetDuration(duration);
        r.SetLow16(low16);
        r.SetPidByte(PacketRecord::MakePidByte(pid));
        r.SetSpeed(SpeedHigh);
        if (++sinceDamage_ == 250000) {  // a rare damaged PID
            sinceDamage_ = 0;
            r.SetPidByte(uint8_t(PacketRecord::MakePidByte(pid) ^ 0x10));  // one check bit wrong
            r.SetErrorFlags(ErrPidCheck);
        }
        const bool bulk = r.IsData() && r.Length() > 64;
        if (bulk) {
            // A bulk packet's own bytes: its number, then zeros (and a CRC of
            // zeros); control packets stay zeros, a standard request the parser knows.
            bytes_[0] = uint8_t(packets_);
            bytes_[1] = uint8_t(packets_ >> 8);
            ++packets_;
        }
        capture_.Append(r, bulk ? bytes_ : nullptr);
        now_ += duration + 12;
    }
    static uint16_t Token(uint8_t address, uint8_t endpoint) { return uint16_t(address | endpoint << 7); }

    void In(uint8_t address, uint8_t endpoint, bool nak, uint16_t bytes) {
        Put(PidIn, Token(address, endpoint), 6);
        if (nak) {
            Put(PidNak, 0, 5);
            return;
        }
        Put(toggle_ ? PidData1 : PidData0, uint16_t(bytes + 2), uint16_t(bytes / 8 + 8));
        toggle_ = !toggle_;
        Put(PidAck, 0, 5);
    }

    void Control(uint8_t address) {
        Put(PidSetup, Token(address, 0), 6);
        Put(PidData0, 10, 9);
        Put(PidAck, 0, 5);
        Put(PidIn, Token(address, 0), 6);
        Put(PidData1, 20, 10);
        Put(PidAck, 0, 5);
        Put(PidOut, Token(address, 0), 6);
        Put(PidData1, 2, 6);
        Put(PidAck, 0, 5);
    }

    void Microframe(uint32_t n) {
        now_ = uint64_t(n) * 7500;
        Put(PidSof, uint16_t((n >> 3) & 0x7FF), 8);
        if (n % 8 == 0) In(7, 1, true, 0);     // a HID device with nothing to say
        if (n % 1000 == 500) Control(5);
        bool stalled = n % 64 < 4;            // the disk is sometimes not ready
        for (int i = 0; i < 10; ++i) In(5, 1, stalled, 512);
    }

    RingCapture capture_;
    size_t limit_;
    uint8_t bytes_[1024 + 2] = {};
    uint32_t packets_ = 0;
    uint64_t now_ = 0;
    bool toggle_ = false;
    uint32_t sinceDamage_ = 0;
};

}  // namespace orvane::bench
