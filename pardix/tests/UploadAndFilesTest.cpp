// The payload upload into the temporary store, and saving and opening the
// ".ph"/".data" pair, with faults injected mid-upload and mid-save.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "CDevice.h"
#include "CPayloadStore.h"
#include "CSetupLoader.h"
#include "ProxyFixture.h"

using namespace orvane;
using namespace orvane::pardix;
namespace fs = std::filesystem;
using namespace orvane::testing;

namespace {

// Holds the upload inside a chunk's payload read until released.
class GatedPort : public port::PortBackend {
public:
    explicit GatedPort(port::PortBackend& inner) : inner_(inner) {}
    int InitializeInterface(const port::InterfaceGuid* g) override { return inner_.InitializeInterface(g); }
    int WritePort(int d, int p, const void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        return inner_.WritePort(d, p, b, n, t, ms);
    }
    int ReadPort(int d, int p, void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        if (p == port::kBulkInPipe && n > 0x10000) {
            std::unique_lock guard(mutex_);
            entered_ = true;
            changed_.notify_all();
            changed_.wait(guard, [&] { return open_; });
        }
        return inner_.ReadPort(d, p, b, n, t, ms);
    }
    std::string Name() const override { return "gated"; }
    void WaitEntered() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [&] { return entered_; });
    }
    void Open() {
        std::lock_guard guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    port::PortBackend& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

// `packets` data packets of `bytes` payload bytes each (length field bytes + 2).
emu::BusCapture DataTraffic(int packets, size_t bytes) {
    emu::BusTrafficBuilder b(SpeedHigh);
    for (int i = 0; i < packets; ++i) {
        Bytes data(bytes);
        for (size_t k = 0; k < bytes; ++k) data[k] = uint8_t(i * 7 + k);
        b.In(2, 1, PidData0, data);
    }
    return b.Take();
}

class Upload : public ::testing::Test {
protected:
    emu::EmulatedAnalyser emu;
    std::unique_ptr<CDeviceProxy> proxy = std::make_unique<CDeviceProxy>(&emu);
    TempDir dir;
    std::string Path(const char* name) const { return dir / name; }

    // A finished capture whose status the proxy has read.
    void Capture(emu::BusCapture traffic, uint32_t payloadStart = 0, CDeviceProxy* source = nullptr) {
        source = source ? source : proxy.get();
        emu.SetPace(0);
        emu.SetCaptureStart(0, payloadStart);
        emu.SetTraffic(std::move(traffic));
        ASSERT_TRUE(source->ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
        ASSERT_TRUE(source->StartCapture());
        DeviceStatus s;
        ASSERT_EQ(source->GetStatus(&s), 1);
        ASSERT_TRUE(s.flags & StatusComplete);
    }

    // Uploads while polling the status as the worker thread does.
    void RunUpload() {
        ASSERT_EQ(proxy->BeginUpload(), 1);
        for (int i = 0; i < 60000 && proxy->UploadStateNow() != UploadIdle; ++i) {
            DeviceStatus s;
            proxy->GetStatus(&s);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(proxy->UploadStateNow(), UploadIdle);
        EXPECT_EQ(proxy->UploadProgress(), 100);
    }

    std::string Store() const { return proxy->TemporaryFolder() + "/" + CDeviceProxy::kStoreName; }

    void WaitIdle() {
        for (int i = 0; i < 60000 && proxy->UploadStateNow() != UploadIdle; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(proxy->UploadStateNow(), UploadIdle);
    }

    // An upload whose second chunk's payload read fails: the store holds the first chunk.
    void CutUploadShort() {
        emu.FailTransfer(10);
        ASSERT_EQ(proxy->BeginUpload(), 1);
        WaitIdle();
        EXPECT_LT(proxy->UploadProgress(), 100);
        EXPECT_EQ(fs::file_size(Store()), 0x20000u - 3);
    }

    std::vector<std::array<uint32_t, 4>> PayloadWindows(size_t from) const {
        std::vector<std::array<uint32_t, 4>> out;
        auto writes = emu.RegisterWrites();
        for (size_t i = from; i < writes.size(); ++i) {
            if (writes[i].address != RegPayloadWindow) continue;
            std::array<uint32_t, 4> w;
            std::memcpy(w.data(), writes[i].data.data(), 16);
            out.push_back(w);
        }
        return out;
    }

    // Every record and payload the source serves, as one byte string.
    Bytes Served(IDataSource& source) {
        Bytes out;
        PacketRecord r;
        for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
            out.insert(out.end(), reinterpret_cast<uint8_t*>(&r), reinterpret_cast<uint8_t*>(&r) + 16);
            if (!r.IsData()) continue;
            Bytes payload(r.PayloadLength() + 2, 0xEE);
            uint16_t crc = 0;
            int32_t n = source.GetPayload(&r, payload.data(), uint32_t(payload.size()), &crc);
            payload.resize(size_t(std::max(n, 0)));
            payload.push_back(uint8_t(crc));
            out.insert(out.end(), payload.begin(), payload.end());
        }
        return out;
    }
};

}  // namespace

TEST_F(Upload, ChunksFromAnUnalignedPayloadStart) {
    Capture(DataTraffic(300, 998), 0x1003);  // 300 x 1000 = 300000 payload bytes
    ASSERT_EQ(proxy->ControlImage().payloadBytesCaptured, 300000u);
    size_t before = emu.RegisterWrites().size();
    RunUpload();
    auto windows = PayloadWindows(before);
    ASSERT_EQ(windows.size(), 3u);
    const uint32_t want[3][2] = {{0x1000, 0x20000}, {0x21000, 0x20000}, {0x41000, 38880}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(windows[i][0], want[i][0]) << i;
        EXPECT_EQ(windows[i][1] * 8, want[i][1]) << i;
    }
    Bytes store = ReadFile(Store());
    ASSERT_EQ(store.size(), 301024u - 3);
    EXPECT_EQ(store, emu.ReadPayloadMemory(0x1003, store.size()));

    // The store is a private folder of ours, gone with the data source.
    const std::string folder = proxy->TemporaryFolder();
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    proxy.reset();
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(Upload, EndUploadIdleReturnsAtOnceAndMidUploadAfterTheChunk) {
    EXPECT_EQ(proxy->EndUpload(), 1);
    GatedPort gate(emu);
    proxy = std::make_unique<CDeviceProxy>(&gate);
    Capture(DataTraffic(300, 998), 0, proxy.get());
    ASSERT_EQ(proxy->BeginUpload(), 1);
    gate.WaitEntered();
    auto ended = std::async(std::launch::async, [&] { return proxy->EndUpload(); });
    while (proxy->UploadStateNow() != UploadStopRequested) std::this_thread::yield();
    gate.Open();
    EXPECT_EQ(ended.get(), 1);
    EXPECT_EQ(proxy->UploadStateNow(), UploadIdle);
    EXPECT_EQ(proxy->UploadProgress(), 100);
    EXPECT_EQ(fs::file_size(Store()), 0x20000u) << "the chunk in progress, no more";

    // A new upload starts from 0 and waits for its capture's end bits.
    ASSERT_TRUE(proxy->StartCapture());
    ASSERT_EQ(proxy->BeginUpload(), 1);
    EXPECT_EQ(proxy->UploadProgress(), 0);
    EXPECT_EQ(fs::file_size(Store()), 0u);
    proxy->EndUpload();
}

TEST_F(Upload, UnpluggedMidUploadEndsCleanlyAndLosesNothingSaved) {
    Capture(DataTraffic(60, 998));
    RunUpload();
    const Bytes first = Served(*proxy);
    ASSERT_EQ(proxy->OpenOrSave(Path("a.ph").c_str(), Path("a.data").c_str(), 1), 1);
    const Bytes savedPh = ReadFile(Path("a.ph")), savedData = ReadFile(Path("a.data"));

    Capture(DataTraffic(300, 998));
    emu.DisconnectAtCommand(3);  // the second chunk's window write
    ASSERT_EQ(proxy->BeginUpload(), 1);
    for (int i = 0; i < 60000 && proxy->UploadStateNow() != UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(proxy->UploadStateNow(), UploadIdle);
    EXPECT_LT(proxy->UploadProgress(), 100) << "cut short, not done";
    EXPECT_EQ(fs::file_size(Store()), 0x20000u);
    PacketRecord r;
    EXPECT_EQ(proxy->GetRecord(0, &r), RecordEnd) << "nothing read from a gone analyser";
    EXPECT_EQ(ReadFile(Path("a.ph")), savedPh);
    EXPECT_EQ(ReadFile(Path("a.data")), savedData);

    CDeviceProxy reopened(&emu);
    ASSERT_EQ(reopened.OpenOrSave(Path("a.ph").c_str(), Path("a.data").c_str(), 0), 1);
    EXPECT_EQ(Served(reopened), first);
}

// The save judges the payload by the capture's own records, and only the
// fetch before it (with its progress) goes on with an upload cut short.
TEST_F(Upload, AnUploadCutShortIsFetchedBeforeTheSaveOrTheSaveFails) {
    Capture(DataTraffic(300, 998), 0x1003);
    const Bytes shown = Served(*proxy);
    CutUploadShort();
    EXPECT_EQ(Served(*proxy), shown) << "the rest is still read from capture memory";

    // Not fetched: refused, naming the packets past the store's 0x20000 - 3 bytes.
    auto expectRefused = [&](const char* why) {
        EXPECT_EQ(proxy->OpenOrSave(Path("t.ph").c_str(), Path("t.data").c_str(), 1), 0) << why;
        const char* failed = nullptr;
        EXPECT_EQ(proxy->LastFileError(&failed), kFileErrorPayloadShort) << why;
        EXPECT_EQ(std::string(failed), Path("t.data"));
        uint32_t first = 0, count = 0;
        proxy->MissingPayload(&first, &count);
        // Data packet 131 (record 394) is the first whose bytes end past the store.
        EXPECT_EQ(first, 394u) << why;
        EXPECT_EQ(count, 169u) << why;
        EXPECT_FALSE(fs::exists(Path("t.ph")));
        EXPECT_FALSE(fs::exists(Path("t.data")));
    };
    expectRefused("never fetched");

    // Gone while fetching: still refused.
    emu.DisconnectAtCommand(3);
    ASSERT_EQ(proxy->FetchRest(), 1);
    WaitIdle();
    expectRefused("fetch cut by an unplug");

    // Back: the fetch goes on from where the store ends and the save writes the whole payload.
    emu.Reconnect();
    ASSERT_EQ(proxy->FetchRest(), 1);
    WaitIdle();
    EXPECT_EQ(proxy->FetchRest(), 0) << "nothing left to fetch";
    ASSERT_EQ(proxy->OpenOrSave(Path("t.ph").c_str(), Path("t.data").c_str(), 1), 1);
    EXPECT_EQ(ReadFile(Path("t.data")), emu.ReadPayloadMemory(0x1003, 301024 - 3));
    CDeviceProxy reopened(&emu);
    ASSERT_EQ(reopened.OpenOrSave(Path("t.ph").c_str(), Path("t.data").c_str(), 0), 1);
    EXPECT_EQ(Served(reopened), shown);
}

// After a reset or power cycle the analyser's image no longer shows the
// capture: what it lacks cannot be had, and the save says so instead of
// writing a short ".data" as though the capture were whole.
TEST_F(Upload, AnUploadCutShortThenAResetFailsTheSaveAndKeepsTheOldFiles) {
    CDevice device(&emu, "orvane-reset-short-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    DeviceStatus status;
    ASSERT_EQ(device.GetStatus(&status), 1);
    Capture(DataTraffic(300, 998), 0x1003, &source);
    ASSERT_EQ(source.GetCount(), 900u);
    PacketRecord r;
    ASSERT_EQ(source.GetRecord(899, &r), RecordOk);  // the parse has read every record
    emu.FailTransfer(10);  // the second chunk's payload read
    ASSERT_EQ(source.BeginUpload(), 1);
    for (int i = 0; i < 60000 && source.UploadStateNow() != UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(source.UploadStateNow(), UploadIdle);
    EXPECT_LT(source.UploadProgress(), 100);

    WriteFile(Path("old.ph"), Bytes(32, 1));
    WriteFile(Path("old.data"), Bytes(8, 2));
    source.Reset();
    ASSERT_EQ(device.GetStatus(&status), 1);  // the status poll takes the reset image
    ASSERT_FALSE(status.flags & StatusComplete);

    int32_t started = -1;
    ASSERT_EQ(device.Control(kControlFetchPayload, &started), 1);
    EXPECT_EQ(started, 0) << "the analyser no longer holds the capture";
    int32_t progress = 0;
    ASSERT_EQ(device.Control(kControlUploadProgress, &progress), 1);
    EXPECT_EQ(progress, 100) << "no wait for a fetch that never started";

    EXPECT_EQ(source.OpenOrSave(Path("old.ph").c_str(), Path("old.data").c_str(), 1), 0);
    const char* failed = nullptr;
    EXPECT_EQ(source.LastFileError(&failed), kFileErrorPayloadShort);
    EXPECT_EQ(std::string(failed), Path("old.data"));
    uint32_t first = 0, count = 0;
    EXPECT_EQ(source.MissingPayload(&first, &count), EIO) << "the read that cut the upload";
    EXPECT_EQ(first, 394u);
    EXPECT_EQ(count, 169u);
    EXPECT_EQ(ReadFile(Path("old.ph")), Bytes(32, 1));
    EXPECT_EQ(ReadFile(Path("old.data")), Bytes(8, 2));
    EXPECT_EQ(source.CachedCount(), 900u) << "the capture stays";
}

TEST_F(Upload, NoStoreToUploadIntoFailsTheSaveUntilOneCanBeMade) {
    struct Restore {
        const char* saved = std::getenv("TMPDIR");
        std::string before = saved ? saved : "";
        ~Restore() { saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR"); }
    } restore;
    ::setenv("TMPDIR", Path("missing").c_str(), 1);
    Capture(DataTraffic(40, 100));
    const Bytes shown = Served(*proxy);
    EXPECT_EQ(proxy->BeginUpload(), 0);
    EXPECT_EQ(proxy->OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 1), 0);
    const char* failed = nullptr;
    EXPECT_EQ(proxy->LastFileError(&failed), kFileErrorPayloadShort);
    EXPECT_EQ(std::string(failed), Path("s.data"));
    uint32_t first = 0, count = 0;
    EXPECT_EQ(proxy->MissingPayload(&first, &count), ENOENT) << "why the store is short";
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(count, 40u);
    EXPECT_FALSE(fs::exists(Path("s.data")));

    fs::create_directory(Path("missing"));
    ASSERT_EQ(proxy->FetchRest(), 1);
    WaitIdle();
    EXPECT_EQ(proxy->OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 1), 1);
    EXPECT_EQ(fs::file_size(Path("s.data")), 40u * 102 + 1024);
    CDeviceProxy reopened(&emu);
    ASSERT_EQ(reopened.OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 0), 1);
    EXPECT_EQ(Served(reopened), shown);
}

TEST_F(Upload, ASetupTheAnalyserRefusesLeavesTheCaptureItsPayloadAndItsUpload) {
    CDevice device(&emu, "orvane-refused-setup-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    DeviceStatus status;
    ASSERT_EQ(device.GetStatus(&status), 1);  // brought up: the setup's exchanges are counted from here
    Capture(DataTraffic(300, 998), 0x1003, &source);
    const uint32_t count = source.GetCount();
    const Bytes shown = Served(source);  // the parse's reading, payload straight from capture memory

    // The reset and a payload buffer smaller than the capture's reach the
    // analyser; the trigger table's write then fails.
    emu.FailTransfer(7);
    EXPECT_EQ(device.ApplySetup("<setup><storage packet=\"1024\" payload=\"65536\"/></setup>"), 0);
    EXPECT_EQ(emu.ControlBlock()[emu::EmulatedAnalyser::CbPayloadMask], 0xFFFFu);
    EXPECT_EQ(source.GetCount(), count);
    EXPECT_EQ(Served(source), shown) << "still read with the capture's own buffers";
    PacketRecord r;
    EXPECT_EQ(source.GetRecord(count, &r), RecordEnd);

    // The upload the end of the capture asks for still finds its payload, and a save keeps it all.
    ASSERT_EQ(device.Control(kControlBeginUpload, nullptr), 1);
    for (int i = 0; i < 60000 && source.UploadStateNow() != UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(source.UploadStateNow(), UploadIdle);
    ASSERT_EQ(source.OpenOrSave(Path("k.ph").c_str(), Path("k.data").c_str(), 1), 1);
    EXPECT_EQ(fs::file_size(Path("k.ph")), size_t(count) * 16);
    ASSERT_EQ(source.OpenOrSave(Path("k.ph").c_str(), Path("k.data").c_str(), 0), 1);
    EXPECT_EQ(Served(source), shown);

    // The next start records anew.
    emu.SetTraffic(DataTraffic(5, 10));
    ASSERT_EQ(device.ApplySetup("<setup><storage packet=\"1024\" payload=\"65536\"/></setup>"), 1);
    ASSERT_EQ(device.Start(), 1);
    ASSERT_EQ(device.GetStatus(&status), 1);
    EXPECT_EQ(source.GetCount(), 15u);
}

TEST_F(Upload, SavingWhileUploadingWaitsOrIsCancelled) {
    Capture(DataTraffic(300, 998));
    ASSERT_TRUE(proxy->StartCapture());  // the image lacks the end bits: the upload waits
    ASSERT_EQ(proxy->BeginUpload(), 1);
    int asked = 0;
    proxy->SetUploadWaiter([&](const std::atomic<int32_t>& progress) {
        ++asked;
        EXPECT_LT(progress.load(), 100);
        return false;
    });
    EXPECT_EQ(proxy->OpenOrSave(Path("c.ph").c_str(), Path("c.data").c_str(), 1), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(fs::exists(Path("c.ph")));
    EXPECT_FALSE(fs::exists(Path("c.data")));

    // The default: the save refreshes the status itself and waits for the whole store.
    proxy->SetUploadWaiter(nullptr);
    ASSERT_EQ(proxy->OpenOrSave(Path("c.ph").c_str(), Path("c.data").c_str(), 1), 1);
    EXPECT_EQ(proxy->UploadStateNow(), UploadIdle);
    EXPECT_EQ(fs::file_size(Path("c.data")), 301024u);
    EXPECT_EQ(fs::file_size(Path("c.ph")), 900u * 16) << "records the parse never reached are saved too";
}

TEST_F(Upload, SavingTwiceOntoTheOpenFilesKeepsThePayload) {
    Capture(DataTraffic(40, 100));
    RunUpload();
    const Bytes served = Served(*proxy);
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(proxy->OpenOrSave(Path("p.ph").c_str(), Path("p.data").c_str(), 1), 1) << round;
    EXPECT_EQ(fs::file_size(Path("p.data")), 40u * 102 + 1024);
    EXPECT_EQ(Served(*proxy), served);

    ASSERT_EQ(proxy->OpenOrSave(Path("p.ph").c_str(), Path("p.data").c_str(), 0), 1);
    ASSERT_EQ(proxy->OpenOrSave(Path("p.ph").c_str(), Path("p.data").c_str(), 1), 1);
    EXPECT_EQ(Served(*proxy), served);
    CDeviceProxy fresh(&emu);
    ASSERT_EQ(fresh.OpenOrSave(Path("p.ph").c_str(), Path("p.data").c_str(), 0), 1);
    EXPECT_EQ(Served(fresh), served);
}

TEST_F(Upload, AFailedSaveLeavesTheOldPairAndSaysSo) {
    Capture(DataTraffic(10, 20));
    RunUpload();
    ASSERT_EQ(proxy->OpenOrSave(Path("q.ph").c_str(), Path("q.data").c_str(), 1), 1);
    const Bytes ph = ReadFile(Path("q.ph")), data = ReadFile(Path("q.data"));

    Capture(DataTraffic(30, 50));
    RunUpload();
    EXPECT_EQ(proxy->OpenOrSave(Path("none/q.ph").c_str(), Path("none/q.data").c_str(), 1), 0);
    // The packet file cannot be replaced: the payload file already renamed goes back.
    fs::create_directories(Path("r.ph/inside"));
    WriteFile(Path("r.data"), data);
    EXPECT_EQ(proxy->OpenOrSave(Path("r.ph").c_str(), Path("r.data").c_str(), 1), 0);
    EXPECT_EQ(ReadFile(Path("r.data")), data);
    EXPECT_EQ(ReadFile(Path("q.ph")), ph);
    EXPECT_EQ(ReadFile(Path("q.data")), data);
    for (auto& entry : fs::directory_iterator(dir.path))
        EXPECT_EQ(entry.path().filename().string().find(".ph."), std::string::npos) << "no temporaries left";
}

// A save reports how far its writing is, and a cancel gives it up with the
// old pair whole; the payload's copy stops at the window it is told to.
TEST_F(Upload, ASaveCountsWhatItWritesAndACancelKeepsTheOldPair) {
    Capture(DataTraffic(300, 998));
    RunUpload();
    SaveProgress progress;
    proxy->SetSaveProgress(&progress);
    ASSERT_EQ(proxy->OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 1), 1);
    const uint64_t bytes = fs::file_size(Path("s.ph")) + fs::file_size(Path("s.data"));
    EXPECT_EQ(progress.total.load(), bytes);
    EXPECT_EQ(progress.done.load(), bytes);
    EXPECT_EQ(progress.Percent(), 100);
    const Bytes ph = ReadFile(Path("s.ph")), data = ReadFile(Path("s.data"));

    Capture(DataTraffic(40, 100));
    RunUpload();
    progress.cancel = true;
    EXPECT_EQ(proxy->OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 1), 0);
    const char* path = "unset";
    EXPECT_EQ(proxy->LastFileError(&path), 0) << "a cancel is no failure to report";
    EXPECT_STREQ(path, "");
    EXPECT_EQ(ReadFile(Path("s.ph")), ph);
    EXPECT_EQ(ReadFile(Path("s.data")), data);
    for (auto& entry : fs::directory_iterator(dir.path)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind("s.ph.", 0) && name.rfind("s.data.", 0)) << "no temporaries left: " << name;
    }
    proxy->SetSaveProgress(nullptr);
    ASSERT_EQ(proxy->OpenOrSave(Path("s.ph").c_str(), Path("s.data").c_str(), 1), 1) << "no progress, no cancel";
    EXPECT_EQ(fs::file_size(Path("s.data")), 40u * 102 + 1024);

    std::vector<uint8_t> three(3 * CPayloadStore::kWindowBytes + 5, 0x5A);
    WriteFile(Path("big.data"), three);
    CPayloadStore store;
    ASSERT_TRUE(store.Open(Path("big.data")));
    const int fd = ::open(Path("copy.data").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    std::vector<size_t> windows;
    errno = 0;
    EXPECT_FALSE(store.CopyTo(fd, [&](size_t n) {
        windows.push_back(n);
        return windows.size() < 2;
    }));
    EXPECT_EQ(errno, ECANCELED);
    ::close(fd);
    EXPECT_EQ(windows, (std::vector<size_t>{CPayloadStore::kWindowBytes, CPayloadStore::kWindowBytes}));
    EXPECT_EQ(fs::file_size(Path("copy.data")), 2u * CPayloadStore::kWindowBytes) << "nothing after the cancel";
}

TEST_F(Upload, ProjectsWithoutAnUploadedPayload) {
    // A finished capture never uploaded: refused until its payload is fetched.
    Capture(DataTraffic(20, 30));
    const Bytes served = Served(*proxy);
    ASSERT_EQ(proxy->OpenOrSave(Path("u.ph").c_str(), Path("u.data").c_str(), 1), 0);
    ASSERT_EQ(proxy->FetchRest(), 1);
    WaitIdle();
    ASSERT_EQ(proxy->OpenOrSave(Path("u.ph").c_str(), Path("u.data").c_str(), 1), 1);
    EXPECT_EQ(fs::file_size(Path("u.data")), 20u * 32 + 1024);
    CDeviceProxy saved(&emu);
    ASSERT_EQ(saved.OpenOrSave(Path("u.ph").c_str(), Path("u.data").c_str(), 0), 1);
    EXPECT_EQ(Served(saved), served);

    // A new project's: no records, no payload, and so is what it saves.
    ASSERT_EQ(saved.DiscardCapture(), 1);
    EXPECT_EQ(saved.GetCount(), 0u);
    ASSERT_EQ(saved.OpenOrSave(Path("v.ph").c_str(), Path("v.data").c_str(), 1), 1);
    EXPECT_EQ(fs::file_size(Path("v.ph")), 0u);
    EXPECT_EQ(fs::file_size(Path("v.data")), 0u);
}

TEST_F(Upload, OpeningRefusesFilesThatAreNotRegularAndChangesNothing) {
    Capture(DataTraffic(20, 30));
    RunUpload();
    ASSERT_EQ(proxy->OpenOrSave(Path("u.ph").c_str(), Path("u.data").c_str(), 1), 1);
    ASSERT_EQ(proxy->OpenOrSave(Path("u.ph").c_str(), Path("u.data").c_str(), 0), 1);
    const Bytes served = Served(*proxy);
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_directory(Path("folder"));
    fs::create_symlink("/dev/zero", Path("zero"));
    // More records than the analyser's largest buffer holds: no capture of its.
    std::ofstream(Path("big.ph")).close();
    fs::resize_file(Path("big.ph"), CSetupLoader::kMaxBufferBytes + 16);

    // A pipe would block the open, /dev/zero never ends, a folder cannot be read.
    const std::pair<std::string, std::string> cases[] = {
        {Path("pipe"), Path("u.data")},   {Path("folder"), Path("u.data")}, {Path("zero"), Path("u.data")},
        {"/dev/zero", Path("u.data")},    {Path("u.ph"), Path("pipe")},     {Path("u.ph"), Path("folder")},
        {Path("u.ph"), Path("zero")},     {Path("u.ph"), "/dev/zero"},     {Path("big.ph"), Path("u.data")},
    };
    for (const auto& [packets, payload] : cases) {
        EXPECT_EQ(proxy->OpenOrSave(packets.c_str(), payload.c_str(), 0), 0) << packets << " " << payload;
        EXPECT_EQ(Served(*proxy), served) << packets << " " << payload;
    }
}

// A record file cut while it loads keeps every whole record read before the
// cut, however the loader's chunks fall.
TEST_F(Upload, ARecordFileCutWhileItLoadsKeepsTheRecordsItStillHolds) {
    std::ofstream(Path("c.data")).put(0);
    std::ofstream(Path("c.ph")).close();
    fs::resize_file(Path("c.ph"), uint64_t(4u << 20) * 16);
    ASSERT_EQ(proxy->OpenOrSave(Path("c.ph").c_str(), Path("c.data").c_str(), 0), 1);
    const uint32_t kept = (1u << 16) + 1000;  // past the records the open reads itself
    fs::resize_file(Path("c.ph"), uint64_t(kept) * 16);
    PacketRecord r;
    uint32_t read = 0;
    while (proxy->GetRecord(read, &r) == RecordOk) ++read;
    EXPECT_GE(read, kept);
}

TEST_F(Upload, ARefusedOpenLeavesARunningUploadAlone) {
    GatedPort gate(emu);
    proxy = std::make_unique<CDeviceProxy>(&gate);
    Capture(DataTraffic(300, 998), 0, proxy.get());
    ASSERT_EQ(proxy->BeginUpload(), 1);
    gate.WaitEntered();
    fs::create_directory(Path("folder.ph"));
    WriteFile(Path("good.ph"), Bytes(160, 0));
    // A record file that is none, and a good one whose payload file is missing.
    auto refused = std::async(std::launch::async, [&] {
        return proxy->OpenOrSave(Path("folder.ph").c_str(), Path("folder.data").c_str(), 0) +
               proxy->OpenOrSave(Path("good.ph").c_str(), Path("good.data").c_str(), 0);
    });
    const bool atOnce = refused.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_EQ(proxy->UploadStateNow(), UploadRunning);
    gate.Open();
    EXPECT_TRUE(atOnce) << "the open waited for the upload it had no business ending";
    EXPECT_EQ(refused.get(), 0);
    EXPECT_FALSE(proxy->Offline()) << "the capture's records were not swapped out";
    for (int i = 0; i < 60000 && proxy->UploadStateNow() != UploadIdle; ++i) {
        DeviceStatus s;
        proxy->GetStatus(&s);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(fs::file_size(Store()), 300u * 1000 + 1024) << "the whole payload, not one chunk";
}

TEST_F(Upload, AStartRemovesTheStoresOfProcessesThatNoLongerRun) {
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    ::setenv("TMPDIR", dir.path.c_str(), 1);
    const std::string prefix = Path("orvane-") + std::to_string(::geteuid()) + "-";
    for (const char* name : {"dead", "unowned"}) fs::create_directory(prefix + name);
    WriteFile(prefix + "dead/owner", "4242", 4);
    WriteFile(prefix + "dead/orvane.data", "payload", 7);
    {
        // A store in use: the proxy's own, uploaded into.
        auto living = std::make_unique<CDeviceProxy>(&emu);
        Capture(DataTraffic(4, 10), 0, living.get());
        ASSERT_EQ(living->BeginUpload(), 1);
        const std::string own = living->TemporaryFolder();
        CDeviceProxy starting(&emu);
        EXPECT_FALSE(fs::exists(prefix + "dead"));
        EXPECT_TRUE(fs::exists(own + "/" + CDeviceProxy::kStoreName));
        EXPECT_TRUE(fs::exists(prefix + "unowned")) << "no owner yet: being made";
        living.reset();
        EXPECT_FALSE(fs::exists(own)) << "a clean end removes its own";
    }
    if (saved) ::setenv("TMPDIR", before.c_str(), 1);
    else ::unsetenv("TMPDIR");
}
