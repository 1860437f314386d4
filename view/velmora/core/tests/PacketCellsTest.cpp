// The cells of each packet kind: texts, colours and bit widths, damaged and
// short packets, and cell edges of a packet far wider than any screen.
#include <gtest/gtest.h>

#include "ChartColour.h"
#include "ItemSummary.h"
#include "CaptureSource.h"
#include "PacketCells.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::velmora;

namespace {

PacketRecord Record(uint8_t pidByte, uint16_t low16, uint64_t word0 = 0)
{
    PacketRecord r;
    r.word0 = word0;
    r.SetPidByte(pidByte);
    r.SetLow16(low16);
    return r;
}

PacketRecord Lost(PacketRecord r, uint32_t mark = PacketRecord::kPayloadLost)
{
    r.SetPayloadOffset(mark);
    return r;
}

std::vector<std::string> Texts(const PacketCells& c)
{
    std::vector<std::string> out;
    for (const auto& cell : c.cells) out.push_back(cell.label + "=" + cell.value);
    return out;
}

std::vector<int32_t> Ends(const PacketCells& c)
{
    std::vector<int32_t> out;
    for (const auto& cell : c.cells) out.push_back(cell.endBit);
    return out;
}

using Strings = std::vector<std::string>;
using Ints = std::vector<int32_t>;

}  // namespace

TEST(PacketCells, EveryKindOfPacket)
{
    uint8_t payload[] = {0x01, 0xAB};
    struct Case {
        PacketRecord record;
        PacketPayload payload;
        PacketKind kind;
        Strings texts;
        Ints ends;
        int32_t total;
    } cases[] = {
        {Record(0x69, uint16_t(127 | 15 << 7 | 31 << 11)), {}, PacketKind::Token,
         {"IN=0x69", "Address=0x7F", "Endpoint=0xF", "CRC-5=0x1F"}, {8, 15, 19, 24}, 24},
        {Record(0xB4, 0x0081), {}, PacketKind::Token, {"PING=0xB4", "Address=0x01", "Endpoint=0x1", "CRC-5=0x00"},
         {8, 15, 19, 24}, 24},
        {Record(0xA5, uint16_t(1234 | 3 << 11)), {}, PacketKind::Sof, {"SOF=0xA5", "Frame#=1234", "CRC-5=0x03"},
         {8, 19, 24}, 24},
        {Record(0xC3, 4), {payload, 2, 0xBEEF}, PacketKind::Data, {"DATA0=0xC3", "Data (DATA0)=01 AB", "CRC-16=0xBEEF"},
         {8, 24, 40}, 40},
        {Record(0x4B, 2), {nullptr, 0, 0x0000}, PacketKind::Data, {"DATA1=0x4B", "Data (DATA1)=", "CRC-16=0x0000"},
         {8, 8, 24}, 24},
        {Record(0x87, 1), {payload, 2, 0x1234}, PacketKind::Data, {"DATA2=0x87", "Data (DATA2)=", "CRC-16=0x1234"},
         {8, 8, 24}, 24},
        {Lost(Record(0xC3, 4)), {}, PacketKind::Data,
         {"DATA0=0xC3", std::string("Data (DATA0)=") + kPayloadLostText, "CRC-16="}, {8, 24, 40}, 40},
        {Lost(Record(0x4B, 4), PacketRecord::kPayloadUnread), {}, PacketKind::Data,
         {"DATA1=0x4B", std::string("Data (DATA1)=") + kPayloadUnreadText, "CRC-16="}, {8, 24, 40}, 40},
        {Record(0x4B, 4), {payload, 0, 0, true}, PacketKind::Data,  // its read from the analyser failed
         {"DATA1=0x4B", std::string("Data (DATA1)=") + kPayloadUnreadText, "CRC-16="}, {8, 24, 40}, 40},
        {Record(0x1F, 0), {}, PacketKind::Error, {}, {}, 0},
        {Record(0xD2, 0), {}, PacketKind::Handshake, {"ACK=0xD2"}, {8}, 8},
        {Record(0x1E, 0), {}, PacketKind::Handshake, {"STALL=0x1E"}, {8}, 8},
        {Record(0x78, uint16_t(5 | 1 << 7 | 0 << 8 | 3 << 9 | 9 << 11), uint64_t(0x85) << 56), {}, PacketKind::Split,
         {"SPLIT=0x78", "Hub address=0x05", "SC=0x01", "Hub port=0x05", "S=1", "U=0", "ET=3", "CRC-5=0x09"},
         {8, 15, 16, 23, 24, 25, 27, 32}, 32},
        {Record(0x3C, 0), {}, PacketKind::None, {}, {}, 0},
        {Record(0xF0, 0), {}, PacketKind::None, {}, {}, 0},
    };
    for (const auto& c : cases) {
        PacketCells cells = BuildCells(c.record, c.payload);
        SCOPED_TRACE(int(c.record.PidByte()));
        EXPECT_EQ(cells.kind, c.kind);
        EXPECT_EQ(Texts(cells), c.texts);
        EXPECT_EQ(Ends(cells), c.ends);
        EXPECT_EQ(cells.totalBits, c.total);
    }
}

// The payload as the drawing reads it: its bytes and CRC, a read that failed
// said so, none for a packet of another kind.
TEST(PacketCells, ThePayloadIsReadAsItsCellsShowIt)
{
    emu::BusTrafficBuilder b(SpeedHigh);
    b.In(2, 1, PidData0, {0x01, 0xAB});
    struct Failing : emu::CaptureSource {
        using CaptureSource::CaptureSource;
        bool fails = false;
        int32_t GetPayload(const PacketRecord* r, uint8_t* dst, uint32_t capacity, uint16_t* crc) override
        {
            return fails ? kPayloadNotRead : CaptureSource::GetPayload(r, dst, capacity, crc);
        }
    } source(b.Take());
    std::vector<uint8_t> buffer(64);
    const PacketRecord data = source.Capture().records[1];
    for (const bool fails : {false, true}) {
        source.fails = fails;
        const PacketPayload payload = ReadPayload(&source, data, buffer);
        EXPECT_EQ(payload.notRead, fails);
        EXPECT_EQ(Texts(BuildCells(data, payload))[1],
                  fails ? std::string("Data (DATA0)=") + kPayloadUnreadText : "Data (DATA0)=01 AB");
    }
    EXPECT_EQ(ReadPayload(&source, source.Capture().records[0], buffer).bytes, nullptr) << "a token has none";
}

TEST(PacketCells, ColoursAndErrorTexts)
{
    PacketCells token = BuildCells(Record(0xE1, 0));
    std::vector<uint32_t> colours;
    for (const auto& cell : token.cells) colours.push_back(ColourOf(cell.colourKey));
    EXPECT_EQ(colours, (std::vector<uint32_t>{0x80FFFF, 0x400000, 0x80FF00, 0x808080}));
    EXPECT_EQ(BuildCells(Record(0x12, 0)).errorText, "Error(ACK)");
    EXPECT_EQ(BuildCells(Record(0x00, 0)).errorText, "Error( )");
    EXPECT_EQ(ColourOf(0), 0u);
    EXPECT_EQ(ColourOf(99), 0u);
}

TEST(PacketCells, EdgesSplitTheRectangleByBits)
{
    PacketCells token = BuildCells(Record(0x69, 0));
    EXPECT_EQ(CellEdges(token, 0, 240), (std::vector<int64_t>{80, 150, 190, 240})) << "8 : 7 : 4 : 5";
    EXPECT_EQ(CellEdges(token, 10, 33), (std::vector<int64_t>{17, 24, 28, 33}));
    // A maximal data packet a deep zoom makes 4e15 pixels wide.
    PacketCells data = BuildCells(Record(0xC3, 0xFFFF));
    auto edges = CellEdges(data, -2'000'000'000'000'000, 2'000'000'000'000'000);
    ASSERT_EQ(edges.size(), 3u);
    EXPECT_EQ(edges[2], 2'000'000'000'000'000);
    EXPECT_LT(edges[0], edges[1]);
    EXPECT_TRUE(CellEdges(BuildCells(Record(0x12, 0)), 0, 100).empty());
}

TEST(PacketCells, HexBytes)
{
    uint8_t bytes[] = {0x00, 0x7F, 0xFF};
    EXPECT_EQ(HexBytes(bytes, 3), "00 7F FF");
    EXPECT_EQ(HexBytes(bytes, 0), "");
    EXPECT_EQ(HexBytes(nullptr, 3), "");
}
