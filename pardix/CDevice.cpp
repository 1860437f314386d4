#include "CDevice.h"

#include "AnalyserLock.h"
#include "CSetupLoader.h"

namespace orvane::pardix {

CDevice::CDevice(port::PortBackend* port, std::string lockName) : lockName_(std::move(lockName)), source_(port) {}

CDevice::~CDevice() {
    // Nothing may touch the analyser once another process can take it.
    source_.Shutdown();
    if (open_) port::AnalyserLock::Release(lockName_);
}

bool CDevice::OpenAnalyser() {
    if (open_) return true;
    std::lock_guard guard(openMutex_);
    if (open_) return true;
    // Held elsewhere or not makeable alike: without the lock we must not drive
    // the analyser. The next call tries again.
    if (port::AnalyserLock::TryAcquire(lockName_) != port::AnalyserLock::Result::Acquired) return false;
    source_.DownloadImage();
    source_.Reset();
    open_ = true;
    return true;
}

int32_t CDevice::Release() {
    source_.EndUpload();
    delete this;
    return 0;
}

int32_t CDevice::GetDeviceInfo(DeviceInfo* out) { return source_.GetDeviceInfo(out); }

int32_t CDevice::GetStatus(DeviceStatus* out) {
    if (!out) return 0;
    std::lock_guard guard(lock_);
    if (!OpenAnalyser()) return 0;
    return source_.GetStatus(out);
}

int32_t CDevice::ApplySetup(const char* setupXml) {
    std::lock_guard guard(lock_);
    if (!OpenAnalyser() || !setupXml) return 0;
    source_.KeepCapture();
    return CSetupLoader::Apply(source_, setupXml);
}

int32_t CDevice::Start() {
    std::lock_guard guard(lock_);
    if (!OpenAnalyser()) return 0;
    return source_.StartCapture() && source_.ArmTrigger() && source_.WriteFilter() ? 1 : 0;
}

int32_t CDevice::Stop() {
    if (!OpenAnalyser()) return 0;
    return source_.SetRunning(0);
}

int32_t CDevice::Control(int32_t op, int32_t* out) {
    // Asked while saving: never waits for the analyser.
    if (op == OpUploadProgress) {
        if (out) *out = source_.IsUploading() ? source_.UploadProgress() : 100;
        return 1;
    }
    // A new project's: the capture goes whether or not this process owns the analyser.
    if (op == OpDiscardCapture) return source_.DiscardCapture();
    if (!OpenAnalyser()) return 0;
    switch (op) {
    case OpBeginUpload:
        return source_.BeginUpload();
    case OpEndUpload:
        source_.EndUpload();
        return 1;
    case OpFetchPayload: {
        const int32_t started = source_.FetchRest();
        if (out) *out = started;
        return 1;
    }
    case OpClearMemory: {
        int32_t cleared = source_.ClearMemory();
        if (out) *out = cleared;
        return 1;
    }
    default:
        return 0;
    }
}

}  // namespace orvane::pardix
