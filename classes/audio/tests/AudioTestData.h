// Configurations of audio functions and a decoder told of one, shared by
// the audio tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "CClassDecoder.h"
#include "CFakeHost.h"

namespace orvane::audio::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A configuration descriptor in front of `body`, its total length filled in.
inline Bytes Configuration(const Bytes& body, uint8_t interfaces = 2)
{
    const uint16_t total = uint16_t(9 + body.size());
    return Join({{9, 2, uint8_t(total), uint8_t(total >> 8), interfaces, 1, 0, 0x80, 50}, body});
}

inline Bytes Interface(uint8_t number, uint8_t alternate, uint8_t subclass, uint8_t protocol = 0)
{
    return {9, 4, number, alternate, 0, 0x01, subclass, protocol, 0};
}
inline Bytes ControlInterface(uint8_t number, uint8_t protocol = 0) { return Interface(number, 0, 1, protocol); }

// Class-specific audio-control descriptors (audio class 1.0, 4.3.2); only
// their first four bytes matter to the entity table.
inline const Bytes kHeader = {10, 0x24, 0x01, 0x00, 0x01, 82, 0, 2, 1, 2};
inline const Bytes kInputTerminal1 = {12, 0x24, 0x02, 1, 0x01, 0x01, 0, 2, 0x03, 0x00, 0, 0};
inline const Bytes kMixerUnit4 = {13, 0x24, 0x04, 4, 2, 1, 6, 2, 0x03, 0x00, 0, 0x00, 0};
inline const Bytes kFeatureUnit5 = {10, 0x24, 0x06, 5, 1, 1, 0x03, 0x02, 0x02, 0};
inline const Bytes kSelectorUnit6 = {7, 0x24, 0x05, 6, 1, 4, 0};
inline const Bytes kProcessingUnit7 = {13, 0x24, 0x07, 7, 0x03, 0x00, 1, 5, 2, 0x03, 0x00, 0, 0};
inline const Bytes kExtensionUnit8 = {13, 0x24, 0x08, 8, 0x01, 0x00, 1, 7, 2, 0x03, 0x00, 0, 0};
inline const Bytes kOutputTerminal3 = {9, 0x24, 0x03, 3, 0x01, 0x03, 0, 8, 0};

// Streaming interface 1: alternate 0, then one with its general and format
// descriptors, which are class-specific interface descriptors too.
inline const Bytes kStreaming = Join({Interface(1, 0, 2), Interface(1, 1, 2), {7, 0x24, 0x01, 1, 1, 0x01, 0x00},
                                      {11, 0x24, 0x02, 0x01, 2, 2, 16, 1, 0x80, 0xBB, 0x00},
                                      {9, 5, 0x01, 0x09, 192, 0, 1, 0, 0}, {7, 0x25, 0x01, 0x01, 0, 0, 0}});

// Interface 0 with a terminal, a unit of every kind and a terminal, then streaming.
inline const Bytes kSpeaker = Configuration(Join({ControlInterface(0), kHeader, kInputTerminal1, kMixerUnit4,
                                                  kFeatureUnit5, kSelectorUnit6, kProcessingUnit7,
                                                  kExtensionUnit8, kOutputTerminal3, kStreaming}));

inline Bytes SetupBytes(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint16_t length)
{
    return {requestType, request, uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8),
            uint8_t(length), uint8_t(length >> 8)};
}

// A decoder on `host`, told of `configuration`.
inline std::unique_ptr<CClassDecoder> MakeDecoder(CFakeHost& host, const Bytes& configuration = kSpeaker)
{
    auto decoder = std::make_unique<CClassDecoder>();
    decoder->SetHost(&host);
    decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(configuration.data()), intptr_t(configuration.size()));
    return decoder;
}

}  // namespace orvane::audio::testing
