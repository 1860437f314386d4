// Bus traffic as the analyser records it: packet records in time order and the
// payload bytes of their data packets.
#pragma once

#include <cstdint>
#include <vector>

#include "PacketRecord.h"

namespace orvane::emu {

// In `records`, bits 32-63 of word 1 of each data packet give the offset of its
// first byte in `payload`, which holds its data bytes followed by the two CRC16
// bytes (length field bytes in all).
struct BusCapture {
    std::vector<PacketRecord> records;
    std::vector<uint8_t> payload;
};

}  // namespace orvane::emu
