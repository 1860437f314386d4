#include "EmulatedAnalyser.h"
#include "BusTrafficBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

using orvane::PacketRecord;
using orvane::emu::BusCapture;
using orvane::emu::EmulatedAnalyser;
using A = EmulatedAnalyser;
using Bytes = std::vector<uint8_t>;

namespace {

uint32_t U32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint64_t U64(const Bytes& b, size_t at) { return U32(b, at) | uint64_t(U32(b, at + 4)) << 32; }
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
Bytes Words(const std::vector<uint32_t>& words) {
    Bytes b(words.size() * 4);
    for (size_t i = 0; i < words.size(); ++i) Put32(b, 4 * i, words[i]);
    return b;
}
Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

// The host side of the link, doing each exchange as the host driver does.
class Host {
public:
    explicit Host(A& a) : a_(a) {}

    bool Write(int pipe, const Bytes& data, unsigned long* n = nullptr) {
        unsigned long t = 99;
        int ok = a_.WritePort(0, pipe, data.data(), data.size(), &t, 1000);
        if (n) *n = t;
        return ok && t == data.size();
    }
    std::optional<Bytes> Read(int pipe, size_t length) {
        Bytes b(length);
        unsigned long t = 99;
        if (!a_.ReadPort(0, pipe, b.data(), length, &t, 1000)) return std::nullopt;
        b.resize(t);
        return b;
    }
    bool Block(uint16_t op, uint16_t arg, uint32_t address, uint32_t length, const Bytes& inlineData = {}) {
        Bytes b(60, 0);
        b[0] = uint8_t(op), b[1] = uint8_t(op >> 8), b[2] = uint8_t(arg), b[3] = uint8_t(arg >> 8);
        Put32(b, 4, address);
        Put32(b, 8, length);
        std::copy(inlineData.begin(), inlineData.end(), b.begin() + 16);
        return Write(1, b);
    }
    std::optional<Bytes> Send(uint16_t op, uint16_t arg, uint32_t address, uint32_t length, const Bytes& in = {}) {
        if (!Block(op, arg, address, length, in)) return std::nullopt;
        auto reply = Read(1, 60);
        if (!reply || reply->size() != 60 || (*reply)[0] != uint8_t(op) || (*reply)[1] != uint8_t(op >> 8))
            return std::nullopt;
        return reply;
    }
    bool WriteRegs(uint32_t address, const Bytes& data, uint16_t arg = 0) {
        return Send(A::kOpWriteRegister, arg, address, uint32_t(data.size()), data).has_value();
    }
    std::optional<Bytes> ReadRegs(uint32_t address, uint32_t length) {
        auto r = Send(A::kOpReadRegister, 0, address, length);
        if (!r) return std::nullopt;
        return Bytes(r->begin() + 4, r->begin() + 4 + length);
    }
    bool WriteMemory(uint32_t address, const Bytes& data) {
        if (!Send(A::kOpWriteMemory, 0, address, uint32_t(data.size()))) return false;
        for (size_t sent = 0; sent < data.size();) {
            size_t piece = std::min<size_t>(data.size() - sent, 0x10000);
            unsigned long t = 0;
            if (!a_.WritePort(0, 2, data.data() + sent, piece, &t, 1000)) return false;
            sent += t;
        }
        auto ack = Read(1, 60);
        return ack && ack->size() == 60 && (*ack)[0] == 0xAA && (*ack)[1] == 0x55;
    }
    std::optional<Bytes> ReadMemory(uint32_t address, uint32_t length, int* reads = nullptr) {
        if (!Send(A::kOpReadMemory, 1, address, length)) return std::nullopt;
        for (int n = 1;; ++n) {
            auto data = Read(3, length);
            if (!data) return std::nullopt;
            if (reads) *reads = n;
            if (data->size() == length) return data;
        }
    }
    std::optional<Bytes> ReadRecords(uint32_t byteAddress, uint32_t count, uint32_t mask) {
        if (!WriteRegs(A::kRecordWindow, Words({byteAddress, count, mask, 1}))) return std::nullopt;
        return ReadMemory(A::kRecordPort, count * 16);
    }
    std::optional<Bytes> ReadPayload(uint32_t byteAddress, uint32_t byteCount, uint32_t mask) {
        if (!WriteRegs(A::kPayloadWindow, Words({byteAddress, byteCount / 8, mask, 1}))) return std::nullopt;
        return ReadMemory(A::kPayloadPort, byteCount);
    }
    A::ControlImage Status() {
        A::ControlImage image{};
        auto b = ReadRegs(A::kControlBlock, 44);
        EXPECT_TRUE(b.has_value());
        for (size_t i = 0; b && i < image.size(); ++i) image[i] = U32(*b, 4 * i);
        return image;
    }
    bool WriteControl(const A::ControlImage& image) {
        return WriteRegs(A::kControlBlock, Words(std::vector<uint32_t>(image.begin(), image.end())));
    }
    // Storage as the host configures it, then run.
    bool Start(uint32_t packetMask, uint32_t payloadMask) {
        A::ControlImage image{};
        image[A::CbHold] = 1;
        image[A::CbPacketMask] = packetMask;
        image[A::CbPayloadMask] = payloadMask;
        // Whole buffers before the trigger: no post-trigger end.
        image[A::CbPrePacket] = packetMask + 1;
        image[A::CbPrePayload] = payloadMask + 1;
        if (!WriteControl(image)) return false;
        image = Status();
        image[A::CbHold] = 0;
        image[A::CbFlags] |= A::FlagRun;
        return WriteControl(image);
    }

private:
    A& a_;
};

PacketRecord Token(uint8_t pid, uint64_t time) {
    PacketRecord r;
    r.SetTimestamp(time);
    r.SetPidByte(PacketRecord::MakePidByte(pid));
    r.SetLow16(0x81);
    return r;
}

// Records alternate IN token and DATA1 with `dataBytes` + CRC16 each.
BusCapture Traffic(size_t records, uint16_t dataBytes = 3) {
    BusCapture c;
    for (size_t i = 0; i < records; ++i) {
        if (i % 2 == 0) {
            c.records.push_back(Token(orvane::PidIn, 100 * i));
            continue;
        }
        PacketRecord r = Token(orvane::PidData1, 100 * i);
        r.SetLow16(uint16_t(dataBytes + 2));
        r.SetPayloadOffset(uint32_t(c.payload.size()));
        Bytes p = Pattern(dataBytes + 2u, uint8_t(i));
        c.payload.insert(c.payload.end(), p.begin(), p.end());
        c.records.push_back(r);
    }
    return c;
}

}  // namespace

// ---------------------------------------------------------------- protocol

TEST(AnalyserProtocol, SingleReplyCommandsEchoTheirOpcode) {
    struct Case { uint16_t op; uint32_t address, length; size_t pipe3; };
    for (Case c : {Case{A::kOpWriteRegister, A::kFilterBlock, 32, 0}, {A::kOpReadRegister, A::kFilterBlock, 32, 0},
                   {A::kOpReadRegister, A::kTriggerTable, 56, 0}, {A::kOpReadMemory, A::kTriggerTable, 132, 132}}) {
        A a;
        Host h(a);
        ASSERT_TRUE(h.Block(c.op, 0, c.address, c.length)) << std::hex << c.op;
        auto reply = h.Read(1, 60);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 60u);
        EXPECT_EQ(U32(*reply, 0) & 0xFFFF, c.op);
        EXPECT_EQ(h.Read(1, 60), std::nullopt) << "one reply only";
        if (c.pipe3) {
            EXPECT_EQ(h.Read(3, c.pipe3)->size(), c.pipe3);
        }
        EXPECT_EQ(h.Read(3, 4), std::nullopt);
        EXPECT_EQ(a.CommandCount(), 1u);
    }
}

TEST(AnalyserProtocol, DeviceInfoCarriesIdentityAndConfiguration) {
    A a;
    Host h(a);
    a.SetDeviceInfo(0x1220, 0x02030405, 4711);
    ASSERT_TRUE(h.Block(A::kOpDeviceInfo, 0, 0, 0));
    auto info = h.Read(1, 52);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), 52u);
    EXPECT_EQ(U32(*info, 8), 0x1220u);
    EXPECT_EQ(U32(*info, 12), 0x02030405u);
    EXPECT_EQ(U32(*info, 16), A::kDefaultConfigVersion);
    EXPECT_EQ(U32(*info, 20), 4711u);

    a.SetConfigured(false);
    ASSERT_TRUE(h.Block(A::kOpDeviceInfo, 0, 0, 0));
    EXPECT_EQ(U32(*h.Read(1, 52), 16), 0xFFFFFFFFu);
}

TEST(AnalyserProtocol, ShortReplyBufferGetsTheFirstBytes) {
    A a;
    Host h(a);
    ASSERT_TRUE(h.Block(A::kOpReadRegister, 0, A::kControlBlock, 4));
    auto part = h.Read(1, 6);
    ASSERT_TRUE(part);
    EXPECT_EQ(*part, (Bytes{0x04, 0xFB, 0, 0, 1, 0}));
    EXPECT_EQ(h.Read(1, 60), std::nullopt) << "the rest is dropped";
}

TEST(AnalyserProtocol, MisuseFailsWithoutTransferring) {
    struct Case { const char* name; std::function<int(A&, Host&, unsigned long*)> run; };
    const Bytes buf(0x100, 0);
    auto block = [](uint16_t op, uint32_t address, uint32_t length) {
        Bytes b(60, 0);
        b[0] = uint8_t(op), b[1] = uint8_t(op >> 8);
        Put32(b, 4, address);
        Put32(b, 8, length);
        return b;
    };
    auto write = [](A& a, int pipe, const Bytes& b, unsigned long* t) {
        return a.WritePort(0, pipe, b.data(), b.size(), t, 1000);
    };
    auto read = [](A& a, int pipe, unsigned long n, unsigned long* t) {
        Bytes b(n);
        return a.ReadPort(0, pipe, b.data(), n, t, 1000);
    };
    const Case cases[] = {
        {"reply read with nothing pending", [&](A& a, Host&, unsigned long* t) { return read(a, 1, 60, t); }},
        {"bulk read with nothing pending", [&](A& a, Host&, unsigned long* t) { return read(a, 3, 64, t); }},
        {"bulk write with nothing pending", [&](A& a, Host&, unsigned long* t) { return write(a, 2, buf, t); }},
        {"short command block", [&](A& a, Host&, unsigned long* t) { return write(a, 1, Bytes(59, 0), t); }},
        {"unknown opcode", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(0xF906, A::kFilterBlock, 4), t); }},
        {"register write too long", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(A::kOpWriteRegister, A::kFilterBlock, 48), t); }},
        {"register read too long", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(A::kOpReadRegister, A::kFilterBlock, 57), t); }},
        {"register outside the map", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(A::kOpReadRegister, 0x1000, 4), t); }},
        {"register range past the map", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(A::kOpReadRegister, 0x82007FFC, 8), t); }},
        {"memory read beyond the window",
         [&](A& a, Host& h, unsigned long* t) {
             h.WriteRegs(A::kRecordWindow, Words({0, 2, 0x3FFF, 1}));
             return write(a, 1, block(A::kOpReadMemory, A::kRecordPort, 48), t);
         }},
        {"memory write past its length",
         [&](A& a, Host& h, unsigned long* t) {
             h.Send(A::kOpWriteMemory, 0, A::kTriggerTable, 16);
             return write(a, 2, Bytes(17, 0), t);
         }},
        {"empty configuration file", [&](A& a, Host&, unsigned long* t) { return write(a, 1, block(A::kOpDownload, 0, 0), t); }},
        {"write on the bulk-in pipe", [&](A& a, Host&, unsigned long* t) { return write(a, 3, buf, t); }},
        {"read on the bulk-out pipe", [&](A& a, Host&, unsigned long* t) { return read(a, 2, 16, t); }},
        {"unknown pipe", [&](A& a, Host&, unsigned long* t) { return write(a, 7, block(A::kOpDeviceInfo, 0, 0), t); }},
        {"other device", [&](A& a, Host&, unsigned long* t) { return a.WritePort(1, 1, block(A::kOpDeviceInfo, 0, 0).data(), 60, t, 1000); }},
        {"null buffer", [&](A& a, Host&, unsigned long* t) { return a.ReadPort(0, 1, nullptr, 60, t, 1000); }},
    };
    for (const Case& c : cases) {
        A a;
        Host h(a);
        unsigned long transferred = 77;
        EXPECT_EQ(c.run(a, h, &transferred), 0) << c.name;
        EXPECT_EQ(transferred, 0u) << c.name;
        EXPECT_TRUE(h.ReadRegs(A::kControlBlock, 44)) << c.name << ": still answers";
    }
}

// ---------------------------------------------------------------- registers

TEST(AnalyserRegisters, SetupBlocksAreStoredAsWritten) {
    A a;
    Host h(a);
    const Bytes filter = Pattern(32, 1), table = Pattern(132, 2), pattern = Pattern(512, 3);
    ASSERT_TRUE(h.WriteRegs(A::kFilterBlock, filter));
    ASSERT_TRUE(h.WriteMemory(A::kTriggerTable, table));
    ASSERT_TRUE(h.WriteMemory(A::kPatternBlocks + 0x200 * 15, pattern));

    auto storedFilter = a.FilterBlock();
    auto storedTable = a.TriggerTable();
    EXPECT_EQ(Bytes(storedFilter.begin(), storedFilter.end()), filter);
    EXPECT_EQ(Bytes(storedTable.begin(), storedTable.end()), table);
    auto step15 = a.PatternBlock(15);
    EXPECT_EQ(Bytes(step15.begin(), step15.end()), pattern);
    EXPECT_EQ(a.PatternBlock(14), (std::array<uint8_t, 512>{}));
    EXPECT_EQ(h.ReadRegs(A::kFilterBlock, 32), filter);
    EXPECT_EQ(h.ReadMemory(A::kTriggerTable, 132), table);

    auto log = a.RegisterWrites();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].opcode, A::kOpWriteRegister);
    EXPECT_EQ(log[0].address, A::kFilterBlock);
    EXPECT_EQ(log[0].data, filter);
    EXPECT_EQ(log[2].opcode, A::kOpWriteMemory);
    EXPECT_EQ(log[2].address, A::kPatternBlocks + 0x1E00);
}

TEST(AnalyserRegisters, ControlWriteTakesOnlyWritableWordsAndNormalisesMasks) {
    struct Case { uint32_t written, effective; };
    for (Case c : {Case{0x3FFF, 0x3FFF}, {0x5000, 0x7FFF}, {0, 0}, {0x20000000, 0x1FFFFFFF}, {0xFFFFFFFF, 0x1FFFFFFF}}) {
        A a;
        Host h(a);
        ASSERT_TRUE(h.WriteControl({7, 0xFFFFFFE0, 11, c.written, 13, c.written, 1, 2, 3, 4, 5}));
        A::ControlImage s = h.Status();
        EXPECT_EQ(s, (A::ControlImage{7, 0, 11, c.effective, 13, c.effective, 0, 0, 0, 0, 0})) << std::hex << c.written;
    }
}

// ---------------------------------------------------------------- memory

TEST(AnalyserMemory, LargeWriteInPiecesReadsBackThroughWrappingWindows) {
    A a;
    Host h(a);
    const uint32_t mask = 0x1FFFF;
    const Bytes data = Pattern(0x18000, 9);
    ASSERT_TRUE(h.WriteRegs(A::kPayloadWindow, Words({0x10000, 0x3000, mask, 1})));
    ASSERT_TRUE(h.WriteMemory(A::kPayloadPort, data));
    EXPECT_EQ(a.LastWritePieces(), (std::vector<unsigned long>{0x10000, 0x8000}));

    // 16 bytes across the end of the buffer: the last 8 and the first 8.
    auto wrapped = h.ReadPayload(0x1FFF8, 16, mask);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(*wrapped, Bytes(data.begin() + 0xFFF8, data.begin() + 0x10008));
    EXPECT_EQ(a.ReadPayloadMemory(0, 8), Bytes(data.begin() + 0x10000, data.begin() + 0x10008));

    // Records through the record port, two of three past the end.
    const Bytes records = Pattern(48, 4);
    ASSERT_TRUE(h.WriteRegs(A::kRecordWindow, Words({0x3FF0, 3, 0x3FFF, 1})));
    ASSERT_TRUE(h.WriteMemory(A::kRecordPort, records));
    EXPECT_EQ(a.LastWritePieces(), (std::vector<unsigned long>{48}));
    EXPECT_EQ(h.ReadRecords(0x3FF0, 3, 0x3FFF), records);
    EXPECT_EQ(h.ReadRecords(0, 2, 0x3FFF), Bytes(records.begin() + 16, records.end()));
}

TEST(AnalyserMemory, AcceptsAnyPieceSizes) {
    A a;
    Host h(a);
    const Bytes data = Pattern(100, 5);
    ASSERT_TRUE(h.WriteRegs(A::kPayloadWindow, Words({0x40, 13, 0xFFFFF, 1})));
    ASSERT_TRUE(h.Send(A::kOpWriteMemory, 0, A::kPayloadPort, 100));
    ASSERT_TRUE(h.Write(2, Bytes(data.begin(), data.begin() + 1)));
    ASSERT_TRUE(h.Write(2, Bytes(data.begin() + 1, data.begin() + 40)));
    EXPECT_EQ(h.Read(1, 60), std::nullopt) << "no acknowledgement before the last byte";
    ASSERT_TRUE(h.Write(2, Bytes(data.begin() + 40, data.end())));
    EXPECT_EQ((*h.Read(1, 60))[1], 0x55);
    EXPECT_EQ(a.LastWritePieces(), (std::vector<unsigned long>{1, 39, 60}));
    EXPECT_EQ(a.ReadPayloadMemory(0x40, 100), data);
}

// ---------------------------------------------------------------- capture

TEST(AnalyserCapture, RecordsAtPaceAndPointsDataRecordsAtTheirPayload) {
    A a;
    Host h(a);
    const BusCapture traffic = Traffic(10);
    a.SetTraffic(traffic);
    a.SetPace(4);
    a.SetTriggerRecord(5);
    a.SetCaptureStart(0, 0x100);
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    EXPECT_TRUE(a.Capturing());

    struct Step { uint32_t packetBytes, flags; };
    for (Step s : {Step{64, A::FlagRun}, {128, A::FlagRun | A::FlagTriggered},
                   {160, A::FlagTriggered | A::FlagEnded | A::FlagComplete},
                   {160, A::FlagTriggered | A::FlagEnded | A::FlagComplete}}) {
        A::ControlImage st = h.Status();
        EXPECT_EQ(st[A::CbPacketCaptured], s.packetBytes);
        EXPECT_EQ(st[A::CbFlags], s.flags);
    }
    A::ControlImage st = h.Status();
    EXPECT_EQ(st[A::CbPayloadCaptured], traffic.payload.size());
    EXPECT_EQ(st[A::CbPacketStart], 0u);
    EXPECT_EQ(st[A::CbPayloadStart], 0x100u);
    EXPECT_EQ(st[A::CbTriggerAddress], 5u * 16);
    EXPECT_FALSE(a.Capturing());

    auto raw = h.ReadRecords(0, 10, 0x3FFF);
    ASSERT_TRUE(raw);
    for (size_t i = 0; i < 10; ++i) {
        PacketRecord got{U64(*raw, 16 * i), U64(*raw, 16 * i + 8)};
        const PacketRecord& want = traffic.records[i];
        EXPECT_EQ(got.word0, want.word0) << i;
        EXPECT_EQ(uint32_t(got.word1), uint32_t(want.word1)) << i;
        if (!want.IsData()) continue;
        EXPECT_EQ(got.PayloadOffset(), 0x100 + want.PayloadOffset()) << i;
        uint32_t at = got.PayloadOffset();
        auto payload = h.ReadPayload(at & ~7u, ((at & 7) + 5 + 7) & ~7u, 0xFFFF);
        ASSERT_TRUE(payload);
        EXPECT_EQ(Bytes(payload->begin() + (at & 7), payload->begin() + (at & 7) + 5),
                  Bytes(traffic.payload.begin() + want.PayloadOffset(), traffic.payload.begin() + want.PayloadOffset() + 5));
    }
}

TEST(AnalyserCapture, OverflowKeepsTheNewestAndMovesTheStarts) {
    A a;
    Host h(a);
    const BusCapture traffic = Traffic(10);  // 5 data records of 5 bytes
    a.SetTraffic(traffic);
    a.SetPace(0);
    ASSERT_TRUE(h.Start(0x3F, 0xF));  // room for 4 records and 16 payload bytes
    A::ControlImage st = h.Status();
    EXPECT_EQ(st[A::CbFlags], A::FlagTriggered | A::FlagEnded | A::FlagComplete) << "on record 0 by default";
    EXPECT_EQ(st[A::CbPacketCaptured], 64u);
    EXPECT_EQ(st[A::CbPacketStart], (160u - 64) & 0x3F);
    EXPECT_EQ(st[A::CbPayloadCaptured], 16u);
    EXPECT_EQ(st[A::CbPayloadStart], 25u & 0xF);

    auto raw = h.ReadRecords(st[A::CbPacketStart], 4, 0x3F);
    ASSERT_TRUE(raw);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(U64(*raw, 16 * i), traffic.records[6 + i].word0);
    PacketRecord last{U64(*raw, 48), U64(*raw, 56)};
    EXPECT_EQ(last.PayloadOffset(), 20u & 0xF);
    EXPECT_EQ(a.ReadPayloadMemory(last.PayloadOffset(), 5), Bytes(traffic.payload.begin() + 20, traffic.payload.end()));
}

TEST(AnalyserCapture, StartNearTheEndWrapsRecordsAndPayload) {
    A a;
    Host h(a);
    const BusCapture traffic = Traffic(2);
    a.SetTraffic(traffic);
    a.SetCaptureStart(0x30, 0xC);
    ASSERT_TRUE(h.Start(0x1F, 0xF));  // start 0x30 reduces to 0x10
    a.FinishCapture();
    EXPECT_EQ(h.Status()[A::CbPacketStart], 0x10u);
    auto raw = h.ReadRecords(0x10, 2, 0x1F);
    ASSERT_TRUE(raw);
    EXPECT_EQ(*raw, a.ReadPacketMemory(0x10, 32));
    PacketRecord data{U64(*raw, 16), U64(*raw, 24)};
    EXPECT_EQ(data.PayloadOffset(), 0xCu);
    EXPECT_EQ(a.ReadPayloadMemory(0xC, 5), traffic.payload);
    EXPECT_EQ(a.ReadPayloadMemory(0, 1)[0], traffic.payload[4]);
}

TEST(AnalyserCapture, EndsOnStopOrWithoutTraffic) {
    {
        A a;
        Host h(a);
        a.SetTraffic(Traffic(100));
        a.SetPace(10);
        a.SetTriggerRecord(std::nullopt);
        ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
        A::ControlImage st = h.Status();
        EXPECT_EQ(st[A::CbFlags], A::FlagRun);
        st[A::CbFlags] &= ~uint32_t(A::FlagRun);
        ASSERT_TRUE(h.WriteControl(st));
        EXPECT_EQ(a.AdvanceCapture(5), 0u);
        st = h.Status();
        EXPECT_EQ(st[A::CbFlags], A::FlagEnded | A::FlagComplete) << "never triggered";
        EXPECT_EQ(st[A::CbPacketCaptured], 160u);
    }
    {
        A a;
        Host h(a);
        ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
        EXPECT_FALSE(a.Capturing());
        EXPECT_EQ(h.Status()[A::CbFlags], A::FlagEnded | A::FlagComplete);
    }
}

TEST(AnalyserCapture, ProviderSuppliesEachCaptureAndAdvanceSteps) {
    A a;
    Host h(a);
    int calls = 0;
    a.SetTraffic(Traffic(50));
    a.SetTrafficProvider([&] { return Traffic(size_t(++calls) * 3); });
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    EXPECT_EQ(a.AdvanceCapture(2), 2u);
    EXPECT_EQ(a.ControlBlock()[A::CbPacketCaptured], 32u);
    EXPECT_EQ(a.AdvanceCapture(5), 1u);
    EXPECT_FALSE(a.Capturing());

    // A second run with a held-then-released control block starts afresh.
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    a.FinishCapture();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(a.ControlBlock()[A::CbPacketCaptured], 6u * 16);
}

TEST(AnalyserCapture, ResetStrobeStopsAndHolds) {
    A a;
    Host h(a);
    a.SetTraffic(Traffic(20));
    a.SetPace(1);
    ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
    h.Status();
    ASSERT_TRUE(h.WriteRegs(A::kResetStrobe, Words({0}), 1));
    EXPECT_FALSE(a.Capturing());
    A::ControlImage st = h.Status();
    EXPECT_EQ(st[A::CbHold], 1u);
    EXPECT_EQ(st[A::CbFlags], 0u);
    EXPECT_EQ(st[A::CbPacketCaptured], 16u);
}

TEST(AnalyserCapture, ClearZeroesMemoryAndReportsDoneAfterConfiguredReads) {
    for (unsigned reads : {1u, 3u}) {
        A a;
        Host h(a);
        a.SetTraffic(Traffic(4));
        a.SetClearReads(reads);
        ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
        a.FinishCapture();
        ASSERT_NE(a.ReadPacketMemory(0, 16), Bytes(16, 0));

        ASSERT_TRUE(h.WriteRegs(A::kClearControl, Words({0})));
        ASSERT_TRUE(h.WriteRegs(A::kClearExtent, Words({0x3FFFFFF})));
        ASSERT_TRUE(h.WriteRegs(A::kClearControl, Words({1})));
        unsigned polls = 0;
        uint32_t value = 0;
        while (!(value & 2) && polls < 10) {
            value = U32(*h.ReadRegs(A::kClearControl, 4), 0);
            ++polls;
        }
        EXPECT_EQ(polls, reads);
        ASSERT_TRUE(h.WriteRegs(A::kClearControl, Words({0})));
        EXPECT_EQ(a.ReadPacketMemory(0, 64), Bytes(64, 0));
        EXPECT_EQ(a.ReadPayloadMemory(0, 16), Bytes(16, 0));
        A::ControlImage st = h.Status();
        EXPECT_EQ(st[A::CbPacketCaptured], 0u);
        EXPECT_EQ(st[A::CbPayloadCaptured], 0u);
        EXPECT_EQ(U32(*h.ReadRegs(A::kClearExtent, 4), 0), 0x3FFFFFFu);
    }
}

// ---------------------------------------------------------------- configuration

TEST(AnalyserConfiguration, DownloadConfiguresAnUnconfiguredAnalyser) {
    struct Case { Bytes file; uint32_t version; };
    for (const Case& c : {Case{{0x04, 0x03, 0x02, 0x01, 0xEE, 0xEE}, 0x01020304}, {{0x55, 0x66}, A::kDefaultConfigVersion},
                          {{0xFF, 0xFF, 0xFF, 0xFF}, A::kDefaultConfigVersion}}) {
        A a;
        Host h(a);
        a.SetConfigured(false);
        a.SetTraffic(Traffic(4));
        EXPECT_EQ(h.Status()[A::CbHold], 0xFFFFFFFFu);
        ASSERT_TRUE(h.Start(0x3FFF, 0xFFFF));
        EXPECT_FALSE(a.Capturing()) << "no capture without configuration";

        ASSERT_TRUE(h.Block(A::kOpDownload, 0, 0, uint32_t(c.file.size())));
        EXPECT_EQ(h.Read(1, 2), (Bytes{0x01, 0xFE}));
        ASSERT_TRUE(h.Write(2, c.file));
        EXPECT_EQ(h.Read(1, 2), (Bytes{0xAA, 0x55}));
        EXPECT_TRUE(a.Configured());
        EXPECT_EQ(a.ConfigurationVersion(), c.version);
        EXPECT_EQ(h.Status()[A::CbHold], 0u) << "the written hold word shows again";
        EXPECT_EQ(a.LastWritePieces(), (std::vector<unsigned long>{c.file.size()}));
    }
}

// ---------------------------------------------------------------- faults

TEST(AnalyserFaults, NthTransferFailsOnce) {
    A a;
    Host h(a);
    a.FailTransfer(2);
    ASSERT_TRUE(h.Block(A::kOpReadRegister, 0, A::kControlBlock, 44));
    EXPECT_EQ(h.Read(1, 60), std::nullopt);
    EXPECT_TRUE(h.ReadRegs(A::kControlBlock, 44));
    EXPECT_EQ(a.TransferCount(1), 4u);
    EXPECT_EQ(a.TransferCount(3), 0u);
}

TEST(AnalyserFaults, DisconnectFailsEverythingUntilReconnect) {
    A a;
    Host h(a);
    a.DisconnectAtCommand(2);
    EXPECT_TRUE(h.ReadRegs(A::kControlBlock, 44));
    EXPECT_FALSE(h.ReadRegs(A::kControlBlock, 44));
    EXPECT_EQ(h.Read(1, 60), std::nullopt);
    EXPECT_FALSE(h.Block(A::kOpDeviceInfo, 0, 0, 0));
    EXPECT_EQ(a.CommandCount(), 1u);
    a.Reconnect();
    EXPECT_TRUE(h.ReadRegs(A::kControlBlock, 44));
    EXPECT_EQ(a.CommandCount(), 2u);
}

TEST(AnalyserFaults, ShortBulkReadLeavesTheDataForTheRepeat) {
    A a;
    Host h(a);
    const Bytes table = Pattern(132, 8);
    ASSERT_TRUE(h.WriteMemory(A::kTriggerTable, table));
    a.ShortenNextBulkRead(100);
    int reads = 0;
    EXPECT_EQ(h.ReadMemory(A::kTriggerTable, 132, &reads), table);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(a.TransferCount(3), 2u);
}

TEST(AnalyserFaults, WrongEchoAndWrongAcknowledgementsHitOneReply) {
    A a;
    Host h(a);
    a.CorruptNextEcho();
    EXPECT_FALSE(h.ReadRegs(A::kControlBlock, 44));
    EXPECT_TRUE(h.ReadRegs(A::kControlBlock, 44));

    a.CorruptNextAck();
    EXPECT_FALSE(h.WriteMemory(A::kTriggerTable, Bytes(132, 1)));
    EXPECT_TRUE(h.WriteMemory(A::kTriggerTable, Bytes(132, 1)));

    a.SetConfigured(false);
    a.CorruptNextAck();
    ASSERT_TRUE(h.Block(A::kOpDownload, 0, 0, 4));
    EXPECT_NE(h.Read(1, 2), (Bytes{0x01, 0xFE}));
    ASSERT_TRUE(h.Write(2, Bytes(4, 9)));
    EXPECT_EQ(h.Read(1, 2), (Bytes{0xAA, 0x55}));
}

// ---------------------------------------------------------------- filter and trigger

namespace {

using orvane::emu::BusTrafficBuilder;

uint64_t StepWord(unsigned address, uint16_t endpoints, uint16_t pids, unsigned pairs) {
    return pairs | uint64_t(pids & 0xFFF) << 9 | uint64_t(endpoints) << 21 | uint64_t(address > 127) << 37 |
           uint64_t(address & 0x7F) << 38 | 1ull << 45;
}

struct Rules {
    uint32_t packetMask = 0xFFFF, payloadMask = 0xFFFF;
    uint32_t prePacket = 0x10000, prePayload = 0x10000;
    std::vector<uint32_t> filter = std::vector<uint32_t>(8, 0);
    std::vector<std::pair<unsigned, uint64_t>> steps;
    std::vector<std::pair<unsigned, Bytes>> patterns;
};

// Configures, starts, arms and records everything, as the device object does.
A::ControlImage RunWith(A& a, const BusCapture& traffic, const Rules& r) {
    Host h(a);
    a.SetTraffic(traffic);
    a.SetPace(0);
    a.SetTriggerRecord(std::nullopt);
    A::ControlImage image{};
    image[A::CbHold] = 1;
    image[A::CbPacketMask] = r.packetMask;
    image[A::CbPayloadMask] = r.payloadMask;
    image[A::CbPrePacket] = r.prePacket;
    image[A::CbPrePayload] = r.prePayload;
    EXPECT_TRUE(h.WriteControl(image));
    for (auto& [entry, pattern] : r.patterns) EXPECT_TRUE(h.WriteMemory(A::kPatternBlocks + 0x200 * entry, pattern));
    image[A::CbHold] = 0;
    image[A::CbFlags] = A::FlagRun;
    EXPECT_TRUE(h.WriteControl(image));
    Bytes table(132, 0);
    for (auto& [entry, word] : r.steps)
        for (int b = 0; b < 8; ++b) table[8 * entry + size_t(b)] = uint8_t(word >> (8 * b));
    EXPECT_TRUE(h.WriteMemory(A::kTriggerTable, table));
    EXPECT_TRUE(h.WriteRegs(A::kFilterBlock, Words(r.filter)));
    return h.Status();
}

std::vector<PacketRecord> Recorded(A& a, const A::ControlImage& st) {
    std::vector<PacketRecord> out;
    Bytes raw = a.ReadPacketMemory(st[A::CbPacketStart], st[A::CbPacketCaptured]);
    for (size_t at = 0; at + 16 <= raw.size(); at += 16) out.push_back({U64(raw, at), U64(raw, at + 8)});
    return out;
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
    struct Case {
        uint32_t hold, flags, addresses;
        uint16_t up0, down0;
        size_t kept;
    };
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
    struct Case {
        uint64_t a, b;
        std::optional<uint32_t> triggerRecord;  // last record of the matching transaction
    };
    for (Case c : {Case{StepWord(2, 0x0002, 0x441, 2), StepWord(3, 0x0004, 0x111, 0), std::nullopt},
                   Case{StepWord(2, 0x0002, 0x441, 2), StepWord(255, 0xFFFF, 0x111, 1), 14},
                   Case{StepWord(2, 0xFFFD, 0x441, 2), StepWord(255, 0xFFFF, 0x111, 1), std::nullopt},
                   Case{StepWord(2, 0x0002, 0x041, 2), StepWord(255, 0xFFFF, 0x111, 1), std::nullopt},
                   Case{StepWord(255, 0xFFFF, 0x441, 0), StepWord(255, 0xFFFF, 0x111, 1), 14}}) {
        A a;
        Rules r;
        r.steps = {{14, c.a}, {15, c.b}};
        r.patterns = {{14, patternA}, {15, {0, 0}}};
        A::ControlImage st = RunWith(a, traffic, r);
        if (!c.triggerRecord) {
            EXPECT_FALSE(st[A::CbFlags] & A::FlagTriggered) << std::hex << c.a;
            continue;
        }
        ASSERT_TRUE(st[A::CbFlags] & A::FlagTriggered) << std::hex << c.a;
        EXPECT_EQ(st[A::CbTriggerAddress], (*c.triggerRecord + 1) * 16) << "the point follows the transaction";
    }
    // A held table does not trigger; SetTriggerRecord is what then decides.
    A a;
    Rules r;
    r.steps = {{15, StepWord(255, 0xFFFF, 0xFFF, 1)}};
    Host h(a);
    A::ControlImage st = RunWith(a, traffic, r);
    EXPECT_TRUE(st[A::CbFlags] & A::FlagTriggered);
    Bytes held(132, 0);
    held[128] = 1;
    a.SetTriggerRecord(std::nullopt);
    ASSERT_TRUE(h.WriteMemory(A::kTriggerTable, held));
    EXPECT_TRUE(h.Start(0xFFFF, 0xFFFF));
    EXPECT_FALSE(h.Status()[A::CbFlags] & A::FlagTriggered);
}

TEST(AnalyserRecordingRules, PreTriggerShareAndPostTriggerEnd) {
    BusTrafficBuilder b(orvane::SpeedFull);
    for (int i = 0; i < 30; ++i) b.In(1, 1, orvane::PidData0, {uint8_t(i)});
    b.Out(7, 1, orvane::PidData0, {0x55});  // records 90-92: the trigger
    for (int i = 0; i < 60; ++i) b.In(1, 1, orvane::PidData0, {uint8_t(i)});
    const BusCapture traffic = b.Take();
    A a;
    Rules r;
    r.packetMask = 0x3FF;  // 64 records
    r.prePacket = 0x100;   // 16 of them before the trigger
    r.steps = {{15, StepWord(7, 0xFFFF, 0xFFF, 0)}};
    r.patterns = {};
    r.steps[0].second |= 1;  // one pair: any data
    A::ControlImage st = RunWith(a, traffic, r);
    EXPECT_EQ(st[A::CbFlags], A::FlagTriggered | A::FlagEnded | A::FlagComplete) << "ended before the traffic";
    EXPECT_EQ(a.RecordsWritten(), 93u + 48);
    EXPECT_EQ(st[A::CbPacketCaptured], 0x400u);
    const uint32_t rel = (st[A::CbTriggerAddress] - st[A::CbPacketStart] + 0x400) & 0x3FF;
    EXPECT_EQ(rel / 16 - 1, 15u) << "the trigger's last record is the 16th kept";
    auto kept = Recorded(a, st);
    ASSERT_EQ(kept.size(), 64u);
    EXPECT_EQ(kept[15].PidNibble(), orvane::PidAck);
    EXPECT_EQ(kept[13].Address(), 7);
}
