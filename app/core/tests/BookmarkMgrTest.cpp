// Bookmarks: sorted insertion, the searches, edits, the project's marks, and
// a reader on another thread while they are edited.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "CBookmarkMgr.h"
#include "Document.h"

using orvane::Mark;
using orvane::app::CBookmarkMgr;

namespace {

// "packet:name" of every mark, in order.
std::vector<std::string> Marks(CBookmarkMgr& mgr)
{
    std::vector<std::string> out;
    Mark m;
    for (int i = 0; mgr.GetAt(i, &m); ++i) out.push_back(std::to_string(m.packet) + ":" + m.name);
    return out;
}

using Texts = std::vector<std::string>;

TEST(BookmarkMgr, AddKeepsPacketOrderNewBeforeEqual)
{
    CBookmarkMgr mgr;
    for (const Mark& m : {Mark{30, "c", ""}, Mark{10, "a", ""}, Mark{20, "b", ""}}) EXPECT_EQ(mgr.Add(m), 1);
    EXPECT_EQ(Marks(mgr), (Texts{"10:a", "20:b", "30:c"}));
    mgr.Add({20, "new", ""});
    EXPECT_EQ(Marks(mgr), (Texts{"10:a", "20:new", "20:b", "30:c"}));

    Mark out{99, "untouched", ""};
    for (int index : {-1, 4}) EXPECT_EQ(mgr.GetAt(index, &out), 0);
    EXPECT_EQ(out.name, "untouched");
    EXPECT_EQ(mgr.GetAt(0, nullptr), 0);

    EXPECT_EQ(mgr.Remove(4), 0);
    EXPECT_EQ(mgr.Remove(1), 1);
    EXPECT_EQ(Marks(mgr), (Texts{"10:a", "20:b", "30:c"}));
    EXPECT_EQ(mgr.RemoveAll(), 1);
    EXPECT_EQ(mgr.GetCount(), 0);
}

TEST(BookmarkMgr, FindNextAndPrev)
{
    CBookmarkMgr mgr;
    int32_t none = 5;
    EXPECT_EQ(mgr.FindNext(&none), -1);
    EXPECT_EQ(mgr.FindPrev(&none), -1);
    EXPECT_EQ(none, 5);
    for (int32_t p : {10, 20, 20, 30}) mgr.Add({p, "", ""});

    struct Case { bool next; int32_t from; int32_t index; int32_t packet; };
    const Case cases[] = {
        {true, 20, 3, 30}, {true, 30, -1, 30}, {true, -5, 0, 10}, {true, 10, 1, 20},
        {false, 10, -1, 10}, {false, 25, 2, 20}, {false, 1000, 3, 30}, {false, 20, 0, 10}};
    for (const Case& c : cases) {
        int32_t packet = c.from;
        EXPECT_EQ(c.next ? mgr.FindNext(&packet) : mgr.FindPrev(&packet), c.index) << c.next << " " << c.from;
        EXPECT_EQ(packet, c.packet) << c.next << " " << c.from;
    }
    EXPECT_EQ(mgr.FindNext(nullptr), -1);
}

TEST(BookmarkMgr, ModifyNeverMovesAMark)
{
    CBookmarkMgr mgr;
    mgr.Add({10, "a", "x"});
    mgr.Add({20, "b", "y"});
    EXPECT_EQ(mgr.Modify(0, {20, "moved", ""}), 0);
    EXPECT_EQ(mgr.Modify(2, {20, "b", ""}), 0);
    EXPECT_EQ(mgr.Modify(-1, {10, "a", ""}), 0);
    EXPECT_EQ(Marks(mgr), (Texts{"10:a", "20:b"}));
    EXPECT_EQ(mgr.Modify(1, {20, "renamed", "z"}), 1);
    Mark m;
    mgr.GetAt(1, &m);
    EXPECT_EQ(m.name + m.comment, "renamedz");
}

TEST(BookmarkMgr, ProjectMarksLoadSortedAndSaveInOrder)
{
    orvane::xml::Document doc;
    ASSERT_TRUE(doc.loadXML("<project><marks>"
                            "<mark packet=\"30\" name=\"c\" comment=\"third\"/>"
                            "<mark packet=\"20\" name=\"b\"/>"
                            "<mark packet=\"12abc\" name=\"a\" comment=\"&lt;tag&gt; &amp; &quot;q&quot;\"/>"
                            "<mark name=\"none\"/>"
                            "<mark packet=\"4294967295\" name=\"wrapped\"/>"
                            "</marks></project>"));
    CBookmarkMgr mgr;
    mgr.Add({1, "replaced", ""});
    orvane::xml::Node node = doc.node();
    ASSERT_EQ(mgr.Serialize(&node, 1), 1);
    EXPECT_EQ(Marks(mgr), (Texts{"-1:wrapped", "0:none", "12:a", "20:b", "30:c"}));
    Mark a;
    mgr.GetAt(2, &a);
    EXPECT_EQ(a.comment, "<tag> & \"q\"");

    mgr.Add({25, "multi", "line one\nline two"});
    ASSERT_EQ(mgr.Serialize(&node, 0), 1);
    std::vector<orvane::xml::Node> saved = doc.selectNodes("/project/marks/mark");
    ASSERT_EQ(saved.size(), 6u);
    EXPECT_EQ(saved[0].attribute("packet"), "4294967295") << "written with %u";
    EXPECT_EQ(saved[4].attribute("packet"), "25");
    EXPECT_EQ(saved[2].attributes(),
              (std::vector<std::pair<std::string, std::string>>{{"packet", "12"}, {"name", "a"}, {"comment", "<tag> & \"q\""}}));

    // Saved text loads back to the same marks.
    orvane::xml::Document again;
    ASSERT_TRUE(again.loadXML(doc.xml()));
    CBookmarkMgr reloaded;
    orvane::xml::Node againNode = again.node();
    reloaded.Serialize(&againNode, 1);
    EXPECT_EQ(Marks(reloaded), Marks(mgr));
    Mark multi;
    reloaded.GetAt(4, &multi);
    EXPECT_EQ(multi.comment, "line one\nline two");
}

TEST(BookmarkMgr, LoadingOrdersMarksAsAddingEachInTurnWould)
{
    // Equal packets, ascending and descending runs: a later mark goes before equal earlier ones.
    const std::vector<Mark> file = {{5, "a", ""}, {5, "b", ""}, {3, "c", ""}, {5, "d", ""}, {9, "e", ""},
                                    {3, "f", ""}, {-2, "g", ""}, {9, "h", ""}, {0, "i", ""}};
    std::string text = "<project><marks>";
    CBookmarkMgr added;
    for (const Mark& m : file) {
        text += "<mark packet=\"" + std::to_string(m.packet) + "\" name=\"" + m.name + "\"/>";
        added.Add(m);
    }
    orvane::xml::Document doc;
    ASSERT_TRUE(doc.loadXML(text + "</marks></project>"));
    CBookmarkMgr loaded;
    orvane::xml::Node node = doc.node();
    ASSERT_EQ(loaded.Serialize(&node, 1), 1);
    EXPECT_EQ(Marks(loaded), Marks(added));
    EXPECT_EQ(Marks(loaded).front(), "-2:g");
}

TEST(BookmarkMgr, SaveCreatesMarksAsTheRootsLastChild)
{
    orvane::xml::Document doc;
    ASSERT_TRUE(doc.loadXML("<project><Packet PathName=\"a.ph\"/><Setup>x</Setup></project>"));
    CBookmarkMgr mgr;
    mgr.Add({7, "n", "c"});
    orvane::xml::Node root = doc.documentElement();
    ASSERT_EQ(mgr.Serialize(&root, 0), 1);
    EXPECT_EQ(doc.xml(), "<project><Packet PathName=\"a.ph\"/><Setup>x</Setup>"
                         "<marks><mark packet=\"7\" name=\"n\" comment=\"c\"/></marks></project>");

    mgr.RemoveAll();
    ASSERT_EQ(mgr.Serialize(&root, 0), 1);
    EXPECT_EQ(doc.selectNodes("//mark").size(), 0u) << "the old marks are removed";
    EXPECT_EQ(doc.selectNodes("//marks").size(), 1u);

    orvane::xml::Node null;
    EXPECT_EQ(mgr.Serialize(&null, 0), 0);
    EXPECT_EQ(mgr.Serialize(nullptr, 1), 0);
}

// MarksChanged after a parse hands the manager to every view plug-in on the
// capture worker; ours copy the marks on the GUI thread, but a plug-in may read
// them there while the user adds, edits and deletes them. The manager's lock
// keeps every mark read whole: without it this reader tears a mark or crashes
// in most runs, and with it never.
TEST(BookmarkMgr, ReadOnAnotherThreadWhileEdited)
{
    CBookmarkMgr mgr;
    // Longer than any short-string buffer: a torn copy reads freed memory.
    auto name = [](int packet) { return "mark at packet " + std::to_string(packet) + " of the capture"; };
    std::atomic<bool> done = false;
    std::atomic<int> torn = 0, passes = 0;
    std::thread reader([&] {
        Mark mark;
        for (; !done; ++passes) {
            const int32_t n = mgr.GetCount();
            for (int32_t i = 0; i < n; ++i)
                if (mgr.GetAt(i, &mark) && mark.name != name(mark.packet)) ++torn;
            int32_t packet = -1;
            if (mgr.FindNext(&packet) >= 0 && packet < 0) ++torn;
        }
    });
    // Until the reader has met the edits many times, however late it starts.
    for (int round = 0; round < 40 || passes < 200; ++round) {
        for (int i = 0; i < 200; ++i) mgr.Add({(i * 37 + round) % 500, name((i * 37 + round) % 500), "comment"});
        Mark mark;
        for (int32_t i = 0; mgr.GetAt(i, &mark); i += 3) mgr.Modify(i, {mark.packet, mark.name, "edited comment"});
        while (mgr.GetCount() > 50) mgr.Remove(mgr.GetCount() / 2);
        if (round % 10 == 9) mgr.RemoveAll();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
