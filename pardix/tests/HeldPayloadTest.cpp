// Packets whose payload the analyser's payload ring wrote over before the
// capture ended: they are served no bytes, live, after a save, after an open
// and from files saved before they were marked; every other packet is served
// its own bytes, and the save of such a capture is whole.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "CDevice.h"
#include "CPayloadStore.h"
#include "CaptureFiles.h"
#include "ProxyFixture.h"
#include "RecordFetch.h"
#include "SessionBuilder.h"
#include "SetupXml.h"

using namespace orvane;
using namespace orvane::pardix;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

// IN transactions whose data packets each carry bytes of their own, of the sizes given.
emu::BusCapture OwnBytesTraffic(const std::vector<size_t>& sizes) {
    emu::BusTrafficBuilder b(SpeedHigh);
    for (size_t i = 0; i < sizes.size(); ++i) {
        Bytes data(sizes[i]);
        for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(k < 2 ? i >> (8 * k) : i * 31 + k);
        b.In(2, 1, PidData0, data);
    }
    return b.Take();
}
emu::BusCapture OwnBytesTraffic(int packets, size_t bytes) { return OwnBytesTraffic(std::vector<size_t>(size_t(packets), bytes)); }

// Packets of the sizes `first`, then 65 of 998 bytes, then one of `last`:
// 1000 bytes a packet on the bus with their CRC, so that the 64 KiB ring
// holds all but the first bytes written.
std::vector<size_t> AtTheRingsBoundary(std::initializer_list<size_t> first, size_t last) {
    std::vector<size_t> sizes(first);
    sizes.insert(sizes.end(), 65, 998);
    sizes.push_back(last);
    return sizes;
}

// Each data packet's bytes and CRC as it went over the bus, by its time stamp.
std::map<uint64_t, Bytes> OwnPayloads(const emu::BusCapture& c) {
    std::map<uint64_t, Bytes> own;
    for (const PacketRecord& r : c.records)
        if (r.IsData())
            own[r.Timestamp()] = Bytes(c.payload.begin() + r.PayloadOffset(), c.payload.begin() + r.PayloadOffset() + r.Length());
    return own;
}

struct Seen {
    size_t held = 0, lost = 0;
    size_t rows = 0;
};

// Every data packet `source` serves: nothing for one marked lost, its own bytes
// otherwise; with `kept` (the records the capture kept, oldest first) each row is that record.
Seen Check(IDataSource& source, const std::map<uint64_t, Bytes>& own, const std::string& when,
           const std::vector<PacketRecord>* kept = nullptr) {
    Seen seen;
    PacketRecord r;
    for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
        ++seen.rows;
        if (kept && (i >= kept->size() || r.word0 != (*kept)[i].word0)) {
            ADD_FAILURE() << when << ": record " << i << " is not the capture's";
            break;
        }
        if (!r.IsData()) continue;
        Bytes got(r.PayloadLength(), 0xEE);
        uint16_t crc = 0xBEEF;
        const int32_t n = source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc);
        if (r.PayloadLost()) {
            EXPECT_EQ(n, 0) << when << " record " << i;
            ++seen.lost;
            continue;
        }
        const Bytes& mine = own.at(r.Timestamp());
        EXPECT_EQ(n, int32_t(mine.size() - 2)) << when << " record " << i;
        got.push_back(uint8_t(crc));
        got.push_back(uint8_t(crc >> 8));
        if (got != mine) ADD_FAILURE() << when << ": record " << i << " is served another packet's bytes";
        ++seen.held;
    }
    return seen;
}

// The bytes and CRC `source` serves the data packet `r`, as on the bus; none when it serves none.
std::optional<Bytes> Served(IDataSource& source, const PacketRecord& r) {
    Bytes got(r.PayloadLength());
    uint16_t crc = 0;
    const int32_t n = source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc);
    if (n <= 0) return std::nullopt;
    got.resize(std::min(got.size(), size_t(n)));
    got.push_back(uint8_t(crc));
    got.push_back(uint8_t(crc >> 8));
    return got;
}

// `source` serves the data packet `r` its own bytes and CRC.
bool ServesItsOwn(IDataSource& source, const PacketRecord& r, const std::map<uint64_t, Bytes>& own) {
    const std::optional<Bytes> got = Served(source, r);
    return got && *got == own.at(r.Timestamp());
}

// The data packets the capture holds the payload of: among the `kept` records
// that end at traffic record `written`, the newest whose bytes, from theirs to
// the last written, fit in the `payloadBytes` the analyser says it holds.
size_t HeldOf(const emu::BusCapture& c, size_t written, size_t kept, uint64_t payloadBytes) {
    uint64_t newer = 0;
    size_t held = 0;
    for (size_t i = written; i-- > written - kept;) {
        if (!c.records[i].IsData()) continue;
        newer += c.records[i].Length();
        if (newer > payloadBytes) break;
        ++held;
    }
    return held;
}

// Holds pipe-1 transfers, once closed, until opened again (a transfer that
// hangs): a save of a capture online reads the status under the data-source
// lock. Reads of capture memory (pipe 3) can be made to fail, all of them or
// all after the next few, while status reads answer.
class StatusGate : public port::PortBackend {
public:
    explicit StatusGate(port::PortBackend& inner) : inner_(inner) {}
    int InitializeInterface(const port::InterfaceGuid* g) override { return inner_.InitializeInterface(g); }
    int WritePort(int d, int p, const void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        if (p == port::kCommandPipe) {
            Hold();
            ++commands_;
        }
        return inner_.WritePort(d, p, b, n, t, ms);
    }
    int ReadPort(int d, int p, void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        if (p == port::kCommandPipe) Hold();
        if (p == port::kBulkInPipe) {
            std::lock_guard guard(mutex_);
            if (failMemory_ && passing_ == 0) {
                *t = 0;
                return 0;
            }
            if (failMemory_) --passing_;
        }
        return inner_.ReadPort(d, p, b, n, t, ms);
    }
    std::string Name() const override { return "status gate"; }
    // Command blocks sent, answered or not.
    unsigned Commands() const { return commands_; }
    void FailMemoryReads(bool fail, unsigned passing = 0) {
        std::lock_guard guard(mutex_);
        failMemory_ = fail;
        passing_ = passing;
    }
    void Close() {
        std::lock_guard guard(mutex_);
        closed_ = true;
        entered_ = false;
    }
    void WaitEntered() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [&] { return entered_; });
    }
    void Open() {
        std::lock_guard guard(mutex_);
        closed_ = false;
        changed_.notify_all();
    }

private:
    void Hold() {
        std::unique_lock guard(mutex_);
        if (!closed_) return;
        entered_ = true;
        changed_.notify_all();
        changed_.wait(guard, [&] { return !closed_; });
    }

    port::PortBackend& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    bool entered_ = false;
    bool failMemory_ = false;
    unsigned passing_ = 0;
    std::atomic<unsigned> commands_{0};
};

// A data source that tells how many readers wait for its lock.
struct WatchedProxy : CDeviceProxy {
    using CDeviceProxy::CDeviceProxy;
    int ReadersWaiting() const { return readersWaiting_.load(); }
};

// Record windows the analyser was given: one a block of records read.
size_t RecordWindows(const emu::EmulatedAnalyser& emu) {
    const auto writes = emu.RegisterWrites();
    return size_t(std::count_if(writes.begin(), writes.end(), [](const auto& w) { return w.address == RegRecordWindow; }));
}

void WaitIdle(CDeviceProxy& proxy) {
    for (int i = 0; i < 60000 && proxy.UploadStateNow() != UploadIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(proxy.UploadStateNow(), UploadIdle);
}

// Runs the emulator's traffic into rings of 1 MiB each, as the device does.
void CaptureInOneMiB(CDevice& device) {
    DeviceStatus status;
    ASSERT_EQ(device.GetStatus(&status), 1);
    ASSERT_TRUE(device.Source().ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(device.Source().StartCapture());
    ASSERT_EQ(device.GetStatus(&status), 1);
}

// Captures into 32 K records and 1 MiB of payload (a pre-trigger share
// unless -1) and polls until the analyser says the capture ended.
void CaptureToItsEnd(CDevice& device, int preTriggerPercent, DeviceStatus* status) {
    app::SetupXml setup;
    ASSERT_TRUE(setup.SetPacketRecords(32768));
    ASSERT_TRUE(setup.SetPayloadBytes(1u << 20));
    if (preTriggerPercent >= 0) {
        ASSERT_TRUE(setup.SetPreTriggerPercent(preTriggerPercent));
    }
    ASSERT_EQ(device.ApplySetup(setup.Text().c_str()), 1);
    ASSERT_EQ(device.Start(), 1);
    for (int polls = 0; polls < 20000 && !(status->flags & StatusComplete); ++polls)
        ASSERT_EQ(device.GetStatus(status), 1);
    ASSERT_TRUE(status->flags & StatusComplete);
}

}  // namespace

TEST(HeldPayload, OnlyPacketsWhoseBytesTheRingKeptServeThemLiveSavedAndReopened) {
    struct Case {
        const char* name;
        std::vector<size_t> sizes;
        uint32_t prePayload;
        std::optional<size_t> trigger;
        uint32_t payloadStart;
        uint32_t packetBytes = 1u << 16;
        uint32_t payloadBytes = 1u << 16;
    };
    // 1000 bytes a packet in a 64 KiB payload ring.
    const Case cases[] = {
        {"nothing overwritten, a packet across the ring's end", std::vector<size_t>(40, 998), 0x10000, 0, 0x10000 - 500},
        {"wrapped once", std::vector<size_t>(100, 998), 0x10000, 0, 0},
        {"wrapped many times, from an odd start", std::vector<size_t>(300, 998), 0x10000, 0, 0x1003},
        {"triggered late with a pre-trigger share", std::vector<size_t>(300, 998), 0x4000, 450, 0x8000},
        {"never triggered, its pre-trigger share full", std::vector<size_t>(300, 998), 0x8000, std::nullopt, 0},
        // The ring wrote over one byte, or ten, or eleven, of the first written.
        {"the first packet, of no data, lost its first CRC byte", AtTheRingsBoundary({0}, 533), 0x10000, 0, 0},
        {"the first packet, of data, lost its first bytes; the empty one after it whole", AtTheRingsBoundary({8, 0}, 526),
         0x10000, 0, 0},
        {"the ring's boundary inside the empty packet after the first", AtTheRingsBoundary({8, 0}, 527), 0x10000, 0, 0},
        // 128 records kept of 900: the oldest is a data packet, its bytes long written over.
        {"the records ring wrapped too, its oldest a data packet", std::vector<size_t>(300, 998), 0x4000, 0, 0x1003,
         1u << 11, 1u << 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        emu::EmulatedAnalyser emu;
        const emu::BusCapture traffic = OwnBytesTraffic(c.sizes);
        const auto own = OwnPayloads(traffic);
        emu.SetPace(0);
        emu.SetCaptureStart(0, c.payloadStart);
        emu.SetTriggerRecord(c.trigger);
        emu.SetTraffic(traffic);
        CDeviceProxy proxy(&emu);
        ASSERT_TRUE(proxy.ConfigureStorage(c.packetBytes, c.packetBytes, c.prePayload, c.payloadBytes, 0));
        ASSERT_TRUE(proxy.StartCapture());
        DeviceStatus status;
        ASSERT_EQ(proxy.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusComplete);
        const size_t held = HeldOf(traffic, emu.RecordsWritten(), status.packets, status.payloadBytes);
        const auto last = traffic.records.begin() + ptrdiff_t(emu.RecordsWritten());
        if (c.packetBytes < (1u << 16)) {
            ASSERT_TRUE((last - status.packets)->IsData());
        }
        const size_t data = size_t(std::count_if(last - status.packets, last, [](const PacketRecord& r) { return r.IsData(); }));
        ASSERT_GT(held, 0u);

        const Seen live = Check(proxy, own, "live");
        EXPECT_EQ(live.held, held);
        EXPECT_EQ(live.held + live.lost, data);
        ASSERT_EQ(proxy.BeginUpload(), 1);
        ASSERT_NO_FATAL_FAILURE(WaitIdle(proxy));
        EXPECT_EQ(Check(proxy, own, "uploaded").held, held);

        ASSERT_EQ(proxy.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 1), 1) << "the save is whole";
        CDeviceProxy reopened(&emu);
        ASSERT_EQ(reopened.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 0), 1);
        const Seen opened = Check(reopened, own, "reopened");
        EXPECT_EQ(opened.held, held);
        EXPECT_EQ(opened.lost, live.lost);

        // Saved before packets were marked: the records as capture memory has
        // them, their offsets only made relative to the payload start.
        const ControlBlock cb = proxy.ControlImage();
        Bytes raw = emu.ReadPacketMemory(cb.packetStart, size_t(status.packets) * 16);
        for (size_t at = 0; at < raw.size(); at += 16) {
            PacketRecord r;
            std::memcpy(&r, raw.data() + at, 16);
            if (r.IsData()) r.SetPayloadOffset((r.PayloadOffset() - cb.payloadStart) & cb.payloadMask);
            std::memcpy(raw.data() + at, &r, 16);
        }
        WriteFile(dir / "old.ph", raw);
        CDeviceProxy old(&emu);
        ASSERT_EQ(old.OpenOrSave((dir / "old.ph").c_str(), (dir / "c.data").c_str(), 0), 1);
        const Seen before = Check(old, own, "saved unmarked");
        EXPECT_EQ(before.held, held);
        EXPECT_EQ(before.lost, live.lost);
    }
}

// Each capture on one data source is walked for its own lost payload: the
// second's packets that the ring wrote over are served no bytes either.
TEST(HeldPayload, EachOfTwoCapturesOnOneSourceServesOnlyThePayloadItsRingKept) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    CDeviceProxy proxy(&emu);
    const struct {
        int packets;
        uint32_t payloadStart;
    } rounds[] = {{300, 0x1003}, {250, 0x8000}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.packets);
        const emu::BusCapture traffic = OwnBytesTraffic(round.packets, 998);
        emu.SetCaptureStart(0, round.payloadStart);
        emu.SetTraffic(traffic);
        ASSERT_TRUE(proxy.ConfigureStorage(1u << 16, 1u << 16, 1u << 16, 1u << 16, 0));
        ASSERT_TRUE(proxy.StartCapture());
        DeviceStatus status;
        ASSERT_EQ(proxy.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusComplete);
        const size_t held = HeldOf(traffic, emu.RecordsWritten(), status.packets, status.payloadBytes);
        const Seen seen = Check(proxy, OwnPayloads(traffic), "live");
        EXPECT_EQ(seen.rows, status.packets);
        EXPECT_EQ(seen.held, held);
        EXPECT_EQ(seen.held + seen.lost, size_t(round.packets)) << "the ring wrote over the oldest";
        EXPECT_GT(seen.lost, 0u);
    }
}

// The disk's one 4 MiB READ with the settings a new project starts with, and
// with a trigger that never fires (the capture then keeps the newest of it,
// far more payload than the ring holds): it saves whole and opens again, and
// no packet is served bytes that are not its own.
TEST(HeldPayload, TheLargeReadWithDefaultSettingsSavesAndNoPacketShowsAnothersBytes) {
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Disk;
    options.speed = SpeedHigh;
    options.largeReadBytes = 4 * 1024 * 1024;
    const emu::BusCapture traffic = emu::SessionBuilder(options).Build();
    const auto own = OwnPayloads(traffic);
    for (const bool triggers : {true, false}) {
        SCOPED_TRACE(triggers);
        emu::EmulatedAnalyser emu;
        emu.SetTraffic(traffic);
        emu.SetPace(4096);
        if (!triggers) emu.SetTriggerRecord(std::nullopt);
        CDevice device(&emu, "orvane-large-read-" + std::to_string(::getpid()));
        ASSERT_EQ(device.ApplySetup(app::SetupXml().Text().c_str()), 1);
        ASSERT_EQ(device.Start(), 1);
        DeviceStatus status{};
        for (int polls = 0; polls < 20000 && !(status.flags & StatusComplete); ++polls)
            ASSERT_EQ(device.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusComplete);
        EXPECT_EQ(bool(status.flags & StatusTriggered), triggers);
        ASSERT_EQ(device.Control(kControlBeginUpload, nullptr), 1);
        CDeviceProxy& source = device.Source();
        ASSERT_NO_FATAL_FAILURE(WaitIdle(source));

        const Seen live = Check(source, own, "live");
        if (!triggers) EXPECT_GT(live.lost, live.held) << "the ring wrote over most of the read";
        int32_t started = -1;
        ASSERT_EQ(device.Control(kControlFetchPayload, &started), 1);
        EXPECT_EQ(started, 0) << "nothing of the capture is left to fetch";

        TempDir dir;
        ASSERT_EQ(source.OpenOrSave((dir / "l.ph").c_str(), (dir / "l.data").c_str(), 1), 1);
        CDeviceProxy reopened(&emu);
        ASSERT_EQ(reopened.OpenOrSave((dir / "l.ph").c_str(), (dir / "l.data").c_str(), 0), 1);
        const Seen opened = Check(reopened, own, "reopened");
        EXPECT_EQ(opened.held, live.held);
        EXPECT_EQ(opened.lost, live.lost);
    }
}

// An ended capture is read whole from the analyser before any row is served.
// One failed transfer during that read costs no row; an unplug part way
// serves the rows read so far, none with payload (which of them kept it shows
// only from the capture's newest end), says what is unread and refuses the
// save; after a replug the next pass reads on and serves the whole capture.
// 7,000 IN transactions with 32 K records, 1 MiB of payload, half before the
// trigger: triggered at once the capture ends at 16,384 records, all holding
// their payload; triggered late it keeps more, the oldest without theirs.
TEST(HeldPayload, AFailedRecordReadIsTriedAgainAndAnUnplugServesTheRowsReadThenAllAfterTheReplug) {
    struct Case {
        const char* name;
        size_t trigger;
        size_t bytes;
    };
    const Case cases[] = {{"all held", 0, 8}, {"the oldest lost", 15000, 200}};
    enum class Fault { FailedTransfer, Unplug, UnplugThenSetup };
    const char* const faults[] = {", one failed transfer", ", unplugged", ", unplugged, then a setup"};
    for (const Case& c : cases) {
        for (const Fault fault : {Fault::FailedTransfer, Fault::Unplug, Fault::UnplugThenSetup}) {
            SCOPED_TRACE(std::string(c.name) + faults[int(fault)]);
            const emu::BusCapture traffic = OwnBytesTraffic(7000, c.bytes);
            const auto own = OwnPayloads(traffic);
            emu::EmulatedAnalyser emu;
            emu.SetTraffic(traffic);
            emu.SetTriggerRecord(c.trigger);
            CDevice device(&emu, "orvane-record-read-" + std::to_string(::getpid()));
            DeviceStatus status{};
            ASSERT_NO_FATAL_FAILURE(CaptureToItsEnd(device, 50, &status));
            if (c.trigger == 0) {
                ASSERT_EQ(status.packets, 16384u);
            }
            const size_t written = emu.RecordsWritten();
            const std::vector<PacketRecord> kept(traffic.records.begin() + ptrdiff_t(written - status.packets),
                                                 traffic.records.begin() + ptrdiff_t(written));
            const size_t data = size_t(std::count_if(kept.begin(), kept.end(), [](const PacketRecord& r) { return r.IsData(); }));
            const size_t held = HeldOf(traffic, written, status.packets, status.payloadBytes);
            ASSERT_GT(held, 0u);
            if (c.trigger) {
                ASSERT_LT(held, data);
            }
            // The payload is uploaded first, as the worker starts it before the parse.
            CDeviceProxy& source = device.Source();
            ASSERT_EQ(source.BeginUpload(), 1);
            ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
            ASSERT_EQ(source.UploadProgress(), 100);
            uint32_t read = 0, all = 0;

            if (fault == Fault::FailedTransfer) {
                const size_t windows = emu.RegisterWrites().size();
                emu.FailTransfer(25);  // the fifth block's memory read
                const Seen seen = Check(source, own, "a failed transfer", &kept);
                EXPECT_EQ(seen.rows, status.packets);
                EXPECT_EQ(seen.held, held);
                EXPECT_EQ(seen.held + seen.lost, data);
                size_t fetches = 0;
                const auto writes = emu.RegisterWrites();
                for (size_t i = windows; i < writes.size(); ++i) fetches += writes[i].address == RegRecordWindow;
                EXPECT_EQ(fetches, (status.packets + kRecordsPerRead - 1) / kRecordsPerRead + 2)
                    << "one block read again, once the block before it is found as it was read";
                EXPECT_EQ(source.UnreadRecords(&read, &all), 0);
                continue;
            }

            emu.DisconnectAtCommand(8);  // the status read and three blocks pass
            const Seen cut = Check(source, own, "unplugged", &kept);
            EXPECT_EQ(cut.rows, 3 * kRecordsPerRead);
            EXPECT_EQ(cut.held, 0u) << "no payload before the walk has judged it";
            EXPECT_EQ(source.UnreadRecords(&read, &all), EIO);
            EXPECT_EQ(read, 3 * kRecordsPerRead);
            EXPECT_EQ(all, status.packets);
            EXPECT_EQ(Check(source, own, "unplugged, a second pass", &kept).rows, 3 * kRecordsPerRead);
            TempDir dir;
            if (fault == Fault::UnplugThenSetup) {
                // Kept as a setup keeps it: the rows read are the capture, saved as served.
                source.KeepCapture();
                const Seen kept3 = Check(source, own, "kept", &kept);
                EXPECT_EQ(kept3.rows, 3 * kRecordsPerRead);
                EXPECT_EQ(kept3.held, 0u);
                ASSERT_EQ(source.OpenOrSave((dir / "k.ph").c_str(), (dir / "k.data").c_str(), 1), 1);
                CDeviceProxy reopened(&emu);
                ASSERT_EQ(reopened.OpenOrSave((dir / "k.ph").c_str(), (dir / "k.data").c_str(), 0), 1);
                const Seen opened = Check(reopened, own, "kept, reopened", &kept);
                EXPECT_EQ(opened.rows, 3 * kRecordsPerRead);
                EXPECT_EQ(opened.held, 0u);
                continue;
            }
            EXPECT_EQ(source.OpenOrSave((dir / "r.ph").c_str(), (dir / "r.data").c_str(), 1), 0);
            EXPECT_EQ(source.LastFileError(nullptr), kFileErrorRecordsShort);
            EXPECT_FALSE(fs::exists(dir / "r.ph"));

            emu.Reconnect();
            // A pass that goes on past the rows read asks the analyser again there.
            PacketRecord next;
            EXPECT_EQ(source.GetRecord(3 * kRecordsPerRead, &next), RecordOk);
            EXPECT_EQ(next.Timestamp(), kept[3 * kRecordsPerRead].Timestamp());
            const Seen whole = Check(source, own, "after the replug", &kept);
            EXPECT_EQ(whole.rows, status.packets);
            EXPECT_EQ(whole.held, held);
            EXPECT_EQ(whole.held + whole.lost, data);
            EXPECT_EQ(source.UnreadRecords(&read, &all), 0);
            ASSERT_EQ(source.OpenOrSave((dir / "r.ph").c_str(), (dir / "r.data").c_str(), 1), 1);
            CDeviceProxy reopened(&emu);
            ASSERT_EQ(reopened.OpenOrSave((dir / "r.ph").c_str(), (dir / "r.data").c_str(), 0), 1);
            const Seen opened = Check(reopened, own, "reopened", &kept);
            EXPECT_EQ(opened.rows, status.packets);
            EXPECT_EQ(opened.held, held);
        }
    }
}

// A record read cut short at its first status read, one that clears during a
// pass, and one the analyser's next capture outlives: every pass is told what
// it was served, a save is refused only while the analyser may still give the
// rest, and no row of another capture is ever served or saved as this one's.
TEST(HeldPayload, AReadCutShortIsToldUntilReadWholeAndAnotherCapturesRowsAreNeverThisOnes) {
    enum class Fault { StatusFailsOnce, StatusReplyFailsOnce, UnpluggedAtTheStatus, ReplugMidPass, ReplugBeforeAPass, AnotherCapture };
    const std::pair<Fault, const char*> faults[] = {
        {Fault::StatusFailsOnce, "the status read fails once"},
        {Fault::StatusReplyFailsOnce, "the status reply fails once"},
        {Fault::UnpluggedAtTheStatus, "unplugged at the first status read"},
        {Fault::ReplugMidPass, "replugged half-way through the rows read"},
        {Fault::ReplugBeforeAPass, "replugged before a pass from row 0"},
        {Fault::AnotherCapture, "another capture on the analyser"},
    };
    const uint32_t cut = 3 * kRecordsPerRead;  // DisconnectAtCommand(8): the status read and three blocks pass
    for (const auto& [fault, name] : faults) {
        SCOPED_TRACE(name);
        const emu::BusCapture traffic = OwnBytesTraffic(1500, 8);
        const auto own = OwnPayloads(traffic);
        emu::EmulatedAnalyser emu;
        emu.SetTraffic(traffic);
        CDevice device(&emu, "orvane-record-cut-" + std::to_string(::getpid()));
        DeviceStatus status{};
        ASSERT_NO_FATAL_FAILURE(CaptureToItsEnd(device, -1, &status));
        const uint32_t n = status.packets;
        ASSERT_GT(n, cut + kRecordsPerRead);
        const size_t written = emu.RecordsWritten();
        const std::vector<PacketRecord> kept(traffic.records.begin() + ptrdiff_t(written - n),
                                             traffic.records.begin() + ptrdiff_t(written));
        const size_t held = HeldOf(traffic, written, n, status.payloadBytes);
        CDeviceProxy& source = device.Source();
        source.SetRetryPause(std::chrono::milliseconds(0));
        // The store holds the payload (but for another capture's, whose save must fetch none).
        if (fault != Fault::AnotherCapture) {
            ASSERT_EQ(source.BeginUpload(), 1);
            ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
        }
        TempDir dir;
        auto save = [&] { return source.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 1); };
        auto reopened = [&](std::vector<PacketRecord>* rows) {
            CDeviceProxy opened(&emu);
            EXPECT_EQ(opened.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 0), 1);
            PacketRecord r;
            for (uint32_t i = 0; opened.GetRecord(i, &r) == RecordOk; ++i) rows->push_back(r);
            return Check(opened, own, "reopened", &kept);
        };
        uint32_t read = 0, all = 0;

        if (fault == Fault::StatusFailsOnce || fault == Fault::StatusReplyFailsOnce) {
            emu.FailTransfer(fault == Fault::StatusFailsOnce ? 1 : 2);
            const Seen seen = Check(source, own, name, &kept);
            EXPECT_EQ(seen.rows, n) << "the status read is tried again";
            EXPECT_EQ(seen.held, held);
            EXPECT_EQ(source.UnreadRecords(&read, &all), 0);
            continue;
        }
        if (fault == Fault::UnpluggedAtTheStatus) {
            emu.DisconnectAtCommand(1);
            EXPECT_EQ(Check(source, own, name, &kept).rows, 0u);
            // Judged by the image the status poll saw it end with: 0 of all, told.
            EXPECT_EQ(source.UnreadRecords(&read, &all), EIO);
            EXPECT_EQ(read, 0u);
            EXPECT_EQ(all, n);
            EXPECT_EQ(save(), 0);
            EXPECT_EQ(source.LastFileError(nullptr), kFileErrorRecordsShort);
            EXPECT_FALSE(fs::exists(dir / "c.ph"));
            emu.Reconnect();
            const Seen whole = Check(source, own, "after the replug", &kept);
            EXPECT_EQ(whole.rows, n);
            EXPECT_EQ(whole.held, held);
            EXPECT_EQ(source.UnreadRecords(&read, &all), 0);
            ASSERT_EQ(save(), 1);
            std::vector<PacketRecord> rows;
            EXPECT_EQ(reopened(&rows).held, held);
            EXPECT_EQ(rows.size(), n);
            continue;
        }

        emu.DisconnectAtCommand(8);
        EXPECT_EQ(Check(source, own, "unplugged", &kept).rows, cut);
        EXPECT_EQ(source.UnreadRecords(&read, &all), EIO) << "the analyser may still give the rest";
        EXPECT_EQ(read, cut);
        EXPECT_EQ(all, n);

        if (fault == Fault::ReplugMidPass) {
            // The rows read before the replug come bare, the rest whole.
            size_t rows = 0, bare = 0, bareHeld = 0;
            PacketRecord r;
            for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
                if (i == cut / 2) emu.Reconnect();
                ++rows;
                bare += r.PayloadUnread();
                bareHeld += i < cut && r.IsData() && !r.PayloadLost();
            }
            EXPECT_EQ(rows, n);
            EXPECT_GT(bare, 0u);
            EXPECT_EQ(bareHeld, 0u);
            // Told: every record is read now, but that pass lacked the payload of some.
            EXPECT_EQ(source.UnreadRecords(&read, &all), kRecordsReadSincePass);
            EXPECT_EQ(read, n);
            EXPECT_EQ(all, n);
            // A reader of a row here and there (the list) is no pass.
            for (uint32_t i = 0; i < cut; ++i) ASSERT_EQ(source.GetRecord(i % 40, &r), RecordOk);
            EXPECT_EQ(source.UnreadRecords(&read, &all), kRecordsReadSincePass);
            const unsigned commands = emu.CommandCount();
            const Seen whole = Check(source, own, "the pass after", &kept);
            EXPECT_EQ(whole.rows, n);
            EXPECT_EQ(whole.held, held);
            EXPECT_EQ(emu.CommandCount(), commands + 1) << "served from memory: only the end asks the analyser";
            EXPECT_EQ(source.UnreadRecords(&read, &all), 0) << "a pass from row 0 read them again";
            continue;
        }
        if (fault == Fault::ReplugBeforeAPass) {
            emu.Reconnect();
            // A new pass asks the analyser again at its first row.
            const Seen whole = Check(source, own, "after the replug", &kept);
            EXPECT_EQ(whole.rows, n);
            EXPECT_EQ(whole.held, held);
            EXPECT_EQ(source.UnreadRecords(&read, &all), 0);
            continue;
        }

        // Another program runs a capture on the analyser: the rest of this one is gone.
        emu.Reconnect();
        {
            CDeviceProxy other(&emu);
            ASSERT_TRUE(other.ConfigureStorage(32768 * 16, 32768 * 16, 1u << 20, 1u << 20, 0));
            emu.SetTraffic(InTraffic(cut + 2 * kRecordsPerRead));
            ASSERT_TRUE(other.StartCapture());
            DeviceStatus theirs{};
            for (int polls = 0; polls < 20000 && !(theirs.flags & StatusComplete); ++polls)
                ASSERT_EQ(other.GetStatus(&theirs), 1);
            ASSERT_TRUE(theirs.flags & StatusComplete);
            ASSERT_NE(theirs.packets, n);
        }
        const Seen rest = Check(source, own, "another capture shown", &kept);
        EXPECT_EQ(rest.rows, cut);
        EXPECT_EQ(rest.held, 0u);
        EXPECT_EQ(source.UnreadRecords(&read, &all), kRecordsNoLongerHeld) << "a replug cannot help";
        EXPECT_EQ(read, cut);
        EXPECT_EQ(all, n);
        // Saved as read, each packet without payload, as a capture kept across a start.
        ASSERT_EQ(save(), 1);
        std::vector<PacketRecord> rows;
        EXPECT_EQ(reopened(&rows).held, 0u);
        ASSERT_EQ(rows.size(), cut);
        for (uint32_t i = 0; i < cut; ++i)
            if (rows[i].IsData()) ASSERT_TRUE(rows[i].PayloadUnread()) << "record " << i;
    }
}

namespace {

// The same exchange again with other bytes, a moment later (its records alike
// but for their time stamps), or at once but triggered elsewhere.
emu::BusCapture Rerun(emu::BusCapture c, bool later = true) {
    if (later)
        for (PacketRecord& r : c.records) r.SetTimestamp(r.Timestamp() + 4321);
    for (uint8_t& b : c.payload) b ^= 0xA5;
    return c;
}

struct Tally {
    size_t rows = 0, held = 0, foreign = 0;
    size_t promised = 0;  // asked without a read, said to have bytes it was then not served
    int32_t end = RecordOk;
};

// What `source` serves of the capture whose records are `kept`: its rows,
// the packets served their own bytes, and whatever is not this capture's (a
// record, or bytes served as a packet's that are not its own).
Tally TallyOf(IDataSource& source, const std::map<uint64_t, Bytes>& own, const std::vector<PacketRecord>& kept) {
    Tally t;
    PacketRecord r;
    for (uint32_t i = 0; (t.end = source.GetRecord(i, &r)) == RecordOk; ++i, ++t.rows) {
        if (i >= kept.size() || r.word0 != kept[i].word0) {
            ++t.foreign;
            continue;
        }
        if (!r.IsData()) continue;
        const int32_t said = source.GetPayload(&r, nullptr, 0, nullptr);
        const std::optional<Bytes> got = Served(source, r);
        if (!got) {
            t.promised += said > 0;
            continue;
        }
        ++(*got == own.at(r.Timestamp()) ? t.held : t.foreign);
    }
    return t;
}

// The analyser's link with faults of its own beside the gate's (reads of
// capture memory that fail from a given one on): status reads that fail a
// given number of times in a row; and, at a given read of capture memory,
// something done meanwhile (before that read fails, or once it is done).
class FlakyLink : public StatusGate {
public:
    using StatusGate::StatusGate;
    int WritePort(int d, int p, const void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        CommandBlock block{};
        if (p == port::kCommandPipe && n == sizeof block) std::memcpy(&block, b, sizeof block);
        if (block.opcode == OpReadRegisters && block.address == RegControlBlock && statusFailures > 0) {
            --statusFailures;
            return 0;
        }
        return StatusGate::WritePort(d, p, b, n, t, ms);
    }
    int ReadPort(int d, int p, void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        if (p != port::kBulkInPipe || !meanwhile || --meanwhileAt > 0) return StatusGate::ReadPort(d, p, b, n, t, ms);
        const std::function<void()> act = std::move(meanwhile);
        meanwhile = nullptr;
        if (failThere) {
            act();
            return 0;
        }
        const int done = StatusGate::ReadPort(d, p, b, n, t, ms);
        act();
        return done;
    }
    std::string Name() const override { return "flaky link"; }
    int statusFailures = 0;
    int meanwhileAt = 0;  // counts reads of capture memory down to the one
    bool failThere = false;
    std::function<void()> meanwhile;
};

}  // namespace

// The analyser unplugged at each command in turn of a capture's reading (its
// records read whole or in part, its payload uploaded before, after, at its
// return or not at all), and while it is away reset, cleared as a power cycle
// leaves it, given another capture (the same exchange again, triggered
// elsewhere, or a longer one) or left alone; and, at each read of capture
// memory (failed or not), the analyser seen by a status read to go and come
// back with the same exchange again. Back, no record or byte of another
// capture is ever served, fetched or saved as this one's, nor a packet said
// to have bytes that it is then not served; left alone, the capture is served
// and saved whole.
TEST(HeldPayload, NoByteOfAnotherCaptureIsServedOrSavedWhereverTheAnalyserWentAway) {
    const emu::BusCapture ours = OwnBytesTraffic(400, 330);  // two record blocks, two upload chunks
    const auto own = OwnPayloads(ours);
    enum class Order { NoUpload, UploadFirst, RecordsFirst, UploadAtReturn };
    enum class Away { Nothing, Reset, Cleared, SameExchange, OtherTrigger, Longer };
    const std::pair<Away, const char*> aways[] = {{Away::Nothing, "left alone"},
                                                  {Away::Reset, "reset"},
                                                  {Away::Cleared, "memory cleared"},
                                                  {Away::SameExchange, "the same exchange with other bytes"},
                                                  {Away::OtherTrigger, "the same records, triggered elsewhere"},
                                                  {Away::Longer, "a longer capture"}};
    struct Strike {
        unsigned command = 0;  // unplugged at this command of the reading (0: never)
        unsigned read = 0;     // or at this read of capture memory, seen to go and come back
        bool fails = false;    // and that read fails
    };
    auto another = [&](emu::EmulatedAnalyser& emu, Away away) {
        CDeviceProxy other(&emu);
        if (away == Away::Reset) other.Reset();
        if (away == Away::Cleared) ASSERT_EQ(other.ClearMemory(), 1);
        if (away == Away::Reset || away == Away::Cleared) return;
        ASSERT_TRUE(other.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
        emu.SetTraffic(away == Away::Longer ? Rerun(OwnBytesTraffic(500, 330)) : Rerun(ours, away == Away::SameExchange));
        emu.SetTriggerRecord(away == Away::OtherTrigger ? 300 : 0);
        ASSERT_TRUE(other.StartCapture());
        DeviceStatus theirs;
        ASSERT_EQ(other.GetStatus(&theirs), 1);
        ASSERT_TRUE(theirs.flags & StatusComplete);
        ASSERT_EQ(theirs.packets == ours.records.size(), away != Away::Longer);
    };
    // The commands and memory reads the reading takes in each order, from a dry run.
    std::map<Order, std::pair<unsigned, unsigned>> taken;
    auto trial = [&](Order order, Away away, Strike strike) {
        emu::EmulatedAnalyser emu;
        emu.SetPace(0);
        emu.SetTraffic(ours);
        FlakyLink link(emu);
        CDeviceProxy source(&link);
        source.SetRetryPause(std::chrono::milliseconds(0));
        ASSERT_TRUE(source.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
        ASSERT_TRUE(source.StartCapture());
        DeviceStatus status;
        ASSERT_EQ(source.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusComplete);
        const std::vector<PacketRecord> kept(ours.records.begin(), ours.records.begin() + status.packets);
        ASSERT_EQ(kept.size(), ours.records.size());

        // With none of its records read, nothing tells it from the same
        // exchange again: same sizes, start and trigger.
        bool readBefore = false;
        auto recordsRead = [&] {
            uint32_t part = 0;
            source.UnreadRecords(&part, nullptr);
            readBefore = source.CachedCount() > 0 || part > 0;
        };
        const unsigned commands = emu.CommandCount(), reads = emu.TransferCount(port::kBulkInPipe);
        if (strike.command) emu.DisconnectAtCommand(strike.command);
        if (strike.read) {
            link.meanwhileAt = int(strike.read);
            link.failThere = strike.fails;
            link.meanwhile = [&] {
                recordsRead();
                link.statusFailures = 1;
                DeviceStatus lost;
                EXPECT_EQ(source.GetStatus(&lost), 0);
                another(emu, away);
            };
        }
        auto upload = [&] {
            ASSERT_EQ(source.BeginUpload(), 1);
            ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
        };
        if (order == Order::UploadFirst) ASSERT_NO_FATAL_FAILURE(upload());
        PacketRecord r;
        for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
            // A packet at each end and in the middle, each in an upload chunk of its own.
            if (r.IsData() && (i == 1 || i == status.packets / 2 + 1 || i == status.packets - 2)) {
                uint8_t bytes[400];
                uint16_t crc;
                source.GetPayload(&r, bytes, sizeof bytes, &crc);
            }
        }
        if (order == Order::RecordsFirst) ASSERT_NO_FATAL_FAILURE(upload());
        if (!strike.command && !strike.read) {
            taken[order] = {emu.CommandCount() - commands, emu.TransferCount(port::kBulkInPipe) - reads};
            return;
        }
        if (strike.command) {
            // The poll: unplugged now, if no command of the reading was.
            if (strike.command > taken[order].first) source.GetStatus(&status);
            recordsRead();
            emu.Reconnect();
            if (away != Away::Nothing) ASSERT_NO_FATAL_FAILURE(another(emu, away));
        }
        if (away == Away::SameExchange && !readBefore) return;

        if (order == Order::UploadAtReturn) ASSERT_NO_FATAL_FAILURE(upload());
        const Tally back = TallyOf(source, own, kept);
        EXPECT_EQ(back.foreign, 0u) << "back";
        EXPECT_EQ(back.end, RecordEnd) << "back";
        source.GetStatus(&status);
        const Tally polled = TallyOf(source, own, kept);
        EXPECT_EQ(polled.foreign, 0u) << "after a poll";
        EXPECT_EQ(polled.promised, 0u) << "after a poll";
        EXPECT_EQ(polled.end, RecordEnd) << "after a poll";
        if (source.FetchRest() == 1) ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
        const Tally fetched = TallyOf(source, own, kept);
        EXPECT_EQ(fetched.foreign, 0u) << "after the rest was fetched";
        const int32_t unread = source.UnreadRecords(nullptr, nullptr);
        if (away != Away::Nothing) EXPECT_TRUE(unread == 0 || unread == kRecordsNoLongerHeld) << unread << ": gone for good";
        TempDir dir;
        const bool saved = source.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 1) == 1;
        if (saved) {
            CDeviceProxy reopened(&emu);
            ASSERT_EQ(reopened.OpenOrSave((dir / "c.ph").c_str(), (dir / "c.data").c_str(), 0), 1);
            const Tally opened = TallyOf(reopened, own, kept);
            EXPECT_EQ(opened.foreign, 0u) << "saved";
            if (away == Away::Nothing) EXPECT_EQ(opened.held, own.size());
        }
        if (away == Away::Nothing) {
            EXPECT_EQ(fetched.rows, kept.size());
            EXPECT_EQ(fetched.held, own.size()) << "back whole";
            EXPECT_TRUE(saved);
        }
    };
    const Order orders[] = {Order::NoUpload, Order::UploadFirst, Order::RecordsFirst, Order::UploadAtReturn};
    for (const Order order : orders) {
        SCOPED_TRACE("order " + std::to_string(int(order)));
        ASSERT_NO_FATAL_FAILURE(trial(order, Away::Nothing, {}));
        ASSERT_GT(taken[order].first, 3u);
        for (unsigned at = 1; at <= taken[order].first + 1; ++at) {
            for (const auto& [away, name] : aways) {
                SCOPED_TRACE(std::string(name) + ", unplugged at command " + std::to_string(at));
                trial(order, away, {at, 0, false});
            }
        }
        for (unsigned at = 1; at <= taken[order].second; ++at) {
            for (const bool fails : {false, true}) {
                SCOPED_TRACE("gone and back with the same exchange at memory read " + std::to_string(at) +
                             (fails ? ", which fails" : ""));
                trial(order, Away::SameExchange, {0, at, fails});
            }
        }
    }
}

// Two captures on one data source, the first ended in each way a read of it
// can end: the second is served whole, its rows from memory, with nothing
// said of it, whatever the first left behind. A pass over a capture whose
// record reads fail asks the analyser a bounded number of times.
TEST(HeldPayload, TheCaptureAfterOneThatEndedInAFailureIsServedWholeAndSaidNothingOf) {
    struct Run {
        emu::EmulatedAnalyser& emu;
        FlakyLink& link;
        CDeviceProxy& source;
        const std::map<uint64_t, Bytes>& own;
        TempDir& dir;
    };
    auto pass = [](Run& run) { return Check(run.source, run.own, "the first"); };
    auto commandsOf = [](Run& run, const std::function<void()>& what) {
        const unsigned before = run.emu.TransferCount(port::kCommandPipe);
        what();
        return run.emu.TransferCount(port::kCommandPipe) - before;
    };
    auto gone = [&](Run& run) {
        run.emu.DisconnectAtCommand(4);  // the status read and a block pass
        EXPECT_EQ(pass(run).rows, kRecordsPerRead);
        run.emu.Reconnect();
        CDeviceProxy(&run.emu).Reset();
        EXPECT_EQ(pass(run).rows, kRecordsPerRead);
        EXPECT_EQ(run.source.UnreadRecords(nullptr, nullptr), kRecordsNoLongerHeld);
    };
    const struct {
        const char* name;
        bool live;  // the capture runs on when its traffic is used up
        std::function<void(Run&)> end;
    } rows[] = {
        {"gone, the analyser reset while unplugged", false, gone},
        {"replugged part way through a pass", false,
         [&](Run& run) {
             run.emu.DisconnectAtCommand(4);
             pass(run);
             PacketRecord r;
             for (uint32_t i = 0; run.source.GetRecord(i, &r) == RecordOk; ++i)
                 if (i == kRecordsPerRead / 2) run.emu.Reconnect();
             EXPECT_EQ(run.source.UnreadRecords(nullptr, nullptr), kRecordsReadSincePass);
         }},
        {"a payload read failed", false,
         [&](Run& run) {
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(1, &r), RecordOk);
             run.emu.DisconnectAtCommand(1);
             uint8_t bytes[64];
             EXPECT_EQ(run.source.GetPayload(&r, bytes, sizeof bytes, nullptr), kPayloadNotRead);
             run.emu.Reconnect();
         }},
        {"kept unplugged, read in part", false,
         [&](Run& run) {
             run.emu.DisconnectAtCommand(4);
             pass(run);
             run.source.KeepCapture();
             uint32_t read = 0;
             EXPECT_EQ(run.source.UnreadRecords(&read, nullptr), kRecordsNoLongerHeld);
             EXPECT_EQ(read, kRecordsPerRead);
             run.emu.Reconnect();
         }},
        {"read whole, not uploaded, then reset", false,
         [&](Run& run) {
             EXPECT_EQ(pass(run).lost, 0u);
             run.source.Reset();
             DeviceStatus status;
             ASSERT_EQ(run.source.GetStatus(&status), 1);
             // Its rows say their bytes were not read, before any read of them and after.
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(4, &r), RecordOk);
             EXPECT_EQ(run.source.GetPayload(&r, nullptr, 0, nullptr), kPayloadNotRead);
             uint8_t bytes[64];
             EXPECT_EQ(run.source.GetPayload(&r, bytes, sizeof bytes, nullptr), kPayloadNotRead);
         }},
        {"gone while it ran, its upload waiting for its end", true,
         [&](Run& run) {
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(0, &r), RecordOk);
             ASSERT_EQ(run.source.BeginUpload(), 1);
             run.emu.DisconnectAtCommand(1);
             DeviceStatus status;
             EXPECT_EQ(run.source.GetStatus(&status), 0);
             run.emu.Reconnect();
             {
                 CDeviceProxy other(&run.emu);
                 ASSERT_TRUE(other.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
                 run.emu.SetTraffic(Rerun(OwnBytesTraffic(200, 8)));
                 run.emu.SetEndWhenExhausted(true);
                 ASSERT_TRUE(other.StartCapture());
                 ASSERT_EQ(other.GetStatus(&status), 1);
             }
             ASSERT_EQ(run.source.GetStatus(&status), 1);
             ASSERT_NO_FATAL_FAILURE(WaitIdle(run.source));  // gone: nothing of it to upload
             EXPECT_LT(run.source.UploadProgress(), 100);
         }},
        {"kept unplugged, read whole", false,
         [&](Run& run) {
             EXPECT_EQ(pass(run).lost, 0u);
             run.emu.DisconnectAtCommand(1);
             run.source.KeepCapture();
             run.emu.Reconnect();
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(1, &r), RecordOk);
             EXPECT_EQ(run.source.GetPayload(&r, nullptr, 0, nullptr), kPayloadNotRead) << "never read, never to be";
         }},
        {"kept while its record reads fail, the status answering", false,
         [&](Run& run) {
             run.link.FailMemoryReads(true, 1);
             EXPECT_EQ(pass(run).rows, kRecordsPerRead);
             run.source.KeepCapture();
             uint32_t read = 0;
             EXPECT_EQ(run.source.UnreadRecords(&read, nullptr), kRecordsNoLongerHeld) << "a setup cannot wait for the rest";
             EXPECT_EQ(read, kRecordsPerRead);
             run.link.FailMemoryReads(false);
         }},
        {"kept after a reset, read whole", false,
         [&](Run& run) {
             EXPECT_EQ(pass(run).lost, 0u);
             run.source.Reset();
             run.source.KeepCapture();
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(1, &r), RecordOk);
             EXPECT_EQ(run.source.GetPayload(&r, nullptr, 0, nullptr), kPayloadNotRead);
         }},
        {"read whole, then a project opened", false,
         [&](Run& run) {
             EXPECT_EQ(pass(run).lost, 0u);
             const emu::BusCapture saved = OwnBytesTraffic(30, 40);
             SaveCapture(saved, run.dir / "o.ph", run.dir / "o.data");
             ASSERT_EQ(run.source.OpenOrSave((run.dir / "o.ph").c_str(), (run.dir / "o.data").c_str(), 0), 1);
             // The analyser away and back is none of the project's business.
             run.emu.DisconnectAtCommand(1);
             DeviceStatus status;
             EXPECT_EQ(run.source.GetStatus(&status), 0);
             run.emu.Reconnect();
             EXPECT_EQ(run.source.GetStatus(&status), 1);
             const Seen opened = Check(run.source, OwnPayloads(saved), "opened");
             EXPECT_EQ(opened.rows, saved.records.size());
             EXPECT_EQ(opened.held, 30u);
             EXPECT_EQ(run.source.UnreadRecords(nullptr, nullptr), 0);
             // Nor is an upload begun on it (it ends, finding nothing of it in the analyser).
             ASSERT_EQ(run.source.BeginUpload(), 1);
             ASSERT_NO_FATAL_FAILURE(WaitIdle(run.source));
         }},
        {"its record reads fail, the status answering", false,
         [&](Run& run) {
             run.link.FailMemoryReads(true, 1);  // the first block's
             Seen first;
             EXPECT_LE(commandsOf(run, [&] { first = pass(run); }), 40u) << "not a round of asking for each row";
             EXPECT_EQ(first.rows, kRecordsPerRead);
             EXPECT_EQ(run.source.UnreadRecords(nullptr, nullptr), EIO);
             run.link.FailMemoryReads(false);
         }},
        {"ended part way through a parse, then unplugged", true,
         [&](Run& run) {
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(0, &r), RecordOk);
             run.emu.FinishCapture();
             DeviceStatus status;
             ASSERT_EQ(run.source.GetStatus(&status), 1);
             ASSERT_TRUE(status.flags & StatusComplete);
             run.emu.DisconnectAtCommand(1);
             Seen first;
             EXPECT_LE(commandsOf(run, [&] { first = pass(run); }), 40u) << "not a round of asking for each row";
             EXPECT_EQ(first.rows, kRecordsPerRead);
             run.emu.Reconnect();
         }},
        {"ended part way through a parse, a payload read failed, its memory reads failing", true,
         [&](Run& run) {
             PacketRecord r;
             ASSERT_EQ(run.source.GetRecord(1, &r), RecordOk);
             run.emu.FinishCapture();
             DeviceStatus status;
             ASSERT_EQ(run.source.GetStatus(&status), 1);
             run.link.FailMemoryReads(true);
             uint8_t bytes[64];
             EXPECT_EQ(run.source.GetPayload(&r, bytes, sizeof bytes, nullptr), kPayloadNotRead);
             Seen first;
             EXPECT_LE(commandsOf(run, [&] { first = pass(run); }), 40u) << "not a round of asking for each row";
             EXPECT_EQ(first.rows, kRecordsPerRead);
             run.link.FailMemoryReads(false);
         }},
        {"its upload cut short, the status failing twice before the rest is fetched", false,
         [&](Run& run) {
             run.emu.FailTransfer(4);  // the first chunk's data
             ASSERT_EQ(run.source.BeginUpload(), 1);
             ASSERT_NO_FATAL_FAILURE(WaitIdle(run.source));
             run.link.statusFailures = 2;
             EXPECT_EQ(run.source.FetchRest(), 1);
             ASSERT_NO_FATAL_FAILURE(WaitIdle(run.source));
             EXPECT_EQ(run.source.UploadProgress(), 100);
         }},
    };
    const emu::BusCapture first = OwnBytesTraffic(1500, 8), second = OwnBytesTraffic(1100, 30);
    const auto own = OwnPayloads(first), ownSecond = OwnPayloads(second);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        emu::EmulatedAnalyser emu;
        emu.SetPace(0);
        emu.SetTraffic(first);
        emu.SetEndWhenExhausted(!row.live);
        FlakyLink link(emu);
        CDeviceProxy source(&link);
        source.SetRetryPause(std::chrono::milliseconds(0));
        ASSERT_TRUE(source.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
        ASSERT_TRUE(source.StartCapture());
        DeviceStatus status;
        ASSERT_EQ(source.GetStatus(&status), 1);
        ASSERT_EQ(bool(status.flags & StatusComplete), !row.live);
        Run run{emu, link, source, own, dir};
        ASSERT_NO_FATAL_FAILURE(row.end(run));

        emu.SetTraffic(second);
        emu.SetEndWhenExhausted(true);
        ASSERT_TRUE(source.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
        ASSERT_TRUE(source.StartCapture());
        ASSERT_EQ(source.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusComplete);
        const Seen whole = Check(source, ownSecond, "the second", &second.records);
        EXPECT_EQ(whole.rows, second.records.size());
        EXPECT_EQ(whole.held, 1100u);
        uint32_t read = 1, held = 1, peeked = 0;
        EXPECT_EQ(source.UnreadRecords(&read, &held), 0) << "nothing to say, nothing to parse again";
        EXPECT_EQ(read + held, 0u);
        EXPECT_NE(source.PeekRecords(0, &peeked), nullptr);
        EXPECT_EQ(peeked, second.records.size()) << "every row served from memory";
        PacketRecord r;
        size_t notRead = 0;
        for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i)
            notRead += r.IsData() && source.GetPayload(&r, nullptr, 0, nullptr) == kPayloadNotRead;
        EXPECT_EQ(notRead, 0u);
        ASSERT_EQ(source.BeginUpload(), 1);
        ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
        EXPECT_EQ(source.OpenOrSave((dir / "s.ph").c_str(), (dir / "s.data").c_str(), 1), 1);
    }
}

// A payload read from capture memory (before the upload) that fails once is
// tried again; one that fails again answers that it could not be read.
TEST(HeldPayload, AFailedPayloadReadFromCaptureMemoryIsTriedAgainThenSaidSo) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    const emu::BusCapture traffic = OwnBytesTraffic(300, 100);
    const auto own = OwnPayloads(traffic);
    emu.SetTraffic(traffic);
    CDevice device(&emu, "orvane-payload-read-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    ASSERT_NO_FATAL_FAILURE(CaptureInOneMiB(device));
    PacketRecord r;
    ASSERT_EQ(source.GetRecord(1, &r), RecordOk);
    ASSERT_TRUE(r.IsData());
    Bytes got(r.PayloadLength());
    uint16_t crc = 0;
    emu.FailTransfer(1);
    EXPECT_EQ(source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc), int32_t(got.size()));
    got.push_back(uint8_t(crc));
    got.push_back(uint8_t(crc >> 8));
    EXPECT_EQ(got, own.at(r.Timestamp()));
    // Asked without bytes or CRC it reads nothing: the panes ask so, after their read.
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, nullptr), int32_t(got.size() - 2));
    Bytes bytesAlone(got.size() - 2);
    EXPECT_EQ(source.GetPayload(&r, bytesAlone.data(), uint32_t(bytesAlone.size()), nullptr), int32_t(bytesAlone.size()));
    EXPECT_TRUE(std::equal(bytesAlone.begin(), bytesAlone.end(), got.begin())) << "bytes without their CRC";
    emu.DisconnectAtCommand(1);
    EXPECT_EQ(source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc), kPayloadNotRead);
    const unsigned commands = emu.CommandCount();
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, nullptr), kPayloadNotRead) << "told until a read succeeds";
    EXPECT_EQ(emu.CommandCount(), commands);
    PacketRecord other;
    ASSERT_EQ(source.GetRecord(4, &other), RecordOk);
    EXPECT_EQ(source.GetPayload(&other, nullptr, 0, nullptr), int32_t(other.PayloadLength())) << "only that packet's";
    emu.Reconnect();
    EXPECT_EQ(source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc), int32_t(got.size() - 2));
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, nullptr), int32_t(got.size() - 2));
}

// A capture kept across a setup is fetched from the analyser only while a
// fresh status read still shows it: after a reset its save is refused.
TEST(HeldPayload, AKeptCaptureTheAnalyserLostIsNeitherFetchedNorSaved) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    emu.SetCaptureStart(0, 0x1003);
    emu.SetTraffic(OwnBytesTraffic(300, 998));
    TempDir dir;
    CDevice device(&emu, "orvane-kept-lost-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    ASSERT_NO_FATAL_FAILURE(CaptureInOneMiB(device));
    PacketRecord r;
    ASSERT_EQ(source.GetRecord(899, &r), RecordOk);  // the parse has read every record
    emu.FailTransfer(10);  // the second chunk's payload read: the upload is cut short
    ASSERT_EQ(source.BeginUpload(), 1);
    ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
    ASSERT_LT(source.UploadProgress(), 100);

    source.Reset();
    source.KeepCapture();  // as a setup does before the analyser refuses it
    EXPECT_EQ(source.FetchRest(), 0) << "capture memory no longer holds it";
    EXPECT_EQ(source.OpenOrSave((dir / "k.ph").c_str(), (dir / "k.data").c_str(), 1), 0);
    const char* failed = nullptr;
    EXPECT_EQ(source.LastFileError(&failed), kFileErrorPayloadShort);
    uint32_t first = 0, count = 0;
    source.MissingPayload(&first, &count);
    EXPECT_EQ(count, 169u);
    // Its panes say that payload was not read, without asking the analyser.
    ASSERT_EQ(source.GetRecord(first, &r), RecordOk);
    const unsigned commands = emu.CommandCount();
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, nullptr), kPayloadNotRead);
    uint16_t crc = 0;
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, &crc), kPayloadNotRead);
    EXPECT_EQ(emu.CommandCount(), commands);
    ASSERT_EQ(source.GetRecord(1, &r), RecordOk);
    EXPECT_EQ(source.GetPayload(&r, nullptr, 0, nullptr), int32_t(r.PayloadLength())) << "the store holds it";
    EXPECT_FALSE(fs::exists(dir / "k.data"));
}

// A capture kept while it still ran, the parse not at its end, is no capture
// read in part: the rows read keep the payload the analyser holds.
TEST(HeldPayload, ACaptureKeptBeforeItEndedKeepsThePayloadOfTheRowsRead) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    emu.SetEndWhenExhausted(false);  // runs on, the bus idle, until stopped
    const emu::BusCapture traffic = OwnBytesTraffic(1500, 100);
    const auto own = OwnPayloads(traffic);
    emu.SetTraffic(traffic);
    CDevice device(&emu, "orvane-kept-live-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    ASSERT_NO_FATAL_FAILURE(CaptureInOneMiB(device));
    DeviceStatus status{};
    ASSERT_EQ(device.GetStatus(&status), 1);
    ASSERT_FALSE(status.flags & StatusComplete);
    ASSERT_GT(status.packets, kRecordsPerRead);
    PacketRecord r;
    ASSERT_EQ(source.GetRecord(1, &r), RecordOk);  // one block read of more captured
    source.KeepCapture();
    uint32_t read = 0, held = 0;
    EXPECT_EQ(source.UnreadRecords(&read, &held), 0);
    ASSERT_EQ(source.GetRecord(1, &r), RecordOk);
    ASSERT_TRUE(r.IsData());
    EXPECT_FALSE(r.PayloadLost());
    Bytes got(r.PayloadLength());
    uint16_t crc = 0;
    EXPECT_EQ(source.GetPayload(&r, got.data(), uint32_t(got.size()), &crc), int32_t(got.size()));
    got.push_back(uint8_t(crc));
    got.push_back(uint8_t(crc >> 8));
    EXPECT_EQ(got, own.at(r.Timestamp()));
}

// A capture that ends (as a status poll beside the parse sees) after a block
// of it was read live: the next rows come whole, no read having failed.
TEST(HeldPayload, ACaptureThatEndsWhileTheParseIsPartWayServesItsRowsWhole) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    emu.SetEndWhenExhausted(false);
    const emu::BusCapture traffic = OwnBytesTraffic(1500, 100);
    emu.SetTraffic(traffic);
    CDevice device(&emu, "orvane-ends-mid-parse-" + std::to_string(::getpid()));
    CDeviceProxy& source = device.Source();
    ASSERT_NO_FATAL_FAILURE(CaptureInOneMiB(device));
    PacketRecord r;
    ASSERT_EQ(source.GetRecord(0, &r), RecordOk);  // a block read while it runs
    emu.FinishCapture();
    DeviceStatus status{};
    ASSERT_EQ(device.GetStatus(&status), 1);
    ASSERT_TRUE(status.flags & StatusComplete);
    ASSERT_EQ(source.GetRecord(1, &r), RecordOk);
    EXPECT_FALSE(r.PayloadLost());
    uint32_t read = 0, held = 0;
    EXPECT_EQ(source.UnreadRecords(&read, &held), 0);
}

// At 100 % pre-trigger the capture runs on past the trigger until stopped, and
// the ring writes over the trigger point: no record is then named the trigger.
TEST(HeldPayload, ATriggerPointTheRingWroteOverMarksNoRecord) {
    for (const size_t stopAfter : {600u, 3000u}) {
        SCOPED_TRACE(stopAfter);
        emu::EmulatedAnalyser emu;
        emu.SetTraffic(InTraffic(3600));
        emu.SetTriggerRecord(300);
        emu.SetPace(200);
        CDeviceProxy proxy(&emu);
        ASSERT_TRUE(proxy.ConfigureStorage(1u << 14, 1u << 14, 1u << 20, 1u << 20, 0));  // 1024 records
        ASSERT_TRUE(proxy.StartCapture());
        DeviceStatus status{};
        while (emu.RecordsWritten() < stopAfter) ASSERT_EQ(proxy.GetStatus(&status), 1);
        ASSERT_TRUE(proxy.SetRunning(0));
        ASSERT_EQ(proxy.GetStatus(&status), 1);
        ASSERT_TRUE(status.flags & StatusTriggered);
        if (stopAfter < 1024) {
            ASSERT_EQ(status.trigger, 299) << "still held: the record before the trigger point";
        } else {
            EXPECT_EQ(status.packets, 1024u) << "the ring is full";
            EXPECT_EQ(status.trigger, -1);
        }
    }
}

// The save lets readers in between its windows of 1 MiB, and a cancel asked
// for there ends it at its next look, leaving the old files as they were.
TEST(HeldPayload, ASaveLetsReadersInBetweenWindowsAndACancelThereEndsIt) {
    TempDir dir;
    const std::vector<PacketRecord> records(1u << 20);  // 16 windows
    WriteFile(dir / "big.ph", records.data(), records.size() * sizeof(PacketRecord));
    WriteFile(dir / "big.data", Bytes(1024, 7));
    WriteFile(dir / "other.ph", records.data(), 2 * sizeof(PacketRecord));
    WriteFile(dir / "other.data", Bytes(8, 3));
    emu::EmulatedAnalyser emu;
    CDeviceProxy proxy(&emu);
    SaveProgress progress;
    proxy.SetSaveProgress(&progress);
    constexpr uint64_t kWindow = CPayloadStore::kWindowBytes;

    // What the reader between two windows does: cancels the save, or puts
    // another capture on hand, whose records and store the save must not touch.
    enum class Between { Cancel, Discard, Open };
    for (Between what : {Between::Cancel, Between::Discard, Between::Open}) {
        SCOPED_TRACE(int(what));
        WriteFile(dir / "old.ph", Bytes(32, 1));
        WriteFile(dir / "old.data", Bytes(8, 2));
        ASSERT_EQ(proxy.OpenOrSave((dir / "big.ph").c_str(), (dir / "big.data").c_str(), 0), 1);
        // A loaded machine can keep the reader off the processor for a whole
        // save: that save ends whole, and the next one is tried.
        uint64_t caughtAt = 0;
        for (int attempt = 0; attempt < 50 && !caughtAt; ++attempt) {
            progress.cancel = false;
            progress.total = progress.done = 0;
            auto saved = std::async(std::launch::async,
                                    [&] { return proxy.OpenOrSave((dir / "old.ph").c_str(), (dir / "old.data").c_str(), 1); });
            for (;;) {
                CDeviceProxy::ReaderLock hold(proxy);
                const uint64_t done = progress.done, total = progress.total;
                if (total && done >= total) break;
                if (done > 0 && total - done > 2 * kWindow) {
                    if (what == Between::Cancel) progress.cancel = true;
                    if (what == Between::Discard) EXPECT_EQ(proxy.DiscardCapture(), 1);
                    if (what == Between::Open)
                        EXPECT_EQ(proxy.OpenOrSave((dir / "other.ph").c_str(), (dir / "other.data").c_str(), 0), 1);
                    caughtAt = done;
                    break;
                }
            }
            if (caughtAt) {
                EXPECT_EQ(saved.get(), 0);
                EXPECT_EQ(progress.done.load(), caughtAt) << "the save ended at its next look";
                EXPECT_EQ(proxy.LastFileError(nullptr), what == Between::Cancel ? 0 : ECANCELED);
            } else {
                ASSERT_EQ(saved.get(), 1);
                WriteFile(dir / "old.ph", Bytes(32, 1));
                WriteFile(dir / "old.data", Bytes(8, 2));
            }
        }
        ASSERT_GT(caughtAt, 0u) << "no reader got in between two windows";
        EXPECT_EQ(ReadFile(dir / "old.ph"), Bytes(32, 1));
        EXPECT_EQ(ReadFile(dir / "old.data"), Bytes(8, 2));
    }
}

// A reader already waiting when a save writes its first window gets in
// before the second: the save holds the lock in a status read until the
// reader waits, and the capture's records take two windows.
TEST(HeldPayload, AReaderWaitingOnASaveGetsInAtItsFirstWindow) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    emu.SetTraffic(InTraffic(70000));
    StatusGate gate(emu);
    WatchedProxy proxy(&gate);
    ASSERT_TRUE(proxy.ConfigureStorage(1u << 21, 1u << 21, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(proxy.StartCapture());
    DeviceStatus status;
    ASSERT_EQ(proxy.GetStatus(&status), 1);
    ASSERT_TRUE(status.flags & StatusComplete);
    PacketRecord r;
    ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);
    ASSERT_EQ(proxy.CachedCount(), 70000u);
    constexpr uint64_t kWindow = CPayloadStore::kWindowBytes;
    ASSERT_GT(70000u * sizeof(PacketRecord), kWindow);
    ASSERT_EQ(proxy.BeginUpload(), 1);
    ASSERT_NO_FATAL_FAILURE(WaitIdle(proxy));
    SaveProgress progress;
    proxy.SetSaveProgress(&progress);

    TempDir dir;
    gate.Close();
    auto saved = std::async(std::launch::async,
                            [&] { return proxy.OpenOrSave((dir / "w.ph").c_str(), (dir / "w.data").c_str(), 1); });
    gate.WaitEntered();  // the save holds the data-source lock
    std::atomic<uint64_t> seen{0};
    std::thread reader([&] {
        CDeviceProxy::ReaderLock in(proxy);
        seen = progress.done.load();
    });
    while (proxy.ReadersWaiting() == 0) std::this_thread::yield();
    gate.Open();
    reader.join();
    EXPECT_EQ(saved.get(), 1);
    EXPECT_EQ(seen.load(), kWindow) << "the reader got in after the first window";
}

// A read of the analyser that failed is tried again after pauses of 25, 50
// and 75 ms, slept without the data-source lock: the window's readers get in
// then, and a packet the store holds is served even while a transfer hangs.
// A fault that clears during a pause (after 10, 40 or 100 ms) is ridden out;
// a project opened, a capture started or one discarded during a pause ends
// the retry, and nothing of the new capture is taken for the old one's.
TEST(HeldPayload, ARetryWaitsWithoutTheLockAndGoesOnOnlyWithItsOwnCapture) {
    enum class Read { PassStatus, PassRecords, SaveStatus, SaveRecords, KeepStatus, KeepRecords };
    const std::pair<Read, const char*> reads[] = {
        {Read::PassStatus, "a pass over a capture read in part asks the status"},
        {Read::PassRecords, "a pass reads a block of records"},
        {Read::SaveStatus, "a save asks the status"},
        {Read::SaveRecords, "a save reads the records the parse had not"},
        {Read::KeepStatus, "a setup's keep asks the status"},
        {Read::KeepRecords, "a setup's keep reads the records the parse had not"},
    };
    enum class Change { None, ReadOn, OnTheAnalyser, Opened, Started, Discarded };
    const std::pair<Change, const char*> changes[] = {
        {Change::None, ""},
        {Change::ReadOn, ", another reader reads it whole"},
        {Change::OnTheAnalyser, ", another capture on the analyser, a status poll sees it"},
        {Change::Opened, ", a project opened"},
        {Change::Started, ", another capture started"},
        {Change::Discarded, ", the capture discarded"}};
    // The pauses come to 25, 75 and 150 ms: a fault of 40 ms clears in the second.
    const struct {
        int lasts;
        size_t pauses;
    } faults[] = {{10, 1}, {40, 2}, {100, 3}};
    const std::vector<std::chrono::milliseconds> waits = {std::chrono::milliseconds(25), std::chrono::milliseconds(50),
                                                          std::chrono::milliseconds(75)};
    const emu::BusCapture traffic = OwnBytesTraffic(1500, 8);
    const auto own = OwnPayloads(traffic);
    const PacketRecord& held = traffic.records[1];
    ASSERT_TRUE(held.IsData());
    const emu::BusCapture other = InTraffic(900, SpeedFull);
    const auto othersOwn = OwnPayloads(other);
    TempDir dir;
    SaveCapture(other, dir / "other.ph", dir / "other.data");

    for (const auto& [read, readName] : reads) {
        for (const auto& [change, changeName] : changes) {
            for (const auto& fault : faults) {
                SCOPED_TRACE(std::string(readName) + changeName + ", the fault lasting " + std::to_string(fault.lasts) + " ms");
                emu::EmulatedAnalyser emu;
                emu.SetPace(0);
                emu.SetTraffic(traffic);
                StatusGate gate(emu);
                WatchedProxy proxy(&gate);
                ASSERT_TRUE(proxy.ConfigureStorage(1u << 17, 1u << 17, 1u << 20, 1u << 20, 0));
                ASSERT_TRUE(proxy.StartCapture());
                DeviceStatus status;
                ASSERT_EQ(proxy.GetStatus(&status), 1);
                ASSERT_TRUE(status.flags & StatusComplete);
                ASSERT_EQ(status.packets, traffic.records.size());
                ASSERT_EQ(proxy.BeginUpload(), 1);
                ASSERT_NO_FATAL_FAILURE(WaitIdle(proxy));

                auto heldServed = [&] { return ServesItsOwn(proxy, held, own); };
                std::function<void()> restore;
                PacketRecord r;
                if (read == Read::PassStatus) {
                    emu.DisconnectAtCommand(8);  // the status read and three blocks pass
                    uint32_t rows = 0;
                    while (proxy.GetRecord(rows, &r) == RecordOk) ++rows;
                    ASSERT_EQ(rows, 3 * kRecordsPerRead);
                    restore = [&] { emu.Reconnect(); };
                } else if (read == Read::SaveStatus || read == Read::KeepStatus) {
                    if (read == Read::SaveStatus) {
                        ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);
                    }
                    emu.DisconnectAtCommand(1);
                    restore = [&] { emu.Reconnect(); };
                } else {
                    gate.FailMemoryReads(true);
                    restore = [&] { gate.FailMemoryReads(false); };
                }

                // In each pause: is the lock free, and the held packet served, on another thread?
                bool armed = false, cleared = false;
                size_t fetchesAfter = 0;
                std::chrono::milliseconds clock{0};
                std::vector<std::chrono::milliseconds> paused;
                proxy.SetRetryWait([&](std::chrono::milliseconds pause) {
                    if (!armed) return;
                    paused.push_back(pause);
                    const bool free = std::async(std::launch::async, [&] {
                                          if (!proxy.Lock().try_lock()) return false;
                                          proxy.Lock().unlock();
                                          return true;
                                      }).get();
                    EXPECT_TRUE(free) << "pause " << paused.size() << " holds the lock";
                    EXPECT_TRUE(std::async(std::launch::async, heldServed).get()) << "pause " << paused.size();
                    clock += pause;
                    if (cleared || clock.count() < fault.lasts) return;
                    cleared = true;
                    restore();
                    if (!free) return;
                    std::async(std::launch::async, [&] {
                        PacketRecord whole;
                        if (change == Change::ReadOn) {
                            EXPECT_EQ(proxy.GetRecord(0, &whole), RecordOk);
                        } else if (change == Change::OnTheAnalyser) {
                            CDeviceProxy theirs(&emu);
                            EXPECT_TRUE(theirs.ConfigureStorage(1u << 17, 1u << 17, 1u << 20, 1u << 20, 0));
                            emu.SetTraffic(other);
                            EXPECT_TRUE(theirs.StartCapture());
                            DeviceStatus polled;
                            EXPECT_EQ(theirs.GetStatus(&polled), 1);
                            EXPECT_EQ(proxy.GetStatus(&polled), 1);
                        } else if (change == Change::Opened) {
                            EXPECT_EQ(proxy.OpenOrSave((dir / "other.ph").c_str(), (dir / "other.data").c_str(), 0), 1);
                        } else if (change == Change::Started) {
                            emu.SetTraffic(other);
                            emu.SetPace(300);  // read live at first, as a parse beside the polls reads it
                            EXPECT_TRUE(proxy.StartCapture());
                        } else if (change == Change::Discarded) {
                            EXPECT_EQ(proxy.DiscardCapture(), 1);
                        }
                    }).get();
                    fetchesAfter = RecordWindows(emu);
                });
                TempDir saved;
                const bool save = read == Read::SaveStatus || read == Read::SaveRecords;
                const bool keep = read == Read::KeepStatus || read == Read::KeepRecords;
                auto run = [&] {
                    if (save) return proxy.OpenOrSave((saved / "s.ph").c_str(), (saved / "s.data").c_str(), 1);
                    if (!keep) return proxy.GetRecord(0, &r);
                    proxy.KeepCapture();
                    return int32_t(1);
                };

                // Its first transfer hangs: the held packet is served beside it, never waiting for the lock.
                armed = true;
                gate.Close();
                auto retried = std::async(std::launch::async, run);
                gate.WaitEntered();
                auto asked = std::async(std::launch::async, heldServed);
                while (asked.wait_for(std::chrono::seconds(0)) != std::future_status::ready && proxy.ReadersWaiting() == 0)
                    std::this_thread::yield();
                EXPECT_EQ(proxy.ReadersWaiting(), 0) << "a held packet waited for the analyser";
                gate.Open();
                EXPECT_TRUE(asked.get());
                const int32_t result = retried.get();
                armed = false;
                EXPECT_EQ(paused, std::vector<std::chrono::milliseconds>(waits.begin(), waits.begin() + ptrdiff_t(fault.pauses)));

                uint32_t unread = 0, all = 0;
                if (change == Change::ReadOn) {
                    EXPECT_EQ(RecordWindows(emu), fetchesAfter) << "rows read are not read over";
                }
                if (change == Change::ReadOn || change == Change::OnTheAnalyser) {
                    // Every row served, or saved, this capture's.
                    if (!save && !keep && result == RecordOk) {
                        EXPECT_EQ(r.word0, traffic.records[0].word0);
                    }
                    const Seen seen = Check(proxy, own, "after", &traffic.records);
                    if (change == Change::ReadOn) {
                        EXPECT_EQ(seen.rows, traffic.records.size());
                    }
                    if (save && result == 1) {
                        CDeviceProxy reopened(&emu);
                        ASSERT_EQ(reopened.OpenOrSave((saved / "s.ph").c_str(), (saved / "s.data").c_str(), 0), 1);
                        Check(reopened, own, "saved", &traffic.records);
                    }
                    continue;
                }
                if (change == Change::None) {
                    if (save) {
                        EXPECT_EQ(result, 1);
                        continue;
                    }
                    if (!keep) {
                        EXPECT_EQ(result, RecordOk);
                        EXPECT_EQ(r.word0, traffic.records[0].word0);
                    }
                    const Seen seen = Check(proxy, own, "ridden out", &traffic.records);
                    EXPECT_EQ(seen.rows, traffic.records.size());
                    EXPECT_EQ(seen.held, own.size());
                    EXPECT_EQ(proxy.UnreadRecords(&unread, &all), 0);
                    continue;
                }
                // The retry ended with nothing of the new capture, which is served whole.
                if (save) {
                    EXPECT_EQ(result, 0);
                    EXPECT_EQ(proxy.LastFileError(nullptr), ECANCELED);
                    EXPECT_FALSE(fs::exists(saved / "s.ph"));
                } else if (!keep) {
                    EXPECT_EQ(result, RecordEnd);
                }
                if (change == Change::Discarded) {
                    EXPECT_EQ(proxy.GetRecord(0, &r), RecordEnd);
                    continue;
                }
                if (change == Change::Started) {
                    ASSERT_EQ(proxy.GetStatus(&status), 1);
                    ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);  // a row read live
                    ASSERT_EQ(proxy.GetStatus(&status), 1);
                    ASSERT_TRUE(status.flags & StatusComplete);
                    // No read of it failed: the parse's next row comes whole, not as one of a capture read in part.
                    ASSERT_EQ(proxy.GetRecord(1, &r), RecordOk);
                    EXPECT_FALSE(r.PayloadUnread());
                }
                const Seen seen = Check(proxy, othersOwn, "the new capture", &other.records);
                EXPECT_EQ(seen.rows, other.records.size());
                EXPECT_EQ(seen.held, othersOwn.size());
                EXPECT_EQ(proxy.UnreadRecords(&unread, &all), 0);
            }
        }
    }
}

// The upload of the rest hangs in its read of capture memory, holding the
// data-source lock (a hung analyser): a packet the store holds already is
// served meanwhile, without waiting for the lock.
TEST(HeldPayload, APacketTheStoreHoldsIsServedWhileTheUploadsReadHangs) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    const emu::BusCapture traffic = OwnBytesTraffic(300, 998);
    const auto own = OwnPayloads(traffic);
    emu.SetTraffic(traffic);
    WatchedProxy proxy(&emu);
    ASSERT_TRUE(proxy.ConfigureStorage(1u << 16, 1u << 16, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(proxy.StartCapture());
    DeviceStatus status;
    ASSERT_EQ(proxy.GetStatus(&status), 1);
    PacketRecord r;
    ASSERT_EQ(proxy.GetRecord(1, &r), RecordOk);
    ASSERT_TRUE(r.IsData());
    emu.FailTransfer(10);  // the second chunk's payload read: the upload is cut short
    ASSERT_EQ(proxy.BeginUpload(), 1);
    ASSERT_NO_FATAL_FAILURE(WaitIdle(proxy));
    ASSERT_LT(proxy.UploadProgress(), 100);

    emu.HoldMemoryReads(true);
    const unsigned transfers = emu.TransferCount(port::kCommandPipe);
    ASSERT_EQ(proxy.FetchRest(), 1);
    // Its status read, then the chunk's window and read command, each sent and
    // answered: the chunk's data read waits under the lock.
    while (emu.TransferCount(port::kCommandPipe) < transfers + 6) std::this_thread::yield();
    auto asked = std::async(std::launch::async, [&] { return ServesItsOwn(proxy, r, own); });
    while (asked.wait_for(std::chrono::seconds(0)) != std::future_status::ready && proxy.ReadersWaiting() == 0)
        std::this_thread::yield();
    EXPECT_EQ(proxy.ReadersWaiting(), 0) << "a held packet waited for the analyser";
    emu.HoldMemoryReads(false);
    EXPECT_TRUE(asked.get());
    ASSERT_NO_FATAL_FAILURE(WaitIdle(proxy));
    EXPECT_EQ(proxy.UploadProgress(), 100);
}

// An ended capture read in part: its rows read are served bare, and a pass
// asks the analyser again only at its start and where they end, never for
// each row (each ask costing up to four tries): with a link whose status
// reads answer and record reads fail, and with one unplugged after the
// first rows were read while the capture ran.
TEST(HeldPayload, APassOverACaptureReadInPartAsksTheAnalyserAtItsStartAndEndOnly) {
    const struct {
        const char* name;
        size_t pace;
        uint32_t rows;
    } links[] = {{"status reads answer, record reads fail", 0, 2 * kRecordsPerRead},
                 {"unplugged after rows read live", 2000, kRecordsPerRead}};
    // Two asks, each a status read and up to four tries of a block's window and read; the blocks read.
    const unsigned bound = 2 * (1 + 2 * kRecordReadTries) + 2 * 2;
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        emu::EmulatedAnalyser emu;
        emu.SetPace(link.pace);
        emu.SetTraffic(OwnBytesTraffic(1500, 8));
        StatusGate gate(emu);
        CDeviceProxy proxy(&gate);
        proxy.SetRetryWait([](std::chrono::milliseconds) {});
        ASSERT_TRUE(proxy.ConfigureStorage(1u << 17, 1u << 17, 1u << 20, 1u << 20, 0));
        ASSERT_TRUE(proxy.StartCapture());
        DeviceStatus status;
        PacketRecord r;
        if (link.pace) {
            ASSERT_EQ(proxy.GetStatus(&status), 1);
            ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);
            ASSERT_EQ(proxy.GetStatus(&status), 1);
            ASSERT_TRUE(status.flags & StatusComplete);
            emu.DisconnectAtCommand(1);
        } else {
            ASSERT_EQ(proxy.GetStatus(&status), 1);
            gate.FailMemoryReads(true, 2);
        }
        for (int pass = 0; pass < 2; ++pass) {
            const unsigned before = gate.Commands();
            uint32_t rows = 0;
            while (proxy.GetRecord(rows, &r) == RecordOk) ++rows;
            EXPECT_EQ(rows, link.rows) << "pass " << pass;
            EXPECT_LE(gate.Commands() - before, bound) << "pass " << pass;
        }
        uint32_t read = 0, all = 0;
        EXPECT_EQ(proxy.UnreadRecords(&read, &all), EIO);
        EXPECT_EQ(read, link.rows);
    }
}

// An opened project's payload is what its file holds: one that shrank since
// the open still saves, its packets past the end saved as having none.
TEST(HeldPayload, AnOpenedProjectSavesWhatItsPayloadFileHolds) {
    TempDir dir;
    const emu::BusCapture traffic = OwnBytesTraffic(20, 98);
    SaveCapture(traffic, dir / "o.ph", dir / "o.data");
    emu::EmulatedAnalyser emu;
    CDeviceProxy proxy(&emu);
    ASSERT_EQ(proxy.OpenOrSave((dir / "o.ph").c_str(), (dir / "o.data").c_str(), 0), 1);
    fs::resize_file(dir / "o.data", 10 * 100);
    ASSERT_EQ(proxy.OpenOrSave((dir / "s.ph").c_str(), (dir / "s.data").c_str(), 1), 1);
    EXPECT_EQ(fs::file_size(dir / "s.data"), 1000u);

    // A payload file cut short when opened: the packets past its end are saved
    // as having no payload, so the copy still says so.
    CDeviceProxy copy(&emu);
    ASSERT_EQ(copy.OpenOrSave((dir / "s.ph").c_str(), (dir / "s.data").c_str(), 0), 1);
    ASSERT_EQ(copy.OpenOrSave((dir / "t.ph").c_str(), (dir / "t.data").c_str(), 1), 1);
    const Bytes saved = ReadFile(dir / "t.ph");
    size_t lost = 0;
    for (size_t at = 0; at < saved.size(); at += 16) {
        PacketRecord r;
        std::memcpy(&r, saved.data() + at, 16);
        lost += r.PayloadLost();
    }
    EXPECT_EQ(lost, 10u);
    CDeviceProxy again(&emu);
    ASSERT_EQ(again.OpenOrSave((dir / "t.ph").c_str(), (dir / "t.data").c_str(), 0), 1);
    const Seen seen = Check(again, OwnPayloads(traffic), "saved copy");
    EXPECT_EQ(seen.held, 10u);
    EXPECT_EQ(seen.lost, 10u);
}

// A large project saved before lost packets were marked, whose payload ring
// wrapped many times, its payload file cut short of its newest packets: read
// in order while it loads, from the first record on, it serves every record
// as the same file walked whole says, among the records the open reads
// itself and those the loader reads after its walk from the newest end back
// (which ends in the newest chunk, so the older ones are lost for a reason
// the chunk itself does not show); each held packet its own bytes.
TEST(HeldPayload, ALargeOldProjectReadWhileItLoadsServesWhatTheWholeFileSays) {
    const uint32_t count = kFirstRecords + 5 * kLoadChunk;
    const uint32_t heldFrom = count - 400000;  // in the newest chunk: older ones in it are lost too
    // IN, DATA0 (8 bytes, every eighth of none), ACK, SOF; each packet's bytes after the one before.
    std::vector<PacketRecord> records(count);
    std::vector<uint64_t> at(count, 0);
    uint64_t written = 0, heldStart = 0;
    for (uint32_t i = 0; i < count; ++i) {
        PacketRecord& r = records[i];
        r.SetTimestamp(uint64_t(i) * 100);
        r.SetSpeed(SpeedHigh);
        const uint8_t pids[] = {PidIn, PidData0, PidAck, PidSof};
        r.SetPidByte(PacketRecord::MakePidByte(pids[i % 4]));
        if (!r.IsData()) {
            r.SetLow16(i % 4 == 0 ? uint16_t(2 | 1 << 7) : uint16_t(i & 0x7FF));
            continue;
        }
        const uint16_t length = i % 32 == 1 ? 2 : 10;
        r.SetLow16(length);
        if (i >= heldFrom && !heldStart) heldStart = written;
        at[i] = written;
        written += length;
    }
    const uint64_t ring = written - heldStart + 1024;
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].IsData()) records[i].SetPayloadOffset(uint32_t((at[i] + 8 * ring - heldStart) % ring));
    const uint64_t dataBytes = written - heldStart - 5000;  // cut before the newest packets' bytes
    Bytes payload(dataBytes);
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = uint8_t(k * 7 + k / 251);
    TempDir dir;
    WriteFile(dir / "w.ph", records.data(), records.size() * sizeof(PacketRecord));
    WriteFile(dir / "w.data", payload);

    // The file walked whole, as an open that reads it at once settles it.
    std::vector<PacketRecord> whole = records;
    const uint32_t lost = RecordsBeforeHeldPayload(whole.data(), count, UINT64_MAX);
    ASSERT_GT(lost, count - kLoadChunk) << "the walk ends in the newest chunk";
    MarkPayloadLost(whole.data(), lost);
    size_t pastEnd = 0;
    for (uint32_t i = lost; i < count; ++i) {
        PacketRecord& r = whole[i];
        if (r.IsData() && !r.PayloadLost() && uint64_t(r.PayloadOffset()) + r.Length() > dataBytes) {
            r.SetPayloadOffset(PacketRecord::kPayloadLost);
            ++pastEnd;
        }
    }
    ASSERT_GT(pastEnd, 0u);

    emu::EmulatedAnalyser emu;
    CDeviceProxy proxy(&emu);
    ASSERT_EQ(proxy.OpenOrSave((dir / "w.ph").c_str(), (dir / "w.data").c_str(), 0), 1);
    PacketRecord r;
    uint32_t differ = 0, firstDiffer = count, held = 0, foreign = 0;
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk) << i;
        if (std::memcmp(&r, &whole[i], sizeof r) != 0 && differ++ == 0) firstDiffer = i;
        if (!r.IsData()) continue;
        uint8_t bytes[8];
        uint16_t crc = 0;
        const int32_t n = proxy.GetPayload(&r, bytes, sizeof bytes, &crc);
        if (r.PayloadLost()) {
            foreign += n != 0;
            continue;
        }
        ++held;
        const Bytes own(payload.begin() + r.PayloadOffset(), payload.begin() + r.PayloadOffset() + r.Length());
        Bytes got(bytes, bytes + std::max(n, 0));
        got.push_back(uint8_t(crc));
        got.push_back(uint8_t(crc >> 8));
        foreign += got != own;
    }
    EXPECT_EQ(proxy.GetRecord(count, &r), RecordEnd);
    EXPECT_EQ(differ, 0u) << "the first at record " << firstDiffer << " (the walk's end " << lost << ")";
    EXPECT_EQ(foreign, 0u);
    EXPECT_GT(held, 90000u);
}

// A store that lacks only the spare bytes after the capture's payload holds
// every packet's: nothing is fetched (the saved ".data" the store then is
// cannot be appended to), and the save is whole.
TEST(HeldPayload, AStoreShortOnlyOfItsSpareBytesNeedsNoFetch) {
    emu::EmulatedAnalyser emu;
    emu.SetPace(0);
    emu.SetTraffic(OwnBytesTraffic(128, 1022));  // exactly the first upload chunk
    TempDir dir;
    CDeviceProxy source(&emu);
    DeviceStatus status;
    ASSERT_TRUE(source.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
    ASSERT_TRUE(source.StartCapture());
    ASSERT_EQ(source.GetStatus(&status), 1);
    ASSERT_EQ(status.payloadBytes, 0x20000u);
    emu.FailTransfer(10);  // the second chunk: the spare bytes
    ASSERT_EQ(source.BeginUpload(), 1);
    ASSERT_NO_FATAL_FAILURE(WaitIdle(source));
    ASSERT_LT(source.UploadProgress(), 100);
    EXPECT_EQ(source.FetchRest(), 0);
    EXPECT_EQ(source.OpenOrSave((dir / "s.ph").c_str(), (dir / "s.data").c_str(), 1), 1);
    EXPECT_EQ(source.FetchRest(), 0) << "nor after the save";
}

namespace {

// A large capture as the analyser writes it, saved before lost packets were
// marked: IN, DATA0 (8 bytes), ACK, SOF, each packet's bytes after the one
// before; the payload ring holds the bytes of the packets from `heldFrom` on,
// the older ones' written over and not marked. Its files: name.ph, name.data.
// Records [quietFrom, quietTo) are SOFs alone (seconds with no data on the
// bus); with `overlapping`, the newest written-over packet's bytes are laid
// where the oldest held packet's begin, so that only its end tells it lost.
struct UnmarkedShape {
    uint32_t quietFrom = 0, quietTo = 0;
    bool overlapping = false;
};
std::vector<PacketRecord> WriteUnmarkedCapture(const TempDir& dir, const std::string& name, uint32_t count,
                                               uint32_t heldFrom, const UnmarkedShape& shape = {}) {
    std::vector<PacketRecord> records(count);
    std::vector<uint64_t> at(count, 0);
    uint64_t written = 0, heldStart = 0;
    bool started = false;
    uint32_t newestLost = count, oldestHeld = count;
    for (uint32_t i = 0; i < count; ++i) {
        PacketRecord& r = records[i];
        r.SetTimestamp(uint64_t(i) * 100);
        r.SetSpeed(SpeedHigh);
        const uint8_t pids[] = {PidIn, PidData0, PidAck, PidSof};
        const bool quiet = i >= shape.quietFrom && i < shape.quietTo;
        r.SetPidByte(PacketRecord::MakePidByte(quiet ? PidSof : pids[i % 4]));
        if (!r.IsData()) {
            r.SetLow16(!quiet && i % 4 == 0 ? uint16_t(2 | 1 << 7) : uint16_t(i & 0x7FF));
            continue;
        }
        r.SetLow16(10);
        if (i >= heldFrom && !started) {
            heldStart = written;
            started = true;
            oldestHeld = i;
        }
        if (i < heldFrom) newestLost = i;
        at[i] = written;
        written += 10;
    }
    const uint64_t ring = written - heldStart;
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].IsData()) records[i].SetPayloadOffset(uint32_t((at[i] + 8 * ring - heldStart) % ring));
    if (shape.overlapping && newestLost < count && oldestHeld < count)
        records[newestLost].SetPayloadOffset(records[oldestHeld].PayloadOffset());
    Bytes payload(ring);
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = uint8_t(k * 7 + k / 251);
    WriteFile(dir / (name + ".ph"), records.data(), records.size() * sizeof(PacketRecord));
    WriteFile(dir / (name + ".data"), payload);
    return records;
}

// Every record `source` serves, each data packet's with the bytes and CRC it is served.
std::string Served(IDataSource& source) {
    std::string all;
    PacketRecord r;
    for (uint32_t i = 0; source.GetRecord(i, &r) == RecordOk; ++i) {
        all.append(reinterpret_cast<const char*>(&r), sizeof r);
        if (!r.IsData()) continue;
        uint8_t bytes[16];
        uint16_t crc = 0;
        const int32_t n = source.GetPayload(&r, bytes, sizeof bytes, &crc);
        all += std::to_string(n) + ':';
        if (n > 0) all.append(reinterpret_cast<const char*>(bytes), size_t(n)).append(reinterpret_cast<const char*>(&crc), 2);
    }
    return all;
}

// Where two of those first differ, as a record number; -1 when they do not.
int64_t FirstDifference(const std::string& a, const std::string& b) {
    if (a == b) return -1;
    const size_t at = size_t(std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin());
    return int64_t(std::count(a.begin(), a.begin() + at, ':'));  // roughly: data packets before it
}

// Opens the files as `save` (0 or 2) says with the loader held at its first
// read; answers the records served before the loader read any (-1: the open failed).
int64_t ServedBeforeTheLoaderReads(CDeviceProxy& proxy, const fs::path& ph, const fs::path& data, int32_t save) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    proxy.SetLoadReadHook([gate](uint32_t) {
        std::unique_lock lock(gate->mutex);
        gate->opened.wait(lock, [&] { return gate->open; });
    });
    const bool ok = proxy.OpenOrSave(ph.c_str(), data.c_str(), save) == 1;
    uint32_t served = 0;
    proxy.PeekRecords(0, &served);
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->opened.notify_all();
    return ok ? int64_t(served) : -1;
}

}  // namespace

// Files a save wrote, opened as such (2), serve their first records before
// the loader has read any more of them, and serve every record and payload as
// the walked open of the same files: the save marked what the ring wrote
// over, even of a capture it never walked itself. A packet whose bytes lie
// past the end of a payload file cut short still gets none, among the first
// records and among those loaded later.
TEST(HeldPayload, SavedFilesOpenedAsSuchServeTheirFirstRecordsAtOnceAndAsTheWalkSays) {
    const uint32_t count = kFirstRecords + kLoadChunk + 777;
    TempDir dir;
    WriteUnmarkedCapture(dir, "wrapped", count, count / 2);
    WriteUnmarkedCapture(dir, "whole", count, 0);
    emu::EmulatedAnalyser emu;
    for (const char* name : {"wrapped", "whole"}) {
        SCOPED_TRACE(name);
        const fs::path ph = dir / (std::string(name) + ".ph"), data = dir / (std::string(name) + ".data");
        CDeviceProxy walked(&emu);
        ASSERT_EQ(walked.OpenOrSave(ph.c_str(), data.c_str(), 0), 1);
        const std::string expected = Served(walked);
        // Opened as if saved here, never walked: the save must mark what the walk would.
        CDeviceProxy unwalked(&emu);
        ASSERT_EQ(unwalked.OpenOrSave(ph.c_str(), data.c_str(), 2), 1);
        ASSERT_EQ(unwalked.OpenOrSave((dir / "s.ph").c_str(), (dir / "s.data").c_str(), 1), 1);

        CDeviceProxy settled(&emu), again(&emu);
        EXPECT_EQ(ServedBeforeTheLoaderReads(settled, dir / "s.ph", dir / "s.data", 2), int64_t(kFirstRecords));
        EXPECT_EQ(ServedBeforeTheLoaderReads(again, dir / "s.ph", dir / "s.data", 0), 0) << "walked first";
        EXPECT_EQ(FirstDifference(Served(settled), expected), -1);
        EXPECT_EQ(FirstDifference(Served(again), expected), -1);
    }

    // The payload file cut short: among the first records' bytes, and among the last chunk's.
    const uint64_t dataBytes = fs::file_size(dir / "s.data");
    for (const uint64_t cut : {uint64_t(kFirstRecords) / 8 * 10, dataBytes - 12345}) {
        SCOPED_TRACE(cut);
        fs::copy_file(dir / "s.data", dir / "c.data", fs::copy_options::overwrite_existing);
        fs::resize_file(dir / "c.data", cut);
        CDeviceProxy walked(&emu), settled(&emu);
        ASSERT_EQ(walked.OpenOrSave((dir / "s.ph").c_str(), (dir / "c.data").c_str(), 0), 1);
        ASSERT_EQ(settled.OpenOrSave((dir / "s.ph").c_str(), (dir / "c.data").c_str(), 2), 1);
        uint32_t pastEnd = 0, held = 0;
        PacketRecord r;
        for (uint32_t i = 0; settled.GetRecord(i, &r) == RecordOk; ++i) {
            if (!r.IsData()) continue;
            uint8_t bytes[16];
            uint16_t crc = 0;
            const int32_t n = settled.GetPayload(&r, bytes, sizeof bytes, &crc);
            held += n > 0;
            pastEnd += n > 0 && uint64_t(r.PayloadOffset()) + r.Length() > cut;
        }
        EXPECT_EQ(pastEnd, 0u);
        EXPECT_GT(held, 0u);
        EXPECT_EQ(FirstDifference(Served(settled), Served(walked)), -1);
    }
}

// An old project whose ring wrapped, its lost packets not marked, opened: its
// walk from the newest end back, several chunks at once, each on its own and
// then joined to the newer ones, then the records the open read itself, marks
// what the same file walked in one go does, wherever the first written-over
// packet falls among the chunks; every record as that walk says, read in order
// while it loads and again once loaded.
TEST(HeldPayload, AWrappedOldProjectWalkedInChunksServesWhatTheWalkInOneGoSaysWhereverItsBoundaryFalls) {
    constexpr uint32_t kChunk = kWalkChunk, kCount = kFirstRecords + 6 * kChunk;  // chunk edges at kCount - k * kChunk
    static_assert(kCount % 4 == 0 && kChunk % 4 == 0 && kFirstRecords % 4 == 0, "a chunk's edge falls before an IN");
    constexpr uint32_t kNone = UINT32_MAX;
    struct Case {
        const char* name;
        uint32_t extra;     // records past kCount: the edges move on with the newest end
        uint32_t lost;      // the newest written-over packet (a DATA0: 1 past a multiple of 4)
        UnmarkedShape shape = {};
    };
    const Case cases[] = {
        {"none written over", 0, kNone},
        {"in the newest chunk", 0, kCount - 4999},
        // Its ACK and SOF close the chunk; the oldest held packet is the next chunk's second record.
        {"a chunk's newest data packet", 0, kCount - 2 * kChunk - 3},
        {"a chunk's newest data packet, its bytes where the held ones begin", 0, kCount - 2 * kChunk - 3, {0, 0, true}},
        {"a chunk's second newest data packet", 0, kCount - 2 * kChunk - 7},
        {"a chunk's last record, the held ones in the next chunk", 2, kCount + 2 - 2 * kChunk - 1},
        // 32,968 SOFs, some 4 s at high speed, cover the chunk before the held ones whole.
        {"before a chunk of no data", 0, kCount - 3 * kChunk - 103,
         {kCount - 3 * kChunk - 100, kCount - 2 * kChunk + 100, false}},
        {"the oldest chunk, two records long", 2, kFirstRecords + 1},
        {"the newest data packet of the records read at once", 0, kFirstRecords - 3},
        {"among the records read at once", 0, 37853},
    };
    TempDir dir;
    emu::EmulatedAnalyser emu;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t count = kCount + c.extra;
        const std::vector<PacketRecord> file =
            WriteUnmarkedCapture(dir, "old", count, c.lost == kNone ? 0 : c.lost + 1, c.shape);
        ASSERT_TRUE(c.lost == kNone || file[c.lost].IsData()) << "the row names a data packet";
        // The same file walked in one go, from its newest record back.
        std::vector<PacketRecord> expected = file;
        const uint32_t lostBefore = RecordsBeforeHeldPayload(expected.data(), count, UINT64_MAX);
        ASSERT_EQ(lostBefore, c.lost == kNone ? 0 : c.lost + 1) << "the walk in one go";
        MarkPayloadLost(expected.data(), lostBefore);

        CDeviceProxy proxy(&emu);
        ASSERT_EQ(proxy.OpenOrSave((dir / "old.ph").c_str(), (dir / "old.data").c_str(), 0), 1);
        for (const char* when : {"while it loads", "once loaded"}) {
            uint32_t differ = 0, first = 0, foreign = 0;
            PacketRecord r;
            for (uint32_t i = 0; i < count; ++i) {
                ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk) << when << " record " << i;
                if (std::memcmp(&r, &expected[i], sizeof r) == 0) continue;
                if (differ++ == 0) first = i;
                foreign += expected[i].PayloadLost() && !r.PayloadLost();  // served bytes the ring wrote over
            }
            EXPECT_EQ(proxy.GetRecord(count, &r), RecordEnd) << when;
            EXPECT_EQ(differ, 0u) << when << ": the first at record " << first << "; " << foreign
                                  << " packets served bytes not theirs (the walk in one go ends at " << lostBefore << ")";
        }
    }
}
