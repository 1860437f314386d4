// One trigger step as the settings pages hold it, and the steps built from
// items of the packet list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
class IDecode;
struct UsbItem;
}  // namespace orvane

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

// The PidMask bit of a PID nibble; 0 for PIDs a step cannot match (PING, SPLIT, PRE).
uint16_t PidMaskOf(uint8_t pid);

// The packets and IN/OUT/SETUP transactions of a list item, in order: NAK
// groups, control transfers and class-level items give those below them that
// the packet filters do not hide.
void CollectPackets(UsbItem* item, std::vector<UsbItem*>& out);
// One step per collected item, appended to `steps`. A transaction's step
// matches its address and endpoint; a lone packet's matches any.
void BuildTriggerSteps(const std::vector<UsbItem*>& items, std::vector<TriggerStep>& steps, IDecode* decoder);
// Adds the packet's PID to the step, and a data packet's payload as the pattern.
void AddPacketToStep(UsbItem* packet, TriggerStep& step, IDecode* decoder);

}  // namespace orvane::app
