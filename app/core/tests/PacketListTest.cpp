// The packet list as a whole: the filter bar, copying a row, bookmarks and
// the trigger on collapsed and expanded rows, row colours, going to a hidden
// packet, and where the expand boxes sit.
#include <gtest/gtest.h>

#include "CBookmarkMgr.h"
#include "CPacketList.h"
#include "PacketListTestTree.h"

using orvane::ItemSummary;
using orvane::UsbItem;
using orvane::app::CBookmarkMgr;
using orvane::app::CPacketList;
using orvane::app::CPacketListCells;
using namespace orvane::testing;

namespace {

// Four IN transactions of three packets: ACK, NAK, ACK with a CRC16 error,
// and one the SOF/NAK filter hides.
struct ListTest : ::testing::Test {
    TestTree tree;
    FakeDecode decoder;
    CBookmarkMgr marks;
    std::atomic<int32_t> trigger{-1};
    CPacketList list;

    ListTest()
    {
        list.SetRoot(&tree.root);
        list.SetDecoder(&decoder);
        list.SetBookmarks(&marks);
        list.SetTriggerRecord(&trigger);
        const int32_t statuses[] = {0, 2, 0x00040000, 2};
        for (uint32_t i = 0; i < 4; ++i) {
            UsbItem* t = MakeTransaction(i * 3, 3, i == 3 ? orvane::ItemHiddenByFilter : 0);
            list.Rows().AppendItem(t);
            ItemSummary s;
            s.name = "IN";
            s.address = 1;
            s.endpoint = 2;
            s.interface = 0;
            s.speed = 3;
            s.status = statuses[i];
            s.size = 8;
            s.time = 60;
            s.icon = 4;
            decoder.summaries[t] = s;
            for (UsbItem* packet : t->children) {
                ItemSummary p;
                p.name = "DATA0";
                p.status = 6;
                decoder.summaries[packet] = p;
            }
        }
    }
    UsbItem* Top(int i) { return tree.root.children[uint32_t(i)]; }
};

TEST_F(ListTest, FilterBarHidesTopLevelRowsAndClearingShowsThem)
{
    ASSERT_EQ(list.Rows().RowCount(), 3);
    list.Rows().ToggleExpand(0);
    struct Case {
        std::vector<std::string> texts;
        std::vector<int> shownTops;
    } cases[] = {
        {{"", "", "", "", "", "ack"}, {0, 2}},
        {{"", "", "", "", "", "ACK", "", "", "", "", "", ""}, {0, 2}},
        {{"", "", "", "", "", "crc16"}, {2}},
        {{"in", "1", "", "", "fs", "ack"}, {0, 2}},
        {{"in", "7"}, {}},
        {{"", "", "", "", "", "", "", "", "", "", "", "3"}, {1}},  // "Packet #" of record 3
        {{}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        int count = list.ApplyHeaderFilter(c.texts);
        std::vector<int> shown;
        for (int i = 0; i < 4; ++i)
            if (!(Top(i)->flags & (orvane::ItemHiddenByFilter | orvane::ItemHiddenByFilterBar))) shown.push_back(i);
        EXPECT_EQ(shown, c.shownTops);
        // The first transaction stays expanded under the filter: three more rows.
        int expected = int(shown.size()) + (!shown.empty() && shown[0] == 0 ? 3 : 0);
        EXPECT_EQ(count, expected);
        EXPECT_EQ(list.Rows().RowCount(), expected);
    }
    list.ApplyHeaderFilter({"", "", "", "", "", "ack"});
    EXPECT_EQ(list.FilterTexts()[5], "ACK");
    list.ClearHeaderFilter();
    EXPECT_EQ(list.FilterTexts()[5], "");
    EXPECT_EQ(list.Rows().RebuildRows(), 6);
    // The packet filter's bit is the view's: the filter bar leaves it.
    EXPECT_TRUE(Top(3)->flags & orvane::ItemHiddenByFilter);

    // A reset clears the filter bar and the summaries.
    list.ApplyHeaderFilter({"", "", "", "", "", "nak"});
    EXPECT_EQ(list.Rows().RowCount(), 1);
    int calls = decoder.summarizeCalls;
    EXPECT_EQ(list.Reset(true), 6);  // the first transaction is still expanded
    list.GetCellText(Top(0), 0);
    EXPECT_EQ(decoder.summarizeCalls, calls + 1);
}

TEST_F(ListTest, CopyGivesTheShownColumnsEachFollowedByATab)
{
    EXPECT_EQ(list.CopyText(1), "IN\t1\t2\t0\tFS\tNAK\t8 bytes\t0.000 001 002\t");
    list.Columns().ShowColumn(11, true);
    list.Columns().ShowColumn(1, false);
    list.Columns().SetOrder({11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0});  // index order, not display order
    EXPECT_EQ(list.CopyText(1), "IN\t2\t0\tFS\tNAK\t8 bytes\t0.000 001 002\t3\t");
    EXPECT_EQ(list.CopyText(3), "");
}

TEST_F(ListTest, MarksAndTriggerLandOnTheRowThatShowsThePacket)
{
    marks.Add({4, "m", ""});   // second packet of the second transaction
    marks.Add({10, "h", ""});  // inside the hidden transaction
    trigger = 5;
    struct Row {
        int mark;
        bool trigger;
        uint32_t colour;
    };
    auto paint = [&](int row) {
        CPacketList::RowPaint p = list.PaintRow(row);
        return Row{list.MarkAtRow(row), p.trigger, p.textColour};
    };
    Row collapsed = paint(1);
    EXPECT_EQ(collapsed.mark, 0);
    EXPECT_TRUE(collapsed.trigger);
    EXPECT_EQ(collapsed.colour, CPacketList::kTextRed);
    EXPECT_EQ(list.TriggerRow(), 1);
    EXPECT_EQ(list.MarkAtRow(0), -1);

    list.Rows().ToggleExpand(1);  // rows 2-4 are its packets
    EXPECT_EQ(paint(1).mark, -1);
    EXPECT_FALSE(paint(1).trigger);
    EXPECT_EQ(paint(3).mark, 0);
    EXPECT_EQ(paint(3).colour, CPacketList::kTextBlack);  // status 6: no error class
    EXPECT_TRUE(paint(4).trigger);
    EXPECT_EQ(paint(4).colour, CPacketList::kTextRed);
    EXPECT_EQ(list.MarkAtRow(-1), -1);
    EXPECT_EQ(list.MarkAtRow(99), -1);
    trigger = -1;
    EXPECT_EQ(list.TriggerRow(), -1);
}

TEST_F(ListTest, PaintDataOfARowAndGoingToAPacket)
{
    CPacketList::RowPaint error = list.PaintRow(2);
    EXPECT_TRUE(error.item == Top(2));
    EXPECT_EQ(error.textColour, CPacketList::kTextRed);  // CRC16 error class
    EXPECT_TRUE(error.icons == &decoder.icons);
    EXPECT_EQ(error.depth, 1);
    EXPECT_TRUE(error.hasChildren);
    EXPECT_FALSE(error.expanded);
    list.Rows().ToggleExpand(2);
    EXPECT_TRUE(list.PaintRow(2).expanded);
    EXPECT_EQ(list.PaintRow(3).depth, 2);
    EXPECT_FALSE(list.PaintRow(3).hasChildren);
    EXPECT_TRUE(list.PaintRow(6).item == nullptr);

    EXPECT_EQ(list.GoToPacket(4), 1);    // inside the collapsed transaction
    EXPECT_EQ(list.GoToPacket(7), 4);
    EXPECT_EQ(list.GoToPacket(10), -1);  // the filter hides it: the tip is shown instead
}

// The capture shown parsed again: its new rows come collapsed and unfiltered,
// and the list takes up the filter bar and the selected record it had.
TEST_F(ListTest, ThePlaceKeptAcrossAParseAgainIsTheFilterAndTheSelectedRecord)
{
    auto parsedAgain = [this] {
        for (int i = 0; i < 4; ++i) Top(i)->flags &= uint8_t(~(orvane::ItemHiddenByFilterBar | orvane::ItemExpanded));
        list.Rows().ClearRowCaches();
        return list.Rows().RebuildRows();
    };
    const struct {
        const char* name;
        std::vector<std::string> filter;
        int selected;  // the selected packet's record, -1 none
        bool clearedSince;
        CPacketList::Place place;
    } cases[] = {
        {"filtered, a packet selected", {"", "", "", "", "", "ack"}, 7, false, {2, 1}},
        {"unfiltered, a transaction selected", {}, 3, false, {-1, 1}},
        {"nothing kept", {}, -1, false, {-1, -1}},
        {"the filter bar cleared since: another capture", {"", "", "", "", "", "ack"}, 7, true, {-1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list.ApplyHeaderFilter(c.filter);
        UsbItem* selected = c.selected >= 0 ? Top(c.selected / 3) : nullptr;
        if (c.selected > 0 && c.selected % 3) selected = selected->children[uint32_t(c.selected % 3)];
        list.SetSelectedItem(selected);
        list.KeepPlace();
        list.SetSelectedItem(nullptr);  // the rows and the selection go
        if (c.clearedSince) list.ClearHeaderFilter();
        EXPECT_EQ(parsedAgain(), 3);
        const CPacketList::Place place = list.RestorePlace();
        EXPECT_EQ(place.rows, c.place.rows);
        EXPECT_EQ(place.select, c.place.select);
        EXPECT_EQ(list.Rows().RowCount(), c.place.rows >= 0 ? c.place.rows : 3);
        // Taken up once.
        EXPECT_EQ(list.RestorePlace().select, -1);
    }
}

TEST_F(ListTest, ExpandBoxesFollowTheItemColumn)
{
    struct Case {
        int depth;
        bool itemFirst;
        int itemLeft, scrollX, top;
        CPacketList::Rect box;
    } cases[] = {
        {1, true, 0, 0, 0, {35, 5, 45, 15}},
        {2, true, 0, 0, 20, {53, 25, 63, 35}},
        {3, true, 0, 30, 0, {41, 5, 51, 15}},
        // "Item" moved right: no mark area in the indent.
        {1, false, 300, 0, 0, {305, 5, 315, 15}},
        {2, false, 300, 0, 0, {323, 5, 333, 15}},
        {0, true, 0, 0, 0, {5, 5, 15, 15}},
    };
    for (const Case& c : cases) {
        CPacketList::Rect r = CPacketList::ExpandBoxRect(c.depth, c.itemFirst, c.itemLeft, c.scrollX, c.top, c.top + 20);
        EXPECT_EQ(r.left, c.box.left) << c.depth << c.itemFirst;
        EXPECT_EQ(r.top, c.box.top);
        EXPECT_EQ(r.right, c.box.right);
        EXPECT_EQ(r.bottom, c.box.bottom);
    }
    EXPECT_EQ(list.ExpandBoxRect(0, 0, 0, 0).left, 35);
    list.Columns().SetOrder({1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    EXPECT_EQ(list.ExpandBoxRect(0, 80, 0, 0).left, 85);
    EXPECT_EQ(list.ExpandBoxRect(9, 80, 0, 0).left, 85);  // no item: no indent
}

}  // namespace
