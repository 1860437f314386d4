// One trigger step as the settings pages hold it.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::app {

struct TriggerStep {
    uint8_t address = 255;       // 0-127, 255 any address
    uint16_t endpoint = 0xFFFF;  // bit n = endpoint n
    uint16_t pidMask = 0xFFFF;   // PidMask bits
    std::string data;            // pattern text: empty = empty data packet, "?" = any data

    bool operator==(const TriggerStep&) const = default;
};

// PidMask bits.
enum PidMaskBit : uint16_t {
    MaskAck = 0x001, MaskNyet = 0x002, MaskNak = 0x004, MaskStall = 0x008,
    MaskData0 = 0x010, MaskData2 = 0x020, MaskData1 = 0x040, MaskMData = 0x080,
    MaskOut = 0x100, MaskSof = 0x200, MaskIn = 0x400, MaskSetup = 0x800,
};

}  // namespace orvane::app
