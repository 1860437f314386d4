// Typing, rows and data of audio class requests, and the setup packet's
// fields, on the scripted host, from the audio class standard's bytes.
#include <gtest/gtest.h>

#include "AudioRequests.h"
#include "AudioTestData.h"
#include "DetailReader.h"

using namespace orvane;
using namespace orvane::audio;
using namespace orvane::audio::testing;

namespace {

class AudioDecoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.SetDevice(4, 0, BusSpeedFull);
        decoder = MakeDecoder(host);
    }
    UsbItem* Typed(const Bytes& setup, const Bytes& data = {})
    {
        UsbItem* transfer = host.ControlTransfer(setup, data);
        EXPECT_EQ(decoder->OnTransaction(transfer), transfer) << "nothing is held or grouped";
        return transfer;
    }
    ItemSummary Row(UsbItem* item) { return DescribedRow(*decoder, item); }
    Bytes Data(UsbItem* item)
    {
        Bytes bytes(size_t(std::max(decoder->GetData(item, nullptr, 0), 0)));
        decoder->GetData(item, bytes.data(), uint32_t(bytes.size()));
        return bytes;
    }

    CFakeHost host;
    std::unique_ptr<CClassDecoder> decoder;
};

TEST_F(AudioDecoder, ClassRequestsAreTypedAndNamedByTheirTarget)
{
    struct Case {
        Bytes setup;
        uint16_t type;
        const char* name;  // null: described by the host
        int32_t icon;
    };
    const Case cases[] = {
        {SetupBytes(0x21, 0x01, 0x0200, 0x0500, 2), 0x601, "SetCur( Feature Unit 5 , Volume )", 1},
        {SetupBytes(0xA1, 0x81, 0x0200, 0x0500, 2), 0x681, "GetCur( Feature Unit 5 , Volume )", 0},
        {SetupBytes(0xA1, 0x82, 0x0101, 0x0500, 1), 0x682, "GetMin( Feature Unit 5 , Mute )", 0},
        {SetupBytes(0xA1, 0x84, 0x0B00, 0x0500, 1), 0x684, "GetRes( Feature Unit 5 )", 0},
        {SetupBytes(0xA2, 0x81, 0x0100, 0x0081, 3), 0x981, "GetCur( Sampling Frequency , Endpoint 129 )", 0},
        {SetupBytes(0x22, 0x01, 0x0200, 0x0001, 1), 0x901, "SetCur( Pitch Control , Endpoint 1 )", 1},
        {SetupBytes(0x22, 0x04, 0x0000, 0x0001, 1), 0x904, "SetRes( Undefined , Endpoint 1 )", 1},
        {SetupBytes(0x22, 0x03, 0x0700, 0x0001, 1), 0x903, "SetMax( Error Control Selector , Endpoint 1 )", 1},
        {SetupBytes(0xA1, 0x81, 0x0102, 0x0400, 2), 0x481, "GetCur( Mixer Unit 4 )", 0},
        {SetupBytes(0x21, 0x01, 0x0100, 0x0100, 1), 0x201, "SetCur( Input Terminal Terminal 1 , Copy Protect )", 1},
        {SetupBytes(0x21, 0x01, 0x0000, 0x0600, 1), 0x501, "SetCur( Selector Unit 6 )", 1},
        {SetupBytes(0x21, 0x01, 0x0400, 0x0700, 1), 0x701, "SetCur( Processing Unit 7 )", 1},
        {SetupBytes(0xA1, 0x81, 0x0100, 0x0800, 1), 0x881, "GetCur( Extension Unit 8 , Enable Extension Unit )", 0},
        // Memory and status requests, whatever their recipient.
        {SetupBytes(0x21, 0x05, 0x0010, 0x0401, 4), 0x1005, "SetMem( Interface 1 , Entity 4 )", 1},
        {SetupBytes(0xA2, 0x85, 0x0000, 0x0081, 4), 0x1085, "GetMem( Endpoint 129 )", 0},
        {SetupBytes(0xA0, 0xFF, 0x0000, 0x0000, 1), 0x10FF, "GetStat", 0},
        // A device recipient is typed by the entity, its row names no target.
        {SetupBytes(0x20, 0x01, 0x0200, 0x0500, 2), 0x601, "SetCur", 1},
        // An entity the table lacks, or the header's ID, stays a control transfer.
        {SetupBytes(0x21, 0x01, 0x0200, 0x0900, 2), ItemControlTransfer, nullptr, 0},
        {SetupBytes(0x21, 0x01, 0x0200, 0x0000, 2), ItemControlTransfer, nullptr, 0},
        {SetupBytes(0x21, 0x01, 0x0200, 0x0501, 2), ItemControlTransfer, nullptr, 0},
        // Standard and vendor requests pass unchanged.
        {SetupBytes(0x01, 0x0B, 0x0001, 0x0001, 0), ItemControlTransfer, nullptr, 0},
        {SetupBytes(0xC1, 0x81, 0x0200, 0x0500, 2), ItemControlTransfer, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.setup));
        const uint16_t wLength = uint16_t(c.setup[6] | c.setup[7] << 8);
        UsbItem* transfer = Typed(c.setup, Bytes(wLength, 0x11));
        EXPECT_EQ(transfer->type, c.type);
        if (!c.name) continue;
        const ItemSummary row = Row(transfer);
        EXPECT_EQ(row.name, c.name);
        EXPECT_EQ(row.icon, c.icon);
        EXPECT_EQ(row.status, StatusOk);
        EXPECT_EQ(row.size, wLength);
        const ImageList* icons = decoder->GetImageList(transfer);
        ASSERT_NE(icons, nullptr);
        EXPECT_LT(uint32_t(row.icon), icons->count) << "the row's icon is in the strip";
    }
}

TEST_F(AudioDecoder, OtherItemsPassUnchangedToTheHost)
{
    UsbItem* iso = host.Transaction(ItemOutTransaction, kNone, Bytes(192, 1));
    UsbItem* noSetup = host.Item(ItemControlTransfer, {host.In({1, 2})});
    for (UsbItem* item : {iso, noSetup}) {
        const uint16_t type = item->type;
        EXPECT_EQ(decoder->OnTransaction(item), item);
        EXPECT_EQ(item->type, type);
    }
    ItemSummary row;
    EXPECT_EQ(decoder->Summarize(iso, &row), 1);
    EXPECT_EQ(row.name, "OUT transaction") << "the host's row";
    EXPECT_EQ(decoder->GetData(iso, nullptr, 0), 192);
    EXPECT_EQ(decoder->GetImageList(iso), nullptr);
    EXPECT_EQ(decoder->OnTransaction(nullptr), nullptr) << "nothing held back";
}

TEST_F(AudioDecoder, TheStandardsSamplingFrequencyRequestCarries44100Hz)
{
    UsbItem* transfer = Typed(SetupBytes(0x22, 0x01, 0x0100, 0x0081, 3), {0x44, 0xAC, 0x00});
    ASSERT_EQ(transfer->type, 0x901);
    EXPECT_EQ(Data(transfer), (Bytes{0x44, 0xAC, 0x00}));
    const auto groups = ReadDetail([&] {
        std::string xml;
        EXPECT_EQ(decoder->GetDetail(transfer, xml), 1);
        return xml;
    }());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, "Frequency");
    ASSERT_EQ(groups[0].items.size(), 1u);
    EXPECT_EQ(groups[0].items[0].value, "44100 Hz");
}

TEST_F(AudioDecoder, TheDataStageCountsWhatWasAcknowledgedOnce)
{
    const Bytes getVolume = SetupBytes(0xA1, 0x81, 0x0200, 0x0500, 2);
    struct Case {
        const char* what;
        std::vector<UsbItem*> stages;  // after the SETUP
        Bytes data;
        int32_t size, status;
    };
    const Case cases[] = {
        {"answered in full", {host.In({0x00, 0xF6}), host.Out({})}, {0x00, 0xF6}, 2, StatusOk},
        {"a short answer", {host.In({0xF6}), host.Out({})}, {0xF6}, 1, MakeItemStatus(StatusOk, ErrorClassDataLength)},
        {"a NAKed try, then the answer",
         {host.In({}, PidNak), host.In({0x00, 0xF6}), host.Out({})}, {0x00, 0xF6}, 2, StatusOk},
        {"an answer the host did not acknowledge, then the repeat",
         {host.In({0x00, 0xF6}, kNone), host.In({0x00, 0xF6}), host.Out({})}, {0x00, 0xF6}, 2, StatusOk},
        {"a stalled data stage", {host.In({}, PidStall)}, {}, -1, StatusStall},
        {"an answer longer than asked",
         {host.In({1, 2, 3}), host.Out({})}, {1, 2, 3}, 3, MakeItemStatus(StatusOk, ErrorClassDataLength)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<UsbItem*> children{host.Transaction(ItemSetupTransaction, PidAck, getVolume)};
        children.insert(children.end(), c.stages.begin(), c.stages.end());
        UsbItem* transfer = host.Item(ItemControlTransfer, children);
        decoder->OnTransaction(transfer);
        ASSERT_EQ(transfer->type, 0x681);
        const ItemSummary row = Row(transfer);
        EXPECT_EQ(row.size, c.size);
        EXPECT_EQ(row.status, c.status);
        EXPECT_EQ(Data(transfer), c.data);
        EXPECT_EQ(row.address, 4);
        EXPECT_EQ(row.speed, BusSpeedFull);
        // From the SETUP's start to the end of the last stage.
        const ItemSummary* last = host.Row(children.back());
        EXPECT_EQ(row.time, host.Row(children.front())->time);
        EXPECT_EQ(row.duration, int32_t(last->time - row.time + last->duration));
    }
}

// A request shows its data stage alone: a status stage or a NAKed try whose
// payload the capture lacks leaves its data whole; a data stage that lacks
// some says so, in the data and in the detail.
TEST_F(AudioDecoder, ARequestLostPayloadOnlyWhereItsDataStageLacksIt)
{
    const Bytes volume = {0x00, 0xF6};
    for (const bool in : {true, false}) {
        SCOPED_TRACE(in ? "GET_CUR" : "SET_CUR");
        UsbItem* setup = host.Transaction(ItemSetupTransaction, PidAck,
                                          SetupBytes(in ? 0xA1 : 0x21, in ? 0x81 : 0x01, 0x0200, 0x0500, 2));
        const uint16_t stage = in ? ItemInTransaction : ItemOutTransaction;
        UsbItem* refused = host.Transaction(stage, PidNak, in ? Bytes{} : volume);
        UsbItem* data = host.Transaction(stage, PidAck, volume);
        UsbItem* status = host.Transaction(in ? ItemOutTransaction : ItemInTransaction, PidAck);
        UsbItem* transfer = host.Item(ItemControlTransfer, {setup, refused, data, status});
        decoder->OnTransaction(transfer);
        ASSERT_EQ(transfer->type, in ? 0x681 : 0x601);
        const auto detail = [&] { return ReadDetail(DescribedDetail(*decoder, transfer)); };
        host.LosePayload(refused);
        host.LosePayload(status);
        EXPECT_EQ(decoder->OnNotify(NotifyPayloadLost, transfer, 0), 0) << "its data are whole";
        EXPECT_EQ(Data(transfer), volume);
        auto groups = detail();
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].name, "Volume");

        host.LosePayload(data);
        EXPECT_EQ(decoder->OnNotify(NotifyPayloadLost, transfer, 0), 1);
        EXPECT_TRUE(Data(transfer).empty());
        groups = detail();
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].name, "Transfer");
        ASSERT_EQ(groups[0].items.size(), 1u);
        EXPECT_EQ(groups[0].items[0].value, kPayloadLostText);
    }
}

TEST_F(AudioDecoder, ARequestWithoutDataIsFlaggedAsTheListShowsIt)
{
    // wLength 0 leaves no data bytes, so the size stays empty and differs.
    UsbItem* transfer = Typed(SetupBytes(0x21, 0x01, 0x0100, 0x0500, 0));
    ASSERT_EQ(transfer->type, 0x601);
    const ItemSummary row = Row(transfer);
    EXPECT_EQ(row.size, -1);
    EXPECT_EQ(row.status, MakeItemStatus(StatusOk, ErrorClassDataLength));
    EXPECT_EQ(row.name, "SetCur( Feature Unit 5 , Mute )");
}

TEST_F(AudioDecoder, GetDataIsBoundedByTheCallersRoom)
{
    UsbItem* transfer = Typed(SetupBytes(0xA1, 0x81, 0x02FF, 0x0500, 600), Bytes(600, 0x7E));
    ASSERT_NE(transfer->type, ItemControlTransfer);
    uint8_t buffer[100 + 8];
    std::fill(std::begin(buffer), std::end(buffer), 0xCD);
    EXPECT_EQ(decoder->GetData(transfer, buffer, 100), 600) << "the whole length is answered";
    EXPECT_EQ(buffer[99], 0x7E);
    EXPECT_EQ(buffer[100], 0xCD) << "nothing past the room";
    uint32_t size = 0;
    decoder->OnNotify(NotifyDataLength, transfer, reinterpret_cast<intptr_t>(&size));
    EXPECT_EQ(size, 600u);
}

TEST_F(AudioDecoder, OnlyTheFirstConfigurationBuildsTheTable)
{
    EXPECT_TRUE(decoder->Notified());
    const Bytes other = Configuration(Join({ControlInterface(0), kHeader, {7, 0x24, 0x05, 5, 1, 4, 0}}));
    decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(other.data()), intptr_t(other.size()));
    EXPECT_EQ(decoder->Entities().FindEntityType(0, 5), SubtypeFeatureUnit);
    EXPECT_EQ(Typed(SetupBytes(0x21, 0x01, 0x0200, 0x0500, 2), {0, 0})->type, 0x601);
}

TEST_F(AudioDecoder, TheSetupPacketIsTheFirstAcknowledgedOne)
{
    const Bytes setup = SetupBytes(0xA1, 0x81, 0x0200, 0x0500, 2);
    UsbItem* transfer = host.Item(ItemControlTransfer, {host.Transaction(ItemSetupTransaction, PidNak, SetupBytes(0, 0, 0, 0, 0)),
                                                        host.Transaction(ItemSetupTransaction, PidAck, setup),
                                                        host.In({0x00, 0xF6})});
    const auto packet = decoder->GetSetupPacket(transfer);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->bRequest, GetCur);
    EXPECT_EQ(packet->wIndex, 0x0500);
    // The type comes from the first SETUP whatever its handshake; the target
    // is named only from a first SETUP that was acknowledged.
    EXPECT_EQ(decoder->OnTransaction(transfer)->type, ItemControlTransfer);
    EXPECT_FALSE(decoder->GetSetupPacket(host.Item(ItemControlTransfer, {host.Transaction(ItemSetupTransaction, PidAck, {1, 2})})));
}

TEST(AudioHandshake, TheLastPacketOrTheTransactionsHandshake)
{
    CFakeHost host;
    EXPECT_EQ(CClassDecoder::GetHandshake(*host.In({1})), 0);
    EXPECT_EQ(CClassDecoder::GetHandshake(*host.In({1}, PidNyet)), 1);
    EXPECT_EQ(CClassDecoder::GetHandshake(*host.In({}, PidNak)), 2);
    EXPECT_EQ(CClassDecoder::GetHandshake(*host.In({}, PidStall)), -1);
    EXPECT_EQ(CClassDecoder::GetHandshake(*host.In({}, kNone)), -1);
    UsbItem* packets = host.Item(ItemInTransaction, {host.Item(PidIn), host.Item(PidData1), host.Item(PidNyet)}, PidAck);
    EXPECT_EQ(CClassDecoder::GetHandshake(*packets), 1) << "the packet that closed it";
}

// ---------------------------------------------------------------- setup fields

TEST_F(AudioDecoder, SetupFieldsSpellOutTheAudioAddressing)
{
    struct Case {
        Bytes setup;
        std::vector<std::string> values;  // recipient, type, direction, bRequest, wValue, wIndex, wLength
    };
    const Case cases[] = {
        {SetupBytes(0xA1, 0x81, 0x0201, 0x0500, 2),
         {"Interface", "Class", "Device-to-host", "GET_CUR", "Control 2 , Channel 1", "Interface 0 , Entity 5", "2"}},
        {SetupBytes(0x22, 0x01, 0x0100, 0x0001, 3),
         {"Endpoint", "Class", "Host-to-device", "SET_CUR", "Control 1", "Endpoint 1", "3"}},
        {SetupBytes(0xA1, 0x85, 0x0010, 0x0401, 4),
         {"Interface", "Class", "Device-to-host", "GET_MEM", "offset 16", "Interface 1 , Entity 4", "4"}},
        {SetupBytes(0xA0, 0x85, 0x0010, 0x0401, 4), {"Device", "Class", "Device-to-host", "GET_MEM", "16", "1025", "4"}},
        {SetupBytes(0xA2, 0xFF, 0x0003, 0x0081, 1),
         {"Endpoint", "Class", "Device-to-host", "GET_STAT", "3", "Endpoint 129", "1"}},
        {SetupBytes(0x21, 0x01, 0x0201, 0x0400, 2),
         {"Interface", "Class", "Host-to-device", "SET_CUR", "Input Channel 2 , Output Channel 1", "Interface 0 , Entity 4", "2"}},
        {SetupBytes(0x21, 0x01, 0x0105, 0x0300, 1),
         {"Interface", "Class", "Host-to-device", "SET_CUR", "Control 1", "Interface 0 , Entity 3", "1"}},
        // A unit the table lacks keeps wValue in decimal.
        {SetupBytes(0x21, 0x01, 0x0105, 0x0900, 1),
         {"Interface", "Class", "Host-to-device", "SET_CUR", "261", "Interface 0 , Entity 9", "1"}},
        {SetupBytes(0xC1, 0x05, 0x0000, 0x0000, 0),
         {"Interface", "Vendor", "Device-to-host", "5", "0", "Interface 0 , Entity 0", "0"}},
        {SetupBytes(0xA1, 0x07, 0x0000, 0x0500, 0),
         {"Interface", "Class", "Device-to-host", "", "Control 0 , Channel 0", "Interface 0 , Entity 5", "0"}},
        {SetupBytes(0x81, 0x06, 0x2200, 0x0000, 64),
         {"Interface", "Standard", "Device-to-host", "6", "8704", "Interface 0 , Entity 0", "64"}},
        {SetupBytes(0x25, 0x01, 0x0000, 0x0000, 0), {"Reserved", "Class", "Host-to-device", "SET_CUR", "0", "Interface 0 , Entity 0", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.setup));
        UsbItem* setup = host.Transaction(ItemSetupTransaction, PidAck, c.setup);
        std::string xml;
        ASSERT_EQ(decoder->GetDetail(setup, xml), 1);
        const auto groups = ReadDetail(xml);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].name, "SETUP transaction");
        ASSERT_EQ(groups[0].items.size(), 7u);
        const int64_t offsets[] = {0, 5, 7, 8, 16, 32, 48};
        for (size_t i = 0; i < 7; ++i) {
            EXPECT_EQ(groups[0].items[i].value, c.values[i]) << groups[0].items[i].name;
            EXPECT_EQ(groups[0].items[i].offset, offsets[i]);
        }
        EXPECT_EQ(groups[0].items[0].tip, "");
        EXPECT_EQ(groups[0].items[5].tip, c.values[5]);
    }
    std::string untouched = "kept";
    EXPECT_EQ(decoder->GetDetail(host.Transaction(ItemSetupTransaction, PidAck, {0xA1, 0x81, 0, 2, 0, 5, 2}), untouched), 0);
    EXPECT_EQ(untouched, "kept") << "seven bytes are no setup packet";
    EXPECT_EQ(decoder->GetDetail(host.In({1, 2}), untouched), 0);
}

}  // namespace
