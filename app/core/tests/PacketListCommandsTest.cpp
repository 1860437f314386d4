// The packet list's commands: the row menu's grey-out, trigger conditions from
// a row (and their refusal), bookmarks on rows and the walk through them.
#include <gtest/gtest.h>

#include "CBookmarkMgr.h"
#include "COrvaneDoc.h"
#include "CPacketListCommands.h"
#include "PacketListTestTree.h"
#include "SetupXml.h"

using orvane::ItemSummary;
using orvane::Mark;
using orvane::UsbItem;
using namespace orvane::app;
using namespace orvane::testing;
using Cmd = CPacketListCommands;

namespace {

// Rows: 0 a SOF group, 1 an IN transaction (records 1-3), 2 a NAK group of
// twenty IN transactions (records 4-43), 3 a transaction the packet filter
// hides (44-46), 4 an OUT transaction (47-49).
struct CommandsTest : ::testing::Test {
    TestTree tree;
    FakeDecode decoder;
    COrvaneDoc doc;
    CPacketList list;
    Cmd commands{list};

    CommandsTest()
    {
        list.SetRoot(&tree.root);
        list.SetDecoder(&decoder);
        list.SetBookmarks(&doc.Bookmarks());
        list.SetTriggerRecord(doc.TriggerRecordAddress());
        commands.SetDocument(&doc, nullptr);
        decoder.bytes = {0xC3, 0x12, 0xAA, 0xBB};

        UsbItem* sof = MakeItem(orvane::ItemSofGroup, 0);
        sof->Append(MakeItem(5, 0));
        list.Rows().AppendItem(sof);
        list.Rows().AppendItem(MakeTransaction(1, 3));
        UsbItem* naks = MakeItem(orvane::ItemNakGroup, 4);
        for (uint32_t i = 0; i < 20; ++i) naks->Append(MakeTransaction(4 + 2 * i, 2));
        list.Rows().AppendItem(naks);
        list.Rows().AppendItem(MakeTransaction(44, 3, orvane::ItemHiddenByFilter));
        UsbItem* out = MakeTransaction(47, 3);
        out->type = orvane::ItemOutTransaction;
        list.Rows().AppendItem(out);
        for (UsbItem* top : tree.root.children) {
            ItemSummary s;
            s.name = "row" + std::to_string(top->firstRecord);
            decoder.summaries[top] = s;
        }
    }
};

TEST_F(CommandsTest, RowMenuGreyOut)
{
    ASSERT_EQ(list.Rows().RowCount(), 4);
    const std::vector<int> ids = {Cmd::CmdCopy, Cmd::CmdToggleSubtree, Cmd::CmdFindCondition, Cmd::CmdFindSettings,
                                  Cmd::CmdSetTrigger, Cmd::CmdAddTrigger, Cmd::CmdGoToTrigger,
                                  Cmd::CmdTriggerSettings, Cmd::CmdAddMark, Cmd::CmdEditMark, Cmd::CmdDeleteMark,
                                  Cmd::CmdDeleteAllMarks, Cmd::CmdPrevMark, Cmd::CmdNextMark};
    // One character per id above: 1 enabled, 0 greyed.
    struct Case {
        const char* what;
        int selected;
        std::vector<Mark> marks;
        int32_t trigger;
        const char* enabled;
    } cases[] = {
        {"nothing selected, no marks", -1, {}, -1, "00010101000000"},
        {"a row, no marks", 1, {}, -1, "11111101100000"},
        {"a row, a mark elsewhere", 1, {{47, "", ""}}, -1, "11111101100111"},
        {"a row with its mark", 1, {{2, "", ""}}, -1, "11111101111111"},
        {"nothing selected, a trigger", -1, {{2, "", ""}}, 3, "00010111000111"},
        {"a row past the end", 9, {}, 3, "00010111000000"},
    };
    for (const Case& c : cases) {
        doc.Bookmarks().RemoveAll();
        for (const Mark& m : c.marks) doc.Bookmarks().Add(m);
        list.InvalidateMarkRows();  // as MarksChanged does
        doc.SetTriggerRecord(c.trigger);
        std::string got;
        for (int id : ids) got += commands.RowMenuEnabled(id, c.selected) ? '1' : '0';
        EXPECT_EQ(got, c.enabled) << c.what;
    }
    // The menu's own rules come on top of the command states.
    doc.Bookmarks().RemoveAll();
    EXPECT_TRUE(commands.Enabled(Cmd::CmdCopy, -1));
    EXPECT_FALSE(commands.Enabled(Cmd::CmdAddMark, -1));
    int entries = 0;
    for (const Cmd::MenuEntry& e : Cmd::RowMenu()) entries += e.id != 0;
    EXPECT_EQ(entries, 16);
    EXPECT_EQ(Cmd::RowMenu().size(), 19u);
}

TEST_F(CommandsTest, TriggerConditionFromRows)
{
    // Two steps stored; twenty transactions cannot replace them.
    SetupXml setup;
    ASSERT_TRUE(setup.WriteTriggerSteps({TriggerStep{1, 2, 0x400, "?"}, TriggerStep{1, 2, 0x441, ""}}, false));
    doc.SetSetup(setup.Text());
    doc.SetTriggerRecord(7);
    doc.SetModified(false);
    const std::string before = doc.GetSetup();
    for (bool append : {false, true}) {
        EXPECT_EQ(commands.SetTriggerCondition(2, append), Cmd::TriggerResult::Refused);
        EXPECT_EQ(doc.GetSetup(), before);
        EXPECT_EQ(doc.TriggerRecord(), 7);
        EXPECT_FALSE(doc.IsModified());
    }

    // Adding one transaction follows the stored steps and marks the project.
    EXPECT_EQ(commands.SetTriggerCondition(1, true), Cmd::TriggerResult::Stored);
    SetupXml stored;
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    auto steps = stored.LoadTriggerSteps();
    ASSERT_EQ(steps.size(), 3u);
    // The test tree's transactions carry no address or endpoint and three OUT-typed packets.
    EXPECT_EQ(steps[2], (TriggerStep{255, 0xFFFF, 0x100, ""}));
    EXPECT_EQ(doc.TriggerRecord(), 3) << "the transaction's last packet";
    EXPECT_EQ(list.TriggerRow(), 1);
    EXPECT_TRUE(doc.IsModified());

    // Setting replaces them all.
    EXPECT_EQ(commands.SetTriggerCondition(3, false), Cmd::TriggerResult::Stored);
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    ASSERT_EQ(stored.LoadTriggerSteps().size(), 1u);
    EXPECT_EQ(stored.LoadTriggerSteps()[0].address, 255);  // a transaction made by MakeTransaction has no address

    // A row that gives no step moves the trigger and keeps the steps.
    doc.SetModified(false);
    const std::string kept = doc.GetSetup();
    EXPECT_EQ(commands.SetTriggerCondition(0, false), Cmd::TriggerResult::NoSteps);
    EXPECT_EQ(doc.GetSetup(), kept);
    EXPECT_EQ(doc.TriggerRecord(), 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(commands.SetTriggerCondition(-1, false), Cmd::TriggerResult::NoItem);

    // A setup text that does not parse gives way to the default settings.
    doc.SetSetup("<setup");
    EXPECT_EQ(commands.SetTriggerCondition(1, false), Cmd::TriggerResult::Stored);
    ASSERT_TRUE(stored.Load(doc.GetSetup()));
    EXPECT_EQ(stored.PacketRecords(), SetupXml().PacketRecords());
    EXPECT_EQ(stored.LoadTriggerSteps().size(), 1u);
}

TEST_F(CommandsTest, MarksAddEditDeleteAndTheRowMap)
{
    Mark proposed;
    ASSERT_TRUE(commands.ProposeMark(1, proposed));
    EXPECT_EQ(proposed.packet, 1);
    EXPECT_EQ(proposed.name, "row1");
    EXPECT_FALSE(commands.ProposeMark(4, proposed));

    proposed.comment = "c";
    ASSERT_FALSE(doc.IsModified());
    ASSERT_TRUE(commands.AddMark(proposed));
    EXPECT_TRUE(doc.IsModified()) << "the marks are saved with the project";
    EXPECT_EQ(commands.MarkAtRow(1), 0);
    ASSERT_TRUE(commands.AddMark({48, "out", ""}));
    EXPECT_EQ(commands.MarkAtRow(3), 1);
    ASSERT_TRUE(commands.EditMark(1, "renamed", "why"));
    Mark m;
    ASSERT_TRUE(doc.Bookmarks().GetAt(1, &m));
    EXPECT_EQ(m.packet, 48);
    EXPECT_EQ(m.name, "renamed");
    EXPECT_EQ(m.comment, "why");
    EXPECT_FALSE(commands.EditMark(5, "x", ""));

    // Rows moving below a mark move it: the map follows an expansion.
    list.Rows().ToggleExpand(1);
    EXPECT_EQ(commands.MarkAtRow(1), -1);
    EXPECT_EQ(commands.MarkAtRow(2), 0);
    EXPECT_EQ(commands.MarkAtRow(6), 1);
    // A mark added behind the list's back is seen by its count.
    doc.Bookmarks().Add({3, "", ""});
    EXPECT_EQ(commands.MarkAtRow(4), 1);

    doc.SetModified(false);
    EXPECT_FALSE(commands.DeleteMark(3));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_TRUE(commands.DeleteMark(4));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(commands.MarkAtRow(4), -1);
    EXPECT_EQ(commands.MarkCount(), 2);
    EXPECT_TRUE(commands.DeleteAllMarks());
    EXPECT_FALSE(commands.DeleteAllMarks());
    EXPECT_EQ(commands.MarkAtRow(2), -1);
}

TEST_F(CommandsTest, PreviousAndNextMarkSkipHiddenPackets)
{
    // Marks on the SOF (row 0), on the hidden transaction (no row) and on the
    // OUT transaction (row 3).
    for (int32_t packet : {0, 45, 47}) doc.Bookmarks().Add({packet, "", ""});
    struct Case {
        bool next;
        int selected;
        int row;
    } cases[] = {
        {true, -1, 0},           // from the first row, its own mark
        {true, 0, 3},            // past the hidden mark
        {true, 3, 0},            // from the last row: the first shown mark
        {false, -1, -1},         // nothing selected: the start of the file
        {false, 0, Cmd::kStay},  // record 0 selected: nothing to do
        {false, 3, 0},           // past the hidden mark
        {false, 1, 0},
    };
    for (const Case& c : cases) {
        const int row = c.next ? commands.NextMarkRow(c.selected) : commands.PrevMarkRow(c.selected);
        EXPECT_EQ(row, c.row) << (c.next ? "next from " : "previous from ") << c.selected;
    }
    // A mark inside the collapsed NAK group lands on the group's row.
    doc.Bookmarks().Add({10, "", ""});
    EXPECT_EQ(commands.PrevMarkRow(3), 2);
    EXPECT_EQ(commands.NextMarkRow(1), 2);

    // Only hidden marks ahead: the search runs out.
    doc.Bookmarks().RemoveAll();
    doc.Bookmarks().Add({45, "", ""});
    EXPECT_EQ(commands.NextMarkRow(1), -1);
    EXPECT_EQ(commands.PrevMarkRow(3), -1);
}

// A phase whose members are kept newest first and which is named by its
// newest: the mark walk starts from its earliest packet both ways, and its
// trigger is its latest packet.
TEST_F(CommandsTest, MarksInsideAnItemKeptNewestFirst)
{
    UsbItem* phase = MakeItem(260, 53);
    phase->Append(MakeTransaction(53, 3));
    phase->Append(MakeTransaction(50, 3));
    list.Rows().AppendItem(phase);                  // row 4, records 50-55
    list.Rows().AppendItem(MakeTransaction(56, 3));  // row 5
    for (int32_t packet : {47, 51}) doc.Bookmarks().Add({packet, "", ""});
    EXPECT_EQ(commands.NextMarkRow(3), 4) << "the mark before the phase's own record";
    EXPECT_EQ(commands.PrevMarkRow(4), 3) << "not the phase's own row again";
    EXPECT_EQ(commands.PrevMarkRow(5), 4);
    // A trigger set from it sits on its last packet, and its row shows it.
    EXPECT_EQ(commands.SetTriggerCondition(4, false), Cmd::TriggerResult::Stored);
    EXPECT_EQ(doc.TriggerRecord(), 55);
    EXPECT_EQ(list.TriggerRow(), 4);
}

// The document's marks, counting the searches and reads made through them.
struct CountingMarks : orvane::IBookmark {
    CBookmarkMgr& marks;
    int searches = 0;
    int64_t reads = 0;
    explicit CountingMarks(CBookmarkMgr& m) : marks(m) {}
    int32_t GetCount() override { return marks.GetCount(); }
    int32_t GetAt(int32_t index, Mark* out) override
    {
        ++reads;
        return marks.GetAt(index, out);
    }
    int32_t Add(const Mark& mark) override { return marks.Add(mark); }
    int32_t Modify(int32_t index, const Mark& mark) override { return marks.Modify(index, mark); }
    int32_t Remove(int32_t index) override { return marks.Remove(index); }
    int32_t RemoveAll() override { return marks.RemoveAll(); }
    int32_t FindNext(int32_t* packet) override
    {
        ++searches;
        return marks.FindNext(packet);
    }
    int32_t FindPrev(int32_t* packet) override
    {
        ++searches;
        return marks.FindPrev(packet);
    }
    int32_t Serialize(orvane::xml::Node* project, int32_t load) override { return marks.Serialize(project, load); }
};

// A hundred thousand marks no row shows (past the end of a damaged capture)
// between the selection and the next shown mark: the walk searches once and
// reads each mark it passes about once, rather than searching anew from each.
TEST_F(CommandsTest, AWalkPastManyUnshownMarksSearchesOnce)
{
    list.Rows().AppendItem(MakeTransaction(200'000, 3));  // row 4
    constexpr int32_t kUnshown = 100'000;
    for (int32_t i = 0; i < kUnshown; ++i) doc.Bookmarks().Add({1000 + i, "", ""});
    for (int32_t packet : {2, 200'001}) doc.Bookmarks().Add({packet, "", ""});
    CountingMarks counting(doc.Bookmarks());
    list.SetBookmarks(&counting);

    EXPECT_EQ(commands.NextMarkRow(1), 4);
    EXPECT_EQ(counting.searches, 1);
    EXPECT_LE(counting.reads, 2 * (kUnshown + 1));
    counting.searches = 0;
    counting.reads = 0;
    EXPECT_EQ(commands.PrevMarkRow(4), 1);
    EXPECT_EQ(counting.searches, 1);
    EXPECT_LE(counting.reads, 2 * (kUnshown + 1));
}

}  // namespace
