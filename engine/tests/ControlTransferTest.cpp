// Control transfers assembled by the standard-request decoder, and what the
// parser learns from them while it parses.
#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
using B = emu::BusTrafficBuilder;
using emu::SessionBuilder;

namespace {

// Parses `b`'s traffic, then runs every top-level item through one decoder
// with the parser as host; returns what comes out, described.
class Assembly {
public:
    explicit Assembly(B& b) : Assembly(b.Take()) {}
    explicit Assembly(emu::BusCapture capture) : source_(std::move(capture)) {
        parser_.SetDataSource(&source_);
        parser_.Parse(&sink_);
        decoder_.SetHost(&parser_);
        for (auto* item : sink_.root.children) Emit(decoder_.OnTransaction(item));
        Emit(decoder_.OnTransaction(nullptr));
    }
    ~Assembly() {
        for (auto* t : transfers_) {
            t->children.clear();
            delete t;
        }
    }
    std::string Out() const { return out_; }
    CUsbParser& Parser() { return parser_; }
    const std::vector<UsbItem*>& Transfers() const { return transfers_; }

private:
    void Emit(UsbItem* r) {
        if (!r) return;
        if (r->type == ItemControlTransfer) transfers_.push_back(r);
        out_ += (out_.empty() ? "" : " ") + Brief(r);
    }
    // Transfers by their members' types only: "256(18 16 17)".
    static std::string Brief(const UsbItem* item) {
        std::string s = std::to_string(item->type);
        if (item->type != ItemControlTransfer) return s;
        s += "(";
        for (uint32_t i = 0; i < item->children.size(); ++i)
            s += (i ? " " : "") + std::to_string(item->children[i]->type);
        return s + ")";
    }

    emu::CaptureSource source_;
    CUsbParser parser_;
    CollectingSink sink_;
    CDecodeRequest decoder_;
    std::vector<UsbItem*> transfers_;
    std::string out_;
};

const B::Bytes kGetDevice = SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 18);
const B::Bytes kSetAddress = SessionBuilder::SetupPacket(0x00, 5, 7, 0, 0);
const B::Bytes kSetConfiguration = SessionBuilder::SetupPacket(0x00, 9, 1, 0, 0);
// The device tree the parser learns from `b`'s traffic.
std::string LearnedTree(B& b) {
    emu::CaptureSource source(b.Take());
    CUsbParser parser;
    parser.SetDataSource(&source);
    CollectingSink sink;
    parser.Parse(&sink);
    std::string tree;
    parser.GetDeviceTree(tree);
    return tree;
}

B::Bytes Bytes(size_t n) {
    B::Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i + 1);
    return b;
}

}  // namespace

// Stalls, missing status stages, retried setups and many-packet data stages: the
// decoder manager's scenario table.
TEST(ControlTransfer, StagesMakeTransfers) {
    struct Row {
        const char* name;
        std::function<void(B&)> traffic;
        const char* expected;
    } rows[] = {
        {"get descriptor: setup, in data, out status",
         [](B& b) { b.ControlTransfer(0, kGetDevice, Bytes(18), {.maxPacket = 64}); }, "256(18 16 17)"},
        {"set address: setup, in status; a NAK stays inside",
         [](B& b) { b.ControlTransfer(0, kSetAddress, {}, {.naks = 1}); }, "256(18 16 16)"},
        {"setup without ack is no transfer",
         [](B& b) { b.Token(PidSetup, 0, 0), b.Data(PidData0, kGetDevice), b.Handshake(PidNak); }, "18 10"},
        {"in while idle passes", [](B& b) { b.In(0, 0, PidData1, {1, 2}); }, "16"},
        {"other pipes pass by an open transfer",
         [](B& b) {
             b.Setup(0, kGetDevice);
             b.InNak(0, 1), b.In(3, 0, PidData0, {9});
             b.In(0, 0, PidData1, Bytes(18)), b.Out(0, 0, PidData1, {});
         },
         "16 16 256(18 16 17)"},
        {"data never grows past wLength",
         [](B& b) {
             b.Setup(0, SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 8));
             b.In(0, 0, PidData1, Bytes(8)), b.In(0, 0, PidData0, Bytes(8));
             b.Out(0, 0, PidData1, {});
         },
         "16 256(18 16 17)"},
        {"split transactions behind a hub",
         [](B& b) { b.ControlTransfer(0, kGetDevice, Bytes(18), {.hub = B::HubPort{}}); },
         "256(22 23 24 25 22 23)"},
    };
    for (auto& row : rows) {
        B b(SpeedHigh);
        row.traffic(b);
        Assembly a(b);
        EXPECT_EQ(a.Out(), row.expected) << row.name;
    }
}

// Halves of split stages are taken into an open transfer as they come; what
// they carry never makes its data more than the setup asked for.
TEST(ControlTransfer, ATransfersDataIsNoMoreThanItsSetupAskedFor) {
    B b(SpeedHigh);
    b.Setup(3, SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, 9));
    for (int i = 0; i < 50; ++i) b.SplitOut(B::HubPort{}, 3, 0, B::EtControl, PidData0, Bytes(1000));
    b.In(3, 0, PidData1, Bytes(9)), b.Out(3, 0, PidData1, {});
    Assembly a(b);
    ASSERT_EQ(a.Transfers().size(), 1u);
    UsbItem* transfer = a.Transfers()[0];
    EXPECT_EQ(a.Parser().GetData(transfer, nullptr, 0), 9);
    uint8_t bytes[16] = {};
    EXPECT_EQ(a.Parser().GetData(transfer, bytes, 4), 9);
    EXPECT_EQ(bytes[4], 0) << "no more than the room given";
}

// A stage whose data packet lost its payload ends the transfer's data: the
// stages after it would otherwise stand where its bytes belong. A zero-length
// packet lost its CRC alone: its stage, and its transfer, lack no data. One
// the analyser still holds but that was not read says so, unless the ring
// wrote over another stage's.
TEST(ControlTransfer, DataStopAtAStageTheCaptureLacks) {
    const char* const ring = kPayloadLostText;
    const char* const unread = kPayloadUnreadText;
    struct Row {
        const B::Bytes& setup;
        int lostData;  // which data packet of the capture: 0 the setup's
        int unreadData;  // the same for one not read from the analyser
        int32_t length;  // -1: not asked, the stages of an unknown request are no one's to place
        const char* name;
        const char* text;  // what the transfer's detail says of its data; null: whole
    } rows[] = {
        {kGetDevice, -1, -1, 18, "GetDescriptor ( Device )", nullptr},
        {kGetDevice, 2, -1, 8, "GetDescriptor ( Device )", ring},
        {kGetDevice, 0, -1, -1, "ControlTransfer", ring},
        {kGetDevice, 4, -1, 18, "GetDescriptor ( Device )", nullptr},  // the OUT status stage's
        {kSetConfiguration, 1, -1, 0, "SetConfiguration (  )", nullptr},  // the IN status stage's
        {kGetDevice, -1, 2, 8, "GetDescriptor ( Device )", unread},
        {kGetDevice, -1, 0, -1, "ControlTransfer", unread},
        {kGetDevice, 3, 1, 0, "GetDescriptor ( Device )", ring},
        {kGetDevice, 1, 3, 0, "GetDescriptor ( Device )", ring},
        {kGetDevice, -1, 4, 18, "GetDescriptor ( Device )", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ", data packet lost: " + std::to_string(row.lostData) +
                     ", unread: " + std::to_string(row.unreadData));
        const bool lost = row.text != nullptr;
        B b(SpeedFull);
        const B::Bytes device = SessionBuilder({}).DeviceDescriptor();
        b.ControlTransfer(1, row.setup, row.setup[0] & 0x80 ? device : B::Bytes{}, {.maxPacket = 8});
        emu::BusCapture capture = b.Take();
        for (int seen = 0; PacketRecord& r : capture.records) {
            if (!r.IsData()) continue;
            if (seen == row.lostData) r.SetPayloadOffset(PacketRecord::kPayloadLost);
            if (seen++ == row.unreadData) r.SetPayloadOffset(PacketRecord::kPayloadUnread);
        }
        Assembly a(std::move(capture));
        ASSERT_EQ(a.Transfers().size(), 1u);
        UsbItem* transfer = a.Transfers()[0];
        uint8_t bytes[32] = {};
        if (row.length >= 0) {
            EXPECT_EQ(a.Parser().GetData(transfer, bytes, sizeof bytes), row.length);
            if (row.length) EXPECT_EQ(bytes[7], device[7]);
        }
        EXPECT_EQ(a.Parser().OnNotify(NotifyPayloadLost, transfer, 0), lost ? 1 : 0);
        EXPECT_STREQ(LostPayloadText(&a.Parser(), transfer), row.text);
        for (UsbItem* stage : transfer->children)
            if (a.Parser().OnNotify(NotifyPayloadLost, stage, 0)) EXPECT_TRUE(lost) << "stage at " << stage->firstRecord;
        ItemSummary summary;
        a.Parser().Summarize(transfer, &summary);
        EXPECT_EQ(summary.name, row.name);
        std::string xml;
        ASSERT_EQ(a.Parser().GetDetail(transfer, xml), 1);
        EXPECT_EQ(xml.find(ring) != std::string::npos, row.text == ring) << xml;
        EXPECT_EQ(xml.find(unread) != std::string::npos, row.text == unread) << xml;
        EXPECT_EQ(xml.find("name=\"Setup\"") != std::string::npos, row.lostData == 0 || row.unreadData == 0)
            << "only a lost setup is named";
        if (row.length == 18) EXPECT_NE(xml.find("name=\"Device Descriptor\""), std::string::npos) << xml;
    }
}

// A setup packet whose payload the capture lacks tells neither the request's
// direction nor its length: the stages tell, so the transfer holds what the
// same transfer with its setup held holds, and is not complete.
TEST(ControlTransfer, ALostSetupsTransferHoldsTheStagesOfTheSameTransferHeld) {
    const B::Bytes kSetReport = SessionBuilder::SetupPacket(0x21, 9, 0x0200, 0, 12);
    struct Row {
        const char* name;
        std::function<void(B&)> traffic;
        const char* loose = nullptr;  // what no transfer takes, when the row adds more than the other pipe's IN
    } rows[] = {
        {"get descriptor of 18 bytes at 8 a packet",
         [](B& b) { b.ControlTransfer(1, kGetDevice, Bytes(18), {.maxPacket = 8}); }},
        {"get descriptor with NAKs before each stage",
         [](B& b) { b.ControlTransfer(1, kGetDevice, Bytes(18), {.maxPacket = 8, .naks = 2}); }},
        {"class OUT request of two packets",
         [&](B& b) { b.ControlTransfer(1, kSetReport, Bytes(12), {.maxPacket = 8}); }},
        {"class OUT request with NAKs", [&](B& b) { b.ControlTransfer(1, kSetReport, Bytes(12), {.maxPacket = 8, .naks = 1}); }},
        {"request without data", [&](B& b) { b.ControlTransfer(1, kSetConfiguration, {}, {.naks = 1}); }},
        {"status stage never captured: the next SETUP ends it",
         [](B& b) {
             b.Setup(1, kGetDevice);
             b.In(1, 0, PidData1, Bytes(8)), b.In(1, 0, PidData0, Bytes(8));
         }},
        {"data stage STALLed", [](B& b) { b.ControlTransfer(1, kGetDevice, Bytes(18), {.maxPacket = 8, .stall = true}); }},
        {"an IN data stage of no bytes",
         [](B& b) {
             b.Setup(1, kGetDevice);
             b.In(1, 0, PidData1, {}), b.Out(1, 0, PidData1, {});
         }},
        {"an IN data stage of no bytes, other traffic, then a PING before the OUT status stage",
         [](B& b) {
             b.Setup(1, kGetDevice);
             b.In(1, 0, PidData1, {});
             b.InNak(4, 1, 5);  // ten records
             b.Ping(1, 0), b.Out(1, 0, PidData1, {});
         },
         "29 256 16 256"},
        {"request without data, then an interrupt OUT to another endpoint of the device",
         [&](B& b) {
             b.ControlTransfer(1, kSetConfiguration, {});
             b.Out(1, 2, PidData0, {1, 2});
         },
         "256 17 16 256"},
        {"an IN the device did not answer before the data",
         [](B& b) {
             b.Setup(1, kGetDevice);
             b.Token(PidIn, 1, 0);
             b.In(1, 0, PidData1, Bytes(18)), b.Out(1, 0, PidData1, {});
         }},
    };
    // Each transfer's stages by their records, and what stands loose.
    auto layout = [](Assembly& a) {
        std::string text = a.Out() + " |";
        for (const UsbItem* t : a.Transfers()) {
            text += " [";
            for (const UsbItem* stage : t->children) text += " " + std::to_string(stage->firstRecord);
            text += " ]";
        }
        return text;
    };
    // `capture` with the first setup's payload lost or not, and the payload of
    // the `after` data packets that follow it lost too.
    auto losing = [](emu::BusCapture capture, bool setup, int after) {
        size_t at = 0;
        while (at + 1 < capture.records.size() &&
               (capture.records[at].IsData() || capture.records[at].PidNibble() != PidSetup))
            ++at;
        EXPECT_TRUE(capture.records[at + 1].IsData());
        if (setup) capture.records[at + 1].SetPayloadOffset(PacketRecord::kPayloadLost);
        for (size_t i = at + 2; i < capture.records.size() && after > 0; ++i)
            if (capture.records[i].IsData()) {
                capture.records[i].SetPayloadOffset(PacketRecord::kPayloadLost);
                --after;
            }
        return capture;
    };
    for (const Row& row : rows) {
        for (int after : {0, 1}) {
            SCOPED_TRACE(std::string(row.name) + (after ? ", its first stage's payload lost too" : ""));
            B b(SpeedFull);
            row.traffic(b);
            b.In(4, 1, PidData0, {9});  // another pipe
            b.ControlTransfer(1, kSetConfiguration, {});
            const emu::BusCapture held = b.Take();
            Assembly whole(losing(held, false, after));
            Assembly lost(losing(held, true, after));
            std::string loose;  // what no transfer took: the other pipe's IN alone
            for (size_t at = 0, depth = 0; at < whole.Out().size(); ++at) {
                const char c = whole.Out()[at];
                depth += c == '(' ? 1 : c == ')' ? -1 : 0;
                if (!depth && c != ')') loose += c;
            }
            if (row.loose) EXPECT_EQ(loose, row.loose) << whole.Out();
            else EXPECT_TRUE(loose == "256 16 256" || loose == "16 256 256") << whole.Out();
            EXPECT_EQ(layout(lost), layout(whole));
            ASSERT_EQ(lost.Transfers().size(), 2u);
            UsbItem* transfer = lost.Transfers()[0];
            const uint8_t result = whole.Transfers()[0]->status;
            EXPECT_EQ(transfer->status, result == PidStall ? PidStall : kNone) << "held: " << int(result);
            ItemSummary summary;
            lost.Parser().Summarize(transfer, &summary);
            EXPECT_EQ(summary.name, "ControlTransfer");
            EXPECT_EQ(summary.status, result == PidStall ? int32_t(StatusStall) : -1) << "not complete";
            EXPECT_EQ(lost.Parser().OnNotify(NotifyPayloadLost, transfer, 0), 1);
            std::string xml;
            ASSERT_EQ(lost.Parser().GetDetail(transfer, xml), 1);
            EXPECT_NE(xml.find("name=\"Setup\" value=\"" + std::string(kPayloadLostText)), std::string::npos) << xml;
            const bool dataLost = after && whole.Parser().OnNotify(NotifyPayloadLost, whole.Transfers()[0], 0);
            EXPECT_EQ(xml.find("name=\"Data\"") != std::string::npos, dataLost) << xml;
            EXPECT_EQ(lost.Transfers()[1]->status, PidAck) << "the next transfer is its own";
        }
    }
}

// Whether an IN stage's pipe goes on with an OUT or a PING, which makes an
// empty IN stage of a setup not captured its data stage: the parse notes the
// default pipes' next tokens as it meets them, and answers as reading on from
// the stage does, without a record read.
TEST(ControlTransfer, AnInStagesNextTokenOnItsPipe) {
    const B::Bytes kSetReport = SessionBuilder::SetupPacket(0x21, 9, 0x0200, 0, 2);
    const B::HubPort hub;
    struct Row {
        const char* name;
        std::function<void(B&)> traffic;
        const char* answers;  // each IN stage's, in order
    } rows[] = {
        {"an OUT status stage",
         [](B& b) { b.Setup(1, kGetDevice), b.In(1, 0, PidData1, {}), b.Out(1, 0, PidData1, {}); }, "1"},
        {"a PING first",
         [](B& b) { b.Setup(1, kGetDevice), b.In(1, 0, PidData1, {}), b.Ping(1, 0), b.Out(1, 0, PidData1, {}); }, "1"},
        {"the next request's OUT data stage is not a status stage",
         [&](B& b) { b.ControlTransfer(1, kSetConfiguration, {}), b.ControlTransfer(1, kSetReport, {1, 2}); }, "0 0"},
        {"an OUT to another endpoint of the device is no status stage",
         [](B& b) { b.ControlTransfer(1, kSetConfiguration, {}), b.Out(1, 2, PidData0, {1}); }, "0"},
        {"a token damaged in its PID is no token, behind a hub or not",
         [&](B& b) {
             b.ControlTransfer(1, kSetConfiguration, {});
             b.Damage(b.Token(PidOut, 1, 0), ErrPidCheck);
             b.SplitSetup(hub, 1, kSetConfiguration), b.SplitIn(hub, 1, 0, B::EtControl, PidData1, {});
             b.Split(hub.hub, hub.port, false, false, false, B::EtControl);
             b.Damage(b.Token(PidOut, 1, 0), ErrPidCheck);
         },
         "0 0"},
        {"4,095 records of other traffic between",
         [](B& b) {
             b.Setup(1, kGetDevice), b.In(1, 0, PidData1, {});
             b.InNak(4, 1, 2047), b.Sof(1);
             b.Out(1, 0, PidData1, {});
         },
         "1"},
        {"4,096 records: too far",
         [](B& b) {
             b.Setup(1, kGetDevice), b.In(1, 0, PidData1, {});
             b.InNak(4, 1, 2048);
             b.Out(1, 0, PidData1, {});
         },
         "0"},
        {"two devices' stages answered the other way round",
         [](B& b) {
             b.Setup(1, kGetDevice), b.Setup(2, kGetDevice);
             b.In(1, 0, PidData1, {}), b.In(2, 0, PidData1, {});
             b.Out(2, 0, PidData1, {}), b.Out(1, 0, PidData1, {});
         },
         "1 1"},
        {"behind a hub",
         [&](B& b) {
             b.SplitSetup(hub, 1, kGetDevice);
             b.SplitIn(hub, 1, 0, B::EtControl, PidData1, {}), b.SplitOut(hub, 1, 0, B::EtControl, PidData1, {});
             b.SplitSetup(hub, 1, kSetConfiguration), b.SplitIn(hub, 1, 0, B::EtControl, PidData1, {});
         },
         "1 0"},
        {"a control pipe of another endpoint",
         [](B& b) {
             b.Token(PidSetup, 1, 3), b.Data(PidData0, kGetDevice), b.Handshake(PidAck);
             b.In(1, 3, PidData1, {}), b.Out(1, 3, PidData1, {});
         },
         "1"},
    };
    CUsbParser parsed;  // one for every capture, as a document's
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        B b(SpeedHigh);
        row.traffic(b);
        b.Setup(1, kSetConfiguration), b.Setup(2, kSetConfiguration);  // every default pipe's question answered
        emu::CaptureSource source(b.Take());
        source.SetPeekable(false);  // every record read is counted
        CUsbParser reading;
        parsed.SetDataSource(&source);
        reading.SetDataSource(&source);
        CollectingSink sink;
        ASSERT_EQ(parsed.Parse(&sink), 1);
        std::string noted, read;
        for (UsbItem* item : sink.root.children) {
            if (item->type != ItemInTransaction && item->type != ItemCsplitIn) continue;
            const uint32_t calls = source.GetRecordCalls();
            noted += (noted.empty() ? "" : " ") + std::to_string(parsed.OnNotify(NotifyOutNextOnPipe, item, 0));
            if (item->endpoint == 0) EXPECT_EQ(source.GetRecordCalls(), calls) << "read at " << item->firstRecord;
            read += (read.empty() ? "" : " ") + std::to_string(reading.OnNotify(NotifyOutNextOnPipe, item, 0));
        }
        EXPECT_EQ(noted, row.answers);
        EXPECT_EQ(read, row.answers);
    }

    // A parse that ended before the rest of the capture could be read: its
    // last stage reads on for its pipe's next token.
    B b(SpeedFull);
    b.Setup(1, kGetDevice);
    const size_t end = b.In(1, 0, PidData1, {}) + 3;
    b.Out(1, 0, PidData1, {});
    emu::CaptureSource source(b.Take());
    source.SetAvailable(end);
    CUsbParser parser;
    parser.SetDataSource(&source);
    CollectingSink sink;
    ASSERT_EQ(parser.Parse(&sink), 1);
    ASSERT_EQ(sink.root.children.size(), 2u);
    source.SetAvailable(source.Capture().records.size());
    EXPECT_EQ(parser.OnNotify(NotifyOutNextOnPipe, sink.root.children[1], 0), 1);
}

// Descriptors by the type the setup asks for: a configuration's in turn, and
// a class's own (HID, report, physical) left undecoded as a whole, where the
// device tree lacks the interface whose decoder would read them.
TEST(ControlTransfer, GetDescriptorDescribesEachDescriptor) {
    SessionBuilder::Options o;
    o.kind = SessionBuilder::Kind::Mouse;
    SessionBuilder session(o);
    const B::Bytes config = session.ConfigDescriptor();
    const B::Bytes report = session.ReportDescriptor();
    const B::Bytes hid(config.begin() + 18, config.begin() + 27);
    ASSERT_EQ(hid[1], 0x21);
    const struct {
        const char* name;
        B::Bytes setup, data;
        std::vector<std::string> groups;
    } rows[] = {
        {"configuration", SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, uint16_t(config.size())), config,
         {"Configuration Descriptor", "Interace Descriptor", "Unknown descriptor", "Endpoint Descriptor"}},
        {"device", kGetDevice, session.DeviceDescriptor(), {"Device Descriptor"}},
        {"HID", SessionBuilder::SetupPacket(0x81, 6, 0x2100, 0, 9), hid, {"Unknown descriptor"}},
        {"report", SessionBuilder::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(report.size())), report,
         {"Unknown descriptor"}},
        {"physical", SessionBuilder::SetupPacket(0x81, 6, 0x2300, 0, 4), {4, 0x23, 0, 0}, {"Unknown descriptor"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        B b(SpeedFull);
        b.ControlTransfer(5, row.setup, row.data);
        Assembly a(b);
        ASSERT_EQ(a.Transfers().size(), 1u);
        UsbItem* transfer = a.Transfers()[0];
        std::string xml;
        EXPECT_EQ(a.Parser().GetDetail(transfer, xml), row.setup[0] & 1 ? 0 : 1) << "an interface's own decoder may say more";
        std::vector<std::string> groups;
        for (size_t at = xml.find("<group name=\""); at != std::string::npos; at = xml.find("<group name=\"", at + 1))
            groups.push_back(xml.substr(at + 13, xml.find('"', at + 13) - at - 13));
        EXPECT_EQ(groups, row.groups) << xml;
        if (row.groups.size() == 1 && row.groups[0] == "Unknown descriptor")
            EXPECT_NE(xml.find("name=\"Undecoded\" value=\"Check Data pane\" tip=\"\" offset=\"0\" bits=\"" +
                               std::to_string(8 * row.data.size()) + "\""),
                      std::string::npos)
                << xml;
    }
}

TEST(Learning, EnumerationBuildsTheDeviceTreeAndInterfaces) {
    for (auto kind : {SessionBuilder::Kind::Mouse, SessionBuilder::Kind::Disk}) {
        SessionBuilder::Options o;
        o.kind = kind;
        o.speed = kind == SessionBuilder::Kind::Disk ? SpeedHigh : SpeedFull;
        SessionBuilder session(o);
        emu::CaptureSource source(session.Build());
        CUsbParser parser;
        parser.SetDataSource(&source);
        CollectingSink sink;
        ASSERT_EQ(parser.Parse(&sink), 1);
        std::string tree;
        parser.GetDeviceTree(tree);
        EXPECT_NE(tree.find("<device address=\"5\""), std::string::npos) << tree;
        EXPECT_NE(tree.find("<configuration bConfigurationValue=\"1\""), std::string::npos) << tree;
        EXPECT_EQ(tree.find("address=\"0\""), std::string::npos) << "address 0 is never learned";
        // Every transaction on a data endpoint of the device now names interface 0.
        size_t onInterface = 0, others = 0;
        std::vector<const UsbItem*> stack(sink.root.children.begin(), sink.root.children.end());
        while (!stack.empty()) {
            const UsbItem* item = stack.back();
            stack.pop_back();
            if (item->type == ItemNakGroup)
                for (auto* c : item->children) stack.push_back(c);
            if (item->type < ItemInTransaction || item->type > ItemPingTransaction || item->address != 5 ||
                item->endpoint == 0)
                continue;
            (item->interface == 0 ? onInterface : others)++;
        }
        EXPECT_GT(onInterface, 0u);
        EXPECT_EQ(others, 0u);
    }
}

TEST(Learning, TrafficWithoutDescriptorsStillListsTheDevice) {
    B b(SpeedFull);
    b.InNak(7, 2);
    std::string tree = LearnedTree(b);
    EXPECT_NE(tree.find("<device address=\"7\""), std::string::npos) << tree;
    EXPECT_NE(tree.find("idVendor=\"-1\""), std::string::npos) << tree;
}

TEST(Learning, AConfigurationReadInPartAddsNothing) {
    SessionBuilder::Options o;
    SessionBuilder session(o);
    auto config = session.ConfigDescriptor();
    B b(SpeedFull);
    B::Bytes head(config.begin(), config.begin() + 9);
    b.ControlTransfer(5, SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, 9), head);
    std::string tree = LearnedTree(b);
    EXPECT_EQ(tree.find("<configuration"), std::string::npos) << tree;
}

// A device descriptor whose status stage was not captured is learned when the
// next SETUP cuts its transfer short, from its own setup bytes, not the next
// one's; whether that next request is one learned from or not.
TEST(Learning, ATransferCutShortByTheNextSetupIsLearnedFromItsOwnSetup) {
    SessionBuilder session{SessionBuilder::Options{}};
    const auto& config = session.ConfigDescriptor();
    for (const bool learnedNext : {false, true}) {
        B b(SpeedFull);
        b.Setup(5, kGetDevice);
        b.In(5, 0, PidData1, session.DeviceDescriptor());
        if (learnedNext)
            b.ControlTransfer(5, SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, uint16_t(config.size())), config);
        else
            b.ControlTransfer(5, SessionBuilder::SetupPacket(0x00, 9, 1, 0, 0), {});
        const std::string tree = LearnedTree(b);
        EXPECT_NE(tree.find("<device address=\"5\" bcdUSB="), std::string::npos) << tree;
        EXPECT_EQ(tree.find("idVendor=\"-1\""), std::string::npos) << tree;
        EXPECT_EQ(tree.find("<configuration ") != std::string::npos, learnedNext) << tree;
    }
}

// A host handing addresses round all 127, one enumeration after another: each
// address keeps one device, later enumerations of it as its turns, and each
// turn binds its endpoint.
TEST(Learning, AddressesHandedRoundKeepOneDeviceEachWithItsTurns) {
    SessionBuilder session{SessionBuilder::Options{}};
    const auto& device = session.DeviceDescriptor();
    const auto& config = session.ConfigDescriptor();
    constexpr int kEnumerations = 127 * 6 + 5;
    B b(SpeedFull);
    std::vector<size_t> reports;
    for (int i = 0; i < kEnumerations; ++i) {
        const auto address = uint8_t(1 + i % 127);
        b.ControlTransfer(0, SessionBuilder::SetupPacket(0x00, 5, address, 0, 0), {});
        b.ControlTransfer(address, kGetDevice, device);
        b.ControlTransfer(address, SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, uint16_t(config.size())), config);
        reports.push_back(b.In(address, 1, PidData0, {1, 2, 3}));
    }
    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree(LearnedTree(b)));
    EXPECT_EQ(tree.Document().selectNodes("/devices/device").size(), 127u);
    for (int i = 0; i < kEnumerations; ++i) {
        const int address = 1 + i % 127;
        const uint32_t turn = tree.DeviceAt(address, uint32_t(reports[size_t(i)]));
        ASSERT_EQ(turn, uint32_t(i / 127)) << i;
        ASSERT_EQ(tree.FindEndpointInterface(address, 1, turn), 1) << i;
    }
}
