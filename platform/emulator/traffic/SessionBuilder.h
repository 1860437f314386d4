// A realistic capture session: a device attaches, is enumerated on address 0
// and then does class traffic of its kind, with SOFs throughout. The same
// options always give the same capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "BusCapture.h"
#include "BusTrafficBuilder.h"

namespace orvane::emu {

class SessionBuilder {
public:
    using Bytes = std::vector<uint8_t>;

    enum class Kind { Mouse, Disk, Camera, Audio };

    struct Options {
        Kind kind = Kind::Mouse;
        SpeedCode speed = SpeedFull;  // the device's own speed; low only for the mouse
        uint32_t seed = 1;
        int operations = 8;         // class operations after enumeration
        double damageRate = 0.02;   // share of class transactions preceded by a damaged attempt
        bool behindHub = false;     // full/low-speed device below a high-speed hub
        uint8_t address = 5;
        uint32_t largeReadBytes = 0;  // disk: one READ(10) of this many bytes after READ CAPACITY
    };

    static constexpr uint8_t kHubAddress = 1;
    static constexpr uint8_t kHubPort = 1;
    static constexpr uint16_t kLangId = 0x0409;

    explicit SessionBuilder(const Options& options);

    BusCapture Build();

    const Options& GetOptions() const { return opts_; }
    SpeedCode BusSpeed() const { return opts_.behindHub ? SpeedHigh : opts_.speed; }
    const Bytes& DeviceDescriptor() const { return device_; }
    const Bytes& ConfigDescriptor() const { return config_; }
    // The HID report descriptor of the mouse; empty for the other kinds.
    const Bytes& ReportDescriptor() const { return report_; }
    // String descriptors 0 (languages), manufacturer, product, serial number.
    const std::vector<Bytes>& StringDescriptors() const { return strings_; }
    // Records the last Build damaged on purpose.
    const std::vector<size_t>& DamagedRecords() const { return damaged_; }

    static Bytes SetupPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint16_t length);

private:
    void MakeDescriptors();
    void Attach();
    void ResetThroughHub();
    void Enumerate();
    void Control(uint8_t address, const Bytes& setup, const Bytes& data, bool stall = false);
    void HubControl(const Bytes& setup, const Bytes& data);

    void MouseTraffic();
    void DiskTraffic();
    void CameraTraffic();
    // The audio function's interfaces, appended to the configuration.
    void AudioInterfaces(Bytes& body) const;
    void AudioTraffic();

    void InPacket(uint8_t endpoint, uint8_t et, const Bytes& bytes, int naks);
    void OutPacket(uint8_t endpoint, uint8_t et, const Bytes& bytes, int naks);
    void BulkIn(const Bytes& bytes, bool zeroLengthEnd);
    void BulkOut(const Bytes& bytes, bool zeroLengthEnd);
    void Glitch(bool in, uint8_t endpoint, uint8_t et, Pid pid, const Bytes& bytes);
    Pid NextToggle(uint8_t address, uint8_t endpointAddress);
    void WaitMs(uint32_t ms);
    Bytes RandomBytes(size_t n);
    uint32_t Random(uint32_t n) { return n ? uint32_t(rng_() % n) : 0; }
    bool Chance(double p) { return p > 0 && double(rng_()) / 4294967296.0 < p; }

    Options opts_;
    Bytes device_, config_, report_;
    std::vector<Bytes> strings_;
    uint8_t maxPacket0_ = 64;
    uint16_t bulkMaxPacket_ = 64;

    BusTrafficBuilder b_;
    std::mt19937 rng_;
    std::optional<BusTrafficBuilder::HubPort> hub_;
    std::map<uint16_t, Pid> toggles_;  // by address << 8 | endpoint address
    std::vector<size_t> damaged_;
};

}  // namespace orvane::emu
