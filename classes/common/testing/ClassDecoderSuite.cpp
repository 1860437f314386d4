#include "ClassDecoderSuite.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "CDecodeFactory.h"
#include "Document.h"
#include "SetupPacket.h"

namespace orvane {

ClassSuiteConfig ClassSuiteConfig::FromPluginFolder(const std::string& folder, int32_t cls, int32_t subclass,
                                                    int32_t protocol)
{
    // One factory per folder for the whole test program, as the program keeps one.
    static std::map<std::string, std::unique_ptr<CDecodeFactory>> factories;
    auto& factory = factories[folder];
    if (!factory) factory = std::make_unique<CDecodeFactory>(folder);
    CDecodeFactory* f = factory.get();
    ClassSuiteConfig config;
    config.name = folder;
    config.cls = cls;
    config.subclass = subclass;
    config.protocol = protocol;
    config.create = [f, cls, subclass, protocol]() -> IDecodeClass* {
        const int32_t index = f->Find(cls, subclass, protocol);
        return index >= 0 ? f->Create(index) : nullptr;
    };
    config.release = [f](IDecodeClass* decoder) { f->ReleaseDecoder(decoder); };
    return config;
}

void PrintTo(const ClassSuiteConfig& config, std::ostream* os) { *os << config.name; }

namespace {

constexpr uint8_t kCanary = 0xCD;
constexpr uint32_t kGuard = 64;

// One decoder, released however the configuration says.
struct Decoder {
    const ClassSuiteConfig& config;
    IDecodeClass* decoder;

    Decoder(const ClassSuiteConfig& c, CFakeHost& host) : config(c), decoder(c.create ? c.create() : nullptr)
    {
        if (!decoder) return;
        decoder->SetHost(&host);
        if (!c.configuration.empty())
            decoder->OnNotify(NotifyConfiguration, const_cast<uint8_t*>(c.configuration.data()),
                              intptr_t(c.configuration.size()));
    }
    ~Decoder()
    {
        if (!decoder) return;
        if (config.release) config.release(decoder);
        else decoder->Release();
    }
    IDecodeClass* operator->() const { return decoder; }
};

// GetData, bounded by its capacity: the bytes past it stay untouched, a
// partial read answers the same full length, and the data-pane size agrees.
std::string CheckedData(IDecodeClass& decoder, UsbItem* item)
{
    const int32_t length = decoder.GetData(item, nullptr, 0);
    if (length < 0) return "-";
    EXPECT_LT(length, 64 << 20) << "implausible data length";
    if (length >= (64 << 20)) return "?";
    std::vector<uint8_t> buffer(size_t(length) + kGuard, kCanary);
    EXPECT_EQ(decoder.GetData(item, buffer.data(), uint32_t(length)), length);
    for (size_t i = size_t(length); i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kCanary) << "GetData wrote past its capacity at " << i;
        if (buffer[i] != kCanary) break;
    }
    std::vector<uint8_t> whole(buffer.begin(), buffer.begin() + length);
    if (length > 1) {
        const uint32_t half = uint32_t(length) / 2;
        std::vector<uint8_t> part(size_t(length) + kGuard, kCanary);
        EXPECT_EQ(decoder.GetData(item, part.data(), half), length) << "a partial read answers the full length";
        EXPECT_TRUE(std::equal(part.begin(), part.begin() + half, whole.begin()));
        EXPECT_TRUE(std::all_of(part.begin() + half, part.end(), [](uint8_t b) { return b == kCanary; }))
            << "GetData wrote past a capacity of " << half;
    }
    uint32_t size = 0xFFFFFFFF;
    decoder.OnNotify(NotifyDataLength, item, reinterpret_cast<intptr_t>(&size));
    EXPECT_EQ(size, uint32_t(length)) << "OnNotify code 1 must answer what GetData returns";
    std::ostringstream s;
    s << length << ':';
    uint32_t sum = 0;
    for (uint8_t b : whole) sum = sum * 31 + b;
    s << std::hex << sum;
    return s.str();
}

std::string CheckedDetail(IDecodeClass& decoder, UsbItem* item)
{
    std::string xml = "untouched";
    const int32_t handled = decoder.GetDetail(item, xml);
    if (!handled) {
        EXPECT_EQ(xml, "untouched") << "a refused item leaves the text as it was";
        return "0";
    }
    xml::Document document;
    EXPECT_TRUE(document.loadXML(xml)) << xml;
    EXPECT_TRUE(document.selectSingleNode("/groups")) << xml;
    for (const auto& node : document.selectNodes("//item")) {
        const auto offset = node.attribute("offset");
        const auto bits = node.attribute("bits");
        EXPECT_TRUE(offset && bits && std::stoll(*offset) >= 0 && std::stoll(*bits) >= 0) << xml;
    }
    std::string again;
    decoder.GetDetail(item, again);
    EXPECT_EQ(again, xml) << "describing twice gives the same text";
    return xml;
}

// Every slot on one item, as a line of text to compare between runs.
std::string DescribeItem(IDecodeClass& decoder, UsbItem* item)
{
    ItemSummary row;
    const int32_t summarized = decoder.Summarize(item, &row);
    std::ostringstream s;
    s << item->type << ' ' << summarized << " [" << row.name << '|' << row.icon << '|' << row.address << '|'
      << row.endpoint << '|' << row.interface << '|' << row.status << '|' << row.speed << '|' << row.size << '|'
      << row.duration << '|' << row.time << "] " << CheckedData(decoder, item) << ' '
      << CheckedDetail(decoder, item) << ' ' << (decoder.GetImageList(item) ? "icons" : "-");
    return s.str();
}

// Walks what the decoder handed out: each host item met once at most, every
// class-level item described, parents pointing back up.
std::string Dump(IDecodeClass& decoder, const CFakeHost& host, const std::vector<UsbItem*>& out,
                 std::multiset<const UsbItem*>& seen)
{
    std::ostringstream s;
    std::vector<std::pair<UsbItem*, int>> stack;
    for (auto it = out.rbegin(); it != out.rend(); ++it) stack.emplace_back(*it, 0);
    std::set<const UsbItem*> visited;
    while (!stack.empty()) {
        auto [item, depth] = stack.back();
        stack.pop_back();
        if (!item) {
            ADD_FAILURE() << "a null child";
            continue;
        }
        s << std::string(size_t(depth) * 2, ' ') << DescribeItem(decoder, item) << '\n';
        if (host.Made(item)) {
            seen.insert(item);
            continue;
        }
        if (!visited.insert(item).second) {
            ADD_FAILURE() << "a class-level item stands twice in the tree";
            continue;
        }
        for (uint32_t i = item->children.size(); i-- > 0;) {
            UsbItem* child = item->children[i];
            UsbItem* const parent = child ? child->parent : nullptr;
            EXPECT_EQ(parent, item) << "an item taken into a class-level item points back at it";
            stack.emplace_back(child, depth + 1);
        }
    }
    return s.str();
}

// Decodes `items` with a fresh decoder; checks nothing is lost or doubled and
// answers the dump of everything handed out.
std::string DecodeAndCheck(const ClassSuiteConfig& config, CFakeHost& host, const std::vector<UsbItem*>& items)
{
    Decoder decoder(config, host);
    if (!decoder.decoder) {
        ADD_FAILURE() << "the plug-in made no decoder";
        return {};
    }
    const std::vector<UsbItem*> out = Feed(*decoder.decoder, items);
    std::multiset<const UsbItem*> seen;
    const std::string dump = Dump(*decoder.decoder, host, out, seen);
    // An item fed stands once: itself, or the members of a run it stood for.
    for (UsbItem* fed : items) {
        const size_t n = seen.count(fed);
        if (config.keepsEverything) EXPECT_EQ(n, 1u) << "item #" << fed->firstRecord << " type " << fed->type;
        else EXPECT_LE(n, 1u) << "item #" << fed->firstRecord << " type " << fed->type;
    }
    for (const UsbItem* item : seen)
        EXPECT_NE(std::find(items.begin(), items.end(), item), items.end()) << "an item that was not fed";
    EXPECT_EQ(decoder->OnTransaction(nullptr), nullptr) << "a second flush finds nothing held";
    host.FreeDecoderItems(out);
    return dump;
}

std::vector<UsbItem*> Session(const ClassSuiteConfig& config, CFakeHost& host)
{
    EXPECT_TRUE(config.session) << "the suite needs a session";
    return config.session ? config.session(host) : std::vector<UsbItem*>{};
}

// The items of the session that carry bytes.
std::vector<const UsbItem*> WithPayload(const CFakeHost& host)
{
    std::vector<const UsbItem*> items;
    for (const UsbItem* item : host.Items())
        if (const auto* bytes = host.Payload(item); bytes && !bytes->empty()) items.push_back(item);
    return items;
}

}  // namespace

TEST_P(ClassDecoderSuite, ServesItsClassCode)
{
    CFakeHost host;
    Decoder decoder(GetParam(), host);
    ASSERT_TRUE(decoder.decoder);
    int32_t cls = 0, subclass = 0, protocol = 0;
    EXPECT_EQ(decoder->GetClassCode(&cls, &subclass, &protocol), 1);
    EXPECT_EQ(std::make_tuple(cls, subclass, protocol),
              std::make_tuple(GetParam().cls, GetParam().subclass, GetParam().protocol));
}

TEST_P(ClassDecoderSuite, RefusesNullArgumentsAndFlushesNothingWhenFresh)
{
    CFakeHost host;
    Decoder decoder(GetParam(), host);
    ASSERT_TRUE(decoder.decoder);
    ItemSummary row;
    std::string xml = "kept";
    EXPECT_EQ(decoder->Summarize(nullptr, &row), 0);
    EXPECT_LT(decoder->GetData(nullptr, nullptr, 0), 0);
    EXPECT_EQ(decoder->GetDetail(nullptr, xml), 0);
    EXPECT_EQ(xml, "kept");
    EXPECT_EQ(decoder->OnTransaction(nullptr), nullptr);
    decoder->OnNotify(NotifyConfiguration, nullptr, 0);
    decoder->Reset();
}

TEST_P(ClassDecoderSuite, DecodingTwiceGivesTheSameItems)
{
    CFakeHost host;
    const std::vector<UsbItem*> items = Session(GetParam(), host);
    ASSERT_FALSE(items.empty());
    const std::string first = DecodeAndCheck(GetParam(), host, items);
    const std::string second = DecodeAndCheck(GetParam(), host, items);
    EXPECT_EQ(first, second);
    EXPECT_NE(first.find('\n'), std::string::npos);
}

TEST_P(ClassDecoderSuite, TruncatedPayloadsOneItemAtATime)
{
    CFakeHost probe;
    Session(GetParam(), probe);
    const size_t count = WithPayload(probe).size();
    for (size_t k = 0; k < count; ++k) {
        const size_t full = probe.Payload(WithPayload(probe)[k])->size();
        std::set<size_t> cuts = {0, 1, full / 2, full - 1};
        for (size_t cut : cuts) {
            if (cut >= full) continue;
            CFakeHost host;
            const std::vector<UsbItem*> items = Session(GetParam(), host);
            const UsbItem* target = WithPayload(host)[k];
            std::vector<uint8_t> bytes = *host.Payload(target);
            bytes.resize(cut);
            host.SetPayload(target, bytes);
            SCOPED_TRACE("item #" + std::to_string(target->firstRecord) + " cut to " + std::to_string(cut));
            DecodeAndCheck(GetParam(), host, items);
            if (HasFatalFailure()) return;
        }
    }
}

// A payload whose read from the analyser fails while a row that shows it is
// first described: that first detail names it, as every later one does.
TEST_P(ClassDecoderSuite, AReadThatFailsWhileARowIsFirstDescribedIsNamed)
{
    CFakeHost probe;
    Session(GetParam(), probe);
    const size_t count = WithPayload(probe).size();
    size_t named = 0;
    for (size_t k = 0; k < count; ++k) {
        CFakeHost host;
        const std::vector<UsbItem*> items = Session(GetParam(), host);
        const UsbItem* target = WithPayload(host)[k];
        Decoder decoder(GetParam(), host);
        ASSERT_TRUE(decoder.decoder);
        const std::vector<UsbItem*> out = Feed(*decoder.decoder, items);
        host.FailReads(target);
        std::vector<UsbItem*> rows(out.begin(), out.end());
        for (size_t r = 0; r < rows.size(); ++r) {
            UsbItem* row = rows[r];
            if (!host.Made(row)) rows.insert(rows.end(), row->children.begin(), row->children.end());
            // The host's own are its to describe; a decoder may retype one as its own.
            if (row->type <= ItemControlTransfer) continue;
            // Every row meets the failure afresh.
            host.LosePayload(target, false);
            std::string first, second;
            const int32_t handled = decoder->GetDetail(row, first);
            const bool lost = decoder->OnNotify(NotifyPayloadLost, row, 0) == 1;
            SCOPED_TRACE("item #" + std::to_string(target->firstRecord) + " failing, row of type " +
                         std::to_string(row->type) + ": " + first);
            EXPECT_EQ(handled == 1 && first.find(kPayloadUnreadText) != std::string::npos, lost);
            EXPECT_EQ(decoder->GetDetail(row, second), handled);
            EXPECT_EQ(second, first);
            named += lost;
        }
        host.FreeDecoderItems(out);
    }
    EXPECT_GT(named, 0u) << "no row read a payload while described";
}

TEST_P(ClassDecoderSuite, ZeroLengthPayloads)
{
    CFakeHost host;
    const std::vector<UsbItem*> items = Session(GetParam(), host);
    for (const UsbItem* item : WithPayload(host)) host.SetPayload(item, {});
    DecodeAndCheck(GetParam(), host, items);
}

TEST_P(ClassDecoderSuite, MaximumLengthPayloads)
{
    CFakeHost host;
    const std::vector<UsbItem*> items = Session(GetParam(), host);
    for (const UsbItem* item : WithPayload(host)) {
        std::vector<uint8_t> bytes = *host.Payload(item);
        bytes.resize(GetParam().maxPayload, 0xFF);
        host.SetPayload(item, bytes);
    }
    DecodeAndCheck(GetParam(), host, items);
}

TEST_P(ClassDecoderSuite, UnknownTransactionsAndRequestsPassWithoutLoss)
{
    CFakeHost host;
    const std::vector<UsbItem*> items = Session(GetParam(), host);
    const uint8_t vendor[] = {0xC0, 0x33, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00};
    const uint8_t unknownClass[] = {0xA1, 0x77, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
    const uint8_t toEndpoint[] = {0x22, 0x01, 0x00, 0x01, 0x81, 0x00, 0x00, 0x00};
    // Unknown requests and transactions among the class's own, at the start,
    // in the middle and at the end.
    const std::vector<UsbItem*> strange = {
        host.ControlTransfer(vendor, {1, 2, 3, 4}),
        host.ControlTransfer(unknownClass, {0xAA, 0xBB}),
        host.ControlTransfer(toEndpoint),
        host.Transaction(ItemSsplitIn, PidAck, {1, 2}),
        host.Transaction(ItemPingTransaction, PidAck),
        host.In({9, 9, 9}, PidStall),
        host.Out({}, kNone),
        host.NakRun(ItemOutTransaction, 2),
        host.Transaction(20, PidAck, {7}),
    };
    const long half = long(items.size() / 2);
    std::vector<UsbItem*> mixed(strange.begin(), strange.begin() + 3);
    mixed.insert(mixed.end(), items.begin(), items.begin() + half);
    mixed.insert(mixed.end(), strange.begin() + 3, strange.end());
    mixed.insert(mixed.end(), items.begin() + half, items.end());
    mixed.push_back(host.ControlTransfer(unknownClass));
    DecodeAndCheck(GetParam(), host, mixed);

    // Items of types no decoder made: described by nobody, or by the host, never a crash.
    Decoder decoder(GetParam(), host);
    ASSERT_TRUE(decoder.decoder);
    UsbItem orphan(0x7777, 1);
    UsbItem empty(257, 2);
    UsbItem high(0xFFFF, 3);
    UsbItem withChild(300, 4);
    auto child = std::make_unique<UsbItem>(ItemInTransaction, 5);  // a list links only to pool items
    withChild.children.push_back(child.get());
    for (UsbItem* item : {&orphan, &empty, &high, &withChild}) DescribeItem(*decoder.decoder, item);
    withChild.children.clear();
}

}  // namespace orvane
