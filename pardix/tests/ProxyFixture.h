// A CDeviceProxy talking to an emulated analyser through the real protocol.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AnalyserProtocol.h"
#include "BusTrafficBuilder.h"
#include "CDeviceProxy.h"
#include "EmulatedAnalyser.h"

namespace orvane::testing {

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
