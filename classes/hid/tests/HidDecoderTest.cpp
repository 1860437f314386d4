// The decoder on a scripted host: grouping of NAK runs and IN transactions
// into input reports, class requests, keyboard mode, and the detail of
// report descriptors, input reports, SET_REPORT data and setup packets.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <thread>
#include <tuple>

#include "CClassDecoder.h"
#include "CFakeHost.h"
#include "HidTestData.h"

using namespace orvane;
using namespace orvane::hid;
using namespace orvane::hid::testing;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes SetupBytes(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length)
{
    return {type, request, uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8), uint8_t(length),
            uint8_t(length >> 8)};
}

Bytes ReportDescriptorSetup(const Bytes& descriptor, uint16_t interface = 0)
{
    return SetupBytes(0x81, 6, 0x2200, interface, uint16_t(descriptor.size()));
}

struct DecoderDeleter {
    void operator()(CClassDecoder* d) const { d->Release(); }
};
using Decoder = std::unique_ptr<CClassDecoder, DecoderDeleter>;

Decoder MakeDecoder(CFakeHost& host)
{
    Decoder decoder(new CClassDecoder(&FixtureNames()));
    decoder->SetHost(&host);
    return decoder;
}

// The shape of what the decoder handed out, without record numbers.
std::string Shape(const CFakeHost& host, const std::vector<UsbItem*>& items)
{
    return std::regex_replace(DescribeTree(host, items), std::regex("#[0-9]+"), "");
}

struct Session {
    CFakeHost host;
    Decoder decoder = MakeDecoder(host);
    std::vector<UsbItem*> out;
    Session() { host.SetDevice(3, 0, BusSpeedLow); }
    ~Session() { host.FreeDecoderItems(out); }
    void Run(const std::vector<UsbItem*>& items) { out = Feed(*decoder, items); }
    ItemSummary Row(UsbItem* item) { return DescribedRow(*decoder, item); }
    std::vector<DetailGroup> Detail(UsbItem* item) { return ReadDetail(DescribedDetail(*decoder, item)); }
};

TEST(HidGrouping, NakRunsInTransactionsAndTransfers)
{
    struct Row {
        const char* what;
        std::function<std::vector<UsbItem*>(CFakeHost&)> items;
        std::string shape;
    } rows[] = {
        {"a NAK run then data", [](CFakeHost& h) { return std::vector{h.NakRun(ItemInTransaction, 3), h.In({1, 2, 3})}; },
         "267(29 16)"},
        {"data alone", [](CFakeHost& h) { return std::vector{h.In({1, 2, 3})}; }, "267(16)"},
        {"a hold flushed unwrapped", [](CFakeHost& h) { return std::vector{h.NakRun(ItemInTransaction, 2)}; }, "29"},
        {"NAKed INs one by one",
         [](CFakeHost& h) { return std::vector{h.In({}, PidNak), h.In({}, PidNak), h.In({4})}; }, "267(16 16) 267(16)"},
        {"a NAK run of OUTs while one is held goes on alone",
         [](CFakeHost& h) {
             return std::vector{h.NakRun(ItemInTransaction, 2), h.NakRun(ItemOutTransaction, 2), h.In({4})};
         },
         "29 267(29 16)"},
        {"of two runs of INs the one nearest the report goes with it",
         [](CFakeHost& h) {
             return std::vector{h.NakRun(ItemInTransaction, 2), h.NakRun(ItemInTransaction, 3), h.In({4})};
         },
         "29 267(29 16)"},
        {"OUT traffic goes on as it is", [](CFakeHost& h) { return std::vector{h.Out({1}), h.In({2})}; },
         "17 267(16)"},
        {"a class request is retyped",
         [](CFakeHost& h) { return std::vector{h.ControlTransfer(SetupBytes(0x21, 0x0A, 0, 0, 0))}; }, "269"},
        {"a held run goes in front of a class request",
         [](CFakeHost& h) {
             return std::vector{h.NakRun(ItemInTransaction, 2), h.ControlTransfer(SetupBytes(0x21, 0x0A, 0, 0, 0))};
         },
         "269(29 269)"},
        {"the report descriptor stays a transfer",
         [](CFakeHost& h) { return std::vector{h.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse)}; },
         "256"},
        {"a held run in front of the descriptor never makes a transfer of it",
         [](CFakeHost& h) {
             return std::vector{h.NakRun(ItemInTransaction, 2),
                                h.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse)};
         },
         "269(29 256)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Session s;
        s.Run(row.items(s.host));
        EXPECT_EQ(Shape(s.host, s.out), row.shape);
    }
}

TEST(HidGrouping, AFlushWithNothingHeldGivesNothing)
{
    Session s;
    EXPECT_EQ(s.decoder->OnTransaction(nullptr), nullptr);
    UsbItem* run = s.host.NakRun(ItemInTransaction, 1);
    EXPECT_EQ(s.decoder->OnTransaction(run), nullptr);
    EXPECT_EQ(s.decoder->OnTransaction(nullptr), run) << "the held run itself";
    EXPECT_EQ(s.decoder->OnTransaction(nullptr), nullptr) << "the flush cleared the hold";
}

TEST(HidGrouping, TwoInterfacesKeepTheirOwnNakRuns)
{
    CFakeHost host;
    Decoder keyboard = MakeDecoder(host), mouse = MakeDecoder(host);
    host.SetDevice(3, 0);
    UsbItem* keyboardNaks = host.NakRun(ItemInTransaction, 4);
    host.SetDevice(3, 1);
    UsbItem* mouseData = host.In({1, 0, 0});
    EXPECT_EQ(keyboard->OnTransaction(keyboardNaks), nullptr);
    UsbItem* report = mouse->OnTransaction(mouseData);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(Shape(host, {report}), "267(16)") << "the keyboard's NAKs are not the mouse's report";
    EXPECT_EQ(keyboard->OnTransaction(nullptr), keyboardNaks);
    host.FreeDecoderItems({report});
}

TEST(HidGrouping, RowsOfReportsAndRequests)
{
    struct Row {
        const char* what;
        Bytes configuration;
        Bytes setup;
        std::string name;
        int32_t icon;
        uint16_t type;
    } rows[] = {
        {"SET_IDLE", {}, SetupBytes(0x21, 0x0A, 0, 0, 0), "SetIdle (  )", 0, TypeClassRequest},
        {"SET_IDLE of 136 ms is no descriptor", {}, SetupBytes(0x21, 0x0A, 0x2200, 0, 0), "SetIdle (  )", 0, TypeClassRequest},
        {"GET_REPORT", {}, SetupBytes(0xA1, 0x01, 0x0100, 0, 3), "GetReport (  )", 0, TypeClassRequest},
        {"an unknown request", {}, SetupBytes(0x21, 0x33, 0, 0, 0), " (  )", 0, TypeClassRequest},
        {"SET_PROTOCOL on a keyboard", {9, 4, 0, 0, 1, 3, 1, 1, 0}, SetupBytes(0x21, 0x0B, 0, 0, 0), "SetProtocol (  )", 2,
         TypeClassRequest},
        {"the report descriptor", {}, ReportDescriptorSetup(kBootMouse), "GetDescriptor ( Report )", 24 + 1,
         ItemControlTransfer},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Session s;
        if (!row.configuration.empty())
            s.decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(row.configuration.data()),
                                intptr_t(row.configuration.size()));
        const bool in = row.setup[0] & 0x80;
        s.Run({s.host.ControlTransfer(row.setup, in ? Bytes(row.setup[6], 0x11) : Bytes{})});
        ASSERT_EQ(s.out.size(), 1u);
        EXPECT_EQ(s.out[0]->type, row.type);
        const ItemSummary summary = s.Row(s.out[0]);
        EXPECT_EQ(summary.name, row.name);
        EXPECT_EQ(summary.icon, row.icon);
        EXPECT_EQ(summary.status, StatusOk);
        EXPECT_EQ(summary.size, in ? row.setup[6] : 0);
        EXPECT_EQ(s.decoder->GetData(s.out[0], nullptr, 0), in ? row.setup[6] : 0);
    }
}

TEST(HidGrouping, ARequestShowsTheHandshakeOfItsLastStage)
{
    // handshake of the status stage, the error class of its row, the request's status
    const std::vector<std::tuple<uint8_t, int32_t, int32_t>> cases = {
        {PidStall, ErrorClassNone, StatusStall},
        {kNone, ErrorClassNone, -1},
        {PidAck, ErrorClassCrc16, MakeItemStatus(StatusOk, ErrorClassCrc16)},
        {kNone, ErrorClassPid, MakeItemStatus(StatusError, ErrorClassPid)},
    };
    for (const auto& [handshake, errorClass, status] : cases) {
        SCOPED_TRACE(int(handshake) * 100 + errorClass);
        Session s;
        UsbItem* setIdle = s.host.ControlTransfer(SetupBytes(0x21, 0x0A, 0, 0, 0));
        UsbItem* stage = setIdle->children.back();
        stage->status = handshake;
        setIdle->status = handshake;
        s.host.Row(stage)->status = MakeItemStatus(StatusAck, errorClass);
        s.Run({s.host.NakRun(ItemInTransaction, 2), setIdle});
        ASSERT_EQ(s.out.size(), 1u);
        EXPECT_EQ(s.Row(setIdle).status, status) << "a SET_IDLE the device refused is no success";
        EXPECT_EQ(s.Row(s.out[0]).status, status) << "nor behind a held NAK run";
    }
}

TEST(HidGrouping, InputReportRowsAndKeyboardIcons)
{
    for (const bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "keyboard" : "mouse");
        Session s;
        // A configuration whose first interface says keyboard (1) or mouse (2).
        const Bytes configuration = {9, 2, 34, 0, 1, 1, 0, 0xA0, 50, 9, 4, 0, 0, 1, 3, 1, uint8_t(keyboard ? 1 : 2), 0};
        s.decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(configuration.data()), intptr_t(configuration.size()));
        EXPECT_EQ(s.decoder->KeyboardMode(), keyboard ? 2 : 0);
        s.Run({s.host.NakRun(ItemInTransaction, 2), s.host.In({0, 0, 4, 0, 0, 0, 0, 0})});
        ASSERT_EQ(s.out.size(), 1u);
        const ItemSummary row = s.Row(s.out[0]);
        EXPECT_EQ(row.name, "Input Report");
        EXPECT_EQ(row.icon, keyboard ? 3 : 1);
        EXPECT_EQ(row.status, StatusOk);
        EXPECT_EQ(row.size, 8);
        EXPECT_EQ(row.address, 3);
        EXPECT_EQ(s.decoder->GetData(s.out[0], nullptr, 0), 8);
        EXPECT_NE(s.decoder->GetImageList(s.out[0]), nullptr);
    }
}

TEST(HidGrouping, OnlyTheFirstSoundInterfaceDescriptorSetsKeyboardMode)
{
    struct Row {
        const char* what;
        Bytes configuration;
        int32_t mode;
    } rows[] = {
        {"keyboard first", {9, 2, 0, 0, 1, 1, 0, 0, 0, 9, 4, 0, 0, 1, 3, 1, 1, 0}, 2},
        {"mouse first, keyboard second", {9, 4, 0, 0, 1, 3, 1, 2, 0, 9, 4, 1, 0, 1, 3, 1, 1, 0}, 0},
        {"a descriptor running past the end", {9, 2, 0, 0, 1, 1, 0, 0, 0, 12, 4, 0, 0, 1, 3, 1, 1, 0}, 0},
        {"a zero length", {0, 2, 9, 4, 0, 0, 1, 3, 1, 1, 0}, 0},
        {"an interface descriptor too short to hold a protocol", {5, 4, 0, 0, 1, 9, 4, 0, 0, 1, 3, 1, 1, 0}, 0},
        {"one byte", {9}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CFakeHost host;
        Decoder decoder = MakeDecoder(host);
        decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(row.configuration.data()),
                          intptr_t(row.configuration.size()));
        EXPECT_EQ(decoder->KeyboardMode(), row.mode);
    }
}

TEST(HidDetail, TheReportDescriptorTransferListsItemsAndReports)
{
    Session s;
    s.Run({s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard, 8)});
    ASSERT_EQ(s.out.size(), 1u);
    const auto groups = s.Detail(s.out[0]);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].name, "HID Report Descriptor");
    ASSERT_EQ(groups[0].items.size(), 32u);
    const DetailItem& first = groups[0].items[0];
    EXPECT_EQ(first.name, "Usage Page ( Generic Desktop Controls ) ");
    EXPECT_EQ(first.value, "05 01");
    EXPECT_EQ(first.tip, "Usage Page Item");
    EXPECT_EQ(first.offset, 0);
    EXPECT_EQ(first.bits, 16);
    EXPECT_EQ(groups[1].name, "Input Report 0");
    ASSERT_EQ(groups[1].items.size(), 15u);
    EXPECT_EQ(groups[1].items[0].value, "1 bit");
    EXPECT_EQ(groups[1].items[8].value, "8 bits");
    EXPECT_EQ(groups[2].name, "Output Report 0");
    EXPECT_EQ(groups[2].items[2].tip, "Scroll Lock LED");
}

TEST(HidDetail, ABootKeyboardReportFieldByField)
{
    Session s;
    s.Run({s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard),
           s.host.In({0x02, 0x00, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00})});
    ASSERT_EQ(s.out.size(), 2u);
    const auto groups = s.Detail(s.out[1]);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, "Input report");
    const auto& items = groups[0].items;
    ASSERT_EQ(items.size(), 15u);
    for (int bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(items[bit].value, bit == 1 ? "1" : "0") << items[bit].name;
        EXPECT_EQ(items[bit].offset, bit);
        EXPECT_EQ(items[bit].bits, 1);
    }
    EXPECT_EQ(items[1].name, "LeftShift");
    EXPECT_EQ(items[8].name, "(Not Used)");
    EXPECT_EQ(items[9].value, "A");
    EXPECT_EQ(items[10].value, "B");
    EXPECT_EQ(items[11].value, " (0)") << "an empty key slot the list does not name";
    EXPECT_EQ(items[14].offset, 56);
}

TEST(HidDetail, ABootMouseReportAndAShortOne)
{
    struct Row {
        Bytes report;
        std::vector<std::string> values;
    } rows[] = {
        {{0x05, 0xFD, 0x10}, {"1", "0", "1", "0", "-3", "16"}},
        {{0x01, 0x7F}, {"1", "0", "0", "0", "127", ""}},  // Y past the captured end: no value
    };
    for (const Row& row : rows) {
        Session s;
        s.Run({s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse), s.host.In(row.report)});
        const auto groups = s.Detail(s.out.back());
        ASSERT_EQ(groups.size(), 1u);
        std::vector<std::string> values;
        for (const auto& item : groups[0].items) values.push_back(item.value);
        EXPECT_EQ(values, row.values);
        EXPECT_EQ(groups[0].items[4].name, "Direction-X");
        EXPECT_EQ(groups[0].items[4].offset, 8);
    }
}

TEST(HidDetail, AReportIdComesFirstAndShiftsTheFields)
{
    // Report 1: eight buttons; report 2: a 16-bit X.
    const Bytes descriptor = {0x05, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x75,
                              0x01, 0x95, 0x08, 0x81, 0x02, 0xC0, 0x05, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x09,
                              0x30, 0x75, 0x10, 0x95, 0x01, 0x81, 0x06, 0xC0};
    Session s;
    s.Run({s.host.ControlTransfer(ReportDescriptorSetup(descriptor), descriptor), s.host.In({0x02, 0xFE, 0xFF})});
    const auto groups = s.Detail(s.out.back());
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].items.size(), 2u);
    EXPECT_EQ(groups[0].items[0].name, "Report ID");
    EXPECT_EQ(groups[0].items[0].value, "2");
    EXPECT_EQ(groups[0].items[0].bits, 8);
    EXPECT_EQ(groups[0].items[1].name, "Direction-X");
    EXPECT_EQ(groups[0].items[1].value, "-2");
    EXPECT_EQ(groups[0].items[1].offset, 8);
}

TEST(HidDetail, SetReportShowsTheOutputFieldsOtherRequestsNone)
{
    struct Row {
        const char* what;
        Bytes setup;
        Bytes data;
        size_t groups;
    } rows[] = {
        {"LEDs", SetupBytes(0x21, 0x09, 0x0200, 0, 1), {0x02}, 1},
        {"more data than the layout", SetupBytes(0x21, 0x09, 0x0200, 0, 40), Bytes(40, 0xFF), 1},
        {"no data", SetupBytes(0x21, 0x09, 0x0200, 0, 0), {}, 1},
        {"another report ID", SetupBytes(0x21, 0x09, 0x0205, 0, 1), {0x02}, 0},
        {"GET_IDLE", SetupBytes(0xA1, 0x02, 0, 0, 1), {0x00}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Session s;
        s.Run({s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard),
               s.host.ControlTransfer(row.setup, row.data)});
        const auto groups = s.Detail(s.out.back());
        ASSERT_EQ(groups.size(), row.groups);
        if (!row.groups) continue;
        EXPECT_EQ(groups[0].name, "Output report");
        ASSERT_EQ(groups[0].items.size(), 6u);
        EXPECT_EQ(groups[0].items[1].name, "CapsLock");
        EXPECT_EQ(groups[0].items[1].tip, "CapsLock LED");
        EXPECT_EQ(groups[0].items[1].value, row.data.empty() ? "" : "1");
        EXPECT_EQ(groups[0].items[5].offset, 5);
    }
}

// A report or a request whose data the capture lacks shows no fields: it
// says so, as every pane does; a NAKed attempt that lost its bytes lost none
// of the request's.
TEST(HidDetail, AReportOrRequestWhosePayloadTheCaptureLacksSaysSo)
{
    Session s;
    UsbItem* descriptor = s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard);
    UsbItem* naks = s.host.NakRun(ItemInTransaction, 2);
    UsbItem* lostReport = s.host.In({0x02, 0x00, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00});
    UsbItem* keptReport = s.host.In({0x02, 0x00, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00});
    UsbItem* lostRequest = s.host.ControlTransfer(SetupBytes(0x21, 0x09, 0x0200, 0, 1), {0x02});
    // SET_REPORT whose data stage was NAKed once, the refused attempt's bytes lost.
    UsbItem* setup = s.host.Transaction(ItemSetupTransaction, PidAck, SetupBytes(0x21, 0x09, 0x0200, 0, 1));
    UsbItem* refused = s.host.Out({0x02}, PidNak);
    UsbItem* refusedAttempt = s.host.Item(ItemControlTransfer, {setup, refused, s.host.Out({0x02}), s.host.In({})});
    refusedAttempt->endpoint = 0;
    refusedAttempt->status = PidAck;
    s.host.LosePayload(lostReport);
    s.host.LosePayload(lostRequest->children[1]);
    s.host.LosePayload(refused);
    s.Run({descriptor, naks, lostReport, keptReport, lostRequest, refusedAttempt});
    ASSERT_EQ(s.out.size(), 5u);
    for (const auto& [item, title] : {std::pair{s.out[1], "Input report"}, {s.out[3], "Transfer"}}) {
        const auto groups = s.Detail(item);
        ASSERT_EQ(groups.size(), 1u) << title;
        EXPECT_EQ(groups[0].name, title);
        ASSERT_EQ(groups[0].items.size(), 1u) << title;
        EXPECT_EQ(groups[0].items[0].value, kPayloadLostText) << title;
        EXPECT_EQ(s.decoder->OnNotify(NotifyPayloadLost, item, 0), 1) << title;
    }
    EXPECT_EQ(s.Detail(s.out[2]).at(0).items.size(), 15u) << "the whole report still shows its fields";
    const auto request = s.Detail(s.out[4]);
    ASSERT_EQ(request.size(), 1u);
    EXPECT_EQ(request[0].name, "Output report");
    EXPECT_EQ(request[0].items.at(1).value, "1") << "CapsLock from the retry";
    EXPECT_EQ(s.decoder->OnNotify(NotifyPayloadLost, s.out[4], 0), 0) << "the refused attempt is no data";
}

// A report shows its last transaction and a request its data stage: a NAKed
// try or a status stage whose payload the capture lacks leaves their data
// whole; a data packet that lacks it says so.
TEST(HidDetail, OnlyTheDataAReportOrRequestShowsCanLoseItsPayload)
{
    const Bytes keys = {0x02, 0x00, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00};
    for (const bool dataLost : {false, true}) {
        SCOPED_TRACE(dataLost ? "data lost" : "data whole");
        Session s;
        UsbItem* descriptor = s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard);
        UsbItem* naks = s.host.NakRun(ItemInTransaction, 2);
        UsbItem* in = s.host.In(keys);
        UsbItem* setReport = s.host.ControlTransfer(SetupBytes(0x21, 0x09, 0x0200, 0, 1), {0x02});
        s.host.LosePayload(naks);
        s.host.LosePayload(setReport->children.back());
        if (dataLost) {
            s.host.LosePayload(in);
            s.host.LosePayload(setReport->children[1]);
        }
        s.Run({descriptor, naks, in, setReport});
        ASSERT_EQ(s.out.size(), 3u);
        UsbItem* report = s.out[1];
        UsbItem* request = s.out[2];
        ASSERT_EQ(report->type, TypeInputReport);
        ASSERT_EQ(report->children.size(), 2u);
        ASSERT_EQ(request->type, TypeClassRequest);
        for (const auto& [item, title] : {std::pair{report, "Input report"}, {request, "Output report"}}) {
            SCOPED_TRACE(title);
            EXPECT_EQ(s.decoder->OnNotify(NotifyPayloadLost, item, 0), dataLost ? 1 : 0);
            const auto groups = s.Detail(item);
            ASSERT_EQ(groups.size(), 1u);
            if (dataLost) {
                EXPECT_EQ(groups[0].name, item == report ? "Input report" : "Transfer");
                ASSERT_EQ(groups[0].items.size(), 1u);
                EXPECT_EQ(groups[0].items[0].value, kPayloadLostText);
            } else {
                EXPECT_EQ(groups[0].name, title);
                EXPECT_GT(groups[0].items.size(), 1u) << "its fields";
            }
        }
        EXPECT_EQ(s.decoder->GetData(report, nullptr, 0), dataLost ? 0 : 8);
        EXPECT_EQ(s.decoder->GetData(request, nullptr, 0), dataLost ? 0 : 1);
        // Without its setup the stages cannot be told apart: each counts, but
        // its status stage's zero-length packet lost no data.
        s.host.LosePayload(request->children[0]);
        EXPECT_EQ(s.decoder->OnNotify(NotifyPayloadLost, request, 0), dataLost ? 1 : 0);
        s.host.SetPayload(request->children.back(), {0x00});
        EXPECT_EQ(s.decoder->OnNotify(NotifyPayloadLost, request, 0), 1) << "a stage with a byte";
    }
}

// A report-descriptor read whose later packets the capture lacks would lay
// out only the fields of its first bytes: it is no layout, and says so.
TEST(HidDetail, AReportDescriptorReadCutShortIsNoLayout)
{
    Session s;
    UsbItem* read = s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse, 8);
    s.host.LosePayload(read->children[5]);  // the first 32 bytes lay out the buttons
    s.Run({read, s.host.In({1, 2, 3})});
    ASSERT_EQ(s.out.size(), 2u);
    EXPECT_TRUE(s.decoder->Descriptor()->Reports().empty());
    EXPECT_TRUE(s.Detail(s.out[1]).empty()) << "no layout to read the report with";
    const auto listing = s.Detail(s.out[0]);
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].items.at(0).value, kPayloadLostText);
}

TEST(HidDetail, TheSetupTransactionOfARequest)
{
    Session s;
    UsbItem* transfer = s.host.ControlTransfer(SetupBytes(0x21, 0x0A, 0x0100, 0, 0));
    s.Run({transfer});
    const auto groups = s.Detail(transfer->children[0]);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, "Setup request");
    ASSERT_EQ(groups[0].items.size(), 7u);
    EXPECT_EQ(groups[0].items[4].value, "Duration = 4 ms");
    EXPECT_EQ(groups[0].items[4].tip, "Duration = 4 ms");
    EXPECT_EQ(groups[0].items[6].offset, 48);
}

TEST(HidDetail, AForwardedGroupDescribesItsTransfer)
{
    Session s;
    s.Run({s.host.NakRun(ItemInTransaction, 1), s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse)});
    ASSERT_EQ(s.out.size(), 1u);
    EXPECT_EQ(s.Row(s.out[0]).name, "GetDescriptor ( Report )");
    EXPECT_EQ(s.decoder->GetData(s.out[0], nullptr, 0), int32_t(kBootMouse.size()));
    const auto groups = s.Detail(s.out[0]);
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(groups[0].name, "HID Report Descriptor");
}

TEST(HidDetail, TheDescriptorIsFoundBesideTheReportOnceAndByAddress)
{
    // Decoded elsewhere (as after a project is opened): this decoder never
    // saw the descriptor, so it looks beside the item, once.
    CFakeHost host;
    host.SetDevice(7, 0);
    UsbItem* otherDevice = host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard);
    host.SetDevice(3, 0);
    UsbItem* own = host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse);
    UsbItem* report = host.In({0x01, 0x02, 0x03});
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    for (UsbItem* item : {otherDevice, own}) root.Append(item);
    Decoder producer = MakeDecoder(host);
    UsbItem* input = producer->OnTransaction(report);
    root.Append(input);

    Decoder decoder = MakeDecoder(host);
    std::string xml;
    ASSERT_EQ(decoder->GetDetail(input, xml), 1);
    const auto groups = ReadDetail(xml);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].items.size(), 6u) << "the mouse's layout, not the other device's keyboard";

    Decoder lonely = MakeDecoder(host);
    std::unique_ptr<UsbItem> bareItem_ = std::make_unique<UsbItem>();
    UsbItem& bare = *bareItem_;
    for (int i = 0; i < 50; ++i) bare.Append(host.ControlTransfer(SetupBytes(0x21, 0x0A, 0, 0, 0)));
    UsbItem* alone = producer->OnTransaction(host.In({1}));
    bare.Append(alone);
    lonely->GetDetail(alone, xml);
    const uint64_t calls = host.DataCalls();
    lonely->GetDetail(alone, xml);
    lonely->GetDetail(alone, xml);
    EXPECT_LT(host.DataCalls() - calls, 10u) << "no search on every selection";
    root.children.clear();
    bare.children.clear();
    host.FreeDecoderItems({input, alone});
}

TEST(HidDetail, RepeatedDescriptorsDoNotGrowTheLayouts)
{
    Session s;
    std::vector<UsbItem*> items;
    for (int i = 0; i < 5; ++i) items.push_back(s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard));
    s.Run(items);
    EXPECT_EQ(s.decoder->Descriptor()->Items().size(), 32u);
    EXPECT_EQ(s.decoder->Descriptor()->Reports().size(), 2u);
    EXPECT_EQ(s.decoder->Descriptor()->Reports()[0].fields.size(), 15u);
}

TEST(HidDetail, EachReportReadsWithTheDescriptorInForceAtIt)
{
    // The interface changes its descriptor between two reports (a device
    // enumerated again in another mode): each report keeps its own layout.
    Session s;
    const Bytes report = {0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
    s.Run({s.host.In(report), s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard),
           s.host.In(report), s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse),
           s.host.In(report), s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse)});
    std::vector<size_t> fields;
    for (UsbItem* item : s.out)
        if (item->type == TypeInputReport) fields.push_back(s.Detail(item).at(0).items.size());
    EXPECT_EQ(fields, (std::vector<size_t>{15, 15, 6})) << "one before all takes the first descriptor";
    EXPECT_EQ(s.decoder->Descriptor()->Reports()[0].fields.size(), 6u);
}

// Later descriptors for the interface arrive on the worker while the UI
// thread describes: every detail is whole and keeps its own layout.
TEST(HidDetail, DescriptorsTakenWhileADetailIsRead)
{
    Session s;
    UsbItem* keyboard = s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard);
    s.Run({keyboard, s.host.In({0x02, 0x00, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00})});
    UsbItem* report = s.out.back();
    std::vector<UsbItem*> later;
    for (int i = 0; i < 200; ++i)
        later.push_back(i % 2 ? s.host.ControlTransfer(ReportDescriptorSetup(kBootKeyboard), kBootKeyboard)
                              : s.host.ControlTransfer(ReportDescriptorSetup(kBootMouse), kBootMouse));
    std::thread worker([&] {
        for (UsbItem* transfer : later) s.decoder->OnTransaction(transfer);
    });
    for (int i = 0; i < 100; ++i) {
        const auto groups = s.Detail(report);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].items.size(), 15u) << "the keyboard's layout, in force at the report";
        const auto listing = s.Detail(later[0]);
        ASSERT_FALSE(listing.empty());
        EXPECT_EQ(listing[0].items.size(), 26u) << "a transfer lists its own descriptor";
    }
    worker.join();
    EXPECT_EQ(s.decoder->Descriptor()->Items().size(), 32u) << "the last one taken";
}

// A capture started after the device enumerated: no report descriptor in
// it. The UI thread describes a report while the worker still decodes and
// grows the level the report lies in, as the list does.
TEST(HidDetail, AReportDescribedWhileItsLevelGrows)
{
    Session s;
    std::vector<UsbItem*> reports;
    for (int i = 0; i < 20000; ++i) reports.push_back(s.host.In({0x01, uint8_t(i), 0x03}));
    std::unique_ptr<UsbItem> level = std::make_unique<UsbItem>();
    std::atomic<UsbItem*> first = nullptr;
    std::thread worker([&] {
        for (UsbItem* item : reports) {
            UsbItem* out = s.decoder->OnTransaction(item);
            if (!out) continue;
            s.out.push_back(out);
            level->Append(out);
            if (!first) first = out;
        }
    });
    while (!first) std::this_thread::yield();
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(s.Detail(first).empty()) << "no layout to read it with";
    worker.join();
    EXPECT_EQ(s.out.size(), reports.size());
    level->children.clear();
}

}  // namespace
