// What a session promises on top of the builder: sound packets, the standard
// enumeration, consistent descriptors, class traffic and determinism.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "Crc.h"
#include "SessionBuilder.h"

namespace orvane::emu {
namespace {

using Bytes = SessionBuilder::Bytes;
using Kind = SessionBuilder::Kind;

// Bit 31 alone: HasError() also sees the payload offset in bits 32-63.
bool Errored(const PacketRecord& r) { return (r.word1 >> 31 & 1) != 0; }

Bytes PayloadOf(const BusCapture& c, size_t i) {
    const PacketRecord& r = c.records[i];
    return Bytes(c.payload.begin() + r.PayloadOffset(), c.payload.begin() + r.PayloadOffset() + r.PayloadLength());
}

struct SetupSeen { size_t index; uint8_t address; Bytes bytes; };

// SETUP tokens followed by their DATA0 (the complete split of a SETUP has none).
std::vector<SetupSeen> Setups(const BusCapture& c) {
    std::vector<SetupSeen> out;
    for (size_t i = 0; i + 1 < c.records.size(); ++i)
        if (c.records[i].PidNibble() == PidSetup && !Errored(c.records[i]) && c.records[i + 1].PidNibble() == PidData0)
            out.push_back({i, c.records[i].Address(), PayloadOf(c, i + 1)});
    return out;
}

// Data the device returned in the control transfer starting at `from`: every
// IN data packet on endpoint 0 until the host's status OUT.
Bytes ControlInData(const BusCapture& c, size_t from, uint8_t address) {
    Bytes out;
    for (size_t i = from + 1; i + 1 < c.records.size(); ++i) {
        const PacketRecord& r = c.records[i];
        if (Errored(r) || r.IsBusEvent() || r.IsData() || r.Address() != address || r.Endpoint() != 0) continue;
        if (r.PidNibble() == PidOut || (r.PidNibble() == PidSetup && c.records[i + 1].IsData())) break;
        if (r.PidNibble() == PidIn && c.records[i + 1].IsData()) {
            Bytes piece = PayloadOf(c, i + 1);
            out.insert(out.end(), piece.begin(), piece.end());
        }
    }
    return out;
}

bool RecordIsSound(const BusCapture& c, size_t i) {
    const PacketRecord& r = c.records[i];
    if (r.IsBusEvent()) return !Errored(r);
    if (Errored(r) || !r.PidCheckOk()) return false;
    switch (r.PidNibble()) {
    case PidIn: case PidOut: case PidSetup: case PidPing: return r.Crc5() == Crc::Token(r.Address(), r.Endpoint());
    case PidSof: return r.Crc5() == Crc::Sof(r.FrameNumber());
    case PidSplit:
        return r.Crc5() == Crc::Split(r.SplitHubAddress(), r.SplitComplete(), r.SplitHubPort(), r.SplitS(), r.SplitE(),
                                      r.SplitEt());
    default: break;
    }
    if (!r.IsData()) return true;
    if (r.Length() < 2 || r.PayloadOffset() + r.Length() > c.payload.size()) return false;
    return Crc::Crc16Register(std::span<const uint8_t>(c.payload.data() + r.PayloadOffset(), r.Length())) ==
           Crc::kCrc16Residual;
}

struct SessionCase { Kind kind; SpeedCode speed; bool behindHub; };

std::string Name(const SessionCase& s) {
    static const char* kinds[] = {"mouse", "disk", "camera", "audio"};
    static const char* speeds[] = {"", "low", "high", "full"};
    return std::string(kinds[int(s.kind)]) + "/" + speeds[s.speed] + (s.behindHub ? "/hub" : "");
}

const SessionCase kSessions[] = {
    {Kind::Mouse, SpeedLow, false},  {Kind::Mouse, SpeedFull, false},  {Kind::Mouse, SpeedHigh, false},
    {Kind::Mouse, SpeedLow, true},   {Kind::Disk, SpeedFull, false},   {Kind::Disk, SpeedHigh, false},
    {Kind::Disk, SpeedFull, true},   {Kind::Camera, SpeedFull, false}, {Kind::Camera, SpeedHigh, false},
    {Kind::Audio, SpeedFull, false}, {Kind::Audio, SpeedHigh, false},  {Kind::Audio, SpeedFull, true},
};

SessionBuilder::Options OptionsFor(const SessionCase& s, uint32_t seed, double damage) {
    SessionBuilder::Options o;
    o.kind = s.kind;
    o.speed = s.speed;
    o.behindHub = s.behindHub;
    o.seed = seed;
    o.damageRate = damage;
    o.operations = 12;
    o.address = 9;
    return o;
}

// Sound packets but for the damaged ones, attach first, then one speed; the
// same seed gives the same capture.
TEST(SessionBuilder, SoundAttachedAndDeterministic) {
    for (const SessionCase& s : kSessions) {
        SCOPED_TRACE(Name(s));
        SessionBuilder sb(OptionsFor(s, 3, 0.5));
        BusCapture c = sb.Build();
        std::set<size_t> damaged(sb.DamagedRecords().begin(), sb.DamagedRecords().end());
        EXPECT_FALSE(damaged.empty());
        std::vector<uint8_t> attach;
        for (size_t i = 0; i < c.records.size(); ++i) {
            const PacketRecord& r = c.records[i];
            EXPECT_EQ(RecordIsSound(c, i), !damaged.count(i)) << i;
            EXPECT_EQ(Errored(r), damaged.count(i) == 1) << i;
            if (i > 0) { ASSERT_GE(r.Timestamp(), c.records[i - 1].Timestamp()) << i; }
            if (r.IsBusEvent() && attach.size() == i) attach.push_back(r.BusEventCode());
            if (!r.IsBusEvent()) { EXPECT_EQ(r.Speed(), sb.BusSpeed()) << i; }
        }
        if (!s.behindHub) {
            ASSERT_GE(attach.size(), 4u);
            EXPECT_EQ(attach[0], EvHostConnect);
            EXPECT_EQ(attach[2], EvHostReset);
            EXPECT_EQ(attach.back(), EvHostResetCompleted);
            EXPECT_EQ(attach[3] == EvDeviceChirp, s.speed == SpeedHigh);
        }

        BusCapture again = SessionBuilder(OptionsFor(s, 3, 0.5)).Build(), other = sb.Build();
        ASSERT_EQ(again.records.size(), c.records.size());
        for (size_t i = 0; i < c.records.size(); ++i)
            ASSERT_TRUE(again.records[i].word0 == c.records[i].word0 && again.records[i].word1 == c.records[i].word1) << i;
        EXPECT_EQ(again.payload, c.payload);
        EXPECT_EQ(other.payload, c.payload) << "building twice";
        BusCapture seed4 = SessionBuilder(OptionsFor(s, 4, 0.5)).Build();
        EXPECT_TRUE(seed4.records.size() != c.records.size() || seed4.payload != c.payload);
    }
}

TEST(SessionBuilder, EnumerationAndDescriptors) {
    for (const SessionCase& s : kSessions) {
        SCOPED_TRACE(Name(s));
        SessionBuilder sb(OptionsFor(s, 7, 0.05));
        BusCapture c = sb.Build();
        std::vector<SetupSeen> setups;
        for (const SetupSeen& x : Setups(c))
            if (!s.behindHub || x.address != SessionBuilder::kHubAddress) setups.push_back(x);
        const Bytes &device = sb.DeviceDescriptor(), &cfg = sb.ConfigDescriptor();
        struct Want { uint8_t address, requestType, request; uint16_t value, index, length; };
        const Want want[] = {
            {0, 0x80, 6, 0x0100, 0, 8},  {0, 0x00, 5, 9, 0, 0},          {9, 0x80, 6, 0x0100, 0, 18},
            {9, 0x80, 6, 0x0200, 0, 9},  {9, 0x80, 6, 0x0200, 0, uint16_t(cfg.size())},
            {9, 0x80, 6, 0x0600, 0, 10}, {9, 0x80, 6, 0x0300, 0, 255},    {9, 0x80, 6, 0x0301, 0x0409, 255},
            {9, 0x80, 6, 0x0302, 0x0409, 255}, {9, 0x80, 6, 0x0303, 0x0409, 255}, {9, 0x00, 9, 1, 0, 0},
        };
        ASSERT_GE(setups.size(), std::size(want));
        for (size_t k = 0; k < std::size(want); ++k) {
            const Want& w = want[k];
            EXPECT_EQ(setups[k].address, w.address) << k;
            EXPECT_EQ(setups[k].bytes, SessionBuilder::SetupPacket(w.requestType, w.request, w.value, w.index, w.length)) << k;
        }
        // What the device answered is what the builder says it used.
        EXPECT_EQ(ControlInData(c, setups[0].index, 0), Bytes(device.begin(), device.begin() + 8));
        EXPECT_EQ(ControlInData(c, setups[2].index, 9), device);
        EXPECT_EQ(ControlInData(c, setups[4].index, 9), cfg);
        EXPECT_EQ(ControlInData(c, setups[5].index, 9).empty(), s.speed != SpeedHigh);  // qualifier stalled
        EXPECT_EQ(ControlInData(c, setups[7].index, 9), sb.StringDescriptors()[1]);

        ASSERT_EQ(device.size(), 18u);
        EXPECT_TRUE(device[7] == (s.speed == SpeedLow ? 8 : 64) || (s.speed == SpeedFull && device[7] >= 8));
        EXPECT_EQ(size_t(cfg[2] | cfg[3] << 8), cfg.size());
        std::set<uint8_t> interfaces;
        int declaredEndpoints = 0, endpoints = 0;
        for (size_t at = 0; at < cfg.size(); at += cfg[at]) {
            ASSERT_GE(cfg[at], 2);
            ASSERT_LE(at + cfg[at], cfg.size());
            if (cfg[at + 1] == 4) interfaces.insert(cfg[at + 2]), declaredEndpoints += cfg[at + 4];
            if (cfg[at + 1] != 5) continue;
            ++endpoints;
            const uint16_t maxPacket = uint16_t(cfg[at + 4] | cfg[at + 5] << 8);
            if ((cfg[at + 3] & 3) == 2) { EXPECT_EQ(maxPacket, s.speed == SpeedHigh ? 512 : 64); }
            if (s.speed == SpeedLow) { EXPECT_LE(maxPacket, 8); }
        }
        EXPECT_EQ(interfaces.size(), cfg[4]);
        EXPECT_EQ(endpoints, declaredEndpoints);
        for (const Bytes& str : sb.StringDescriptors()) EXPECT_EQ(str[0], str.size());
    }
}

// Class payloads: what each kind's operations put on the bus.
TEST(SessionBuilder, ClassTraffic) {
    // Data the receiver took: not NAKed, directly or in the complete split.
    auto accepted = [](const BusCapture& c, size_t data) {
        size_t j = data + 1;
        if (j >= c.records.size()) return true;
        if (c.records[j].PidNibble() == PidAck && j + 3 < c.records.size() &&
            c.records[j + 1].PidNibble() == PidSplit && c.records[j + 1].SplitComplete())
            j += 3;
        return c.records[j].PidNibble() != PidNak;
    };
    auto dataAfter = [&](const BusCapture& c, uint8_t pid, uint8_t endpoint) {
        std::vector<Bytes> out;
        for (size_t i = 0; i + 1 < c.records.size(); ++i) {
            const PacketRecord& r = c.records[i];
            if (r.PidNibble() == pid && r.Address() == 9 && r.Endpoint() == endpoint && c.records[i + 1].IsData() &&
                accepted(c, i + 1))
                out.push_back(PayloadOf(c, i + 1));
        }
        return out;
    };
    auto count = [](const std::vector<Bytes>& v, size_t size, const char* head) {
        return std::count_if(v.begin(), v.end(), [&](const Bytes& b) { return b.size() == size && std::equal(head, head + 4, b.begin()); });
    };
    for (const SessionCase& s : kSessions) {
        SCOPED_TRACE(Name(s));
        SessionBuilder sb(OptionsFor(s, 21, 0.0));
        BusCapture c = sb.Build();
        EXPECT_TRUE(std::none_of(c.records.begin(), c.records.end(), Errored));
        std::vector<Bytes> setups;
        for (const SetupSeen& x : Setups(c)) setups.push_back(x.bytes);
        auto has = [&](const Bytes& setup) { return std::find(setups.begin(), setups.end(), setup) != setups.end(); };
        switch (s.kind) {
        case Kind::Mouse: {
            EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x21, 0x0A, 0, 0, 0)));
            EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(sb.ReportDescriptor().size()))));
            auto reports = dataAfter(c, PidIn, 1);
            EXPECT_EQ(reports.size(), 12u);
            for (const Bytes& report : reports) EXPECT_EQ(report.size(), 3u);
            break;
        }
        case Kind::Disk: {
            auto out = dataAfter(c, PidOut, 2);
            EXPECT_EQ(count(out, 31, "USBC"), 12);
            EXPECT_EQ(count(dataAfter(c, PidIn, 1), 13, "USBS"), 12);
            auto first = std::find_if(out.begin(), out.end(), [](const Bytes& b) { return b.size() == 31; });
            ASSERT_NE(first, out.end());
            EXPECT_EQ((*first)[15], 0x12);  // INQUIRY first
            break;
        }
        case Kind::Camera: {
            std::vector<uint16_t> commands;
            for (const Bytes& b : dataAfter(c, PidOut, 2))
                if (b.size() >= 12 && b[4] == 1) commands.push_back(uint16_t(b[6] | b[7] << 8));
            // Three pictures listed and looked at, the newest downloaded, then one
            // announced by an event during the session.
            EXPECT_EQ(commands, (std::vector<uint16_t>{0x1001, 0x1002, 0x1004, 0x1005, 0x1007, 0x1008, 0x1008, 0x1008,
                                                       0x1009, 0x1008, 0x1009, 0x1003}));
            const auto events = dataAfter(c, PidIn, 3);
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0], (Bytes{0x10, 0, 0, 0, 4, 0, 0x02, 0x40, 0, 0, 0, 0, 0x24, 0, 0, 0}));
            // Two pictures of a couple of hundred KB, within the half of the
            // default capture memory that a capture without trigger keeps.
            size_t pictureBytes = 0;
            for (const Bytes& b : dataAfter(c, PidIn, 1)) pictureBytes += b.size();
            EXPECT_GT(pictureBytes, 2u * 180 * 1024);
            EXPECT_LT(pictureBytes, 480u * 1024);
            size_t polls = 0;
            for (size_t i = 0; i + 1 < c.records.size(); ++i)
                polls += c.records[i].PidNibble() == PidIn && c.records[i].Endpoint() == 3 &&
                         c.records[i + 1].PidNibble() == PidNak;
            EXPECT_GE(polls, 1u) << "the host polls the event pipe";
            break;
        }
        case Kind::Audio: {
            EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x22, 0x01, 0x0100, 0x01, 3)));
            EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x01, 11, 1, 1, 0)));
            // Feature unit 5 of interface 0: volume of each channel read and set, the master mute set.
            for (uint16_t channel : {1, 2}) {
                EXPECT_TRUE(has(SessionBuilder::SetupPacket(0xA1, 0x82, uint16_t(0x0200 | channel), 0x0500, 2)));
                EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x21, 0x01, uint16_t(0x0200 | channel), 0x0500, 2)));
            }
            EXPECT_TRUE(has(SessionBuilder::SetupPacket(0x21, 0x01, 0x0100, 0x0500, 1)));
            // Its descriptor among the audio-control interface's, which the header's total length covers.
            const Bytes& config = sb.ConfigDescriptor();
            const Bytes featureUnit{10, 0x24, 0x06, 5, 1, 1, 0x01, 0x02, 0x02, 0};
            EXPECT_NE(std::search(config.begin(), config.end(), featureUnit.begin(), featureUnit.end()), config.end());
            EXPECT_EQ(config[18 + 5], 40) << "header wTotalLength";
            size_t iso = 0, bytes = 0;
            for (size_t i = 0; i + 2 < c.records.size(); ++i) {
                const PacketRecord& r = c.records[i];
                if (r.PidNibble() != PidOut || r.Endpoint() != 1 || r.Address() != 9) continue;
                ++iso;
                EXPECT_EQ(c.records[i + 1].PidNibble(), PidData0);
                EXPECT_FALSE(c.records[i + 2].PidNibble() == PidAck || c.records[i + 2].PidNibble() == PidNak);
                bytes += c.records[i + 1].PayloadLength();
            }
            EXPECT_EQ(bytes, 12u * 192);
            EXPECT_EQ(iso, s.behindHub ? 24u : 12u);
            break;
        }
        }
    }
}

}  // namespace
}  // namespace orvane::emu
