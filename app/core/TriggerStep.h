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

// The analyser compares at most this many pattern bytes; the rest are ignored.
constexpr size_t kMaxPatternTokens = 256;
constexpr const char* kPatternCutText = "数据超过 256 字节：触发条件只比较前 256 字节。";
// Tokens of a pattern text as the analyser splits it (blanks, ";" and ","
// after the "H" or "B" suffix is taken off).
size_t PatternTokens(const std::string& data);

// The address edit of the trigger page: empty, negative or 128 and above is any (255).
uint8_t TriggerAddressOfText(const std::string& text);
// "%d" below 128, empty for any address.
std::string TriggerAddressText(uint8_t address);

// One more item than a trigger can take is enough to refuse a row.
constexpr size_t kCollectLimit = 17;
// The packets and IN/OUT/SETUP transactions of a list item, in record order: NAK
// groups, control transfers and class-level items give those below them that
// the packet filters do not hide. Stops once `out` holds `limit` items.
void CollectPackets(UsbItem* item, std::vector<UsbItem*>& out, size_t limit = kCollectLimit);
// One step per collected item, appended to `steps`. A transaction's step
// matches its address and endpoint; a lone packet's matches any. `patternCut`
// (may be null) is set when a data packet was longer than a pattern holds.
void BuildTriggerSteps(const std::vector<UsbItem*>& items, std::vector<TriggerStep>& steps, IDecode* decoder,
                       bool* patternCut = nullptr);
// Adds the packet's PID to the step, and a data packet's payload as the
// pattern, at most kMaxPatternTokens bytes; true when bytes were left out.
bool AddPacketToStep(UsbItem* packet, TriggerStep& step, IDecode* decoder);

}  // namespace orvane::app
