// The device library's one object, made by its export "CreateDevice".
#pragma once

#include <cstddef>
#include <cstdint>

#include "DeviceStatus.h"
#include "IDataSource.h"

namespace orvane {

class IDevice {
public:
    virtual int32_t Release() = 0;
    virtual int32_t GetDeviceInfo(DeviceInfo* out) = 0;
    virtual int32_t GetStatus(DeviceStatus* out) = 0;
    // Takes the setup XML text by value; keeps nothing of it.
    virtual int32_t ApplySetup(const char* setupXml) = 0;
    virtual int32_t Start() = 0;
    virtual int32_t Stop() = 0;
    virtual int32_t Reserved1() = 0;
    virtual int32_t Reserved2() = 0;
    virtual IDataSource* GetDataSource() = 0;
    virtual int32_t Control(int32_t op, int32_t* out) = 0;

protected:
    virtual ~IDevice() = default;  // the deleting destructor; callers use Release
};

// IDevice::Control operations the program uses by number.
constexpr int32_t kControlBeginUpload = 1;
constexpr int32_t kControlEndUpload = 2;
// Writes the running payload upload's progress (0-100) to `out`, 100 when no upload runs.
constexpr int32_t kControlUploadProgress = 4;
// Drops the capture held (records, payload, an upload under way): a new project holds none.
constexpr int32_t kControlDiscardCapture = 5;
// Goes on fetching the payload that the capture's store lacks (an upload cut
// short) while the analyser still holds it; *out 1 when a fetch started, its
// progress then read as an upload's.
constexpr int32_t kControlFetchPayload = 6;

// The trigger steps the analyser holds: a setup with more is refused.
constexpr size_t kMaxTriggerSteps = 16;

// Export of the device library.
using CreateDeviceFn = IDevice* (*)();
constexpr const char* kCreateDeviceExport = "CreateDevice";

}  // namespace orvane
