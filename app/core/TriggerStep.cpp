#include "TriggerStep.h"

#include <algorithm>
#include <cstdio>

#include "IDecode.h"
#include "UsbItem.h"

namespace orvane::app {

namespace {

constexpr uint32_t kDataBuffer = 4100;

bool IsDataPid(uint8_t pid) { return pid == 3 || pid == 7 || pid == 11 || pid == 15; }

}  // namespace

uint16_t PidMaskOf(uint8_t pid)
{
    static constexpr uint16_t kMask[16] = {
        0,         MaskOut,  MaskAck,   MaskData0, 0,         MaskSof,   MaskNyet, MaskData2,
        0,         MaskIn,   MaskNak,   MaskData1, 0,         MaskSetup, MaskStall, MaskMData,
    };
    return kMask[pid & 0x0F];
}

void CollectPackets(UsbItem* item, std::vector<UsbItem*>& out)
{
    if (!item) return;
    const uint16_t type = item->type;
    if ((type >= 1 && type <= 15) || (type >= ItemInTransaction && type <= ItemSetupTransaction)) {
        out.push_back(item);
        return;
    }
    if (type != ItemNakGroup && type < ItemControlTransfer) return;
    for (UsbItem* child : item->children)
        if (!(child->flags & ItemHiddenByFilter)) CollectPackets(child, out);
}

void AddPacketToStep(UsbItem* packet, TriggerStep& step, IDecode* decoder)
{
    const uint8_t pid = uint8_t(packet->type & 0x0F);
    step.pidMask = uint16_t(step.pidMask | PidMaskOf(pid));
    if (!IsDataPid(pid) || !decoder) return;
    std::vector<uint8_t> bytes(kDataBuffer);
    const int32_t answered = decoder->GetData(packet, bytes.data(), kDataBuffer);
    // A decoder may answer the full length of a longer packet: use what it wrote.
    const size_t count = size_t(std::clamp<int32_t>(answered, 0, int32_t(kDataBuffer)));
    if (count <= 3) return;
    // Without the PID byte in front and the CRC16 behind.
    char hex[4];
    for (size_t i = 1; i + 2 < count; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        step.data += hex;
        step.data += ' ';
    }
    step.data += 'H';
}

void BuildTriggerSteps(const std::vector<UsbItem*>& items, std::vector<TriggerStep>& steps, IDecode* decoder)
{
    for (UsbItem* item : items) {
        TriggerStep step;
        step.pidMask = 0;
        if (item->type >= ItemInTransaction) {
            for (UsbItem* packet : item->children) AddPacketToStep(packet, step, decoder);
            step.address = item->address;
            step.endpoint = uint16_t(1u << (item->endpoint & 0x0F));
        } else {
            AddPacketToStep(item, step, decoder);
        }
        steps.push_back(std::move(step));
    }
}

}  // namespace orvane::app
