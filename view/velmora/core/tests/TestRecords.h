// Packet records for the charts' tests: one record from its fields.
#pragma once

#include "PacketRecord.h"

namespace orvane::velmora::test {

inline PacketRecord Rec(uint64_t tick, uint16_t duration, uint8_t pid, uint16_t low16 = 0,
                        uint8_t speed = SpeedHigh)
{
    PacketRecord r;
    r.SetTimestamp(tick);
    r.SetDuration(duration);
    r.SetPidByte(PacketRecord::MakePidByte(pid));
    r.SetLow16(low16);
    r.SetSpeed(speed);
    return r;
}

// A token's address and endpoint field.
inline uint16_t Token(int address, int endpoint) { return uint16_t(address | endpoint << 7); }

}  // namespace orvane::velmora::test
