// The analyser view's core: holds the device for the run, carries the capture
// and level commands, and runs the one worker thread that waits for a capture
// to end, parses it into the transaction level, decodes the transfer level on
// demand and publishes the results. The GUI view wraps it: it calls the
// commands from its UI thread, the status text from its 200 ms timer, and
// forwards progress to its progress bar.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "COrvaneDoc.h"
#include "IDecode.h"
#include "IDevice.h"
#include "IEventBus.h"
#include "IPacketListSink.h"

namespace orvane::app {

class CCaptureWorker : private IProgress {
public:
    // How long Stop waits, by default, before it says what holds the worker.
    static constexpr std::chrono::milliseconds kShutdownWait{1000};

    enum class CaptureState : uint32_t { Quit = 0, Idle = 1, Capturing = 2, Parse = 3, ClassDecode = 4 };
    enum HideFilter : uint32_t { HideSof = 1, HideNak = 2, HideBusState = 4 };
    enum class StartResult {
        Started,
        Busy,           // the worker is not idle: nothing done
        NoDevice,       // the document was marked modified, nothing more
        SetupRejected,  // open the record settings, store them, start again
        // The analyser did not start: the window and the device library hold an
        // empty capture, the document a new project with these settings, modified.
        StartFailed,
    };

    struct Options {
        std::chrono::milliseconds pollInterval{50};   // status polls while capturing
        std::chrono::milliseconds idleInterval{100};
        // Progress of a parse or decoding, 0-100, and -1 when it ends; worker thread.
        std::function<void(int32_t)> progress;
        // After every change of the capture state; any thread.
        std::function<void()> stateChanged;
        // A warning for the user after a parse (the opened capture file could
        // not be read whole; worker thread) or a start the analyser did not
        // take (UI thread).
        std::function<void(const std::string&)> warning;
        // How long Stop waits before it says what holds the worker.
        std::chrono::milliseconds shutdownWait{kShutdownWait};
    };

    // Takes `device` (may be null: every device command does nothing) and
    // releases it at shut-down. `list` may be null; then items go straight into
    // the document's trees. The worker thread starts at once.
    CCaptureWorker(COrvaneDoc& doc, IDevice* device, IPacketListSink* list, Options options);
    CCaptureWorker(COrvaneDoc& doc, IDevice* device, IPacketListSink* list)
        : CCaptureWorker(doc, device, list, Options{}) {}
    ~CCaptureWorker();
    CCaptureWorker(const CCaptureWorker&) = delete;
    CCaptureWorker& operator=(const CCaptureWorker&) = delete;

    // The bus of the main window; null (the default) publishes nothing.
    void SetPublisher(IEventPublisher* publisher) { publisher_ = publisher; }

    // ---- commands, UI thread ----
    StartResult StartRecord();
    // False unless a capture was running; the worker then parses what it holds.
    bool StopRecord();
    bool OnTransactionLevel();
    // Decodes the transfer level on the worker when it is not decoded yet.
    bool OnTransferLevel();
    // Toggles one HideFilter flag and refreshes the shown level.
    bool ToggleHideFilter(uint32_t flag);
    bool SetHideFilter(uint32_t flags);
    // Stores the edited device tree. At the transfer level it is decoded again
    // with it at once, a decoding under way cut short first; at the transaction
    // level the transfer level is decoded with it when next shown.
    void OnDeviceTreeEdited(const std::string& deviceTreeXml);

    // Opens a project and parses its capture; refused (false, empty error) while
    // capturing or parsing, and a class decoding is cancelled for it (decoded
    // again when the open is refused). The capture shown before is cleared
    // (CaptureCleared) at once. Capture files that do not match the project
    // refuse the open and are put in `check` (see COrvaneDoc::OnOpenDocument).
    bool OpenProject(const std::string& path, std::string* error, CaptureCheck* check = nullptr);
    // May run on a thread of its own while the worker is idle (see COrvaneDoc::OnSaveDocument).
    bool SaveProject(const std::string& path, std::string* error, SaveProgress* progress = nullptr);
    // After a save of the capture shown, at `path`: when that save read the
    // rest of a capture the list shows short (records not read, or rows listed
    // before a replug without their data), opens the project again so every
    // row shows, the list keeping its level, filter and selected record. False with
    // `error` when that open failed; true otherwise. UI thread.
    bool ShowSavedCapture(const std::string& path, std::string* error);
    // After the capture files were opened elsewhere: resets and parses them.
    bool ResetForOpenedProject();
    // A new project: drops the device library's capture, resets, renews the
    // document and publishes CaptureCleared, then MarksChanged with its (no) marks.
    bool NewProject();

    // Holds a class decoding off while the user decides whether to replace
    // the capture (a save, a file dialog): the decoding is cancelled at once
    // and, unless the capture was replaced meanwhile, starts again when the
    // pause goes. UI thread.
    class DecodingPause {
    public:
        explicit DecodingPause(CCaptureWorker& worker) : worker_(&worker), paused_(worker.CancelDecoding()) {}
        ~DecodingPause() {
            if (paused_) worker_->RedoDecoding();
        }
        DecodingPause(const DecodingPause&) = delete;
        DecodingPause& operator=(const DecodingPause&) = delete;

    private:
        CCaptureWorker* worker_;
        bool paused_;
    };
    // Cancels a class decoding, running or about to start, and waits for the
    // worker to leave it; true when there was one. The transfer level then
    // holds what was decoded so far and counts as not decoded.
    bool CancelDecoding();
    // Decodes the shown transfer level again when it is not decoded and the
    // worker is idle.
    void RedoDecoding();

    // The status bar text of the 200 ms timer; empty without a device.
    std::string StatusText();
    static std::string FormatStatus(const DeviceStatus& status);
    // What the user is told when an opened capture file gave `read` of its `expected` records.
    static std::string ShortReadWarning(uint32_t read, uint32_t expected);
    // What the user is told when `read` of the `held` records of an ended
    // capture could be read from the analyser.
    static std::string UnreadRecordsWarning(uint32_t read, uint32_t held);
    // The same once the analyser no longer holds the capture: no replug can help.
    static std::string RecordsGoneWarning(uint32_t read, uint32_t held);
    // A parse again after a replug that still got rows without their payload.
    static constexpr const char* kRowsShownBareWarning = "部分包在分析仪恢复连接前列出，未显示数据；保存项目后再打开即可完整显示。";
    static constexpr const char* kStartFailedWarning = "分析仪未能开始捕获，之前的捕获数据已清除。";
    // A parse or decoding that ran out of memory shows what it had built.
    static constexpr const char* kParseOutOfMemoryWarning = "内存不足：捕获只解析了一部分，其后的包没有列出。";
    static constexpr const char* kDecodeOutOfMemoryWarning = "内存不足：传输层未能解码完，只列出已解码的部分。";
    // The item's HideFilter class, 0 for none.
    static uint32_t HideClass(const UsbItem& item);
    // Sets or clears every descendant's filter bit for `flags`.
    static void ApplyHideFilter(UsbItem* root, uint32_t flags);

    // Ends the worker thread, cancelling a parse or a class decoding; the
    // device stays. Idempotent.
    void Stop();
    // Stops, then releases the device. Call it before the list goes: the
    // worker feeds the list until it ends. Idempotent.
    void Shutdown();

    // ---- command enabling and state ----
    CaptureState State() const { return CaptureState(state_.load()); }
    bool IsIdle() const { return State() == CaptureState::Idle; }
    bool CanStart() const { return IsIdle() && (lastFlags_.load() & StatusOnline); }
    bool CanStop() const { return State() == CaptureState::Capturing; }
    // New and open: when idle, and during a class decoding, which they cancel.
    bool CanReplaceCapture() const { return IsIdle() || State() == CaptureState::ClassDecode; }
    bool DataAvailable() const { return dataAvailable_; }
    bool ClassDecoded() const { return classDecoded_; }
    bool TransferLevelShown() const { return transferShown_; }
    uint32_t HideFilterFlags() const { return hideFilter_; }
    // Held by the worker while it writes the document; hold it to read or save
    // the project from another thread.
    std::mutex& DocumentMutex() { return docMutex_; }

private:
    // ---- IProgress, worker thread ----
    int32_t OnItem(UsbItem* item) override;
    int32_t OnProgress(float fraction) override;
    int32_t OnFinish() override;
    int32_t Reserved() override { return 0; }
    // Hands the items batched for the list over.
    void FlushBatch();
    static uint64_t TickMs();

    void Run();
    void Wait(std::chrono::milliseconds interval);
    void PollCapture();
    void RunParse();
    void RunDecode();
    void Publish(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2);
    // CaptureCleared from the list, before the capture goes: everything that
    // reads it lets go first.
    void PublishCleared();
    // MarksChanged with the document's marks, after they were renewed or opened.
    void PublishMarks();
    // Runs `call` on the UI thread through the list and waits for it, so what
    // the UI thread reads goes there; at once without a list. One that a quit
    // comes before never runs.
    void HandToUiThread(std::function<void()> call);
    // What the worker is in, for Stop's message; the caller holds stateMutex_.
    const char* WaitingFor() const;
    // Moves `from` to `to` only when the state is still `from`, so a quit is never overwritten.
    bool Transition(CaptureState from, CaptureState to);
    void NotifyState();

    // The resetting of an opened or new project; the caller holds commandMutex_,
    // or is the UI thread while the worker waits for it in a parse.
    // `keepPlace`: the same capture is parsed again, and the list takes up its
    // place (filter and selected record) once that parse is done.
    void ResetTrees(bool keepPlace = false);
    // Resets and parses the capture files just opened, which were saved with
    // `savedRecords` records when more than they hold; the caller holds commandMutex_.
    bool ParseOpenedFiles(uint32_t savedRecords = 0, bool keepPlace = false);
    // CancelDecoding for a caller that holds commandMutex_; `cancelled` tells
    // whether there was one. True when the worker is idle afterwards.
    bool StopDecoding(bool* cancelled = nullptr);
    // Frees the shown transfer level and decodes it with `deviceTreeXml`; the
    // caller holds commandMutex_ and the worker is idle.
    void RedecodeTransferLevel(const std::string& deviceTreeXml);
    // Shows the transfer level, the filter bar cleared unless `keepFilter`;
    // true when it is to be decoded. UI thread, the worker idle or waiting for it.
    bool ShowTransferLevel(bool keepFilter);
    // RedoDecoding for a caller that holds commandMutex_.
    void ResumeDecoding();
    std::string Configuration();
    void RefreshList(UsbItem* root);
    void ResetListRows();
    UsbItem* ShownRoot();
    // Frees the transfer level and aims the decoder manager at the parsed tree.
    void PrepareDecoding(const std::string& deviceTreeXml);
    // Sets or clears the filter bit of `top` and of everything below it.
    static void FilterSubtree(UsbItem* top, uint32_t flags);

    COrvaneDoc& doc_;
    IDevice* device_;
    IPacketListSink* list_;
    Options options_;
    std::atomic<IEventPublisher*> publisher_{nullptr};

    // Serialises the commands; the worker never takes it.
    std::mutex commandMutex_;
    std::mutex docMutex_;
    // Guards state changes that must not interleave: a stop or quit against the
    // worker leaving the capture, a quit against the start of a parse.
    std::mutex stateMutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    // Told when a decoding or the worker thread ends.
    std::condition_variable settled_;
    bool ended_ = false;  // under stateMutex_

    std::atomic<uint32_t> state_{uint32_t(CaptureState::Idle)};
    bool parsing_ = false;   // under stateMutex_
    bool decoding_ = false;  // under stateMutex_
    bool publishing_ = false;  // a parse's publications; under stateMutex_
    std::atomic<bool> dataAvailable_{false};
    std::atomic<bool> classDecoded_{false};
    std::atomic<bool> transferShown_{false};
    std::atomic<uint32_t> hideFilter_{0};
    std::atomic<uint32_t> lastFlags_{0};
    // Where items go when there is no list: the root of the level being built.
    UsbItem* appendRoot_ = nullptr;
    // Items for the list not handed over yet, worker thread only. The first
    // kSingleItems of a parse or decoding go one by one, so rows show at once.
    static constexpr size_t kSingleItems = 1024;
    static constexpr size_t kBatchItems = 256;
    static constexpr uint64_t kBatchWaitMs = 20;
    std::vector<UsbItem*> batch_;
    size_t handedToList_ = 0;
    uint64_t batchTick_ = 0;
    // Records the opened capture file held when it opened; 0 after a capture.
    uint32_t openedRecords_ = 0;
    // The parse to come shows the capture shown again: the list's place is restored after it,
    // or after the transfer level's decoding when that was the level shown.
    bool keepPlace_ = false;
    bool keepTransferLevel_ = false;
    // The last save read the rest of a capture the list shows short.
    std::atomic<bool> savedShort_{false};

    std::thread thread_;
};

}  // namespace orvane::app
