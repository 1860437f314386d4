// One IDataSource suite for both sides of the data source: a capture read from
// the emulated analyser and the same capture opened from ".ph"/".data" files.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "Crc.h"
#include "ProxyFixture.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

struct Side {
    const char* name;
    bool online;
};

class DataSourceSuite : public ::testing::TestWithParam<Side> {
protected:
    emu::EmulatedAnalyser emu;
    std::unique_ptr<pardix::CDeviceProxy> proxy = std::make_unique<pardix::CDeviceProxy>(&emu);
    TempDir dir;

    IDataSource& Open(const emu::BusCapture& c) {
        if (GetParam().online) {
            EXPECT_TRUE(proxy->ConfigureStorage(1u << 20, 1u << 20, 1u << 22, 1u << 22, 0));
            emu.SetPace(1000);
            emu.SetTraffic(c);
            EXPECT_TRUE(proxy->StartCapture());
        } else {
            SaveCapture(c, dir / "cap.ph", dir / "cap.data");
            EXPECT_EQ(proxy->OpenOrSave((dir / "cap.ph").c_str(), (dir / "cap.data").c_str(), 0), 1);
        }
        return *proxy;
    }
};

}  // namespace

TEST_P(DataSourceSuite, ServesEveryRecordAndPayloadOfASession) {
    for (auto kind : {emu::SessionBuilder::Kind::Mouse, emu::SessionBuilder::Kind::Disk}) {
        emu::SessionBuilder::Options o;
        o.kind = kind;
        o.speed = SpeedHigh;
        o.operations = 6;
        if (kind == emu::SessionBuilder::Kind::Mouse) o.speed = SpeedFull;
        auto capture = emu::SessionBuilder(o).Build();
        IDataSource& source = Open(capture);

        std::vector<uint8_t> bytes(65536);
        PacketRecord r;
        uint32_t index = 0;
        for (int waits = 0; waits < 100000;) {
            int32_t got = source.GetRecord(index, &r);
            if (got == RecordEnd) break;
            if (got == RecordNotYet) {
                ++waits;
                continue;
            }
            ASSERT_LT(index, capture.records.size());
            const PacketRecord& want = capture.records[index];
            ASSERT_EQ(r.word0, want.word0) << index;
            ASSERT_EQ(uint32_t(r.word1), uint32_t(want.word1)) << index;
            if (r.IsData() && r.Length() >= 2) {
                uint16_t crc = 0;
                int32_t n = source.GetPayload(&r, bytes.data(), uint32_t(bytes.size()), &crc);
                ASSERT_EQ(n, int32_t(r.Length() - 2)) << index;
                const uint8_t* expect = capture.payload.data() + want.PayloadOffset();
                ASSERT_EQ(std::memcmp(bytes.data(), expect, size_t(n)), 0) << index;
                ASSERT_EQ(crc, uint16_t(expect[n] | expect[n + 1] << 8)) << index;
            }
            ++index;
        }
        EXPECT_EQ(index, capture.records.size());
        EXPECT_EQ(source.GetCount(), capture.records.size());
        EXPECT_EQ(source.GetRecord(index, &r), RecordEnd);
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, DataSourceSuite, ::testing::Values(Side{"online", true}, Side{"offline", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- offline only

class OfflineSource : public ::testing::Test {
protected:
    emu::EmulatedAnalyser emu;
    pardix::CDeviceProxy proxy{&emu};
    TempDir dir;
};

TEST_F(OfflineSource, ACutPacketFileOpensItsWholeRecordsAndAMissingFileChangesNothing) {
    auto good = InTraffic(30);
    SaveCapture(good, dir / "good.ph", dir / "good.data");
    PacketRecord r;
    uint8_t bytes[16];
    uint16_t crc;

    // Cut inside its second record: one record, announced as two until the end is met.
    WriteFile(dir / "odd.ph", good.records.data(), 17);
    ASSERT_EQ(proxy.OpenOrSave((dir / "odd.ph").c_str(), (dir / "good.data").c_str(), 0), 1);
    EXPECT_EQ(proxy.GetCount(), 2u);
    ASSERT_EQ(proxy.GetRecord(0, &r), RecordOk);
    EXPECT_EQ(std::memcmp(&r, &good.records[0], 16), 0);
    EXPECT_EQ(proxy.GetRecord(1, &r), RecordEnd);
    EXPECT_EQ(proxy.GetCount(), 1u);

    ASSERT_EQ(proxy.OpenOrSave((dir / "good.ph").c_str(), (dir / "good.data").c_str(), 0), 1);
    fs::create_directory(dir / "folder.data");
    const std::pair<std::string, std::string> refused[] = {
        {dir / "none.ph", dir / "good.data"}, {dir / "good.ph", dir / "none.data"},
        {dir / "good.ph", dir / "folder.data"}};
    for (const auto& [packets, payload] : refused) {
        EXPECT_EQ(proxy.OpenOrSave(packets.c_str(), payload.c_str(), 0), 0) << packets << payload;
        const char* path = nullptr;
        EXPECT_NE(proxy.LastFileError(&path), 0);
        EXPECT_TRUE(path == packets || path == payload) << path;
        EXPECT_EQ(proxy.GetCount(), 30u);
        ASSERT_EQ(proxy.GetRecord(1, &r), RecordOk);
        EXPECT_EQ(proxy.GetPayload(&r, bytes, sizeof bytes, &crc), 8) << "the payload store stays";
    }
}

TEST_F(OfflineSource, PayloadOnlyWhereTheFileHoldsAllOfIt) {
    emu::BusTrafficBuilder b(SpeedFull);
    b.Data(PidData0, {1, 2, 3, 4});   // offset 0, 6 bytes
    b.Data(PidData1, {5, 6, 7, 8});   // offset 6, 6 bytes
    auto c = b.Take();
    WriteFile(dir / "p.ph", c.records.data(), c.records.size() * 16);
    // The file ends exactly where the second packet ends, then one byte short of it.
    for (size_t size : {size_t(12), size_t(11)}) {
        WriteFile(dir / "p.data", c.payload.data(), size);
        ASSERT_EQ(proxy.OpenOrSave((dir / "p.ph").c_str(), (dir / "p.data").c_str(), 0), 1);
        PacketRecord r;
        uint8_t bytes[8] = {};
        uint16_t crc = 0;
        ASSERT_EQ(proxy.GetRecord(1, &r), RecordOk);
        EXPECT_EQ(proxy.GetPayload(&r, bytes, sizeof bytes, &crc), size == 12 ? 4 : 0) << size;
    }
    // An offset near the top of 32 bits must not wrap past the file's end.
    PacketRecord far;
    far.SetPidByte(PacketRecord::MakePidByte(PidData0));
    far.SetLow16(0xFFFF);
    far.SetPayloadOffset(0xFFFFFFF0u);
    std::vector<uint8_t> big(0x10000);
    uint16_t crc = 0;
    EXPECT_EQ(proxy.GetPayload(&far, big.data(), uint32_t(big.size()), &crc), 0);
}

// ---------------------------------------------------------------- real captures

class RealCapture : public ::testing::TestWithParam<const char*> {};

TEST_P(RealCapture, RecordsAndPayloadCrcsHold) {
    std::string base = std::string(ORVANE_CAPTURES_DIR) + "/" + GetParam();
    if (!fs::exists(base + ".ph")) GTEST_SKIP() << "real captures not present";
    emu::EmulatedAnalyser emu;
    pardix::CDeviceProxy proxy(&emu);
    ASSERT_EQ(proxy.OpenOrSave((base + ".ph").c_str(), (base + ".data").c_str(), 0), 1);
    const uint32_t count = proxy.GetCount();
    EXPECT_EQ(count * 16ull, fs::file_size(base + ".ph"));

    std::vector<uint8_t> bytes(65536);
    uint32_t dataPackets = 0;
    uint64_t last = 0;
    for (uint32_t i = 0; i < count; ++i) {
        PacketRecord r;
        ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk);
        EXPECT_GE(r.Timestamp(), last) << i;
        last = r.Timestamp();
        if (!r.IsData() || !r.PidCheckOk()) continue;
        uint16_t crc = 0;
        int32_t n = proxy.GetPayload(&r, bytes.data(), uint32_t(bytes.size()), &crc);
        ASSERT_EQ(n, int32_t(r.PayloadLength())) << i;
        bool flagged = r.ErrorFlags() & ErrCrc16;
        bool good = emu::Crc::Crc16(std::span<const uint8_t>(bytes.data(), size_t(n))) == crc;
        EXPECT_EQ(good, !flagged) << "record " << i;
        ++dataPackets;
    }
    EXPECT_GT(dataPackets, 0u);
    PacketRecord past;
    EXPECT_EQ(proxy.GetRecord(count, &past), RecordEnd);
}

INSTANTIATE_TEST_SUITE_P(Files, RealCapture,
                         ::testing::Values("usb_ls_mouse", "usb_fs_vcp", "usb_hs_flash_drive"));

// Record arrays of a few huge pages and of less than one page, one after the
// other in one data source: each serves exactly its records, and replacing
// one (by an open or by storage for a capture) frees it.
TEST(RecordArrays, OpenedAndConfiguredArraysOfEverySizeServeTheirRecords) {
    emu::EmulatedAnalyser emu;
    pardix::CDeviceProxy proxy(&emu);
    TempDir dir;
    for (uint32_t count : {300000u, 0u, 1u, 131072u, 131073u}) {
        emu::BusCapture capture;
        for (uint32_t i = 0; i < count; ++i) {
            PacketRecord r;
            r.SetTimestamp(i);
            r.SetLow16(uint16_t(i));
            capture.records.push_back(r);
        }
        const std::string ph = dir / ("n" + std::to_string(count) + ".ph");
        SaveCapture(capture, ph, dir / "n.data");
        ASSERT_EQ(proxy.OpenOrSave(ph.c_str(), (dir / "n.data").c_str(), 0), 1) << count;
        ASSERT_EQ(proxy.GetCount(), count);
        PacketRecord r;
        for (uint32_t i : {0u, 1u, count / 2, count - 1}) {
            if (i >= count) continue;
            ASSERT_EQ(proxy.GetRecord(i, &r), RecordOk) << count << " " << i;
            EXPECT_EQ(r.Timestamp(), i);
        }
        uint32_t peeked = 0;
        const PacketRecord* span = proxy.PeekRecords(0, &peeked);
        EXPECT_EQ(peeked, count);
        if (count) {
            EXPECT_EQ(span[count - 1].Length(), uint16_t(count - 1));
        }
        EXPECT_EQ(proxy.GetRecord(count, &r), RecordEnd);
        if (count == 131072u) {
            ASSERT_TRUE(proxy.ConfigureStorage(1u << 20, 4u << 20, 1u << 20, 1u << 20, 0));
            ASSERT_TRUE(proxy.StartCapture());
            EXPECT_EQ(proxy.RecordCapacity(), 262144u);
        }
    }
}

// The records of an opened file beyond its first ones arrive while the
// caller goes on: a read ahead of them waits, the count is the file's from
// the start, a save right away writes them all, and another open or a new
// capture may follow at once.
TEST(RecordArrays, RecordsStillBeingLoadedAreWaitedForSavedWholeAndReplaceable) {
    emu::EmulatedAnalyser emu;
    pardix::CDeviceProxy proxy(&emu);
    TempDir dir;
    constexpr uint32_t kCount = 1500000;
    emu::BusCapture capture;
    for (uint32_t i = 0; i < kCount; ++i) {
        PacketRecord r;
        r.SetTimestamp(uint64_t(i) * 3);
        capture.records.push_back(r);
    }
    SaveCapture(capture, dir / "big.ph", dir / "big.data");
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(proxy.OpenOrSave((dir / "big.ph").c_str(), (dir / "big.data").c_str(), 0), 1);
        EXPECT_EQ(proxy.GetCount(), kCount);
        PacketRecord r;
        if (round == 0) {
            ASSERT_EQ(proxy.GetRecord(kCount - 1, &r), RecordOk);
            EXPECT_EQ(r.Timestamp(), uint64_t(kCount - 1) * 3);
            EXPECT_EQ(proxy.GetRecord(kCount, &r), RecordEnd);
        } else if (round == 1) {
            ASSERT_EQ(proxy.OpenOrSave((dir / "copy.ph").c_str(), (dir / "copy.data").c_str(), 1), 1);
            EXPECT_EQ(fs::file_size(dir / "copy.ph"), uint64_t(kCount) * 16);
            std::ifstream a(dir / "big.ph", std::ios::binary), b(dir / "copy.ph", std::ios::binary);
            EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));
        } else {
            ASSERT_TRUE(proxy.ConfigureStorage(1u << 20, 1u << 20, 1u << 20, 1u << 20, 0));
            ASSERT_TRUE(proxy.StartCapture());
            EXPECT_EQ(proxy.GetRecord(0, &r), RecordEnd) << "a new, empty capture";
        }
    }
}
