// The plug-in as the program uses it: loaded by the factory from the build's
// "classes" folder and driven by the decoder manager over the emulated mouse
// session, the real low-speed mouse capture, and bus traffic of a composite
// keyboard and a game controller whose reports carry IDs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "DecodedCapture.h"
#include "HidTestData.h"

using namespace orvane;
using namespace orvane::testing;
using namespace orvane::hid::testing;

namespace {

class Decoded : public DecodedCapture {
public:
    using DecodedCapture::DecodedCapture;
    std::vector<DetailGroup> Groups(UsbItem* item) { return ReadDetail(Detail(item)); }
    // The transfer-level rows that `match` picks, in order.
    std::vector<UsbItem*> Rows(const std::function<bool(UsbItem*, const ItemSummary&)>& match)
    {
        std::vector<UsbItem*> found;
        for (UsbItem* item : transfers.root.children)
            if (match(item, Row(item))) found.push_back(item);
        return found;
    }
};

using Bytes = std::vector<uint8_t>;
using S = emu::SessionBuilder;

// One HID interface (class 3, boot subclass for a keyboard) with an interrupt
// IN endpoint 1 and, when asked, an interrupt OUT endpoint 2.
Bytes HidConfiguration(uint8_t protocol, size_t reportDescriptorBytes, bool outEndpoint)
{
    Bytes c = {9, 2, 0, 0, 1, 1, 0, 0xA0, 50, 9, 4, 0, 0, uint8_t(outEndpoint ? 2 : 1), 3, uint8_t(protocol ? 1 : 0),
               protocol, 0, 9, 0x21, 0x11, 0x01, 0, 1, 0x22, uint8_t(reportDescriptorBytes),
               uint8_t(reportDescriptorBytes >> 8), 7, 5, 0x81, 3, 64, 0, 1};
    if (outEndpoint)
        for (uint8_t b : {7, 5, 0x02, 3, 64, 0, 1}) c.push_back(b);
    c[2] = uint8_t(c.size());
    return c;
}

// A composite keyboard: report 1 the boot keyboard's input and LED output
// with eight vendor feature bytes, report 2 a consumer-control usage.
const Bytes kCompositeKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,                                      //
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // modifiers
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                                                  // reserved byte
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,              // LEDs
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                                                  // LED padding
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00,  // keys
    0x06, 0x00, 0xFF, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02,  // feature
    0xC0,                                                                                //
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02,                                      //
    0x15, 0x00, 0x26, 0xFF, 0x03, 0x19, 0x00, 0x2A, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00,  // one usage
    0xC0,
};

// A game controller, all in one collection: input report 1 (16 buttons,
// four axes, a hat switch), a 48-byte output report 2 and feature reports 3
// (16 bytes), 4 (two 16-bit values) and 5 (63 bytes).
const Bytes kGameController = {
    0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01,                                      //
    0x05, 0x09, 0x19, 0x01, 0x29, 0x10, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x10, 0x81, 0x02,  // buttons
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x09, 0x35, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x04, 0x81, 0x02,                                                              // X, Y, Z, Rz
    0x09, 0x39, 0x15, 0x00, 0x25, 0x07, 0x75, 0x04, 0x95, 0x01, 0x81, 0x42,              // hat switch
    0x75, 0x04, 0x95, 0x01, 0x81, 0x01,                                                  // padding
    0x85, 0x02, 0x06, 0x00, 0xFF, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x30, 0x91, 0x02,
    0x85, 0x03, 0x09, 0x02, 0x95, 0x10, 0xB1, 0x02,                                      //
    0x85, 0x04, 0x09, 0x03, 0x75, 0x10, 0x95, 0x02, 0xB1, 0x02,                          //
    0x85, 0x05, 0x09, 0x04, 0x75, 0x08, 0x95, 0x3F, 0xB1, 0x02,                          //
    0xC0,
};

// "offset/bits" of every field of a report's detail, and its values.
std::vector<std::string> Offsets(const DetailGroup& group)
{
    std::vector<std::string> out;
    for (const DetailItem& item : group.items) out.push_back(std::to_string(item.offset) + "/" + std::to_string(item.bits));
    return out;
}
std::vector<std::string> Values(const DetailGroup& group)
{
    std::vector<std::string> out;
    for (const DetailItem& item : group.items) out.push_back(item.value);
    return out;
}
// "offset/bits" of `count` fields of `bits` each from `offset` on.
std::vector<std::string> Fields(int offset, int bits, int count)
{
    std::vector<std::string> out;
    for (int k = 0; k < count; ++k) out.push_back(std::to_string(offset + k * bits) + "/" + std::to_string(bits));
    return out;
}
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The one report group of an item's detail.
DetailGroup ReportGroup(Decoded& decoded, UsbItem* item)
{
    const auto groups = decoded.Groups(item);
    EXPECT_EQ(groups.size(), 1u) << "item at record " << item->firstRecord;
    return groups.empty() ? DetailGroup{} : groups[0];
}

// The report descriptor's listing and layout, and every input report as
// three buttons and X/Y whose values are the report's bytes.
void ExpectMouseDecoded(Decoded& decoded, size_t minimumReports)
{
    size_t reports = 0, descriptors = 0;
    for (UsbItem* item : decoded.transfers.root.children) {
        UsbItem* transfer = item;
        if (item->type == 269 && !item->children.empty() && item->children[0]->type != ItemSetupTransaction)
            transfer = item->children.back();
        if (transfer->type == ItemControlTransfer && decoded.Row(item).name == "GetDescriptor ( Report )") {
            ++descriptors;
            const auto groups = decoded.Groups(item);
            ASSERT_GE(groups.size(), 2u);
            EXPECT_EQ(groups[0].name, "HID Report Descriptor");
            EXPECT_FALSE(groups[0].items.empty());
            EXPECT_EQ(groups[1].name, "Input Report 0");
        }
        if (item->type != 267) continue;
        ++reports;
        const ItemSummary row = decoded.Row(item);
        EXPECT_EQ(row.name, "Input Report");
        EXPECT_EQ(row.icon, 1);
        const std::vector<uint8_t> data = decoded.Data(item);
        const auto groups = decoded.Groups(item);
        ASSERT_EQ(groups.size(), 1u) << "report at record " << item->firstRecord;
        const auto& fields = groups[0].items;
        ASSERT_GE(fields.size(), 6u);
        ASSERT_GE(data.size(), 3u);
        for (int button = 0; button < 3; ++button)
            EXPECT_EQ(fields[button].value, std::to_string((data[0] >> button) & 1));
        auto field = [&](const std::string& name) -> const DetailItem* {
            for (const DetailItem& f : fields)
                if (f.name == name) return &f;
            return nullptr;
        };
        const DetailItem* x = field("Direction-X");
        const DetailItem* y = field("Direction-Y");
        ASSERT_TRUE(x && y);
        EXPECT_EQ(x->value, std::to_string(int8_t(data[1])));
        EXPECT_EQ(y->value, std::to_string(int8_t(data[2])));
        EXPECT_EQ(x->offset, 8);
        EXPECT_EQ(y->offset, 16);
    }
    EXPECT_GE(descriptors, 1u);
    EXPECT_GE(reports, minimumReports);
}

TEST(HidCapture, TheFactoryFindsThePluginForEveryHidInterface)
{
    for (const auto& [subclass, protocol] : {std::pair{0, 0}, {1, 1}, {1, 2}})
        EXPECT_EQ(Decoded::PluginFor(3, subclass, protocol), "hid.so") << subclass << "/" << protocol;
}

TEST(HidCapture, TheEmulatedMouseSessionDecodesEveryReport)
{
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "with damaged packets" : "clean");
        Decoded decoded(Decoded::Session(emu::SessionBuilder::Kind::Mouse, SpeedLow, 40, damaged ? 0.05 : 0));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);
        ExpectMouseDecoded(decoded, damaged ? 20 : 40);
        bool setIdle = false;
        for (UsbItem* item : decoded.transfers.root.children)
            setIdle |= item->type == 269 && decoded.Row(item).name == "SetIdle (  )";
        EXPECT_TRUE(setIdle);
    }
}

// A mouse in a reset loop: the decoders of the enumerations taken over are
// handed back during the decoding, and the rows of every enumeration are
// still described with the layouts of the mouse's report descriptor.
TEST(HidCapture, AMouseInAResetLoopDecodesEveryReportOfEachEnumeration)
{
    const emu::BusCapture session = Decoded::Session(emu::SessionBuilder::Kind::Mouse, SpeedLow, 40, 0);
    emu::BusCapture loop;
    for (int turn = 0; turn < 3; ++turn) {
        const uint64_t shift = loop.records.empty() ? 0 : loop.records.back().Timestamp() + 60000;
        const auto payloadBase = uint32_t(loop.payload.size());
        loop.payload.insert(loop.payload.end(), session.payload.begin(), session.payload.end());
        for (PacketRecord r : session.records) {
            r.SetTimestamp(r.Timestamp() + shift);
            if (r.IsData()) r.SetPayloadOffset(r.PayloadOffset() + payloadBase);
            loop.records.push_back(r);
        }
    }
    Decoded decoded(std::move(loop));
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    ExpectMouseDecoded(decoded, 3 * 40);
}

// A keyboard, then a game controller enumerated twice, on one address: the
// controller's first turn, whose decoder its second turn hands back, is still
// described with the controller's report descriptor, never the keyboard's
// that came first on the address.
TEST(HidCapture, ATurnHandedBackIsDescribedWithItsOwnReportDescriptor)
{
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 6, HidConfiguration(1, kCompositeKeyboard.size(), false));
    b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kCompositeKeyboard.size())), kCompositeKeyboard);
    b.In(6, 1, PidData0, {1, 0x02, 0, 0x04, 0x05, 0, 0, 0, 0});
    for (int turn = 0; turn < 2; ++turn) {
        Decoded::Enumerate(b, 6, HidConfiguration(0, kGameController.size(), true));
        b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kGameController.size())), kGameController);
        b.In(6, 1, PidData0, {1, 0x01, 0x80, 16, 32, 48, 64, 0x35});
    }
    Decoded decoded(b.Take());

    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(Offsets(ReportGroup(decoded, reports[0])), Join({{"0/8"}, Fields(8, 1, 8), {"16/8"}, Fields(24, 8, 6)}));
    for (size_t turn : {1, 2})
        EXPECT_EQ(Offsets(ReportGroup(decoded, reports[turn])),
                  Join({{"0/8"}, Fields(8, 1, 16), Fields(24, 8, 4), {"56/4", "60/4"}}))
            << "the controller's turn " << turn;
}

TEST(HidCapture, AReportBeforeItsTurnsReportDescriptorIsDescribedWithThatOne)
{
    // A turn handed back is described afresh; its first report came before the
    // host read the layout, so none came before it: the one after is taken.
    emu::BusTrafficBuilder b(SpeedFull);
    for (int turn = 0; turn < 2; ++turn) {
        Decoded::Enumerate(b, 6, HidConfiguration(0, kGameController.size(), true));
        b.In(6, 1, PidData0, {1, 0x01, 0x80, 16, 32, 48, 64, 0x35});
        b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kGameController.size())), kGameController);
    }
    Decoded decoded(b.Take());

    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(Offsets(ReportGroup(decoded, reports[0])), Join({{"0/8"}, Fields(8, 1, 16), Fields(24, 8, 4), {"56/4", "60/4"}}));
}

// The ".data" ends right after a report-descriptor read's data stage: its
// status stage's zero-length packet lost no byte of the layout, which the
// reports before it, their payload held, are read with.
TEST(HidCapture, AReadCutAtItsStatusStageIsWhole)
{
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 6, HidConfiguration(2, kBootMouse.size(), false));
    b.In(6, 1, PidData0, {1, 2, 3}), b.In(6, 1, PidData1, {4, 5, 6});
    b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kBootMouse.size())), kBootMouse, {.maxPacket = 8});
    const size_t cut = b.Count() - 2;  // the status stage's DATA1
    b.In(6, 1, PidData0, {7, 8, 9});
    emu::BusCapture capture = b.Take();
    ASSERT_TRUE(capture.records[cut].IsData());
    for (size_t r = cut; r < capture.records.size(); ++r)
        if (capture.records[r].IsData()) capture.records[r].SetPayloadOffset(PacketRecord::kPayloadLost);
    Decoded decoded(std::move(capture));

    const auto reads = decoded.Rows([](UsbItem*, const ItemSummary& row) { return row.name == "GetDescriptor ( Report )"; });
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(decoded.Manager().OnNotify(NotifyPayloadLost, reads[0], 0), 0);
    const auto listing = decoded.Groups(reads[0]);
    ASSERT_GE(listing.size(), 2u);
    EXPECT_EQ(listing[0].name, "HID Report Descriptor");
    EXPECT_EQ(listing[1].name, "Input Report 0");
    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 3u);
    for (size_t k : {0, 1})
        EXPECT_EQ(Offsets(ReportGroup(decoded, reports[k])), Join({Fields(0, 1, 3), {"3/5"}, Fields(8, 8, 2)})) << k;
    EXPECT_EQ(ReportGroup(decoded, reports[2]).items.at(0).value, kPayloadLostText) << "past the cut";
}

// The items of every group in an item's detail.
size_t FieldCount(Decoded& decoded, UsbItem* item)
{
    size_t fields = 0;
    for (const DetailGroup& group : decoded.Groups(item)) fields += group.items.size();
    return fields;
}

// A turn handed back is described by a decoder made for it, which looks for
// its report descriptor once. The row looked at first may stand in a group
// (a request sent while the report endpoint NAKed): the turn's rows show what
// the kept decoder of the next turn shows, whichever is described first.
TEST(HidCapture, AHandedBackTurnDescribesItsRowsAlikeWhicheverComesFirst)
{
    const struct {
        const char* name;
        Bytes descriptor;
        uint8_t protocol;
        Bytes setup, data, report;
        size_t requestFields, reportFields;
    } devices[] = {
        {"keyboard, Caps Lock's SET_REPORT", kBootKeyboard, 1, S::SetupPacket(0x21, 0x09, 0x0200, 0, 1), {0x02},
         {0, 0, 0x04, 0, 0, 0, 0, 0}, 6, 15},
        {"mouse, SET_IDLE", kBootMouse, 2, S::SetupPacket(0x21, 0x0A, 0, 0, 0), {}, {1, 2, 3}, 0, 6},
    };
    for (const auto& device : devices) {
        for (bool requestFirst : {true, false}) {
            SCOPED_TRACE(std::string(device.name) + (requestFirst ? ", the request first" : ", the report first"));
            emu::BusTrafficBuilder b(SpeedFull);
            for (int turn = 0; turn < 2; ++turn) {
                Decoded::Enumerate(b, 6, HidConfiguration(device.protocol, device.descriptor.size(), false));
                b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(device.descriptor.size())),
                                  device.descriptor);
                b.In(6, 1, PidData0, device.report);
                b.InNak(6, 1, 3);
                b.ControlTransfer(6, device.setup, device.data);
            }
            Decoded decoded(b.Take());
            const auto held = decoded.Rows([](UsbItem* item, const ItemSummary&) {
                return item->type == 269 && item->children[0]->type != ItemSetupTransaction;
            });
            const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
            ASSERT_EQ(held.size(), 2u);
            ASSERT_EQ(reports.size(), 2u);
            for (size_t turn : {0, 1}) {
                UsbItem* request = held[turn]->children.back();
                size_t requestFields = 0, reportFields = 0;
                if (requestFirst) requestFields = FieldCount(decoded, request);
                reportFields = FieldCount(decoded, reports[turn]);
                if (!requestFirst) requestFields = FieldCount(decoded, request);
                EXPECT_EQ(requestFields, device.requestFields) << "turn " << turn;
                EXPECT_EQ(reportFields, device.reportFields) << "turn " << turn;
            }
        }
    }
}

// The payload of the data packet `index` (0 the SETUP's) from record `from`
// on, as a ring that wrote over it leaves it.
void LoseDataPacket(emu::BusCapture& capture, size_t from, int index)
{
    for (size_t r = from; r < capture.records.size(); ++r)
        if (capture.records[r].IsData() && index-- == 0) {
            capture.records[r].SetPayloadOffset(PacketRecord::kPayloadLost);
            return;
        }
}

// The last turn of a mouse whose report-descriptor read was not captured, or
// was cut short, is described with the layout the mouse read in its turn
// before: alike by the decoder kept from the decoding and by one made after
// the decoders were released (a switch of level does that).
TEST(HidCapture, TheLastTurnWithoutAWholeReadHasItsDevicesLayoutKeptOrReleased)
{
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "its read cut short" : "its read not captured");
        emu::BusTrafficBuilder b(SpeedFull);
        const auto read = [&] {
            return b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kBootMouse.size())), kBootMouse,
                                     {.maxPacket = 8});
        };
        Decoded::Enumerate(b, 6, HidConfiguration(2, kBootMouse.size(), false));
        read();
        b.In(6, 1, PidData0, {1, 2, 3});
        Decoded::Enumerate(b, 6, HidConfiguration(2, kBootMouse.size(), false));
        const size_t last = cut ? read() : 0;
        b.In(6, 1, PidData0, {1, 2, 3});
        emu::BusCapture capture = b.Take();
        if (cut) LoseDataPacket(capture, last, 3);
        Decoded decoded(std::move(capture));
        const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(Offsets(ReportGroup(decoded, reports[1])), Join({Fields(0, 1, 3), {"3/5"}, Fields(8, 8, 2)}))
            << "kept";
        static_cast<CDecoderManager&>(decoded.Manager()).ReleaseDecoders();
        EXPECT_EQ(Offsets(ReportGroup(decoded, reports[1])), Join({Fields(0, 1, 3), {"3/5"}, Fields(8, 8, 2)}))
            << "released";
        EXPECT_EQ(ReportGroup(decoded, reports[0]).items.size(), 6u);
    }
}

// The boot mouse with five buttons and three bits of padding: as long, so a
// mouse that boots with it is the same device to the device tree.
Bytes FiveButtonMouse()
{
    Bytes d = kBootMouse;
    d[15] = 5;  // Usage Maximum
    d[21] = 5;  // Report Count of the buttons
    d[29] = 3;  // Report Size of the padding
    return d;
}

// Turns at one address, each the enumeration of a mouse or a game pad, its
// report descriptor read before its report, after it or not captured. Every
// report is described with a descriptor of its own turn, or else with one
// its own device read in another turn (the last before, else the first
// after), never with another device's.
TEST(HidCapture, EachTurnIsDescribedWithItsOwnDevicesReportDescriptor)
{
    enum Read { Before, After, Unread };
    const Bytes fiveButtons = FiveButtonMouse();
    const struct Device {
        const Bytes* descriptor;
        uint8_t protocol;
        bool pad;
    } mouse{&kBootMouse, 2, false}, changed{&fiveButtons, 2, false}, pad{&kGameController, 0, true};
    // Fields of a report: the boot mouse's 6, the five-button mouse's 8, the
    // pad's 22 behind its report ID; none without a layout.
    const struct {
        const char* name;
        std::vector<std::pair<Device, Read>> turns;
        std::vector<size_t> fields;
    } cases[] = {
        {"a pad, then a mouse twice, its reports before its reads",
         {{pad, Before}, {mouse, After}, {mouse, After}}, {23, 6, 6}},
        {"mouse, pad, the mouse unread, the mouse with a changed descriptor",
         {{mouse, Before}, {pad, Before}, {mouse, Unread}, {changed, Before}}, {6, 23, 6, 8}},
        {"the mouse unread, a pad, the mouse with a changed descriptor, the mouse",
         {{mouse, Unread}, {pad, Before}, {changed, Before}, {mouse, After}}, {8, 23, 8, 6}},
        {"the mouse's last read before it, pads between",
         {{mouse, Before}, {changed, After}, {pad, Before}, {pad, Unread}, {mouse, Unread}, {pad, After}},
         {6, 8, 23, 23, 8, 23}},
        {"the mouse unread twice, then its changed descriptor and its own",
         {{mouse, Unread}, {pad, Before}, {mouse, Unread}, {changed, After}, {mouse, Before}},
         {8, 23, 8, 8, 6}},
        {"the mouse unread between its two reads, a pad never read",
         {{changed, Before}, {mouse, Unread}, {mouse, Before}, {pad, Unread}}, {8, 8, 6, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emu::BusTrafficBuilder b(SpeedFull);
        for (const auto& [device, read] : c.turns) {
            const Bytes& descriptor = *device.descriptor;
            Decoded::Enumerate(b, 6, HidConfiguration(device.protocol, descriptor.size(), device.pad));
            const auto readDescriptor = [&] {
                b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(descriptor.size())), descriptor);
            };
            if (read == Before) readDescriptor();
            b.In(6, 1, PidData0, device.pad ? Bytes{1, 0x01, 0x80, 16, 32, 48, 64, 0x35} : Bytes{1, 2, 3});
            if (read == After) readDescriptor();
        }
        Decoded decoded(b.Take());
        const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
        ASSERT_EQ(reports.size(), c.fields.size());
        // The latest first: no turn's decoder is made before another's.
        for (size_t turn = reports.size(); turn-- > 0;)
            EXPECT_EQ(FieldCount(decoded, reports[turn]), c.fields[turn]) << "turn " << turn;
        // Each turn's decoder made anew, each let go of by the next: what
        // the first found in the level holds for the rest.
        auto& manager = static_cast<CDecoderManager&>(decoded.Manager());
        manager.ReleaseDecoders();
        manager.SetDescribingLimit(1);
        for (size_t turn = 0; turn < reports.size(); ++turn)
            EXPECT_EQ(FieldCount(decoded, reports[turn]), c.fields[turn]) << "again, turn " << turn;
    }
}

// Turns at one address of a mouse (now and then reading a five-button
// descriptor), a keyboard and a game pad in random order, each reading its
// report descriptor before or after its reports, twice or not at all, now and
// then a read whose later packets the capture lacks (which counts as none),
// with NAK runs held before reads, reports and requests. Every class row holds
// the records of its own turn alone and shows its own device's icons; every
// row, the requests inside groups among them, described in random order,
// shows the layout its turn read in force at it, or else the one its device
// read in another turn, the last before it or else the first after.
TEST(HidCapture, RandomTurnsAreEachDescribedWithTheirOwnDevicesLayouts)
{
    enum Layout { None, Mouse, FiveButtons, Keyboard, Pad };
    const size_t inputFields[] = {0, 6, 8, 15, 23};
    const Bytes fiveButtons = FiveButtonMouse();
    const Bytes* descriptors[] = {nullptr, &kBootMouse, &fiveButtons, &kBootKeyboard, &kGameController};
    const struct {
        Layout layout;
        uint8_t protocol;
        Bytes report;
    } devices[] = {{Mouse, 2, {1, 2, 3}}, {Keyboard, 1, {0, 0, 0x04, 0, 0, 0, 0, 0}},
                   {Pad, 0, {1, 0x01, 0x80, 16, 32, 48, 64, 0x35}}};
    enum What { Read, Report, Request };
    struct Event {
        What what;
        size_t turn;
        Layout read = None;  // the descriptor a read carries
        bool naks = false;
        bool cut = false;  // a read whose later packets lost their payload
    };
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto chance = [&](int percent) { return int(random() % 100) < percent; };
        const size_t turns = 3 + random() % 6;
        std::vector<size_t> deviceOf(turns);
        std::vector<std::vector<Event>> plan(turns);
        for (size_t t = 0; t < turns; ++t) {
            deviceOf[t] = random() % 3;
            const Layout own = devices[deviceOf[t]].layout;
            const auto descriptor = [&] { return own == Mouse && chance(30) ? FiveButtons : own; };
            const int reads = int(random() % 3);
            for (int k = 0; k < reads; ++k) plan[t].push_back({Read, t, descriptor(), false, chance(25)});
            for (int k = 0, reports = 1 + int(random() % 2); k < reports; ++k) plan[t].push_back({Report, t});
            if (chance(70)) plan[t].push_back({Request, t});
            std::shuffle(plan[t].begin(), plan[t].end(), random);
            for (Event& e : plan[t]) e.naks = chance(40);
        }

        emu::BusTrafficBuilder b(SpeedFull);
        std::vector<size_t> turnFrom(turns);
        std::vector<Event> events;
        std::map<size_t, size_t> eventAt;  // the record of each event's own transaction or transfer
        std::vector<size_t> cuts;          // the records of the reads cut short
        for (size_t t = 0; t < turns; ++t) {
            const auto& device = devices[deviceOf[t]];
            const Bytes& own = *descriptors[device.layout];
            turnFrom[t] = b.Count();
            Decoded::Enumerate(b, 6, HidConfiguration(device.protocol, own.size(), false));
            for (const Event& e : plan[t]) {
                if (e.naks) b.InNak(6, 1, 1 + int(random() % 3));
                size_t at = 0;
                if (e.what == Read) {
                    const Bytes& bytes = *descriptors[e.read];
                    at = b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(bytes.size())), bytes,
                                           {.maxPacket = 8});
                    if (e.cut) cuts.push_back(at);
                } else if (e.what == Report) {
                    at = b.In(6, 1, PidData0, device.report);
                } else if (device.layout == Keyboard) {
                    at = b.ControlTransfer(6, S::SetupPacket(0x21, 0x09, 0x0200, 0, 1), {0x02});
                } else {
                    at = b.ControlTransfer(6, S::SetupPacket(0x21, 0x0A, 0, 0, 0), {});
                }
                eventAt[at] = events.size();
                events.push_back(e);
            }
        }
        const auto turnOf = [&](uint32_t record) {
            return size_t(std::upper_bound(turnFrom.begin(), turnFrom.end(), record) - turnFrom.begin()) - 1;
        };
        // The layout in force at event `at`, by the order of the events.
        const auto inForce = [&](size_t at, auto accept) {
            Layout before = None, after = None;
            for (size_t k = 0; k < events.size(); ++k) {
                if (events[k].what != Read || events[k].cut || !accept(events[k])) continue;
                if (k < at) before = events[k].read;
                else if (after == None) after = events[k].read;
            }
            return before != None ? before : after;
        };
        const auto expected = [&](size_t at) {
            const Event& e = events[at];
            Layout layout = inForce(at, [&](const Event& r) { return r.turn == e.turn; });
            if (layout == None)
                layout = inForce(at, [&](const Event& r) { return deviceOf[r.turn] == deviceOf[e.turn]; });
            if (e.what == Report) return inputFields[layout];
            return deviceOf[e.turn] == 1 && layout == Keyboard ? size_t(6) : size_t(0);
        };

        emu::BusCapture capture = b.Take();
        for (const size_t at : cuts) LoseDataPacket(capture, at, 2);
        Decoded decoded(std::move(capture));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);
        // Each class row and each request inside a group, with its event.
        std::vector<std::pair<UsbItem*, size_t>> rows;
        size_t reports = 0, requests = 0;
        for (UsbItem* item : decoded.transfers.root.children) {
            if (item->type != 267 && item->type != 269) continue;
            UsbItem* own = item;
            while (own->type == 269 && own->children[0]->type != ItemSetupTransaction) own = own->children.back();
            const auto found = eventAt.find(own->type == 267 ? own->children.back()->firstRecord : own->firstRecord);
            ASSERT_NE(found, eventAt.end()) << "a class row at record " << item->firstRecord;
            const Event& e = events[found->second];
            std::vector<uint32_t> leaves;
            CollectLeaves(item, leaves);
            for (uint32_t leaf : leaves) EXPECT_EQ(turnOf(leaf), e.turn) << "a row of turn " << e.turn;
            if (e.what == Read) continue;
            reports += e.what == Report;
            requests += e.what == Request;
            const bool keyboard = deviceOf[e.turn] == 1;
            EXPECT_EQ(decoded.Row(item).icon, e.what == Report ? (keyboard ? 3 : 1) : (keyboard ? 2 : 0))
                << "turn " << e.turn;
            rows.emplace_back(item, found->second);
            if (own != item) rows.emplace_back(own, found->second);
        }
        EXPECT_EQ(reports, size_t(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.what == Report; })));
        EXPECT_EQ(requests, size_t(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.what == Request; })));
        std::shuffle(rows.begin(), rows.end(), random);
        for (const auto& [row, at] : rows)
            EXPECT_EQ(FieldCount(decoded, row), expected(at))
                << "turn " << events[at].turn << " of " << turns << ", record " << row->firstRecord;
    }
}

// A device of its own product ID enumerated at address 0 and configured at
// address 6, as a test station cycling products through one port sees it.
void EnumerateNewDeviceAt6(emu::BusTrafficBuilder& b, uint16_t product, const Bytes& configuration)
{
    const Bytes device = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x34, 0x12, uint8_t(product), uint8_t(product >> 8),
                          0x00, 0x01, 1, 2, 0, 1};
    b.ControlTransfer(0, S::SetupPacket(0x80, 6, 0x100, 0, 8), Bytes(device.begin(), device.begin() + 8));
    b.ControlTransfer(0, S::SetupPacket(0x00, 5, 6, 0, 0), {});
    b.ControlTransfer(6, S::SetupPacket(0x80, 6, 0x100, 0, 18), device);
    b.ControlTransfer(6, S::SetupPacket(0x80, 6, 0x200, 0, uint16_t(configuration.size())), configuration);
    b.ControlTransfer(6, S::SetupPacket(0x00, 9, 1, 0, 0), {});
}

// A new device each enumeration at one address (a test station cycling
// products through one port), each reading its report descriptor: the
// decoding ends holding a handful of decoders, and describing every row
// reads about as many records a row at 8,000 turns as at 1,000, every report
// with its own turn's layout. So too with a mouse in a reset loop between
// them and every fourth turn's read not captured: a mouse's turn then takes
// the mouse's read from another turn, a new device's has none.
TEST(HidCapture, NewDevicesEachEnumerationHoldAHandfulAndAreDescribedRowByRow)
{
    const Bytes configuration = HidConfiguration(2, kBootMouse.size(), false);
    bool mouseBetween = false;
    const auto recordsPerRow = [&](int devices) {
        emu::BusTrafficBuilder b(SpeedFull);
        size_t laidOut = 0;
        for (int i = 0; i < devices; ++i) {
            const bool mouse = mouseBetween && i % 2;
            EnumerateNewDeviceAt6(b, mouse ? uint16_t(0x7FFF) : uint16_t(0x8000 + i), configuration);
            const bool read = !mouseBetween || i % 4 != 0;
            if (read)
                b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kBootMouse.size())), kBootMouse);
            for (int k = 0, reports = mouseBetween ? 4 : 1; k < reports; ++k, laidOut += read || mouse)
                b.In(6, 1, PidData0, {1, 2, 3});
        }
        emu::CaptureSource source(b.Take());
        CUsbParser parser;
        parser.SetDataSource(&source);
        CollectingSink transactions, transfers;
        EXPECT_EQ(parser.Parse(&transactions), 1);
        std::string tree;
        parser.GetDeviceTree(tree);
        CDecodeFactory factory(ORVANE_CLASSES_DIR);
        CDecoderManager manager(&factory);
        manager.LoadDeviceTree(tree);
        manager.SetHost(&parser);
        manager.SetRoot(&transactions.root);
        EXPECT_EQ(manager.DecodeAll(&transfers), 1);
        // The built-in decoders of addresses 0 and 6, and the last turn's HID decoder.
        EXPECT_EQ(manager.DecoderCount(), 3u) << devices << " devices";
        // Every record a description reads goes through GetRecord from here on.
        source.SetPeekable(false);
        const uint32_t before = source.GetRecordCalls();
        size_t reports = 0, withFields = 0;
        for (UsbItem* item : transfers.root.children) {
            ItemSummary row;
            std::string xml;
            manager.Summarize(item, &row);
            manager.GetDetail(item, xml);
            if (item->type != 267) continue;
            ++reports;
            const auto groups = ReadDetail(xml);
            if (groups.size() == 1 && groups[0].items.size() == 6) ++withFields;
        }
        EXPECT_EQ(reports, size_t(devices * (mouseBetween ? 4 : 1)));
        EXPECT_EQ(withFields, laidOut) << devices << " turns";
        const double perRow = double(source.GetRecordCalls() - before) / double(transfers.root.children.size());
        FreeTransferLevel(&transfers.root);
        manager.ReleaseDecoders();
        return perRow;
    };
    for (const bool between : {false, true}) {
        SCOPED_TRACE(between ? "a mouse between, some reads not captured" : "every read captured");
        mouseBetween = between;
        const double thousand = recordsPerRow(1000), eightThousand = recordsPerRow(8000);
        EXPECT_LT(eightThousand, 2 * thousand) << thousand << " records read a row at 1,000 turns";
    }
}

// A find describes every row of a capture with a new device each enumeration:
// the decoders it makes for the turns handed back are bounded, and a turn
// whose decoder went describes its rows again as it did, in any order. A
// shorter capture decoded next on the same manager is described as a fresh
// manager describes it: nothing found beside the earlier rows is taken for
// its own.
TEST(HidCapture, DecodersMadeToDescribeAreBoundedAndDescribeAsIfKept)
{
    constexpr int kDevices = 1200;
    const Bytes mouse = HidConfiguration(2, kBootMouse.size(), false);
    const Bytes keyboard = HidConfiguration(1, kCompositeKeyboard.size(), false);
    struct Level {
        explicit Level(emu::BusCapture capture) : source(std::move(capture)) { parser.SetDataSource(&source); }
        emu::CaptureSource source;
        CUsbParser parser;
        CollectingSink transactions, transfers;
        std::string tree;
    };
    // The enumerations from the `first`th on, `count` of them, parsed.
    const auto parse = [&](int first, int count) {
        emu::BusTrafficBuilder b(SpeedFull);
        for (int i = first; i < first + count; ++i) {
            // A mouse, a keyboard with report IDs, a mouse whose report
            // descriptor read was not captured (no layout: it never comes back),
            // and between them one mouse in a reset loop whose every other read
            // was not captured (its read in another turn stands in).
            const int kind = i % 4;
            const bool again = kind == 3;
            const Bytes& configuration = kind == 1 ? keyboard : mouse;
            const Bytes& report = kind == 1 ? kCompositeKeyboard : kBootMouse;
            EnumerateNewDeviceAt6(b, again ? uint16_t(0x7FFF) : uint16_t(0x8000 + i), configuration);
            if (kind != 2 && !(again && i % 8 == 7))
                b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(report.size())), report);
            if (kind == 1) {
                b.In(6, 1, PidData0, {1, 0x02, 0, 0x04, uint8_t(i), 0, 0, 0, 0});
                b.ControlTransfer(6, S::SetupPacket(0x21, 0x09, 0x0201, 0, 2), {1, uint8_t(i & 0x1F)});
            } else {
                b.In(6, 1, PidData0, {1, uint8_t(i), uint8_t(i >> 8)});
            }
        }
        auto level = std::make_unique<Level>(b.Take());
        EXPECT_EQ(level->parser.Parse(&level->transactions), 1);
        level->parser.GetDeviceTree(level->tree);
        return level;
    };
    const std::unique_ptr<Level> whole = parse(0, kDevices);
    CDecodeFactory factory(ORVANE_CLASSES_DIR);
    const auto describe = [](CDecoderManager& manager, UsbItem* item) {
        ItemSummary row;
        std::string xml;
        uint8_t data[64] = {};
        manager.Summarize(item, &row);
        manager.GetDetail(item, xml);
        const int32_t size = manager.GetData(item, data, sizeof data);
        const int32_t lost = manager.OnNotify(NotifyPayloadLost, item, 0);
        return row.name + '|' + std::to_string(row.status) + '|' + std::to_string(row.size) + '|' +
               std::to_string(size) + '|' + std::string(data, data + std::clamp(size, 0, 64)) + '|' +
               std::to_string(lost) + '|' + xml;
    };
    const auto decoded = [&](CDecoderManager& manager, Level& level) {
        manager.LoadDeviceTree(level.tree);
        manager.SetHost(&level.parser);
        manager.SetRoot(&level.transactions.root);
        EXPECT_EQ(manager.DecodeAll(&level.transfers), 1);
    };
    const UsbItemList& rows = whole->transfers.root.children;

    // Every decoder made to describe kept: the descriptions to match.
    std::vector<std::string> expected;
    size_t handful = 0;
    {
        CDecoderManager manager(&factory);
        manager.SetDescribingLimit(SIZE_MAX);
        decoded(manager, *whole);
        handful = manager.DecoderCount();
        for (UsbItem* item : rows) expected.push_back(describe(manager, item));
        EXPECT_GT(manager.DecoderCount(), size_t(kDevices)) << "every turn's decoder kept";
        FreeTransferLevel(&whole->transfers.root);
    }
    EXPECT_LE(handful, 3u);
    const size_t reports = size_t(std::count_if(expected.begin(), expected.end(), [](const std::string& d) {
        return d.rfind("Input Report|", 0) == 0;
    }));
    EXPECT_EQ(reports, size_t(kDevices));
    const size_t laidOut = size_t(std::count_if(expected.begin(), expected.end(), [](const std::string& d) {
        return d.rfind("Input Report|", 0) == 0 && d.find("<item ") != std::string::npos;
    }));
    EXPECT_EQ(laidOut, size_t(kDevices) / 4 * 3) << "but the new mice never read";

    CDecoderManager manager(&factory);
    decoded(manager, *whole);
    ASSERT_EQ(rows.size(), expected.size());
    std::vector<uint32_t> order(rows.size());
    for (uint32_t k = 0; k < order.size(); ++k) order[k] = k;
    const auto describedAlike = [&](const char* how) {
        size_t mismatches = 0;
        for (uint32_t k : order) {
            if (describe(manager, rows[k]) != expected[k] && ++mismatches <= 3)
                ADD_FAILURE() << how << ": row " << k << " at record " << rows[k]->firstRecord;
            // Bounded all along, not only at the end.
            if (manager.DecoderCount() > CDecoderManager::kDescribingDecoders + handful) {
                ADD_FAILURE() << how << ": " << manager.DecoderCount() << " decoders at row " << k;
                return;
            }
        }
        EXPECT_EQ(mismatches, 0u) << how;
        EXPECT_LE(manager.HandBackKeyCount(), CDecoderManager::kDescribingDecoders + handful) << how;
    };
    describedAlike("in order");
    // Every turn's decoder made again, each for the rows of its turn.
    std::reverse(order.begin(), order.end());
    describedAlike("in reverse");
    // A row at a time from anywhere: a decoder is made for nearly every row.
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    order.resize(order.size() / 4);
    describedAlike("at random");
    FreeTransferLevel(&whole->transfers.root);

    // Its rows stand elsewhere than the earlier level's.
    const std::unique_ptr<Level> shorter = parse(2, 150);
    const UsbItemList& shorterRows = shorter->transfers.root.children;
    expected.clear();
    {
        CDecoderManager fresh(&factory);
        decoded(fresh, *shorter);
        for (UsbItem* item : shorterRows) expected.push_back(describe(fresh, item));
        FreeTransferLevel(&shorter->transfers.root);
    }
    decoded(manager, *shorter);
    ASSERT_EQ(shorterRows.size(), expected.size());
    size_t mismatches = 0;
    for (uint32_t k = 0; k < shorterRows.size(); ++k)
        if (describe(manager, shorterRows[k]) != expected[k] && ++mismatches <= 3)
            ADD_FAILURE() << "the shorter level: row " << k << " at record " << shorterRows[k]->firstRecord;
    EXPECT_EQ(mismatches, 0u);
    FreeTransferLevel(&shorter->transfers.root);
}

TEST(HidCapture, TheRealMouseCaptureDecodesEveryReport)
{
    auto capture = Decoded::RealCapture("usb_ls_mouse");
    if (!capture) GTEST_SKIP() << "real captures not present";
    Decoded decoded(std::move(*capture));
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    ExpectMouseDecoded(decoded, 1);
}

// Each (report ID, kind) is a report of its own, laid out as the HID
// standard says: input reports, SET_REPORT and GET_REPORT read with their own.
TEST(HidCapture, ACompositeKeyboardDecodesEachReportWithItsOwnLayout)
{
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 4, HidConfiguration(1, kCompositeKeyboard.size(), false));
    b.ControlTransfer(4, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kCompositeKeyboard.size())), kCompositeKeyboard);
    b.In(4, 1, PidData0, {1, 0x02, 0, 0x04, 0x05, 0, 0, 0, 0});  // LeftShift, A, B
    b.In(4, 1, PidData1, {2, 0xE9, 0x00});                       // Volume Increment
    b.ControlTransfer(4, S::SetupPacket(0x21, 0x09, 0x0201, 0, 2), {1, 0x02});  // SET_REPORT output 1: CapsLock
    b.ControlTransfer(4, S::SetupPacket(0xA1, 0x01, 0x0301, 0, 9), {1, 10, 20, 30, 40, 50, 60, 70, 80});
    Decoded decoded(b.Take());

    const auto descriptor = decoded.Rows([](UsbItem*, const ItemSummary& row) { return row.name == "GetDescriptor ( Report )"; });
    ASSERT_EQ(descriptor.size(), 1u);
    std::vector<std::string> titles;
    for (const DetailGroup& group : decoded.Groups(descriptor[0])) titles.push_back(group.name);
    EXPECT_EQ(titles, (std::vector<std::string>{"HID Report Descriptor", "Input Report 1", "Output Report 1",
                                                "Feature Report 1", "Input Report 2"}));

    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 2u);
    const DetailGroup keys = ReportGroup(decoded, reports[0]);
    EXPECT_EQ(keys.name, "Input report");
    EXPECT_EQ(Offsets(keys), Join({{"0/8"}, Fields(8, 1, 8), {"16/8"}, Fields(24, 8, 6)}));
    ASSERT_EQ(keys.items.size(), 16u);
    EXPECT_EQ(keys.items[0].name, "Report ID");
    EXPECT_EQ(keys.items[0].value, "1");
    EXPECT_EQ(keys.items[2].value, "1") << "LeftShift";
    EXPECT_EQ(keys.items[1].value, "0");
    const DetailGroup consumer = ReportGroup(decoded, reports[1]);
    EXPECT_EQ(Offsets(consumer), (std::vector<std::string>{"0/8", "8/16"}));
    ASSERT_EQ(consumer.items.size(), 2u);
    EXPECT_EQ(consumer.items[0].value, "2");
    EXPECT_NE(consumer.items[1].value, " (233)") << "a consumer usage, named when usb.ids names it";

    const auto requests = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 269; });
    ASSERT_EQ(requests.size(), 2u);
    const DetailGroup leds = ReportGroup(decoded, requests[0]);
    EXPECT_EQ(leds.name, "Output report");
    EXPECT_EQ(Offsets(leds), Join({{"0/8"}, Fields(8, 1, 5), {"13/3"}}));
    EXPECT_EQ(Values(leds), (std::vector<std::string>{"1", "0", "1", "0", "0", "0", "0"}));
    const DetailGroup feature = ReportGroup(decoded, requests[1]);
    EXPECT_EQ(feature.name, "Feature report");
    EXPECT_EQ(Offsets(feature), Join({{"0/8"}, Fields(8, 8, 8)}));
    EXPECT_EQ(Values(feature), (std::vector<std::string>{"1", "10", "20", "30", "40", "50", "60", "70", "80"}));
}

TEST(HidCapture, AGameControllerKeepsItsInputOutputAndFeatureReportsApart)
{
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 6, HidConfiguration(0, kGameController.size(), true));
    b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kGameController.size())), kGameController);
    b.In(6, 1, PidData0, {1, 0x01, 0x80, 16, 32, 48, 64, 0x35});  // buttons 1 and 16, four axes, hat 5
    Bytes rumble = {2};
    for (uint8_t k = 0; k < 48; ++k) rumble.push_back(k);
    b.ControlTransfer(6, S::SetupPacket(0x21, 0x09, 0x0202, 0, uint16_t(rumble.size())), rumble);
    b.ControlTransfer(6, S::SetupPacket(0xA1, 0x01, 0x0304, 0, 5), {4, 0x34, 0x12, 0xFF, 0xFF});
    Bytes calibration = {5};
    calibration.resize(64, 7);
    b.ControlTransfer(6, S::SetupPacket(0xA1, 0x01, 0x0305, 0, 64), calibration);
    b.ControlTransfer(6, S::SetupPacket(0xA1, 0x01, 0x0303, 0, 17), Bytes(17, 3));
    Decoded decoded(b.Take());

    const auto descriptor = decoded.Rows([](UsbItem*, const ItemSummary& row) { return row.name == "GetDescriptor ( Report )"; });
    ASSERT_EQ(descriptor.size(), 1u);
    std::vector<std::string> titles;
    for (const DetailGroup& group : decoded.Groups(descriptor[0])) titles.push_back(group.name + ":" + std::to_string(group.items.size()));
    EXPECT_EQ(titles, (std::vector<std::string>{"HID Report Descriptor:" + std::to_string(decoded.Groups(descriptor[0])[0].items.size()),
                                                "Input Report 1:22", "Output Report 2:48", "Feature Report 3:16",
                                                "Feature Report 4:2", "Feature Report 5:63"}));

    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 1u);
    const DetailGroup input = ReportGroup(decoded, reports[0]);
    EXPECT_EQ(Offsets(input), Join({{"0/8"}, Fields(8, 1, 16), Fields(24, 8, 4), {"56/4", "60/4"}}));
    const auto values = Values(input);
    ASSERT_EQ(values.size(), 23u);
    EXPECT_EQ(values[1], "1");
    EXPECT_EQ(values[2], "0");
    EXPECT_EQ(values[16], "1") << "button 16";
    EXPECT_EQ(std::vector<std::string>(values.begin() + 17, values.end()),
              (std::vector<std::string>{"16", "32", "48", "64", "5", "3"}));

    const auto requests = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 269; });
    ASSERT_EQ(requests.size(), 4u);
    const DetailGroup output = ReportGroup(decoded, requests[0]);
    EXPECT_EQ(output.name, "Output report");
    EXPECT_EQ(Offsets(output), Join({{"0/8"}, Fields(8, 8, 48)}));
    EXPECT_EQ(output.items.back().value, "47");
    const DetailGroup pair = ReportGroup(decoded, requests[1]);
    EXPECT_EQ(pair.name, "Feature report");
    EXPECT_EQ(Offsets(pair), (std::vector<std::string>{"0/8", "8/16", "24/16"}));
    EXPECT_EQ(Values(pair), (std::vector<std::string>{"4", "4660", "-1"}));
    EXPECT_EQ(Offsets(ReportGroup(decoded, requests[2])), Join({{"0/8"}, Fields(8, 8, 63)}));
    EXPECT_EQ(Offsets(ReportGroup(decoded, requests[3])), Join({{"0/8"}, Fields(8, 8, 16)}));
}

// Nothing captured vanishes from the transfer level: interrupt OUT traffic goes
// on as it is, a NAK run no report follows stands alone, and the run before a
// report goes into it.
TEST(HidCapture, OutTrafficAndRunsWithoutAReportReachTheTransferLevel)
{
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 6, HidConfiguration(0, kGameController.size(), true));
    b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kGameController.size())), kGameController);
    b.InNak(6, 1, 3);
    b.Out(6, 2, PidData0, {2, 1});
    b.Out(6, 2, PidData1, {2, 1}, PidNak);
    b.InNak(6, 1, 2);
    const size_t report = b.In(6, 1, PidData0, {1, 0x01, 0x80, 16, 32, 48, 64, 0x35});
    b.Out(6, 2, PidData1, {2, 1});
    Decoded decoded(b.Take());
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    decoded.ExpectEveryIconInItsList();

    std::vector<std::string> rows;
    for (UsbItem* item : decoded.transfers.root.children)
        if (item->address == 6 && item->endpoint != 0) rows.push_back(std::to_string(item->type) + "." + std::to_string(item->endpoint));
    EXPECT_EQ(rows, (std::vector<std::string>{"17.2", "17.2", "29.1", "267.1", "17.2"}));
    const auto reports = decoded.Rows([](UsbItem* item, const ItemSummary&) { return item->type == 267; });
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0]->children.size(), 2u) << "the run before it, and the report";
    EXPECT_EQ(reports[0]->children[1]->firstRecord, report);
}

// Standard requests to the interface stay the standard decoder's; every row,
// a held NAK run's group among them, shows an icon of its own list.
TEST(HidCapture, StandardRequestsStayStandardAndEveryRowHasItsIcon)
{
    emu::BusTrafficBuilder b(SpeedFull);
    const Bytes configuration = HidConfiguration(1, kCompositeKeyboard.size(), false);
    Decoded::Enumerate(b, 4, configuration);
    b.ControlTransfer(4, S::SetupPacket(0x81, 6, 0x2100, 0, 9), Bytes(configuration.begin() + 18, configuration.begin() + 27));
    b.ControlTransfer(4, S::SetupPacket(0x01, 11, 0, 0, 0), {});  // SET_INTERFACE
    b.ControlTransfer(4, S::SetupPacket(0x81, 0, 0, 0, 2), {0, 0});  // GET_STATUS of the interface
    b.ControlTransfer(4, S::SetupPacket(0x21, 0x0A, 0, 0, 0), {});  // SET_IDLE
    b.InNak(4, 1, 3);
    b.ControlTransfer(4, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(kCompositeKeyboard.size())), kCompositeKeyboard);
    b.InNak(4, 1, 2);
    b.ControlTransfer(4, S::SetupPacket(0x81, 0, 0, 0, 2), {0, 0});
    b.In(4, 1, PidData0, {1, 0, 0, 0x04, 0, 0, 0, 0, 0});
    Decoded decoded(b.Take());
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    decoded.ExpectEveryIconInItsList();

    std::vector<std::string> rows;
    for (UsbItem* item : decoded.transfers.root.children)
        if (item->address == 4 && item->firstRecord > 0) rows.push_back(std::to_string(item->type) + " " + decoded.Row(item).name);
    const std::vector<std::string> tail(rows.end() - 7, rows.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"256 GetDescriptor ( )", "256 SetInterface (  )", "256 GetStatus (  )",
                                              "269 SetIdle (  )", "269 GetDescriptor ( Report )", "269 GetStatus (  )",
                                              "267 Input Report"}));
    const auto hidDescriptor = decoded.Rows([](UsbItem* item, const ItemSummary& row) {
        return item->type == ItemControlTransfer && row.name == "GetDescriptor ( )";
    });
    ASSERT_EQ(hidDescriptor.size(), 1u);
    EXPECT_FALSE(decoded.Groups(hidDescriptor[0]).empty()) << "the standard decoder's detail";
    const auto heldStatus = decoded.Rows([](UsbItem* item, const ItemSummary& row) {
        return item->type == 269 && row.name == "GetStatus (  )";
    });
    ASSERT_EQ(heldStatus.size(), 1u);
    std::string standard, held;
    ASSERT_EQ(decoded.Manager().GetDetail(heldStatus[0]->children.back(), standard), 1);
    ASSERT_EQ(decoded.Manager().GetDetail(heldStatus[0], held), 1);
    EXPECT_EQ(held, standard) << "a held run's group shows its transfer's detail";
}

}  // namespace
