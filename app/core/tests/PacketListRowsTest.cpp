// The packet list's row index: blocks, hidden items, expanding and
// collapsing, rows of records, appends from a worker thread, and work that
// grows with what changed rather than with the capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include <atomic>
#include <random>
#include <thread>

#include "CPacketListRows.h"
#include "DecodedCapture.h"
#include "PacketListTestTree.h"

using orvane::UsbItem;
using orvane::app::CPacketListRows;
using namespace orvane::testing;

namespace {

constexpr uint8_t kExpanded = orvane::ItemExpanded;
constexpr uint8_t kFiltered = orvane::ItemHiddenByFilter;
constexpr uint8_t kBarHidden = orvane::ItemHiddenByFilterBar;

// The row index agrees with the tree flattened the obvious way: every row,
// its depth and parent row, and the row of every record.
void ExpectMatchesTree(CPacketListRows& rows, UsbItem* root, uint32_t records)
{
    std::vector<FlatRow> flat = FlattenShown(root);
    ASSERT_EQ(rows.RowCount(), int(flat.size()));
    std::vector<int> parents(flat.size(), -1);
    std::vector<int> stack;
    for (size_t r = 0; r < flat.size(); ++r) {
        stack.resize(size_t(flat[r].depth - 1));
        parents[r] = stack.empty() ? -1 : stack.back();
        stack.push_back(int(r));
    }
    for (size_t r = 0; r < flat.size(); ++r) {
        ASSERT_TRUE(rows.ItemAtRow(int(r)) == flat[r].item) << "row " << r;
        ASSERT_EQ(rows.DepthOfRow(int(r)), flat[r].depth) << "row " << r;
        ASSERT_EQ(int(rows.ItemAtRow(int(r))->depth), flat[r].depth);
        ASSERT_EQ(rows.ParentRow(int(r)), parents[r]) << "row " << r;
    }
    EXPECT_TRUE(rows.ItemAtRow(int(flat.size())) == nullptr);
    std::vector<int> expected = NaiveRecordRows(root, records);
    for (uint32_t record = 0; record < records; ++record)
        ASSERT_EQ(rows.RowOfRecord(record), expected[record]) << "record " << record;
    std::vector<uint32_t> all(records);
    std::iota(all.begin(), all.end(), 0u);
    EXPECT_EQ(rows.RowsOfRecords(all), expected) << "every record at once";
}

struct ListFixture : ::testing::Test {
    TestTree tree;
    CPacketListRows rows;
    ListFixture() { rows.SetRoot(&tree.root); }
};

using RowsTest = ListFixture;

TEST_F(RowsTest, BlocksOf500TopLevelItemsStartAtTheirRows)
{
    for (uint32_t i = 0; i < 1200; ++i) rows.AppendItem(MakeItem(1, i));
    EXPECT_EQ(rows.BlockFirstRows(), (std::vector<int>{0, 500, 1000}));
    EXPECT_EQ(rows.RowCount(), 1200);
    EXPECT_EQ(tree.root.children.size(), 1200u);
    EXPECT_TRUE(tree.root.children[7]->parent == &tree.root);
    EXPECT_TRUE(rows.ItemAtRow(1199) == tree.root.children[1199]);
    EXPECT_TRUE(rows.ItemAtRow(1200) == nullptr);
    EXPECT_TRUE(rows.ItemAtRow(-1) == nullptr);
    // A rebuild gives the same blocks.
    EXPECT_EQ(rows.RebuildRows(), 1200);
    EXPECT_EQ(rows.BlockFirstRows(), (std::vector<int>{0, 500, 1000}));
}

TEST_F(RowsTest, AppendClearsTheExpandedBitAndChildlessRowsExpandInPlace)
{
    rows.AppendItem(MakeTransaction(0, 3, kExpanded));
    rows.AppendItem(MakeTransaction(3, 3, kExpanded | kBarHidden));
    rows.AppendItem(MakeItem(5, 6));
    EXPECT_EQ(tree.root.children[0]->flags, 0);
    EXPECT_EQ(tree.root.children[1]->flags, kBarHidden);
    EXPECT_EQ(rows.RowCount(), 2);
    EXPECT_EQ(rows.ToggleExpand(1).Delta(), 0);
    EXPECT_TRUE(tree.root.children[2]->flags & kExpanded);
    EXPECT_EQ(rows.RowCount(), 2);
    EXPECT_EQ(rows.ToggleExpand(-1).first, -1);
    EXPECT_EQ(rows.ToggleExpand(2).first, -1);
}

TEST_F(RowsTest, NestedToggleSubtreeAndReveal)
{
    // A control transfer of two transactions, between two single packets.
    rows.AppendItem(MakeItem(5, 0));
    UsbItem* transfer = MakeItem(orvane::ItemControlTransfer, 1);
    transfer->Append(MakeTransaction(1, 3));
    transfer->Append(MakeTransaction(4, 3));
    rows.AppendItem(transfer);
    rows.AppendItem(MakeItem(5, 7));
    UsbItem* packet = transfer->children[1]->children[2];

    int select = 0;
    auto open = rows.ToggleSubtree(1, &select);
    EXPECT_EQ(open.first, 2);
    EXPECT_EQ(open.removed, 0);
    EXPECT_EQ(open.inserted, 8);
    EXPECT_EQ(select, -1);
    ExpectMatchesTree(rows, &tree.root, 8);
    EXPECT_EQ(rows.RowOfRecord(6), 9);

    // From a packet row the whole transfer closes, and its row is the one to select.
    auto close = rows.ToggleSubtree(8, &select);
    EXPECT_EQ(close.removed, 8);
    EXPECT_EQ(close.inserted, 0);
    EXPECT_EQ(select, 1);
    ExpectMatchesTree(rows, &tree.root, 8);

    CPacketListRows::RowChange change;
    EXPECT_TRUE(rows.RevealItem(transfer, packet, &change));
    EXPECT_EQ(change.Delta(), 5);  // the transfer's two transactions and the second's packets
    EXPECT_EQ(rows.RowOfRecord(6), 6);
    EXPECT_FALSE(packet->flags & kExpanded);
    ExpectMatchesTree(rows, &tree.root, 8);
    EXPECT_FALSE(rows.RevealItem(tree.root.children[0], packet));
}

// A closed item whose second child starts, by its own first record, inside the
// first child's leaves: a record of the first child is still found.
TEST_F(RowsTest, AChildStartingBeforeItsFirstLeafStillLetsTheOneBeforeItBeFound)
{
    UsbItem* top = MakeItem(orvane::ItemControlTransfer, 0);
    UsbItem* a = MakeItem(orvane::ItemControlTransfer, 0);
    for (uint32_t r : {0u, 1u, 2u}) a->Append(MakeItem(5, r));
    UsbItem* b = MakeItem(orvane::ItemControlTransfer, 1);
    for (uint32_t r : {3u, 4u}) b->Append(MakeItem(5, r));
    top->Append(a);
    top->Append(b);
    rows.AppendItem(top);
    EXPECT_EQ(rows.RowOfRecord(1), 0);
    ExpectMatchesTree(rows, &tree.root, 5);
}

TEST_F(RowsTest, RevealingUnderAHiddenTopChangesNoRows)
{
    rows.AppendItem(MakeTransaction(0, 3, kBarHidden));
    rows.AppendItem(MakeTransaction(3, 3));
    CPacketListRows::RowChange change;
    EXPECT_TRUE(rows.RevealItem(tree.root.children[0], tree.root.children[0]->children[1], &change));
    EXPECT_EQ(change.Delta(), 0);
    EXPECT_EQ(rows.RowCount(), 1);
    ExpectMatchesTree(rows, &tree.root, 6);
}

// Random trees with runs longer than a chunk of children, random toggles and
// filter bits: the index, and the row of every record inside collapsed or
// hidden items, must agree with the plain flattening after each step.
TEST_F(RowsTest, RandomTogglesAgreeWithTheFlattenedTree)
{
    std::mt19937 random(7);
    uint32_t record = 0;
    for (int t = 0; t < 40; ++t) {
        uint8_t flags = random() % 6 == 0 ? kFiltered : 0;
        switch (random() % 4) {
        case 0: rows.AppendItem(MakeItem(5, record++, flags)); break;
        case 1: {
            UsbItem* group = MakeItem(orvane::ItemSofGroup, record, flags);
            uint32_t n = 1 + random() % 1500;
            for (uint32_t i = 0; i < n; ++i) group->Append(MakeItem(5, record++, random() % 50 == 0 ? kFiltered : 0));
            rows.AppendItem(group);
            break;
        }
        default: {
            UsbItem* transfer = MakeItem(orvane::ItemControlTransfer, record, flags);
            uint32_t n = 1 + random() % 700;
            for (uint32_t i = 0; i < n; ++i) {
                transfer->Append(MakeTransaction(record, 2 + random() % 2, random() % 40 == 0 ? kFiltered : 0));
                record += transfer->children.back()->children.size();
            }
            rows.AppendItem(transfer);
        }
        }
    }
    ExpectMatchesTree(rows, &tree.root, record);
    for (int step = 0; step < 60; ++step) {
        int count = rows.RowCount();
        int row = int(random() % uint32_t(count));
        int before = count;
        CPacketListRows::RowChange change = random() % 5 == 0 ? rows.ToggleSubtree(row) : rows.ToggleExpand(row);
        EXPECT_EQ(rows.RowCount(), before + change.Delta());
        if (step % 6 == 5) ExpectMatchesTree(rows, &tree.root, record);
        else ASSERT_TRUE(rows.ItemAtRow(rows.RowCount() - 1) == FlattenShown(&tree.root).back().item);
    }
    // Filter bits changed behind the index's back count after a rebuild.
    for (UsbItem* top : tree.root.children)
        if (random() % 3 == 0) top->flags ^= kBarHidden;
    rows.RebuildRows();
    ExpectMatchesTree(rows, &tree.root, record);

    // Everything opened, toggled here and there, everything closed.
    const int expanded = rows.ExpandAll(true);
    EXPECT_EQ(expanded, int(FlattenShown(&tree.root).size()));
    ExpectMatchesTree(rows, &tree.root, record);
    for (int step = 0; step < 10; ++step) rows.ToggleExpand(int(random() % uint32_t(rows.RowCount())));
    ExpectMatchesTree(rows, &tree.root, record);
    rows.ExpandAll(false);
    ExpectMatchesTree(rows, &tree.root, record);
}

// Children out of record order at every level: phases kept newest first and
// named by their newest member, operations whose phases are not in time order,
// long shuffled runs. Every record's row, alone and all at once, and every
// item's own row must still agree with the plain flattening.
TEST_F(RowsTest, ChildrenOutOfRecordOrderAgreeWithTheFlattenedTree)
{
    std::mt19937 random(29);
    uint32_t record = 0;
    auto transactions = [&](uint32_t n) {
        std::vector<UsbItem*> out;
        for (uint32_t i = 0; i < n; ++i) {
            out.push_back(MakeTransaction(record, 2 + random() % 2, random() % 30 == 0 ? kFiltered : 0));
            record += out.back()->children.size();
        }
        return out;
    };
    auto phase = [&](std::vector<UsbItem*> members, bool newestFirst) {
        if (newestFirst) std::reverse(members.begin(), members.end());
        UsbItem* item = MakeItem(260, members.front()->firstRecord);
        for (UsbItem* m : members) item->Append(m);
        return item;
    };
    for (int t = 0; t < 300; ++t) {
        const uint8_t flags = random() % 8 == 0 ? kFiltered : 0;
        UsbItem* top = nullptr;
        switch (random() % 3) {
        case 0: {  // command, event (earlier), data, response newest first; the event is appended last
            UsbItem* command = phase(transactions(1 + random() % 2), false);
            UsbItem* event = phase(transactions(1 + random() % 3), true);
            UsbItem* data = phase(transactions(random() % 5 + 1), false);
            UsbItem* response = phase(transactions(1 + random() % 4), true);
            top = MakeItem(0x1001, command->firstRecord, flags);
            for (UsbItem* p : {command, data, response, event}) top->Append(p);
            break;
        }
        case 1:
            top = phase(transactions(1 + random() % 6), true);
            top->flags = flags;
            break;
        default: {  // a long run in no order at all
            std::vector<UsbItem*> members = transactions(t % 25 == 0 ? 600 + random() % 400 : 1 + random() % 8);
            std::shuffle(members.begin(), members.end(), random);
            top = phase(members, false);
            top->flags = flags;
        }
        }
        rows.AppendItem(top);
    }
    ExpectMatchesTree(rows, &tree.root, record);
    auto expectOwnRows = [&] {
        const std::vector<FlatRow> flat = FlattenShown(&tree.root);
        for (size_t r = 0; r < flat.size(); r += 1 + r % 7) ASSERT_EQ(rows.RowOfItem(flat[r].item), int(r)) << "row " << r;
    };
    expectOwnRows();
    for (int step = 0; step < 40; ++step) {
        const int row = int(random() % uint32_t(rows.RowCount()));
        if (random() % 4 == 0) rows.ToggleSubtree(row); else rows.ToggleExpand(row);
        if (step % 8 == 7) ExpectMatchesTree(rows, &tree.root, record), expectOwnRows();
    }
    rows.ExpandAll(true);
    ExpectMatchesTree(rows, &tree.root, record);
    expectOwnRows();
}

// A camera's transfer level as the still-image plug-in builds it, response
// phases newest first: a record's row is the operation's while it is closed
// and the packet's own once opened, for every record.
TEST(PacketListRowsOfACamera, RecordsInsidePhasesKeptNewestFirstFindTheirRows)
{
    using orvane::emu::SessionBuilder;
    DecodedCapture camera(SessionBuilder({.kind = SessionBuilder::Kind::Camera, .operations = 3}).Build());
    std::vector<UsbItem*> items;
    AllItems(&camera.transfers.root, items);
    ASSERT_TRUE(std::any_of(items.begin(), items.end(), [](UsbItem* item) {
        return !std::is_sorted(item->children.begin(), item->children.end(),
                               [](UsbItem* a, UsbItem* b) { return a->firstRecord < b->firstRecord; });
    })) << "no children out of record order";
    CPacketListRows rows;
    rows.SetRoot(&camera.transfers.root);
    rows.RebuildRows();
    ExpectMatchesTree(rows, &camera.transfers.root, uint32_t(camera.records));
    rows.ExpandAll(true);
    ExpectMatchesTree(rows, &camera.transfers.root, uint32_t(camera.records));
}

// Many blocks, hidden and expanded items, and items that arrive out of record
// order: all records at once agree with one at a time.
TEST_F(RowsTest, RecordsLookedUpTogetherAgreeWithOneAtATime)
{
    std::mt19937 random(11);
    uint32_t record = 0;
    std::vector<UsbItem*> late;
    for (int t = 0; t < 1800; ++t) {
        uint8_t flags = random() % 9 == 0 ? kFiltered : 0;
        UsbItem* item = MakeTransaction(record, 1 + random() % 3, flags);
        record += item->children.size();
        // Every so often an item is held back and appended a little later.
        if (random() % 50 == 0) late.push_back(item); else rows.AppendItem(item);
        if (late.size() > 2 || (!late.empty() && random() % 7 == 0)) {
            rows.AppendItem(late.front());
            late.erase(late.begin());
        }
    }
    for (UsbItem* item : late) rows.AppendItem(item);
    for (int i = 0; i < 200; ++i) rows.ToggleExpand(int(random() % uint32_t(rows.RowCount())));
    std::vector<uint32_t> some;
    for (uint32_t r = 0; r < record + 5; r += 1 + random() % 4) some.push_back(r);
    std::vector<int> together = rows.RowsOfRecords(some);
    ASSERT_EQ(together.size(), some.size());
    for (size_t i = 0; i < some.size(); ++i)
        ASSERT_EQ(together[i], rows.RowOfRecord(some[i])) << "record " << some[i];
    // A few from the middle alone: only the blocks that may hold them are walked.
    const std::vector<uint32_t> middle(some.begin() + ptrdiff_t(some.size() / 2),
                                       some.begin() + ptrdiff_t(some.size() / 2 + 40));
    const std::vector<int> placed = rows.RowsOfRecords(middle);
    for (size_t i = 0; i < middle.size(); ++i)
        ASSERT_EQ(placed[i], rows.RowOfRecord(middle[i])) << "record " << middle[i];
    ExpectMatchesTree(rows, &tree.root, record);
}

// Every kind of item at once: collapsed and expanded groups with hidden
// members, children in record order holding one that is not, children in no
// order whose bounds still look right, two items whose records interleave.
// Marks (some twice) found all together agree with the plain flattening,
// collapsed, toggled and opened.
TEST_F(RowsTest, MarksInEveryKindOfItemAgreeWithTheFlattenedTree)
{
    std::mt19937 random(43);
    uint32_t record = 0;
    auto run = [&](uint32_t n) {
        std::vector<UsbItem*> out;
        for (uint32_t i = 0; i < n; ++i) {
            out.push_back(MakeTransaction(record, 1 + random() % 3, random() % 20 == 0 ? kFiltered : 0));
            record += out.back()->children.size();
        }
        return out;
    };
    auto holder = [&](uint16_t type, const std::vector<UsbItem*>& members) {
        UsbItem* item = MakeItem(type, members.front()->firstRecord, random() % 10 == 0 ? kFiltered : 0);
        for (UsbItem* m : members) item->Append(m);
        return item;
    };
    for (int t = 0; t < 120; ++t) {
        switch (random() % 6) {
        case 0: {  // an SOF group, some of it filtered out
            UsbItem* group = MakeItem(orvane::ItemSofGroup, record);
            for (uint32_t i = 0, n = 1 + random() % 1500; i < n; ++i)
                group->Append(MakeItem(5, record++, random() % 30 == 0 ? kFiltered : 0));
            rows.AppendItem(group);
            break;
        }
        case 1: {  // in order, with a phase kept newest first in the middle
            std::vector<UsbItem*> members = run(1 + random() % 4);
            std::vector<UsbItem*> phase = run(2 + random() % 4);
            std::reverse(phase.begin(), phase.end());
            members.push_back(holder(260, phase));
            for (UsbItem* m : run(1 + random() % 4)) members.push_back(m);
            rows.AppendItem(holder(orvane::ItemControlTransfer, members));
            break;
        }
        case 2: {  // two neighbours swapped: first and last leaf still bound the rest
            std::vector<UsbItem*> members = run(4 + random() % 600);
            const size_t at = 1 + random() % (members.size() - 3);
            std::swap(members[at], members[at + 1]);
            rows.AppendItem(holder(orvane::ItemControlTransfer, members));
            break;
        }
        case 3: {  // a run in no order at all
            std::vector<UsbItem*> members = run(2 + random() % 40);
            std::shuffle(members.begin(), members.end(), random);
            rows.AppendItem(holder(0x1001, members));
            break;
        }
        case 4: {  // two groups whose packets take turns
            UsbItem* even = MakeItem(orvane::ItemNakGroup, record);
            UsbItem* odd = MakeItem(orvane::ItemNakGroup, record + 1);
            for (uint32_t i = 0, n = 2 + random() % 50; i < n; ++i) {
                even->Append(MakeItem(10, record++));
                odd->Append(MakeItem(10, record++));
            }
            rows.AppendItem(even);
            rows.AppendItem(odd);
            break;
        }
        default:
            rows.AppendItem(holder(orvane::ItemControlTransfer, run(1 + random() % 30)));
        }
    }
    auto expectMarks = [&] {
        std::vector<uint32_t> marks;
        for (uint32_t r = 0; r < record + 3; r += random() % 5) marks.push_back(r);
        const std::vector<int> naive = NaiveRecordRows(&tree.root, record + 3);
        const std::vector<int> placed = rows.RowsOfRecords(marks);
        for (size_t i = 0; i < marks.size(); ++i) ASSERT_EQ(placed[i], naive[marks[i]]) << "record " << marks[i];
    };
    ExpectMatchesTree(rows, &tree.root, record);
    expectMarks();
    for (int step = 0; step < 30; ++step) {
        const int row = int(random() % uint32_t(rows.RowCount()));
        if (random() % 3 == 0) rows.ToggleSubtree(row); else rows.ToggleExpand(row);
        if (step % 10 == 9) ExpectMatchesTree(rows, &tree.root, record), expectMarks();
    }
    rows.ExpandAll(true);
    ExpectMatchesTree(rows, &tree.root, record);
    expectMarks();
}

// Marks inside a closed SOF group of an idle bus, and inside one filtered out
// under an open transfer: ten times the group costs a few more halvings per
// mark, not ten times the work.
TEST(PacketListRowsOfABigGroup, MarksInsideCostTheLogarithmOfTheGroup)
{
    auto work = [](uint32_t sofs) {
        TestTree tree;
        CPacketListRows rows;
        rows.SetRoot(&tree.root);
        uint32_t record = 0;
        auto group = [&](uint8_t flags) {
            UsbItem* g = MakeItem(orvane::ItemSofGroup, record, flags);
            g->children.reserve(sofs);
            for (uint32_t i = 0; i < sofs; ++i) g->Append(MakeItem(5, record++));
            return g;
        };
        rows.AppendItem(MakeTransaction(record, 3));
        record += 3;
        const uint32_t closedFrom = record;
        rows.AppendItem(group(0));
        UsbItem* transfer = MakeItem(orvane::ItemControlTransfer, record);
        transfer->Append(MakeTransaction(record, 3));
        record += 3;
        const uint32_t hiddenFrom = record;
        transfer->Append(group(kFiltered));
        transfer->Append(MakeTransaction(record, 3));
        record += 3;
        rows.AppendItem(transfer);
        rows.ToggleExpand(2);
        std::vector<uint32_t> marks;
        for (uint32_t m = 0; m < 200; ++m) marks.push_back(closedFrom + m * (sofs / 200) + 7);
        for (uint32_t m = 0; m < 200; ++m) marks.push_back(hiddenFrom + m * (sofs / 200) + 7);
        uint64_t v0 = rows.VisitCount();
        const std::vector<int> placed = rows.RowsOfRecords(marks);
        const uint64_t together = rows.VisitCount() - v0;
        for (size_t m = 0; m < marks.size(); ++m) EXPECT_EQ(placed[m], m < 200 ? 1 : 2) << "mark " << m;
        v0 = rows.VisitCount();
        EXPECT_EQ(rows.RowOfRecord(closedFrom + sofs / 3), 1);
        EXPECT_EQ(rows.RowOfRecord(hiddenFrom + sofs / 3), 2);
        return std::pair(together, rows.VisitCount() - v0);
    };
    const auto [small, smallOne] = work(10000);
    const auto [big, bigOne] = work(100000);
    EXPECT_LE(big, small * 3 / 2) << small << " then " << big;
    EXPECT_LE(bigOne, smallOne * 3 / 2 + 10) << smallOne << " then " << bigOne;
    EXPECT_LE(big, 400u * 60);
}

TEST_F(RowsTest, RowCountReachesTheListenerAtMostEvery100Ms)
{
    uint64_t now = 1000;
    std::vector<int> pushed;
    rows.SetClock([&] { return now; });
    rows.SetRowCountListener([&](int count) { pushed.push_back(count); });
    rows.AppendItem(MakeItem(5, 0));
    now += 100;  // not more than 100 ms
    rows.AppendItem(MakeItem(5, 1));
    rows.AppendItem(MakeItem(5, 2, kFiltered));
    now += 1;
    rows.AppendItem(MakeItem(5, 3));
    EXPECT_EQ(pushed, (std::vector<int>{1, 3}));
}

TEST_F(RowsTest, ABatchIndexesAsItsItemsOneByOneAndPushesOnce)
{
    // Transactions, hidden ones and bare packets across more than one block.
    auto make = [](uint32_t i) {
        return i % 5 == 0 ? MakeItem(5, i * 3) : MakeTransaction(i * 3, 3, i % 7 == 0 ? kFiltered : 0);
    };
    TestTree single;
    CPacketListRows one;
    one.SetRoot(&single.root);
    for (uint32_t i = 0; i < 1300; ++i) one.AppendItem(make(i));

    uint64_t now = 1000;
    std::vector<int> pushed;
    rows.SetClock([&] { return now; });
    rows.SetRowCountListener([&](int count) { pushed.push_back(count); });
    std::vector<UsbItem*> batch;
    for (uint32_t i = 0; i < 1300; ++i) batch.push_back(make(i));
    batch.insert(batch.begin() + 600, nullptr);  // skipped, as a single null is
    rows.AppendItems(batch.data(), 700);
    rows.AppendItems(batch.data() + 700, batch.size() - 700);
    int firstRows = 0;
    for (size_t i = 0; i < 700; ++i) firstRows += batch[i] && !(batch[i]->flags & kFiltered) ? 1 : 0;
    EXPECT_EQ(pushed, (std::vector<int>{firstRows})) << "the second batch came within 100 ms";
    EXPECT_EQ(rows.RowCount(), one.RowCount());
    EXPECT_EQ(rows.BlockFirstRows(), one.BlockFirstRows());
    ExpectMatchesTree(rows, &tree.root, 1300 * 3);
}

TEST_F(RowsTest, WorkerAppendsWhileTheListReads)
{
    constexpr uint32_t kItems = 60000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (uint32_t i = 0; i < kItems; ++i) rows.AppendItem(MakeTransaction(i * 2, 2, i % 7 == 0 ? kFiltered : 0));
        done = true;
    });
    int toggles = 0;
    while (!done) {
        int count = rows.RowCount();
        if (count > 10) {
            UsbItem* item = rows.ItemAtRow(count - 1);
            ASSERT_TRUE(item != nullptr);
            if (toggles < 200) rows.ToggleExpand(toggles++ % 10);
            rows.RowOfRecord(uint32_t(count));
        }
    }
    worker.join();
    ExpectMatchesTree(rows, &tree.root, 2000);
    EXPECT_EQ(tree.root.children.size(), kItems);
}

// Not timed: the index counts the items it touches. A million top-level
// items, then a group of 100,000 children opened, walked and closed.
// Items handed over late (a group that began before items already in the
// list) are found by their records, and their rows stay right as rows before
// them open and close.
TEST_F(RowsTest, LateItemsAndShiftsAcrossBlocks)
{
    uint32_t record = 10;
    for (uint32_t i = 0; i < 1700; ++i) {
        if (i == 1234) {
            UsbItem* group = MakeItem(orvane::ItemNakGroup, 3);  // its first packet came before all others
            group->Append(MakeTransaction(3, 2));
            group->Append(MakeTransaction(record, 2));
            record += 2;
            rows.AppendItem(group);
            continue;
        }
        rows.AppendItem(i % 7 == 0 ? MakeTransaction(record, 3) : MakeItem(5, record));
        record += i % 7 == 0 ? 3 : 1;
    }
    ExpectMatchesTree(rows, &tree.root, record);
    EXPECT_EQ(rows.RowOfRecord(4), 1234);
    for (int row : {0, 7, 1234, 1235, 503, 1000}) {
        rows.ToggleExpand(row);
        ExpectMatchesTree(rows, &tree.root, record);
    }
    rows.ToggleSubtree(1240);
    EXPECT_TRUE(rows.RevealItem(tree.root.children[1234], tree.root.children[1234]->children[0]->children[1]));
    ExpectMatchesTree(rows, &tree.root, record);
}

TEST_F(RowsTest, WorkGrowsWithWhatChanged)
{
    constexpr uint32_t kTop = 1000000, kChildren = 100000;
    const uint32_t groupAt = kTop / 2;
    for (uint32_t i = 0; i < kTop; ++i) {
        if (i != groupAt) {
            tree.root.Append(MakeItem(5, i < groupAt ? i : i + kChildren));
            continue;
        }
        UsbItem* group = MakeItem(orvane::ItemSofGroup, i);
        group->children.reserve(kChildren);
        for (uint32_t c = 0; c < kChildren; ++c) group->Append(MakeItem(5, i + c));
        tree.root.Append(group);
    }
    uint64_t v0 = rows.VisitCount();
    EXPECT_EQ(rows.RebuildRows(), int(kTop));
    EXPECT_LE(rows.VisitCount() - v0, 2ull * kTop);

    v0 = rows.VisitCount();
    auto open = rows.ToggleExpand(int(groupAt));
    EXPECT_EQ(open.inserted, int(kChildren));
    EXPECT_LE(rows.VisitCount() - v0, 2ull * kChildren);

    // Every row of the group, then scattered rows from the far end backwards.
    v0 = rows.VisitCount();
    for (uint32_t c = 0; c <= kChildren; ++c) ASSERT_TRUE(rows.ItemAtRow(int(groupAt + c)) != nullptr);
    EXPECT_LE(rows.VisitCount() - v0, 3ull * kChildren);
    v0 = rows.VisitCount();
    uint64_t jumps = 0;
    for (int row = rows.RowCount() - 1; row >= 0; row -= 4999, ++jumps) ASSERT_TRUE(rows.ItemAtRow(row) != nullptr);
    EXPECT_LE(rows.VisitCount() - v0, jumps * 2500);
    EXPECT_TRUE(rows.ItemAtRow(int(groupAt + 1 + 77777)) == tree.root.children[groupAt]->children[77777]);

    // Toggling a row after the group walks no part of it.
    v0 = rows.VisitCount();
    rows.ToggleExpand(int(kTop + kChildren - 1));
    rows.ItemAtRow(int(kTop + kChildren - 1));
    EXPECT_LE(rows.VisitCount() - v0, 5000u);

    // A record and a toggle at the far end look at a few of the 2,000 blocks.
    v0 = rows.VisitCount();
    EXPECT_EQ(rows.RowOfRecord(kTop + kChildren - 3), int(kTop + kChildren - 3));
    EXPECT_LE(rows.VisitCount() - v0, 600u);

    v0 = rows.VisitCount();
    EXPECT_EQ(rows.RowOfRecord(groupAt + 54321), int(groupAt + 1 + 54321));
    EXPECT_EQ(rows.RowOfRecord(groupAt + kChildren + 10), int(groupAt + kChildren + 10));
    EXPECT_LE(rows.VisitCount() - v0, 20000u);

    v0 = rows.VisitCount();
    auto close = rows.ToggleExpand(int(groupAt));
    EXPECT_EQ(close.removed, int(kChildren));
    EXPECT_EQ(rows.RowCount(), int(kTop));
    EXPECT_LE(rows.VisitCount() - v0, 2000u);
}

}  // namespace
