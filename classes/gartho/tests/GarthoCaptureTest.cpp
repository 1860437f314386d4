// The plug-in as the program uses it: loaded by the factory from the build's
// "classes" folder and driven by the decoder manager over parsed captures,
// an emulated disk session and the real flash-drive capture.
#include <gtest/gtest.h>

#include <map>

#include "BoundedFetch.h"
#include "DecodedCapture.h"
#include "DetailReader.h"
#include "Document.h"
#include "GarthoWire.h"

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr uint16_t kCommandBase = 0xFF00;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

struct Command {
    uint8_t opcode;
    std::string name;
    uint32_t expected;   // dCBWDataTransferLength
    int32_t data;        // the transfer's data, -1 without a data transport
    std::string detail;
    bool complete = false;  // closed by its status transport
};

// Parses, learns and decodes a capture through the factory's plug-ins.
class Decoded : public DecodedCapture {
public:
    using DecodedCapture::DecodedCapture;
    // Every mass-storage command at the transfer level, checked as it goes:
    // its wrapper, the phases it has and the status that closes it.
    std::vector<Command> Commands()
    {
        std::vector<Command> commands;
        for (UsbItem* item : transfers.root.children) {
            if (item->type < kCommandBase) {
                EXPECT_NE(item->type, 257) << "a command without its wrapper at record " << item->firstRecord;
                continue;
            }
            Command c;
            ItemSummary row;
            EXPECT_EQ(Manager().Summarize(item, &row), 1);
            c.name = row.name;
            std::vector<uint8_t> cbw, csw;
            EXPECT_FALSE(item->children.empty());
            UsbItem* first = item->children.empty() ? nullptr : item->children[0];
            UsbItem* last = item->children.empty() ? nullptr : item->children.back();
            EXPECT_TRUE(first && first->type == 258);
            EXPECT_EQ(FetchAll(&Manager(), first, cbw), 31u);
            if (cbw.size() != 31) continue;
            c.opcode = cbw[15];
            EXPECT_EQ(item->type, kCommandBase + c.opcode);
            c.expected = Le32(cbw, 8);
            c.data = -1;
            for (UsbItem* phase : item->children)
                if (phase->type == 259 || phase->type == 260) c.data = Manager().GetData(item, nullptr, 0);
            // A capture may end before the last command's status.
            c.complete = last && last->type == 261;
            if (c.complete) {
                EXPECT_EQ(FetchAll(&Manager(), last, csw), 13u) << c.name;
            }
            if (csw.size() == 13) {
                EXPECT_EQ(Le32(csw, 0), 0x53425355u) << c.name;
                EXPECT_EQ(Le32(csw, 4), Le32(cbw, 4)) << "the status answers its own command";
            }
            EXPECT_EQ(Manager().GetDetail(item, c.detail), 1);
            commands.push_back(c);
        }
        return commands;
    }
};

TEST(GarthoCapture, TheFactoryFindsThePluginAsAMassStorageDecoder)
{
    EXPECT_EQ(Decoded::PluginFor(8, 6, 0x50), "gartho.so");
    EXPECT_EQ(Decoded::PluginFor(8, 6, 0x62), "") << "only bulk-only transport";
}

TEST(GarthoCapture, AnEmulatedDiskSessionDecodesCommandByCommand)
{
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "with damaged packets" : "clean");
        const int operations = 24;
        Decoded decoded(Decoded::Session(emu::SessionBuilder::Kind::Disk, SpeedHigh, operations, damaged ? 0.05 : 0));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);

        bool maxLun = false;
        for (UsbItem* item : decoded.transfers.root.children)
            maxLun |= item->type == ItemControlTransfer && decoded.Row(item).name == "GetMaxLun ( )";
        EXPECT_TRUE(maxLun) << "the class request is named at the transfer level";

        const std::vector<Command> commands = decoded.Commands();
        ASSERT_EQ(commands.size(), size_t(operations));
        EXPECT_EQ(commands[0].name, "Inquery (Lun 0)");
        EXPECT_EQ(commands[0].data, 36);
        EXPECT_EQ(commands[1].name, "Test Unit Ready (Lun 0)");
        EXPECT_EQ(commands[1].data, -1) << "no data transport";
        EXPECT_EQ(commands[2].name, "Read Capacity (Lun 0,Lba 0x00000000)");
        EXPECT_NE(commands[2].detail.find("value=\"0x0003FFFF\""), std::string::npos) << commands[2].detail;
        EXPECT_NE(commands[2].detail.find("value=\"512 bytes\""), std::string::npos);
        std::map<uint8_t, int> seen;
        for (const Command& c : commands) {
            EXPECT_TRUE(c.complete) << c.name;
            ++seen[c.opcode];
            if (c.expected) {
                EXPECT_EQ(c.data, int32_t(c.expected)) << c.name;
            }
            if (c.opcode == 0x28 || c.opcode == 0x2A) {
                EXPECT_EQ(c.name.substr(0, 5), c.opcode == 0x28 ? "Read " : "Write");
            }
        }
        EXPECT_GT(seen[0x28], 0) << "reads in the mix";
    }
}

TEST(GarthoCapture, TheRealFlashDriveCaptureDecodesEveryCommand)
{
    auto capture = Decoded::RealCapture("usb_hs_flash_drive");
    if (!capture) GTEST_SKIP() << "real captures not present";
    Decoded decoded(std::move(*capture));
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    const std::vector<Command> commands = decoded.Commands();
    ASSERT_FALSE(commands.empty());
    for (const Command& c : commands) {
        EXPECT_TRUE(c.complete || &c == &commands.back()) << "only the capture's last command may lack its status";
        EXPECT_FALSE(c.name.empty()) << "opcode " << int(c.opcode) << " has a walker";
        if (c.data >= 0) {
            EXPECT_LE(c.data, int32_t(c.expected)) << c.name;
        }
    }
}

// A command no walker knows (START STOP UNIT to LUN 1, as a real board's
// drive is sent) is named after its operation code and LUN; its wrappers
// are decoded as any command's.
TEST(GarthoCapture, ACommandWithoutAWalkerIsNamedByItsCode)
{
    using gartho::testing::Cbw;
    using gartho::testing::Csw;
    const std::vector<uint8_t> configuration = {9, 2, 32, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 2, 8, 6, 0x50, 0,
                                                7, 5, 0x81, 2, 0, 2, 0, 7, 5, 0x02, 2, 0, 2, 0};
    emu::BusTrafficBuilder b(SpeedHigh);
    Decoded::Enumerate(b, 3, configuration);
    std::vector<uint8_t> startStop = Cbw({0x1B, 0x00, 0x00, 0x00, 0x01, 0x00}, 0, false, 7);
    startStop[13] = 1;  // bCBWLUN
    b.Out(3, 2, PidData0, startStop);
    b.In(3, 1, PidData0, Csw(7));
    b.Out(3, 2, PidData1, Cbw({0x00}, 0, false, 8));
    b.In(3, 1, PidData1, Csw(8));
    Decoded decoded(b.Take());
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    decoded.ExpectEveryIconInItsList();

    const std::vector<Command> commands = decoded.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].name, "SCSI Operation 0x1B (Lun 1)");
    EXPECT_TRUE(commands[0].complete);
    EXPECT_EQ(commands[1].name, "Test Unit Ready (Lun 0)");
    UsbItem* transfer = nullptr;
    for (UsbItem* item : decoded.transfers.root.children)
        if (item->type == kCommandBase + 0x1B) transfer = item;
    ASSERT_TRUE(transfer);
    ASSERT_EQ(transfer->children.size(), 2u);
    const auto wrapper = ReadDetail(decoded.Detail(transfer->children[0]));
    ASSERT_EQ(wrapper.size(), 1u) << "the command block is not decoded, its wrapper is";
    EXPECT_EQ(wrapper[0].name, "Command Block Wrapper");
    const auto status = ReadDetail(decoded.Detail(transfer->children[1]));
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].name, "Command Status Wrapper");
}

// A ".data" cut short after a read's data: the read shows its 4,096 bytes,
// and only its status transport says the capture lacks its payload.
TEST(GarthoCapture, AReadWhoseStatusWrapperWasNotKeptShowsItsData)
{
    using gartho::testing::Cbw;
    using gartho::testing::Csw;
    using gartho::testing::Read10;
    const std::vector<uint8_t> configuration = {9, 2, 32, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 2, 8, 6, 0x50, 0,
                                                7, 5, 0x81, 2, 0, 2, 0, 7, 5, 0x02, 2, 0, 2, 0};
    emu::BusTrafficBuilder b(SpeedHigh);
    Decoded::Enumerate(b, 3, configuration);
    b.Out(3, 2, PidData0, Cbw(Read10(0x40, 8), 4096, true));
    for (int i = 0; i < 8; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, std::vector<uint8_t>(512, uint8_t(i + 1)));
    b.In(3, 1, PidData0, Csw());
    emu::BusCapture capture = b.Take();
    for (auto r = capture.records.rbegin(); r != capture.records.rend(); ++r)
        if (r->IsData()) {
            r->SetPayloadOffset(PacketRecord::kPayloadLost);
            break;
        }
    Decoded decoded(std::move(capture));
    UsbItem* read = nullptr;
    for (UsbItem* item : decoded.transfers.root.children)
        if (item->type == kCommandBase + 0x28) read = item;
    ASSERT_TRUE(read);
    ASSERT_EQ(read->children.size(), 3u);
    std::vector<uint8_t> data;
    EXPECT_EQ(FetchAll(&decoded.Manager(), read, data, 8192), 4096u);
    EXPECT_EQ(data.back(), 8);
    EXPECT_EQ(decoded.Manager().OnNotify(NotifyPayloadLost, read, 0), 0) << "its data are whole";
    EXPECT_EQ(decoded.Manager().OnNotify(NotifyPayloadLost, read->children[1], 0), 0);
    EXPECT_EQ(decoded.Manager().OnNotify(NotifyPayloadLost, read->children[2], 0), 1);
    EXPECT_EQ(decoded.Row(read).size, 4096);
}

}  // namespace
