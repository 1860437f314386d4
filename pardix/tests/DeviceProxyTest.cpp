// The command protocol and the online read side, against the emulated analyser.
#include "ProxyFixture.h"

using namespace orvane;
using namespace orvane::pardix;
using orvane::testing::InTraffic;
using orvane::testing::ProxyFixture;

namespace {

// Forwards to the emulator but makes status reads report `packetBytes` captured,
// as an analyser that lost power mid-capture answers all ones.
class LyingStatus : public port::PortBackend {
public:
    LyingStatus(port::PortBackend& inner, uint32_t packetBytes) : inner_(inner), packetBytes_(packetBytes) {}
    int InitializeInterface(const port::InterfaceGuid* g) override { return inner_.InitializeInterface(g); }
    int WritePort(int d, int pipe, const void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        if (pipe == port::kCommandPipe && n == kCommandBytes) std::memcpy(&last_, b, sizeof last_);
        return inner_.WritePort(d, pipe, b, n, t, ms);
    }
    int ReadPort(int d, int pipe, void* b, unsigned long n, unsigned long* t, unsigned long ms) override {
        int ok = inner_.ReadPort(d, pipe, b, n, t, ms);
        if (ok && pipe == port::kCommandPipe && last_.opcode == OpReadRegisters && last_.address == RegControlBlock)
            std::memcpy(static_cast<uint8_t*>(b) + 4 + offsetof(ControlBlock, packetBytesCaptured), &packetBytes_, 4);
        return ok;
    }
    std::string Name() const override { return "lying"; }

private:
    port::PortBackend& inner_;
    uint32_t packetBytes_;
    CommandBlock last_{};
};

}  // namespace

// ---------------------------------------------------------------- command protocol

TEST_F(ProxyFixture, ReplyThatDoesNotEchoTheOpcodeFailsTheCommand) {
    uint32_t value = 0;
    emu.CorruptNextEcho();
    EXPECT_FALSE(proxy.ReadRegisters(RegControlBlock, &value, 4));
    EXPECT_TRUE(proxy.ReadRegisters(RegControlBlock, &value, 4));
    // The device information's reply header is no echo: a whole reply is taken as it is.
    DeviceInfo info;
    emu.CorruptNextEcho();
    EXPECT_EQ(proxy.GetDeviceInfo(&info), 1);
    EXPECT_EQ(info.model, kAnalyserModel);
}

// A reply cut short that still echoes the opcode: a register read would copy
// the previous reply's bytes as its own.
TEST_F(ProxyFixture, ShortRepliesFailTheOperation) {
    uint8_t status[16] = {};
    ASSERT_TRUE(proxy.ReadRegisters(RegControlBlock, status, sizeof status));
    emu.ShortenReply(1, 4);
    EXPECT_FALSE(proxy.ReadRegisters(RegControlBlock, status, sizeof status));
    EXPECT_TRUE(proxy.ReadRegisters(RegControlBlock, status, sizeof status));
    std::vector<uint8_t> data(64);
    for (unsigned nth : {1u, 2u}) {  // the echo, then the final reply
        emu.ShortenReply(nth, 2);
        EXPECT_FALSE(proxy.WriteMemory(0, RegTriggerTable, 16, data.data())) << nth;
    }
    EXPECT_TRUE(proxy.WriteMemory(0, RegTriggerTable, 16, data.data()));
    // Cut before the configuration version: it would read 0, a loaded one, and
    // the configuration would never be downloaded. Nothing of the cut reply is kept.
    DeviceInfo info;
    emu.ShortenReply(1, 16);
    EXPECT_EQ(proxy.GetDeviceInfo(&info), 0);
    EXPECT_EQ(info.model, 0u);
    ASSERT_EQ(proxy.GetDeviceInfo(&info), 1);
    EXPECT_EQ(info.model, kAnalyserModel);
}

TEST_F(ProxyFixture, MemoryWritesAreSplitAt64K) {
    std::vector<uint8_t> table(132, 0x5A);
    ASSERT_TRUE(proxy.WriteMemory(0, RegTriggerTable, 33, table.data()));
    EXPECT_EQ(emu.LastWritePieces(), std::vector<unsigned long>({132}));
    auto stored = emu.TriggerTable();
    EXPECT_TRUE(std::equal(table.begin(), table.end(), stored.begin()));

    std::vector<uint8_t> data(0x18000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + (i >> 8));
    const uint32_t window[4] = {0, uint32_t(data.size() / 8), 0xFFFFF, 1};
    ASSERT_TRUE(proxy.WriteRegisters(0, RegPayloadWindow, window, sizeof window));
    ASSERT_TRUE(proxy.WriteMemory(1, RegPayloadPort, uint32_t(data.size() / 4), data.data()));
    EXPECT_EQ(emu.LastWritePieces(), std::vector<unsigned long>({0x10000, 0x8000}));
    EXPECT_EQ(emu.ReadPayloadMemory(0, data.size()), data);
}

TEST_F(ProxyFixture, ShortMemoryReadIsRepeatedUntilWhole) {
    ASSERT_TRUE(proxy.ConfigureStorage(1 << 14, 1 << 14, 1 << 20, 1 << 20, 0));
    std::vector<uint8_t> data(512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i ^ 0x33);
    const uint32_t window[4] = {0x40, 512 / 8, 0xFFFFF, 1};
    ASSERT_TRUE(proxy.WriteRegisters(0, RegPayloadWindow, window, sizeof window));
    ASSERT_TRUE(proxy.WriteMemory(1, RegPayloadPort, 512 / 4, data.data()));

    std::vector<uint8_t> back(512);
    emu.ShortenNextBulkRead(100);
    unsigned before = emu.TransferCount(port::kBulkInPipe);
    ASSERT_TRUE(proxy.ReadPayload(0x40, 512, back.data()));
    EXPECT_EQ(emu.TransferCount(port::kBulkInPipe) - before, 2u);
    EXPECT_EQ(back, data);
}

TEST_F(ProxyFixture, FailedTransfersFailTheOperation) {
    std::vector<uint8_t> data(64);
    uint32_t value = 0;
    for (unsigned nth : {1u, 2u}) {  // the block, then its reply
        emu.FailTransfer(nth);
        EXPECT_FALSE(proxy.ReadRegisters(RegControlBlock, &value, 4)) << nth;
    }
    for (unsigned nth : {1u, 2u, 3u, 4u}) {  // block, echo, data, final reply
        emu.FailTransfer(nth);
        EXPECT_FALSE(proxy.WriteMemory(0, RegTriggerTable, 16, data.data())) << nth;
    }
    emu.CorruptNextAck();
    EXPECT_FALSE(proxy.WriteMemory(0, RegTriggerTable, 16, data.data()));
    EXPECT_TRUE(proxy.WriteMemory(0, RegTriggerTable, 16, data.data()));
}

TEST_F(ProxyFixture, ClearEndsAtTheFirstDoneBitAndGivesUpOnAStuckAnalyser) {
    emu.SetClearReads(1);
    unsigned before = emu.CommandCount();
    EXPECT_EQ(proxy.ClearMemory(), 1);
    EXPECT_EQ(emu.CommandCount() - before, 5u);  // three writes, one read, the closing write

    emu.SetClearReads(1u << 30);
    EXPECT_EQ(proxy.ClearMemory(), 0);
    auto writes = emu.RegisterWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().address, RegClearControl);  // the clear is ended, not left running
    EXPECT_EQ(writes.back().data, std::vector<uint8_t>({0, 0, 0, 0}));

    emu.DisconnectAtCommand(4);
    EXPECT_EQ(proxy.ClearMemory(), 0);
}

TEST_F(ProxyFixture, ResetStrobeSucceedsWhateverTheReply) {
    emu.FailTransfer(2);
    EXPECT_EQ(proxy.Reset(), 1);
    auto writes = emu.RegisterWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().address, RegResetStrobe);
    EXPECT_EQ(writes.back().argument, 1);
}

TEST_F(ProxyFixture, AStatusReadOfAnUnconfiguredAnalyserDownloadsOnce) {
    orvane::testing::TempDir dir;
    orvane::testing::WriteFile(dir / "device.rvs", orvane::testing::kConfigurationImage);
    proxy.SetConfigurationPath(dir / "device.rvs");
    emu.SetConfigured(false);
    DeviceStatus status;
    EXPECT_EQ(proxy.GetStatus(&status), 0);
    EXPECT_TRUE(emu.Configured());
    EXPECT_EQ(emu.ConfigurationVersion(), 0x01020304u);
    EXPECT_EQ(proxy.GetStatus(&status), 1);

    emu.SetConfigured(false);
    emu.CorruptNextAck();
    EXPECT_FALSE(proxy.DownloadConfiguration({1, 2, 3, 4}));
    proxy.SetConfigurationPath("/nonexistent/device.rvs");
    EXPECT_EQ(proxy.DownloadImage(), 0);
}

// ---------------------------------------------------------------- online read side

TEST_F(ProxyFixture, RecordsAreFetched1024AtATimeAndNotYetUntilTheEnd) {
    auto traffic = InTraffic(2500);
    auto expected = traffic.records;
    emu.SetPace(0);
    emu.SetEndWhenExhausted(false);
    Capture(std::move(traffic));

    PacketRecord r;
    for (uint32_t index : {0u, 1024u, 2048u}) {
        ASSERT_EQ(proxy.GetRecord(index, &r), RecordOk) << index;
        EXPECT_EQ(r.word0, expected[index].word0);
    }
    EXPECT_EQ(RecordFetches(), std::vector<uint32_t>({1024, 1024, 452}));
    for (uint32_t i = 0; i < 2500; ++i) {  // the rest from the cache, no more fetches
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk);
        ASSERT_EQ(r.word0, expected[i].word0) << i;
    }
    EXPECT_EQ(RecordFetches().size(), 3u);
    EXPECT_EQ(proxy.GetRecord(2500, &r), RecordNotYet);
    emu.FinishCapture();
    EXPECT_EQ(proxy.GetRecord(2500, &r), RecordEnd);
    EXPECT_EQ(proxy.GetCount(), 2500u);
}

TEST_F(ProxyFixture, ReadingAheadNeverServesRecordsThatWereNotRead) {
    auto traffic = InTraffic(3000);
    auto expected = traffic.records;
    emu.SetPace(0);
    Capture(std::move(traffic));
    PacketRecord r;
    ASSERT_EQ(proxy.GetRecord(2900, &r), RecordOk);
    EXPECT_EQ(r.word0, expected[2900].word0);
    EXPECT_EQ(proxy.CachedCount(), 3000u);
    for (uint32_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk);
        ASSERT_EQ(r.word0, expected[i].word0) << i;
    }
}

TEST_F(ProxyFixture, PayloadJustBeforeTheStartWrapsToTheBufferEnd) {
    // 1 MiB - 5 payload bytes, then a packet that fills the buffer exactly.
    emu::BusTrafficBuilder b(SpeedHigh);
    std::vector<uint8_t> big(65533, 0x11);
    for (int i = 0; i < 16; ++i) b.Data(PidData0, big);
    b.Data(PidData1, std::vector<uint8_t>(9, 0x22));
    std::vector<uint8_t> last = {0xA1, 0xA2, 0xA3};
    b.Data(PidData0, last);
    emu.SetCaptureStart(0, 0x40);
    emu.SetPace(0);
    Capture(b.Take(), 1u << 12, 1u << 20);
    PacketRecord r;
    ASSERT_EQ(proxy.GetRecord(17, &r), RecordOk);
    EXPECT_EQ(r.PayloadOffset(), 0x100000u - 5);
    std::vector<uint8_t> got(last.size());
    uint16_t crc = 0;
    ASSERT_EQ(proxy.GetPayload(&r, got.data(), uint32_t(got.size()), &crc), int32_t(last.size()));
    EXPECT_EQ(got, last);
}

TEST_F(ProxyFixture, RecordsAcrossTheEndOfCircularPacketMemory) {
    auto traffic = InTraffic(600);
    auto expected = traffic.records;
    const uint32_t packetBytes = 1u << 14;  // 1024 records
    emu.SetCaptureStart(packetBytes - 16 * 100, 0xFFFF0);  // both wrap during the capture
    emu.SetPace(0);
    Capture(traffic, packetBytes, 1u << 20);
    PacketRecord r;
    uint8_t bytes[64];
    for (uint32_t i = 0; i < 600; ++i) {
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk);
        ASSERT_EQ(r.word0, expected[i].word0) << i;
        if (!r.IsData()) continue;
        uint16_t crc = 0;
        ASSERT_EQ(proxy.GetPayload(&r, bytes, sizeof bytes, &crc), 8) << i;
        const uint8_t* want = traffic.payload.data() + expected[i].PayloadOffset();
        ASSERT_EQ(std::memcmp(bytes, want, 8), 0) << i;
        EXPECT_EQ(crc, uint16_t(want[8] | want[9] << 8));
    }
}

TEST_F(ProxyFixture, ShortPayloadsYieldNothingAndLongOnesAreCut) {
    emu::BusTrafficBuilder b(SpeedHigh);
    b.Data(PidData0, {});                       // length 2: just the CRC
    b.DataWithLength(PidData1, {0x77}, 1);      // no room for a CRC
    b.DataWithLength(PidData1, {}, 0);
    std::vector<uint8_t> data(512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    b.Data(PidData0, data);
    emu.SetPace(0);
    Capture(b.Take());
    PacketRecord r;
    uint8_t bytes[17] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint16_t crc = 0x1234;
    ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);
    EXPECT_EQ(proxy.GetPayload(&r, bytes, 4, &crc), 0);
    EXPECT_EQ(crc, 0x0000);  // CRC16 of no bytes
    for (uint32_t i : {1u, 2u}) {
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk);
        EXPECT_EQ(proxy.GetPayload(&r, bytes, 4, &crc), 0);
        EXPECT_EQ(bytes[0], 0xEE);
    }
    // Longer than the caller's buffer: cut, and the whole length reported.
    bytes[16] = 0xEE;
    ASSERT_EQ(proxy.GetRecord(3, &r), RecordOk);
    EXPECT_EQ(proxy.GetPayload(&r, bytes, 16, &crc), 512);
    EXPECT_EQ(bytes[15], 15);
    EXPECT_EQ(bytes[16], 0xEE);
}

// A triggered capture's index is checked end to end.
TEST_F(ProxyFixture, StatusOfACaptureWithoutATrigger) {
    emu.SetPace(0);
    emu.SetTriggerRecord(std::nullopt);
    Capture(InTraffic(300));
    DeviceStatus s;
    ASSERT_EQ(proxy.GetStatus(&s), 1);
    EXPECT_EQ(s.trigger, -1);
    EXPECT_EQ(s.packets, 300u);
    EXPECT_EQ(s.flags & (StatusOnline | StatusOnline2 | StatusTriggered | StatusComplete | StatusRunning),
              StatusOnline | StatusOnline2 | StatusComplete);
}

TEST_F(ProxyFixture, CapturedCountBeyondTheStorageIsClamped) {
    LyingStatus lying(emu, 0xFFFFFFF0);
    CDeviceProxy liar(&lying);
    ASSERT_TRUE(liar.ConfigureStorage(1u << 14, 1u << 14, 1u << 20, 1u << 20, 0));
    emu.SetPace(0);
    emu.SetTraffic(InTraffic(2000));
    ASSERT_TRUE(liar.StartCapture());
    EXPECT_EQ(liar.GetCount(), 1024u);
    PacketRecord r;
    EXPECT_EQ(liar.GetRecord(1023, &r), RecordOk);
    EXPECT_EQ(liar.GetRecord(1024, &r), RecordEnd);
    EXPECT_EQ(liar.GetRecord(0x0FFFFFFE, &r), RecordEnd);
}

TEST_F(ProxyFixture, AFailedFetchLeavesTheCacheAndALaterReadRecovers) {
    auto traffic = InTraffic(1500);
    auto expected = traffic.records;
    emu.SetPace(0);
    Capture(std::move(traffic));
    PacketRecord r;
    emu.DisconnectAtCommand(2);  // the status read passes, the second record window write fails
    EXPECT_EQ(proxy.GetRecord(0, &r), RecordEnd);
    EXPECT_EQ(proxy.CachedCount(), 0u) << "an ended capture is served once all of it is read";
    emu.Reconnect();
    ASSERT_EQ(proxy.GetRecord(1100, &r), RecordOk);
    EXPECT_EQ(r.word0, expected[1100].word0);
}

TEST_F(ProxyFixture, StorageThatCannotBeACircularBufferIsRefused) {
    EXPECT_EQ(proxy.ConfigureStorage(0, 0, 0, 1 << 20, 0), 0);
    EXPECT_EQ(proxy.ConfigureStorage(3000, 3000, 0, 1 << 20, 0), 0);
    EXPECT_EQ(proxy.ConfigureStorage(0, 1 << 14, 0, 1000, 0), 0);
    EXPECT_EQ(proxy.ConfigureStorage(1 << 15, 1 << 14, 0, 1 << 20, 0), 0);
    EXPECT_EQ(proxy.ConfigureStorage(1 << 13, 1 << 14, 1 << 19, 1 << 20, 0), 1);
    ASSERT_TRUE(proxy.StartCapture());
    EXPECT_EQ(proxy.RecordCapacity(), 1024u);
}

TEST_F(ProxyFixture, ANewCaptureNeverServesTheLastOnesRecords) {
    emu.SetPace(0);
    Capture(InTraffic(90));
    PacketRecord r;
    ASSERT_EQ(proxy.GetRecord(80, &r), RecordOk);
    emu.SetEndWhenExhausted(false);
    emu.SetTraffic(emu::BusCapture{});
    ASSERT_TRUE(proxy.StartCapture());
    EXPECT_EQ(proxy.GetRecord(0, &r), RecordNotYet);
}
