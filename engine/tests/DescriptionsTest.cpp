// Rows, bytes and detail documents the parser gives of its items.
#include <memory>
#include <set>
#include <tuple>

#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
using B = emu::BusTrafficBuilder;

namespace {

// Reads from the analyser fail while `failing` counts down, as the device's
// source answers them: asked without a read, a payload whose last read
// failed answers so until a read of it succeeds.
class FlakySource : public emu::CaptureSource {
public:
    using CaptureSource::CaptureSource;
    int failing = 0;
    int32_t GetPayload(const PacketRecord* r, uint8_t* dst, uint32_t capacity, uint16_t* crc) override {
        const uint64_t at = r->PayloadOffset();
        if (!dst && !crc && failed_.count(at)) return kPayloadNotRead;
        if ((dst || crc) && failing > 0) {
            --failing;
            failed_.insert(at);
            if (crc) *crc = 0;
            return kPayloadNotRead;
        }
        if (dst || crc) failed_.erase(at);
        return CaptureSource::GetPayload(r, dst, capacity, crc);
    }

private:
    std::set<uint64_t> failed_;
};

class Described {
public:
    explicit Described(B& b) : Described(b.Take()) {}
    explicit Described(emu::BusCapture capture) : source(std::move(capture)) {
        parser.SetDataSource(&source);
        parser.Parse(&sink);
    }
    UsbItem* Top(size_t i) { return sink.root.children[uint32_t(i)]; }
    ItemSummary Row(UsbItem* item) {
        ItemSummary s;
        EXPECT_EQ(parser.Summarize(item, &s), 1);
        return s;
    }

    CUsbParser parser;
    CollectingSink sink;
    FlakySource source;
};

}  // namespace

TEST(Descriptions, DataPacketRowBytesAndDetail) {
    B b(SpeedFull);
    std::vector<uint8_t> payload(64);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i);
    b.Token(PidIn, 2, 1), b.Data(PidData1, payload), b.Handshake(PidAck);
    Described d(b);
    UsbItem* data = d.Top(0)->children[1];
    ItemSummary row = d.Row(data);
    EXPECT_EQ(row.size, 64);
    EXPECT_EQ(row.icon, 8);  // sent by the device
    std::vector<uint8_t> bytes(100, 0xEE);
    ASSERT_EQ(d.parser.GetData(data, bytes.data(), uint32_t(bytes.size())), 67);
    EXPECT_EQ(bytes[0], PacketRecord::MakePidByte(PidData1));
    EXPECT_EQ(bytes[64], 63);
    EXPECT_EQ(bytes[67], 0xEE);
    // A buffer too small is filled, not overrun, and the length still told.
    std::vector<uint8_t> small(11, 0);
    small.back() = 0x5A;
    EXPECT_EQ(d.parser.GetData(data, small.data(), 10), 67);
    EXPECT_EQ(small.back(), 0x5A);

    std::string xml;
    ASSERT_EQ(d.parser.GetDetail(data, xml), 1);
    EXPECT_NE(xml.find("name=\"CRC-16\""), std::string::npos);
    EXPECT_NE(xml.find("offset=\"520\" bits=\"16\""), std::string::npos) << xml;
    EXPECT_EQ(d.parser.GetData(d.Top(0), bytes.data(), uint32_t(bytes.size())), 64);
}

// The payload buffer overwrote a packet's bytes: its record stays, its data
// are named as not kept, never shown as zeros or a CRC of 0.
TEST(Descriptions, APacketWhosePayloadTheCaptureLacks) {
    B b(SpeedFull);
    b.In(2, 1, PidData0, {1, 2, 3, 4}), b.In(2, 1, PidData1, {5, 6});
    emu::BusCapture capture = b.Take();
    capture.records[1].SetPayloadOffset(PacketRecord::kPayloadLost);
    Described d(std::move(capture));
    UsbItem* lost = d.Top(0);
    UsbItem* kept = d.Top(1);
    UsbItem* data = lost->children[1];

    EXPECT_EQ(d.Row(data).size, 4) << "the record still tells its length";
    uint8_t bytes[16] = {};
    EXPECT_EQ(d.parser.GetData(data, bytes, sizeof bytes), 1);
    EXPECT_EQ(bytes[0], PacketRecord::MakePidByte(PidData0));
    EXPECT_EQ(d.parser.GetData(lost, bytes, sizeof bytes), 0);
    EXPECT_EQ(d.parser.GetData(kept, bytes, sizeof bytes), 2);

    std::string xml;
    ASSERT_EQ(d.parser.GetDetail(data, xml), 1);
    EXPECT_NE(xml.find(kPayloadLostText), std::string::npos) << xml;
    EXPECT_EQ(xml.find("CRC-16"), std::string::npos) << xml;
    ASSERT_EQ(d.parser.GetDetail(lost, xml), 1);
    EXPECT_NE(xml.find(kPayloadLostText), std::string::npos) << xml;
    ASSERT_EQ(d.parser.GetDetail(kept->children[1], xml), 1);
    EXPECT_EQ(xml.find(kPayloadLostText), std::string::npos) << xml;

    for (auto [item, answer] : {std::pair{data, 1}, {lost, 1}, {lost->children[0], 0}, {kept, 0}})
        EXPECT_EQ(d.parser.OnNotify(NotifyPayloadLost, item, 0), answer) << item->type;

    // One whose payload the analyser held but that was never read from it says so instead.
    B again(SpeedFull);
    again.In(2, 1, PidData0, {1, 2, 3, 4});
    emu::BusCapture unread = again.Take();
    unread.records[1].SetPayloadOffset(PacketRecord::kPayloadUnread);
    Described u(std::move(unread));
    ASSERT_EQ(u.parser.GetDetail(u.Top(0)->children[1], xml), 1);
    EXPECT_NE(xml.find(kPayloadUnreadText), std::string::npos) << xml;
    EXPECT_EQ(xml.find(kPayloadLostText), std::string::npos) << xml;
    EXPECT_EQ(u.parser.OnNotify(NotifyPayloadLost, u.Top(0), 0), 1) << "no data, as a lost one";
    // The same text for it wherever its data are asked for: its transaction's detail and the list's.
    ASSERT_EQ(u.parser.GetDetail(u.Top(0), xml), 1);
    EXPECT_NE(xml.find(kPayloadUnreadText), std::string::npos) << xml;
    EXPECT_EQ(xml.find(kPayloadLostText), std::string::npos) << xml;
    for (auto [parser, item, text] : {std::tuple{&u.parser, u.Top(0), kPayloadUnreadText},
                                      {&u.parser, u.Top(0)->children[1], kPayloadUnreadText},
                                      {&d.parser, lost, kPayloadLostText}, {&d.parser, data, kPayloadLostText},
                                      {&d.parser, kept, nullptr}})
        EXPECT_STREQ(LostPayloadText(parser, item), text) << item->type;
}

// A read from the analyser that fails while a packet, a SETUP or its transfer
// is first described: that detail says so, never shows a CRC of 0 or a
// request read from zeros. The next detail, its read done, is whole.
TEST(Descriptions, AReadThatFailsAtTheFirstDetailIsToldThere) {
    B b(SpeedFull);
    const emu::SessionBuilder session({});
    b.ControlTransfer(1, emu::SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 18), session.DeviceDescriptor());
    Described d(b);
    ASSERT_EQ(d.sink.root.children.size(), 3u);
    auto transfer = std::make_unique<UsbItem>(ItemControlTransfer, 0);
    for (UsbItem* stage : d.sink.root.children) transfer->children.push_back(stage);
    const std::string told = "value=\"" + std::string(kPayloadUnreadText) + "\"";
    const struct {
        UsbItem* item;
        const char* whole;  // in its detail once read
    } rows[] = {
        {d.Top(1)->children[1], "name=\"CRC-16\""},
        {d.Top(0), "name=\"bRequest\" value=\"GET_DESCRIPTOR\""},
        {transfer.get(), "Device Descriptor"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.item->type);
        std::string xml;
        d.source.failing = 1;
        ASSERT_EQ(d.parser.GetDetail(row.item, xml), 1);
        EXPECT_NE(xml.find(told), std::string::npos) << xml;
        for (const char* zeros : {"CRC-16", "bRequest", "GetStatus", "Device Descriptor"})
            EXPECT_EQ(xml.find(zeros), std::string::npos) << xml;
        ASSERT_EQ(d.parser.GetDetail(row.item, xml), 1);
        EXPECT_NE(xml.find(row.whole), std::string::npos) << xml;
        EXPECT_EQ(xml.find(kPayloadUnreadText), std::string::npos) << xml;
    }
    transfer->children.clear();
}

// A NAKed attempt of a stage carries none of the transfer's data: its packet
// losing its payload leaves the transfer whole, the retry that was taken
// losing it does not.
TEST(Descriptions, AControlTransferLosesNoPayloadWithANakedAttempt) {
    for (const bool retryLost : {false, true}) {
        SCOPED_TRACE(retryLost ? "the retry lost its payload" : "the NAKed attempt lost its payload");
        B b(SpeedFull);
        b.Setup(1, emu::SessionBuilder::SetupPacket(0x21, 0x09, 0x0200, 0, 1));  // SET_REPORT of one byte
        const size_t refused = b.Out(1, 0, PidData1, {0x02}, PidNak);
        const size_t taken = b.Out(1, 0, PidData1, {0x02});
        b.In(1, 0, PidData1, {});
        emu::BusCapture capture = b.Take();
        capture.records[(retryLost ? taken : refused) + 1].SetPayloadOffset(PacketRecord::kPayloadLost);
        Described d(std::move(capture));
        ASSERT_EQ(d.sink.root.children.size(), 4u);
        EXPECT_EQ(d.Top(1)->status, PidNak);
        // The stages as the standard-request decoder holds them.
        auto transfer = std::make_unique<UsbItem>(ItemControlTransfer, 0);
        for (UsbItem* stage : d.sink.root.children) transfer->children.push_back(stage);
        EXPECT_EQ(d.parser.OnNotify(NotifyPayloadLost, d.Top(retryLost ? 2 : 1), 0), 1);
        EXPECT_EQ(d.parser.OnNotify(NotifyPayloadLost, transfer.get(), 0), retryLost ? 1 : 0);
        transfer->children.clear();
    }
}

// A transaction's detail points at the data pane only when it shows bytes
// there: an empty data packet's says it holds none.
TEST(Descriptions, ATransactionsRawDataItem) {
    B b(SpeedHigh);
    b.In(2, 1, PidData0, {1, 2});
    b.In(2, 1, PidData1, {});
    b.Out(2, 2, PidData0, {});
    b.SplitIn(B::HubPort{}, 3, 1, B::EtInterrupt, PidData0, {});
    Described d(b);
    const std::string pointing = "value=\"Check Data pane\"", empty = "name=\"Raw data\" value=\"0 bytes\"";
    for (auto [item, bytes] : {std::pair{d.Top(0), 2}, {d.Top(1), 0}, {d.Top(2), 0}, {d.Top(4), 0}}) {
        SCOPED_TRACE(item->firstRecord);
        std::string xml;
        ASSERT_EQ(d.parser.GetDetail(item, xml), 1);
        EXPECT_EQ(d.parser.GetData(item, nullptr, 0), bytes);
        EXPECT_EQ(xml.find(pointing) != std::string::npos, bytes > 0) << xml;
        EXPECT_EQ(xml.find(empty) != std::string::npos, bytes == 0) << xml;
    }
}

TEST(Descriptions, IconsFollowTheDirectionOfTheTransaction) {
    B b(SpeedFull);
    b.In(2, 1, PidData0, {1}), b.Out(2, 2, PidData0, {1});
    Described d(b);
    UsbItem* in = d.Top(0);
    UsbItem* out = d.Top(1);
    EXPECT_EQ(d.Row(in->children[0]).icon, 0);  // IN token inside an IN transaction
    EXPECT_EQ(d.Row(in->children[2]).icon, 6);  // ACK from the host
    EXPECT_EQ(d.Row(out->children[2]).icon, 8); // ACK from the device
    EXPECT_EQ(d.Row(in).icon, 13);
}

TEST(Descriptions, RunsTimesAndLoneTokens) {
    B b(SpeedFull);
    b.Sof(100);
    for (int i = 0; i < 12; ++i) b.InNak(3, 1);
    b.Sof(101), b.Sof(102);
    b.Token(PidIn, 3, 1);
    Described d(b);
    ItemSummary sof = d.Row(d.Top(0));
    EXPECT_EQ(sof.idle, 0);  // the capture's first record
    std::vector<uint8_t> bytes(8);
    ASSERT_EQ(d.parser.GetData(d.Top(0), bytes.data(), 8), 3);
    EXPECT_EQ(bytes[1] | (bytes[2] & 7) << 8, 100);

    ItemSummary naks = d.Row(d.Top(1));
    EXPECT_EQ(naks.icon, 15);
    EXPECT_GT(naks.duration, 0);
    std::string xml;
    ASSERT_EQ(d.parser.GetDetail(d.Top(2), xml), 1);
    EXPECT_NE(xml.find("SOFs (2)"), std::string::npos);

    ItemSummary lone = d.Row(d.Top(3));
    ItemSummary token = d.Row(d.Top(3)->children[0]);
    EXPECT_EQ(lone.duration, token.duration);
    EXPECT_EQ(lone.icon, 17);  // device to host, no handshake
}

TEST(Descriptions, DamagedAndShortPackets) {
    B b(SpeedHigh);
    b.Damage(b.Handshake(PidAck), ErrPidCheck);
    b.DataWithLength(PidData0, {}, 1);
    b.BusEvent(emu::EvBusSuspend);
    Described d(b);
    ItemSummary shortData = d.Row(d.Top(1));
    EXPECT_EQ(shortData.size, 0);
    uint8_t bytes[4];
    EXPECT_EQ(d.parser.GetData(d.Top(1), bytes, sizeof bytes), 1);
    EXPECT_EQ(d.Row(d.Top(2)).name, "Bus Suspend");
    std::string xml = "untouched";
    EXPECT_EQ(d.parser.GetDetail(d.Top(2), xml), 1);
    EXPECT_EQ(xml, "untouched");
}

// A SPLIT record keeps its duration in bits 48-55; bits 56-63 are a byte of
// the token, not of its length on the bus.
TEST(Descriptions, ASplitRowsDurationIsItsOwnByte) {
    B b(SpeedHigh);
    b.SplitIn(B::HubPort{.hub = 0x55, .port = 2}, 3, 1, B::EtInterrupt, PidData0, {1, 2});
    emu::BusCapture capture = b.Take();
    const PacketRecord split = capture.records[0];
    ASSERT_EQ(split.PidNibble(), PidSplit);
    ASSERT_NE(split.Duration(), split.SplitDuration());
    Described d(std::move(capture));
    UsbItem* packet = d.Top(0)->children[0];
    ASSERT_EQ(packet->type, PidSplit);
    const ItemSummary row = d.Row(packet);
    EXPECT_EQ(row.duration, split.SplitDuration());
}

TEST(Descriptions, TypeNamesOutsideTheTableAreEmpty) {
    CUsbParser parser;
    std::string name = "x";
    for (auto [type, text] : {std::pair{6, "NYTE"}, {128, ""}, {300, ""}}) {
        parser.GetTypeName(type, name);
        EXPECT_EQ(name, text) << type;
    }
}

// The list describes the rows a parse has handed over while the parse reads on
// as the records arrive, each on its own thread.
TEST(Descriptions, RowsDescribedWhileTheParseGoesOn) {
    emu::SessionBuilder::Options o;
    o.kind = emu::SessionBuilder::Kind::Disk;
    o.speed = SpeedHigh;
    emu::CaptureSource live(emu::SessionBuilder(o).Build());
    live.SetEnded(false);
    live.SetAvailable(0);
    live.SetOnNotYet(
        [](emu::CaptureSource& s, void*) {
            s.SetAvailable(s.GetCount() + 100);
            if (s.GetCount() == s.Capture().records.size()) s.SetEnded(true);
        },
        nullptr);
    CUsbParser parser;
    parser.SetRetryDelay(std::chrono::milliseconds(0));
    parser.SetDataSource(&live);
    HandOffSink sink;
    std::thread worker([&] { parser.Parse(&sink); });
    int described = 0;
    sink.DescribeWhile(worker, [&](UsbItem* item) {
        ItemSummary row;
        uint8_t bytes[8];
        described += parser.Summarize(item, &row);
        parser.GetData(item, bytes, sizeof bytes);
    });
    EXPECT_GT(described, 0);
    ExpectEveryRecordOnce(sink, live.Capture().records.size());
}
