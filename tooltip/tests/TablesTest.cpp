// Tables: counting, spans, widths, spacing, borders, backgrounds, nesting.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

using Calls = std::vector<std::string>;

TEST(HtmlTablesTest, TwoCellsWithBorder) {
    Html h;
    EXPECT_EQ(h.Prepare(u"<table border=1><tr><td>ab</td><td>abcd</td></tr></table>"), (HtmlSize{52, 22}));
    const TableLayout& t = h.drawer.Tables()[0];
    EXPECT_EQ(t.columnWidths, (std::vector<int>{18, 30}));
    EXPECT_EQ(t.rowHeights, (std::vector<int>{19}));
    // A raised table frame, sunken cell frames inside it, one pixel between the cells.
    EXPECT_EQ(h.Draw(), (Calls{"frame 0,0,51,21 000000 000000 1/1", "frame 1,1,19,20 000000 000000 1/1",
                               "text 4,4 'ab' 13/400 000000", "frame 20,1,50,20 000000 000000 1/1",
                               "text 23,4 'abcd' 13/400 000000"}));
}

TEST(HtmlTablesTest, SpansShareWhatTheyLack) {
    Html h;
    h.Prepare(u"<table cellpadding=0><tr><td colspan=2 width=25></td></tr>"
              u"<tr><td width=10></td><td width=10></td></tr></table>");
    EXPECT_EQ(h.drawer.Tables()[0].columnWidths, (std::vector<int>{12, 13}));
    EXPECT_EQ(h.drawer.Tables()[0].fixedColumns, (std::vector<int>{1, 1}));
    h.Prepare(u"<table cellpadding=0><tr><td rowspan=2 height=25></td><td height=10></td></tr>"
              u"<tr><td height=10></td></tr></table>");
    EXPECT_EQ(h.drawer.Tables()[0].rowHeights, (std::vector<int>{13, 12}));
}

TEST(HtmlTablesTest, CoveredSlotsAreSkipped) {
    Html h;
    h.Prepare(u"<table><tr><td colspan=2 rowspan=2>a</td><td>b</td></tr><tr><td>c</td></tr></table>");
    const TableLayout& t = h.drawer.Tables()[0];
    ASSERT_EQ(t.Columns(), 3);
    ASSERT_EQ(t.Rows(), 2);
    struct Slot {
        int row, column, colspan, rowspan;
    } slots[] = {{0, 0, 2, 2}, {0, 1, -1, -1}, {0, 2, 1, 1}, {1, 0, -1, -1}, {1, 1, -1, -1}, {1, 2, 1, 1}};
    for (const Slot& s : slots) {
        EXPECT_EQ(t.grid[s.row][s.column].colspan, s.colspan) << s.row << "," << s.column;
        EXPECT_EQ(t.grid[s.row][s.column].rowspan, s.rowspan) << s.row << "," << s.column;
    }
    // Spans are cut at the grid's edges; a cell with no slot left is not laid out.
    h.Prepare(u"<table><tr><td colspan=9>a</td></tr><tr><td>b</td><td>c</td></tr></table>");
    EXPECT_EQ(h.drawer.Tables()[0].grid[0][0].colspan, 9);
    h.Prepare(u"<table><tr><td rowspan=5>a</td><td>b</td></tr></table>");
    EXPECT_EQ(h.drawer.Tables()[0].grid[0][0].rowspan, 1);
}

TEST(HtmlTablesTest, SpareWidthGoesToFreeColumns) {
    Html h;
    EXPECT_EQ(h.Prepare(u"<table><tr><td>a</td><td>b</td><td>c</td></tr></table>"), (HtmlSize{33, 18}));
    h.Draw({0, 0, 63, 50});
    EXPECT_EQ(h.drawer.Tables()[0].columnWidths, (std::vector<int>{20, 20, 21}));
    // Stored back, so the next paint finds nothing left to spread.
    h.Draw({0, 0, 63, 50});
    EXPECT_EQ(h.drawer.Tables()[0].columnWidths, (std::vector<int>{20, 20, 21}));

    struct Row {
        std::u16string align;
        std::string frame;
    } rows[] = {{u"left", "frame 0,0,18,21"}, {u"center", "frame 41,0,59,21"}, {u"right", "frame 82,0,100,21"}};
    for (const Row& row : rows) {
        h.Prepare(u"<table border=1 align=" + row.align + u"><tr><td width=10>a</td></tr></table>");
        EXPECT_EQ(h.Draw({0, 0, 100, 30})[0], row.frame + " 000000 000000 1/1");
    }
}

TEST(HtmlTablesTest, BordersAndBackgrounds) {
    Html h;
    h.resources.bitmaps[1] = {4, 4};
    struct Row {
        std::u16string text;
        Calls calls;
    } rows[] = {
        // A table's background reaches its cells through the style.
        {u"<table bgcolor=red><tr><td>a</td></tr></table>",
         {"fill 0,0,10,17 0 0000FF FFFFFF FFFFFF", "fill 0,0,10,17 0 0000FF FFFFFF FFFFFF",
          "text 2,2 'a' 13/400 000000"}},
        {u"<table bgeffect=3hgradient bgcolor=red bgmidcolor=lime bgendcolor=blue><tr><td bgeffect=transparent>a</td></tr></table>",
         {"fill 0,0,10,17 5 0000FF 00FF00 FF0000", "text 2,2 'a' 13/400 000000"}},
        {u"<table background=\"idres:1\"><tr><td>a</td></tr></table>", {"tile 1 0,0,10,17", "text 2,2 'a' 13/400 000000"}},
        {u"<table background=idres bgcolor=red><tr><td bgcolor=lime>a</td></tr></table>",
         {"fill 0,0,10,17 0 0000FF FFFFFF FFFFFF", "fill 0,0,10,17 0 00FF00 FFFFFF FFFFFF",
          "text 2,2 'a' 13/400 000000"}},
        {u"<table border=3 bordercolorlight=white bordercolordark=gray><tr><td>a</td></tr></table>",
         // Cells inherit the width 3 as their inset but always draw a 1-pixel frame.
         {"frame 0,0,22,29 FFFFFF 808080 1/3", "frame 3,3,19,26 808080 FFFFFF 1/1", "text 8,8 'a' 13/400 000000"}},
        {u"<table border=1 borderstyle=double><tr><td border=0>a</td></tr></table>",
         {"frame 0,0,16,23 000000 000000 6/1", "text 5,5 'a' 13/400 000000"}},
        {u"<table><tr><td border=3 borderstyle=dashed>a</td></tr></table>",
         {"frame 0,0,12,19 000000 000000 2/1", "text 3,3 'a' 13/400 000000"}},
        {u"<table cellspacing=2><tr><td>a</td><td>b</td></tr></table>",
         {"text 4,4 'a' 13/400 000000", "text 17,4 'b' 13/400 000000"}},
    };
    for (const Row& row : rows) {
        h.Prepare(row.text);
        EXPECT_EQ(h.Draw(), row.calls) << Ascii(row.text);
    }
}

TEST(HtmlTablesTest, CellAlignment) {
    Html h;
    h.Prepare(u"<table><tr><td height=40 valign=bottom align=right width=30>a</td>"
              u"<td height=40 valign=middle>b</td></tr></table>");
    // The cell's vertical alignment also places the text on its line.
    EXPECT_EQ(h.Draw(), (Calls{"text 26,32 'a' 13/400 000000", "text 37,15 'b' 13/400 000000"}));
}

TEST(HtmlTablesTest, NestedTableWidensToItsCell) {
    Html h;
    EXPECT_EQ(h.Prepare(u"<table><tr><td><table border=1><tr><td>x</td></tr></table></td></tr></table>"),
              (HtmlSize{19, 26}));
    ASSERT_EQ(h.drawer.Tables().size(), 2u);
    Calls calls = h.Draw({0, 0, 40, 25});
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], "frame 2,2,38,23 000000 000000 1/1");
}

TEST(HtmlTablesTest, EdgeCases) {
    Html h;
    struct Row {
        std::u16string text;
        HtmlSize size;
    } rows[] = {
        {u"<table></table>", {1, 1}},  // no cells: no room, nothing drawn, text emptied
        {u"<table><tr></tr></table>", {1, 1}},
        {u"<table border=5 bgcolor=red></table>x", {7, 14}},
        {u"a<<table>b", {55, 14}},  // a doubled "<" makes it text
        {u"<table><tr><td>a", {11, 18}},  // closing tags missing: it runs to the end
        {u"<table><tr><td width=50%>a</td></tr></table>", {11, 18}},
        {u"<table width=90 height=90><tr width=90><td>a</td></tr></table>", {11, 18}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(h.Prepare(row.text), row.size) << Ascii(row.text);
        Calls calls = h.Draw();
        for (const std::string& c : calls) EXPECT_EQ(c.rfind("frame", 0), std::string::npos) << Ascii(row.text);
    }
}

TEST(HtmlTablesTest, NestingIsCapped) {
    Html h;
    std::u16string text;
    for (int i = 0; i < 40; ++i) text += u"<table><tr><td>";
    text += u"x";
    for (int i = 0; i < 40; ++i) text += u"</td></tr></table>";
    h.Prepare(text);
    EXPECT_EQ(h.drawer.Tables().size(), 16u);
    h.Draw();
}

}  // namespace
}  // namespace orvane::test
