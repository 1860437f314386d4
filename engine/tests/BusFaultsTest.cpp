// Damaged and unusual traffic, checked at both levels: what the parser makes
// of it (items, row statuses, the learned tree) and what the transfer level
// makes of the parser's items.
#include <cstdio>
#include <functional>

#include "CDecoderManager.h"
#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
using B = emu::BusTrafficBuilder;
using S = emu::SessionBuilder;

namespace {

const B::Bytes k8 = {1, 2, 3, 4, 5, 6, 7, 8};
const B::Bytes kDevice = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 1, 2, 0, 1};

B::Bytes GetDescriptor(uint16_t value, uint16_t length) { return S::SetupPacket(0x80, 6, value, 0, length); }

// Row status as "result/class", "-" for none.
std::string Status(int32_t status) {
    if (status < 0) return "-";
    return std::to_string(status & 0xFFFF) + "/" + std::to_string(status >> 16);
}

// Parses, learns and decodes; each level as "item[status] ..." with the
// items described as ParserHarness does.
struct Levels {
    emu::CaptureSource source;
    CUsbParser parser;
    CollectingSink parsed;
    CDecoderManager manager{nullptr};
    CollectingSink decoded;
    std::string tree;

    explicit Levels(B& b) : source(b.Take()) {
        parser.SetDataSource(&source);
        EXPECT_EQ(parser.Parse(&parsed), 1);
        ExpectEveryRecordOnce(parsed, source.Capture().records.size());
        parser.GetDeviceTree(tree);
        manager.LoadDeviceTree(tree);
        manager.SetHost(&parser);
        manager.SetRoot(&parsed.root);
        EXPECT_EQ(manager.DecodeAll(&decoded), 1);
    }
    ~Levels() {
        FreeTransferLevel(&decoded.root);
        manager.ReleaseDecoders();
    }
    static std::string Rows(IDecode& decoder, const UsbItem& root) {
        std::string s;
        for (UsbItem* item : root.children) {
            ItemSummary row;
            decoder.Summarize(item, &row);
            s += (s.empty() ? "" : " ") + Describe(item) + "[" + Status(row.status) + "]";
        }
        return s;
    }
    std::string Transactions() { return Rows(parser, parsed.root); }
    std::string Transfers() { return Rows(manager, decoded.root); }
    std::string Row(UsbItem* item) {
        ItemSummary row;
        parser.Summarize(item, &row);
        return Status(row.status);
    }
};

struct Case {
    const char* name;
    std::function<void(B&)> traffic;
    const char* transactions;
    const char* transfers;
};

}  // namespace

TEST(BusFaults, BothLevels) {
    const Case cases[] = {
        // A token that fails its CRC5 names no device: it and what follows stand alone.
        {"bad crc5 in token",
         [](B& b) { b.Damage(b.Token(PidIn, 3, 1), ErrCrc5), b.Data(PidData0, k8), b.Handshake(PidAck); },
         "9[7/3] 3[-] 2[0/0]", "9[7/3] 3[-] 2[0/0]"},
        {"bad crc5 setup opens no transfer",
         [](B& b) {
             b.Damage(b.Token(PidSetup, 4, 0), ErrCrc5), b.Data(PidData0, GetDescriptor(0x100, 18));
             b.Handshake(PidAck);
             b.In(4, 0, PidData1, kDevice), b.Out(4, 0, PidData1, {});
         },
         "13[7/3] 3[-] 2[0/0] 16@4.0:2(9 11 2)[0/0] 17@4.0:2(1 11 2)[0/0]",
         "13[7/3] 3[-] 2[0/0] 16@4.0:2(9 11 2)[0/0] 17@4.0:2(1 11 2)[0/0]"},
        {"bad crc5 split names no hub transaction",
         [](B& b) {
             b.Damage(b.Split(1, 2, true, false, false, 3), ErrCrc5), b.Token(PidIn, 5, 1), b.Data(PidData0, k8);
         },
         "8[7/3] 16@5.1(9 3)[-]", "8[7/3] 16@5.1(9 3)[-]"},
        {"bad crc5 token after a split leaves the split alone",
         [](B& b) {
             b.Split(1, 2, true, false, false, 3), b.Damage(b.Token(PidIn, 5, 1), ErrCrc5), b.Data(PidData0, k8);
         },
         "8[-] 9[7/3] 3[-]", "8[-] 9[7/3] 3[-]"},
        // Damaged packets inside transactions and runs mark their holders.
        {"bad crc16 data acked by the host",
         [](B& b) { b.Token(PidIn, 3, 1), b.Damage(b.Data(PidData1, k8), ErrCrc16), b.Handshake(PidAck); },
         "16@3.1:2(9 11 2)[0/4]", "16@3.1:2(9 11 2)[0/4]"},
        {"bad crc16 out data is not answered",
         [](B& b) { b.Token(PidOut, 3, 2), b.Damage(b.Data(PidData0, k8), ErrCrc16 | ErrBitStuff); },
         "17@3.2(1 3)[7/4]", "17@3.2(1 3)[7/4]"},
        {"length error", [](B& b) { b.Token(PidOut, 3, 2), b.Damage(b.Data(PidData0, k8), ErrLength), b.Handshake(PidAck); },
         "17@3.2:2(1 3 2)[0/1]", "17@3.2:2(1 3 2)[0/1]"},
        {"bit stuffing in a nak run",
         [](B& b) {
             b.InNak(3, 1);
             b.Token(PidIn, 3, 1), b.Damage(b.Handshake(PidNak), ErrBitStuff);
             b.InNak(3, 1);
         },
         "29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10) 16@3.1:10(9 10))[2/5]",
         "29@3.1:10(16@3.1:10(9 10) 16@3.1:10(9 10) 16@3.1:10(9 10))[2/5]"},
        {"bad crc5 sof in a run", [](B& b) { b.Sof(1), b.Damage(b.Sof(2), ErrCrc5), b.Sof(3); },
         "128(5 5 5)[7/3]", "128(5 5 5)[7/3]"},
        {"bad crc16 in a control transfer's data stage",
         [](B& b) {
             b.Setup(4, GetDescriptor(0x100, 18));
             b.Token(PidIn, 4, 0), b.Damage(b.Data(PidData1, kDevice), ErrCrc16), b.Handshake(PidAck);
             b.Out(4, 0, PidData1, {});
         },
         "18@4.0:2(13 3 2)[0/0] 16@4.0:2(9 11 2)[0/4] 17@4.0:2(1 11 2)[0/0]",
         "256@4.0:2(18@4.0:2(13 3 2) 16@4.0:2(9 11 2) 17@4.0:2(1 11 2))[4/4]"},
        // The host's ACK after an IN means the device's data was not captured.
        {"in followed by ack", [](B& b) { b.Token(PidIn, 3, 1), b.Handshake(PidAck); }, "16@3.1(9)[-] 2[0/0]",
         "16@3.1(9)[-] 2[0/0]"},
        {"in followed by ack in a control data stage",
         [](B& b) {
             b.Setup(4, GetDescriptor(0x100, 18));
             b.Token(PidIn, 4, 0), b.Handshake(PidAck);
             b.Out(4, 0, PidData1, {});
         },
         "18@4.0:2(13 3 2)[0/0] 16@4.0(9)[-] 2[0/0] 17@4.0:2(1 11 2)[0/0]",
         "2[0/0] 256@4.0(18@4.0:2(13 3 2) 16@4.0(9) 17@4.0:2(1 11 2))[-]"},
        {"a lost data packet shows in the toggle of the next",
         [](B& b) {
             b.Setup(4, GetDescriptor(0x100, 18));
             b.Token(PidIn, 4, 0), b.Handshake(PidAck);
             b.In(4, 0, PidData0, B::Bytes(kDevice.begin() + 8, kDevice.begin() + 16));
             b.In(4, 0, PidData1, B::Bytes(kDevice.begin() + 16, kDevice.end())), b.Out(4, 0, PidData1, {});
         },
         "18@4.0:2(13 3 2)[0/0] 16@4.0(9)[-] 2[0/0] 16@4.0:2(9 3 2)[0/0] 16@4.0:2(9 11 2)[0/0] "
         "17@4.0:2(1 11 2)[0/0]",
         "2[0/0] 256@4.0(18@4.0:2(13 3 2) 16@4.0(9) 16@4.0:2(9 3 2) 16@4.0:2(9 11 2) 17@4.0:2(1 11 2))[-]"},
        {"an in retried after the device's time-out loses nothing",
         [](B& b) {
             b.Setup(4, GetDescriptor(0x100, 18));
             b.Token(PidIn, 4, 0), b.Idle(400);
             b.In(4, 0, PidData1, kDevice), b.Out(4, 0, PidData1, {});
         },
         "18@4.0:2(13 3 2)[0/0] 16@4.0(9)[-] 16@4.0:2(9 11 2)[0/0] 17@4.0:2(1 11 2)[0/0]",
         "256@4.0:2(18@4.0:2(13 3 2) 16@4.0(9) 16@4.0:2(9 11 2) 17@4.0:2(1 11 2))[4/0]"},
        {"in followed by ack in a status stage",
         [](B& b) {
             b.Setup(4, S::SetupPacket(0x00, 9, 1, 0, 0));
             b.Token(PidIn, 4, 0), b.Handshake(PidAck);
         },
         "18@4.0:2(13 3 2)[0/0] 16@4.0(9)[-] 2[0/0]", "2[0/0] 256@4.0(18@4.0:2(13 3 2) 16@4.0(9))[-]"},
        // A control transfer's result is its last stage's handshake.
        {"complete get descriptor", [](B& b) { b.ControlTransfer(4, GetDescriptor(0x100, 18), kDevice); },
         "18@4.0:2(13 3 2)[0/0] 16@4.0:2(9 11 2)[0/0] 17@4.0:2(1 11 2)[0/0]",
         "256@4.0:2(18@4.0:2(13 3 2) 16@4.0:2(9 11 2) 17@4.0:2(1 11 2))[4/0]"},
        {"device qualifier stalled in the data stage",
         [](B& b) { b.ControlTransfer(4, GetDescriptor(0x600, 10), {}, {.stall = true}); },
         "18@4.0:2(13 3 2)[0/0] 16@4.0:14(9 14)[3/0]", "256@4.0:14(18@4.0:2(13 3 2) 16@4.0:14(9 14))[3/0]"},
        {"request stalled in the status stage",
         [](B& b) { b.ControlTransfer(4, S::SetupPacket(0x00, 9, 7, 0, 0), {}, {.stall = true}); },
         "18@4.0:2(13 3 2)[0/0] 16@4.0:14(9 14)[3/0]", "256@4.0:14(18@4.0:2(13 3 2) 16@4.0:14(9 14))[3/0]"},
        {"out data stage stalled",
         [](B& b) {
             b.Setup(4, S::SetupPacket(0x21, 9, 0x200, 0, 2));
             b.Out(4, 0, PidData1, {1, 2}, PidStall);
             b.ControlTransfer(4, S::SetupPacket(0x00, 9, 1, 0, 0), {});
         },
         "18@4.0:2(13 3 2)[0/0] 17@4.0:14(1 11 14)[3/0] 18@4.0:2(13 3 2)[0/0] 16@4.0:2(9 11 2)[0/0]",
         "256@4.0:14(18@4.0:2(13 3 2) 17@4.0:14(1 11 14))[3/0] "
         "256@4.0:2(18@4.0:2(13 3 2) 16@4.0:2(9 11 2))[4/0]"},
        {"no status stage", [](B& b) { b.Setup(4, GetDescriptor(0x100, 18)), b.In(4, 0, PidData1, kDevice); },
         "18@4.0:2(13 3 2)[0/0] 16@4.0:2(9 11 2)[0/0]", "256@4.0(18@4.0:2(13 3 2) 16@4.0:2(9 11 2))[-]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        B b(SpeedFull);
        c.traffic(b);
        Levels levels(b);
        EXPECT_EQ(levels.Transactions(), c.transactions);
        EXPECT_EQ(levels.Transfers(), c.transfers);
    }
}

TEST(BusFaults, DamagedPacketRowsShowTheirError) {
    B b(SpeedFull);
    b.Token(PidIn, 3, 1), b.Damage(b.Data(PidData1, k8), ErrCrc16 | ErrBitStuff), b.Handshake(PidAck);
    b.Token(PidOut, 3, 2), b.Data(PidData0, k8), b.Damage(b.Handshake(PidNak), ErrBitStuff);
    b.Damage(b.Token(PidPing, 3, 2), ErrCrc5 | ErrLength);
    Levels levels(b);
    const auto& top = levels.parsed.root.children;
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(levels.Row(top[0]->children[0]), "-");
    EXPECT_EQ(levels.Row(top[0]->children[1]), "7/4");  // the packet's own check before bit stuffing
    EXPECT_EQ(levels.Row(top[0]->children[2]), "0/0");
    EXPECT_EQ(levels.Row(top[1]->children[2]), "2/5");
    EXPECT_EQ(levels.Row(top[1]), "2/5");
    EXPECT_EQ(levels.Row(top[2]), "7/3");
}

// Tokens with a failed CRC5 are nobody's traffic: they add no device, not
// even a placeholder, and teach the parser nothing.
TEST(BusFaults, BadCrc5TokensNameNoDevice) {
    B b(SpeedFull);
    for (int i = 0; i < 3; ++i) b.Damage(b.Token(PidIn, 7, 2), ErrCrc5), b.Handshake(PidNak);
    b.Damage(b.Token(PidOut, 9, 1), ErrCrc5), b.Data(PidData0, k8), b.Handshake(PidAck);
    b.InNak(8, 1);
    Levels levels(b);
    EXPECT_EQ(levels.tree.find("address=\"7\""), std::string::npos) << levels.tree;
    EXPECT_EQ(levels.tree.find("address=\"9\""), std::string::npos) << levels.tree;
    EXPECT_NE(levels.tree.find("address=\"8\""), std::string::npos) << levels.tree;
    for (const UsbItem* item : levels.parsed.root.children) EXPECT_TRUE(item->address == kNone || item->address == 8);
}

// A transfer whose data packet the capture lost is not complete, and shows
// none of the bytes; the same request answered in full later is.
TEST(BusFaults, ALostDataPacketLeavesItsTransferIncomplete) {
    B b(SpeedFull);
    b.Setup(4, GetDescriptor(0x100, 18));
    b.Token(PidIn, 4, 0), b.Handshake(PidAck);
    b.Out(4, 0, PidData1, {});
    b.ControlTransfer(4, GetDescriptor(0x100, 18), kDevice);
    Levels levels(b);
    EXPECT_NE(levels.tree.find("idVendor=\"4660\""), std::string::npos) << levels.tree;
    ItemSummary lost, whole;
    // The host's lone ACK comes out first: the transfer waits for its status stage.
    ASSERT_EQ(levels.decoded.root.children.size(), 3u);
    levels.manager.Summarize(levels.decoded.root.children[1], &lost);
    levels.manager.Summarize(levels.decoded.root.children[2], &whole);
    EXPECT_EQ(std::tie(lost.status, lost.size), std::make_tuple(-1, 0));
    EXPECT_EQ(std::tie(whole.status, whole.size), std::make_tuple(int32_t(StatusOk), 18));
}
