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

std::vector<uint8_t> Pids(const BusTrafficBuilder& b, size_t from = 0) {
    std::vector<uint8_t> out;
    for (size_t i = from; i < b.Count(); ++i)
        if (b.Record(i).PidNibble() != PidSof) out.push_back(b.Record(i).PidNibble());
    return out;
}

uint16_t StoredCrc16(const BusTrafficBuilder& b, size_t i) {
    const PacketRecord& r = b.Record(i);
    const auto& p = b.Capture().payload;
    return uint16_t(p[r.PayloadOffset() + r.Length() - 2] | p[r.PayloadOffset() + r.Length() - 1] << 8);
}

TEST(BusTrafficBuilder, TokenAndSofFields) {
    B b(SpeedFull);
    struct Case { Pid pid; uint8_t address, endpoint; };
    const Case cases[] = {{PidOut, 0x15, 0xE}, {PidIn, 0x7F, 0xF}, {PidSetup, 0, 0}, {PidPing, 0x3A, 0xA}};
    for (const Case& c : cases) {
        const PacketRecord& r = b.Record(b.Token(c.pid, c.address, c.endpoint));
        EXPECT_EQ(r.PidByte(), PacketRecord::MakePidByte(c.pid));
        EXPECT_TRUE(r.PidCheckOk());
        EXPECT_FALSE(r.HasError());
        EXPECT_FALSE(r.IsData());
        EXPECT_EQ(r.Address(), c.address);
        EXPECT_EQ(r.Endpoint(), c.endpoint);
        EXPECT_EQ(r.Crc5(), Crc::Token(c.address, c.endpoint));
        EXPECT_EQ(r.Speed(), SpeedFull);
    }
    const PacketRecord& sof = b.Record(b.Sof(0x710));
    EXPECT_EQ(sof.PidNibble(), PidSof);
    EXPECT_EQ(sof.FrameNumber(), 0x710);
    EXPECT_EQ(sof.Crc5(), 0x05);
}

TEST(BusTrafficBuilder, SplitFields) {
    B b(SpeedHigh);
    b.Idle(1234);
    size_t i = b.Split(0x55, 0x12, true, true, false, B::EtInterrupt);
    const PacketRecord& r = b.Record(i);
    EXPECT_EQ(r.Timestamp(), 1234u);
    EXPECT_EQ(r.PidByte(), 0x78);
    EXPECT_EQ(r.SplitHubAddress(), 0x55);
    EXPECT_TRUE(r.SplitComplete());
    EXPECT_EQ(r.SplitHubPort(), 0x12);
    EXPECT_TRUE(r.SplitS());
    EXPECT_FALSE(r.SplitE());
    EXPECT_EQ(r.SplitEt(), B::EtInterrupt);
    EXPECT_EQ(r.Crc5(), Crc::Split(0x55, true, 0x12, true, false, B::EtInterrupt));
    EXPECT_EQ(r.SplitDuration(), 9);  // (32 + 32 + 8) bits / 8
    EXPECT_EQ(r.Speed(), SpeedHigh);
    EXPECT_FALSE(b.Record(b.Split(1, 2, false, false, true, B::EtIso)).SplitComplete());
}

TEST(BusTrafficBuilder, DataPacketsCarryPayloadAndCrc) {
    B b;
    const Bytes first{0x00, 0x01, 0x02, 0x03}, second(64, 0xA5);
    size_t a = b.Data(PidData0, first), c = b.Data(PidData1, {}), d = b.Data(PidMData, second);
    for (auto [i, data, pid] : {std::tuple{a, first, PidData0}, {c, Bytes{}, PidData1}, {d, second, PidMData}}) {
        const PacketRecord& r = b.Record(i);
        EXPECT_TRUE(r.IsData());
        EXPECT_EQ(r.PidNibble(), pid);
        EXPECT_EQ(r.Length(), data.size() + 2);
        EXPECT_EQ(r.PayloadLength(), data.size());
        auto got = b.PayloadOf(i);
        EXPECT_EQ(Bytes(got.begin(), got.end()), data);
        EXPECT_EQ(StoredCrc16(b, i), Crc::Crc16(data));
    }
    EXPECT_EQ(b.Record(a).PayloadOffset(), 0u);
    EXPECT_EQ(b.Record(c).PayloadOffset(), 6u);
    EXPECT_EQ(b.Record(d).PayloadOffset(), 8u);
    EXPECT_EQ(b.Capture().payload[4], 0xEF);  // CRC16 0x7AEF low byte first
    EXPECT_EQ(b.Capture().payload[5], 0x7A);
    EXPECT_TRUE(b.Record(b.Data(PidData2, {1})).IsData());

    for (uint16_t length : {0, 1}) {
        size_t i = b.DataWithLength(PidData0, Bytes(length, 0x11), length);
        EXPECT_EQ(b.Record(i).Length(), length);
        EXPECT_EQ(b.Record(i).PayloadLength(), 0u);
        EXPECT_TRUE(b.PayloadOf(i).empty());
    }
}

TEST(BusTrafficBuilder, HandshakeAndBusEvent) {
    B b(SpeedLow);
    const PacketRecord& h = b.Record(b.Handshake(PidStall));
    EXPECT_EQ(h.PidByte(), 0x1E);
    EXPECT_EQ(h.Length(), 0);
    EXPECT_EQ(h.Speed(), SpeedLow);
    uint64_t before = b.Now();
    const PacketRecord& e = b.Record(b.BusEvent(EvHostResetCompleted, 100000));
    EXPECT_TRUE(e.IsBusEvent());
    EXPECT_EQ(e.BusEventCode(), EvHostResetCompleted);
    EXPECT_FALSE(e.HasError());
    EXPECT_EQ(e.Duration(), 0xFFFF);  // saturated, the clock still moves the full time
    EXPECT_EQ(b.Now(), before + 100000);
}

TEST(BusTrafficBuilder, DamageMakesTheStatedFault) {
    B b;
    size_t token = b.Token(PidIn, 3, 1), data = b.Data(PidData1, {1, 2, 3}), hs = b.Handshake(PidAck);
    size_t sof = b.Sof(7), split = b.Split(1, 1, false, false, false, 0), ev = b.BusEvent(EvBusSuspend);
    b.Damage(token, ErrPidCheck).Damage(sof, ErrCrc5).Damage(split, ErrCrc5).Damage(hs, ErrBitStuff | ErrLength);
    b.Damage(data, ErrCrc16).Damage(data, ErrCrc16).Damage(ev, ErrCrc5);

    EXPECT_FALSE(b.Record(token).PidCheckOk());
    EXPECT_EQ(b.Record(token).PidNibble(), PidIn);
    EXPECT_EQ(b.Record(token).ErrorFlags(), ErrPidCheck);
    EXPECT_NE(b.Record(sof).Crc5(), Crc::Sof(7));
    EXPECT_EQ(b.Record(sof).FrameNumber(), 7);
    EXPECT_NE(b.Record(split).Crc5(), Crc::Split(1, false, 1, false, false, 0));
    EXPECT_EQ(b.Record(hs).ErrorFlags(), ErrBitStuff | ErrLength);
    EXPECT_TRUE(b.Record(hs).PidCheckOk());
    // Damaging twice must not restore the CRC.
    EXPECT_NE(StoredCrc16(b, data), Crc::Crc16(Bytes{1, 2, 3}));
    EXPECT_EQ(b.Record(data).ErrorFlags(), ErrCrc16);
    EXPECT_TRUE(b.Record(data).IsData());
    EXPECT_TRUE(b.Record(ev).IsBusEvent());
    EXPECT_EQ(b.Record(ev).BusEventCode(), EvBusSuspend);
    EXPECT_FALSE(b.Record(ev).HasError());
    for (size_t i : {token, sof, split, hs, data}) EXPECT_EQ(b.Record(i).word1 >> 31 & 1, 1u) << i;
}

TEST(BusTrafficBuilder, DurationsFollowBitTimes) {
    struct Case { SpeedCode speed; uint16_t token, sof, handshake, data64; };
    const Case cases[] = {
        {SpeedLow, 35 * 40, 35 * 40, 19 * 40, 547 * 40},
        {SpeedFull, 35 * 5, 35 * 5, 19 * 5, 547 * 5},
        {SpeedHigh, 8, 12, 6, 72},
    };
    for (const Case& c : cases) {
        B b(c.speed);
        EXPECT_EQ(b.Record(b.Token(PidIn, 1, 1)).Duration(), c.token);
        EXPECT_EQ(b.Record(b.Sof(1)).Duration(), c.sof);
        EXPECT_EQ(b.Record(b.Handshake(PidAck)).Duration(), c.handshake);
        EXPECT_EQ(b.Record(b.Data(PidData0, Bytes(64))).Duration(), c.data64);
    }
    EXPECT_EQ(B::PacketTicks(SpeedHigh, 0), 5);
    EXPECT_EQ(B::PacketTicks(SpeedLow, 60000), 0xFFFF);
}

TEST(BusTrafficBuilder, ClockNeverGoesBackAndPacketsDoNotOverlap) {
    for (SpeedCode speed : {SpeedLow, SpeedFull, SpeedHigh}) {
        B b(speed);
        b.AdvanceTo(5000).AdvanceTo(10);
        EXPECT_EQ(b.Now(), 5000u);
        b.In(1, 1, PidData0, Bytes(8));
        b.Out(1, 2, PidData1, Bytes(3), PidNyet);
        b.Setup(1, Bytes(8));
        b.Idle(77).Ping(1, 2, PidNak);
        b.SofRun(2);
        for (size_t i = 1; i < b.Count(); ++i) {
            const PacketRecord &p = b.Record(i - 1), &r = b.Record(i);
            ASSERT_GE(r.Timestamp(), p.Timestamp() + p.Duration() + b.InterPacketGap()) << i;
        }
        EXPECT_EQ(b.Record(0).Timestamp(), 5000u);
    }
}

TEST(BusTrafficBuilder, SofRunsFollowTheFrameGrid) {
    B fs(SpeedFull);
    fs.SetFrame(0x7FE);
    fs.SofRun(3);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fs.Record(i).Timestamp(), i * 60000);
    EXPECT_EQ(fs.Record(0).FrameNumber(), 0x7FE);
    EXPECT_EQ(fs.Record(1).FrameNumber(), 0x7FF);
    EXPECT_EQ(fs.Record(2).FrameNumber(), 0);
    EXPECT_EQ(fs.Frame(), 1);

    B hs(SpeedHigh);
    hs.SetFrame(5, 6);
    hs.SofRun(12);
    const uint16_t frames[] = {5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(hs.Record(i).FrameNumber(), frames[i]) << i;
        EXPECT_EQ(hs.Record(i).Timestamp(), i * 7500) << i;
        EXPECT_EQ(hs.Record(i).Crc5(), Crc::Sof(frames[i]));
    }
}

TEST(BusTrafficBuilder, AutomaticSofsStayBetweenTransactions) {
    B b(SpeedFull);
    b.SetAutoSof(true).SetFrame(100);
    b.Idle(3 * 60000 - 10);
    EXPECT_EQ(b.Count(), 3u);  // at 0, 1 ms and 2 ms
    // Too long to end before the 3 ms SOF: the host waits for it.
    size_t first = b.In(1, 2, PidData0, Bytes(64));
    EXPECT_EQ(b.Record(first - 1).PidNibble(), PidSof);
    EXPECT_EQ(b.Record(first - 1).Timestamp(), 180000u);
    EXPECT_EQ(b.Record(first - 1).FrameNumber(), 103);
    for (int i = 0; i < 40; ++i) b.InNak(1, 2);
    for (size_t i = 0; i < b.Count(); ++i)
        if (b.Record(i).PidNibble() == PidIn) { EXPECT_NE(b.Record(i + 1).PidNibble(), PidSof) << i; }
    uint16_t frame = 100;
    for (size_t i = 0; i < b.Count(); ++i)
        if (b.Record(i).PidNibble() == PidSof) { EXPECT_EQ(b.Record(i).FrameNumber(), frame++); }
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
            if (r.PidNibble() == PidSplit) {
                EXPECT_EQ(r.SplitHubAddress(), 2);
                EXPECT_EQ(r.SplitHubPort(), 3);
                sc += r.SplitComplete() ? 'C' : 'S';
            }
        }
        EXPECT_EQ(sc, c.splits);
    }
}

TEST(BusTrafficBuilder, SplitFieldsBySpeedAndType) {
    B b(SpeedHigh);
    b.SplitIn({1, 4, true}, 9, 1, B::EtInterrupt, PidData0, {1});
    EXPECT_TRUE(b.Record(0).SplitS());  // low-speed device
    EXPECT_EQ(b.Record(0).SplitEt(), B::EtInterrupt);
    EXPECT_EQ(b.Record(1).Address(), 9);

    B iso(SpeedHigh);
    iso.SplitOut({1, 4, false}, 9, 2, B::EtIso, PidData0, Bytes(200));
    const PacketRecord &first = iso.Record(0), &last = iso.Record(3);
    EXPECT_TRUE(first.SplitS());
    EXPECT_FALSE(first.SplitE());
    EXPECT_FALSE(last.SplitS());
    EXPECT_TRUE(last.SplitE());
    EXPECT_EQ(iso.Record(2).PayloadLength(), 188u);
    EXPECT_EQ(iso.Record(5).PayloadLength(), 12u);
}

struct ControlCase {
    const char* name;
    Bytes setup, data;
    B::ControlOptions options;
    std::vector<uint8_t> pids;  // without the SETUP stage
};

TEST(BusTrafficBuilder, ControlTransferStagesAndToggles) {
    B::ControlOptions mps8;
    mps8.maxPacket = 8;
    B::ControlOptions stall = mps8;
    stall.stall = true;
    B::ControlOptions naks = mps8;
    naks.naks = 1;
    const Bytes descriptor(18, 0x12);
    const ControlCase cases[] = {
        {"in 18 of 18", {0x80, 6, 0, 1, 0, 0, 18, 0}, descriptor, mps8,
         {PidIn, PidData1, PidAck, PidIn, PidData0, PidAck, PidIn, PidData1, PidAck, PidOut, PidData1, PidAck}},
        {"short on boundary", {0x80, 6, 0, 3, 0, 0, 255, 0}, Bytes(16, 1), mps8,
         {PidIn, PidData1, PidAck, PidIn, PidData0, PidAck, PidIn, PidData1, PidAck, PidOut, PidData1, PidAck}},
        {"out data", {0x22, 1, 0, 1, 1, 0, 3, 0}, {0x80, 0xBB, 0}, mps8,
         {PidOut, PidData1, PidAck, PidIn, PidData1, PidAck}},
        {"no data", {0, 5, 7, 0, 0, 0, 0, 0}, {}, mps8, {PidIn, PidData1, PidAck}},
        {"stalled data", {0x80, 6, 0, 6, 0, 0, 10, 0}, {}, stall, {PidIn, PidStall}},
        {"stalled status", {0x21, 0x0A, 0, 0, 0, 0, 0, 0}, {}, stall, {PidIn, PidStall}},
        {"naks", {0x80, 6, 0, 2, 0, 0, 9, 0}, Bytes(9), naks,
         {PidIn, PidNak, PidIn, PidData1, PidAck, PidIn, PidNak, PidIn, PidData0, PidAck, PidOut, PidData1, PidNak,
          PidOut, PidData1, PidAck}},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.name);
        B b(SpeedFull);
        EXPECT_EQ(b.ControlTransfer(7, c.setup, c.data, c.options), 0u);
        const std::vector<uint8_t> all = Pids(b);
        std::vector<uint8_t> head(all.begin(), all.begin() + 3);
        EXPECT_EQ(head, (std::vector<uint8_t>{PidSetup, PidData0, PidAck}));
        EXPECT_EQ(Pids(b, 3), c.pids);
        EXPECT_EQ(Bytes(b.PayloadOf(1).begin(), b.PayloadOf(1).end()), c.setup);
        Bytes moved;
        for (size_t i = 3; i < b.Count(); ++i) {
            EXPECT_EQ(b.Record(i).Speed(), SpeedFull);
            if (b.Record(i).IsData() && b.Record(i + 1).PidNibble() == PidAck)
                moved.insert(moved.end(), b.PayloadOf(i).begin(), b.PayloadOf(i).end());
            if (!b.Record(i).IsData() && b.Record(i).PidNibble() != PidNak && b.Record(i).PidNibble() != PidAck &&
                b.Record(i).PidNibble() != PidStall) {
                EXPECT_EQ(b.Record(i).Address(), 7);
            }
        }
        EXPECT_EQ(moved, c.options.stall ? Bytes{} : c.data);
    }
}

}  // namespace
}  // namespace orvane::emu
