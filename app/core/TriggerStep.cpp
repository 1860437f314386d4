#include "TriggerStep.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "IDecode.h"
#include "UsbItem.h"

namespace orvane::app {

namespace {

constexpr uint32_t kDataBuffer = 4100;

bool IsDataPid(uint8_t pid) { return pid == 3 || pid == 7 || pid == 11 || pid == 15; }

void CollectInChildOrder(UsbItem* item, std::vector<UsbItem*>& out, size_t limit)
{
    if (!item || out.size() >= limit) return;
    const uint16_t type = item->type;
    if ((type >= 1 && type <= 15) || (type >= ItemInTransaction && type <= ItemSetupTransaction)) {
        out.push_back(item);
        return;
    }
    if (type != ItemNakGroup && type < ItemControlTransfer) return;
    for (UsbItem* child : item->children) {
        if (out.size() >= limit) return;
        if (!(child->flags & ItemHiddenByFilter)) CollectInChildOrder(child, out, limit);
    }
}

}  // namespace

uint16_t PidMaskOf(uint8_t pid)
{
    static constexpr uint16_t kMask[16] = {
        0,         MaskOut,  MaskAck,   MaskData0, 0,         MaskSof,   MaskNyet, MaskData2,
        0,         MaskIn,   MaskNak,   MaskData1, 0,         MaskSetup, MaskStall, MaskMData,
    };
    return kMask[pid & 0x0F];
}

size_t PatternTokens(const std::string& data)
{
    std::string t = data;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    if (!t.empty() && (t.back() == 'H' || t.back() == 'h' || t.back() == 'B' || t.back() == 'b')) t.pop_back();
    size_t tokens = 0;
    bool inToken = false;
    for (char c : t) {
        const bool delimiter = c == ' ' || c == ';' || c == ',';
        if (!delimiter && !inToken) ++tokens;
        inToken = !delimiter;
    }
    return tokens;
}

uint8_t TriggerAddressOfText(const std::string& text)
{
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) return 255;
    const long value = std::strtol(p, nullptr, 10);
    return value < 0 || value >= 128 ? 255 : uint8_t(value);
}

std::string TriggerAddressText(uint8_t address) { return address < 128 ? std::to_string(address) : std::string(); }

void CollectPackets(UsbItem* item, std::vector<UsbItem*>& out, size_t limit)
{
    const size_t from = out.size();
    CollectInChildOrder(item, out, limit);
    // Steps fire in time order; a class may keep an item's members newest first.
    std::stable_sort(out.begin() + std::ptrdiff_t(from), out.end(),
                     [](const UsbItem* a, const UsbItem* b) { return a->firstRecord < b->firstRecord; });
}

bool AddPacketToStep(UsbItem* packet, TriggerStep& step, IDecode* decoder)
{
    const uint8_t pid = uint8_t(packet->type & 0x0F);
    step.pidMask = uint16_t(step.pidMask | PidMaskOf(pid));
    if (!IsDataPid(pid) || !decoder) return false;
    std::vector<uint8_t> bytes(kDataBuffer);
    const int32_t answered = decoder->GetData(packet, bytes.data(), kDataBuffer);
    // A decoder may answer the full length of a longer packet: use what it wrote.
    const size_t count = size_t(std::clamp<int32_t>(answered, 0, int32_t(kDataBuffer)));
    if (count <= 3) return false;
    // Without the PID byte in front and the CRC16 behind.
    const size_t payload = count - 3;
    const size_t kept = std::min(payload, kMaxPatternTokens);
    char hex[4];
    for (size_t i = 1; i <= kept; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        step.data += hex;
        step.data += ' ';
    }
    step.data += 'H';
    return kept < payload;
}

void BuildTriggerSteps(const std::vector<UsbItem*>& items, std::vector<TriggerStep>& steps, IDecode* decoder,
                       bool* patternCut)
{
    bool cut = false;
    for (UsbItem* item : items) {
        TriggerStep step;
        step.pidMask = 0;
        if (item->type >= ItemInTransaction) {
            for (UsbItem* packet : item->children) cut |= AddPacketToStep(packet, step, decoder);
            step.address = item->address;
            // A transaction without an endpoint matches any, never a shifted 0xFF.
            step.endpoint = item->endpoint < 16 ? uint16_t(1u << item->endpoint) : uint16_t(0xFFFF);
        } else {
            cut |= AddPacketToStep(item, step, decoder);
        }
        steps.push_back(std::move(step));
    }
    if (patternCut) *patternCut = cut;
}

}  // namespace orvane::app
