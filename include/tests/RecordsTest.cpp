#include <gtest/gtest.h>

#include <memory>

#include "ItemSummary.h"
#include "PacketRecord.h"
#include "UsbItem.h"

using namespace orvane;

namespace {

PacketRecord Make(uint64_t w0, uint64_t w1) {
    PacketRecord r;
    r.word0 = w0;
    r.word1 = w1;
    return r;
}

}  // namespace

TEST(PacketRecord, TokenFieldsFollowTheBitLayout) {
    // IN token, address 0x55, endpoint 9, CRC5 0x1B, full speed, duration 0x1234.
    uint64_t low16 = 0x55 | (9u << 7) | (0x1Bu << 11);
    auto r = Make(0x1234'000000ABCDEFull, low16 | (uint64_t(0x69) << 16) | (3ull << 29));
    EXPECT_EQ(r.Timestamp(), 0xABCDEFu);
    EXPECT_EQ(r.Duration(), 0x1234);
    EXPECT_EQ(r.Address(), 0x55);
    EXPECT_EQ(r.Endpoint(), 9);
    EXPECT_EQ(r.Crc5(), 0x1B);
    EXPECT_EQ(r.PidNibble(), PidIn);
    EXPECT_TRUE(r.PidCheckOk());
    EXPECT_FALSE(r.IsData());
    EXPECT_EQ(r.Speed(), SpeedFull);
    EXPECT_FALSE(r.HasError());
    EXPECT_EQ(r.ErrorFlags(), 0);
}

TEST(PacketRecord, SplitVariantReusesDurationAndLowBits) {
    // Complete split, hub 0x42, duration 0x37, port 0x15, S=1, E=0, ET=3.
    uint64_t w0 = (1ull << 63) | (0x42ull << 56) | (0x37ull << 48) | 1000;
    uint64_t w1 = 0x15 | (1u << 7) | (3u << 9) | (0x0Au << 11) | (uint64_t(0x78) << 16) | (2ull << 29);
    auto r = Make(w0, w1);
    EXPECT_TRUE(r.SplitComplete());
    EXPECT_EQ(r.SplitHubAddress(), 0x42);
    EXPECT_EQ(r.SplitDuration(), 0x37);
    EXPECT_EQ(r.SplitHubPort(), 0x15);
    EXPECT_TRUE(r.SplitS());
    EXPECT_FALSE(r.SplitE());
    EXPECT_EQ(r.SplitEt(), 3);
    EXPECT_EQ(r.Crc5(), 0x0A);
    EXPECT_EQ(r.PidNibble(), PidSplit);
    EXPECT_EQ(r.Timestamp(), 1000u);

    PacketRecord w;
    w.SetSplitWord0(0x37, 0x42, true);
    EXPECT_EQ(w.word0 >> 48, w0 >> 48);

    // A packet's duration: a SPLIT's own 8 bits, every other record's 16,
    // a record whose PID fails its check counted as no SPLIT.
    EXPECT_TRUE(r.IsSplit());
    EXPECT_EQ(r.PacketDuration(), 0x37);
    PacketRecord token = r;
    token.SetPidByte(PacketRecord::MakePidByte(PidIn));
    EXPECT_EQ(token.PacketDuration(), 0xC237);
    PacketRecord damaged = r;
    damaged.SetPidByte(0x08);
    damaged.SetErrorFlags(ErrPidCheck);
    EXPECT_FALSE(damaged.IsSplit());
    EXPECT_EQ(damaged.PacketDuration(), 0xC237);
    damaged.SetErrorFlags(0);
    EXPECT_TRUE(damaged.IsSplit()) << "a PID check is read only with the error bit set";
}

TEST(PacketRecord, DataPacketsByPidBits) {
    for (uint8_t pid = 0; pid < 16; ++pid) {
        PacketRecord r;
        r.SetPidByte(PacketRecord::MakePidByte(pid));
        bool data = pid == PidData0 || pid == PidData1 || pid == PidData2 || pid == PidMData;
        EXPECT_EQ(r.IsData(), data) << int(pid);
        EXPECT_TRUE(r.PidCheckOk());
    }
}

TEST(PacketRecord, PayloadLengthNeverNegative) {
    PacketRecord r;
    r.SetPidByte(PacketRecord::MakePidByte(PidData0));
    for (auto [len, payload] : {std::pair{0u, 0u}, {1u, 0u}, {2u, 0u}, {3u, 1u}, {0xFFFFu, 0xFFFDu}}) {
        r.SetLow16(uint16_t(len));
        EXPECT_EQ(r.PayloadLength(), payload) << len;
    }
}

TEST(PacketRecord, ErrorFlagsAndBusEvents) {
    PacketRecord r;
    r.SetErrorFlags(ErrCrc16 | ErrBitStuff);
    EXPECT_TRUE(r.HasError());
    EXPECT_EQ(r.ErrorFlags(), ErrCrc16 | ErrBitStuff);
    r.SetErrorFlags(0);
    EXPECT_FALSE(r.HasError());
    EXPECT_EQ(r.word1, 0u);

    PacketRecord e;
    e.SetBusEventCode(5);
    EXPECT_TRUE(e.IsBusEvent());
    EXPECT_EQ(e.BusEventCode(), 5);
    EXPECT_FALSE(e.HasError());

    // The payload offset above bit 31 is no error.
    PacketRecord data;
    data.SetPidByte(PacketRecord::MakePidByte(PidData1));
    data.SetPayloadOffset(0x80000001u);
    EXPECT_FALSE(data.HasError());
    EXPECT_EQ(data.ErrorFlags(), 0);

    // A bad check nibble is a PID-check failure.
    PacketRecord bad = Make(0, uint64_t(0x19) << 16);
    EXPECT_FALSE(bad.PidCheckOk());
}

TEST(PacketRecord, WritersKeepNeighbouringFields) {
    PacketRecord r;
    r.SetTimestamp(0xFFFFFFFFFFFFull);
    r.SetDuration(0xBEEF);
    r.SetLow16(0x1234);
    r.SetPidByte(0xC3);
    r.SetSpeed(SpeedHigh);
    r.SetPayloadOffset(0xDEADBEEF);
    EXPECT_EQ(r.Timestamp(), 0xFFFFFFFFFFFFull);
    EXPECT_EQ(r.Duration(), 0xBEEF);
    EXPECT_EQ(r.Length(), 0x1234);
    EXPECT_EQ(r.PidByte(), 0xC3);
    EXPECT_EQ(r.Speed(), SpeedHigh);
    EXPECT_EQ(r.PayloadOffset(), 0xDEADBEEFu);
    r.SetTimestamp(uint64_t(1) << 50);  // beyond 48 bits: cut, never spills into the duration
    EXPECT_EQ(r.Duration(), 0xBEEF);
}

TEST(Items, NewItemAndSummaryDefaults) {
    UsbItem item;
    EXPECT_EQ(item.address, 0xFF);
    EXPECT_EQ(item.endpoint, 0xFF);
    EXPECT_EQ(item.interface, 0xFF);
    EXPECT_EQ(item.status, 0xFF);
    EXPECT_EQ(item.flags, 0);
    EXPECT_TRUE(item.parent == nullptr);
    EXPECT_TRUE(item.children.empty());

    ItemSummary s;
    for (int32_t v : {s.icon, s.address, s.endpoint, s.interface, s.status, s.speed, s.size}) EXPECT_EQ(v, -1);
    EXPECT_EQ(s.duration, 0);
    EXPECT_EQ(s.idle, 0);
    EXPECT_EQ(s.time, 0);
    EXPECT_EQ(MakeItemStatus(StatusError, ErrorClassPid), 0x20007);
}

TEST(Items, ChildListKeepsOrderAndAnItemCanStandInTwoTrees) {
    std::unique_ptr<UsbItem> transactionRootItem_ = std::make_unique<UsbItem>();
    UsbItem& transactionRoot = *transactionRootItem_;
    std::unique_ptr<UsbItem> transferItem_ = std::make_unique<UsbItem>();
    UsbItem& transfer = *transferItem_;
    std::vector<UsbItem*> made;
    for (uint32_t i = 0; i < 1000; ++i) {
        made.push_back(new UsbItem(ItemInTransaction, i));
        transactionRoot.Append(made.back());
    }
    ASSERT_EQ(transactionRoot.children.size(), 1000u);
    for (uint32_t i = 0; i < 1000; ++i) EXPECT_EQ(transactionRoot.children[i]->firstRecord, i);

    // A decoder takes one into a transfer-level item: it stays where it was too.
    transfer.Append(made[7]);
    EXPECT_EQ(transactionRoot.children[7], made[7]);
    EXPECT_EQ(transfer.children[0], made[7]);
    EXPECT_TRUE(made[7]->parent == &transfer);
    for (auto* p : made) delete p;
}
