// What IDevice::GetStatus and IDataSource::GetStatus report.
#pragma once

#include <cstdint>

namespace orvane {

enum DeviceStatusFlags : uint32_t {
    StatusOnline = 0x01,
    StatusOnline2 = 0x02,   // always set together with StatusOnline
    StatusRunning = 0x04,   // running and waiting for (or past) the trigger, not ended
    StatusTriggered = 0x08,
    StatusComplete = 0x10,  // capture data complete: the payload upload may begin
};

struct DeviceStatus {
    uint32_t flags = 0;
    int32_t trigger = -1;   // index of the record just before the trigger point
    uint32_t packets = 0;
    uint32_t payloadBytes = 0;
    uint32_t reserved[8] = {};
};
static_assert(sizeof(DeviceStatus) == 48);

// The 52-byte reply of the device-information command, kept as the analyser sends it.
struct DeviceInfo {
    uint8_t header[8] = {};
    uint32_t model = 0;           // 0x1220 for this analyser
    uint32_t firmwareVersion = 0;
    uint32_t configVersion = 0;   // 0xFFFFFFFF: no hardware configuration loaded
    uint32_t serialNumber = 0;
    uint8_t rest[28] = {};
};
static_assert(sizeof(DeviceInfo) == 52);

constexpr uint32_t kAnalyserModel = 0x1220;
constexpr uint32_t kNoConfiguration = 0xFFFFFFFFu;

}  // namespace orvane
