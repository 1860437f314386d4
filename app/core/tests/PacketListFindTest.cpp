// Find in the packet list: the sheet's edit texts, the PID-combination and
// byte-pattern conditions, the walk's direction and start rules over a parsed
// capture (hidden items skipped, collapsed ones searched), and a row taken as
// the condition.
#include <gtest/gtest.h>

#include "CPacketListFind.h"
#include "ParserHarness.h"

using namespace orvane;
using namespace orvane::app;
using orvane::emu::BusTrafficBuilder;
using orvane::testing::CollectingSink;
using orvane::testing::Describe;

TEST(FindText, EditTextsAndComboIndexes)
{
    struct Number {
        const char* text;
        int32_t value;
    };
    for (Number n : {Number{"", -1}, {"   ", -1}, {"12", 12}, {" 7 ", 7}, {"abc", 0}, {"3x", 3}, {"-4", -1},
                     {"99999999999", INT32_MAX}})
        EXPECT_EQ(FindText::Number(n.text), n.value) << n.text;
    EXPECT_EQ(FindText::NumberText(-1), "");
    EXPECT_EQ(FindText::NumberText(64), "64");

    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(FindText::HexBytes("12 ab"), (Bytes{0x12, 0xAB}));
    EXPECT_EQ(FindText::HexBytes("  1  zz\tFF "), (Bytes{0x01, 0x00, 0xFF}));
    EXPECT_EQ(FindText::HexBytes(""), Bytes{});
    std::string many;
    for (int i = 0; i < 1100; ++i) many += "01 ";
    EXPECT_EQ(FindText::HexBytes(many).size(), FindCondition::kMaxData);
    EXPECT_EQ(FindText::HexText({0x12, 0xAB}), "12 AB ");
    EXPECT_EQ(FindText::HexBytes(FindText::HexText({0, 0x7F, 0xFE})), (Bytes{0, 0x7F, 0xFE}));

    // Speed combo: any, LS, FS, HS; the summary codes are 1 low, 2 high, 3 full.
    const int32_t speeds[] = {-1, 1, 3, 2};
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(FindText::SpeedOfIndex(index), speeds[index]);
        EXPECT_EQ(FindText::IndexOfSpeed(speeds[index]), index);
    }
    EXPECT_EQ(FindText::SpeedOfIndex(7), -1);
    EXPECT_EQ(FindText::IndexOfSpeed(9), 0);
    // Status combo: index - 1; no selection matches anything; an error class has no entry.
    EXPECT_EQ(FindText::StatusOfIndex(0), -1);
    EXPECT_EQ(FindText::StatusOfIndex(3), 2);
    EXPECT_EQ(FindText::StatusOfIndex(-1), -2);
    EXPECT_EQ(FindText::IndexOfStatus(6), 7);
    EXPECT_EQ(FindText::IndexOfStatus(-1), 0);
    EXPECT_EQ(FindText::IndexOfStatus(0x10002), -1);
    EXPECT_EQ(FindText::IndexOfStatus(7), -1);

    EXPECT_EQ(SearchBytes(nullptr, 0, {1}), -1);
    const uint8_t bytes[] = {1, 2, 3, 2, 3};
    EXPECT_EQ(SearchBytes(bytes, 5, {2, 3}), 1);
    EXPECT_EQ(SearchBytes(bytes, 5, {3, 4}), -1);
    EXPECT_EQ(SearchBytes(bytes, 1, {1, 2}), -1);
    EXPECT_EQ(SearchBytes(bytes, 5, {}), -1);
}

namespace {

// A parsed full-speed capture in the list: rows of transactions with their
// packets below them, collapsed.
struct FindTest : ::testing::Test {
    CUsbParser parser;
    CollectingSink sink;
    std::unique_ptr<emu::CaptureSource> source;
    CPacketList list;
    CPacketListFind find{list};
    std::vector<size_t> first;  // first record of each transaction built

    void Parse(BusTrafficBuilder& b)
    {
        source = std::make_unique<emu::CaptureSource>(b.Take());
        parser.SetDataSource(source.get());
        ASSERT_EQ(parser.Parse(&sink), 1);
        list.SetRoot(&sink.root);
        list.SetDecoder(&parser);
        list.SetDataSource(source.get());
        list.Rows().RebuildRows();
    }

    FindTest()
    {
        BusTrafficBuilder b(SpeedFull);
        first.push_back(b.In(3, 1, PidData1, {0x55, 0x12, 0xAB}));  // IN DATA1 ACK
        first.push_back(b.InHandshake(3, 1, PidNak));                // IN NAK
        first.push_back(b.Token(PidIn, 3, 1));                       // a lone IN
        b.Idle(2000);
        first.push_back(b.Out(4, 2, PidData0, {0x12, 0xAB}));
        first.push_back(b.In(3, 1, PidData0, {0x12, 0xAB, 0x00, 0x12, 0xAB}));
        Parse(b);
    }

    int RowOf(size_t transaction) { return list.Rows().RowOfRecord(uint32_t(first[transaction])); }
    // The transaction (by build index) a search finds, -1 none.
    int Found(int selectedRow, bool forward, CPacketListFind::Hit* out = nullptr)
    {
        CPacketListFind::Hit hit;
        if (find.FindItem(selectedRow, forward, hit) != CPacketListFind::Outcome::Found) return -1;
        if (out) *out = hit;
        for (size_t i = 0; i < first.size(); ++i)
            if (hit.item->firstRecord == first[i]) return int(i);
        return -2;
    }
};

}  // namespace

TEST_F(FindTest, TheCaptureParsesIntoTransactionRows)
{
    EXPECT_EQ(Describe(sink), "16@3.1:2(9 11 2) 16@3.1:10(9 10) 16@3.1(9) 17@4.2:2(1 3 2) 16@3.1:2(9 3 2)");
    EXPECT_EQ(list.Rows().RowCount(), 5);
}

TEST_F(FindTest, PidCombinationsNeedEveryPidAndEveryGroup)
{
    FindCondition& c = find.Condition();
    c.usePidCombination = true;
    const uint32_t in = FindPidBit(PidIn), ack = FindPidBit(PidAck), nak = FindPidBit(PidNak);
    const uint32_t data0 = FindPidBit(PidData0), data1 = FindPidBit(PidData1);
    EXPECT_EQ(in, 0x002u);
    EXPECT_EQ(data1, 0x020u);
    EXPECT_EQ(ack, 0x100u);
    EXPECT_EQ(FindPidBit(PidSof) | FindPidBit(PidSplit) | FindPidBit(PidPre) | FindPidBit(ItemInTransaction), 0u);
    struct Case {
        uint32_t mask;
        std::vector<int> hits;  // transactions found forward from before the first
    } cases[] = {
        {in | ack, {}},                   // DATA1/DATA0 not checked; NAK not checked; the lone IN has no handshake
        {in | data1 | ack, {0}},
        {in | data0 | data1 | ack, {0, 4}},
        {in | nak, {1}},
        {in, {2}},                       // only a token: a mask without data or handshake bits
        {in | ack | nak | data1, {0}},   // the mask may hold more of a group than the transaction
    };
    for (const Case& k : cases) {
        c.pidMask = k.mask;
        std::vector<int> got;
        int64_t offset, length;
        for (size_t i = 0; i < first.size(); ++i)
            if (MatchFindCondition(list.Rows().ItemAtRow(int(i)), c, list.Cells(), &offset, &length))
                got.push_back(int(i));
        EXPECT_EQ(got, k.hits) << std::hex << k.mask;
    }
}

TEST_F(FindTest, DataSearchDirectionAndStart)
{
    FindCondition& c = find.Condition();
    c.data = FindText::HexBytes("12 ab");
    // Without a selection forward finds nothing and backward starts at the end.
    EXPECT_EQ(Found(-1, true), -1);
    CPacketListFind::Hit hit;
    EXPECT_EQ(Found(-1, false, &hit), 4);
    EXPECT_EQ(hit.offset, 0) << "a transaction's bytes are its payload";
    EXPECT_EQ(hit.length, 2);
    EXPECT_EQ(hit.top, hit.item);
    // From a row, the row itself is passed.
    EXPECT_EQ(Found(RowOf(0), true, &hit), 3);
    EXPECT_EQ(Found(RowOf(3), true), 4);
    EXPECT_EQ(Found(RowOf(4), true), -1);
    EXPECT_EQ(Found(RowOf(4), false), 3);
    EXPECT_EQ(Found(RowOf(3), false, &hit), 0);
    EXPECT_EQ(hit.offset, 1);
    // Size and address narrow it; a size alone needs no pattern.
    c.address = 3;
    EXPECT_EQ(Found(RowOf(0), true), 4);
    c.data.clear();
    c.size = 0;
    EXPECT_EQ(Found(RowOf(0), true, &hit), 1) << "IN/NAK carries no data";
    EXPECT_EQ(hit.offset, -1);
    c = FindCondition();
    c.data = {0x12, 0xAB, 0x00, 0x12, 0xAB, 0x00};
    EXPECT_EQ(Found(-1, false), -1) << "a pattern longer than every payload";
}

TEST_F(FindTest, HiddenItemsAreSkippedAndCollapsedOnesSearched)
{
    // A NAK group holding the transactions, collapsed, as the list shows it.
    FindCondition& c = find.Condition();
    c.data = FindText::HexBytes("12 ab");
    UsbItem* out = list.Rows().ItemAtRow(RowOf(3));
    out->flags |= ItemHiddenByFilter;
    list.Rows().RebuildRows();
    EXPECT_EQ(Found(RowOf(0), true), 4);
    EXPECT_EQ(Found(RowOf(4), false), 0);
    out->flags &= uint8_t(~ItemHiddenByFilter);
    list.Rows().RebuildRows();

    // Row conditions reach the packets inside a collapsed transaction, a parent first.
    c = FindCondition();
    c.mode = 1;
    c.rowText = "data0";
    CPacketListFind::Hit hit;
    ASSERT_EQ(find.FindItem(RowOf(0), true, hit), CPacketListFind::Outcome::Found);
    EXPECT_EQ(hit.item->type, PidData0);
    EXPECT_EQ(hit.item->firstRecord, first[3] + 1);
    EXPECT_EQ(hit.top->firstRecord, first[3]);
    EXPECT_EQ(list.Rows().RowOfItem(hit.item), -1) << "collapsed";
    const int topRow = RowOf(3);
    ASSERT_TRUE(list.Rows().RevealItem(hit.top, hit.item));
    EXPECT_EQ(list.Rows().RowOfItem(hit.item), topRow + 2);
    // Its own row, not the first leaf under it.
    EXPECT_EQ(list.Rows().RowOfItem(hit.top), topRow);
    EXPECT_EQ(RowOf(3), topRow + 1) << "the record's row is now the first packet's";
    // Backward from the last row the last DATA0 packet comes before its transaction's parent test.
    ASSERT_EQ(find.FindItem(RowOf(4) + 0, false, hit), CPacketListFind::Outcome::Found);
    EXPECT_EQ(hit.item->firstRecord, first[3] + 1);

    // A cancelled walk answers no hit.
    int calls = 0;
    c.rowText = "no such row";
    EXPECT_EQ(find.FindItem(-1, false, hit, [&](size_t done, size_t total) {
        ++calls;
        EXPECT_LE(done, total);
        return false;
    }), CPacketListFind::Outcome::Cancelled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hit.item, nullptr);
}

TEST_F(FindTest, RowTakenAsTheConditionFindsItsTwin)
{
    ASSERT_FALSE(find.SetAsFindCondition(-1));
    ASSERT_TRUE(find.SetAsFindCondition(RowOf(0)));
    FindCondition& c = find.Condition();
    EXPECT_EQ(c.mode, 1u);
    EXPECT_EQ(c.rowAddress, 3);
    EXPECT_EQ(c.rowEndpoint, 1);
    EXPECT_EQ(c.rowSpeed, 3) << "full speed";
    EXPECT_EQ(c.rowData, (std::vector<uint8_t>{0x55, 0x12, 0xAB}));
    EXPECT_EQ(c.rowSize, 3);
    // Through the sheet's texts and back, as the sheet writes and reads them.
    FindCondition again = c;
    again.rowData = FindText::HexBytes(FindText::HexText(c.rowData));
    again.rowSpeed = FindText::SpeedOfIndex(FindText::IndexOfSpeed(c.rowSpeed));
    again.rowStatus = FindText::StatusOfIndex(FindText::IndexOfStatus(c.rowStatus));
    again.rowSize = FindText::Number(FindText::NumberText(c.rowSize));
    EXPECT_EQ(again.rowData, c.rowData);
    EXPECT_EQ(again.rowSpeed, c.rowSpeed);
    EXPECT_EQ(again.rowStatus, c.rowStatus);
    EXPECT_EQ(again.rowSize, c.rowSize);
    find.Condition() = again;
    EXPECT_EQ(Found(-1, false), 0) << "only the first transaction holds 55 12 AB";
    EXPECT_EQ(Found(RowOf(0), true), -1);

    // An error class in the status has no combo entry: the sheet drops it, so the search ignores it.
    c.rowStatus = 0x10002;
    EXPECT_EQ(FindText::StatusOfIndex(FindText::IndexOfStatus(c.rowStatus)), -2);
    EXPECT_EQ(list.Cells().CachedSummaries(), 1u) << "the search summarises without caching";
}
