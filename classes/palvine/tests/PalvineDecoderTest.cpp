// The grouping of a still-image interface's transactions into operations and
// the rows, bytes and details of what it builds, driven by a scripted host,
// and once by the parser itself for what it answers of a NAKed OUT.
#include <gtest/gtest.h>

#include <functional>

#include "CClassDecoder.h"
#include "CFakeHost.h"
#include "DetailReader.h"
#include "Document.h"
#include "ParserHarness.h"
#include "PtpWire.h"

using namespace orvane;
using namespace orvane::palvine;
namespace ptp = orvane::emu::ptp;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Command(uint16_t code, uint32_t id, std::initializer_list<uint32_t> params = {})
{
    return ptp::Container(ptp::Command, code, id, params);
}
Bytes Data(uint16_t code, uint32_t id, const Bytes& payload) { return ptp::Container(ptp::Data, code, id, payload); }
Bytes Ok(uint32_t id, std::initializer_list<uint32_t> params = {})
{
    return ptp::Container(ptp::Response, 0x2001, id, params);
}
Bytes Event(uint16_t code, uint32_t param) { return ptp::Container(ptp::Event, code, 0, {param}); }

struct Script {
    const char* name;
    std::function<std::vector<UsbItem*>(CFakeHost&)> items;
    const char* expected;  // DescribeTree of what comes out, in order
};

TEST(PalvineGrouping, TransactionsBecomeOperationsWithTheirPhases)
{
    const std::vector<Script> scripts = {
        {"command, data, response, then the next command",
         [](CFakeHost& h) {
             return std::vector{h.Out(Command(0x1004, 1)), h.In(Data(0x1004, 1, {1, 0, 0, 0, 1, 0, 1, 0})),
                                h.In(Ok(1)), h.Out(Command(0x1005, 2, {0x10001}))};
         },
         "4100(258(17#1) 259(16#2) 260(16#3)) 4101(258(17#4))"},
        {"a NAK run before the command belongs to it",
         [](CFakeHost& h) {
             return std::vector{h.NakRun(ItemOutTransaction, 2), h.Out(Command(0x1002, 0, {1})), h.In(Ok(0))};
         },
         "4098(258(29#1 17#4) 260(16#5))"},
        {"a NAK run before the response: the container first, then the run",
         [](CFakeHost& h) {
             return std::vector{h.Out(Command(0x1003, 4)), h.NakRun(ItemInTransaction, 3), h.In(Ok(4))};
         },
         "4099(258(17#1) 260(16#6 29#2))"},
        {"an event after the response is the operation's last phase",
         [](CFakeHost& h) {
             return std::vector{h.Out(Command(0x1009, 5, {0x21})), h.In(Data(0x1009, 5, Bytes(100, 7))), h.In(Ok(5)),
                                h.In(Event(0x4002, 0x22)), h.Out(Command(0x1003, 6))};
         },
         "4105(258(17#1) 259(16#2) 260(16#3) 261(16#4)) 4099(258(17#5))"},
        {"an event before the response goes with the data",
         [](CFakeHost& h) {
             return std::vector{h.Out(Command(0x1009, 5, {0x21})), h.In(Data(0x1009, 5, Bytes(100, 7))),
                                h.In(Event(0x4002, 0x22)), h.In(Ok(5))};
         },
         "4105(258(17#1) 259(16#2 16#3) 260(16#4))"},
        {"an operation without data",
         [](CFakeHost& h) { return std::vector{h.Out(Command(0x1002, 0, {1})), h.In(Ok(0))}; },
         "4098(258(17#1) 260(16#2))"},
        {"two commands without an IN between stay one pending list",
         [](CFakeHost& h) { return std::vector{h.Out(Command(0x1002, 0, {1})), h.Out(Command(0x1003, 1))}; },
         "4098(258(17#1) 259(17#2))"},
        {"a SendObject with NAKed polls of the event pipe is one operation",
         [](CFakeHost& h) {
             std::vector<UsbItem*> items{h.Out(Command(0x100D, 9))};
             Bytes object = Data(0x100D, 9, Bytes(1500, 0x5A));
             for (size_t at = 0; at < object.size(); at += 512) {
                 items.push_back(h.Out(Bytes(object.begin() + long(at),
                                             object.begin() + long(std::min(object.size(), at + 512)))));
                 h.SetEndpoints(3, 2);
                 items.push_back(h.In({}, PidNak));
                 h.SetEndpoints(1, 2);
             }
             items.push_back(h.In(Ok(9)));
             return items;
         },
         // The last poll, after the data, is passed over into the response.
         "4109(258(17#1) 259(17#2 16#3 17#4 16#5 17#6) 260(16#8 16#7))"},
        {"a NAKed poll after the response is passed over",
         [](CFakeHost& h) {
             return std::vector{h.Out(Command(0x1003, 4)), h.In(Ok(4)), h.In({}, PidNak), h.Out(Command(0x1002, 0, {1}))};
         },
         "4099(258(17#1) 260(16#3 16#2)) 4098(258(17#4))"},
        {"a command that is no container: the private type, nothing lost",
         [](CFakeHost& h) { return std::vector{h.Out({1, 2, 3, 4, 5}), h.In(Ok(1)), h.Out(Command(0x1003, 2))}; },
         "257(258(17#1) 16#2) 4099(258(17#3))"},
        {"a code below 0x1000 is no operation",
         [](CFakeHost& h) { return std::vector{h.Out(ptp::Container(ptp::Command, 0x0102, 1)), h.In(Ok(1))}; },
         "257(258(17#1) 16#2)"},
        {"traffic before any command",
         [](CFakeHost& h) { return std::vector{h.In(Ok(3)), h.Out(Command(0x1003, 4)), h.In(Ok(4))}; },
         "257(16#1) 4099(258(17#2) 260(16#3))"},
    };
    for (const Script& s : scripts) {
        SCOPED_TRACE(s.name);
        CFakeHost host;
        host.SetDevice(4, 0);
        CClassDecoder decoder;
        decoder.SetHost(&host);
        const auto items = s.items(host);
        const auto out = Feed(decoder, items);
        EXPECT_EQ(DescribeTree(host, out), s.expected);
        host.FreeDecoderItems(out);
    }
}

TEST(PalvineGrouping, TheClosingOutStaysPendingAndControlTransfersPass)
{
    CFakeHost host;
    host.SetDevice(4, 0);
    CClassDecoder decoder;
    decoder.SetHost(&host);
    EXPECT_EQ(decoder.OnTransaction(host.Out(Command(0x1004, 1))), nullptr);
    EXPECT_EQ(decoder.OnTransaction(host.In(Ok(1))), nullptr);
    UsbItem* next = host.Out(Command(0x1003, 2));
    UsbItem* built = decoder.OnTransaction(next);
    ASSERT_NE(built, nullptr);
    EXPECT_TRUE(decoder.HasPending()) << "the OUT that closed one operation opens the next";
    const uint8_t cancel[] = {0x21, 0x64, 0, 0, 0, 0, 6, 0};
    UsbItem* transfer = host.ControlTransfer(cancel, {0x01, 0x40, 2, 0, 0, 0});
    EXPECT_EQ(decoder.OnTransaction(transfer), transfer);
    UsbItem* last = decoder.OnTransaction(nullptr);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->children[0]->children[0], next);
    EXPECT_EQ(decoder.OnTransaction(nullptr), nullptr);
    host.FreeDecoderItems({built, last});
}

// One decoded operation with its phases, for the row, byte and detail checks.
class PalvineOperation : public ::testing::Test {
protected:
    PalvineOperation() { host_.SetDevice(4, 0); }
    void Decode(std::vector<UsbItem*> items)
    {
        decoder_.SetHost(&host_);
        out_ = Feed(decoder_, items);
        ASSERT_FALSE(out_.empty());
        op_ = out_[0];
    }
    ~PalvineOperation() override { host_.FreeDecoderItems(out_); }

    ItemSummary Row(UsbItem* item) { return DescribedRow(decoder_, item); }
    xml::Document Detail(UsbItem* item)
    {
        const std::string text = DescribedDetail(decoder_, item);
        xml::Document d;
        EXPECT_TRUE(d.loadXML(text)) << text;
        return d;
    }
    UsbItem* Phase(uint16_t type)
    {
        for (UsbItem* child : op_->children)
            if (child->type == type) return child;
        ADD_FAILURE() << "no phase " << type;
        return op_;
    }

    CFakeHost host_;
    CClassDecoder decoder_;
    std::vector<UsbItem*> out_;
    UsbItem* op_ = nullptr;
};

TEST_F(PalvineOperation, RowsOfAGetObjectAndItsPhases)
{
    // The data container says 512 bytes; 1000 were captured.
    Bytes first = Data(0x1009, 7, Bytes(500, 1));
    first.resize(500);
    Decode({host_.Out(Command(0x1009, 7, {0x21})), host_.In(first), host_.In(Bytes(500, 2)), host_.In(Ok(7))});
    const ItemSummary op = Row(op_);
    EXPECT_EQ(op.name, "GetObject");
    EXPECT_EQ(op.icon, 0) << "data from the device";
    EXPECT_EQ(op.size, 1000);
    EXPECT_EQ(op.address, 4);
    EXPECT_EQ(op.status, MakeItemStatus(StatusOk, ErrorClassDataLength)) << "the operation inherits the data's error";
    EXPECT_EQ(op.duration, 4 * 1000 + 500 - 1000);

    const ItemSummary command = Row(Phase(TypeCommandPhase));
    EXPECT_EQ(command.name, "Still Image Command");
    EXPECT_EQ(command.status, StatusOk);
    EXPECT_EQ(command.icon, 1);
    EXPECT_EQ(command.size, 16);
    const ItemSummary data = Row(Phase(TypeDataPhase));
    EXPECT_EQ(data.name, "Still Image Data");
    EXPECT_EQ(data.status, MakeItemStatus(StatusOk, ErrorClassDataLength));
    EXPECT_EQ(data.size, 1000);
    EXPECT_EQ(data.duration, 3 * 1000 + 500 - 2000);
    const ItemSummary response = Row(Phase(TypeResponsePhase));
    EXPECT_EQ(response.name, "Still Image Response");
    EXPECT_EQ(response.status, StatusOk);
    EXPECT_EQ(response.icon, 0);

    std::vector<uint8_t> bytes(1100, 0xEE);
    EXPECT_EQ(decoder_.GetData(op_, bytes.data(), uint32_t(bytes.size())), 1000) << "the operation's data phase";
    EXPECT_EQ(bytes[499], 1);
    EXPECT_EQ(bytes[500], 2);
    EXPECT_EQ(bytes[1000], 0xEE);
    EXPECT_EQ(decoder_.GetData(Phase(TypeResponsePhase), nullptr, 0), 12);
}

// The operation shows its data phase alone: a response the capture lacks
// leaves its data whole, and only the response phase says so.
TEST_F(PalvineOperation, AResponseTheCaptureLacksLeavesTheDataWhole)
{
    Decode({host_.Out(Command(0x1009, 7, {0x21})), host_.In(Data(0x1009, 7, Bytes(100, 1))), host_.In(Ok(7))});
    UsbItem* response = Phase(TypeResponsePhase);
    host_.LosePayload(response->children[0]);
    EXPECT_EQ(decoder_.GetData(op_, nullptr, 0), 112);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, op_, 0), 0);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, response, 0), 1);
    host_.LosePayload(Phase(TypeDataPhase)->children[0]);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, op_, 0), 1);
}

// A GetStorageIDs whose only data packet the capture lacks, and a GetObject
// and a GetObjectHandles that lack only their tail: the operation and its
// data phase name the loss in their detail, as every pane says it, after the
// fields held; the command, held, decodes.
TEST_F(PalvineOperation, AnOperationWhoseDataTheCaptureLacksSaysSo)
{
    Bytes ids, handles;
    ptp::PutArray32(ids, {0x00010001});
    ptp::PutArray32(handles, std::vector<uint32_t>(200, 0x21));
    const Bytes object = Data(0x1009, 3, Bytes(1000, 7)), list = Data(0x1007, 4, handles);
    Decode({host_.Out(Command(0x1004, 2)), host_.In(Data(0x1004, 2, ids)), host_.In(Ok(2)),
            host_.Out(Command(0x1009, 3, {0x21})), host_.In(Bytes(object.begin(), object.begin() + 512)),
            host_.In(Bytes(object.begin() + 512, object.end())), host_.In(Ok(3)),
            host_.Out(Command(0x1007, 4, {0x10001})), host_.In(Bytes(list.begin(), list.begin() + 512)),
            host_.In(Bytes(list.begin() + 512, list.end())), host_.In(Ok(4))});
    ASSERT_EQ(out_.size(), 3u);
    UsbItem* const getObject = out_[1];
    UsbItem* const getHandles = out_[2];
    const std::vector<std::string> header = {"Container Length", "Container Type", "OperationCode", "TransactionID",
                                             "Payload"};
    const struct {
        UsbItem* item;
        const char* title;  // of the first group
        std::vector<std::string> held;  // the first items' names
        size_t items;  // the lost one included
        const char* length;  // the container's, as held
    } rows[] = {
        {op_, "GetStorageIDs", {}, 1, nullptr},
        {Phase(TypeDataPhase), "Still Image Data", {}, 1, nullptr},
        {getObject, "GetObject", header, 6, "1012"},
        {getObject->children[1], "Still Image Data", header, 6, "1012"},
        // The handles of the packet held: its 500 bytes hold the count and 124.
        {getHandles, "GetObjectHandles", header, 5 + 1 + 124 + 1, "816"},
    };
    host_.LosePayload(Phase(TypeDataPhase)->children[0]);
    host_.LosePayload(getObject->children[1]->children[1]);
    host_.LosePayload(getHandles->children[1]->children[1]);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        const auto d = Detail(row.item);
        EXPECT_EQ(d.selectSingleNode("/groups/group").attribute("name"), row.title);
        const auto items = d.selectNodes("//item");
        ASSERT_EQ(items.size(), row.items);
        std::vector<std::string> names;
        for (size_t k = 0; k < row.held.size(); ++k) names.push_back(items[k].attribute("name").value_or(""));
        EXPECT_EQ(names, row.held);
        EXPECT_EQ(items.back().attribute("name"), "Data");
        EXPECT_EQ(items.back().attribute("value"), kPayloadLostText);
        if (row.length) EXPECT_EQ(items[0].attribute("value"), row.length);
    }
    EXPECT_EQ(Detail(Phase(TypeCommandPhase)).selectSingleNode("/groups/group").attribute("name"), "Still Image Command");
    EXPECT_NE(Detail(Phase(TypeResponsePhase)).selectSingleNode("//item").attribute("value"), kPayloadLostText);
    host_.LosePayload(Phase(TypeResponsePhase)->children[0]);
    EXPECT_EQ(Detail(Phase(TypeResponsePhase)).selectSingleNode("//item").attribute("value"), kPayloadLostText);
}

TEST_F(PalvineOperation, DetailOfEachPhaseAndOfTheOperation)
{
    Decode({host_.Out(Command(0x1006, 3, {0x10001, 0, 0})), host_.In(Data(0x1006, 3, Bytes(988, 0))),
            host_.In(Ok(3, {17})), host_.In(Event(0x400A, 0x10001))});
    const auto command = Detail(Phase(TypeCommandPhase));
    EXPECT_EQ(command.selectSingleNode("/groups/group").attribute("name"), "Still Image Command");
    EXPECT_EQ(command.selectNodes("//item").size(), 7u);
    EXPECT_EQ(command.selectSingleNode("//item[@name='ObjectHandle']").attribute("offset"), "160");

    const auto response = Detail(Phase(TypeResponsePhase));
    EXPECT_EQ(response.selectSingleNode("//item[@name='NumObjects']").attribute("value"), "0x00000011")
        << "named by the operation it answers";
    const auto event = Detail(Phase(TypeEventPhase));
    EXPECT_EQ(event.selectSingleNode("/groups/group").attribute("name"), "Still Image Event");
    EXPECT_EQ(event.selectSingleNode("//item[@name='StorageID']").attribute("value"), "0x00010001");

    // A data phase with no dataset of its own: the header and its size.
    const auto data = Detail(Phase(TypeDataPhase));
    const auto groups = data.selectNodes("/groups/group");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].attribute("name"), "Still Image Data");
    EXPECT_EQ(groups[1].attribute("name"), "");
    const auto size = data.selectSingleNode("//item[@name='Data']");
    EXPECT_EQ(size.attribute("value"), "988 bytes");
    EXPECT_EQ(size.attribute("offset"), "96");
    EXPECT_EQ(size.attribute("bits"), std::to_string(988 * 8));
    EXPECT_EQ(size.attribute("tip"), "The data size of GetNumObjects");
    const auto operation = Detail(op_);
    EXPECT_EQ(operation.selectSingleNode("/groups/group").attribute("name"), "GetNumObjects");
}

TEST_F(PalvineOperation, AGetObjectOfAThousandBytesShowsItsSize)
{
    Decode({host_.Out(Command(0x1009, 7, {0x21})), host_.In(Data(0x1009, 7, Bytes(988, 3))), host_.In(Ok(7))});
    const auto d = Detail(op_);
    const auto groups = d.selectNodes("/groups/group");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].attribute("name"), "GetObject");
    EXPECT_EQ(groups[1].attribute("name"), "DataObject");
    EXPECT_EQ(d.selectSingleNode("//item[@name='Data']").attribute("value"), "988 bytes");
    EXPECT_EQ(d.selectSingleNode("//item[@name='Payload']").attribute("bits"), std::to_string(988 * 8));
}

// A picture's rows and detail need its header only: selecting it again and
// again never copies the whole object.
TEST_F(PalvineOperation, APictureIsNotCopiedToBeDescribed)
{
    const Bytes picture = Data(0x1009, 7, Bytes(4 << 20, 0x33));
    std::vector<UsbItem*> items{host_.Out(Command(0x1009, 7, {0x21}))};
    for (size_t at = 0; at < picture.size(); at += 512)
        items.push_back(host_.In(Bytes(picture.begin() + long(at), picture.begin() + long(std::min(picture.size(), at + 512)))));
    items.push_back(host_.In(Ok(7)));
    Decode(items);
    const uint64_t before = host_.BytesCopied();
    const ItemSummary row = Row(op_);
    EXPECT_EQ(row.size, int32_t(picture.size()));
    EXPECT_EQ(Detail(op_).selectSingleNode("//item[@name='Data']").attribute("value"), "4.00 MB(4194304 bytes)");
    Detail(Phase(TypeDataPhase));
    uint32_t count = 0;
    decoder_.OnNotify(NotifyDataLength, op_, reinterpret_cast<intptr_t>(&count));
    EXPECT_EQ(count, picture.size() + 10) << "a phase over 1 MB asks for 10 bytes more";
    EXPECT_LT(host_.BytesCopied() - before, 4096u);
}

TEST_F(PalvineOperation, DatasetsOfTheDataPhaseAtTheirBitOffsets)
{
    Bytes ids;
    ptp::PutArray32(ids, {0x00010001, 0x00020001});
    Decode({host_.Out(Command(0x1004, 2)), host_.In(Data(0x1004, 2, ids)), host_.In(Ok(2))});
    const auto d = Detail(Phase(TypeDataPhase));
    const auto groups = d.selectNodes("/groups/group");
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1].attribute("name"), "StorageIDArray");
    const auto second = d.selectSingleNode("//item[@name='StorageID[1]']");
    EXPECT_EQ(second.attribute("value"), "0x00020001");
    EXPECT_EQ(second.attribute("offset"), std::to_string(96 + 64));
}

TEST_F(PalvineOperation, WithoutDataNoBytesAndNoDetail)
{
    Decode({host_.Out(Command(0x1002, 0, {1})), host_.In(Ok(0))});
    EXPECT_EQ(decoder_.GetData(op_, nullptr, 0), 0);
    std::string xml = "kept";
    EXPECT_EQ(decoder_.GetDetail(op_, xml), 0);
    EXPECT_EQ(xml, "kept");
    const ItemSummary row = Row(op_);
    EXPECT_EQ(row.size, 0);
    EXPECT_EQ(row.name, "OpenSession");
    EXPECT_EQ(row.status, StatusOk);
}

TEST_F(PalvineOperation, ARefusedTryCountsNeitherInBytesNorInTheLengthCheck)
{
    // The scripted host answers a NAKed OUT's bytes, as the parser does.
    const Bytes command = Command(0x1005, 2, {0x10001});
    Decode({host_.Out(command, PidNak), host_.Out(command), host_.In(Ok(2))});
    UsbItem* phase = Phase(TypeCommandPhase);
    ASSERT_EQ(phase->children.size(), 2u);
    EXPECT_EQ(decoder_.GetData(phase, nullptr, 0), 16);
    const ItemSummary row = Row(phase);
    EXPECT_EQ(row.status, StatusOk) << "no false length error, not the refused try's NAK";
    EXPECT_EQ(row.size, 16);
    EXPECT_EQ(op_->type, 0x1005);
}

TEST_F(PalvineOperation, ALengthMismatchMarksThePhaseAndTheOperation)
{
    Bytes response = Ok(5);
    response[0] = 20;
    Decode({host_.Out(Command(0x1003, 5)), host_.In(response)});
    EXPECT_EQ(Row(Phase(TypeResponsePhase)).status, MakeItemStatus(StatusOk, ErrorClassDataLength));
    EXPECT_EQ(Row(op_).status, MakeItemStatus(StatusOk, ErrorClassDataLength));
    EXPECT_EQ(Row(Phase(TypeCommandPhase)).status, StatusOk);
}

TEST_F(PalvineOperation, SizeHintForLargePhases)
{
    // 1,048,576 and 1,048,577 bytes of data, in packets of 512.
    for (uint32_t size : {1048576u, 1048577u}) {
        SCOPED_TRACE(size);
        CFakeHost host;
        host.SetDevice(4, 0);
        CClassDecoder decoder;
        decoder.SetHost(&host);
        Bytes data = Data(0x1009, 1, Bytes(size - 12, 9));
        std::vector<UsbItem*> items{host.Out(Command(0x1009, 1, {1}))};
        for (size_t at = 0; at < data.size(); at += 512)
            items.push_back(host.In(Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + 512)))));
        items.push_back(host.In(Ok(1)));
        const auto out = Feed(decoder, items);
        ASSERT_EQ(out.size(), 1u);
        UsbItem* phase = out[0]->children[1];
        ASSERT_EQ(phase->type, TypeDataPhase);
        uint32_t count = 0;
        decoder.OnNotify(NotifyDataLength, phase, reinterpret_cast<intptr_t>(&count));
        EXPECT_EQ(count, size > 1048576 ? size + 10 : size);
        ItemSummary row;
        decoder.Summarize(phase, &row);
        EXPECT_EQ(row.status, StatusOk);
        host.FreeDecoderItems(out);
    }
}

TEST_F(PalvineOperation, ClassRequestsOnTheControlPipe)
{
    const uint8_t cancel[] = {0x21, 0x64, 0, 0, 0, 0, 6, 0};
    const uint8_t status[] = {0xA1, 0x67, 0, 0, 0, 0, 4, 0};
    const uint8_t reset[] = {0x21, 0x66, 0, 0, 0, 0, 0, 0};
    Decode({host_.ControlTransfer(cancel, {0x01, 0x40, 5, 0, 0, 0}), host_.ControlTransfer(status, {4, 0, 0x01, 0x20}),
            host_.ControlTransfer(reset)});
    ASSERT_EQ(out_.size(), 3u);
    EXPECT_EQ(Row(out_[0]).name, "Cancel");
    // Still control transfers: the host's icon of their direction, from the host's list.
    EXPECT_EQ(Row(out_[0]).icon, 24);
    EXPECT_EQ(Row(out_[1]).icon, 25);
    EXPECT_EQ(decoder_.GetImageList(out_[0]), host_.GetImageList(out_[0]));
    EXPECT_EQ(Row(out_[1]).name, "GetDeviceStatus");
    EXPECT_EQ(Row(out_[1]).status, StatusOk);
    EXPECT_EQ(Detail(out_[0]).selectSingleNode("//item[@name='TransactionID']").attribute("value"), "0x00000005");
    EXPECT_EQ(Detail(out_[1]).selectSingleNode("//item[@name='Code']").attribute("value"), "OK");
    EXPECT_EQ(Detail(out_[2]).selectSingleNode("/groups/group").attribute("name"), "Device Reset");
}

// What the engine answers for a NAKed OUT: its data packet's bytes and size,
// so only the decoder's own rule keeps the try out of the phase's payload.
TEST(PalvineOnTheParser, ANakedOutCarriesItsBytesAndIsLeftOut)
{
    const Bytes command = Command(0x1005, 2, {0x10001});
    emu::BusTrafficBuilder b(SpeedFull);
    b.Out(5, 2, PidData0, command, PidNak);
    b.Out(5, 2, PidData0, command, PidAck);
    b.In(5, 1, PidData0, Ok(2));
    emu::CaptureSource source(b.Take());
    CUsbParser parser;
    parser.SetDataSource(&source);
    orvane::testing::CollectingSink sink;
    ASSERT_EQ(parser.Parse(&sink), 1);
    ASSERT_EQ(sink.root.children.size(), 3u);
    UsbItem* refused = sink.root.children[0];
    ASSERT_EQ(refused->type, ItemOutTransaction);
    EXPECT_EQ(refused->status, PidNak);
    EXPECT_EQ(parser.GetData(refused, nullptr, 0), 16);
    ItemSummary row;
    parser.Summarize(refused, &row);
    EXPECT_EQ(row.size, 16);
    EXPECT_EQ(row.status, StatusNak);

    CClassDecoder decoder;
    decoder.SetHost(&parser);
    std::vector<UsbItem*> items(sink.root.children.begin(), sink.root.children.end());
    const auto out = Feed(decoder, items);
    ASSERT_EQ(out.size(), 1u);
    UsbItem* phase = out[0]->children[0];
    EXPECT_EQ(phase->children.size(), 2u);
    EXPECT_EQ(decoder.GetData(phase, nullptr, 0), 16);
    decoder.Summarize(phase, &row);
    EXPECT_EQ(row.status, StatusOk);
    decoder.Summarize(out[0], &row);
    EXPECT_EQ(row.name, "GetStorageInfo");
    EXPECT_EQ(row.status, StatusOk);
    for (UsbItem* op : out) {
        for (UsbItem* child : op->children) {
            child->children.clear();
            delete child;
        }
        op->children.clear();
        delete op;
    }
}

}  // namespace
