#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "CDecoderManager.h"
#include "ItemTree.h"
#include "ParserHarness.h"
#include "SessionBuilder.h"

using namespace orvane;
using namespace orvane::testing;
using B = emu::BusTrafficBuilder;
using S = emu::SessionBuilder;

namespace {

constexpr uint16_t kClassTransfer = 258;  // a class decoder's wrapper of a control transfer
constexpr uint16_t kClassGroup = 300;     // a class decoder's group of transactions

// A HID decoder: wraps control transfers, groups transactions `groupSize` at a
// time (0 holds them all until the flush).
class FakeDecoder final : public IDecodeClass {
public:
    FakeDecoder(std::set<IDecodeClass*>& live, uint32_t groupSize) : live_(live), groupSize_(groupSize) {
        live_.insert(this);
    }
    IDecode* host = nullptr;
    std::vector<uint8_t> configuration;
    std::vector<uint8_t>* given = nullptr;  // the factory's copy: outlives the decoder
    int notifications = 0;  // but of its turn
    int turns = 0;
    std::function<void()> onSummarize;  // called inside Summarize
    std::function<void()> onTake;       // called when a transaction joins a group

    void Release() override {
        live_.erase(this);
        delete open_;
        delete this;
    }
    int32_t Summarize(UsbItem* item, ItemSummary* out) override {
        if (onSummarize) onSummarize();
        out->name = "fake";
        return item->type > ItemControlTransfer;
    }
    int32_t GetData(UsbItem* item, uint8_t*, uint32_t) override { return item->type > ItemControlTransfer ? 3 : -1; }
    int32_t GetDetail(UsbItem* item, std::string&) override {
        ++details;
        return item->type > ItemControlTransfer;
    }
    int details = 0;
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override {
        if (code == NotifyTurn) return ++turns, 0;
        ++notifications;
        if (code != NotifyConfiguration) return 7;
        configuration.assign(static_cast<const uint8_t*>(arg), static_cast<const uint8_t*>(arg) + param);
        if (given) *given = configuration;
        return 1;
    }
    int32_t GetClassCode(int32_t* c, int32_t* s, int32_t* p) override { return *c = 3, *s = -1, *p = -1, 1; }
    void SetHost(IDecode* h) override { host = h; }
    UsbItem* OnTransaction(UsbItem* item) override {
        if (!item) return std::exchange(open_, nullptr);
        if (item->type == ItemControlTransfer) return Wrap(kClassTransfer, item);
        if (onTake) onTake();
        if (open_) open_->Append(item);
        else open_ = Wrap(kClassGroup, item);
        return open_->children.size() == groupSize_ ? std::exchange(open_, nullptr) : nullptr;
    }
    void Reset() override {}

private:
    static UsbItem* Wrap(uint16_t type, UsbItem* first) {
        auto* group = new UsbItem(type, first->firstRecord);
        group->address = first->address;
        group->endpoint = first->endpoint;
        group->interface = first->interface;
        group->Append(first);
        return group;
    }
    std::set<IDecodeClass*>& live_;
    uint32_t groupSize_;
    UsbItem* open_ = nullptr;
};

// Serves HID (class 3) only.
class FakeFactory : public IDecodeFactory {
public:
    std::set<IDecodeClass*> live;
    std::vector<FakeDecoder*> made;  // alive while `live` holds them
    std::deque<std::vector<uint8_t>> configurations;  // given to each decoder made
    int creates = 0;
    bool failCreate = false;
    uint32_t groupSize = 2;
    std::function<void()> onTake;  // given to every decoder made

    int32_t GetCount() override { return 1; }
    int32_t GetInfo(int32_t, int32_t*, int32_t*, int32_t*) override { return 0; }
    int32_t Find(int32_t cls, int32_t, int32_t) override { return cls == 3 ? 0 : -1; }
    IDecodeClass* Create(int32_t) override {
        ++creates;
        if (failCreate) return nullptr;
        made.push_back(new FakeDecoder(live, groupSize));
        made.back()->onTake = onTake;
        made.back()->given = &configurations.emplace_back();
        return made.back();
    }
    void ReleaseDecoder(IDecodeClass* decoder) override {
        ASSERT_TRUE(live.count(decoder)) << "not made by this factory";
        decoder->Release();
    }
    std::string* GetPath(std::string* out, int32_t) override { return out; }
};

// "type@address.endpoint#interface:status", SOF groups as "128xN", and the
// members of higher-level items as "type:status".
std::string Brief(const UsbItem* item) {
    std::string s = std::to_string(item->type);
    if (item->address != kNone) s += "@" + std::to_string(item->address) + "." + std::to_string(item->endpoint);
    if (item->interface != kNone) s += "#" + std::to_string(item->interface);
    if (item->status != kNone && item->type < ItemControlTransfer) s += ":" + std::to_string(item->status);
    if (item->type == ItemSofGroup) return s + "x" + std::to_string(item->children.size());
    if (item->type < ItemControlTransfer) return s;
    s += "(";
    for (uint32_t i = 0; i < item->children.size(); ++i) {
        const UsbItem* c = item->children[i];
        s += (i ? " " : "") + std::to_string(c->type) + (c->status != kNone ? ":" + std::to_string(c->status) : "");
    }
    return s + ")";
}

// Capture -> parse -> learn -> decode, with the parser as host.
struct Pipeline {
    emu::CaptureSource source;
    CUsbParser parser;
    CollectingSink parsed;
    FakeFactory factory;
    CDecoderManager manager{&factory};
    CollectingSink decoded;  // emptied by hand: its nodes are shared

    explicit Pipeline(emu::BusCapture capture) : source(std::move(capture)) {
        parser.SetDataSource(&source);
        EXPECT_EQ(parser.Parse(&parsed), 1);
        manager.SetHost(&parser);
        manager.SetRoot(&parsed.root);
    }
    ~Pipeline() {
        manager.ReleaseDecoders();
        EXPECT_TRUE(factory.live.empty());
        FreeTransferLevel(&decoded.root);
    }
    std::string Learn() {
        std::string xml;
        parser.GetDeviceTree(xml);
        manager.LoadDeviceTree(xml);
        return xml;
    }
    std::string Decode() {
        FreeTransferLevel(&decoded.root);
        decoded.finished = 0;
        EXPECT_EQ(manager.DecodeAll(&decoded), 1);
        EXPECT_EQ(decoded.finished, 1);
        ExpectEveryRecordOnce(decoded, source.Capture().records.size());
        std::string s;
        for (auto* item : decoded.root.children) s += (s.empty() ? "" : " ") + Brief(item);
        return s;
    }
};

const S::Bytes kDevice = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 1, 2, 0, 1};
// One HID mouse interface (3/1/2) with interrupt IN endpoint 0x81.
const S::Bytes kConfig = {9, 2, 34, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 3, 1, 2, 0, 9, 0x21, 0x11,
                          0x01, 0, 1, 0x22, 52, 0, 7, 5, 0x81, 3, 4, 0, 10};
const S::Bytes k3 = {1, 2, 3};

S::Bytes Request(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    return S::SetupPacket(type, request, value, index, length);
}
S::Bytes GetDescriptor(uint16_t value, uint16_t length, uint16_t index = 0) {
    return Request(0x80, 6, value, index, length);
}

// Answers the record of the SET_ADDRESS.
size_t Enumerate(B& b, uint8_t address, const S::Bytes& device = kDevice, const S::Bytes& config = kConfig) {
    b.ControlTransfer(0, GetDescriptor(0x100, 8), S::Bytes(device.begin(), device.begin() + 8));
    const size_t setAddress = b.ControlTransfer(0, Request(0x00, 5, address, 0, 0), {});
    b.ControlTransfer(address, GetDescriptor(0x100, 18), device);
    b.ControlTransfer(address, GetDescriptor(0x200, 9), S::Bytes(config.begin(), config.begin() + 9));
    b.ControlTransfer(address, GetDescriptor(0x200, uint16_t(config.size())), config);
    return setAddress;
}

// Address 5 of configuration `value`: interface 0 HID with endpoint 0x81,
// interface 1 of a class no plug-in serves.
std::string HandTree(int value = 1) {
    return "<devices><device address='5'><configuration bConfigurationValue='" + std::to_string(value) +
           "' strConfiguration='09 02 22 00 02 01 00 80 32 '><interface bInterfaceNumber='0' "
           "bInterfaceClass='3' bInterfaceSubClass='1' bInterfaceProtocol='2'><endpoint bEndpointAddress='129'/>"
           "</interface><interface bInterfaceNumber='1' bInterfaceClass='255' bInterfaceSubClass='0' "
           "bInterfaceProtocol='0'/></configuration></device></devices>";
}

TEST(DecoderManager, EnumerationGivesDeviceTreeTransfersAndClassGroups) {
    B b;
    Enumerate(b, 3);
    b.ControlTransfer(3, GetDescriptor(0x300, 255), {4, 3, 0x09, 0x04});
    b.ControlTransfer(3, GetDescriptor(0x301, 255, 0x0409), {6, 3, 'O', 0, 'r', 0});
    b.ControlTransfer(3, Request(0x00, 9, 1, 0, 0), {});
    for (int i = 0; i < 3; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, k3);
    Pipeline p(b.Take());

    p.Learn();

    const std::string in = " 256@3.0(18:2 16:2 17:2)";
    EXPECT_EQ(p.Decode(), "256@0.0(18:2 16:2 17:2) 256@0.0(18:2 16:2)" + in + in + in + in + in +
                              " 256@3.0(18:2 16:2) 300@3.1#0(16:2 16:2) 300@3.1#0(16:2)");
    ASSERT_EQ(p.factory.made.size(), 1u);
    EXPECT_TRUE(p.factory.made[0]->host == &p.parser);
    EXPECT_EQ(p.factory.made[0]->configuration, kConfig);
    EXPECT_EQ(p.manager.DecoderCount(), 3u);  // built-ins of 0 and 3, HID of 3.0
    // A transaction stands in both trees; its parent is the transfer-level item.
    const UsbItem* transfer = p.decoded.root.children[0];
    EXPECT_TRUE(p.parsed.root.children[0] == transfer->children[0]);
    EXPECT_TRUE(transfer->children[0]->parent == transfer);
}

enum class Tree { Learned, Hand, None };

struct Case {
    const char* name;
    Tree tree;
    std::function<void(B&)> traffic;
    std::string expected;
};

TEST(DecoderManager, TransferLevelShapes) {
    const std::string in3 = "256@3.0(18:2 16:2 17:2)";
    const Case cases[] = {
        {"data stage over many packets", Tree::Learned,
         [](B& b) {
             B::ControlOptions o;
             o.maxPacket = 8;
             b.ControlTransfer(3, GetDescriptor(0x200, 34), kConfig, o);
         },
         "256@3.0(18:2 16:2 16:2 16:2 16:2 16:2 17:2)"},
        {"stalled data stage", Tree::Learned,
         [](B& b) {
             B::ControlOptions o;
             o.stall = true;
             b.ControlTransfer(3, GetDescriptor(0x600, 10), {}, o);
             b.ControlTransfer(3, GetDescriptor(0x100, 18), kDevice);
         },
         "256@3.0(18:2 16:14) " + in3},
        {"no status stage: closed by the next setup and by the flush", Tree::Learned,
         [](B& b) {
             b.Setup(3, GetDescriptor(0x100, 18)), b.In(3, 0, PidData1, kDevice);
             b.ControlTransfer(3, Request(0x00, 9, 1, 0, 0), {});
             b.Setup(3, GetDescriptor(0x100, 18)), b.In(3, 0, PidData1, kDevice);
         },
         "256@3.0(18:2 16:2) 256@3.0(18:2 16:2) 256@3.0(18:2 16:2)"},
        {"setup retried after a timeout", Tree::Learned,
         [](B& b) {
             b.Token(PidSetup, 3, 0), b.Data(PidData0, GetDescriptor(0x100, 18));
             b.Idle(20000);
             b.ControlTransfer(3, GetDescriptor(0x100, 18), kDevice);
         },
         "18@3.0 " + in3},
        {"two devices enumerate on address 0 one after the other", Tree::Learned,
         [](B& b) { Enumerate(b, 1), Enumerate(b, 2); },
         "256@0.0(18:2 16:2 17:2) 256@0.0(18:2 16:2) 256@1.0(18:2 16:2 17:2) 256@1.0(18:2 16:2 17:2) "
         "256@1.0(18:2 16:2 17:2) 256@0.0(18:2 16:2 17:2) 256@0.0(18:2 16:2) 256@2.0(18:2 16:2 17:2) "
         "256@2.0(18:2 16:2 17:2) 256@2.0(18:2 16:2 17:2)"},
        {"no device tree: other endpoints pass the built-in decoder unchanged", Tree::None,
         [](B& b) {
             b.In(5, 1, PidData0, k3), b.Setup(5, GetDescriptor(0x100, 18)), b.In(5, 2, PidData0, k3);
             b.In(5, 0, PidData1, kDevice), b.Out(5, 0, PidData1, {});
         },
         "16@5.1:2 16@5.2:2 256@5.0(18:2 16:2 17:2)"},
        {"class request to HID interface 0", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, Request(0x21, 0x0A, 0, 0, 0), {}); }, "258@5.0#0(256:2)"},
        {"class request to an endpoint counts as interface 0", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, Request(0x22, 0x01, 0, 0x81, 0), {}); }, "258@5.0(256:2)"},
        {"an unfinished class request goes to its interface's decoder, cut short or at the end", Tree::Hand,
         [](B& b) {
             b.Setup(5, Request(0xA1, 0x01, 0x0100, 0, 3)), b.In(5, 0, PidData1, k3);
             b.Setup(5, Request(0xA1, 0x01, 0x0100, 0, 3)), b.In(5, 0, PidData1, k3);
         },
         "258@5.0#0(256) 258@5.0#0(256)"},
        {"a class request to an endpoint cut short right after a standard request still goes to interface 0",
         Tree::Hand,
         [](B& b) {
             b.ControlTransfer(5, GetDescriptor(0x100, 18), kDevice);
             b.Setup(5, Request(0x22, 0x01, 0x0100, 0x02, 0));
             b.ControlTransfer(5, GetDescriptor(0x100, 18), kDevice);
         },
         "256@5.0(18:2 16:2 17:2) 258@5.0(256) 256@5.0(18:2 16:2 17:2)"},
        {"class requests to two interfaces in turn each go to their own", Tree::Hand,
         [](B& b) {
             b.ControlTransfer(5, Request(0x21, 1, 0, 1, 0), {});
             b.ControlTransfer(5, Request(0x21, 0x0A, 0, 0, 0), {});
             b.ControlTransfer(5, Request(0x21, 1, 0, 1, 0), {});
         },
         "256@5.0#1(18:2 16:2) 258@5.0#0(256:2) 256@5.0#1(18:2 16:2)"},
        {"standard request to the interface", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, Request(0x81, 6, 0x2200, 0, 3), k3); }, "258@5.0#0(256:2)"},
        {"standard request to the device stays built-in", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, GetDescriptor(0x100, 18), kDevice); }, "256@5.0(18:2 16:2 17:2)"},
        {"interface without a plug-in", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, Request(0x21, 1, 0, 1, 0), {}); }, "256@5.0#1(18:2 16:2)"},
        {"interface missing from the tree", Tree::Hand,
         [](B& b) { b.ControlTransfer(5, Request(0x21, 1, 0, 2, 0), {}); }, "256@5.0#2(18:2 16:2)"},
        {"ten SOF groups split by held-back transactions", Tree::Hand,
         [](B& b) {
             for (int i = 0; i < 10; ++i) b.SofRun(3), b.In(5, 1, PidData0, k3);
         },
         "300@5.1#0(16:2 16:2 16:2 16:2 16:2 16:2 16:2 16:2 16:2 16:2) 128x30"},
        {"a lone SOF goes out alone", Tree::Hand,
         [](B& b) {
             b.SofRun(1), b.In(5, 2, PidData0, k3);
             b.SofRun(2), b.In(5, 2, PidData0, k3), b.SofRun(1);
         },
         "5 16@5.2:2 128x2 16@5.2:2 5"},
        {"a lone SOF and a run split by held-back transactions join, either first", Tree::Hand,
         [](B& b) {
             b.SofRun(1), b.In(5, 1, PidData0, k3), b.SofRun(3), b.In(5, 1, PidData0, k3);
             b.In(5, 2, PidData0, k3);
             b.SofRun(2), b.In(5, 1, PidData0, k3), b.SofRun(1), b.In(5, 1, PidData0, k3), b.SofRun(1);
         },
         "128x4 16@5.2:2 300@5.1#0(16:2 16:2 16:2 16:2) 128x4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        B b;
        c.traffic(b);
        Pipeline p(b.Take());
        p.factory.groupSize = 0;
        if (c.tree == Tree::Learned) p.Learn();
        if (c.tree == Tree::Hand) p.manager.LoadDeviceTree(HandTree());
        EXPECT_EQ(p.Decode(), c.expected);
    }
}

// Each endpoint is bound once per run: a later run sees the tree loaded
// since, and items of several endpoints in turn each keep their own binding.
TEST(DecoderManager, EndpointBindingsFollowTheDeviceTree) {
    B b;
    for (int i = 0; i < 3; ++i) b.In(5, 1, PidData0, k3), b.In(5, 2, PidData0, k3), b.In(6, 1, PidData0, k3);
    Pipeline p(b.Take());
    p.factory.groupSize = 0;
    p.manager.LoadDeviceTree(HandTree());
    // Interface 0's decoder holds its group to the end of the run.
    EXPECT_EQ(p.Decode(), "16@5.2:2 16@6.1:2 16@5.2:2 16@6.1:2 16@5.2:2 16@6.1:2 300@5.1#0(16:2 16:2 16:2)");
    p.manager.LoadDeviceTree("<devices/>");
    const std::string unbound = "16@5.1:2 16@5.2:2 16@6.1:2 ";
    std::string expected = unbound + unbound + unbound;
    expected.pop_back();
    EXPECT_EQ(p.Decode(), expected);
    EXPECT_EQ(p.factory.creates, 1);
}

TEST(DecoderManager, ProgressOncePerThousandItems) {
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    for (uint32_t i = 0; i < 2500; ++i) root.Append(new UsbItem(ItemBusEvent, i));
    CUsbParser host;
    CDecoderManager manager(nullptr);
    CollectingSink sink;
    EXPECT_EQ(manager.DecodeAll(&sink), 0);  // no root, no host
    manager.SetRoot(&root);
    EXPECT_EQ(manager.DecodeAll(&sink), 0);
    manager.SetHost(&host);
    EXPECT_EQ(manager.DecodeAll(nullptr), 0);
    EXPECT_EQ(manager.DecodeAll(&sink), 1);
    EXPECT_EQ(sink.progress, (std::vector<float>{1 / 2500.f, 1001 / 2500.f, 2001 / 2500.f}));
    EXPECT_EQ(sink.root.children.size(), 2500u);
    sink.root.children.clear();  // the same nodes as root's
    FreeChildren(&root);
}

TEST(DecoderManager, DecoderLifecycle) {
    S::Options o;
    o.damageRate = 0;
    o.operations = 30;
    S session(o);
    const emu::BusCapture capture = session.Build();
    {
        SCOPED_TRACE("a realistic session; every run starts with fresh decoders");
        Pipeline p(capture);
        p.Learn();
        const std::string decoded = p.Decode();
        ASSERT_EQ(p.factory.made.size(), 1u);
        EXPECT_EQ(p.factory.made[0]->configuration, session.ConfigDescriptor());
        // SET_IDLE and the report descriptor read reach the HID decoder.
        int classTransfers = 0;
        for (auto* item : p.decoded.root.children) {
            if (item->address == 5 && item->endpoint == 0) {
                EXPECT_GE(item->type, ItemControlTransfer);
                classTransfers += item->type == kClassTransfer && item->interface == 0;
            }
        }
        EXPECT_EQ(classTransfers, 2) << decoded;
        p.Decode();
        EXPECT_EQ(p.factory.creates, 2);
        EXPECT_EQ(p.factory.live.size(), 1u);
    }
    {
        SCOPED_TRACE("a plug-in that fails is asked once per run; its items pass through");
        Pipeline p(capture);
        p.factory.failCreate = true;
        p.Learn();
        const std::string decoded = p.Decode();
        EXPECT_EQ(p.factory.creates, 1);
        EXPECT_NE(decoded.find("16@5.1#0:2"), std::string::npos);
        EXPECT_NE(decoded.find("256@5.0#0("), std::string::npos);
        p.Decode();
        EXPECT_EQ(p.factory.creates, 2);
    }
    {
        SCOPED_TRACE("no configuration 1: no notice; a text that is not XML keeps the tree");
        Pipeline p(capture);
        p.manager.LoadDeviceTree(HandTree(2));
        EXPECT_EQ(p.manager.LoadDeviceTree("<devices"), 1);
        p.Decode();
        ASSERT_EQ(p.factory.made.size(), 1u);
        EXPECT_EQ(p.factory.made[0]->notifications, 0);
    }
    {
        SCOPED_TRACE("Release gives the decoders back");
        Pipeline p(capture);
        FakeFactory factory;
        auto* manager = new CDecoderManager(&factory);
        manager->SetHost(&p.parser);
        manager->SetRoot(&p.parsed.root);
        manager->LoadDeviceTree(p.Learn());
        EXPECT_EQ(manager->DecodeAll(&p.decoded), 1);
        EXPECT_EQ(factory.live.size(), 1u);
        manager->Release();
        EXPECT_TRUE(factory.live.empty());
    }
}

TEST(DecoderManager, DescriptionsAskTheHostFirstThenTheItemsDecoder) {
    B b;
    b.ControlTransfer(5, GetDescriptor(0x100, 18), kDevice);
    const size_t lostIn = b.In(5, 1, PidData0, k3);
    b.In(5, 1, PidData1, k3);
    emu::BusCapture capture = b.Take();
    capture.records[lostIn + 1].SetPayloadOffset(PacketRecord::kPayloadLost);
    Pipeline p(std::move(capture));
    p.manager.LoadDeviceTree(HandTree());
    ASSERT_EQ(p.Decode(), "256@5.0(18:2 16:2 17:2) 300@5.1#0(16:2 16:2)");
    UsbItem* transfer = p.decoded.root.children[0];
    UsbItem* group = p.decoded.root.children[1];

    ItemSummary row;
    std::string xml;
    EXPECT_EQ(p.manager.Summarize(transfer, &row), 1);  // the parser's
    EXPECT_EQ(p.manager.GetData(transfer, nullptr, 0), 18);
    for (uint8_t interface : {uint8_t(0), kNone}) {
        SCOPED_TRACE(interface);
        group->interface = interface;  // none is looked up as interface 0
        row = {};
        EXPECT_EQ(p.manager.Summarize(group, &row), 1);
        EXPECT_EQ(row.name, "fake");
        EXPECT_EQ(p.manager.GetData(group, nullptr, 0), 3);
        EXPECT_EQ(p.manager.GetDetail(group, xml), 1);
        // The notices too (a class request to an endpoint is such a row): the
        // address's built-in decoder would answer nothing.
        uint32_t length = 0;
        EXPECT_EQ(p.manager.OnNotify(NotifyDataLength, group, intptr_t(&length)), 7);
        EXPECT_EQ(p.manager.OnNotify(NotifyPayloadLost, group, 0), 7);
        EXPECT_EQ(group->interface, interface);
    }
    group->interface = 0;
    // Whether payload was lost the parser tells of its own items, bound or not.
    EXPECT_EQ(p.manager.OnNotify(NotifyPayloadLost, group->children[0], 0), 1);
    EXPECT_EQ(p.manager.OnNotify(NotifyPayloadLost, transfer, 0), 0);
    // A control transfer is the parser's too: a data stage it lost is told through the manager.
    auto& records = const_cast<emu::BusCapture&>(p.source.Capture()).records;
    size_t stage = 2;  // past the setup packet's data
    while (!records[stage].IsData()) ++stage;
    records[stage].SetPayloadOffset(PacketRecord::kPayloadLost);
    EXPECT_EQ(p.manager.OnNotify(NotifyPayloadLost, transfer, 0), 1);

    UsbItem stray(kClassGroup, 0);  // no address: no decoder
    EXPECT_EQ(p.manager.Summarize(&stray, &row), 0);
    EXPECT_EQ(p.manager.GetData(&stray, nullptr, 0), -1);
    EXPECT_EQ(p.manager.GetDetail(&stray, xml), 0);
    EXPECT_EQ(p.manager.GetImageList(&stray), nullptr);
    EXPECT_EQ(p.manager.OnNotify(NotifyDataLength, &stray, 0), 0);
    EXPECT_EQ(p.manager.OnNotify(NotifyDataLength, nullptr, 0), 0);
}

TEST(DecoderManager, ParseHexBytes) {
    const struct {
        const char* text;
        uint32_t capacity;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"09 02 22 00 ", 8, {0x09, 0x02, 0x22, 0x00}},
        {"  0a\tFF\n1 ", 8, {0x0A, 0xFF, 0x01}},
        {"zz 0x1F 7g", 8, {0x00, 0x1F, 0x07}},
        {"", 8, {}},
        {"01 02 03 04", 2, {0x01, 0x02}},
        {"01", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> buffer(c.capacity + 1, 0xEE);
        const uint32_t n = CDecoderManager::ParseHexBytes(c.text, buffer.data(), c.capacity);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + n), c.expected);
        EXPECT_EQ(buffer[c.capacity], 0xEE);  // nothing past the capacity
    }
}

}  // namespace

// A device unplugged and another plugged in, given the same address after a
// reset: both stay in the tree, the second marked with the record of the
// SET_ADDRESS that gave it the address, and each device's traffic is bound by
// its own interfaces at both levels.
TEST(DecoderManager, AnAddressHandedToANewDeviceKeepsBothDevices) {
    const S::Bytes disk = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x81, 0x07, 0x67, 0x55, 0x00, 0x01, 1, 2, 3, 1};
    // A vendor interface 0 without endpoints, then mass storage (8/6/0x50) on
    // interface 1 with bulk IN 0x81 and bulk OUT 0x02.
    const S::Bytes diskConfig = {9, 2, 41, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 255, 0, 0, 0,
                                 9, 4, 1, 0, 2, 8, 6, 0x50, 0, 7, 5, 0x81, 2, 64, 0, 0, 7, 5, 0x02, 2, 64, 0, 0};
    B b;
    Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    b.BusEvent(emu::EvDeviceDisconnect), b.BusEvent(emu::EvDeviceConnect);
    b.BusEvent(emu::EvHostReset, 600000);
    b.ControlTransfer(0, GetDescriptor(0x100, 8), S::Bytes(disk.begin(), disk.begin() + 8));
    const size_t setAddress = b.ControlTransfer(0, Request(0x00, 5, 1, 0, 0), {});
    b.ControlTransfer(1, GetDescriptor(0x100, 18), disk);
    b.ControlTransfer(1, GetDescriptor(0x200, uint16_t(diskConfig.size())), diskConfig);
    b.In(1, 1, PidData0, S::Bytes(64, 0x55)), b.Out(1, 2, PidData0, S::Bytes(31, 0x43));
    Pipeline p(b.Take());

    const std::string tree = p.Learn();
    DeviceTree learned;
    ASSERT_TRUE(learned.LoadDeviceTree(tree));
    const auto devices = learned.Document().selectNodes("/devices/device[@address=\"1\"]");
    ASSERT_EQ(devices.size(), 2u) << tree;
    EXPECT_EQ(devices[0].attribute("idVendor"), "4660");
    EXPECT_EQ(devices[0].attribute(DeviceTree::kFirstPacket), std::nullopt);
    EXPECT_EQ(devices[1].attribute("idVendor"), "1921");
    EXPECT_EQ(devices[1].attribute(DeviceTree::kFirstPacket), std::to_string(setAddress));
    EXPECT_EQ(devices[0].selectNodes(".//interface").size(), 1u);
    EXPECT_EQ(devices[1].selectNodes(".//interface").size(), 2u);
    // Transaction level: each device's traffic carries the interface of the device that held the address then.
    std::vector<uint8_t> interfaces;
    for (const UsbItem* item : p.parsed.root.children)
        if (item->address == 1 && item->endpoint != 0) interfaces.push_back(item->interface);
    EXPECT_EQ(interfaces, (std::vector<uint8_t>{0, 1, 1}));

    // Transfer level: the mouse's report reaches the mouse's HID decoder, given
    // the mouse's configuration; the disk's bulk traffic reaches none.
    const std::string decoded = p.Decode();
    ASSERT_EQ(p.factory.made.size(), 1u) << decoded;
    EXPECT_EQ(p.factory.configurations[0], kConfig);
    EXPECT_NE(decoded.find("16@1.1#1:2 17@1.2#1:2 300@1.1#0(16:2)"), std::string::npos) << decoded;
}

// A mouse in a reset loop at address 1, another device there once in
// between: the mouse stays one element that lists the records it took the
// address again from, and each of its turns is decoded by a decoder of its
// own, given its configuration.
TEST(DecoderManager, ADeviceEnumeratedAgainIsKeptOnce) {
    S::Bytes other = kDevice, otherConfig = kConfig;
    other[10] = 0x79;        // another product
    otherConfig[14] = 0xFF;  // a vendor interface: no plug-in
    B b;
    Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    const size_t second = Enumerate(b, 1, other, otherConfig);
    b.In(1, 1, PidData0, k3);
    const size_t third = Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    const size_t fourth = Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    Pipeline p(b.Take());

    const std::string tree = p.Learn();
    DeviceTree learned;
    ASSERT_TRUE(learned.LoadDeviceTree(tree));
    const auto devices = learned.Document().selectNodes("/devices/device");
    ASSERT_EQ(devices.size(), 2u) << tree;
    EXPECT_EQ(devices[0].attribute(DeviceTree::kFirstPacket), std::nullopt);
    EXPECT_EQ(devices[0].attribute(DeviceTree::kAgainFrom), std::to_string(third) + " " + std::to_string(fourth));
    EXPECT_EQ(devices[1].attribute(DeviceTree::kFirstPacket), std::to_string(second));
    EXPECT_EQ(devices[1].attribute(DeviceTree::kAgainFrom), std::nullopt);

    const std::string decoded = p.Decode();
    ASSERT_EQ(p.factory.made.size(), 3u) << decoded;
    for (const auto& given : p.factory.configurations) EXPECT_EQ(given, kConfig);
    size_t groups = 0;
    for (size_t at = decoded.find("300@1.1#0(16:2)"); at != std::string::npos; at = decoded.find("300@1.1#0(16:2)", at + 1))
        ++groups;
    EXPECT_EQ(groups, 3u) << decoded;
    EXPECT_NE(decoded.find("16@1.1#0:2"), std::string::npos) << "the other device's report stays a transaction";
    // The turns taken over handed their decoders back during the run; what
    // those held still comes out with the flush at the end, in turn order.
    EXPECT_EQ(p.factory.live.size(), 1u);
    const std::string held = "300@1.1#0(16:2) 300@1.1#0(16:2) 300@1.1#0(16:2)";
    EXPECT_EQ(decoded.substr(decoded.size() - held.size()), held) << decoded;
    // A row of a turn handed back is described by a decoder made for it.
    UsbItem* first = nullptr;
    for (UsbItem* item : p.decoded.root.children)
        if (!first && item->type == kClassGroup) first = item;
    ItemSummary row;
    ASSERT_EQ(p.manager.Summarize(first, &row), 1);
    EXPECT_EQ(row.name, "fake");
}

// A class request the next enumeration cuts short still reaches the decoder
// of the turn it began in, though that turn was taken over before the next
// SETUP on the address came.
TEST(DecoderManager, ATurnTakenOverKeepsItsDecoderForItsOpenTransfer) {
    B b;
    Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    b.Setup(1, Request(0xA1, 0x01, 0x0100, 0, 3)), b.In(1, 0, PidData1, k3);
    b.ControlTransfer(0, GetDescriptor(0x100, 8), S::Bytes(kDevice.begin(), kDevice.begin() + 8));
    b.ControlTransfer(0, Request(0x00, 5, 1, 0, 0), {});
    b.In(1, 1, PidData0, k3);  // the new turn's first item on the address
    b.ControlTransfer(1, GetDescriptor(0x100, 18), kDevice);
    b.ControlTransfer(1, GetDescriptor(0x200, uint16_t(kConfig.size())), kConfig);
    Pipeline p(b.Take());
    p.Learn();
    const std::string decoded = p.Decode();
    EXPECT_NE(decoded.find("258@1.0#0(256)"), std::string::npos) << decoded;
    EXPECT_EQ(p.factory.creates, 2) << "one decoder a turn: " << decoded;
}

// Another device at one address each enumeration (a test station cycling
// products through one port), or a device of two interfaces in a reset loop:
// every earlier turn is handed back whichever device takes the address over,
// so what the decoding holds at its end is a handful of decoders, and a
// manager decoding capture after capture keeps no key of an earlier one.
// Describing the rows of the turns handed back keeps the decoders made for
// them to the bound, the most recently used, also after a release and over
// two addresses in turn.
TEST(DecoderManager, TurnsTakenOverHoldNoDecoderWhateverTheDevices) {
    const auto product = [](uint16_t id) {
        S::Bytes device = kDevice;
        device[10] = uint8_t(id), device[11] = uint8_t(id >> 8);
        return device;
    };
    // With `addresses` 2 the turns go to addresses 1 and 2 in turn.
    const auto newDevices = [&](int count, int addresses = 1) {
        B b;
        for (int i = 0; i < count; ++i) {
            const auto address = uint8_t(1 + i % addresses);
            Enumerate(b, address, product(uint16_t(0x8000 + i)));
            b.In(address, 1, PidData0, k3);
        }
        return b.Take();
    };
    // A row is summarized and then its detail read, as the list and the
    // detail pane do one after the other: one decoder made for both.
    const auto describeEveryTurn = [](Pipeline& pipeline) {
        for (UsbItem* item : pipeline.decoded.root.children) {
            ItemSummary row;
            std::string xml;
            if (item->type != kClassGroup) continue;
            EXPECT_EQ(pipeline.manager.Summarize(item, &row), 1);
            EXPECT_EQ(pipeline.manager.GetDetail(item, xml), 1);
        }
    };
    Pipeline p(newDevices(8000));
    p.Learn();
    p.Decode();
    EXPECT_EQ(p.factory.creates, 8000);
    // The built-in decoders of addresses 0 and 1, and the last turn's.
    EXPECT_EQ(p.manager.DecoderCount(), 3u);
    EXPECT_EQ(p.factory.live.size(), 1u);
    // Rows of every turn described: a decoder is made for each turn handed
    // back, and only the most recently used of those stay, given back to
    // the factory as they go.
    describeEveryTurn(p);
    EXPECT_EQ(p.factory.creates, 8000 + 7999) << "the newest decoder let go at once";
    EXPECT_EQ(p.manager.DecoderCount(), CDecoderManager::kDescribingDecoders + 3);
    EXPECT_EQ(p.factory.live.size(), CDecoderManager::kDescribingDecoders + 1);
    EXPECT_EQ(p.manager.HandBackKeyCount(), CDecoderManager::kDescribingDecoders + 1);
    {
        SCOPED_TRACE("the same manager decodes another capture");
        Pipeline next(newDevices(3));
        p.manager.SetHost(&next.parser);
        p.manager.SetRoot(&next.parsed.root);
        p.manager.LoadDeviceTree(next.Learn());
        CollectingSink sink;
        EXPECT_EQ(p.manager.DecodeAll(&sink), 1);
        EXPECT_EQ(p.manager.DecoderCount(), 3u);
        EXPECT_EQ(p.manager.HandBackKeyCount(), 1u) << "keys of the capture before";
        FreeTransferLevel(&sink.root);
        p.manager.ReleaseDecoders();
        p.manager.SetHost(&p.parser);
        p.manager.SetRoot(&p.parsed.root);
    }
    {
        SCOPED_TRACE("described again after a release");
        p.Learn();
        // The decoders gone with the release are not the ones the bound
        // lets go first: the last turn's decoder is made to describe too.
        describeEveryTurn(p);
        EXPECT_EQ(p.factory.creates, 8000 + 7999 + 3 + 8000);
        EXPECT_EQ(p.manager.DecoderCount(), CDecoderManager::kDescribingDecoders);
        EXPECT_EQ(p.manager.HandBackKeyCount(), CDecoderManager::kDescribingDecoders);
    }
    {
        SCOPED_TRACE("new devices at two addresses in turn");
        Pipeline two(newDevices(400, 2));
        two.Learn();
        two.Decode();
        // An odd bound: the decoder it lets go is always of the other address.
        two.manager.SetDescribingLimit(3);
        describeEveryTurn(two);
        EXPECT_EQ(two.factory.creates, 400 + 398);
        // The built-in decoders of addresses 0, 1 and 2, each address's last turn's, and the bound's.
        EXPECT_EQ(two.manager.DecoderCount(), 3u + 2 + 3);
        EXPECT_EQ(two.manager.HandBackKeyCount(), 2u + 3) << "keys of decoders let go of at the other address";
    }

    SCOPED_TRACE("a device of two interfaces in a reset loop");
    // Interface 0 HID with interrupt IN 1, interface 1 HID with interrupt IN 2.
    const S::Bytes twoInterfaces = {9, 2, 50, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 3, 1, 2, 0, 9, 0x21, 0x11, 0x01, 0,
                                    1, 0x22, 52, 0, 7, 5, 0x81, 3, 4, 0, 10, 9, 4, 1, 0, 1, 3, 0, 0, 0, 7, 5, 0x82,
                                    3, 4, 0, 10};
    B b;
    for (int turn = 0; turn < 1000; ++turn) {
        Enumerate(b, 1, kDevice, twoInterfaces);
        b.In(1, 1, PidData0, k3), b.In(1, 2, PidData0, k3);
    }
    Pipeline loop(b.Take());
    loop.Learn();
    loop.Decode();
    EXPECT_EQ(loop.factory.creates, 2000);
    EXPECT_EQ(loop.manager.DecoderCount(), 4u) << "the built-in ones and the last turn's two";
}

// A keyboard takes the mouse's address between two turns of the mouse: each
// turn's HID decoder is given the configuration of the device that held the
// address then, and the keyboard's reports go to its own endpoint's group.
TEST(DecoderManager, ALaterDeviceWithAPlugInIsGivenItsOwnConfiguration) {
    S::Bytes keyboard = kDevice, keyboardConfig = kConfig;
    keyboard[10] = 0x79;
    keyboardConfig[16] = 1;      // boot keyboard
    keyboardConfig[29] = 0x82;   // interrupt IN 2
    B b;
    Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    Enumerate(b, 1, keyboard, keyboardConfig);
    b.In(1, 2, PidData0, k3);
    Enumerate(b, 1);
    b.In(1, 1, PidData0, k3);
    Pipeline p(b.Take());
    p.Learn();

    const std::string decoded = p.Decode();
    // Read from what each was given: a turn taken over hands its decoder back.
    ASSERT_EQ(p.factory.configurations.size(), 3u) << decoded;
    EXPECT_EQ(p.factory.configurations[0], kConfig);
    EXPECT_EQ(p.factory.configurations[1], keyboardConfig);
    EXPECT_EQ(p.factory.configurations[2], kConfig);
    EXPECT_NE(decoded.find("300@1.2#0(16:2)"), std::string::npos) << decoded;
    // Every earlier turn is handed back, the keyboard's too: its rows are
    // described by a decoder made for them, given the keyboard's configuration.
    EXPECT_EQ(p.factory.live.size(), 1u);
    EXPECT_TRUE(p.factory.live.count(p.factory.made[2]));
    UsbItem* keyboardReport = nullptr;
    for (UsbItem* item : p.decoded.root.children)
        if (item->type == kClassGroup && item->endpoint == 2) keyboardReport = item;
    ASSERT_TRUE(keyboardReport);
    std::string xml;
    EXPECT_EQ(p.manager.GetDetail(keyboardReport, xml), 1);
    ASSERT_EQ(p.factory.creates, 4);
    EXPECT_EQ(p.factory.made[3]->details, 1);
    EXPECT_EQ(p.factory.configurations[3], keyboardConfig);
}

// A whole configuration response for an address whose device descriptor was
// not captured: the address gets a placeholder device and its transactions
// the interfaces of configuration 1, never those of another configuration.
TEST(DecoderManager, AConfigurationWithoutItsDeviceGivesAPlaceholder) {
    S::Bytes second = kConfig;
    second[5] = 2;    // bConfigurationValue 2
    second[11] = 1;   // whose only interface is 1
    const auto capture = [&](bool withTraffic) {
        B b;
        b.ControlTransfer(16, GetDescriptor(0x100, 18), S::Bytes(kDevice.begin(), kDevice.begin() + 17));
        b.ControlTransfer(16, GetDescriptor(0x200, uint16_t(kConfig.size())), kConfig);
        b.ControlTransfer(16, GetDescriptor(0x200, uint16_t(second.size()), 1), second);
        if (withTraffic) b.In(16, 1, PidData0, k3);
        return b.Take();
    };
    const std::string placeholder =
        "<devices><device address=\"16\" bcdUSB=\"-1\" bDeviceClass=\"-1\" bDeviceSubClass=\"-1\" "
        "bDeviceProtocol=\"-1\" idVendor=\"-1\" idPorduct=\"-1\" bcdDevice=\"-1\"/></devices>";
    {
        // No traffic but on endpoint 0: the configuration alone makes the address seen.
        Pipeline p(capture(false));
        EXPECT_EQ(p.Learn(), placeholder);
    }
    Pipeline p(capture(true));
    EXPECT_EQ(p.Learn(), placeholder);
    EXPECT_EQ(p.parsed.root.children.back()->interface, 0);
}


// The list describes the transfer-level rows a decoding has handed over while
// it goes on, each on its own thread; a second device's decoder is made
// meanwhile, next to the first in the decoder map.
TEST(DecoderManager, RowsDescribedWhileTheDecodingGoesOn) {
    B b;
    Enumerate(b, 3);
    for (int i = 0; i < 200; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, k3);
    Enumerate(b, 2);
    for (int i = 0; i < 200; ++i) b.In(2, 1, i % 2 ? PidData1 : PidData0, k3);
    Pipeline p(b.Take());
    p.Learn();
    HandOffSink handed;
    std::thread worker([&] { p.manager.DecodeAll(&handed); });
    int described = 0;
    handed.DescribeWhile(worker, [&](UsbItem* item) {
        ItemSummary row;
        uint8_t bytes[8];
        described += p.manager.Summarize(item, &row);
        p.manager.GetData(item, bytes, sizeof bytes);
        p.manager.GetImageList(item);
    });
    EXPECT_GT(described, 0);
    ExpectEveryRecordOnce(handed, p.source.Capture().records.size());
    EXPECT_EQ(p.factory.made.size(), 2u);
    FreeTransferLevel(&handed.root);
}

// A row of no interface is described by interface 0's decoder. While the
// level still grows, only a decoder the run made may describe it: one made for
// the description would look beside the row, where the run is appending.
TEST(DecoderManager, ADescriptionMakesNoClassDecoderWhileTheLevelGrows) {
    struct DescribingSink : CollectingSink {
        CDecoderManager* manager = nullptr;
        FakeFactory* factory = nullptr;
        UsbItem *vendor = nullptr, *report = nullptr;
        int createsWhenDescribed = -1, detailsAfterTheReport = -1, createsAtTheEnd = -1;
        void Describe(UsbItem* item) {
            std::string xml;
            manager->GetDetail(item, xml);
        }
        int32_t OnItem(UsbItem* item) override {
            CollectingSink::OnItem(item);
            if (!vendor && item->type == ItemControlTransfer) {
                vendor = item;
                Describe(vendor);
                createsWhenDescribed = factory->creates;
            } else if (item->type == kClassGroup && !report) {
                // The run has made interface 0's decoder by now.
                report = item;
                Describe(vendor);
                detailsAfterTheReport = factory->made.at(0)->details;
            }
            return 1;
        }
        int32_t OnFinish() override {
            // A sink hands its last rows over here: the level still grows.
            factory->made.clear();
            manager->ReleaseDecoders();
            Describe(report);
            createsAtTheEnd = factory->creates;
            return CollectingSink::OnFinish();
        }
    };
    B b;
    b.ControlTransfer(5, Request(0xC0, 0x33, 0, 0, 2), {1, 2});  // vendor, to the device
    b.In(5, 1, PidData0, k3), b.In(5, 1, PidData1, k3);
    Pipeline p(b.Take());
    p.manager.LoadDeviceTree(HandTree());
    DescribingSink sink;
    sink.manager = &p.manager;
    sink.factory = &p.factory;
    ASSERT_EQ(p.manager.DecodeAll(&sink), 1);
    EXPECT_EQ(sink.createsWhenDescribed, 0);
    EXPECT_EQ(sink.detailsAfterTheReport, 0) << "a row of no interface waits for the run's end";
    EXPECT_EQ(sink.createsAtTheEnd, 1) << "the run makes its own for the reports, no more";
    // Once the level is whole, a description may make one.
    UsbItem* transfer = sink.root.children[0];
    p.manager.ReleaseDecoders();
    ItemSummary row;
    p.manager.Summarize(transfer, &row);
    EXPECT_EQ(p.factory.creates, 2);
    p.manager.ReleaseDecoders();
    FreeTransferLevel(&sink.root);
}

TEST(DecoderManager, ADecoderOutlivesAReleaseWhileARowIsDescribedWithIt) {
    B b;
    Enumerate(b, 3);
    for (int i = 0; i < 4; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, k3);
    Pipeline p(b.Take());
    p.Learn();
    p.Decode();
    ASSERT_EQ(p.factory.made.size(), 1u);
    UsbItem* group = p.decoded.root.children.back();
    ASSERT_EQ(group->type, kClassGroup);

    // The UI thread is inside the decoder when the worker starts a decoding afresh.
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false, released = false;
    FakeDecoder* decoder = p.factory.made[0];
    decoder->onSummarize = [&] {
        std::unique_lock lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };
    std::thread ui([&] {
        ItemSummary row;
        EXPECT_EQ(p.manager.Summarize(group, &row), 1);
        EXPECT_EQ(row.name, "fake");
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inside; });
    }
    p.manager.ReleaseDecoders();
    EXPECT_EQ(p.factory.live.count(decoder), 1u) << "freed under the describing thread";
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    ui.join();
    EXPECT_TRUE(p.factory.live.empty()) << "given back once the description returned";
}

// Item memory running out ends the run: the level keeps what it was handed,
// the sink is finished, and the next run starts afresh.
TEST(DecoderManager, ARunOutOfItemMemoryEndsAndTheNextStartsAfresh) {
    B b;
    Enumerate(b, 3);
    for (int i = 0; i < 8; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, k3);
    Pipeline p(b.Take());
    p.Learn();
    int takes = 0;
    p.factory.onTake = [&] {
        if (++takes == 5) throw std::bad_alloc();
    };
    EXPECT_EQ(p.manager.DecodeAll(&p.decoded), 0);
    EXPECT_EQ(p.decoded.finished, 1);
    EXPECT_EQ(p.manager.DecoderCount(), 0u);
    EXPECT_EQ(p.factory.live.size(), 0u) << "what the decoders held went with them";
    p.factory.onTake = nullptr;
    EXPECT_EQ(p.Decode().substr(0, 3), "256");
}

// A run that stops before its end (out of item memory, cancelled) leaves the
// SOFs it did not reach as the run before left them; that run's SOF groups are
// freed by then, and the transaction level still describes every SOF.
TEST(DecoderManager, SofsOutliveTheRunsOfAnEarlierDecoding) {
    for (const bool outOfMemory : {true, false}) {
        SCOPED_TRACE(outOfMemory ? "out of item memory" : "cancelled");
        B b;
        Enumerate(b, 3);
        for (int i = 0; i < 3; ++i) b.SofRun(3), b.In(3, 1, PidData0, k3), b.In(3, 1, PidData1, k3);
        b.SofRun(3);
        Pipeline p(b.Take());
        p.Learn();
        p.Decode();
        FreeTransferLevel(&p.decoded.root);
        p.factory.onTake = [&] {
            if (outOfMemory) throw std::bad_alloc();
            p.manager.Cancel();
        };
        p.manager.DecodeAll(&p.decoded);
        int sofs = 0;
        for (UsbItem* top : p.parsed.root.children) {
            if (top->type != ItemSofGroup) continue;
            for (UsbItem* sof : top->children) {
                ItemSummary row;
                ASSERT_EQ(p.parser.Summarize(sof, &row), 1);
                EXPECT_TRUE(sof->parent == top);
                ++sofs;
            }
        }
        EXPECT_EQ(sofs, 12);
    }
}

// Cancels the run from inside it once `after` items were handed over.
struct CancellingSink : CollectingSink {
    CDecoderManager* manager = nullptr;
    size_t after = 0;
    int32_t OnItem(UsbItem* item) override {
        CollectingSink::OnItem(item);
        if (root.children.size() == after) manager->Cancel();
        return 1;
    }
};

TEST(DecoderManager, ACancelEndsTheRunAtTheNextItemAndIsUsedUp) {
    std::unique_ptr<UsbItem> rootItem = std::make_unique<UsbItem>();
    for (uint32_t i = 0; i < 2500; ++i) rootItem->Append(new UsbItem(ItemBusEvent, i));
    CUsbParser host;
    CDecoderManager manager(nullptr);
    manager.SetHost(&host);
    manager.SetRoot(rootItem.get());
    {
        CancellingSink sink;
        sink.manager = &manager;
        sink.after = 10;
        EXPECT_EQ(manager.DecodeAll(&sink), 1);
        EXPECT_TRUE(manager.Cancelled());
        EXPECT_EQ(sink.root.children.size(), 10u);
        EXPECT_EQ(sink.finished, 1);
        EXPECT_FALSE(manager.CancelPending());
        sink.root.children.clear();  // the same nodes as the root's
    }
    {
        SCOPED_TRACE("the next run goes to its end");
        CollectingSink sink;
        EXPECT_EQ(manager.DecodeAll(&sink), 1);
        EXPECT_FALSE(manager.Cancelled());
        EXPECT_EQ(sink.root.children.size(), 2500u);
        sink.root.children.clear();
    }
    {
        SCOPED_TRACE("a cancel before the run ends it at its start");
        CollectingSink sink;
        manager.Cancel();
        EXPECT_EQ(manager.DecodeAll(&sink), 1);
        EXPECT_TRUE(manager.Cancelled());
        EXPECT_TRUE(sink.root.children.empty());
        EXPECT_EQ(sink.finished, 1);
    }
    FreeChildren(rootItem.get());

    SCOPED_TRACE("what a decoder holds is handed over, not lost");
    B b;
    Enumerate(b, 3);
    for (int i = 0; i < 6; ++i) b.In(3, 1, i % 2 ? PidData1 : PidData0, k3);
    Pipeline p(b.Take());
    p.factory.groupSize = 0;  // holds every transaction until the flush
    p.Learn();
    p.Decode();
    const size_t whole = p.decoded.root.children.size();
    p.factory.onTake = [&] { p.manager.Cancel(); };
    CollectingSink sink;
    EXPECT_EQ(p.manager.DecodeAll(&sink), 1);
    EXPECT_TRUE(p.manager.Cancelled());
    // The group holds the first IN only: the other five were never read.
    ASSERT_EQ(sink.root.children.size(), whole);
    EXPECT_EQ(Brief(sink.root.children.back()), "300@3.1#0(16:2)");
    FreeTransferLevel(&sink.root);
}
