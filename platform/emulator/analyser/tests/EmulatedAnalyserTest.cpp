// The model's own rules. The command protocol as the device proxy uses it, the
// faults, wrap-around, downloads and the clear handshake run in pardix/tests.
#include "EmulatedAnalyser.h"
#include "BusTrafficBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

using orvane::PacketRecord;
using orvane::emu::BusCapture;
using orvane::emu::BusTrafficBuilder;
using A = orvane::emu::EmulatedAnalyser;
using Bytes = std::vector<uint8_t>;

namespace {

uint32_t U32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint64_t U64(const Bytes& b, size_t at) { return U32(b, at) | uint64_t(U32(b, at + 4)) << 32; }
Bytes Words(const std::vector<uint32_t>& words) {
    Bytes b;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(w >> (8 * i)));
    return b;
}
Bytes Block(uint16_t op, uint32_t address, uint32_t length, uint16_t arg = 0, const Bytes& inlineData = {}) {
    Bytes b = Words({uint32_t(op) | uint32_t(arg) << 16, address, length});
    b.resize(60, 0);
    std::copy(inlineData.begin(), inlineData.end(), b.begin() + 16);
    return b;
}

// The host side of the link, doing each exchange as the host driver does.
struct Host {
    A& a;
    bool Write(int pipe, const Bytes& data) {
        unsigned long t = 99;
        return a.WritePort(0, pipe, data.data(), data.size(), &t, 1000) && t == data.size();
    }
    std::optional<Bytes> Read(int pipe, size_t length) {
        Bytes b(length);
        unsigned long t = 99;
        if (!a.ReadPort(0, pipe, b.data(), length, &t, 1000)) return std::nullopt;
        b.resize(t);
        return b;
    }
    std::optional<Bytes> Send(uint16_t op, uint32_t address, uint32_t length, uint16_t arg = 0, const Bytes& in = {}) {
        if (!Write(1, Block(op, address, length, arg, in))) return std::nullopt;
        auto reply = Read(1, 60);
        if (!reply || reply->size() != 60 || (U32(*reply, 0) & 0xFFFF) != op) return std::nullopt;
        return reply;
    }
    bool WriteRegs(uint32_t address, const Bytes& data, uint16_t arg = 0) {
        return Send(A::kOpWriteRegister, address, uint32_t(data.size()), arg, data).has_value();
    }
    bool WriteMemory(uint32_t address, const Bytes& data) {
        if (!Send(A::kOpWriteMemory, address, uint32_t(data.size())) || !Write(2, data)) return false;
        auto ack = Read(1, 60);
        return ack && ack->size() == 60 && (*ack)[0] == 0xAA && (*ack)[1] == 0x55;
    }
    A::ControlImage Status() {
        A::ControlImage image{};
        auto r = Send(A::kOpReadRegister, A::kControlBlock, 44);
        EXPECT_TRUE(r.has_value());
        for (size_t i = 0; r && i < image.size(); ++i) image[i] = U32(*r, 4 + 4 * i);
        return image;
    }
    bool WriteControl(const A::ControlImage& image) {
        return WriteRegs(A::kControlBlock, Words(std::vector<uint32_t>(image.begin(), image.end())));
    }
    // Storage as the host configures it (whole buffers before the trigger), then run.
    bool Start(uint32_t packetMask, uint32_t payloadMask) {
        A::ControlImage image{1, 0, packetMask + 1, packetMask, payloadMask + 1, payloadMask};
        if (!WriteControl(image)) return false;
        image = Status();
        image[A::CbHold] = 0;
        image[A::CbFlags] |= A::FlagRun;
        return WriteControl(image);
    }
};

// Records alternate IN token and DATA1 with 3 bytes + CRC16 each.
BusCapture Traffic(size_t records) {
    BusTrafficBuilder b(orvane::SpeedFull);
    for (size_t i = 0; i < records / 2; ++i) b.In(1, 1, orvane::PidData1, Bytes(3, uint8_t(i)), BusTrafficBuilder::kNoHandshake);
    return b.Take();
}

constexpr uint32_t kEnded = A::FlagTriggered | A::FlagEnded | A::FlagComplete;

}  // namespace

// ---------------------------------------------------------------- protocol

TEST(AnalyserProtocol, MisuseFailsWithoutTransferring) {
    struct Case {
        const char* name;
        int pipe;
        Bytes write;             // else a read of `read` bytes
        unsigned long read = 0;
        std::function<void(Host&)> before = nullptr;
        int device = 0;
    };
    const Case cases[] = {
        {"reply read with nothing pending", 1, {}, 60},
        {"bulk read with nothing pending", 3, {}, 64},
        {"bulk write with nothing pending", 2, Bytes(256)},
        {"short command block", 1, Bytes(59)},
        {"unknown opcode", 1, Block(0xF906, A::kFilterBlock, 4)},
        {"register write too long", 1, Block(A::kOpWriteRegister, A::kFilterBlock, 48)},
        {"register read too long", 1, Block(A::kOpReadRegister, A::kFilterBlock, 57)},
        {"register outside the map", 1, Block(A::kOpReadRegister, 0x1000, 4)},
        {"register range past the map", 1, Block(A::kOpReadRegister, 0x82007FFC, 8)},
        {"memory read beyond the window", 1, Block(A::kOpReadMemory, A::kRecordPort, 48), 0,
         [](Host& h) { h.WriteRegs(A::kRecordWindow, Words({0, 2, 0x3FFF, 1})); }},
        {"memory write past its length", 2, Bytes(17), 0, [](Host& h) { h.Send(A::kOpWriteMemory, A::kTriggerTable, 16); }},
        {"empty configuration file", 1, Block(A::kOpDownload, 0, 0)},
        {"write on the bulk-in pipe", 3, Bytes(256)},
        {"read on the bulk-out pipe", 2, {}, 16},
        {"unknown pipe", 7, Block(A::kOpDeviceInfo, 0, 0)},
        {"other device", 1, Block(A::kOpDeviceInfo, 0, 0), 0, nullptr, 1},
        {"null buffer", 1, {}, 0},
    };
    for (const Case& c : cases) {
        A a;
        Host h{a};
        if (c.before) c.before(h);
        unsigned long transferred = 77;
        Bytes in(c.read);
        int ok = c.write.empty() ? a.ReadPort(c.device, c.pipe, c.read ? in.data() : nullptr, c.read ? c.read : 60,
                                              &transferred, 1000)
                                 : a.WritePort(c.device, c.pipe, c.write.data(), c.write.size(), &transferred, 1000);
        EXPECT_EQ(ok, 0) << c.name;
        EXPECT_EQ(transferred, 0u) << c.name;
        EXPECT_TRUE(h.Send(A::kOpReadRegister, A::kControlBlock, 44)) << c.name << ": still answers";
    }
}

TEST(AnalyserProtocol, ControlWriteTakesOnlyWritableWordsAndNormalisesMasks) {
    struct Case { uint32_t written, effective; };
    for (Case c : {Case{0x3FFF, 0x3FFF}, {0x5000, 0x7FFF}, {0, 0}, {0x20000000, 0x1FFFFFFF}, {0xFFFFFFFF, 0x1FFFFFFF}}) {
        A a;
        Host h{a};
        ASSERT_TRUE(h.WriteControl({7, 0xFFFFFFE0, 11, c.written, 13, c.written, 1, 2, 3, 4, 5}));
        EXPECT_EQ(h.Status(), (A::ControlImage{7, 0, 11, c.effective, 13, c.effective, 0, 0, 0, 0, 0})) << std::hex << c.written;
    }
}

// ---------------------------------------------------------------- capture

TEST(AnalyserCapture, EachStartAsksTheProviderAndRecordsAtPace) {
    A a;
    Host h{a};
    int calls = 0;
    a.SetTraffic(Traffic(50));
    a.SetTrafficProvider([&] { return Traffic(++calls == 1 ? 10 : 6); });
    a.SetPace(4);
    a.SetTriggerRecord(5);
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    EXPECT_TRUE(a.Capturing());
    struct Step { uint32_t packetBytes, flags; };
    for (Step s : {Step{64, A::FlagRun}, {128, A::FlagRun | A::FlagTriggered}, {160, kEnded}, {160, kEnded}}) {
        A::ControlImage st = h.Status();
        EXPECT_EQ(st[A::CbPacketCaptured], s.packetBytes);
        EXPECT_EQ(st[A::CbFlags], s.flags);
        if (s.flags & A::FlagTriggered) { EXPECT_EQ(st[A::CbTriggerAddress], 5u * 16); }
    }
    EXPECT_EQ(h.Status()[A::CbPayloadCaptured], 25u);
    EXPECT_FALSE(a.Capturing());

    // A second run starts afresh; AdvanceCapture steps it without status reads.
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    EXPECT_EQ(a.AdvanceCapture(2), 2u);
    EXPECT_EQ(a.ControlBlock()[A::CbPacketCaptured], 32u);
    EXPECT_EQ(a.AdvanceCapture(5), 4u);
    EXPECT_FALSE(a.Capturing());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(a.ControlBlock()[A::CbPacketCaptured], 6u * 16);
}

TEST(AnalyserCapture, StopResetOrNoTrafficEndTheCapture) {
    struct Case { const char* name; std::function<void(Host&)> stop; uint32_t hold, flags, captured; };
    const Case cases[] = {
        {"run cleared",
         [](Host& h) {
             A::ControlImage st = h.Status();
             st[A::CbFlags] &= ~uint32_t(A::FlagRun);
             h.WriteControl(st);
         },
         0, A::FlagEnded | A::FlagComplete, 160},  // never triggered
        {"reset strobe", [](Host& h) { h.Status(), h.WriteRegs(A::kResetStrobe, Words({0}), 1); }, 1, 0, 160},
        {"no traffic", [](Host& h) { h.a.SetTraffic({}), h.Start(0x3FFF, 0xFFFF); }, 0, A::FlagEnded | A::FlagComplete, 0},
    };
    for (const Case& c : cases) {
        A a;
        Host h{a};
        a.SetTraffic(Traffic(100));
        a.SetPace(10);
        a.SetTriggerRecord(std::nullopt);
        ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
        c.stop(h);
        EXPECT_FALSE(a.Capturing()) << c.name;
        EXPECT_EQ(a.AdvanceCapture(5), 0u) << c.name;
        A::ControlImage st = h.Status();
        EXPECT_EQ(st[A::CbHold], c.hold) << c.name;
        EXPECT_EQ(st[A::CbFlags], c.flags) << c.name;
        EXPECT_EQ(st[A::CbPacketCaptured], c.captured) << c.name;
    }
}

TEST(AnalyserCapture, OverflowKeepsTheNewestAndMovesTheStarts) {
    A a;
    Host h{a};
    const BusCapture traffic = Traffic(10);  // 5 data records of 5 bytes
    a.SetTraffic(traffic);
    a.SetPace(0);
    ASSERT_TRUE(h.Start(0x3F, 0xF));  // room for 4 records and 16 payload bytes
    A::ControlImage st = h.Status();
    EXPECT_EQ(st[A::CbFlags], kEnded) << "on record 0 by default";
    EXPECT_EQ(st[A::CbPacketCaptured], 64u);
    EXPECT_EQ(st[A::CbPacketStart], (160u - 64) & 0x3F);
    EXPECT_EQ(st[A::CbPayloadCaptured], 16u);
    EXPECT_EQ(st[A::CbPayloadStart], 25u & 0xF);
    Bytes raw = a.ReadPacketMemory(st[A::CbPacketStart], 64);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(U64(raw, 16 * i), traffic.records[6 + i].word0);
    PacketRecord last{U64(raw, 48), U64(raw, 56)};
    EXPECT_EQ(last.PayloadOffset(), 20u & 0xF);
    EXPECT_EQ(a.ReadPayloadMemory(last.PayloadOffset(), 5), Bytes(traffic.payload.begin() + 20, traffic.payload.end()));
}

TEST(AnalyserCapture, ClearZeroesMemoryAndReportsDoneAfterConfiguredReads) {
    A a;
    Host h{a};
    a.SetTraffic(Traffic(4));
    a.SetClearReads(3);
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    a.FinishCapture();
    ASSERT_TRUE(h.WriteRegs(A::kClearControl, Words({1})));
    for (int poll = 1; poll <= 3; ++poll)
        EXPECT_EQ(U32(*h.Send(A::kOpReadRegister, A::kClearControl, 4), 4) & 2, poll == 3 ? 2u : 0u) << poll;
    EXPECT_EQ(a.ReadPacketMemory(0, 64), Bytes(64, 0));
    EXPECT_EQ(a.ReadPayloadMemory(0, 16), Bytes(16, 0));
    EXPECT_EQ(h.Status()[A::CbPacketCaptured], 0u);
}

// ---------------------------------------------------------------- filter and trigger

namespace {

uint64_t StepWord(unsigned address, uint16_t endpoints, uint16_t pids, unsigned pairs) {
    return pairs | uint64_t(pids & 0xFFF) << 9 | uint64_t(endpoints) << 21 | uint64_t(address > 127) << 37 |
           uint64_t(address & 0x7F) << 38 | 1ull << 45;
}

struct Rules {
    uint32_t packetMask = 0xFFFF, prePacket = 0x10000;
    std::vector<uint32_t> filter = std::vector<uint32_t>(8, 0);
    std::vector<std::pair<unsigned, uint64_t>> steps;
    std::vector<std::pair<unsigned, Bytes>> patterns;
    bool held = false;  // the trigger table's hold word
    std::optional<size_t> triggerRecord;  // without steps
};

// Configures, starts, arms and records everything, as the device object does.
A::ControlImage RunWith(A& a, const BusCapture& traffic, const Rules& r) {
    Host h{a};
    a.SetTraffic(traffic);
    a.SetPace(0);
    a.SetTriggerRecord(r.triggerRecord);
    A::ControlImage image{1, 0, r.prePacket, r.packetMask, 0x10000, 0xFFFF};
    EXPECT_TRUE(h.WriteControl(image));
    for (auto& [entry, pattern] : r.patterns) EXPECT_TRUE(h.WriteMemory(A::kPatternBlocks + 0x200 * entry, pattern));
    image[A::CbHold] = 0;
    image[A::CbFlags] = A::FlagRun;
    EXPECT_TRUE(h.WriteControl(image));
    Bytes table(132, 0);
    for (auto& [entry, word] : r.steps)
        for (int b = 0; b < 8; ++b) table[8 * entry + size_t(b)] = uint8_t(word >> (8 * b));
    table[128] = r.held;
    EXPECT_TRUE(h.WriteMemory(A::kTriggerTable, table));
    EXPECT_TRUE(h.WriteRegs(A::kFilterBlock, Words(r.filter)));
    return h.Status();
}

}  // namespace

TEST(AnalyserRecordingRules, FilterDropsWhatItNames) {
    BusTrafficBuilder b(orvane::SpeedFull);
    b.Sof(1);                                           // 1 record
    b.InNak(2, 1);                                      // 2
    b.In(2, 1, orvane::PidData0, {1, 2});               // 3
    b.Out(3, 2, orvane::PidData1, {3});                 // 3
    b.BusEvent(orvane::emu::EvBusSuspend);              // 1
    b.Damage(b.Data(orvane::PidData0, {4}), orvane::ErrCrc16);  // 1, lone and damaged
    b.In(4, 5, orvane::PidData0, {5}, BusTrafficBuilder::kNoHandshake);  // 2, isochronous
    const BusCapture traffic = b.Take();
    struct Case { uint32_t hold, flags, addresses; uint16_t up0, down0; size_t kept; };
    for (Case c : {Case{0, 0, 0, 0, 0, 13}, {1, 0x7C, 0, 0, 0, 13}, {0, 0x40, 0, 0, 0, 12}, {0, 0x20, 0, 0, 0, 12},
                   {0, 0x10, 0, 0, 0, 11}, {0, 0x08, 0, 0, 0, 12}, {0, 0x04, 0, 0, 0, 11},
                   {0, 0x02, 2, 0x0002, 0, 8},           // keep: address 2 IN on endpoint 1
                   {0, 0x03, 2, 0x0002, 0, 8},           // drop the same: the other transactions and lone packets
                   {0, 0x02, 3, 0xFFFF, 0, 3},           // address 3 only sends: its upstream mask never applies
                   {0, 0x02, 3, 0, 0x0004, 6}}) {        // keeps OUT to 3/2 and the lone packets
        A a;
        Rules r;
        r.filter = {c.hold, c.flags, c.addresses, 0, c.up0, 0, c.down0, 0};
        A::ControlImage st = RunWith(a, traffic, r);
        EXPECT_EQ(a.RecordsWritten(), c.kept) << std::hex << c.flags << " " << c.addresses;
        EXPECT_EQ(st[A::CbPacketCaptured], c.kept * 16);
    }
}

TEST(AnalyserRecordingRules, StepsMatchInOrderWithTheirPatterns) {
    BusTrafficBuilder b(orvane::SpeedHigh);
    b.Out(3, 2, orvane::PidData0, {9});              // 0-2: step B before step A: no match yet
    b.In(2, 1, orvane::PidData1, {0xAB, 0x01});      // 3-5: A's pattern fails on the second byte
    b.In(2, 1, orvane::PidData1, {0xA7, 0x02, 7});   // 6-8: A
    b.In(2, 1, orvane::PidData1, {});                // 9-11
    b.Out(3, 2, orvane::PidData0, {9});              // 12-14: B completes the trigger
    b.Out(3, 2, orvane::PidData0, {9});              // 15-17
    const BusCapture traffic = b.Take();
    const Bytes patternA = {0xA0, 0xF0, 0x02, 0xFF};  // "A? 02 H"
    const uint64_t anyB = StepWord(255, 0xFFFF, 0x111, 1);
    struct Case {
        uint64_t a, b;
        std::optional<uint32_t> triggerRecord;  // last record of the matching transaction
        bool held = false;
    };
    for (Case c : {Case{StepWord(2, 0x0002, 0x441, 2), StepWord(3, 0x0004, 0x111, 0), std::nullopt},
                   Case{StepWord(2, 0x0002, 0x441, 2), anyB, 14},
                   Case{StepWord(2, 0xFFFD, 0x441, 2), anyB, std::nullopt},
                   Case{StepWord(2, 0x0002, 0x041, 2), anyB, std::nullopt},
                   Case{StepWord(255, 0xFFFF, 0x441, 0), anyB, 14},
                   Case{StepWord(255, 0xFFFF, 0x441, 0), anyB, std::nullopt, true}}) {
        A a;
        Rules r;
        r.steps = {{14, c.a}, {15, c.b}};
        r.held = c.held;
        r.patterns = {{14, patternA}, {15, {0, 0}}};
        A::ControlImage st = RunWith(a, traffic, r);
        EXPECT_EQ(bool(st[A::CbFlags] & A::FlagTriggered), c.triggerRecord.has_value()) << std::hex << c.a;
        if (c.triggerRecord) {
            EXPECT_EQ(st[A::CbTriggerAddress], (*c.triggerRecord + 1) * 16) << "the point follows the transaction";
        }
    }
}

TEST(AnalyserRecordingRules, APairCountBeyondThePatternBlockComparesOnlyItsOwnPairs) {
    BusTrafficBuilder b(orvane::SpeedHigh);
    b.In(2, 1, orvane::PidData1, {1, 2, 3});
    const BusCapture traffic = b.Take();
    // The word's 9 bits count up to 511 pairs, a block holds 256: the next
    // step's pattern (one that never matches) and, for the last step, the
    // bytes beyond the register space are not the step's.
    for (unsigned entry : {14u, 15u}) {
        A a;
        Rules r;
        r.steps = {{entry, StepWord(255, 0xFFFF, 0xFFF, 511)}};
        r.patterns = {{entry, Bytes(512, 0)}};
        if (entry < 15) r.patterns.push_back({entry + 1, {0x00, 0xFF}});
        A::ControlImage st = RunWith(a, traffic, r);
        EXPECT_TRUE(st[A::CbFlags] & A::FlagTriggered) << entry;
    }
}

TEST(AnalyserRecordingRules, PreTriggerShareAndPostTriggerEnd) {
    BusTrafficBuilder b(orvane::SpeedFull);
    for (int i = 0; i < 30; ++i) b.In(1, 1, orvane::PidData0, {uint8_t(i)});
    b.Out(7, 1, orvane::PidData0, {0x55});  // records 90-92: the trigger
    for (int i = 0; i < 60; ++i) b.In(1, 1, orvane::PidData0, {uint8_t(i)});
    A a;
    Rules r;
    r.packetMask = 0x3FF;  // 64 records
    r.prePacket = 0x100;   // 16 of them before the trigger
    r.steps = {{15, StepWord(7, 0xFFFF, 0xFFF, 1)}};  // one pair: any data
    A::ControlImage st = RunWith(a, b.Take(), r);
    EXPECT_EQ(st[A::CbFlags], kEnded) << "ended before the traffic";
    EXPECT_EQ(a.RecordsWritten(), 93u + 48);
    EXPECT_EQ(st[A::CbPacketCaptured], 0x400u);
    const uint32_t rel = (st[A::CbTriggerAddress] - st[A::CbPacketStart] + 0x400) & 0x3FF;
    EXPECT_EQ(rel / 16 - 1, 15u) << "the trigger's last record is the 16th kept";
    Bytes raw = a.ReadPacketMemory(st[A::CbPacketStart], 0x400);
    EXPECT_EQ((PacketRecord{U64(raw, 15 * 16), U64(raw, 15 * 16 + 8)}).PidNibble(), orvane::PidAck);
    EXPECT_EQ((PacketRecord{U64(raw, 13 * 16), U64(raw, 13 * 16 + 8)}).Address(), 7);
}

TEST(AnalyserRecordingRules, WithoutStepsTheFirstRecordKeptTriggersWhateverTheFilterDrops) {
    BusTrafficBuilder b(orvane::SpeedFull);
    b.Sof(1);
    for (int i = 0; i < 4; ++i) b.In(1, 1, orvane::PidData0, {uint8_t(i)});
    const BusCapture traffic = b.Take();
    for (uint32_t sofFilter : {0x20u, 0u}) {
        A a;
        Rules r;
        r.prePacket = 0;  // nothing kept before the trigger
        r.triggerRecord = 0;
        r.filter[1] = sofFilter;
        const A::ControlImage st = RunWith(a, traffic, r);
        EXPECT_TRUE(st[A::CbFlags] & A::FlagTriggered) << sofFilter;
        EXPECT_EQ(st[A::CbPacketCaptured], (sofFilter ? 12u : 13u) * 16) << sofFilter;
    }
}
