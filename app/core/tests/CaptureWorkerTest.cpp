// The capture worker against the emulated analyser through a real device
// object, and against a stub device for failures a real one cannot show on demand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

#include "CCaptureWorker.h"
#include "CDevice.h"
#include "CEventPublisher.h"
#include "CaptureSource.h"
#include "EmulatedAnalyser.h"
#include "Grouped.h"
#include "SessionBuilder.h"
#include "SetupXml.h"
#include "TestFiles.h"

using namespace orvane;
using namespace orvane::app;
using State = CCaptureWorker::CaptureState;
using Start = CCaptureWorker::StartResult;

namespace {

// A bound against hanging, never a timing assertion.
bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 60000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

CCaptureWorker::Options Fast() {
    CCaptureWorker::Options o;
    o.pollInterval = o.idleInterval = std::chrono::milliseconds(2);
    return o;
}

emu::BusCapture Session(int operations) {
    emu::SessionBuilder::Options o;
    o.operations = operations;
    return emu::SessionBuilder(o).Build();
}

// Behaves as the packet list does: appends to its root and counts shown rows.
struct FakeList : IPacketListSink, IEventHandler {
    void AppendItem(UsbItem* item) override {
        size_t size;
        {
            std::lock_guard lock(mutex);
            worker = std::this_thread::get_id();
            appendedBeforeHandOff += posted.empty() ? 0 : 1;
            item->flags &= uint8_t(~ItemExpanded);
            root->Append(item);
            ++appended[root];
            counted += (item->flags & ItemHiddenByFilter) ? 0 : 1;
            size = root->children.size();
        }
        if (onAppend) onAppend(size);
    }
    void SetRowDecoder(IDecode* d) override { decoder = d; }
    void SetDataSource(IDataSource*) override {}
    int32_t RowCount() override { return counted; }
    void SetRowCount(int32_t n) override {
        if (onRowCount) onRowCount();
        rows = n;
    }
    void SetRoot(UsbItem* r) override {
        std::lock_guard lock(mutex);
        NoteReset();
        root = r;
    }
    int32_t RebuildRows() override {
        std::lock_guard lock(mutex);
        NoteReset();
        ++rebuilds;
        counted = 0;
        if (root)
            for (UsbItem* top : root->children) counted += (top->flags & ItemHiddenByFilter) ? 0 : 1;
        return counted;
    }
    void ClearRowCaches() override {}
    void ClearSummaryCache() override {}
    void ClearHeaderFilter() override { ++filterClears; }
    IEventHandler* EventHandler() override { return this; }
    void KeepPlace() override {
        std::lock_guard lock(mutex);
        NoteReset();
        ++placesKept;
    }
    void RestorePlace() override {
        std::lock_guard lock(mutex);
        restoredAt = root ? root->children.size() : 0;
        restoredIn = root;
        ++placesRestored;
    }
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler*, int32_t, intptr_t, intptr_t) override { return 0; }
    int Appended(UsbItem* r) {
        std::lock_guard lock(mutex);
        return appended[r];
    }
    // The UI thread's calls: queued until the test's thread, standing for it, serves them.
    void RunOnUiThread(std::function<void()> call) override {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(call));
    }
    void ServePosted() {
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex);
            calls.swap(posted);
            if (!calls.empty()) rowsAtHandOff.push_back(root ? root->children.size() : 0);
        }
        for (auto& call : calls) call();
    }
    // WaitUntil, serving the UI thread's calls meanwhile.
    bool Serve(const std::function<bool()>& done) {
        return WaitUntil([&] {
            ServePosted();
            return done();
        });
    }
    size_t Posted() {
        std::lock_guard lock(mutex);
        return posted.size();
    }
    // The list's rows are the UI thread's: the worker never resets them.
    void NoteReset() { resetsOnWorker += std::this_thread::get_id() == worker ? 1 : 0; }

    std::mutex mutex;
    UsbItem* root = nullptr;
    std::map<UsbItem*, int> appended;
    std::atomic<IDecode*> decoder{nullptr};
    std::atomic<int32_t> rows{0}, counted{0};
    std::function<void()> onRowCount;
    int rebuilds = 0;
    std::function<void(size_t)> onAppend;  // worker thread: the root's size after an append
    std::atomic<int> filterClears{0}, placesKept{0}, placesRestored{0};
    size_t restoredAt = 0;  // the rows listed when the place was taken up again
    const UsbItem* restoredIn = nullptr;  // the root it was taken up at
    std::vector<std::function<void()>> posted;
    std::thread::id worker;  // the thread that appends
    int resetsOnWorker = 0, appendedBeforeHandOff = 0;
    std::vector<size_t> rowsAtHandOff;  // the root's rows as each hand-off was served
};

struct Event {
    IEventHandler* sender;
    int32_t type;
    intptr_t param1, param2;
    std::string text;  // DeviceTreeChanged's string, read while it lives
};

struct EventLog : IEventHandler {
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t p1, intptr_t p2) override {
        std::lock_guard lock(mutex);
        events.push_back({sender, type, p1, p2,
                          type == EventDeviceTreeChanged ? *reinterpret_cast<std::string*>(p1) : std::string()});
        return 1;
    }
    std::vector<int32_t> Types() {
        std::lock_guard lock(mutex);
        std::vector<int32_t> types;
        for (const Event& e : events) types.push_back(e.type);
        return types;
    }
    std::mutex mutex;
    std::vector<Event> events;
};

const std::vector<int32_t> kCapture = {EventCaptureCleared, EventDeviceTreeChanged, EventDataReady,
                                       EventParseFinished, EventMarksChanged};

int CountItems(const UsbItem* root, const std::function<bool(const UsbItem&)>& test) {
    int n = 0;
    for (UsbItem* child : root->children) n += (test(*child) ? 1 : 0) + CountItems(child, test);
    return n;
}

class CaptureWorker : public ::testing::Test {
protected:
    void SetUp() override {
        emu.SetTraffic(Session(20));
        SetupXml setup;
        setup.SetFilterFlags(0);  // keep SOFs, NAKs and bus states for the hide filters
        doc.SetSetup(setup.Text());
        device = new pardix::CDevice(&emu, "orvane-worker-test-" + std::to_string(::getpid()));
        bus.Subscribe(&log);
        CCaptureWorker::Options options = Fast();
        options.warning = [this](const std::string& text) {
            std::lock_guard lock(warningMutex);
            warnings.push_back(text);
        };
        worker = std::make_unique<CCaptureWorker>(doc, device, &list, options);
        worker->SetPublisher(&bus);
    }
    void Capture() {
        ASSERT_EQ(worker->StartRecord(), Start::Started);
        ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->DataAvailable(); }));
    }
    bool Settled() { return WaitUntil([&] { return worker->IsIdle(); }); }
    // Decodes the shown transfer level again and holds the worker at its 20th
    // row until the decoding is cancelled or `released`; returns when it is held there.
    void DecodeAgainAndHold() {
        held = released = false;
        list.onAppend = [this](size_t rows) {
            if (rows != 20 || held.exchange(true)) return;
            EXPECT_TRUE(WaitUntil([&] { return doc.Manager().CancelPending() || released; }));
        };
        worker->OnDeviceTreeEdited(doc.GetConfiguration());
        ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
    }

    emu::EmulatedAnalyser emu;
    pardix::CDevice* device = nullptr;  // released by the worker
    COrvaneDoc doc;
    FakeList list;
    CEventPublisher bus;
    EventLog log;
    std::mutex warningMutex;
    std::vector<std::string> warnings;
    std::unique_ptr<CCaptureWorker> worker;
    std::atomic<bool> held{false}, released{false};
};

TEST_F(CaptureWorker, CaptureIsParsedAndPublishedThenTheTransferLevelDecodesOnce) {
    EXPECT_EQ(worker->StatusText(), "在线");
    EXPECT_TRUE(worker->CanStart());
    ASSERT_TRUE(worker->SetHideFilter(CCaptureWorker::HideSof));
    Capture();

    ASSERT_EQ(log.Types(), kCapture);
    const auto& e = log.events;
    EXPECT_EQ(e[0].sender, nullptr);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(e[i].sender, &list);
    EXPECT_NE(e[1].text.find("address=\"5\""), std::string::npos);
    EXPECT_EQ(e[1].text, doc.GetConfiguration());
    EXPECT_EQ(e[2].param1, reinterpret_cast<intptr_t>(device->GetDataSource()));
    EXPECT_EQ(e[3].param1, reinterpret_cast<intptr_t>(&doc.TransactionRoot()));
    EXPECT_EQ(e[3].param2, reinterpret_cast<intptr_t>(static_cast<IUsbDecoder*>(&doc.Parser())));
    EXPECT_EQ(e[4].param1, reinterpret_cast<intptr_t>(static_cast<IBookmark*>(&doc.Bookmarks())));

    // The whole capture went through the list into the transaction level.
    DeviceStatus status;
    ASSERT_EQ(device->GetStatus(&status), 1);
    EXPECT_EQ(doc.TriggerRecord(), status.trigger);
    UsbItem& root = doc.TransactionRoot();
    EXPECT_EQ(list.Appended(&root), int(root.children.size()));
    const UsbItem* last = root.children.back();
    while (!last->children.empty()) last = last->children.back();
    EXPECT_EQ(last->firstRecord + 1, status.packets);
    EXPECT_EQ(list.rows.load(), list.counted.load()) << "the final row count pushed";

    // The SOF filter was applied as items arrived, at every depth.
    auto isSof = [](const UsbItem& i) { return i.type == PidSof || i.type == ItemSofGroup; };
    ASSERT_GT(CountItems(&root, isSof), 0);
    EXPECT_EQ(CountItems(&root, [&](const UsbItem& i) { return isSof(i) != bool(i.flags & ItemHiddenByFilter); }), 0);

    // The first switch decodes on the worker; later switches do not.
    UsbItem& transfer = doc.TransferRoot();
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(worker->ClassDecoded());
    EXPECT_EQ(list.decoder.load(), static_cast<IDecode*>(&doc.Manager()));
    EXPECT_GT(CountItems(&transfer, [](const UsbItem& i) { return i.type == ItemControlTransfer; }), 0);
    const int decoded = list.Appended(&transfer);
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(worker->OnTransactionLevel());
    EXPECT_EQ(list.decoder.load(), static_cast<IDecode*>(&doc.Parser()));
    ASSERT_TRUE(worker->OnTransferLevel());
    EXPECT_EQ(worker->State(), State::Idle);
    EXPECT_EQ(list.Appended(&transfer), decoded);

    // A tree edit at the transaction level only marks the transfer level.
    ASSERT_TRUE(worker->OnTransactionLevel());
    worker->OnDeviceTreeEdited(doc.GetConfiguration());
    EXPECT_EQ(worker->State(), State::Idle);
    EXPECT_EQ(list.decoder.load(), static_cast<IDecode*>(&doc.Parser())) << "rows still described by the parser";
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    EXPECT_EQ(list.Appended(&transfer), 2 * decoded);
    EXPECT_EQ(int(transfer.children.size()), decoded) << "the old level was freed first";
    // At the transfer level an edit decodes again at once.
    worker->OnDeviceTreeEdited(doc.GetConfiguration());
    ASSERT_TRUE(Settled());
    EXPECT_EQ(list.Appended(&transfer), 3 * decoded);
}

TEST_F(CaptureWorker, CloseDuringAClassDecodingCancelsIt) {
    Capture();
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    const size_t whole = doc.TransferRoot().children.size();
    ASSERT_GT(whole, 40u);

    DecodeAgainAndHold();
    worker->Shutdown();
    EXPECT_EQ(worker->State(), State::Quit);
    EXPECT_FALSE(worker->ClassDecoded());
    EXPECT_LT(doc.TransferRoot().children.size(), whole) << "the decoding ran to its end";
}

TEST_F(CaptureWorker, NewOrOpenDuringAClassDecodingCancelsIt) {
    Capture();
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    UsbItem& transfer = doc.TransferRoot();
    const size_t whole = transfer.children.size();
    ASSERT_GT(whole, 40u);
    EXPECT_TRUE(worker->CanReplaceCapture());
    {
        SCOPED_TRACE("a refused open changes nothing: the level is decoded whole again");
        DecodeAgainAndHold();
        EXPECT_TRUE(worker->CanReplaceCapture());
        const orvane::testing::TempDir folder;
        std::string error;
        EXPECT_FALSE(worker->OpenProject(folder / "none.usb", &error));
        EXPECT_FALSE(error.empty());
        ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->ClassDecoded(); }));
        EXPECT_EQ(transfer.children.size(), whole);
        EXPECT_TRUE(worker->TransferLevelShown());
    }
    {
        SCOPED_TRACE("held off while the user decides, then decoded again");
        DecodeAgainAndHold();
        {
            const CCaptureWorker::DecodingPause pause(*worker);
            EXPECT_EQ(worker->State(), State::Idle);
            EXPECT_FALSE(worker->ClassDecoded());
            EXPECT_LT(transfer.children.size(), whole);
        }
        ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->ClassDecoded(); }));
        EXPECT_EQ(transfer.children.size(), whole);
    }
    {
        SCOPED_TRACE("New: the capture goes and nothing is decoded again");
        DecodeAgainAndHold();
        {
            const CCaptureWorker::DecodingPause pause(*worker);
            EXPECT_TRUE(worker->NewProject());
        }
        EXPECT_EQ(worker->State(), State::Idle);
        EXPECT_FALSE(worker->TransferLevelShown() || worker->DataAvailable() || worker->ClassDecoded());
        EXPECT_TRUE(transfer.children.empty());
        EXPECT_TRUE(doc.TransactionRoot().children.empty());
    }
}

// Memory running out as the list takes rows ends the parse or the decoding
// where it was: the user is told, no row is handed over twice, and the level
// counts as not decoded.
TEST_F(CaptureWorker, ALevelThatRanOutOfMemoryEndsWhereItWasAndSaysSo) {
    auto failAt = [this](size_t row) {
        list.onAppend = [row](size_t rows) {
            if (rows == row) throw std::bad_alloc();
        };
    };
    auto handedOnce = [this](UsbItem& root) {
        const int appended = list.Appended(&root);
        const std::set<const UsbItem*> distinct(root.children.begin(), root.children.end());
        return distinct.size() == root.children.size() && int(root.children.size()) == appended;
    };
    failAt(40);
    Capture();
    EXPECT_TRUE(handedOnce(doc.TransactionRoot()));
    failAt(5);
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    EXPECT_FALSE(worker->ClassDecoded());
    EXPECT_TRUE(handedOnce(doc.TransferRoot()));
    // As the decoding finishes the list takes its last rows and their count:
    // memory may run out there too.
    list.onAppend = nullptr;
    const auto tests = std::this_thread::get_id();
    list.onRowCount = [tests] {
        if (std::this_thread::get_id() != tests) throw std::bad_alloc();
    };
    worker->OnDeviceTreeEdited(doc.GetConfiguration());
    ASSERT_TRUE(Settled());
    EXPECT_FALSE(worker->ClassDecoded());
    ASSERT_TRUE(worker->OnTransactionLevel());
    Capture();  // and as a parse finishes
    list.onRowCount = nullptr;
    std::lock_guard lock(warningMutex);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            CCaptureWorker::kParseOutOfMemoryWarning, CCaptureWorker::kDecodeOutOfMemoryWarning,
                            CCaptureWorker::kDecodeOutOfMemoryWarning, CCaptureWorker::kParseOutOfMemoryWarning}));
}

TEST_F(CaptureWorker, ATreeEditedDuringAClassDecodingIsDecodedWithItWithoutBeingAsked) {
    Capture();
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    UsbItem& transfer = doc.TransferRoot();
    auto onInterface1 = [&] { return CountItems(&transfer, [](const UsbItem& i) { return i.interface == 1; }); };
    ASSERT_EQ(onInterface1(), 0);
    // A stored configuration picked for the device: its interface numbered 1.
    std::string edited = doc.GetConfiguration();
    const size_t at = edited.find("bInterfaceNumber=\"0\"");
    ASSERT_NE(at, std::string::npos);
    edited.replace(at, 20, "bInterfaceNumber=\"1\"");

    DecodeAgainAndHold();
    worker->OnDeviceTreeEdited(edited);
    released = true;  // a run the edit left going ends rather than holding the test
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(worker->ClassDecoded());
    EXPECT_EQ(doc.GetConfiguration(), edited);
    EXPECT_GT(onInterface1(), 0) << "decoded with the edited tree";
    EXPECT_EQ(list.decoder.load(), static_cast<IDecode*>(&doc.Manager()));
    EXPECT_EQ(list.counted.load(), int(transfer.children.size())) << "the list holds the new level alone";
}

TEST_F(CaptureWorker, StopMidCaptureParsesWhatWasRecorded) {
    emu.SetEndWhenExhausted(false);
    emu.SetPace(64);
    EXPECT_FALSE(worker->StopRecord());
    ASSERT_EQ(worker->StartRecord(), Start::Started);
    EXPECT_EQ(worker->StartRecord(), Start::Busy);
    ASSERT_TRUE(WaitUntil([&] { return worker->StatusText() == "触发"; }));
    EXPECT_FALSE(worker->CanStart());
    EXPECT_TRUE(worker->StopRecord());
    ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->DataAvailable(); }));
    EXPECT_FALSE(worker->StopRecord());
    EXPECT_GT(doc.TransactionRoot().children.size(), 0u);
    EXPECT_EQ(log.Types(), kCapture);
}

TEST_F(CaptureWorker, SavedProjectOpensAndParsesAgain) {
    Capture();
    const orvane::testing::TempDir folder;
    const std::filesystem::path& dir = folder.path;
    std::string error;
    ASSERT_TRUE(worker->SaveProject(dir / "cap.usb", &error));
    const uint32_t count = doc.TransactionRoot().children.size();
    const std::string tree = doc.GetConfiguration();
    ASSERT_TRUE(worker->OnTransferLevel());
    ASSERT_TRUE(Settled());
    worker->OnDeviceTreeEdited("<devices/>");
    ASSERT_TRUE(Settled());

    const size_t before = log.Types().size();
    ASSERT_TRUE(worker->OpenProject(dir / "cap.usb", &error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->DataAvailable(); }));
    const std::vector<int32_t> types = log.Types();
    std::vector<int32_t> opening = kCapture;
    opening.insert(opening.begin() + 1, EventMarksChanged);
    EXPECT_EQ(std::vector<int32_t>(types.begin() + std::ptrdiff_t(before), types.end()), opening)
        << "the old capture is cleared and the opened marks shown before the opened capture is published";
    EXPECT_FALSE(worker->TransferLevelShown());
    EXPECT_EQ(doc.TransactionRoot().children.size(), count);
    EXPECT_EQ(doc.TransferRoot().children.size(), 0u);
    EXPECT_EQ(doc.GetConfiguration(), tree) << "the edit replaced by the parsed tree";

    EXPECT_FALSE(worker->OpenProject(dir / "missing.usb", &error));
    EXPECT_EQ(doc.TransactionRoot().children.size(), count) << "a failed open keeps the capture";
    EXPECT_EQ(log.Types().size(), types.size()) << "and clears nothing";

    doc.Bookmarks().Add({3, "mark", ""});
    ASSERT_TRUE(worker->NewProject());
    EXPECT_EQ(doc.TransactionRoot().children.size(), 0u);
    EXPECT_FALSE(worker->OnTransferLevel()) << "no data";
    EXPECT_EQ(doc.Bookmarks().GetCount(), 0);
    ASSERT_GE(log.events.size(), 2u);
    const Event* last = &log.events.back();
    EXPECT_EQ(last[-1].type, EventCaptureCleared);
    EXPECT_EQ(last->type, EventMarksChanged) << "the marks that went are published gone";
    EXPECT_EQ(last->param1, reinterpret_cast<intptr_t>(static_cast<IBookmark*>(&doc.Bookmarks())));
    EXPECT_EQ(last[-1].sender, &list);
    EXPECT_EQ(last->sender, &list);
}

TEST_F(CaptureWorker, ASaveWithoutThePayloadFailsAndSaysWhichFile) {
    const orvane::testing::TempDir folder;
    struct Restore {
        const char* saved = std::getenv("TMPDIR");
        std::string before = saved ? saved : "";
        ~Restore() { saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR"); }
    } restore;
    ::setenv("TMPDIR", (folder / "missing").c_str(), 1);  // no store for the upload the capture's end asks for
    Capture();
    std::string error;
    EXPECT_FALSE(worker->SaveProject(folder / "cap.usb", &error));
    EXPECT_NE(error.find(folder / "cap.data"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(folder / "cap.usb"));

    EXPECT_NE(error.find("捕获数据不完整"), std::string::npos) << error;

    // Fetched before the save, as the window does behind its progress dialog.
    std::filesystem::create_directory(folder / "missing");
    int32_t started = 0;
    ASSERT_EQ(device->Control(kControlFetchPayload, &started), 1);
    EXPECT_EQ(started, 1);
    for (int i = 0; i < 60000; ++i) {
        int32_t progress = 0;
        if (device->Control(kControlUploadProgress, &progress) && progress >= 100) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(worker->SaveProject(folder / "cap.usb", &error)) << error;
    EXPECT_GT(std::filesystem::file_size(folder / "cap.data"), 1024u);
}

TEST_F(CaptureWorker, RejectedSetupStartsNothingAndLeavesTheListAlone) {
    Capture();
    const int rebuilds = list.rebuilds;
    auto steps = [](int n) {
        std::string text = "<setup><trigger>";
        for (int i = 0; i < n; ++i)
            text += "<step address=\"" + std::to_string(i) + "\" endpoint=\"65535\" pid_mask=\"65535\" data=\"?\"/>";
        return text + "</trigger></setup>";
    };
    // No buffer the analyser has; a new project's empty settings; a trigger
    // longer than its table, whose first step would be lost.
    for (const std::string& setup : {std::string("<setup><storage packet=\"3\"/></setup>"), std::string(), steps(17)}) {
        doc.SetSetup(setup);
        doc.SetModified(false);
        EXPECT_EQ(worker->StartRecord(), Start::SetupRejected) << setup;
        EXPECT_TRUE(doc.IsModified());
        EXPECT_TRUE(worker->IsIdle() && worker->DataAvailable());
        EXPECT_GT(doc.TransactionRoot().children.size(), 0u);
        EXPECT_EQ(list.rebuilds, rebuilds);
        EXPECT_EQ(log.Types().size(), kCapture.size());
    }
    EXPECT_EQ(device->Source().TriggerImage().steps[0], 0u) << "nothing of the 17 steps reached the table";

    // Sixteen fill the table, the first step in its first entry.
    doc.SetSetup(steps(16));
    ASSERT_EQ(worker->StartRecord(), Start::Started);
    EXPECT_EQ((device->Source().TriggerImage().steps[0] >> pardix::kStepAddressShift) & 0x7F, 0u);
    EXPECT_EQ((device->Source().TriggerImage().steps[15] >> pardix::kStepAddressShift) & 0x7F, 15u);
    worker->StopRecord();
    ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle(); }));
}

TEST_F(CaptureWorker, AStartTheAnalyserRefusesKeepsTheCaptureForTheListAndTheSave) {
    Capture();
    pardix::CDeviceProxy& source = device->Source();
    ASSERT_TRUE(WaitUntil([&] { return source.UploadStateNow() == pardix::UploadIdle; }));
    const uint32_t records = source.GetCount();
    const size_t rows = doc.TransactionRoot().children.size();
    const int rebuilds = list.rebuilds;
    emu.DisconnectAtCommand(2);  // the reset strobe reaches the analyser, the next write does not
    EXPECT_EQ(worker->StartRecord(), Start::SetupRejected);
    EXPECT_TRUE(worker->IsIdle() && worker->DataAvailable());
    EXPECT_EQ(doc.TransactionRoot().children.size(), rows);
    EXPECT_EQ(list.rebuilds, rebuilds);
    EXPECT_EQ(log.Types(), kCapture);
    EXPECT_EQ(source.GetCount(), records) << "the rows keep their records";

    const orvane::testing::TempDir folder;
    std::string error;
    ASSERT_TRUE(worker->SaveProject(folder / "kept.usb", &error)) << error;
    EXPECT_EQ(std::filesystem::file_size(folder / "kept.ph"), size_t(records) * 16);
    emu.Reconnect();
    ASSERT_TRUE(worker->OpenProject(folder / "kept.usb", &error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return worker->IsIdle() && worker->DataAvailable(); }));
    EXPECT_EQ(doc.TransactionRoot().children.size(), rows);
}

TEST_F(CaptureWorker, AStartTheAnalyserDoesNotTakeClearsTheCaptureAndSaysSo) {
    Capture();
    doc.Bookmarks().Add({3, "mark", ""});
    const std::string setup = doc.GetSetup();
    pardix::CDeviceProxy& source = device->Source();
    ASSERT_TRUE(WaitUntil([&] { return source.UploadStateNow() == pardix::UploadIdle; }));
    // The settings are taken; the first write of the start is not.
    const unsigned before = emu.CommandCount();
    ASSERT_EQ(device->ApplySetup(doc.GetSetup().c_str()), 1);
    emu.DisconnectAtCommand(emu.CommandCount() - before + 1);
    EXPECT_EQ(worker->StartRecord(), Start::StartFailed);
    EXPECT_TRUE(worker->IsIdle());
    EXPECT_FALSE(worker->DataAvailable());
    EXPECT_EQ(doc.TransactionRoot().children.size(), 0u);
    const std::vector<int32_t> types = log.Types();
    EXPECT_EQ(std::vector<int32_t>(types.end() - 2, types.end()),
              (std::vector<int32_t>{EventCaptureCleared, EventMarksChanged}))
        << "the renewed document's marks are published";
    EXPECT_EQ(source.GetCount(), 0u) << "no rows, no records: a save writes what the window shows";
    // A new project that keeps its settings, as nothing else of the old one describes it.
    EXPECT_EQ(doc.Bookmarks().GetCount(), 0);
    EXPECT_EQ(doc.TriggerRecord(), -1);
    EXPECT_EQ(doc.GetConfiguration(), "");
    EXPECT_EQ(doc.GetSetup(), setup);
    EXPECT_TRUE(doc.IsModified());
    std::lock_guard lock(warningMutex);
    EXPECT_EQ(warnings, std::vector<std::string>{CCaptureWorker::kStartFailedWarning});
}

TEST_F(CaptureWorker, TheListAndThePanesLetGoBeforeANewProjectOrAFailedStartDropsTheCapture) {
    // What a reader still finds of the capture when it is told to let go.
    struct Reader : IEventHandler {
        IDataSource* source = nullptr;
        std::vector<uint64_t> records;
        int32_t SetPublisher(IEventPublisher*) override { return 0; }
        int32_t OnEvent(IEventHandler*, int32_t type, intptr_t, intptr_t) override {
            if (type == EventCaptureCleared) records.push_back(source->GetCount());
            return 1;
        }
    } reader;
    reader.source = device->GetDataSource();
    bus.Subscribe(&reader);
    const std::function<void()> drops[] = {
        [&] {
            const std::string setup = doc.GetSetup();
            ASSERT_TRUE(worker->NewProject());
            doc.SetSetup(setup);  // a new project has none, and the next capture needs them
        },
        [&] {
            const unsigned before = emu.CommandCount();
            ASSERT_EQ(device->ApplySetup(doc.GetSetup().c_str()), 1);
            emu.DisconnectAtCommand(emu.CommandCount() - before + 1);
            ASSERT_EQ(worker->StartRecord(), Start::StartFailed);
        },
    };
    for (const auto& drop : drops) {
        Capture();
        ASSERT_TRUE(WaitUntil([&] { return device->Source().UploadStateNow() == pardix::UploadIdle; }));
        const uint64_t held = reader.source->GetCount();
        ASSERT_GT(held, 0u);
        reader.records.clear();
        drop();
        EXPECT_EQ(reader.records, std::vector<uint64_t>{held});
        EXPECT_EQ(reader.source->GetCount(), 0u);
    }
    bus.Unsubscribe(&reader);
}

struct StubDevice : IDevice {
    int32_t Release() override {
        released = true;
        return 0;
    }
    int32_t GetDeviceInfo(DeviceInfo*) override { return 0; }
    int32_t GetStatus(DeviceStatus* out) override {
        out->flags = flags;
        out->trigger = 7;
        return answers;
    }
    int32_t ApplySetup(const char*) override { return 1; }
    int32_t Start() override { return 1; }
    int32_t Stop() override { return 1; }
    int32_t Reserved1() override { return 0; }
    int32_t Reserved2() override { return 0; }
    IDataSource* GetDataSource() override { return source; }
    int32_t Control(int32_t op, int32_t*) override {
        if (op == 1) ++uploads;
        return 1;
    }

    std::atomic<int32_t> answers{1};
    std::atomic<uint32_t> flags{StatusOnline | StatusOnline2 | StatusComplete};
    std::atomic<IDataSource*> source{nullptr};
    std::atomic<bool> released{false};
    std::atomic<int> uploads{0};
};

TEST(CaptureWorkerStub, QuitDuringAParseThatWaitsForeverReturnsAndBusyRefusesCommands) {
    emu::CaptureSource source(Session(3));
    source.SetAvailable(source.Capture().records.size() / 2);  // then "not yet" for ever
    source.SetEnded(false);
    std::atomic<bool> waiting{false};
    source.SetOnNotYet([](emu::CaptureSource&, void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); },
                       &waiting);
    StubDevice device;
    device.source = &source;
    COrvaneDoc doc;
    FakeList list;
    CCaptureWorker worker(doc, &device, &list, Fast());
    ASSERT_TRUE(worker.ResetForOpenedProject());
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));

    std::string error = "x";
    EXPECT_EQ(worker.StartRecord(), Start::Busy);
    EXPECT_FALSE(worker.OpenProject("/nonexistent.usb", &error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(worker.ResetForOpenedProject() || worker.NewProject() || worker.SetHideFilter(1) ||
                 worker.OnTransactionLevel() || worker.OnTransferLevel() || worker.StopRecord());
    EXPECT_FALSE(doc.IsModified());

    worker.Shutdown();
    EXPECT_TRUE(doc.Parser().Cancelled());
    EXPECT_TRUE(device.released);
    worker.Shutdown();
}

TEST(CaptureWorkerStub, AQuitDuringAParsesPublicationsSkipsTheRestAndSaysThatAViewHoldsIt) {
    emu::CaptureSource source(Session(3));
    StubDevice device;
    device.source = &source;
    COrvaneDoc doc;
    CCaptureWorker::Options options = Fast();
    options.shutdownWait = std::chrono::milliseconds(1);
    CCaptureWorker worker(doc, &device, nullptr, options);
    // Stop's message goes to stderr: a file of the test's own for the while.
    const orvane::testing::TempDir folder;
    const std::string said = folder / "stderr";
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* file = std::fopen(said.c_str(), "w");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::dup2(::fileno(file), 2), 2);
    auto stderrText = [&] {
        std::fflush(stderr);
        std::ifstream in(said);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // The charts take the capture as the close comes, and keep it until Stop has said what it waits for
    // (after it told them that the capture goes).
    struct Holder : EventLog {
        int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t p1, intptr_t p2) override {
            EventLog::OnEvent(sender, type, p1, p2);
            if (type == EventDataReady) onDataReady();
            return 1;
        }
        std::function<void()> onDataReady;
    } views;
    std::thread closing;
    views.onDataReady = [&] {
        closing = std::thread([&] { worker.Stop(); });
        EXPECT_TRUE(WaitUntil([&] { return stderrText().find("orvane: the capture worker") != std::string::npos; }));
    };
    CEventPublisher bus;
    bus.Subscribe(&views);
    worker.SetPublisher(&bus);
    ASSERT_EQ(worker.StartRecord(), Start::Started);
    ASSERT_TRUE(WaitUntil([&] { return closing.joinable(); }));
    closing.join();
    const std::string text = stderrText();
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(file);

    EXPECT_EQ(views.Types(), (std::vector<int32_t>{EventCaptureCleared, EventDeviceTreeChanged, EventDataReady,
                                                   EventCaptureCleared}))
        << "the view holding the capture is told it goes; the summary's counts and the marks are not published";
    EXPECT_FALSE(worker.DataAvailable());
    EXPECT_NE(text.find("waiting for a view to take the parsed capture"), std::string::npos) << text;
}

TEST(CaptureWorkerStub, FailingStatusEndsTheCaptureWithoutAParse) {
    StubDevice device;
    device.flags = StatusOnline | StatusOnline2 | StatusRunning;
    COrvaneDoc doc;
    CCaptureWorker worker(doc, &device, nullptr, Fast());
    ASSERT_EQ(worker.StartRecord(), Start::Started);
    device.answers = 0;
    ASSERT_TRUE(WaitUntil([&] { return worker.IsIdle(); }));
    EXPECT_TRUE(worker.DataAvailable());
    EXPECT_EQ(device.uploads.load(), 0);

    COrvaneDoc other;
    CCaptureWorker none(other, nullptr, nullptr, Fast());
    EXPECT_EQ(none.StatusText(), "");
    EXPECT_EQ(none.StartRecord(), Start::NoDevice);
    EXPECT_TRUE(other.IsModified());
}

TEST(CaptureWorkerStub, NoDataSourceStoresAnEmptyTreeAndStillPublishes) {
    emu::CaptureSource source(Session(3));
    StubDevice device;
    device.source = &source;
    COrvaneDoc doc;
    CCaptureWorker worker(doc, &device, nullptr, Fast());  // headless: items go straight into the tree
    CEventPublisher bus;
    EventLog log;
    bus.Subscribe(&log);
    worker.SetPublisher(&bus);
    for (bool withSource : {true, false}) {
        device.source = withSource ? &source : nullptr;
        ASSERT_EQ(worker.StartRecord(), Start::Started);
        ASSERT_TRUE(WaitUntil([&] { return worker.IsIdle() && worker.DataAvailable(); }));
        EXPECT_EQ(doc.TransactionRoot().children.size() > 0, withSource);
        EXPECT_EQ(doc.GetConfiguration().find("address=\"5\"") != std::string::npos, withSource);
    }
    EXPECT_EQ(doc.TriggerRecord(), 7);
    EXPECT_EQ(device.uploads.load(), 2);
    ASSERT_EQ(log.Types().size(), 2 * kCapture.size());
    EXPECT_EQ(log.events[7].param1, 0) << "DataReady without a source";
}

TEST(CaptureWorkerStub, ALongParseReachesTheListInOrderAndWholeBeforeItIsPublished) {
    // A lone OUT token and an SOF, over and over: two top-level items each.
    emu::BusCapture capture;
    constexpr uint32_t kPairs = 3000;
    for (uint32_t i = 0; i < kPairs; ++i) {
        PacketRecord out, sof;
        out.SetLow16(uint16_t(3 | 1 << 7));
        out.SetPidByte(PacketRecord::MakePidByte(PidOut));
        sof.SetLow16(uint16_t(i & 0x7FF));
        sof.SetPidByte(PacketRecord::MakePidByte(PidSof));
        capture.records.push_back(out);
        capture.records.push_back(sof);
    }
    emu::CaptureSource source(std::move(capture));
    StubDevice device;
    device.source = &source;

    struct BatchList : FakeList {
        void AppendItems(UsbItem* const* items, size_t count) override {
            batches.push_back(count);
            for (size_t i = 0; i < count; ++i) AppendItem(items[i]);
        }
        std::vector<size_t> batches;  // worker thread until the parse is published
    } list;
    struct AtParseFinished : IEventHandler {
        int32_t SetPublisher(IEventPublisher*) override { return 0; }
        int32_t OnEvent(IEventHandler*, int32_t type, intptr_t, intptr_t) override {
            if (type == EventParseFinished) items = int(list->root->children.size());
            return 1;
        }
        FakeList* list = nullptr;
        std::atomic<int> items{-1};
    } probe;
    probe.list = &list;
    CEventPublisher bus;
    bus.Subscribe(&probe);
    COrvaneDoc doc;
    CCaptureWorker worker(doc, &device, &list, Fast());
    worker.SetPublisher(&bus);
    ASSERT_TRUE(worker.ResetForOpenedProject());
    ASSERT_TRUE(WaitUntil([&] { return worker.IsIdle() && worker.DataAvailable(); }));

    EXPECT_EQ(probe.items.load(), int(2 * kPairs)) << "every item is in the list when the parse is published";
    EXPECT_EQ(list.rows.load(), int(2 * kPairs));
    const UsbItem& root = doc.TransactionRoot();
    ASSERT_EQ(root.children.size(), 2 * kPairs);
    for (uint32_t i = 0; i < root.children.size(); ++i) ASSERT_EQ(root.children[i]->firstRecord, i);
    // The first rows one by one, so they show at once; the rest in batches.
    ASSERT_GT(list.batches.size(), 1024u);
    EXPECT_EQ(std::count(list.batches.begin(), list.batches.begin() + 1024, size_t(1)), 1024);
    EXPECT_LT(list.batches.size(), 2 * kPairs);
    EXPECT_EQ(std::accumulate(list.batches.begin(), list.batches.end(), size_t(0)), 2 * kPairs);
}

TEST(CaptureWorkerFilter, HideFlagsSetAndClearTheFilterBitAtEveryLevel) {
    COrvaneDoc doc;
    UsbItem& root = doc.TransactionRoot();
    auto add = [](UsbItem* parent, uint16_t type, uint8_t status = kNone) {
        auto* item = new UsbItem(type, 0);
        item->status = status;
        parent->Append(item);
        return item;
    };
    UsbItem* sofs = add(&root, ItemSofGroup);
    UsbItem* naks = add(&root, ItemNakGroup);
    UsbItem* transfer = add(&root, ItemControlTransfer);
    UsbItem* in = add(transfer, ItemInTransaction, PidAck);
    const std::pair<UsbItem*, uint32_t> rows[] = {
        {add(&root, PidSof), CCaptureWorker::HideSof},
        {sofs, CCaptureWorker::HideSof},
        {add(sofs, PidSof), CCaptureWorker::HideSof},
        {naks, CCaptureWorker::HideNak},
        {add(naks, ItemInTransaction, PidNak), CCaptureWorker::HideNak},
        {add(&root, ItemBusEvent, PidNak), CCaptureWorker::HideNak},  // NAK before bus state
        {add(&root, ItemBusEvent), CCaptureWorker::HideBusState},
        {add(&root, ItemHostChirp), CCaptureWorker::HideBusState},
        {transfer, 0},
        {in, 0},
        {add(in, PidNak), 0},  // a NAK packet is no NAK-status item
        {add(transfer, PidSof), CCaptureWorker::HideSof},
        {add(transfer, ItemInTransaction, PidNak), CCaptureWorker::HideNak},
    };
    FakeList list;
    CCaptureWorker worker(doc, nullptr, &list, Fast());
    for (uint32_t flags : {1u, 2u, 4u, 7u, 0u}) {
        ASSERT_TRUE(worker.SetHideFilter(flags));
        for (const auto& [item, hideClass] : rows) {
            EXPECT_EQ(CCaptureWorker::HideClass(*item), hideClass);
            EXPECT_EQ(bool(item->flags & ItemHiddenByFilter), bool(hideClass & flags)) << item->type << " " << flags;
        }
    }
    ASSERT_TRUE(worker.ToggleHideFilter(CCaptureWorker::HideNak));
    EXPECT_TRUE(naks->flags & ItemHiddenByFilter);
    ASSERT_TRUE(worker.ToggleHideFilter(CCaptureWorker::HideNak));
    EXPECT_EQ(worker.HideFilterFlags(), 0u);
}

TEST(CaptureWorkerStatus, TextFollowsTheFirstMatchingFlag) {
    const uint32_t on = StatusOnline | StatusOnline2, done = StatusComplete;
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*> rows[] = {
        {0, 0, 0, "离线"},
        {on, 0, 0, "在线"},
        {on | StatusRunning, 0, 0, "运行(等待触发)"},
        {on | StatusRunning | StatusTriggered, 0, 0, "触发"},
        {on | StatusTriggered | done, 1234, 1536, "数据:包(1,234),负载(1.500 KB)"},
        {done, 999, 1023, "数据:包(999),负载(1023 bytes)"},
        {done, 1000, 1024, "数据:包(1,000),负载(1.000 KB)"},
        {done, 1234567, 1048576, "数据:包(1,234,567),负载(1.000 MB)"},
        {done, 4294967295u, 2147483648u, "数据:包(4,294,967,295),负载(2048.000 MB)"},
    };
    for (const auto& [flags, packets, bytes, text] : rows) {
        DeviceStatus status;
        status.flags = flags;
        status.packets = packets;
        status.payloadBytes = bytes;
        EXPECT_EQ(CCaptureWorker::FormatStatus(status), text);
    }
}


// A capture file that the open found whole but that shrank before all of it
// was read: the source then counts what it could read.
struct ShrinkingSource : emu::CaptureSource {
    using emu::CaptureSource::CaptureSource;
    int32_t OpenOrSave(const char*, const char*, int32_t save) override { return save == 1 ? 0 : 1; }
    uint32_t GetCount() override {
        return countedOnce.exchange(true) ? CaptureSource::GetCount() : uint32_t(Capture().records.size());
    }
    std::atomic<bool> countedOnce{false};
};

TEST(CaptureWorkerStub, AnOpenedFileReadShortEndsWithAWarningNotInSilence) {
    const orvane::testing::TempDir folder;
    std::ofstream(folder / "p.usb") << "<Orvane><Packet PathName=\"p.ph\"/><Data PathName=\"p.data\"/></Orvane>";
    for (bool shrinks : {true, false}) {
        ShrinkingSource source(Session(3));
        const uint32_t all = uint32_t(source.Capture().records.size());
        source.SetAvailable(shrinks ? all / 2 : all);
        StubDevice device;
        device.source = &source;
        COrvaneDoc doc;
        FakeList list;
        std::mutex mutex;
        std::vector<std::string> warnings;
        CCaptureWorker::Options options = Fast();
        options.warning = [&](const std::string& text) {
            std::lock_guard lock(mutex);
            warnings.push_back(text);
        };
        CCaptureWorker worker(doc, &device, &list, options);
        std::string error;
        ASSERT_TRUE(worker.OpenProject(folder / "p.usb", &error)) << error;
        ASSERT_TRUE(WaitUntil([&] { return worker.IsIdle() && worker.DataAvailable(); }));
        std::lock_guard lock(mutex);
        if (!shrinks) {
            EXPECT_TRUE(warnings.empty());
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], CCaptureWorker::ShortReadWarning(all / 2, all));
        EXPECT_NE(warnings[0].find("捕获文件未能读完"), std::string::npos);
        // Parsed again, the file counts what it could give: nothing more to say.
        ASSERT_TRUE(worker.ResetForOpenedProject());
        ASSERT_TRUE(WaitUntil([&] { return worker.IsIdle(); }));
        EXPECT_EQ(warnings.size(), 1u);
    }
}

// Runs one capture of `source` through the worker into `doc` (and `shown`,
// when given; no list at all unless `listed`) and gives the warnings it raised
// by the time the parse was done.
void CaptureWarned(emu::CaptureSource& source, COrvaneDoc& doc, std::vector<std::string>* warnings,
                   FakeList* shown = nullptr, bool listed = true) {
    StubDevice device;
    device.source = &source;
    FakeList own;
    FakeList& list = shown ? *shown : own;
    std::mutex mutex;
    CCaptureWorker::Options options = Fast();
    options.warning = [&](const std::string& text) {
        std::lock_guard lock(mutex);
        warnings->push_back(text);
    };
    CCaptureWorker worker(doc, &device, listed ? &list : nullptr, options);
    ASSERT_EQ(worker.StartRecord(), Start::Started);
    ASSERT_TRUE(list.Serve([&] { return worker.IsIdle() && worker.DataAvailable(); }));
}

// A capture whose record read from the analyser failed part way: the source
// serves the rows read and says how many it holds; the parse ends with a warning.
struct CutRecordsSource : emu::CaptureSource {
    using emu::CaptureSource::CaptureSource;
    int32_t UnreadRecords(uint32_t* read, uint32_t* held) override {
        const uint32_t all = uint32_t(Capture().records.size());
        const uint32_t got = GetCount();
        if (read) *read = got < all ? got : 0;
        if (held) *held = got < all ? all : 0;
        return got < all ? EIO : 0;
    }
};

TEST(CaptureWorkerStub, ACaptureWhoseRecordReadFailedPartWayEndsWithAWarning) {
    for (bool cut : {true, false}) {
        SCOPED_TRACE(cut);
        CutRecordsSource source(Session(3));
        const uint32_t all = uint32_t(source.Capture().records.size());
        source.SetAvailable(cut ? all / 3 : all);
        COrvaneDoc doc;
        std::vector<std::string> warnings;
        ASSERT_NO_FATAL_FAILURE(CaptureWarned(source, doc, &warnings));
        EXPECT_GT(doc.TransactionRoot().children.size(), 0u) << "the rows read are listed";
        if (!cut) {
            EXPECT_TRUE(warnings.empty());
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], CCaptureWorker::UnreadRecordsWarning(all / 3, all));
        EXPECT_NE(warnings[0].find("未能从分析仪读完捕获"), std::string::npos);
        EXPECT_NE(warnings[0].find(Grouped(all)), std::string::npos);
    }
}

// The source's later answers, one a parse: a replug that let the rest be read
// during the pass makes the worker parse again; the analyser no longer
// holding the capture leaves nothing a replug could fix.
struct ScriptedUnreadSource : emu::CaptureSource {
    using emu::CaptureSource::CaptureSource;
    std::vector<int32_t> answers;  // the last repeats
    size_t asked = 0;
    int32_t UnreadRecords(uint32_t* read, uint32_t* held) override {
        const int32_t answer = answers[std::min(asked++, answers.size() - 1)];
        const uint32_t all = uint32_t(Capture().records.size());
        if (read) *read = answer ? GetCount() : 0;
        if (held) *held = answer ? all : 0;
        // The rest arrived while the pass was served rows without their payload.
        if (answer == kRecordsReadSincePass) SetAvailable(all);
        return answer;
    }
};

TEST(CaptureWorkerStub, AReplugMidPassParsesAgainAndACaptureNoLongerHeldSaysSo) {
    enum Warned { None, Bare, Gone, Unread, OutOfMemory };
    enum Fault { NoFault, Cancelled, OutOfMemoryAgain, NoList };
    const struct {
        const char* name;
        int part;  // the first pass is served 1/part of the records; 0 none, 1 all
        std::vector<int32_t> answers;
        size_t parses;
        Warned warned;
        Fault fault = NoFault;
    } rows[] = {
        {"read whole", 1, {0}, 1, None},
        {"replugged mid pass, whole again", 3, {kRecordsReadSincePass, 0}, 2, None},
        {"replugged mid pass, still bare", 3, {kRecordsReadSincePass}, 2, Bare},
        {"no longer held", 3, {kRecordsNoLongerHeld}, 1, Gone},
        {"none read, no longer held", 0, {kRecordsNoLongerHeld}, 1, Gone},
        {"none read, still held", 0, {EIO}, 1, Unread},
        {"read in part", 3, {EIO}, 1, Unread},
        // Cancelled: what the source says of it is not asked, nor is it parsed again.
        {"cancelled", 3, {kRecordsReadSincePass}, 0, None, Cancelled},
        {"replugged mid pass, out of memory the second time", 3, {kRecordsReadSincePass, 0}, 2, OutOfMemory,
         OutOfMemoryAgain},
        // No UI thread to hand the reset to: the worker does it.
        {"replugged mid pass, without a list", 3, {kRecordsReadSincePass, 0}, 2, None, NoList},
    };
    size_t wholeRows = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedUnreadSource source(Session(3));
        source.answers = row.answers;
        const uint32_t all = uint32_t(source.Capture().records.size());
        const uint32_t served = row.part ? all / uint32_t(row.part) : 0;
        source.SetAvailable(served);
        COrvaneDoc doc;
        FakeList list;
        std::atomic<int> parse{0};
        list.onAppend = [&](size_t rows) {
            if (rows == 1) ++parse;
            if (row.fault == Cancelled && rows == 10) doc.Parser().Cancel();
            if (row.fault == OutOfMemoryAgain && parse == 2 && rows == 5) throw std::bad_alloc();
        };
        std::vector<std::string> warnings;
        ASSERT_NO_FATAL_FAILURE(CaptureWarned(source, doc, &warnings, &list, row.fault != NoList));
        EXPECT_EQ(source.asked, row.parses);
        const size_t listed = doc.TransactionRoot().children.size();
        if (!wholeRows) wholeRows = listed;
        if (row.parses > 1 && row.warned != OutOfMemory) {
            EXPECT_EQ(listed, wholeRows) << "parsed again from row 0, nothing twice";
        }
        if (row.warned == Gone || row.fault == Cancelled) {
            EXPECT_LT(listed, wholeRows) << "the rows read are listed";
        }
        if (row.fault == NoList) continue;
        // Parsed again, the list keeps its filter bar and takes up the place it had once the rows are all there.
        const int again = row.parses > 1 ? 1 : 0;
        EXPECT_EQ(list.filterClears.load(), 1) << "only the start clears the filter bar";
        EXPECT_EQ(list.placesKept.load(), again);
        EXPECT_EQ(list.placesRestored.load(), again);
        if (again) {
            EXPECT_EQ(list.restoredAt, listed);
        }
        // The first pass's rows go on the UI thread while the worker waits:
        // still whole when it takes them, and none of the next pass's before.
        EXPECT_EQ(list.resetsOnWorker, 0);
        EXPECT_EQ(list.appendedBeforeHandOff, 0);
        ASSERT_EQ(list.rowsAtHandOff.size(), size_t(again));
        if (again) {
            EXPECT_GT(list.rowsAtHandOff[0], 0u);
        }
        if (row.warned == None) {
            EXPECT_TRUE(warnings.empty());
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        if (row.warned == Bare) {
            EXPECT_EQ(warnings[0], CCaptureWorker::kRowsShownBareWarning);
            continue;
        }
        if (row.warned == OutOfMemory) {
            EXPECT_EQ(warnings[0], CCaptureWorker::kParseOutOfMemoryWarning);
            continue;
        }
        // Rows listed without their data are spoken of only when there are some.
        EXPECT_EQ(warnings[0].find("列出的包") != std::string::npos, served > 0) << warnings[0];
        EXPECT_NE(warnings[0].find("只读到 " + Grouped(served) + " 个包"), std::string::npos) << warnings[0];
        if (row.warned == Unread) {
            EXPECT_EQ(warnings[0], CCaptureWorker::UnreadRecordsWarning(served, all));
            EXPECT_NE(warnings[0].find("分析仪共有 " + Grouped(all) + " 个"), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find("重新连接"), std::string::npos);
            continue;
        }
        EXPECT_EQ(warnings[0], CCaptureWorker::RecordsGoneWarning(served, all));
        EXPECT_NE(warnings[0].find("分析仪原有 " + Grouped(all) + " 个"), std::string::npos)
            << "it holds them no more";
        EXPECT_EQ(warnings[0].find("重新连接"), std::string::npos) << "no replug brings them back";
        EXPECT_NE(warnings[0].find("不再保存"), std::string::npos);
    }
}

// Answers as a capture listed short does until a save reads the rest, writes
// the capture files, and opens them again as files.
struct SavedAgainSource : emu::CaptureSource {
    using emu::CaptureSource::CaptureSource;
    int32_t UnreadRecords(uint32_t* read, uint32_t* held) override {
        const uint32_t all = uint32_t(Capture().records.size());
        if (read) *read = unread ? GetCount() : 0;
        if (held) *held = unread ? all : 0;
        return unread;
    }
    int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) override {
        if (save != 1) {
            ++opens;
            unread = 0;  // an opened file holds what it holds
            return 1;
        }
        if (!(std::ofstream(packetPath) << "records") || !(std::ofstream(dataPath) << "payload")) return 0;
        SetAvailable(Capture().records.size());
        unread = afterSave.load();
        return 1;
    }
    std::atomic<int32_t> unread{0}, afterSave{0};
    std::atomic<int> opens{0};
};

TEST(CaptureWorkerStub, ASaveThatReadTheRestShowsTheWholeCaptureWhereTheUserWas) {
    const struct {
        const char* name;
        int32_t before, after;  // what the source says of the capture before and after the save
        bool reopened;
        bool goneSince = false;  // the project removed before it opens again
        bool transfer = false;   // the user at the transfer level
        bool paused = false;     // the reopen's decoding cancelled part way, then done again
    } rows[] = {
        {"read in part, the save read the rest", EIO, 0, true},
        {"read in part, the save read the rest, the project gone since", EIO, 0, false, true},
        {"rows listed bare, the save read the rest", kRecordsReadSincePass, kRecordsReadSincePass, true},
        {"read in part, gone by the save", EIO, kRecordsNoLongerHeld, false},
        {"no longer held", kRecordsNoLongerHeld, kRecordsNoLongerHeld, false},
        {"read whole", 0, 0, false},
        {"at the transfer level, the save read the rest", EIO, 0, true, false, true},
        {"at the transfer level, rows listed bare", kRecordsReadSincePass, kRecordsReadSincePass, true, false, true},
        {"at the transfer level, the project gone since", EIO, 0, false, true, true},
        {"at the transfer level, read whole", 0, 0, false, false, true},
        {"at the transfer level, its decoding paused", EIO, 0, true, false, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SavedAgainSource source(Session(3));
        const size_t all = source.Capture().records.size();
        source.SetAvailable(row.before ? all / 3 : all);
        source.unread = row.before;
        source.afterSave = row.after;
        StubDevice device;
        device.source = &source;
        COrvaneDoc doc;
        FakeList list;
        CCaptureWorker worker(doc, &device, &list, Fast());
        ASSERT_EQ(worker.StartRecord(), Start::Started);
        ASSERT_TRUE(list.Serve([&] { return worker.IsIdle() && worker.DataAvailable(); }));
        if (row.transfer) {
            ASSERT_TRUE(worker.OnTransferLevel());
            ASSERT_TRUE(list.Serve([&] { return worker.IsIdle() && worker.ClassDecoded(); }));
        }
        const size_t shown = doc.TransactionRoot().children.size();
        const int kept = list.placesKept, clears = list.filterClears;
        const UsbItem* level = row.transfer ? &doc.TransferRoot() : &doc.TransactionRoot();
        // The reopen's decoding held at its first row until a cancel comes.
        std::atomic<bool> armed{row.paused}, held{false};
        list.onAppend = [&](size_t) {
            if (!armed || worker.State() != CCaptureWorker::CaptureState::ClassDecode || held.exchange(true)) return;
            while (!doc.Manager().CancelPending()) std::this_thread::yield();
        };

        const orvane::testing::TempDir folder;
        std::string error;
        // A save that failed shows nothing.
        EXPECT_FALSE(worker.SaveProject(folder / "no/such/cap.usb", &error));
        EXPECT_TRUE(worker.ShowSavedCapture(folder / "no/such/cap.usb", &error));
        EXPECT_EQ(source.opens.load(), 0);
        ASSERT_TRUE(worker.SaveProject(folder / "cap.usb", &error)) << error;
        error.clear();
        if (row.goneSince) std::filesystem::remove(folder / "cap.usb");
        EXPECT_EQ(worker.ShowSavedCapture(folder / "cap.usb", &error), !row.goneSince) << error;
        EXPECT_EQ(error, row.goneSince ? COrvaneDoc::kOpenError : "");
        if (row.paused) {
            ASSERT_TRUE(list.Serve([&] { return held.load(); }));
            EXPECT_TRUE(worker.CancelDecoding());
            EXPECT_EQ(list.placesRestored.load(), kept) << "a level decoded in part waits for the rest";
            armed = false;
            worker.RedoDecoding();
        }
        ASSERT_TRUE(list.Serve([&] { return worker.IsIdle(); }));
        EXPECT_EQ(source.opens.load(), row.reopened ? 1 : 0);
        EXPECT_EQ(list.placesKept.load(), kept + (row.reopened ? 1 : 0));
        EXPECT_EQ(list.placesRestored.load(), list.placesKept.load());
        EXPECT_EQ(list.filterClears.load(), clears) << "the filter bar stays";
        EXPECT_FALSE(doc.IsModified());
        // The level stays; a transfer level shown again is decoded before the place is taken up.
        EXPECT_EQ(worker.TransferLevelShown(), row.transfer);
        EXPECT_EQ(list.root, level);
        if (row.reopened) {
            EXPECT_GT(doc.TransactionRoot().children.size(), shown);
            EXPECT_EQ(worker.ClassDecoded(), row.transfer);
            EXPECT_EQ(list.restoredIn, level);
            EXPECT_GT(list.restoredAt, 0u);
            EXPECT_EQ(list.restoredAt, level->children.size());
        } else {
            EXPECT_EQ(doc.TransactionRoot().children.size(), shown);
        }
        // Shown once: another call has nothing to show.
        EXPECT_TRUE(worker.ShowSavedCapture(folder / "cap.usb", &error));
        ASSERT_TRUE(list.Serve([&] { return worker.IsIdle(); }));
        EXPECT_EQ(source.opens.load(), row.reopened ? 1 : 0);
    }
}

TEST(CaptureWorkerStub, ACloseWhileTheWorkerWaitsForTheUiThreadEndsItAndTheResetNeverRuns) {
    ScriptedUnreadSource source(Session(3));
    source.answers = {kRecordsReadSincePass};
    source.SetAvailable(source.Capture().records.size() / 3);
    StubDevice device;
    device.source = &source;
    COrvaneDoc doc;
    FakeList list;
    auto worker = std::make_unique<CCaptureWorker>(doc, &device, &list, Fast());
    ASSERT_EQ(worker->StartRecord(), Start::Started);
    // The UI thread, closing, serves nothing: the worker waits for it.
    ASSERT_TRUE(WaitUntil([&] { return list.Posted() == 1; }));
    const size_t listed = doc.TransactionRoot().children.size();
    EXPECT_GT(listed, 0u);
    worker->Shutdown();
    EXPECT_TRUE(device.released);
    worker.reset();
    // Served after the worker went: it is not run.
    list.ServePosted();
    EXPECT_EQ(list.placesKept.load(), 0);
    EXPECT_EQ(doc.TransactionRoot().children.size(), listed);
}

}  // namespace
