#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CClassDecoderBase.h"
#include "CDecodeFactory.h"
#include "Document.h"
#include "WriteEnumerableGroup.h"

using namespace orvane;

namespace {

// The packet parser as far as a class decoder needs it: transaction rows and
// payload bytes, keyed by the item's first record.
class FakeHost : public IDecode {
public:
    std::map<uint32_t, std::vector<uint8_t>> payload;
    std::map<uint32_t, ItemSummary> rows;
    std::set<uint32_t> lost;  // records whose payload the capture lacks
    std::set<uint32_t> unread;  // of those, the ones only not read from the analyser
    std::set<uint32_t> readFails;  // read from the analyser as they are fetched, and that read fails

    void Release() override {}
    int32_t Summarize(UsbItem* item, ItemSummary* out) override
    {
        const auto row = rows.find(item->firstRecord);
        if (row == rows.end()) return 0;
        *out = row->second;
        return 1;
    }
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override
    {
        if (readFails.count(item->firstRecord)) lost.insert(item->firstRecord), unread.insert(item->firstRecord);
        const auto& bytes = payload[item->firstRecord];
        if (buffer) std::memcpy(buffer, bytes.data(), std::min<size_t>(capacity, bytes.size()));
        return int32_t(bytes.size());
    }
    int32_t GetDetail(UsbItem*, std::string& xml) override
    {
        xml = "<host/>";
        return 1;
    }
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override
    {
        const uint32_t record = static_cast<UsbItem*>(arg)->firstRecord;
        if (code != NotifyPayloadLost || !lost.count(record)) return 0;
        if (param && unread.count(record)) *reinterpret_cast<const char**>(param) = kPayloadUnreadText;
        return 1;
    }
};

ItemSummary Row(int address, int status, int64_t time, int size = -1)
{
    ItemSummary row;
    row.address = address;
    row.endpoint = address < 0 ? -1 : 1;
    row.status = status;
    row.time = time;
    row.size = size;
    return row;
}

// A decoder made in-process that rows every item from its children.
class Grouping : public CClassDecoderBase {
public:
    Grouping() : CClassDecoderBase(3, -1, -1, nullptr) {}
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override
    {
        if (item->children.empty()) return CClassDecoderBase::SummarizeItem(item, out);
        MergeChildSummaries(item, out);
        return 1;
    }
};

// Shows the data of its first child alone, and a row that lacks some as lost.
class Headed : public Grouping {
public:
    bool ShowsDataOf(const UsbItem& item, const UsbItem& child) override { return &child == item.children[0]; }
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override
    {
        return DescribeIfLost(item, document);
    }
};

// Shows the first byte of its first child's data as a field, asking first
// whether the data lack a payload unless told not to.
class Reading : public Headed {
public:
    bool asks = true;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override
    {
        if (asks && DescribeIfLost(item, document)) return true;
        uint8_t first = 0;
        Host()->GetData(item->children[0], &first, 1);
        document.AddItem(document.AddGroup("Report"), "First", std::to_string(first), "", 0, 8);
        return true;
    }
};

// An item has lost payload when the data it shows lack some: a child the
// data leave out may lose its own and the item's data stay whole.
TEST(ClassFrame, AnItemLostPayloadOnlyWhereTheDataItShowsLackIt)
{
    FakeHost host;
    Grouping every;
    Headed headed;
    every.SetHost(&host);
    headed.SetHost(&host);
    const auto outerItem = std::make_unique<UsbItem>(300, 1), innerItem = std::make_unique<UsbItem>(301, 1);
    const auto firstItem = std::make_unique<UsbItem>(ItemInTransaction, 1);
    const auto secondItem = std::make_unique<UsbItem>(ItemInTransaction, 2);
    const auto thirdItem = std::make_unique<UsbItem>(ItemInTransaction, 3);
    UsbItem &outer = *outerItem, &inner = *innerItem, &first = *firstItem;
    inner.Append(&first);
    inner.Append(secondItem.get());
    outer.Append(&inner);
    outer.Append(thirdItem.get());
    auto lost = [](IDecodeClass& d, UsbItem& item) { return d.OnNotify(NotifyPayloadLost, &item, 0); };
    EXPECT_EQ(lost(every, outer), 0);

    host.lost = {2};
    EXPECT_EQ(lost(every, outer), 1) << "by default every child gives data";
    EXPECT_EQ(lost(headed, inner), 0) << "the second child is not shown";
    EXPECT_EQ(lost(headed, outer), 0);
    host.lost = {3};
    EXPECT_EQ(lost(headed, outer), 0);
    EXPECT_EQ(lost(every, outer), 1);
    host.lost = {1};
    EXPECT_EQ(lost(headed, inner), 1);
    EXPECT_EQ(lost(headed, outer), 1) << "through a class-level child";
    EXPECT_EQ(lost(headed, first), 1) << "a transaction is the host's to answer";

    // Which text stands for the data: the ring's once it wrote over one they show.
    const char* const ring = kPayloadLostText;
    const char* const unread = kPayloadUnreadText;
    const struct {
        IDecodeClass& decoder;
        UsbItem& item;
        std::set<uint32_t> lost, unread;
        const char* text;
    } rows[] = {
        {every, outer, {1, 2, 3}, {1, 2, 3}, unread},
        {every, outer, {1, 2, 3}, {1, 3}, ring},
        {every, outer, {1, 2, 3}, {2, 3}, ring},
        {every, outer, {2}, {2}, unread},
        {headed, outer, {1, 2, 3}, {1}, unread},
        {headed, inner, {1, 2}, {2}, ring},
        {headed, first, {1}, {1}, unread},
        {headed, outer, {2, 3}, {2, 3}, nullptr},
    };
    for (const auto& row : rows) {
        host.lost = row.lost;
        host.unread = row.unread;
        SCOPED_TRACE(testing::Message() << "item " << row.item.firstRecord << ", lost " << row.lost.size()
                                        << ", unread " << row.unread.size());
        EXPECT_STREQ(LostPayloadText(&row.decoder, &row.item), row.text);
        if (&row.decoder != &headed || row.item.type == ItemInTransaction) continue;
        std::string xml;
        ASSERT_EQ(headed.GetDetail(&row.item, xml), row.text ? 1 : 0);
        if (!row.text) continue;
        xml::Document detail;
        ASSERT_TRUE(detail.loadXML(xml));
        EXPECT_EQ(detail.selectSingleNode("//item[@name='Data']").attribute("value"), row.text) << xml;
    }

    // A read that fails as the decoder describes the row: said so, no field of zeros.
    Reading reading;
    reading.SetHost(&host);
    host.lost.clear(), host.unread.clear();
    host.payload[1] = {7};
    host.rows[1] = Row(1, 0, 0);
    for (const auto& [asks, fails] : {std::pair{true, false}, {true, true}, {false, false}, {false, true}}) {
        reading.asks = asks;
        host.lost.clear(), host.unread.clear();
        host.readFails.clear();
        if (fails) host.readFails.insert(1);
        for (const char* time : {"first", "second"}) {
            std::string xml;
            ASSERT_EQ(reading.GetDetail(&inner, xml), 1);
            EXPECT_EQ(xml.find("name=\"First\"") == std::string::npos, fails) << time << ": " << xml;
            EXPECT_EQ(xml.find(unread) != std::string::npos, fails) << time << ": " << xml;
        }
    }
}

TEST(ClassFrame, MergeTakesOnlyEmptyCellsAndMapsAckAndNyetToOk)
{
    ItemSummary row = Row(-1, -1, 0);
    row.speed = 2;
    CClassDecoderBase::MergeCells(row, Row(5, 2, 700, 64));
    CClassDecoderBase::MergeCells(row, Row(9, 0, 900, 8));
    EXPECT_EQ(std::tie(row.address, row.endpoint, row.status, row.speed, row.size, row.time),
              std::make_tuple(5, 1, 2, 2, 64, int64_t(700)));
    ItemSummary late = Row(-1, -1, -5);
    CClassDecoderBase::MergeCells(late, Row(-1, -1, 300));
    EXPECT_EQ(late.time, 300) << "a negative time stamp is not a set one";

    // status of the first child -> merged status of the row
    const std::vector<std::pair<int, int>> statuses = {
        {0, StatusOk}, {1, StatusOk}, {2, 2}, {3, 3}, {MakeItemStatus(StatusError, ErrorClassCrc16), 0x40007}, {-1, -1}};
    for (const auto& [child, merged] : statuses) {
        FakeHost host;
        host.rows[1] = Row(-1, child, 0);
        host.rows[2] = Row(-1, 0, 0);  // all cells empty but status
        Grouping decoder;
        decoder.SetHost(&host);
        std::unique_ptr<UsbItem> parentItem_ = std::make_unique<UsbItem>(300, 1);
        UsbItem& parent = *parentItem_;
        std::unique_ptr<UsbItem> aItem_ = std::make_unique<UsbItem>(ItemInTransaction, 1);
        UsbItem& a = *aItem_;
        std::unique_ptr<UsbItem> bItem_ = std::make_unique<UsbItem>(ItemInTransaction, 2);
        UsbItem& b = *bItem_;
        parent.Append(&a);
        parent.Append(&b);
        ItemSummary out;
        ASSERT_EQ(decoder.Summarize(&parent, &out), 1);
        EXPECT_EQ(out.status, child == -1 ? StatusOk : merged) << child;
        EXPECT_EQ(std::tie(out.address, out.endpoint, out.interface, out.speed, out.size),
                  std::make_tuple(-1, -1, -1, -1, -1));
        EXPECT_EQ(out.time, 0);
    }
}

class Fields : public IEnumerable {
public:
    explicit Fields(std::vector<FieldRecord> fields) : fields_(std::move(fields)) {}
    void SetData(const uint8_t*, uint32_t) override {}
    void GetName(std::string& name) override { name = "unused"; }
    void Enumerate(std::vector<FieldRecord>& out) override { out.insert(out.end(), fields_.begin(), fields_.end()); }

private:
    std::vector<FieldRecord> fields_;
};

TEST(ClassFrame, WalkerGroupsRunOnFromTheCallersOffset)
{
    CDecodeResultWriter document;
    int64_t offset = 16;
    Fields header({{"bTag", "0x01", "tag", 8}, {"wLength", "3", "length", 16}});
    Fields none({});
    WriteEnumerableGroup(document, header, "Header", offset);
    WriteEnumerableGroup(document, none, "Nothing", offset);
    WriteEnumerableGroup(document, header, "Again", offset);
    EXPECT_EQ(offset, 16 + 24 + 24);

    xml::Document parsed;
    ASSERT_TRUE(parsed.loadXML(document.Text()));
    const auto groups = parsed.selectNodes("/groups/group");
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].attribute("name"), "Nothing");
    EXPECT_TRUE(groups[1].childNodes().empty()) << "a walker without fields still writes its group";
    std::vector<std::string> offsets;
    for (const auto& item : parsed.selectNodes("//item")) offsets.push_back(*item.attribute("offset"));
    EXPECT_EQ(offsets, (std::vector<std::string>{"16", "24", "40", "48"}));
}

// The test plug-in, loaded from "classes" beside this program.
constexpr uint16_t kPair = 258, kFaulty = 259;

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        index_ = factory_.Find(3, 0, 0);
        ASSERT_GE(index_, 0);
        host_.rows[1] = Row(4, StatusNyet, 100);
        host_.rows[2] = Row(4, StatusAck, 200, 8);
        host_.payload[1] = {0xA5, 0x03};
        host_.payload[2] = {0x00, 0x77};
    }
    IDecodeClass* Make()
    {
        IDecodeClass* decoder = factory_.Create(index_);
        if (decoder) decoder->SetHost(&host_);
        return decoder;
    }

    CDecodeFactory factory_;
    FakeHost host_;
    int index_ = -1;
};

TEST_F(PluginTest, TwoDecodersGroupIndependentlyAndDescribeTheirItems)
{
    IDecodeClass* a = Make();
    IDecodeClass* b = Make();
    ASSERT_TRUE(a && b);
    ASSERT_NE(a, b);
    std::unique_ptr<UsbItem> t1Item_ = std::make_unique<UsbItem>(ItemInTransaction, 1);
    UsbItem& t1 = *t1Item_;
    std::unique_ptr<UsbItem> t2Item_ = std::make_unique<UsbItem>(ItemInTransaction, 2);
    UsbItem& t2 = *t2Item_;
    std::unique_ptr<UsbItem> t3Item_ = std::make_unique<UsbItem>(ItemInTransaction, 3);
    UsbItem& t3 = *t3Item_;
    EXPECT_EQ(a->OnTransaction(&t1), nullptr);
    EXPECT_EQ(b->OnTransaction(&t3), nullptr);
    UsbItem* pair = a->OnTransaction(&t2);
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->type, kPair);
    ASSERT_EQ(pair->children.size(), 2u);
    UsbItem* const parent = t2.parent;
    EXPECT_EQ(parent, pair);
    EXPECT_EQ(a->OnTransaction(nullptr), nullptr) << "nothing held after a completed pair";
    UsbItem* single = b->OnTransaction(nullptr);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->children.size(), 1u);

    ItemSummary row;
    ASSERT_EQ(a->Summarize(pair, &row), 1);
    EXPECT_EQ(row.name, "Test pair");
    EXPECT_EQ(std::tie(row.icon, row.address, row.status, row.size, row.time),
              std::make_tuple(0, 4, int(StatusOk), 8, int64_t(100)));

    uint8_t bytes[8] = {};
    EXPECT_EQ(a->GetData(pair, bytes, sizeof bytes), 4);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0xA5, 0x03, 0x00, 0x77}));

    std::string xml;
    ASSERT_EQ(a->GetDetail(pair, xml), 1);
    xml::Document detail;
    ASSERT_TRUE(detail.loadXML(xml));
    const auto items = detail.selectNodes("/groups/group[@name='Test header']/item");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].attribute("value"), "0xA5");
    EXPECT_EQ(items[1].attribute("value"), "3");
    EXPECT_EQ(std::make_pair(*items[1].attribute("offset"), *items[1].attribute("bits")),
              std::make_pair(std::string("8"), std::string("16")));

    const ImageList* images = a->GetImageList(pair);
    ASSERT_NE(images, nullptr);
    ASSERT_GE(images->pngSize, 8u);
    EXPECT_EQ(std::memcmp(images->png, "\x89PNG", 4), 0);
    EXPECT_EQ(images->count, 2u);
    EXPECT_EQ(a->GetImageList(&t1), nullptr) << "transactions have no icon in the plug-in's list";

    // Items the decoder made belong to the tree, not to the decoder.
    factory_.ReleaseDecoder(a);
    factory_.ReleaseDecoder(b);
    EXPECT_FALSE(factory_.IsLoaded(index_));
    // What the library handed out stays readable after its last decoder went.
    EXPECT_EQ(std::memcmp(images->png, "\x89PNG", 4), 0);
    delete pair;
    delete single;
}

TEST_F(PluginTest, FailuresInsideTheDecoderBecomeItsZeroResult)
{
    IDecodeClass* decoder = Make();
    ASSERT_NE(decoder, nullptr);
    UsbItem faulty(kFaulty, 9);
    ItemSummary row;
    EXPECT_EQ(decoder->Summarize(&faulty, &row), 0);
    EXPECT_EQ(decoder->GetData(&faulty, nullptr, 0), 0);
    std::string xml = "kept";
    EXPECT_EQ(decoder->GetDetail(&faulty, xml), 0);
    EXPECT_EQ(xml, "kept");
    EXPECT_EQ(decoder->OnTransaction(&faulty), nullptr);

    // Unknown items are refused, and the decoder carries on.
    std::unique_ptr<UsbItem> t1Item_ = std::make_unique<UsbItem>(ItemInTransaction, 1);
    UsbItem& t1 = *t1Item_;
    EXPECT_EQ(decoder->GetDetail(&t1, xml), 0);
    EXPECT_EQ(xml, "kept");
    EXPECT_EQ(decoder->OnTransaction(&t1), nullptr);
    // Released while holding an open pair: the decoder frees it.
    factory_.ReleaseDecoder(decoder);
    EXPECT_FALSE(factory_.IsLoaded(index_));
}

}  // namespace
