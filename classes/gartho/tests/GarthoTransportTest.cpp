// The bulk-only state machine and the rows, data and detail of what it
// builds, driven by a scripted host.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "CDecode.h"
#include "CFakeHost.h"
#include "DetailReader.h"
#include "Document.h"
#include "GarthoWire.h"

using namespace orvane;
using namespace orvane::gartho;
using namespace orvane::gartho::testing;

namespace {

std::vector<uint8_t> Block(size_t n, uint8_t fill = 0x11) { return std::vector<uint8_t>(n, fill); }

struct Script {
    const char* name;
    std::function<std::vector<UsbItem*>(CFakeHost&)> items;
    const char* expected;  // DescribeTree of what comes out, in order
};

const uint8_t kClearHalt[] = {0x02, 0x01, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00};

TEST(GarthoTransport, EachCommandBecomesOneTransferWithItsPhases)
{
    const std::vector<Script> scripts = {
        {"test unit ready", [](CFakeHost& h) { return std::vector{h.Out(Cbw({0x00}, 0, false)), h.In(Csw())}; },
         "65280(258(17#1) 261(16#2))"},
        {"read of 8 blocks, built at the next wrapper",
         [](CFakeHost& h) {
             std::vector<UsbItem*> items{h.Out(Cbw(Read10(0x1000, 8), 4096, true))};
             for (int i = 0; i < 8; ++i) items.push_back(h.In(Block(512)));
             items.push_back(h.In(Csw()));
             items.push_back(h.Out(Cbw({0x00}, 0, false, 2)));
             items.push_back(h.In(Csw(2)));
             return items;
         },
         "65320(258(17#1) 259(16#2 16#3 16#4 16#5 16#6 16#7 16#8 16#9) 261(16#10)) 65280(258(17#11) 261(16#12))"},
        {"a status wrapper the capture lacks is known by its size",
         [](CFakeHost& h) {
             std::vector items{h.Out(Cbw(Read10(0, 1), 512, true)), h.In(Block(512)), h.In(Csw())};
             h.LosePayload(items.back());
             return items;
         },
         "65320(258(17#1) 259(16#2) 261(16#3))"},
        {"read built at the flush",
         [](CFakeHost& h) { return std::vector{h.Out(Cbw(Read10(0, 1), 512, true)), h.In(Block(512)), h.In(Csw())}; },
         "65320(258(17#1) 259(16#2) 261(16#3))"},
        {"write, built at its status",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Write10(7, 2), 1024, false)), h.Out(Block(512)), h.Out(Block(512), PidNyet),
                                h.In(Csw())};
         },
         "65322(258(17#1) 260(17#2 17#3) 261(16#4))"},
        {"NAKs in the data-in phase",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Read10(0, 2), 1024, true)), h.NakRun(ItemInTransaction, 3), h.In(Block(512)),
                                h.In(Block(512)), h.In(Csw())};
         },
         "65320(258(17#1) 259(29#2 16#6 16#7) 261(16#8))"},
        {"NAKs before the status of a read go with the data",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Read10(0, 1), 512, true)), h.In(Block(512)), h.NakRun(ItemInTransaction, 2),
                                h.In(Csw())};
         },
         "65320(258(17#1) 259(16#2 29#3) 261(16#6))"},
        {"NAKs before the status of a write go with the data",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Write10(0, 1), 512, false)), h.Out(Block(512)),
                                h.NakRun(ItemInTransaction, 2), h.In(Csw())};
         },
         "65322(258(17#1) 260(17#2 29#3) 261(16#6))"},
        {"NAKs in the status phase of a command without data",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw({0x00}, 0, false)), h.NakRun(ItemInTransaction, 2), h.In(Csw())};
         },
         "65280(258(17#1) 261(29#2 16#5))"},
        {"a PING in the data-in state ends the command; the next wrapper takes it",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Read10(0, 1), 512, true)), h.In(Block(512)), h.In(Csw()),
                                h.Transaction(ItemPingTransaction, PidAck), h.Out(Cbw({0x00}, 0, false, 2)),
                                h.In(Csw(2))};
         },
         "65320(258(17#1) 259(16#2) 261(16#3)) 65280(258(19#4 17#5) 261(16#6))"},
        {"refused wrapper tries after a data-in command end it",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw({0x12}, 36, true)), h.In(Block(36)), h.In(Csw()),
                                h.Out(Cbw({0x00}, 0, false, 2), PidNak), h.NakRun(ItemOutTransaction, 2),
                                h.Out(Cbw({0x00}, 0, false, 2)), h.In(Csw(2))};
         },
         "65298(258(17#1) 259(16#2) 261(16#3)) 65280(258(17#4 29#5 17#8) 261(16#9))"},
        {"a refused wrapper try is part of the command transport",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw({0x00}, 0, false), PidNak), h.NakRun(ItemOutTransaction, 2),
                                h.Out(Cbw({0x00}, 0, false)), h.In(Csw())};
         },
         "65280(258(17#1 29#2 17#5) 261(16#6))"},
        {"a capture starting mid-command loses nothing",
         [](CFakeHost& h) {
             return std::vector{h.In(Block(512)), h.In(Block(100)), h.In(Csw()), h.Out(Cbw({0x00}, 0, false, 2)),
                                h.In(Csw(2))};
         },
         "257(258() 16#1 16#2 16#3) 65280(258(17#4) 261(16#5))"},
        {"a stalled data phase, then the status",
         [](CFakeHost& h) {
             return std::vector{h.Out(Cbw(Read10(0, 1), 512, true)), h.In({}, PidStall), h.ControlTransfer(kClearHalt),
                                h.In(Csw(1, 1, 512))};
         },
         "256#3 65320(258(17#1) 259(16#2) 261(16#6))"},
        {"a wrapper of the wrong size gives a bulk transfer",
         [](CFakeHost& h) { return std::vector{h.Out(Block(30)), h.In(Csw())}; }, "257(258(17#1) 16#2)"},
        {"an unacknowledged wrapper and what follows stay together",
         [](CFakeHost& h) { return std::vector{h.Out(Cbw({0x00}, 0, false), kNone), h.In(Csw())}; },
         "257(258(17#1) 16#2)"},
        {"nothing fed", [](CFakeHost&) { return std::vector<UsbItem*>{}; }, ""},
    };
    for (const Script& script : scripts) {
        CFakeHost host;
        CDecode decoder;
        decoder.SetHost(&host);
        const auto items = script.items(host);
        const auto out = Feed(decoder, items);
        EXPECT_EQ(DescribeTree(host, out), script.expected) << script.name;
        host.FreeDecoderItems(out);
    }
}

TEST(GarthoTransport, TheStateFollowsTheWrappersDirection)
{
    CFakeHost host;
    CDecode decoder;
    decoder.SetHost(&host);
    // item, state after it
    const std::vector<std::pair<UsbItem*, CDecode::State>> steps = {
        {host.In(Block(4)), CDecode::AwaitingCommand},
        {host.Out(Cbw(Read10(0, 1), 512, true)), CDecode::DataInPhase},
        {host.In(Block(512)), CDecode::DataInPhase},
        {host.Out(Cbw(Write10(0, 1), 512, false)), CDecode::DataOutPhase},
        {host.Out(Block(512)), CDecode::DataOutPhase},
        {host.In(Csw()), CDecode::AwaitingCommand},
        {host.Out(Cbw({0x12}, 36, true)), CDecode::DataInPhase},
        {host.Transaction(ItemPingTransaction, PidAck), CDecode::AwaitingCommand},
    };
    std::vector<UsbItem*> out;
    for (const auto& [item, state] : steps) {
        if (UsbItem* r = decoder.OnTransaction(item)) out.push_back(r);
        EXPECT_EQ(decoder.GetState(), state) << "item #" << item->firstRecord;
    }
    decoder.Reset();
    EXPECT_EQ(decoder.GetState(), CDecode::AwaitingCommand);
    if (UsbItem* r = decoder.OnTransaction(nullptr)) out.push_back(r);
    host.FreeDecoderItems(out);
}

class GarthoRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        decoder_.SetHost(&host_);
        std::vector<UsbItem*> items{host_.Out(Cbw(Read10(0x1000, 8), 4096, true))};
        for (int i = 0; i < 8; ++i) items.push_back(host_.In(Block(512, uint8_t(i))));
        items.push_back(host_.In(Csw(1, 0, 0)));
        out_ = Feed(decoder_, items);
        ASSERT_EQ(out_.size(), 1u);
        transfer_ = out_[0];
        ASSERT_EQ(transfer_->children.size(), 3u);
    }
    void TearDown() override { host_.FreeDecoderItems(out_); }

    ItemSummary Row(UsbItem* item) { return DescribedRow(decoder_, item); }
    xml::Document Detail(UsbItem* item)
    {
        const std::string text = DescribedDetail(decoder_, item);
        xml::Document document;
        EXPECT_TRUE(document.loadXML(text)) << text;
        return document;
    }

    CFakeHost host_;
    CDecode decoder_;
    std::vector<UsbItem*> out_;
    UsbItem* transfer_ = nullptr;
};

TEST_F(GarthoRead, RowsOfTheTransferAndItsPhases)
{
    const ItemSummary transfer = Row(transfer_);
    EXPECT_EQ(transfer.name, "Read (Lun 0,Lba 0x00001000)");
    EXPECT_EQ(std::tie(transfer.icon, transfer.size, transfer.status), std::make_tuple(0, 4096, int32_t(StatusOk)));
    EXPECT_EQ(transfer.time, 1000);
    EXPECT_EQ(transfer.duration, 10 * 1000 + 500 - 1000) << "to the end of the status transport";

    // phase, name, icon, status, size
    const std::vector<std::tuple<int, const char*, int, int, int>> phases = {
        {0, "Command Transport", 1, StatusOk, 31},
        {1, "Data Transport", 0, StatusOk, 4096},
        {2, "Status Transport", 0, StatusOk, 13},
    };
    for (const auto& [index, name, icon, status, size] : phases) {
        const ItemSummary row = Row(transfer_->children[uint32_t(index)]);
        EXPECT_EQ(std::tie(row.name, row.icon, row.status, row.size),
                  std::make_tuple(std::string(name), icon, status, size))
            << index;
    }
    EXPECT_NE(decoder_.GetImageList(transfer_), nullptr);
    EXPECT_NE(decoder_.GetImageList(transfer_->children[0]), nullptr);
    EXPECT_EQ(decoder_.GetImageList(transfer_->children[0]->children[0]), nullptr) << "transactions are the host's";
}

TEST_F(GarthoRead, DataOfTheTransferAreItsDataTransport)
{
    std::vector<uint8_t> data(5000, 0xEE);
    EXPECT_EQ(decoder_.GetData(transfer_, data.data(), uint32_t(data.size())), 4096);
    EXPECT_EQ(data[511], 0);
    EXPECT_EQ(data[4095], 7);
    EXPECT_EQ(data[4096], 0xEE);
    uint32_t size = 0;
    decoder_.OnNotify(NotifyDataLength, transfer_, reinterpret_cast<intptr_t>(&size));
    EXPECT_EQ(size, 4096u) << "the data pane is told the whole size";
    EXPECT_EQ(decoder_.GetData(transfer_->children[0], nullptr, 0), 31);
}

TEST_F(GarthoRead, DataStopAtAPacketTheCaptureLacks)
{
    UsbItem* data = transfer_->children[1];
    host_.LosePayload(data->children[3]);
    std::vector<uint8_t> bytes(5000, 0xEE);
    EXPECT_EQ(decoder_.GetData(transfer_, bytes.data(), uint32_t(bytes.size())), 3 * 512);
    EXPECT_EQ(bytes[3 * 512 - 1], 2);
    EXPECT_EQ(bytes[3 * 512], 0xEE) << "the fifth block does not stand in the fourth's place";
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, transfer_, 0), 1);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, data, 0), 1);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, transfer_->children[0], 0), 0);
}

// The transfer shows its data transport alone: a status wrapper the capture
// lacks leaves them whole, and only the status transport says so.
TEST_F(GarthoRead, AStatusWrapperTheCaptureLacksLeavesTheDataWhole)
{
    UsbItem* status = transfer_->children[2];
    host_.LosePayload(status->children[0]);
    std::vector<uint8_t> bytes(5000, 0xEE);
    EXPECT_EQ(decoder_.GetData(transfer_, bytes.data(), uint32_t(bytes.size())), 4096);
    EXPECT_EQ(bytes[4095], 7);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, transfer_, 0), 0);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, transfer_->children[1], 0), 0);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, status, 0), 1);

    // A try the device refused carries nothing the phase shows.
    UsbItem* data = transfer_->children[1];
    UsbItem* refused = host_.In(Block(512), PidNak);
    data->Append(refused);
    host_.LosePayload(refused);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, data, 0), 0);
    EXPECT_EQ(decoder_.OnNotify(NotifyPayloadLost, transfer_, 0), 0);
    data->children.pop_back();
}

// A wrapper, or data, whose payload the capture lacks is named in its phase's
// detail, as every pane says it; the phases whose bytes are held decode.
TEST_F(GarthoRead, APhaseTheCaptureLacksSaysSoInItsDetail)
{
    const struct {
        uint32_t phase;  // whose first transaction loses its payload
        const char* title;
    } rows[] = {{0, "Command Transport"}, {1, "Data Transport"}, {2, "Status Transport"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        host_.LosePayload(transfer_->children[row.phase]->children[0]);
        for (uint32_t phase = 0; phase < 3; ++phase) {
            const xml::Document detail = Detail(transfer_->children[phase]);
            const auto lost = detail.selectNodes("/groups/group[@name='" + std::string(row.title) + "']/item");
            if (phase != row.phase) {
                EXPECT_TRUE(lost.empty()) << phase;
                continue;
            }
            ASSERT_EQ(detail.selectNodes("/groups/group").size(), 1u);
            ASSERT_EQ(lost.size(), 1u);
            EXPECT_EQ(lost[0].attribute("name"), "Data");
            EXPECT_EQ(lost[0].attribute("value"), kPayloadLostText);
        }
        const bool dataLost = row.phase == 1;
        EXPECT_EQ(Detail(transfer_).selectNodes("/groups/group").size(), dataLost ? 1u : 0u)
            << "the transfer shows its data alone";
        host_.LosePayload(transfer_->children[row.phase]->children[0], false);
    }
}

TEST_F(GarthoRead, DetailOfTheWrapperAndItsCommand)
{
    const xml::Document detail = Detail(transfer_->children[0]);
    const auto wrapper = detail.selectNodes("/groups/group[@name='Command Block Wrapper']/item");
    std::vector<std::string> offsets;
    for (const auto& item : wrapper) offsets.push_back(*item.attribute("offset"));
    EXPECT_EQ(offsets, (std::vector<std::string>{"0", "32", "64", "96", "102", "103", "104", "108", "112", "117"}));
    EXPECT_EQ(wrapper[2].attribute("value"), "4 KB(4096 bytes)");
    EXPECT_EQ(wrapper[5].attribute("value"), "Data-In from the device to the host");
    EXPECT_EQ(wrapper[8].attribute("value"), "10 bytes");
    EXPECT_EQ(wrapper[0].attribute("tip"), "Signature that helps identify this data packet as a CBW.");
    const auto command = detail.selectNodes("/groups/group[@name='Command']/item");
    ASSERT_EQ(command.size(), 10u);
    EXPECT_EQ(command[0].attribute("name"), "Operation Code");
    EXPECT_EQ(command[0].attribute("offset"), "120");
    EXPECT_EQ(command[8].attribute("value"), "8 blocks");

    EXPECT_TRUE(Detail(transfer_).selectNodes("/groups/group").empty()) << "READ(10) data have no walker";
    EXPECT_TRUE(Detail(transfer_->children[1]).selectNodes("/groups/group").empty());
    const xml::Document statusDetail = Detail(transfer_->children[2]);
    const auto status = statusDetail.selectNodes("/groups/group[@name='Command Status Wrapper']/item");
    ASSERT_EQ(status.size(), 4u);
    EXPECT_EQ(status[3].attribute("value"), "Command Passed");
}

TEST(GarthoDetail, StatusWrapperTextsAndWrongSizesAreRefused)
{
    // bCSWStatus, text
    for (const auto& [code, text] : std::vector<std::pair<uint8_t, const char*>>{
             {0, "Command Passed"}, {1, "Command Failed"}, {2, "Reserved (Obsolete"}, {9, "Reserved"}}) {
        CFakeHost host;
        CDecode decoder;
        decoder.SetHost(&host);
        const auto out = Feed(decoder, std::vector{host.Out(Cbw({0x00}, 0, false)), host.In(Csw(1, code))});
        ASSERT_EQ(out.size(), 1u);
        std::string xml;
        ASSERT_EQ(decoder.GetDetail(out[0]->children[1], xml), 1);
        EXPECT_NE(xml.find(std::string("value=\"") + text + "\""), std::string::npos) << xml;
        host.FreeDecoderItems(out);
    }
    CFakeHost host;
    CDecode decoder;
    decoder.SetHost(&host);
    // A status phase holding far more than a wrapper after a protocol error.
    const auto out = Feed(decoder, std::vector{host.Out(Block(30)), host.In(Csw()), host.In(Block(4000))});
    ASSERT_EQ(out.size(), 1u);
    std::string xml = "kept";
    EXPECT_EQ(decoder.GetDetail(out[0]->children[0], xml), 0) << "a 30-byte command transport";
    EXPECT_EQ(xml, "kept");
    ItemSummary row;
    ASSERT_EQ(decoder.Summarize(out[0], &row), 1);
    EXPECT_EQ(row.name, "Bulk Transfer");
    EXPECT_EQ(row.size, 13 + 4000);
    EXPECT_EQ(decoder.GetData(out[0], nullptr, 0), 30 + 13 + 4000);
    host.FreeDecoderItems(out);

    CFakeHost big;
    CDecode other;
    other.SetHost(&big);
    const auto after = Feed(other, std::vector{big.Out(Cbw({0x00}, 0, false)), big.In(Block(5000))});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(other.GetDetail(after[0]->children[1], xml), 0) << "a status phase of 5000 bytes is no wrapper";
    big.FreeDecoderItems(after);
}

TEST(GarthoDetail, CommandDataGetTheirGroupOnlyFromTheirOwnBytes)
{
    CFakeHost host;
    CDecode decoder;
    decoder.SetHost(&host);
    const std::vector<uint8_t> capacity = {0x00, 0x00, 0xF9, 0xFF, 0x00, 0x00, 0x02, 0x00};
    const auto out = Feed(decoder, std::vector{
        host.Out(Cbw({0x25}, 8, true)), host.In(capacity), host.In(Csw()),
        // A short answer of a second READ CAPACITY shows only what it holds.
        host.Out(Cbw({0x25}, 8, true, 2)), host.In({0x00, 0x00, 0x10}), host.In(Csw(2)),
        host.Out(Cbw({0x25}, 8, true, 3)), host.In(Csw(3)),
        // One whose second half the capture lacks shows the half it holds, then names the rest.
        host.Out(Cbw({0x25}, 8, true, 4)), host.In({0x00, 0x00, 0xF9, 0xFF}), host.In({0x00, 0x00, 0x02, 0x00}),
        host.In(Csw(4))});
    ASSERT_EQ(out.size(), 4u);
    host.LosePayload(out[3]->children[1]->children[1]);
    // transfer, items expected in "Capacity Data", groups
    for (const auto& [index, expected, groups] : std::vector<std::tuple<int, std::vector<std::string>, size_t>>{
             {0, {"0x0000F9FF", "512 bytes"}, 1}, {1, {}, 1}, {2, {}, 0}, {3, {"0x0000F9FF"}, 2}}) {
        std::string text;
        ASSERT_EQ(decoder.GetDetail(out[size_t(index)], text), 1);
        xml::Document detail;
        ASSERT_TRUE(detail.loadXML(text));
        std::vector<std::string> values;
        for (const auto& item : detail.selectNodes("/groups/group[@name='Capacity Data']/item"))
            values.push_back(*item.attribute("value"));
        EXPECT_EQ(values, expected) << index;
        EXPECT_EQ(detail.selectNodes("/groups/group").size(), groups) << text;
        EXPECT_EQ(detail.selectNodes("//item[@value='" + std::string(kPayloadLostText) + "']").size(), size_t(index == 3))
            << text;
    }
    host.FreeDecoderItems(out);
}

TEST(GarthoRequests, ClassRequestsAreNamedAndPassedThrough)
{
    CFakeHost host;
    host.SetDevice(5, 0);
    CDecode decoder;
    decoder.SetHost(&host);
    const uint8_t getMaxLun[] = {0xA1, 0xFE, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    const uint8_t reset[] = {0x21, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const uint8_t other[] = {0x21, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const uint8_t standard[] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
    // request, name, summarized
    const std::vector<std::tuple<const uint8_t*, std::string, int>> rows = {
        {getMaxLun, "GetMaxLun ( )", 1}, {reset, "Reset()", 1}, {other, "Request 66", 1}, {standard, "Request 0", 1}};
    for (const auto& [bytes, name, summarized] : rows) {
        UsbItem* transfer = host.ControlTransfer(std::span(bytes, 8), bytes[0] & 0x80 ? std::vector<uint8_t>{0} : std::vector<uint8_t>{});
        EXPECT_EQ(decoder.OnTransaction(transfer), transfer) << "passed through unchanged";
        ItemSummary row;
        EXPECT_EQ(decoder.Summarize(transfer, &row), summarized);
        EXPECT_EQ(row.name, name);
    }
    EXPECT_EQ(decoder.OnTransaction(nullptr), nullptr) << "nothing held";

    UsbItem* setup = host.ControlTransfer(getMaxLun, {0})->children[0];
    std::string text;
    ASSERT_EQ(decoder.GetDetail(setup, text), 1);
    xml::Document detail;
    ASSERT_TRUE(detail.loadXML(text));
    std::vector<std::string> values, tips;
    for (const auto& item : detail.selectNodes("/groups/group[@name='Setup request']/item")) {
        values.push_back(*item.attribute("value"));
        tips.push_back(*item.attribute("tip"));
    }
    EXPECT_EQ(values, (std::vector<std::string>{"Interface", "Class", "Device-to-host", "GET_MAX_LUN", "0",
                                                "Interface 0", "1"}));
    EXPECT_EQ(tips[0], "");
    EXPECT_EQ(tips[2], "Device-to-host");
    UsbItem* standardSetup = host.ControlTransfer(standard, {0, 0})->children[0];
    EXPECT_EQ(decoder.GetDetail(standardSetup, text), 0) << "a standard request is not the class's";
}

}  // namespace
