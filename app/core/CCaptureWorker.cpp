#include "CCaptureWorker.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "Grouped.h"

namespace orvane::app {

namespace {

std::string PayloadSize(uint32_t bytes) {
    char text[48];
    if (bytes < 1024) std::snprintf(text, sizeof text, "%u bytes", bytes);
    else if (bytes < 1048576) std::snprintf(text, sizeof text, "%.3f KB", double(bytes) / 1024.0);
    else std::snprintf(text, sizeof text, "%.3f MB", double(bytes) / 1048576.0);
    return text;
}

}  // namespace

CCaptureWorker::CCaptureWorker(COrvaneDoc& doc, IDevice* device, IPacketListSink* list, Options options)
    : doc_(doc), device_(device), list_(list), options_(std::move(options)) {
    thread_ = std::thread([this] { Run(); });
}

CCaptureWorker::~CCaptureWorker() { Shutdown(); }

// ---------------------------------------------------------------- worker thread

void CCaptureWorker::Run() {
    for (;;) {
        switch (State()) {
        case CaptureState::Quit: {
            std::lock_guard lock(stateMutex_);
            ended_ = true;
            settled_.notify_all();
            return;
        }
        case CaptureState::Capturing:
            PollCapture();
            break;
        case CaptureState::Parse:
            RunParse();
            break;
        case CaptureState::ClassDecode:
            RunDecode();
            break;
        default:
            Wait(options_.idleInterval);
            break;
        }
    }
}

void CCaptureWorker::Wait(std::chrono::milliseconds interval) {
    // Woken early by every state change, so a quit or a command never waits a poll out.
    std::unique_lock lock(stateMutex_);
    wake_.wait_for(lock, interval, [&] { return woken_; });
    woken_ = false;
}

bool CCaptureWorker::Transition(CaptureState from, CaptureState to) {
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != uint32_t(from)) return false;
        state_ = uint32_t(to);
        woken_ = true;
    }
    wake_.notify_all();
    NotifyState();
    return true;
}

void CCaptureWorker::NotifyState() {
    if (options_.stateChanged) options_.stateChanged();
}

void CCaptureWorker::PollCapture() {
    DeviceStatus status{};
    if (!device_ || !device_->GetStatus(&status)) {
        // The analyser stopped answering: what was captured is all there is.
        {
            std::lock_guard lock(stateMutex_);
            if (state_ != uint32_t(CaptureState::Capturing)) return;
            dataAvailable_ = true;
            state_ = uint32_t(CaptureState::Idle);
        }
        NotifyState();
        return;
    }
    if (!(status.flags & StatusComplete)) {
        Wait(options_.pollInterval);
        return;
    }
    // Leaving the capture under the lock keeps a stop from reaching the
    // analyser once the upload has begun.
    if (!Transition(CaptureState::Capturing, CaptureState::Parse)) return;
    {
        std::lock_guard lock(docMutex_);
        doc_.SetTriggerRecord(status.trigger);
    }
    // A store that cannot be made now leaves the payload in capture memory;
    // the save fetches it then, or fails and says why.
    device_->Control(kControlBeginUpload, nullptr);
    RunParse();
}

void CCaptureWorker::RunParse() {
    CUsbParser& parser = doc_.Parser();
    IDataSource* source = device_ ? device_->GetDataSource() : nullptr;
    if (list_) {
        list_->SetRowDecoder(&parser);
        list_->SetDataSource(source);
    }
    appendRoot_ = &doc_.TransactionRoot();
    {
        std::lock_guard lock(stateMutex_);
        if (state_ == uint32_t(CaptureState::Quit)) return;
        parsing_ = true;
    }
    // Even without a source: the parse then forgets the last capture's devices,
    // so an empty tree is stored rather than a stale one.
    parser.SetDataSource(source);
    bool whole = parser.Parse(this) != 0;
    {
        std::lock_guard lock(stateMutex_);
        parsing_ = false;
        if (state_ == uint32_t(CaptureState::Quit)) return;
    }
    uint32_t read = 0, held = 0;
    int32_t unread = source && !parser.Cancelled() ? source->UnreadRecords(&read, &held) : 0;
    if (unread == kRecordsReadSincePass) {
        // A replug let the rest be read during the pass, after rows it was
        // served without the payload the analyser holds: parsed again, whole,
        // where the user was. The list and the panes let go of the rows on
        // the UI thread, which reads them, before they are freed.
        HandToUiThread([this, &parser, source] {
            ResetTrees(true);
            if (list_) {
                list_->SetRowDecoder(&parser);
                list_->SetDataSource(source);
            }
        });
        {
            std::lock_guard lock(stateMutex_);
            if (state_ == uint32_t(CaptureState::Quit)) return;
            parsing_ = true;
        }
        whole = parser.Parse(this) != 0;
        {
            std::lock_guard lock(stateMutex_);
            parsing_ = false;
            if (state_ == uint32_t(CaptureState::Quit)) return;
        }
        unread = !parser.Cancelled() ? source->UnreadRecords(&read, &held) : 0;
    }
    // A file read on after the open that shrank or failed ends the capture
    // where it could be read: the user is told, never shown less in silence.
    const uint32_t opened = std::exchange(openedRecords_, 0);
    if (opened && source && !parser.Cancelled() && source->GetCount() < opened && options_.warning)
        options_.warning(ShortReadWarning(source->GetCount(), opened));
    // Nor a capture whose record read from the analyser failed part way: the
    // list holds the rows read, and a save after a replug reads the rest.
    if (unread && options_.warning)
        options_.warning(unread == kRecordsNoLongerHeld ? RecordsGoneWarning(read, held)
                         : unread == kRecordsReadSincePass ? kRowsShownBareWarning
                                                           : UnreadRecordsWarning(read, held));
    if (!whole && options_.warning) options_.warning(kParseOutOfMemoryWarning);

    std::string tree;
    parser.GetDeviceTree(tree);
    {
        std::lock_guard lock(docMutex_);
        doc_.SetConfiguration(tree);
    }
    IEventHandler* sender = list_ ? list_->EventHandler() : nullptr;
    // The views walk every record in these (the charts' arrays, the summary's
    // counts): a close that lands now is not kept waiting for the rest.
    const std::pair<int32_t, std::pair<intptr_t, intptr_t>> parsed[] = {
        {EventDeviceTreeChanged, {reinterpret_cast<intptr_t>(&tree), 0}},
        {EventDataReady, {reinterpret_cast<intptr_t>(source), 0}},
        {EventParseFinished,
         {reinterpret_cast<intptr_t>(&doc_.TransactionRoot()), reinterpret_cast<intptr_t>(static_cast<IUsbDecoder*>(&parser))}},
        {EventMarksChanged, {reinterpret_cast<intptr_t>(static_cast<IBookmark*>(&doc_.Bookmarks())), 0}},
    };
    for (const auto& [type, params] : parsed) {
        {
            std::lock_guard lock(stateMutex_);
            publishing_ = false;
            if (state_ == uint32_t(CaptureState::Quit)) return;
            publishing_ = true;
        }
        Publish(sender, type, params.first, params.second);
    }
    {
        std::lock_guard lock(stateMutex_);
        publishing_ = false;
    }
    dataAvailable_ = true;
    if (keepPlace_ && keepTransferLevel_) {
        // Back at the transfer level the user was at: its decoding takes up the place.
        HandToUiThread([this] { ShowTransferLevel(true); });
        Transition(CaptureState::Parse, CaptureState::ClassDecode);
        return;
    }
    if (std::exchange(keepPlace_, false) && list_) list_->RestorePlace();
    Transition(CaptureState::Parse, CaptureState::Idle);
}

void CCaptureWorker::HandToUiThread(std::function<void()> call) {
    if (!list_) {
        call();
        return;
    }
    struct HandOff {
        std::mutex mutex;        // held while the call runs
        bool abandoned = false;  // under `mutex`
        bool done = false;       // under stateMutex_
    };
    auto handOff = std::make_shared<HandOff>();
    list_->RunOnUiThread([this, handOff, call = std::move(call)] {
        std::lock_guard running(handOff->mutex);
        // Given up at a quit: the worker may be gone.
        if (handOff->abandoned) return;
        call();
        std::lock_guard lock(stateMutex_);
        handOff->done = true;
        wake_.notify_all();
    });
    // A close waits for the worker without serving the call: a quit ends the wait.
    std::unique_lock lock(stateMutex_);
    wake_.wait(lock, [&] { return handOff->done || state_ == uint32_t(CaptureState::Quit); });
    // Let go first: a call under way takes it as it ends, and is waited for.
    lock.unlock();
    std::lock_guard ended(handOff->mutex);
    handOff->abandoned = true;
}

void CCaptureWorker::RunDecode() {
    CDecoderManager& manager = doc_.Manager();
    {
        std::lock_guard lock(stateMutex_);
        // Cancelled or quit before it began.
        if (state_ != uint32_t(CaptureState::ClassDecode)) return;
        decoding_ = true;
    }
    appendRoot_ = &doc_.TransferRoot();
    manager.ReleaseDecoders();
    const bool whole = manager.DecodeAll(this) != 0;
    if (!whole && options_.warning) options_.warning(kDecodeOutOfMemoryWarning);
    bool restore = false;
    {
        std::lock_guard lock(stateMutex_);
        decoding_ = false;
        // One that came as the run ended would stop the next decoding at once.
        manager.ClearCancel();
        // A cancel, or memory running out, leaves the level to be decoded again.
        classDecoded_ = whole && !manager.Cancelled();
        settled_.notify_all();
        if (state_ != uint32_t(CaptureState::ClassDecode)) return;
        // A reopen's transfer level, decoded: the list takes up its place; a cancelled one waits for the redo.
        restore = !manager.Cancelled() && std::exchange(keepPlace_, false);
        state_ = uint32_t(CaptureState::Idle);
    }
    if (restore && list_) list_->RestorePlace();
    NotifyState();
}

bool CCaptureWorker::StopDecoding(bool* cancelled) {
    bool stopped = false;
    {
        std::unique_lock lock(stateMutex_);
        if (state_ == uint32_t(CaptureState::ClassDecode)) {
            stopped = true;
            if (decoding_) {
                doc_.Manager().Cancel();
                // The run stops within an item; the worker never waits for this thread.
                settled_.wait(lock, [&] { return !decoding_; });
            } else {
                // The worker has not begun it: it finds the state changed.
                classDecoded_ = false;
                state_ = uint32_t(CaptureState::Idle);
            }
        }
    }
    if (cancelled) *cancelled = stopped;
    if (stopped) NotifyState();
    return IsIdle();
}

bool CCaptureWorker::CancelDecoding() {
    std::lock_guard command(commandMutex_);
    bool cancelled = false;
    StopDecoding(&cancelled);
    return cancelled;
}

void CCaptureWorker::RedoDecoding() {
    std::lock_guard command(commandMutex_);
    ResumeDecoding();
}

void CCaptureWorker::ResumeDecoding() {
    if (IsIdle() && transferShown_ && dataAvailable_ && !classDecoded_) RedecodeTransferLevel(Configuration());
}

std::string CCaptureWorker::Configuration() {
    std::lock_guard lock(docMutex_);
    return doc_.GetConfiguration();
}

void CCaptureWorker::Publish(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) {
    if (IEventPublisher* bus = publisher_.load()) bus->Publish(sender, type, param1, param2);
}

// ---------------------------------------------------------------- IProgress

int32_t CCaptureWorker::OnItem(UsbItem* item) {
    if (!item) return 1;
    // The whole subtree: a NAKed transaction inside a transfer is hidden too.
    FilterSubtree(item, hideFilter_);
    if (list_) {
        // Past the first rows, items reach the list in batches: one lock of
        // its row index for many items. A batch waits at most kBatchWaitMs.
        batch_.push_back(item);
        // The clock is read every few items: a read per item cost more than the hand-off.
        if (handedToList_ < kSingleItems || batch_.size() >= kBatchItems ||
            (batch_.size() % 8 == 1 && TickMs() - batchTick_ >= kBatchWaitMs)) {
            batchTick_ = TickMs();
            FlushBatch();
        }
    } else if (appendRoot_) {
        item->flags &= uint8_t(~ItemExpanded);
        appendRoot_->Append(item);
    }
    return 1;
}

void CCaptureWorker::FlushBatch() {
    if (batch_.empty()) return;
    // Emptied however the hand-over ends: a list that runs out of memory part
    // way must not be handed the items it took again when the run finishes.
    struct Emptied {
        std::vector<UsbItem*>& batch;
        ~Emptied() { batch.clear(); }
    } emptied{batch_};
    list_->AppendItems(batch_.data(), batch_.size());
    handedToList_ += batch_.size();
}

uint64_t CCaptureWorker::TickMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

int32_t CCaptureWorker::OnProgress(float fraction) {
    if (list_) FlushBatch();
    if (options_.progress) options_.progress(int32_t(fraction * 100.0f));
    return 1;
}

int32_t CCaptureWorker::OnFinish() {
    if (list_) {
        FlushBatch();
        handedToList_ = 0;  // the next parse or decoding shows its first rows at once too
        list_->SetRowCount(list_->RowCount());
    }
    if (options_.progress) options_.progress(-1);
    return 1;
}

// ---------------------------------------------------------------- hide filter

uint32_t CCaptureWorker::HideClass(const UsbItem& item) {
    if (item.type == PidSof || item.type == ItemSofGroup) return HideSof;
    if (item.type == ItemNakGroup || item.status == PidNak) return HideNak;
    if (item.type == ItemBusEvent || item.type == ItemHostChirp) return HideBusState;
    return 0;
}

void CCaptureWorker::FilterSubtree(UsbItem* top, uint32_t flags) {
    // Runs for every item a parse hands over, so it allocates nothing; the
    // engine's and decoders' trees are a few levels deep, whatever their breadth.
    if (flags && (HideClass(*top) & flags)) top->flags |= ItemHiddenByFilter;
    else top->flags &= uint8_t(~ItemHiddenByFilter);
    for (UsbItem* child : top->children) FilterSubtree(child, flags);
}

void CCaptureWorker::ApplyHideFilter(UsbItem* root, uint32_t flags) {
    if (!root) return;
    for (UsbItem* top : root->children) FilterSubtree(top, flags);
}

bool CCaptureWorker::SetHideFilter(uint32_t flags) {
    std::lock_guard command(commandMutex_);
    // The worker appends to the tree while it is busy.
    if (!IsIdle()) return false;
    hideFilter_ = flags & (HideSof | HideNak | HideBusState);
    RefreshList(ShownRoot());
    return true;
}

bool CCaptureWorker::ToggleHideFilter(uint32_t flag) { return SetHideFilter(hideFilter_ ^ flag); }

// ---------------------------------------------------------------- list helpers

UsbItem* CCaptureWorker::ShownRoot() { return transferShown_ ? &doc_.TransferRoot() : &doc_.TransactionRoot(); }

void CCaptureWorker::RefreshList(UsbItem* root) {
    ApplyHideFilter(root, hideFilter_);
    if (!list_) return;
    list_->ClearRowCaches();
    list_->SetRowCount(list_->RebuildRows());
}

void CCaptureWorker::ResetListRows() {
    if (!list_) return;
    list_->ClearRowCaches();
    list_->ClearSummaryCache();
    list_->SetRowCount(list_->RebuildRows());
}

void CCaptureWorker::PrepareDecoding(const std::string& deviceTreeXml) {
    {
        std::lock_guard lock(docMutex_);
        doc_.FreeTransferTree();
    }
    CDecoderManager& manager = doc_.Manager();
    manager.LoadDeviceTree(deviceTreeXml);
    manager.SetHost(&doc_.Parser());
    manager.SetRoot(&doc_.TransactionRoot());
}

// ---------------------------------------------------------------- capture commands

CCaptureWorker::StartResult CCaptureWorker::StartRecord() {
    std::lock_guard command(commandMutex_);
    // A parse or decoding still running owns the trees.
    if (!IsIdle()) return StartResult::Busy;
    std::string setup;
    {
        std::lock_guard lock(docMutex_);
        doc_.SetModified(true);
        setup = doc_.GetSetup();
    }
    if (!device_) return StartResult::NoDevice;
    if (!device_->ApplySetup(setup.c_str())) return StartResult::SetupRejected;
    // Whatever reads the capture lets go of it before its upload ends and the
    // analyser records over it.
    if (list_) list_->SetRoot(&doc_.TransactionRoot());
    Publish(nullptr, EventCaptureCleared, 0, 0);
    device_->Control(kControlEndUpload, nullptr);
    // A start the analyser did not take may still have begun recording over
    // the capture: nothing of it is served from now on.
    const bool started = device_->Start() != 0;
    if (!started) device_->Control(kControlDiscardCapture, nullptr);

    // Before the trees go: the filter walks the list's rows, which still hold their items.
    if (list_) list_->ClearHeaderFilter();
    {
        std::lock_guard lock(docMutex_);
        doc_.ClearTrees();
    }
    transferShown_ = dataAvailable_ = classDecoded_ = false;
    ResetListRows();
    if (!started) {
        {
            // The project described the capture that is gone; only its settings still hold.
            std::lock_guard lock(docMutex_);
            doc_.OnNewDocument();
            doc_.SetSetup(setup);
        }
        PublishMarks();
        if (options_.warning) options_.warning(kStartFailedWarning);
        return StartResult::StartFailed;
    }
    Transition(CaptureState::Idle, CaptureState::Capturing);
    return StartResult::Started;
}

bool CCaptureWorker::StopRecord() {
    // Under the state lock: once the worker has left the capture for the upload, no stop.
    std::lock_guard lock(stateMutex_);
    if (state_ != uint32_t(CaptureState::Capturing) || !device_) return false;
    device_->Stop();
    return true;
}

// ---------------------------------------------------------------- levels

bool CCaptureWorker::OnTransactionLevel() {
    std::lock_guard command(commandMutex_);
    if (!IsIdle()) return false;
    transferShown_ = false;
    if (list_) {
        list_->ClearHeaderFilter();
        list_->SetRoot(&doc_.TransactionRoot());
        list_->SetRowDecoder(&doc_.Parser());
    }
    RefreshList(&doc_.TransactionRoot());
    return true;
}

bool CCaptureWorker::OnTransferLevel() {
    std::lock_guard command(commandMutex_);
    if (!IsIdle() || !dataAvailable_) return false;
    if (ShowTransferLevel(false)) Transition(CaptureState::Idle, CaptureState::ClassDecode);
    return true;
}

bool CCaptureWorker::ShowTransferLevel(bool keepFilter) {
    CDecoderManager& manager = doc_.Manager();
    const bool decode = !classDecoded_;
    if (list_) {
        if (!keepFilter) list_->ClearHeaderFilter();
        list_->SetRoot(&doc_.TransferRoot());
    }
    manager.ReleaseDecoders();
    if (list_) list_->SetRowDecoder(&manager);
    if (decode) {
        if (list_) {
            list_->ClearRowCaches();
            list_->ClearSummaryCache();
        }
        PrepareDecoding(Configuration());
    }
    RefreshList(&doc_.TransferRoot());
    transferShown_ = true;
    return decode;
}

void CCaptureWorker::OnDeviceTreeEdited(const std::string& deviceTreeXml) {
    std::lock_guard command(commandMutex_);
    {
        std::lock_guard lock(docMutex_);
        doc_.SetConfiguration(deviceTreeXml);
        doc_.SetModified(true);
    }
    // A decoding under way builds the level with the old tree: it gives way
    // within an item, and the level is freed and decoded afresh below as when
    // idle, so the list is reset here rather than grown from the worker. A
    // capture or parse has nothing to decode yet.
    if (!StopDecoding()) return;
    if (!transferShown_) {
        doc_.Manager().ReleaseDecoders();
        // The transaction level keeps the parser as its describer.
        classDecoded_ = false;
        return;
    }
    RedecodeTransferLevel(deviceTreeXml);
}

void CCaptureWorker::RedecodeTransferLevel(const std::string& deviceTreeXml) {
    CDecoderManager& manager = doc_.Manager();
    manager.ReleaseDecoders();
    if (list_) {
        list_->SetRowDecoder(&manager);
        list_->ClearRowCaches();
        list_->ClearSummaryCache();
    }
    PrepareDecoding(deviceTreeXml);
    if (list_) {
        list_->SetRoot(&doc_.TransferRoot());
        list_->SetRowCount(list_->RebuildRows());
    }
    Transition(CaptureState::Idle, CaptureState::ClassDecode);
}

// ---------------------------------------------------------------- projects

void CCaptureWorker::ResetTrees(bool keepPlace) {
    keepPlace_ = keepPlace;
    keepTransferLevel_ = transferShown_;
    // Noted before the rows go, and with them the selection.
    if (list_ && keepPlace) list_->KeepPlace();
    PublishCleared();
    if (list_) {
        list_->SetRoot(&doc_.TransactionRoot());
        if (!keepPlace) list_->ClearHeaderFilter();
    }
    {
        std::lock_guard lock(docMutex_);
        doc_.ClearTrees();
    }
    transferShown_ = dataAvailable_ = classDecoded_ = false;
    ResetListRows();
}

bool CCaptureWorker::ResetForOpenedProject() {
    std::lock_guard command(commandMutex_);
    return StopDecoding() && ParseOpenedFiles();
}

bool CCaptureWorker::ParseOpenedFiles(uint32_t savedRecords, bool keepPlace) {
    IDataSource* source = device_ ? device_->GetDataSource() : nullptr;
    ResetTrees(keepPlace);
    // The opened project's marks, before its parse: none of the last one's is
    // left to go to a packet of another capture meanwhile.
    PublishMarks();
    // What the files held at the open (or when saved, for a file cut since),
    // for the parse to compare with what could be read.
    openedRecords_ = std::max(source ? uint32_t(source->GetCount()) : 0u, savedRecords);
    if (Transition(CaptureState::Idle, CaptureState::Parse)) return true;
    openedRecords_ = 0;
    return false;
}

void CCaptureWorker::PublishCleared() {
    // The panes and views drop what they show of the capture that went.
    Publish(list_ ? list_->EventHandler() : nullptr, EventCaptureCleared, 0, 0);
}

void CCaptureWorker::PublishMarks() {
    // A cleared capture keeps its marks: only a renewed or opened document changes them.
    Publish(list_ ? list_->EventHandler() : nullptr, EventMarksChanged,
            reinterpret_cast<intptr_t>(static_cast<IBookmark*>(&doc_.Bookmarks())), 0);
}

std::string CCaptureWorker::ShortReadWarning(uint32_t read, uint32_t expected) {
    return "捕获文件未能读完：只读到 " + Grouped(read) + " 个包，文件原有 " + Grouped(expected) + " 个。";
}

std::string CCaptureWorker::RecordsGoneWarning(uint32_t read, uint32_t held) {
    // None read lists none to speak of.
    return "未能从分析仪读完捕获：只读到 " + Grouped(read) + " 个包，分析仪原有 " + Grouped(held) +
           " 个；分析仪已不再保存这次捕获，其余的包无法再读取" + (read ? "，列出的包不显示数据。" : "。");
}

std::string CCaptureWorker::UnreadRecordsWarning(uint32_t read, uint32_t held) {
    return "未能从分析仪读完捕获：只读到 " + Grouped(read) + " 个包，分析仪共有 " + Grouped(held) + " 个" +
           (read ? "；列出的包暂不显示数据。" : "。") + "重新连接分析仪后保存项目再打开，即可得到完整的捕获。";
}

bool CCaptureWorker::OpenProject(const std::string& path, std::string* error, CaptureCheck* check) {
    std::lock_guard command(commandMutex_);
    // Refused before the data source is touched: a parse may be reading it.
    // A decoding reads it too, but only gives way.
    bool cancelled = false;
    if (!StopDecoding(&cancelled)) {
        if (error) error->clear();
        return false;
    }
    IDataSource* source = device_ ? device_->GetDataSource() : nullptr;
    bool opened;
    {
        std::lock_guard lock(docMutex_);
        opened = doc_.OnOpenDocument(path, source, error, check);
    }
    if (opened) return ParseOpenedFiles(doc_.SavedRecords());
    // A refused open changes nothing: the level it interrupted is decoded whole.
    if (cancelled) ResumeDecoding();
    return false;
}

bool CCaptureWorker::SaveProject(const std::string& path, std::string* error, SaveProgress* progress) {
    std::lock_guard lock(docMutex_);
    IDataSource* source = device_ ? device_->GetDataSource() : nullptr;
    // Listed short: records the analyser still holds not read, or rows listed without their data.
    const int32_t before = source ? source->UnreadRecords(nullptr, nullptr) : 0;
    const bool saved = doc_.OnSaveDocument(path, source, error, progress);
    // Such a save read the rest, unless the analyser no longer held it: then it wrote what the list shows.
    savedShort_ = saved && (before > 0 || before == kRecordsReadSincePass) &&
                  source->UnreadRecords(nullptr, nullptr) != kRecordsNoLongerHeld;
    return saved;
}

bool CCaptureWorker::ShowSavedCapture(const std::string& path, std::string* error) {
    std::lock_guard command(commandMutex_);
    if (!savedShort_.exchange(false) || !IsIdle()) return true;
    IDataSource* source = device_ ? device_->GetDataSource() : nullptr;
    bool opened;
    {
        std::lock_guard lock(docMutex_);
        opened = doc_.OnOpenDocument(path, source, error);
    }
    return opened && ParseOpenedFiles(doc_.SavedRecords(), true);
}

bool CCaptureWorker::NewProject() {
    std::lock_guard command(commandMutex_);
    if (!StopDecoding()) return false;
    ResetTrees();
    // The device library's capture goes too, or a save would write it again.
    if (device_) device_->Control(kControlDiscardCapture, nullptr);
    {
        std::lock_guard lock(docMutex_);
        doc_.OnNewDocument();
    }
    PublishMarks();
    return true;
}

// ---------------------------------------------------------------- status and shut-down

std::string CCaptureWorker::StatusText() {
    if (!device_) return {};
    DeviceStatus status{};
    status.trigger = 0;
    device_->GetStatus(&status);
    lastFlags_ = status.flags;
    return FormatStatus(status);
}

std::string CCaptureWorker::FormatStatus(const DeviceStatus& status) {
    // Unsigned throughout: a payload of 2 GiB or more is no negative byte count.
    if (status.flags & StatusComplete)
        return "数据:包(" + Grouped(status.packets) + "),负载(" + PayloadSize(status.payloadBytes) + ")";
    if (status.flags & StatusTriggered) return "触发";
    if (status.flags & StatusRunning) return "运行(等待触发)";
    if (status.flags & StatusOnline2) return "在线";
    return "离线";
}

void CCaptureWorker::Stop() {
    bool publishing;
    {
        std::lock_guard lock(stateMutex_);
        state_ = uint32_t(CaptureState::Quit);
        woken_ = true;
        // Only a running parse or decoding: a cancel left pending would end
        // the document's next one at once.
        if (parsing_) doc_.Parser().Cancel();
        if (decoding_) doc_.Manager().Cancel();
        publishing = publishing_ && !ended_;
        wake_.notify_all();
    }
    // A view walking the parsed capture in its publication (the charts read
    // every record) lets go of it once told that it goes, as it will be after
    // this anyway.
    if (publishing) PublishCleared();
    {
        std::unique_lock lock(stateMutex_);
        // A parse or decoding stops within a record or an item, a poll at once,
        // and of a parse's publications only the one under way is waited for.
        if (thread_.joinable() && !settled_.wait_for(lock, options_.shutdownWait, [&] { return ended_; }))
            std::fprintf(stderr, "orvane: the capture worker did not end within %lld ms; waiting for %s\n",
                         static_cast<long long>(options_.shutdownWait.count()), WaitingFor());
    }
    // Joined even then: it still reads the device, the document and the list,
    // which go once this returns.
    if (thread_.joinable()) thread_.join();
}

const char* CCaptureWorker::WaitingFor() const {
    if (parsing_) return "the parse to stop";
    if (decoding_) return "the class decoding to stop";
    if (publishing_) return "a view to take the parsed capture";
    return "its device call";
}

void CCaptureWorker::Shutdown() {
    Stop();
    if (device_) {
        device_->Release();
        device_ = nullptr;
    }
}

}  // namespace orvane::app
