// An IDataSource over a BusCapture in memory, for the engine's tests and
// benchmarks: a loaded capture, or a live one whose records arrive later.
#pragma once

#include <atomic>
#include <cstring>
#include <limits>

#include "BusCapture.h"
#include "IDataSource.h"

namespace orvane::emu {

class CaptureSource : public IDataSource {
public:
    explicit CaptureSource(BusCapture capture) : capture_(std::move(capture)) {}

    // Records from `available` on answer "not yet" until more become available,
    // or "end" once the capture is ended.
    void SetAvailable(size_t available) { available_ = available; }
    void SetEnded(bool ended) { ended_ = ended; }
    // Off: every record goes through GetRecord, as from a live analyser.
    void SetPeekable(bool peekable) { peekable_ = peekable; }
    // Called on every "not yet" answer, so a test can let records arrive.
    void SetOnNotYet(void (*hook)(CaptureSource&, void*), void* context) {
        hook_ = hook;
        context_ = context;
    }
    const BusCapture& Capture() const { return capture_; }
    uint32_t GetRecordCalls() const { return calls_; }

    uint32_t GetCount() override { return uint32_t(std::min(available_.load(), capture_.records.size())); }
    int32_t GetRecord(uint32_t index, PacketRecord* out) override {
        ++calls_;
        if (index < Held()) {
            *out = capture_.records[index];
            return RecordOk;
        }
        if (index < capture_.records.size() && !ended_) {
            if (hook_) hook_(*this, context_);
            return RecordNotYet;
        }
        return RecordEnd;
    }
    int32_t GetPayload(const PacketRecord* record, uint8_t* dst, uint32_t capacity, uint16_t* crc) override {
        uint32_t length = record->Length();
        uint64_t offset = record->PayloadOffset();
        if (length < 2 || offset + length > capture_.payload.size()) return 0;
        const uint8_t* bytes = capture_.payload.data() + offset;
        if (dst) std::memcpy(dst, bytes, std::min(length - 2, capacity));
        if (crc) *crc = uint16_t(bytes[length - 2] | bytes[length - 1] << 8);
        return int32_t(length - 2);
    }
    const PacketRecord* PeekRecords(uint32_t index, uint32_t* count) override {
        size_t held = Held();
        *count = peekable_ && index < held ? uint32_t(held - index) : 0;
        return *count ? capture_.records.data() + index : nullptr;
    }
    IDataSource* GetDataSource() override { return this; }
    int32_t Release() override { return 0; }
    // The analyser side is not there.
    int32_t OpenOrSave(const char*, const char*, int32_t) override { return 0; }
    int32_t LastFileError(const char** path) override {
        if (path) *path = "";
        return 0;
    }
    int32_t MissingPayload(uint32_t*, uint32_t*) override { return 0; }
    int32_t GetDeviceInfo(DeviceInfo*) override { return 0; }
    int32_t GetStatus(DeviceStatus*) override { return 0; }
    int32_t DownloadImage() override { return 0; }
    int32_t Reset() override { return 0; }
    int32_t ResetFilter() override { return 0; }
    int32_t WriteFilterHeld() override { return 0; }
    int32_t WriteFilter() override { return 0; }
    int32_t SetAdvancedFilter(int32_t) override { return 0; }
    int32_t SetFilterFlags(uint32_t) override { return 0; }
    int32_t SetDropMode(int32_t) override { return 0; }
    int32_t SetCondition(uint32_t, uint32_t, uint32_t, uint32_t) override { return 0; }
    int32_t ConfigureStorage(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override { return 0; }
    int32_t HoldCapture() override { return 0; }
    int32_t StartCapture() override { return 0; }
    int32_t SetRunning(int32_t) override { return 0; }
    int32_t ResetTrigger() override { return 0; }
    int32_t SetTriggerStep(uint32_t, uint32_t, uint32_t, uint32_t, const char*) override { return 0; }
    int32_t ArmTrigger() override { return 0; }
    int32_t Reserved() override { return 0; }
    int32_t BeginUpload() override { return 0; }
    int32_t EndUpload() override { return 0; }
    int32_t ClearMemory() override { return 0; }

private:
    size_t Held() const { return std::min(available_.load(), capture_.records.size()); }

    BusCapture capture_;
    std::atomic<size_t> available_{std::numeric_limits<size_t>::max()};
    std::atomic<bool> ended_{true};
    bool peekable_ = true;
    void (*hook_)(CaptureSource&, void*) = nullptr;
    void* context_ = nullptr;
    std::atomic<uint32_t> calls_{0};
};

}  // namespace orvane::emu
