// The emulated speaker (USB Audio 1.0): its audio-control and streaming
// interfaces, and what a host does with them: reading the feature unit's
// controls, choosing the streaming alternate setting, setting the sampling
// frequency, volume and mute, then one isochronous packet of PCM a frame.
#include "SessionBuilder.h"

namespace orvane::emu {

namespace {

using Bytes = SessionBuilder::Bytes;
using B = BusTrafficBuilder;

constexpr uint64_t kTicksPerMs = 60000;
constexpr uint8_t kSetInterface = 11;

// Entity IDs of the audio function: USB streaming in, feature unit, speaker out.
constexpr uint8_t kInputTerminal = 1, kFeatureUnit = 5, kOutputTerminal = 3;
constexpr uint8_t kControlInterface = 0, kStreamingInterface = 1, kStreamingEndpoint = 0x01;
// Class requests (audio class 1.0, A.9) and feature-unit control selectors (A.10.2).
constexpr uint8_t kSetCur = 0x01, kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83, kGetRes = 0x84;
constexpr uint8_t kMuteControl = 1, kVolumeControl = 2, kSamplingFrequencyControl = 1;
constexpr uint8_t kToInterface = 0x21, kFromInterface = 0xA1, kToEndpoint = 0x22, kFromEndpoint = 0xA2;

void Le16(Bytes& b, uint16_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }

// Volume in 1/256 dB, as the feature unit carries it.
Bytes Volume(int db) {
    Bytes b;
    Le16(b, uint16_t(int16_t(db * 256)));
    return b;
}

}  // namespace

void SessionBuilder::AudioInterfaces(Bytes& body) const {
    const bool high = opts_.speed == SpeedHigh;
    // Audio control: header, USB-streaming input terminal, feature unit with
    // a master mute and a volume on each of the two channels, speaker.
    body.insert(body.end(), {9, 4, kControlInterface, 0, 0, 0x01, 0x01, 0x00, 0});
    body.insert(body.end(), {9, 0x24, 0x01, 0x00, 0x01, 9 + 12 + 10 + 9, 0, 1, kStreamingInterface});
    body.insert(body.end(), {12, 0x24, 0x02, kInputTerminal, 0x01, 0x01, 0, 2, 0x03, 0x00, 0, 0});
    body.insert(body.end(), {10, 0x24, 0x06, kFeatureUnit, kInputTerminal, 1, 0x01, 0x02, 0x02, 0});
    body.insert(body.end(), {9, 0x24, 0x03, kOutputTerminal, 0x01, 0x03, 0, kFeatureUnit, 0});
    // Streaming: zero-bandwidth alternate 0, then 48 kHz 16-bit stereo PCM on
    // an adaptive isochronous endpoint with a sampling-frequency control.
    body.insert(body.end(), {9, 4, kStreamingInterface, 0, 0, 0x01, 0x02, 0x00, 0});
    body.insert(body.end(), {9, 4, kStreamingInterface, 1, 1, 0x01, 0x02, 0x00, 0});
    body.insert(body.end(), {7, 0x24, 0x01, kInputTerminal, 1, 0x01, 0x00});
    body.insert(body.end(), {11, 0x24, 0x02, 0x01, 2, 2, 16, 1, 0x80, 0xBB, 0x00});
    body.insert(body.end(), {9, 5, kStreamingEndpoint, 0x09, 192, 0, uint8_t(high ? 4 : 1), 0, 0});
    body.insert(body.end(), {7, 0x25, 0x01, 0x01, 0, 0, 0});
}

void SessionBuilder::AudioTraffic() {
    const uint8_t a = opts_.address;
    const uint16_t unit = uint16_t(kFeatureUnit << 8 | kControlInterface);
    auto unitRequest = [&](uint8_t type, uint8_t request, uint8_t control, uint8_t channel, const Bytes& data) {
        Control(a, SetupPacket(type, request, uint16_t(control << 8 | channel), unit, uint16_t(data.size())), data);
    };
    // What the host learns before it plays: the mute, each channel's volume range.
    unitRequest(kFromInterface, kGetCur, kMuteControl, 0, {0x00});
    for (uint8_t channel = 1; channel <= 2; ++channel) {
        unitRequest(kFromInterface, kGetMin, kVolumeControl, channel, Volume(-60));
        unitRequest(kFromInterface, kGetMax, kVolumeControl, channel, Volume(0));
        unitRequest(kFromInterface, kGetRes, kVolumeControl, channel, Volume(1));
        unitRequest(kFromInterface, kGetCur, kVolumeControl, channel, Volume(-20));
    }
    Control(a, SetupPacket(0x01, kSetInterface, 0, kStreamingInterface, 0), {});
    Control(a, SetupPacket(0x01, kSetInterface, 1, kStreamingInterface, 0), {});
    const Bytes rate{0x80, 0xBB, 0x00};  // 48000 Hz
    const uint16_t frequency = uint16_t(kSamplingFrequencyControl << 8);
    Control(a, SetupPacket(kToEndpoint, kSetCur, frequency, kStreamingEndpoint, 3), rate);
    Control(a, SetupPacket(kFromEndpoint, kGetCur, frequency, kStreamingEndpoint, 3), rate);
    for (uint8_t channel = 1; channel <= 2; ++channel)
        unitRequest(kToInterface, kSetCur, kVolumeControl, channel, Volume(-10));
    unitRequest(kToInterface, kSetCur, kMuteControl, 0, {0x00});

    // 1 ms of a triangle wave per frame: 48 stereo 16-bit samples.
    int phase = int(Random(256));
    uint64_t due = b_.NextSofTime();
    for (int op = 0; op < opts_.operations; ++op, due += kTicksPerMs) {
        Bytes samples;
        for (int i = 0; i < 48; ++i, phase = (phase + 8) % 512) {
            const int16_t v = int16_t(((phase < 256 ? phase : 511 - phase) - 128) * 64);
            Le16(samples, uint16_t(v));
            Le16(samples, uint16_t(v));
        }
        b_.AdvanceTo(due);
        OutPacket(kStreamingEndpoint, B::EtIso, samples, 0);
    }
    // Playback ends: muted, then the streaming interface back to zero bandwidth.
    unitRequest(kToInterface, kSetCur, kMuteControl, 0, {0x01});
    Control(a, SetupPacket(0x01, kSetInterface, 0, kStreamingInterface, 0), {});
}

}  // namespace orvane::emu
