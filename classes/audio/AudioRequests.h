// The audio class requests (bRequest), the item types the decoder gives the
// control transfers that carry them, and their names.
#pragma once

#include <cstdint>

namespace orvane::audio {

enum AudioRequest : uint8_t {
    SetCur = 0x01, SetMin = 0x02, SetMax = 0x03, SetRes = 0x04, SetMem = 0x05,
    GetCur = 0x81, GetMin = 0x82, GetMax = 0x83, GetRes = 0x84, GetMem = 0x85,
    GetStat = 0xFF,
};

// Item types: entity subtype x 256 + bRequest for terminals and units,
// kEndpointRequest + bRequest for endpoints, kMemoryRequest + bRequest for
// SET_MEM, GET_MEM and GET_STAT. Bit 7 is bRequest's: set, the data stage
// is device to host.
constexpr uint16_t kEndpointRequest = 0x900;
constexpr uint16_t kMemoryRequest = 0x1000;
constexpr uint16_t kFirstAudioType = 0x201;
constexpr uint16_t kLastAudioType = 0x10FF;

constexpr bool IsAudioType(uint16_t type) { return type >= kFirstAudioType && type <= kLastAudioType; }
constexpr bool IsDeviceToHost(uint16_t type) { return (type & 0x80) != 0; }
constexpr bool IsMemoryOrStatus(uint8_t request) { return request == SetMem || request == GetMem || request == GetStat; }

// The list row's name ("SetCur", "GetStat"); empty for other codes.
const char* RowName(uint8_t request);
// The setup packet's name ("SET_CUR", "GET_STAT"); empty for other codes.
const char* RequestName(uint8_t request);

}  // namespace orvane::audio
