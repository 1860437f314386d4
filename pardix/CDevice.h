// The device object: the one owner of the analyser for the run of the program.
// A per-user system lock keeps a second process off the analyser; it is taken
// at the first call that needs the analyser and held until the device dies.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "CDeviceProxy.h"
#include "IDevice.h"
#include "Port.h"

namespace orvane::pardix {

class CDevice : public IDevice {
public:
    // Control operations.
    enum ControlOp : int32_t {
        OpBeginUpload = 1,
        OpEndUpload = 2,
        OpClearMemory = 3,
        OpUploadProgress = kControlUploadProgress,
        OpDiscardCapture = kControlDiscardCapture,
        OpFetchPayload = kControlFetchPayload,
    };

    explicit CDevice(port::PortBackend* port = nullptr, std::string lockName = kLockName);
    ~CDevice() override;
    CDevice(const CDevice&) = delete;
    CDevice& operator=(const CDevice&) = delete;

    static constexpr const char* kLockName = "ORVANE_DEVICE";

    // ---- IDevice ----
    int32_t Release() override;
    int32_t GetDeviceInfo(DeviceInfo* out) override;
    int32_t GetStatus(DeviceStatus* out) override;
    int32_t ApplySetup(const char* setupXml) override;
    int32_t Start() override;
    int32_t Stop() override;
    int32_t Reserved1() override { return 0; }
    int32_t Reserved2() override { return source_.Reserved(); }
    IDataSource* GetDataSource() override { return &source_; }
    int32_t Control(int32_t op, int32_t* out) override;

    CDeviceProxy& Source() { return source_; }
    bool IsOpen() const { return open_; }

private:
    // Takes the analyser lock on first use and brings the analyser up.
    bool OpenAnalyser();

    std::recursive_mutex lock_;  // taken before the data-source lock where both are held
    std::mutex openMutex_;
    std::atomic<bool> open_{false};
    std::string lockName_;
    CDeviceProxy source_;
};

}  // namespace orvane::pardix
