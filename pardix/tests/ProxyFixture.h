// A CDeviceProxy talking to an emulated analyser through the real protocol.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AnalyserProtocol.h"
#include "BusTrafficBuilder.h"
#include "CDeviceProxy.h"
#include "EmulatedAnalyser.h"

namespace orvane::testing {

using Bytes = std::vector<uint8_t>;

// A private folder, removed with everything in it.
struct TempDir {
    std::filesystem::path path = [] {
        char folder[] = "/tmp/orvane-test-XXXXXX";
        return std::filesystem::path(::mkdtemp(folder));
    }();
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(static_cast<const char*>(data), std::streamsize(size));
}
inline void WriteFile(const std::string& path, const Bytes& bytes) { WriteFile(path, bytes.data(), bytes.size()); }

// Writes a capture as the files a saved project holds; the payload store keeps
// 1024 bytes beyond the captured payload, as an upload leaves it.
inline void SaveCapture(const emu::BusCapture& c, const std::string& ph, const std::string& data) {
    WriteFile(ph, c.records.data(), c.records.size() * sizeof(PacketRecord));
    Bytes payload = c.payload;
    payload.resize(payload.size() + 1024);
    WriteFile(data, payload);
}

// An analyser configuration image of version 0x01020304.
inline const Bytes kConfigurationImage = {0x04, 0x03, 0x02, 0x01, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

class ProxyFixture : public ::testing::Test {
protected:
    emu::EmulatedAnalyser emu;
    pardix::CDeviceProxy proxy{&emu};

    // Configures storage, hands the analyser `traffic` and starts a capture.
    void Capture(emu::BusCapture traffic, uint32_t packetBytes = 1u << 16, uint32_t payloadBytes = 1u << 20) {
        ASSERT_TRUE(proxy.ConfigureStorage(packetBytes, packetBytes, payloadBytes, payloadBytes, 0));
        emu.SetTraffic(std::move(traffic));
        ASSERT_TRUE(proxy.StartCapture());
    }

    // Record-window writes the proxy made: the record count of each fetch.
    std::vector<uint32_t> RecordFetches() const {
        std::vector<uint32_t> counts;
        for (auto& w : emu.RegisterWrites()) {
            if (w.address != pardix::RegRecordWindow || w.data.size() < 8) continue;
            uint32_t count;
            std::memcpy(&count, w.data.data() + 4, 4);
            counts.push_back(count);
        }
        return counts;
    }
};

// `count` records of traffic: IN transactions with 8 data bytes each three records.
inline emu::BusCapture InTraffic(size_t count, SpeedCode speed = SpeedHigh) {
    emu::BusTrafficBuilder b(speed);
    uint8_t n = 0;
    while (b.Count() + 3 <= count) b.In(3, 1, PidData0, {n, uint8_t(n + 1), 2, 3, 4, 5, 6, uint8_t(n++)});
    while (b.Count() < count) b.Handshake(PidNak);
    return b.Take();
}

}  // namespace orvane::testing
