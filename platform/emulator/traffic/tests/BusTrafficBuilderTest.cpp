// The builder's own guarantees. engine/tests parse its traffic of every shape
// and check what each transaction means.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "BusTrafficBuilder.h"
#include "Crc.h"

namespace orvane::emu {
namespace {

using Bytes = BusTrafficBuilder::Bytes;
using B = BusTrafficBuilder;

std::vector<uint8_t> Pids(const B& b) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < b.Count(); ++i)
        if (b.Record(i).PidNibble() != PidSof) out.push_back(b.Record(i).PidNibble());
    return out;
}

uint16_t StoredCrc16(const B& b, size_t i) {
    const PacketRecord& r = b.Record(i);
    const auto& p = b.Capture().payload;
    return uint16_t(p[r.PayloadOffset() + r.Length() - 2] | p[r.PayloadOffset() + r.Length() - 1] << 8);
}

TEST(BusTrafficBuilder, PacketFieldsAndTheirCrcs) {
    B b(SpeedHigh);
    for (auto [pid, address, endpoint] : {std::tuple{PidOut, 0x15, 0xE}, {PidIn, 0x7F, 0xF}, {PidSetup, 0, 0}}) {
        const PacketRecord& r = b.Record(b.Token(pid, uint8_t(address), uint8_t(endpoint)));
        EXPECT_TRUE(r.PidCheckOk() && !r.HasError() && !r.IsData());
        EXPECT_EQ(r.PidNibble(), pid);
        EXPECT_EQ(r.Address(), address);
        EXPECT_EQ(r.Endpoint(), endpoint);
        EXPECT_EQ(r.Crc5(), Crc::Token(uint8_t(address), uint8_t(endpoint)));
        EXPECT_EQ(r.Speed(), SpeedHigh);
    }
    const PacketRecord& sof = b.Record(b.Sof(0x710));
    EXPECT_EQ(sof.FrameNumber(), 0x710);
    EXPECT_EQ(sof.Crc5(), Crc::Sof(0x710));

    const PacketRecord& split = b.Record(b.Split(0x55, 0x12, true, true, false, B::EtInterrupt));
    EXPECT_EQ(split.SplitHubAddress(), 0x55);
    EXPECT_EQ(split.SplitHubPort(), 0x12);
    EXPECT_TRUE(split.SplitComplete() && split.SplitS() && !split.SplitE());
    EXPECT_EQ(split.SplitEt(), B::EtInterrupt);
    EXPECT_EQ(split.Crc5(), Crc::Split(0x55, true, 0x12, true, false, B::EtInterrupt));

    const uint64_t before = b.Now();
    const PacketRecord& e = b.Record(b.BusEvent(EvHostResetCompleted, 100000));
    EXPECT_TRUE(e.IsBusEvent() && !e.HasError());
    EXPECT_EQ(e.BusEventCode(), EvHostResetCompleted);
    EXPECT_EQ(e.Duration(), 0xFFFF);  // saturated, the clock still moves the full time
    EXPECT_EQ(b.Now(), before + 100000);
}

TEST(BusTrafficBuilder, DataPacketsCarryPayloadAndCrc) {
    B b;
    for (const Bytes& data : {Bytes{0x00, 0x01, 0x02, 0x03}, Bytes{}, Bytes(64, 0xA5)}) {
        const size_t offset = b.Capture().payload.size();
        const size_t i = b.Data(PidData1, data);
        const PacketRecord& r = b.Record(i);
        EXPECT_TRUE(r.IsData());
        EXPECT_EQ(r.PayloadOffset(), offset);
        EXPECT_EQ(r.Length(), data.size() + 2);
        EXPECT_EQ(Bytes(b.PayloadOf(i).begin(), b.PayloadOf(i).end()), data);
        EXPECT_EQ(StoredCrc16(b, i), Crc::Crc16(data));
    }
    for (uint16_t length : {0, 1}) {  // too short for a CRC: no payload
        size_t i = b.DataWithLength(PidData0, Bytes(length, 0x11), length);
        EXPECT_EQ(b.Record(i).Length(), length);
        EXPECT_TRUE(b.PayloadOf(i).empty());
    }
}

TEST(BusTrafficBuilder, DamageMakesTheStatedFault) {
    B b;
    size_t token = b.Token(PidIn, 3, 1), data = b.Data(PidData1, {1, 2, 3}), hs = b.Handshake(PidAck);
    size_t sof = b.Sof(7), split = b.Split(1, 1, false, false, false, 0), ev = b.BusEvent(EvBusSuspend);
    b.Damage(token, ErrPidCheck).Damage(sof, ErrCrc5).Damage(split, ErrCrc5).Damage(hs, ErrBitStuff | ErrLength);
    b.Damage(data, ErrCrc16).Damage(data, ErrCrc16).Damage(ev, ErrCrc5);

    EXPECT_FALSE(b.Record(token).PidCheckOk());
    EXPECT_EQ(b.Record(token).PidNibble(), PidIn);
    EXPECT_NE(b.Record(sof).Crc5(), Crc::Sof(7));
    EXPECT_NE(b.Record(split).Crc5(), Crc::Split(1, false, 1, false, false, 0));
    EXPECT_EQ(b.Record(hs).ErrorFlags(), ErrBitStuff | ErrLength);
    EXPECT_NE(StoredCrc16(b, data), Crc::Crc16(Bytes{1, 2, 3})) << "damaging twice must not restore the CRC";
    EXPECT_EQ(b.Record(data).ErrorFlags(), ErrCrc16);
    EXPECT_FALSE(b.Record(ev).HasError()) << "bus events are never damaged";
    for (size_t i : {token, sof, split, hs, data}) EXPECT_EQ(b.Record(i).word1 >> 31 & 1, 1u) << i;
}

TEST(BusTrafficBuilder, ClockNeverGoesBackAndPacketsDoNotOverlap) {
    for (SpeedCode speed : {SpeedLow, SpeedFull, SpeedHigh}) {
        B b(speed);
        b.AdvanceTo(5000).AdvanceTo(10);
        b.In(1, 1, PidData0, Bytes(8));
        b.Out(1, 2, PidData1, Bytes(3), PidNyet);
        b.Setup(1, Bytes(8));
        b.Idle(77).Ping(1, 2, PidNak);
        b.SofRun(2);
        EXPECT_EQ(b.Record(0).Timestamp(), 5000u);
        for (size_t i = 1; i < b.Count(); ++i) {
            const PacketRecord &p = b.Record(i - 1), &r = b.Record(i);
            ASSERT_GE(r.Timestamp(), p.Timestamp() + p.Duration() + b.InterPacketGap()) << i;
        }
    }
}

TEST(BusTrafficBuilder, SofsFollowTheFrameGridAndStayBetweenTransactions) {
    B hs(SpeedHigh);
    hs.SetFrame(5, 6);
    hs.SofRun(12);
    const uint16_t frames[] = {5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(hs.Record(i).FrameNumber(), frames[i]) << i;
        EXPECT_EQ(hs.Record(i).Timestamp(), i * 7500) << i;
    }
    B fs(SpeedFull);
    fs.SetFrame(0x7FF).SofRun(2);
    EXPECT_EQ(fs.Record(1).FrameNumber(), 0) << "frame numbers wrap at 11 bits";

    B b(SpeedFull);
    b.SetAutoSof(true).SetFrame(100);
    b.Idle(3 * 60000 - 10);
    EXPECT_EQ(b.Count(), 3u);  // at 0, 1 ms and 2 ms
    // Too long to end before the 3 ms SOF: the host waits for it.
    size_t first = b.In(1, 2, PidData0, Bytes(64));
    EXPECT_EQ(b.Record(first - 1).PidNibble(), PidSof);
    EXPECT_EQ(b.Record(first - 1).Timestamp(), 180000u);
    for (int i = 0; i < 40; ++i) b.InNak(1, 2);
    uint16_t frame = 100;
    for (size_t i = 0; i < b.Count(); ++i) {
        if (b.Record(i).PidNibble() == PidIn) { EXPECT_NE(b.Record(i + 1).PidNibble(), PidSof) << i; }
        if (b.Record(i).PidNibble() == PidSof) { EXPECT_EQ(b.Record(i).FrameNumber(), frame++); }
    }
}

TEST(BusTrafficBuilder, TransactionShapes) {
    struct Case { const char* name; SpeedCode speed; void (*build)(B&); std::vector<uint8_t> pids; std::string splits = ""; };
    const Case cases[] = {
        {"in", SpeedFull, [](B& b) { b.In(1, 1, PidData1, {1}); }, {PidIn, PidData1, PidAck}},
        {"iso in", SpeedFull, [](B& b) { b.In(1, 1, PidData0, {1}, B::kNoHandshake); }, {PidIn, PidData0}},
        {"nak run", SpeedFull, [](B& b) { b.InNak(1, 1, 3); }, {PidIn, PidNak, PidIn, PidNak, PidIn, PidNak}},
        {"out nyet", SpeedHigh, [](B& b) { b.Out(1, 2, PidData0, {1}, PidNyet); }, {PidOut, PidData0, PidNyet}},
        {"setup", SpeedFull, [](B& b) { b.Setup(1, Bytes(8)); }, {PidSetup, PidData0, PidAck}},
        {"ping", SpeedHigh, [](B& b) { b.Ping(1, 2, PidStall); }, {PidPing, PidStall}},
        {"out naks fs", SpeedFull, [](B& b) { b.OutAfterNaks(1, 2, PidData1, {1}, 2); },
         {PidOut, PidData1, PidNak, PidOut, PidData1, PidNak, PidOut, PidData1, PidAck}},
        {"out naks hs", SpeedHigh, [](B& b) { b.OutAfterNaks(1, 2, PidData1, {1}, 2); },
         {PidOut, PidData1, PidNak, PidPing, PidNak, PidPing, PidAck, PidOut, PidData1, PidAck}},
        {"split setup", SpeedHigh, [](B& b) { b.SplitSetup({2, 3, false}, 4, Bytes(8), 1); },
         {PidSplit, PidSetup, PidData0, PidAck, PidSplit, PidSetup, PidNyet, PidSplit, PidSetup, PidAck}, "SCC"},
        {"split bulk in", SpeedHigh, [](B& b) { b.SplitIn({2, 3, false}, 4, 1, B::EtBulk, PidData1, {9}, 1); },
         {PidSplit, PidIn, PidAck, PidSplit, PidIn, PidNyet, PidSplit, PidIn, PidData1}, "SCC"},
        {"split int in", SpeedHigh, [](B& b) { b.SplitIn({2, 3, true}, 4, 1, B::EtInterrupt, PidData0, {9}); },
         {PidSplit, PidIn, PidSplit, PidIn, PidData0}, "SC"},
        {"split in nak", SpeedHigh, [](B& b) { b.SplitInHandshake({2, 3, false}, 4, 1, B::EtBulk, PidNak); },
         {PidSplit, PidIn, PidAck, PidSplit, PidIn, PidNak}, "SC"},
        {"split bulk out", SpeedHigh, [](B& b) { b.SplitOut({2, 3, false}, 4, 2, B::EtBulk, PidData0, {9}); },
         {PidSplit, PidOut, PidData0, PidAck, PidSplit, PidOut, PidAck}, "SC"},
        {"split int out", SpeedHigh, [](B& b) { b.SplitOut({2, 3, false}, 4, 2, B::EtInterrupt, PidData0, {9}, PidStall); },
         {PidSplit, PidOut, PidData0, PidSplit, PidOut, PidStall}, "SC"},
        {"split iso out", SpeedHigh, [](B& b) { b.SplitOut({2, 3, false}, 4, 2, B::EtIso, PidData0, Bytes(192)); },
         {PidSplit, PidOut, PidData0, PidSplit, PidOut, PidData0}, "SS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        B b(c.speed);
        c.build(b);
        EXPECT_EQ(Pids(b), c.pids);
        std::string sc;
        for (size_t i = 0; i < b.Count(); ++i) {
            const PacketRecord& r = b.Record(i);
            EXPECT_EQ(r.Speed(), c.speed);
            if (r.PidNibble() != PidSplit) continue;
            EXPECT_EQ(r.SplitHubAddress(), 2);
            EXPECT_EQ(r.SplitHubPort(), 3);
            sc += r.SplitComplete() ? 'C' : 'S';
        }
        EXPECT_EQ(sc, c.splits);
    }
}

TEST(BusTrafficBuilder, ControlTransferStagesAndToggles) {
    B::ControlOptions mps8;
    mps8.maxPacket = 8;
    B::ControlOptions stall = mps8, naks = mps8;
    stall.stall = true;
    naks.naks = 1;
    struct Case {
        const char* name;
        Bytes setup, data;
        B::ControlOptions options;
        std::vector<uint8_t> pids;  // after the SETUP stage
    };
    const Case cases[] = {
        {"in 18 of 18", {0x80, 6, 0, 1, 0, 0, 18, 0}, Bytes(18, 0x12), mps8,
         {PidIn, PidData1, PidAck, PidIn, PidData0, PidAck, PidIn, PidData1, PidAck, PidOut, PidData1, PidAck}},
        {"short on boundary", {0x80, 6, 0, 3, 0, 0, 255, 0}, Bytes(16, 1), mps8,
         {PidIn, PidData1, PidAck, PidIn, PidData0, PidAck, PidIn, PidData1, PidAck, PidOut, PidData1, PidAck}},
        {"out data", {0x22, 1, 0, 1, 1, 0, 3, 0}, {0x80, 0xBB, 0}, mps8, {PidOut, PidData1, PidAck, PidIn, PidData1, PidAck}},
        {"no data", {0, 5, 7, 0, 0, 0, 0, 0}, {}, mps8, {PidIn, PidData1, PidAck}},
        {"stalled data", {0x80, 6, 0, 6, 0, 0, 10, 0}, {}, stall, {PidIn, PidStall}},
        {"stalled status", {0x21, 0x0A, 0, 0, 0, 0, 0, 0}, {}, stall, {PidIn, PidStall}},
        {"naks", {0x80, 6, 0, 2, 0, 0, 9, 0}, Bytes(9), naks,
         {PidIn, PidNak, PidIn, PidData1, PidAck, PidIn, PidNak, PidIn, PidData0, PidAck, PidOut, PidData1, PidNak,
          PidOut, PidData1, PidAck}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        B b(SpeedFull);
        EXPECT_EQ(b.ControlTransfer(7, c.setup, c.data, c.options), 0u);
        const std::vector<uint8_t> all = Pids(b);
        ASSERT_GE(all.size(), 3u);
        EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + 3), (std::vector<uint8_t>{PidSetup, PidData0, PidAck}));
        EXPECT_EQ(std::vector<uint8_t>(all.begin() + 3, all.end()), c.pids);
        EXPECT_EQ(Bytes(b.PayloadOf(1).begin(), b.PayloadOf(1).end()), c.setup);
        Bytes moved;
        for (size_t i = 0; i + 1 < b.Count(); ++i) {
            if (b.Record(i).PidNibble() == PidIn || b.Record(i).PidNibble() == PidOut) { EXPECT_EQ(b.Record(i).Address(), 7); }
            if (i > 2 && b.Record(i).IsData() && b.Record(i + 1).PidNibble() == PidAck)
                moved.insert(moved.end(), b.PayloadOf(i).begin(), b.PayloadOf(i).end());
        }
        EXPECT_EQ(moved, c.data);
    }
}

}  // namespace
}  // namespace orvane::emu
