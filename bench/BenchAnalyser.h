// What the benchmarks of the capture worker share without Qt: the wall
// clock, and a device whose analyser always reports one status.
#pragma once

#include <chrono>

#include "IDevice.h"

namespace orvane::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// An analyser that only ever reports `flags`: finished and uploaded makes
// the worker parse at once, online alone leaves it to open projects.
struct StaticAnalyser : IDevice {
    StaticAnalyser(IDataSource* s, uint32_t f) : source(s), flags(f) {}
    int32_t Release() override { return 0; }
    int32_t GetDeviceInfo(DeviceInfo*) override { return 0; }
    int32_t GetStatus(DeviceStatus* out) override {
        out->flags = flags;
        out->trigger = -1;
        return 1;
    }
    int32_t ApplySetup(const char*) override { return 1; }
    int32_t Start() override { return 1; }
    int32_t Stop() override { return 1; }
    int32_t Reserved1() override { return 0; }
    int32_t Reserved2() override { return 0; }
    IDataSource* GetDataSource() override { return source; }
    int32_t Control(int32_t, int32_t*) override { return 1; }
    IDataSource* source;
    uint32_t flags;
};

}  // namespace orvane::bench
