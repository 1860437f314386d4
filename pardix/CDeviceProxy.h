// The device library's data source: reads a capture's records and payload from
// the analyser (online) or from saved files (offline), and carries the register
// operations the device object drives.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AnalyserProtocol.h"
#include "CPayloadStore.h"
#include "IDataSource.h"
#include "Port.h"
#include "RecordFetch.h"

namespace orvane::pardix {

// Upload thread states.
enum UploadState : uint32_t { UploadQuit = 0, UploadIdle = 1, UploadRunning = 2, UploadStopRequested = 3 };

class CDeviceProxy : public IDataSource {
public:
    // Polls of the clear-done bit before a clear is given up.
    static constexpr int kClearPollLimit = 2000;
    static constexpr int kMaxPatternTokens = 256;
    static constexpr const char* kStoreName = "orvane.data";

    // Asked by a save that finds the upload still running; it may show the
    // progress (0-100) and returns false when the user cancels the save.
    using UploadWaiter = std::function<bool(const std::atomic<int32_t>& progress)>;

    explicit CDeviceProxy(port::PortBackend* port = nullptr);
    virtual ~CDeviceProxy();
    CDeviceProxy(const CDeviceProxy&) = delete;
    CDeviceProxy& operator=(const CDeviceProxy&) = delete;

    // ---- IDataSource ----
    uint32_t GetCount() override;
    int32_t GetRecord(uint32_t index, PacketRecord* out) override;
    int32_t GetPayload(const PacketRecord* record, uint8_t* dst, uint32_t capacity, uint16_t* crc) override;
    int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) override;
    int32_t Release() override;
    int32_t GetDeviceInfo(DeviceInfo* out) override;
    int32_t GetStatus(DeviceStatus* out) override;
    int32_t DownloadImage() override;
    int32_t Reset() override;
    int32_t ResetFilter() override;
    int32_t WriteFilterHeld() override;
    int32_t WriteFilter() override;
    int32_t SetAdvancedFilter(int32_t enable) override;
    int32_t SetFilterFlags(uint32_t flags) override;
    int32_t SetDropMode(int32_t drop) override;
    int32_t SetCondition(uint32_t address, uint32_t id, uint32_t upstream, uint32_t downstream) override;
    int32_t ConfigureStorage(uint32_t prePacketBytes, uint32_t packetBytes, uint32_t prePayloadBytes,
                             uint32_t payloadBytes, uint32_t buffer) override;
    int32_t HoldCapture() override;
    int32_t StartCapture() override;
    int32_t SetRunning(int32_t run) override;
    int32_t ResetTrigger() override;
    int32_t SetTriggerStep(uint32_t index, uint32_t address, uint32_t endpoint, uint32_t pidMask,
                           const char* data) override;
    int32_t ArmTrigger() override;
    int32_t Reserved() override { return 0; }
    IDataSource* GetDataSource() override { return this; }
    int32_t LastFileError(const char** path) override;
    int32_t MissingPayload(uint32_t* first, uint32_t* count) override;
    int32_t UnreadRecords(uint32_t* read, uint32_t* held) override;
    void SetSaveProgress(SaveProgress* progress) override;
    int32_t BeginUpload() override;
    int32_t EndUpload() override;
    int32_t ClearMemory() override;
    const PacketRecord* PeekRecords(uint32_t index, uint32_t* count) override {
        uint32_t cached = cachedCount_.load(std::memory_order_acquire);
        // Rows a pass was served without their payload go through GetRecord
        // until a pass has read them again.
        if (index < read_.staleFloor.load(std::memory_order_acquire)) cached = 0;
        *count = index < cached ? cached - index : 0;
        return *count ? records_ + index : nullptr;
    }

    // ---- command protocol; each runs under the data-source lock ----
    bool SendCommand();
    bool WriteRegisters(uint16_t argument, uint32_t address, const void* data, uint32_t bytes);
    bool ReadRegisters(uint32_t address, void* dst, uint32_t bytes);
    bool WriteMemory(uint16_t argument, uint32_t address, uint32_t dwordCount, const void* data);
    bool ReadMemory(uint16_t argument, uint32_t address, uint32_t dwordCount, void* dst);
    bool ReadStatus();
    bool ReadRecords(uint32_t byteAddress, uint32_t count, PacketRecord* dst);
    // The same within a packet ring of `packetMask`, as a capture kept across a setup has it.
    bool ReadRecords(uint32_t byteAddress, uint32_t count, PacketRecord* dst, uint32_t packetMask);
    bool ReadPayload(uint32_t byteAddress, uint32_t byteCount, uint8_t* dst);
    bool DownloadConfiguration(const std::vector<uint8_t>& image);

    // Trigger data text to (value, mask) pairs; returns the byte count, 2 per pair.
    static uint32_t ParseTriggerPattern(const std::string& text, uint8_t (&pairs)[kPatternBytes]);
    // Splits on space, ";" and ","; empty tokens are skipped; at most kMaxPatternTokens.
    static std::vector<std::string> SplitTokens(const std::string& text);

    // ---- upload ----
    void SetUploadWaiter(UploadWaiter waiter);
    // Called by an opened file's loader before each read of records from
    // `first` on, from its own threads; set before the open (tests hold the load there).
    void SetLoadReadHook(std::function<void(uint32_t first)> hook) { loadReadHook_ = std::move(hook); }
    int32_t UploadProgress() const { return progress_.load(); }
    bool IsUploading() const { return uploadState_ == UploadRunning; }
    uint32_t UploadStateNow() const { return uploadState_.load(); }
    // The private folder of the temporary payload store; empty until the first upload.
    std::string TemporaryFolder() const;
    // The pause before a failed read of records or status is tried again,
    // times the tries so far, so that a short hiccup does not use them all up.
    static constexpr std::chrono::milliseconds kRetryPause{25};
    void SetRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }
    // How that pause is waited, without the data-source lock: a sleep, unless
    // a test holds the retry there or counts the time instead. Set before use.
    void SetRetryWait(std::function<void(std::chrono::milliseconds)> wait) { retryWait_ = std::move(wait); }
    // Ends the upload thread; the source then serves only what it holds.
    void Shutdown();
    // Goes on with an upload cut short, from where the store ends, while the
    // analyser still holds the capture; 1 when it started.
    int32_t FetchRest();
    // Drops the records, the payload store and an upload under way: the source
    // holds an empty capture, offline, until the next capture starts.
    int32_t DiscardCapture();
    // Before a setup rewrites the analyser's registers: the capture on hand is
    // served from then on from the records read and the image it ended with,
    // no longer from the analyser's status, so a setup the analyser refuses
    // leaves it whole. Its payload not yet in the store is still read from
    // capture memory while a status read then still shows that capture.
    void KeepCapture();

    FilterBlock FilterImage() const;
    TriggerTable TriggerImage() const;

    // Where DownloadImage finds the hardware configuration.
    void SetConfigurationPath(const std::string& path) { configPath_ = path; }
    const std::string& ConfigurationPath() const { return configPath_; }

    std::recursive_mutex& Lock() { return lock_; }
    // The data-source lock as a reader of rows takes it: a save that lets it
    // go between its windows lets the readers already waiting in first.
    class ReaderLock {
    public:
        explicit ReaderLock(CDeviceProxy& source) : source_(source) {
            ++source_.readersWaiting_;
            source_.lock_.lock();
            --source_.readersWaiting_;
        }
        ~ReaderLock() { source_.lock_.unlock(); }
        ReaderLock(const ReaderLock&) = delete;
        ReaderLock& operator=(const ReaderLock&) = delete;

    private:
        CDeviceProxy& source_;
    };
    ControlBlock ControlImage() const;
    bool Offline() const { return offline_; }
    uint32_t CachedCount() const { return cachedCount_.load(std::memory_order_acquire); }
    uint32_t RecordCapacity() const { return capacity_; }

protected:
    // Replaces the record array; the cache starts empty.
    bool AllocateRecords(uint32_t count);
    // The image the payload is read from capture memory with: the kept
    // capture's, else the one it ended with, else (still running) the analyser's.
    // The caller holds the data-source lock.
    const ControlBlock& PayloadImage() const { return keptInAnalyser_ ? kept_ : read_.imageKnown ? read_.image : control_; }
    // Whether capture memory may be read for the capture on hand: never once
    // the analyser no longer holds it; after a failed read, only once a status
    // read (tried here once) and the records read last, read again, show it
    // holds it still. The caller holds the lock.
    bool MayReadCapture();
    // The records read last, read again from `image`'s ring: are they as they
    // were read? 1 yes (or none read yet), 0 no (another capture, or none), -1
    // they could not be read. The caller holds the lock.
    int SameRecords(const ControlBlock& image);
    // The analyser no longer holds the capture on hand. The caller holds the lock.
    void CaptureGone();
    // Reads the capture's records into the array from where the reads before
    // ended; true when the record at `index` may be served as it is there: an
    // ended capture's once all of it is read and walked. A failed read is
    // tried again before it is given up.
    bool FetchRecords(uint32_t index);
    // Record `index` of an ended capture read in part: what was read of it,
    // without payload, since which of its packets the ring wrote over shows
    // only from its newest end. The caller holds the data-source lock.
    int32_t ServeUnwalked(uint32_t index, PacketRecord* out);
    // Record `index` as read, walked; counts a pass's reading again of the rows served bare.
    int32_t ServeRead(uint32_t index, PacketRecord* out);
    // The records the ended capture on hand holds that were never read; the
    // caller holds the data-source lock.
    uint32_t RecordsUnread() const;
    // A status read tried as a record read is; the caller holds the data-source
    // lock once. False too when the capture on hand changed while a try waited.
    bool AskStatus();
    // Before try `attempt` (from 1) of a failed read, the data-source lock let
    // go; false when meanwhile the capture on hand was replaced (opened,
    // discarded, started): the read is then not tried again.
    bool PauseBeforeRetry(int attempt);
    // After each status read: the first ended image is the one this capture's
    // records and payload are judged by; a later one that is not that
    // capture's means the analyser no longer holds it. The caller holds the lock.
    void JudgeStatus();
    // Drops what the record fetch knew of the capture on hand.
    void ForgetFetch() {
        read_ = CaptureRead{};
        ++captureSerial_;
    }
    bool WriteControlImage();
    // Fills the command block afresh and sends it; inline data only for register writes.
    bool SendBlock(uint16_t opcode, uint16_t argument, uint32_t address, uint32_t length,
                   const void* inlineData = nullptr);
    // Reads a pipe-1 reply of exactly `bytes` whose first two bytes are `head`'s (any with none).
    bool ReadReply(void* dst, unsigned long bytes, const void* head, unsigned long timeoutMs = port::kTimeoutMs);
    bool WriteFilterImage();
    bool WriteTriggerImage();

    // Starts the upload thread on the store; `resume` goes on from where an
    // open store ends instead of making it afresh.
    int32_t StartUpload(bool resume);
    // How one upload request ended: the thread must quit; it ran to its end
    // (or was stopped or superseded); a read or a write failed, the store short.
    enum class UploadEnd { Quit, Ended, Failed };
    void UploadLoop();
    UploadEnd RunUpload(uint64_t generation);
    bool UploadGoesOn(uint64_t generation) const;
    void SetUploadState(uint32_t state);
    // Waits until no upload runs; ends one the analyser can no longer finish.
    void WaitForUpload();
    bool MakeTemporaryFolder();
    // The image to read this ended capture from capture memory with: the one
    // kept across a setup, or the one it ended with; null once the analyser no
    // longer holds it (reset, power-cycled, another capture). Every read of
    // capture memory asks MayReadCapture first, which checks it after a failed
    // read. The caller holds the data-source lock.
    const ControlBlock* HeldImage() const;
    // The capture's data packets whose payload the store lacks: the first
    // one's record number and how many; judged by the records themselves,
    // never by the analyser's state. The caller holds the data-source lock.
    uint32_t PacketsPastStore(uint32_t* first) const;
    // A capture held in the analyser whose store lacks part of what a whole
    // upload leaves. The caller holds the data-source lock.
    bool StoreShortOfHeld() const;
    // Removes the temporary stores of our user's processes that no longer run.
    static void RemoveDeadStores();
    int32_t Save(const std::string& packetPath, const std::string& dataPath);
    // `settled`: a save of this version wrote the files, every packet whose
    // payload the capture lacks marked, and they are as it left them.
    int32_t Open(const std::string& packetPath, const std::string& dataPath, bool settled);
    // Notes why an OpenOrSave failed; returns its result, 0.
    int32_t FileFailure(int error, const std::string& path);

    port::PortBackend* port_;
    mutable std::recursive_mutex lock_;
    std::atomic<int> readersWaiting_{0};
    CommandBlock block_{};
    uint8_t reply_[kCommandBytes] = {};
    ControlBlock control_{};
    // The image of a capture kept across a setup, and whether part of its
    // payload may still be read from capture memory; under the data-source lock.
    ControlBlock kept_{};
    bool keptInAnalyser_ = false;
    uint32_t missingFirst_ = 0, missingCount_ = 0;  // of the last save refused for its payload
    // The capture on hand as read from the analyser; made afresh for each.
    CaptureRead read_;
    std::chrono::milliseconds retryPause_{kRetryPause};
    std::function<void(std::chrono::milliseconds)> retryWait_;
    // Counts the captures the source has held; a retry that let the lock go
    // goes on only with the one it began on. Under the lock.
    uint64_t captureSerial_ = 0;
    // The records the capture on hand holds in the array. Under the lock.
    uint32_t HeldRecords() const { return std::max(read_.fetched, CachedCount()); }
    // The capture on hand was opened from files, not recorded here.
    bool openedFile_ = false;
    // Where the trigger point lies, in records from the capture's start, as
    // followed across status reads; under the data-source lock.
    void TrackTrigger();
    bool triggerTracked_ = false;
    int64_t triggerRecords_ = 0;
    uint32_t trackedStart_ = 0;

    PacketRecord* records_ = nullptr;
    uint32_t capacity_ = 0;
    std::atomic<uint32_t> cachedCount_{0};
    std::atomic<bool> offline_{false};  // read by GetCount without the lock

    // An opened ".ph" file is read on beyond its first records by a thread of
    // its own, so its parse can start at once; the cached count grows as the
    // records arrive and a reader ahead of them waits.
    // With `settled`, no walk: the records are served as they are read.
    void LoadRest(int fd, uint32_t from, uint32_t count, bool settled);
    std::function<void(uint32_t first)> loadReadHook_;
    // Marks the loaded records [from, from + n) whose payload the opened
    // capture does not hold: those the ring wrote over before it was saved,
    // and those past the end of its payload file.
    void SettleOpened(uint32_t from, uint32_t n);
    uint32_t openedLostBefore_ = 0;
    uint64_t openedDataBytes_ = 0;
    // Until the record at `index` is loaded or the load has ended.
    void WaitLoaded(uint32_t index);
    // Ends a load still running (the array is about to go) and waits for it.
    void StopLoading();
    std::thread loader_;
    std::atomic<bool> loading_{false};
    std::atomic<bool> stopLoading_{false};
    std::atomic<uint32_t> offlineCount_{0};  // records of the opened file; fewer when it could not be read whole
    std::mutex loadMutex_;
    std::condition_variable loaded_;

    FilterBlock filter_{};
    TriggerTable trigger_{};

    CPayloadStore store_;
    std::unique_ptr<uint8_t[]> deviceBuffer_;
    std::string configPath_;
    std::string tempFolder_;
    int lockFd_ = -1;  // the store folder's owner file, locked while we live

    // The upload thread's state word, guarded for waiting by stateMutex_.
    std::atomic<uint32_t> uploadState_{UploadIdle};
    std::atomic<int32_t> progress_{100};
    std::atomic<uint64_t> uploadGeneration_{0};
    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    UploadWaiter waiter_;
    SaveProgress* saveProgress_ = nullptr;  // under the data-source lock
    int uploadError_ = 0;  // why the last upload left the store short; under the data-source lock
    int fileError_ = 0;
    std::string fileErrorPath_;
    std::thread uploadThread_;
};

}  // namespace orvane::pardix
