// Cell texts of the packet list: sizes, times at 16.7 ns a tick, status
// texts with their error classes, counts with commas, idle times read from
// the capture, and the summary cache behind them.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "CPacketListCells.h"
#include "CaptureSource.h"
#include "PacketListTestTree.h"
#include "ParserHarness.h"
#include "SessionBuilder.h"

using orvane::ItemSummary;
using orvane::PacketRecord;
using orvane::UsbItem;
using orvane::app::CPacketListCells;
using namespace orvane::testing;

namespace {

TEST(CellTextTest, Sizes)
{
    struct { int32_t size; const char* text; } cases[] = {
        {-1, ""}, {0, "0 bytes"}, {1023, "1023 bytes"}, {1024, "1 KB"}, {1536, "1.5 KB"},
        {100000, "97.7 KB"}, {1023487, "999 KB"},
        // Past 999.5 KB the short form would turn to exponents.
        {1023488, "1000 KB"}, {1048575, "1024 KB"},
        {1048576, "1 MB"}, {1572864, "1.5 MB"}, {2147483647, "2048 MB"},
    };
    for (const auto& c : cases) EXPECT_EQ(CPacketListCells::SizeText(c.size), c.text) << c.size;
}

TEST(CellTextTest, TimesAndDurations)
{
    struct { int64_t ticks; const char* time; const char* duration; } cases[] = {
        {0, "0.000 000 000", ""},
        {1, "0.000 000 017", "0.000 000 017"},   // 16.7 + 0.5, truncated
        {3, "0.000 000 050", "0.000 000 050"},   // 50.1
        {60, "0.000 001 002", "0.000 001 002"},
        {60000000, "1.002 000 000", "1.002 000 000"},
        {0xFFFFFFFFFFFFll, "4700632.111 067 938", "4700632.111 067 938"},
        {-3, "", ""},
    };
    for (const auto& c : cases) {
        if (c.ticks >= 0) {
            EXPECT_EQ(CPacketListCells::TimeText(c.ticks), c.time) << c.ticks;
        }
        EXPECT_EQ(CPacketListCells::DurationText(c.ticks), c.duration) << c.ticks;
    }
}

TEST(CellTextTest, StatusTexts)
{
    struct { int32_t status; const char* text; bool red; } cases[] = {
        {-1, "", false}, {0, "ACK", false}, {6, "", false}, {7, "Error", false}, {8, "", false},
        {0x00040000, "ACK (CRC16 Error)", true}, {0x00010002, "NAK (Data Length Error)", true},
        {0x00020007, "Error (Pid Error)", true}, {0x00030004, "OK (CRC5 Error)", true},
        {0x00040006, " (CRC16 Error)", true}, {0x00060000, "ACK", true},
        {0x00050007, "Error (Bit Stuff Error)", true}, {int32_t(0xFFFF0003), "STALL", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CPacketListCells::StatusText(c.status), c.text) << std::hex << c.status;
        EXPECT_EQ(CPacketListCells::IsErrorStatus(c.status), c.red) << std::hex << c.status;
    }
}

TEST(CellTextTest, CountsUnknownSpeedsAndHexBytes)
{
    struct { uint32_t value; const char* text; } counts[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {123456, "123,456"}, {1234567, "1,234,567"},
        {4294967295u, "4,294,967,295"},
    };
    for (const auto& c : counts) EXPECT_EQ(CPacketListCells::ThousandsText(c.value), c.text);
    for (int32_t speed : {0, -1, 4}) EXPECT_EQ(CPacketListCells::SpeedText(speed), "");
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF};
    EXPECT_EQ(CPacketListCells::HexBytes(bytes, 3), "00 0A FF ");
}

PacketRecord Record(uint64_t time, uint16_t duration)
{
    PacketRecord r;
    r.SetTimestamp(time);
    r.SetDuration(duration);
    return r;
}

struct CellsFixture : ::testing::Test {
    FakeDecode decoder;
    CPacketListCells cells;
    orvane::emu::CaptureSource source{{{Record(100, 20), Record(150, 10), Record(200, 0)}, {}}};
    UsbItem first{1, 0}, second{1, 1}, third{1, 2};

    CellsFixture()
    {
        cells.SetDecoder(&decoder);
        cells.SetDataSource(&source);
        ItemSummary s;
        s.name = "IN 命令";
        s.address = 3;
        s.endpoint = 0;
        s.interface = -1;
        s.speed = 2;
        s.status = 0x00040000;
        s.size = 2000;
        s.time = 200;
        s.duration = 0;
        s.idle = 999;  // not what the list shows
        decoder.summaries[&second] = s;
        s.size = 0;
        s.time = 100;  // starts before the previous record ended
        decoder.summaries[&third] = s;
        s.time = 60000000;
        decoder.summaries[&first] = s;
        for (int i = 0; i < 2000; ++i) decoder.bytes.push_back(uint8_t(i));
    }
};

TEST_F(CellsFixture, EveryColumnOfARow)
{
    const std::string data = CPacketListCells::HexBytes(decoder.bytes.data(), 1024);
    const char* expected[] = {"IN 命令", "3", "0", "", "HS", "ACK (CRC16 Error)", data.c_str(),
                              "1.95 KB", "0.000 003 340", "", "0.000 001 336", "1"};
    // Idle: 200 - 100 - 20 ticks = 80 ticks = 1336 ns.
    for (int column = 0; column < CPacketListCells::kColumnCount; ++column)
        EXPECT_EQ(cells.GetCellText(&second, column), expected[column]) << column;
    EXPECT_EQ(cells.GetCellText(&second, 12), "");
    EXPECT_EQ(cells.GetCellText(nullptr, 0), "");
}

TEST_F(CellsFixture, IdleAndDataEdges)
{
    EXPECT_EQ(cells.GetCellText(&first, CPacketListCells::ColIdle), "");   // record 0
    EXPECT_EQ(cells.GetCellText(&third, CPacketListCells::ColIdle), "");   // negative gap
    EXPECT_EQ(cells.GetCellText(&third, CPacketListCells::ColData), "");   // size 0
    decoder.lost = &second;
    EXPECT_EQ(cells.GetCellText(&second, CPacketListCells::ColData), orvane::kPayloadLostText);
    EXPECT_EQ(cells.GetCellText(&first, CPacketListCells::ColTime), "1.002 000 000");
    cells.SetDataSource(nullptr);
    EXPECT_EQ(cells.GetCellText(&second, CPacketListCells::ColIdle), "");
    // A record the source cannot serve gives no idle time.
    orvane::emu::CaptureSource empty{{{}, {}}};
    cells.SetDataSource(&empty);
    EXPECT_EQ(cells.GetCellText(&second, CPacketListCells::ColIdle), "");
}

TEST_F(CellsFixture, SummariesAreAskedForOnceAndDroppedWhole)
{
    cells.GetCellText(&second, 0);
    cells.GetCellText(&second, 5);
    EXPECT_EQ(decoder.summarizeCalls, 1);
    cells.ClearSummaryCache();
    cells.GetCellText(&second, 0);
    EXPECT_EQ(decoder.summarizeCalls, 2);
    FakeDecode other;
    cells.SetDecoder(&other);
    EXPECT_EQ(cells.CachedSummaries(), 0u);
    EXPECT_EQ(cells.GetCellText(&second, 0), "");

    // Scrolling through more rows than the cache keeps does not grow it.
    auto many = std::make_unique<UsbItem[]>(CPacketListCells::kSummaryCacheLimit + 10);
    for (size_t i = 0; i < CPacketListCells::kSummaryCacheLimit + 10; ++i) cells.GetCellText(&many[i], 1);
    EXPECT_LT(cells.CachedSummaries(), 100u);
}

// Fails every read of the payload at `failing`, as an unplugged analyser's
// capture memory does, and tells of it as the device library does.
struct FailingPayloadSource : orvane::emu::CaptureSource {
    using CaptureSource::CaptureSource;
    std::set<uint64_t> failing, failed;
    int32_t GetPayload(const PacketRecord* r, uint8_t* dst, uint32_t capacity, uint16_t* crc) override
    {
        const uint64_t at = r->PayloadOffset();
        if (!failing.count(at) || (!failed.count(at) && !dst && !crc))
            return CaptureSource::GetPayload(r, dst, capacity, crc);
        failed.insert(at);
        return orvane::kPayloadNotRead;
    }
};

// The parser's own rows: a zero-length packet that lost its payload lost no
// byte of its transaction, nor of the transfer whose status stage it is.
TEST(CellsOfParsedRows, AZeroLengthPacketLosesNoData)
{
    using B = orvane::emu::BusTrafficBuilder;
    B b(orvane::SpeedFull);
    const size_t read = b.ControlTransfer(1, orvane::emu::SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 4),
                                          {0x12, 0x01, 0x00, 0x02});
    b.In(1, 1, orvane::PidData0, {}), b.In(1, 1, orvane::PidData1, {7, 8});
    const size_t notRead = b.In(1, 1, orvane::PidData0, {9});
    const size_t readFails = b.In(1, 1, orvane::PidData1, {10, 11});
    const auto descriptorRead = orvane::emu::SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 4);
    const size_t dataFails = b.ControlTransfer(1, descriptorRead, {0x12, 0x01, 0x00, 0x02});
    const size_t setupFails = b.ControlTransfer(1, descriptorRead, {0x12, 0x01, 0x00, 0x02});
    orvane::emu::BusCapture capture = b.Take();
    std::set<uint64_t> failing;
    for (size_t r : {readFails + 1, dataFails + 4, setupFails + 1}) failing.insert(capture.records[r].PayloadOffset());
    for (size_t r = read + 6; r < readFails; ++r)  // from the status stage's DATA1 on
        if (capture.records[r].IsData()) capture.records[r].SetPayloadOffset(PacketRecord::kPayloadLost);
    // One the analyser still held but that was not read from it.
    capture.records[notRead + 1].SetPayloadOffset(PacketRecord::kPayloadUnread);
    FailingPayloadSource source(std::move(capture));
    orvane::CUsbParser parser;
    parser.SetDataSource(&source);
    CollectingSink sink;
    ASSERT_EQ(parser.Parse(&sink), 1);
    ASSERT_EQ(sink.root.children.size(), 13u);
    source.failing = failing;
    UsbItem transfer(orvane::ItemControlTransfer, 0);  // the stages as the standard decoder holds them
    for (uint32_t i = 0; i < 3; ++i) transfer.children.push_back(sink.root.children[i]);
    CPacketListCells cells;
    cells.SetDecoder(&parser);
    cells.SetDataSource(&source);
    const struct {
        UsbItem* item;
        const char* data;
    } rows[] = {
        {&transfer, "12 01 00 02 "},
        {sink.root.children[2], ""},  // the status stage
        {sink.root.children[3], ""},  // a zero-length IN
        {sink.root.children[4], orvane::kPayloadLostText},
        {sink.root.children[5], orvane::kPayloadUnreadText},
        // Its read fails as the cell asks for it: said so at once.
        {sink.root.children[6], orvane::kPayloadUnreadText},
    };
    for (const auto& row : rows)
        EXPECT_EQ(cells.GetCellText(row.item, CPacketListCells::ColData), row.data) << row.item->firstRecord;
    // The packet, as the data pane and the detail show it: the PID alone.
    UsbItem* packet = sink.root.children[6]->children[1];
    EXPECT_STREQ(orvane::LostPayloadText(&parser, packet), orvane::kPayloadUnreadText);
    uint8_t bytes[8] = {};
    EXPECT_EQ(parser.GetData(packet, bytes, sizeof bytes), 1);
    std::string xml;
    ASSERT_EQ(parser.GetDetail(sink.root.children[6], xml), 1);
    EXPECT_NE(xml.find(orvane::kPayloadUnreadText), std::string::npos) << xml;
    ASSERT_EQ(parser.GetDetail(sink.root.children[10], xml), 1);
    EXPECT_NE(xml.find(orvane::kPayloadUnreadText), std::string::npos) << "a setup read as its detail is: " << xml;
    // Control transfers whose data stage or setup fails to read decode no zeros.
    for (uint32_t first : {7u, 10u}) {
        UsbItem failingTransfer(orvane::ItemControlTransfer, 0);
        for (uint32_t i = first; i < first + 3; ++i) failingTransfer.children.push_back(sink.root.children[i]);
        ASSERT_EQ(parser.GetDetail(&failingTransfer, xml), 1);
        EXPECT_NE(xml.find(orvane::kPayloadUnreadText), std::string::npos) << xml;
        EXPECT_EQ(xml.find("bLength"), std::string::npos) << xml;
        failingTransfer.children.clear();
    }
    transfer.children.clear();
}

}  // namespace
