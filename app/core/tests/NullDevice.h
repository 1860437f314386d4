// An analyser that answers every operation with failure; tests override what they need.
#pragma once

#include "IDevice.h"

namespace orvane::test {

struct NullDevice : IDevice {
    int32_t Release() override { return 1; }
    int32_t GetDeviceInfo(DeviceInfo*) override { return 0; }
    int32_t GetStatus(DeviceStatus*) override { return 0; }
    int32_t ApplySetup(const char*) override { return 0; }
    int32_t Start() override { return 0; }
    int32_t Stop() override { return 0; }
    int32_t Reserved1() override { return 0; }
    int32_t Reserved2() override { return 0; }
    IDataSource* GetDataSource() override { return nullptr; }
    int32_t Control(int32_t, int32_t*) override { return 0; }
};

}  // namespace orvane::test
