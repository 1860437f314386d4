// Line layout against fixed metrics: the body font is 13 px high, 6 px a
// character, ascent 10, descent 3.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

using Calls = std::vector<std::string>;

struct Row {
    std::u16string text;
    HtmlSize size;
    Calls calls;
};

void Check(const Row& row) {
    Html h;
    h.resources.strings[5] = u"Hello";
    h.drawer.SetCssStyle(u".up", u"text-transform:uppercase");
    h.drawer.SetCssStyle(u".cap", u"text-transform:capitalize");
    EXPECT_EQ(h.Prepare(row.text), row.size) << Ascii(row.text);
    EXPECT_EQ(h.Draw(), row.calls) << Ascii(row.text);
}

TEST(HtmlLayoutTest, LinesAndBreaks) {
    const Row rows[] = {
        {u"", {0, 0}, {}},
        {u"<b></b>", {1, 1}, {}},  // lays out to nothing: 1 by 1, and nothing is drawn
        {u"ab", {13, 14}, {"text 0,0 'ab' 13/400 000000"}},
        {u"ab<br>cd", {13, 27}, {"text 0,0 'ab' 13/400 000000", "text 0,13 'cd' 13/400 000000"}},
        {u"ab<br>", {13, 14}, {"text 0,0 'ab' 13/400 000000"}},  // a final break adds no line
        {u"ab\r\ncd", {13, 27}, {"text 0,0 'ab' 13/400 000000", "text 0,13 'cd' 13/400 000000"}},
        {u"a<br=3>b", {7, 53}, {"text 0,0 'a' 13/400 000000", "text 0,39 'b' 13/400 000000"}},
        {u"a<br 3>b", {7, 27}, {"text 0,0 'a' 13/400 000000", "text 0,13 'b' 13/400 000000"}},
        {u"<br><br>a", {7, 40}, {"text 0,26 'a' 13/400 000000"}},
        {u"a&lt;b", {19, 14}, {"text 0,0 'a<' 13/400 000000", "text 12,0 'b' 13/400 000000"}},
        {u"a<<b", {19, 14}, {"text 0,0 'a<' 13/400 000000", "text 12,0 'b' 13/400 000000"}},
        {u"ab <x>cd", {31, 14}, {"text 0,0 'ab ' 13/400 000000", "text 18,0 'cd' 13/400 000000"}},
        // The last run of a line loses its trailing blanks when drawn.
        {u"ab  ", {25, 14}, {"text 0,0 'ab' 13/400 000000"}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(HtmlLayoutTest, Alignment) {
    const Row rows[] = {
        {u"<center>ab<br>abcd</center>", {25, 27},
         {"text 6,0 'ab' 13/400 000000", "text 0,13 'abcd' 13/400 000000"}},
        {u"<right>ab<br>abcd", {25, 27}, {"text 12,0 'ab' 13/400 000000", "text 0,13 'abcd' 13/400 000000"}},
        {u"<justify>ab<br>abcd", {25, 27}, {"text 0,0 'ab' 13/400 000000", "text 0,13 'abcd' 13/400 000000"}},
        // The alignment in force at a line's last item places the line.
        {u"ab<right>c<br>abcd", {25, 27},
         {"text 6,0 'ab' 13/400 000000", "text 18,0 'c' 13/400 000000", "text 0,13 'abcd' 13/400 000000"}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(HtmlLayoutTest, VerticalPlacementAndFonts) {
    const Row rows[] = {
        {u"a<sub>b</sub>", {11, 14}, {"text 0,0 'a' 13/400 000000", "text 6,7 'b' 8/400 000000"}},
        {u"a<sup>b</sup>", {11, 14}, {"text 0,0 'a' 13/400 000000", "text 6,0 'b' 8/400 000000"}},
        {u"<h1>T</h1>x", {16, 19}, {"text 0,0 'T' 18/700 000000", "text 9,4 'x' 13/400 000000"}},
        {u"<h1>T</h1><top>x", {16, 19}, {"text 0,0 'T' 18/700 000000", "text 9,0 'x' 13/400 000000"}},
        {u"<h1>T</h1><bottom>x", {16, 19}, {"text 0,0 'T' 18/700 000000", "text 9,8 'x' 13/400 000000"}},
        {u"<h1>T</h1><middle>x", {16, 19}, {"text 0,0 'T' 18/700 000000", "text 9,2 'x' 13/400 000000"}},
        {u"<h2>a</h2>", {9, 18}, {"text 0,0 'a' 17/700 0099FF"}},
        {u"<pre>a</pre>", {7, 13}, {"text 0,0 'a' 12/400 000000 on BBEDFB"}},
        {u"<code>a</code>", {7, 14}, {"text 0,0 'a' 13/400 000099"}},
        {u"<span class=cpp-comment>a</span>", {7, 14}, {"text 0,0 'a' 13/400 008000 i"}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(HtmlLayoutTest, StyleTags) {
    const Row rows[] = {
        {u"<b>a<b>b</b>c</b>d", {25, 14},
         {"text 0,0 'a' 13/800 000000", "text 6,0 'b' 13/900 000000", "text 12,0 'c' 13/800 000000",
          "text 18,0 'd' 13/400 000000"}},
        // A closing tag that is not the innermost open one is ignored.
        {u"<i>a</b>b</i>c", {19, 14},
         {"text 0,0 'a' 13/400 000000 i", "text 6,0 'b' 13/400 000000 i", "text 12,0 'c' 13/400 000000"}},
        {u"<u><s>a</s></u>b", {13, 14}, {"text 0,0 'a' 13/400 000000 u s", "text 6,0 'b' 13/400 000000"}},
        {u"<font color=red size=5 face=Arial style=\"b-u\" bkgnd=yellow>x</font>", {10, 19},
         {"text 0,0 'x' 18/700 0000FF on 00FFFF"}},
        {u"<font bkgnd=transparent color=#00ff00>x</font>", {7, 14}, {"text 0,0 'x' 13/400 00FF00"}},
        {u"<font weight=bold size=0>x</font>", {9, 17}, {"text 0,0 'x' 16/700 000000"}},  // size 0: default height
        {u"<span class=up>ab cd</span>", {31, 14}, {"text 0,0 'AB CD' 13/400 000000"}},
        {u"<span class=cap>aB cD</span>", {31, 14}, {"text 0,0 'Ab Cd' 13/400 000000"}},
        {u"<font style=o>ab</font><font style=bo>c</font>", {19, 14},
         {"text 0,0 'ab' 13/400 000000", "line 0,0-12,0 000000 1/1", "text 12,0 'c' 13/700 000000",
          "line 12,0-18,0 000000 1/2"}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(HtmlLayoutTest, RulesTabsAndStrings) {
    const Row rows[] = {
        // A percentage rule counts 1 pixel while measuring; the fix-up widens its line.
        {u"ab<br><hr><br>cd", {14, 36},
         {"text 0,0 'ab' 13/400 000000", "line 0,17-13,17 000000 1/1", "text 0,22 'cd' 13/400 000000"}},
        {u"<hr width=50 size=3 color=red>", {51, 12}, {"line 0,5-50,5 0000FF 1/3"}},
        {u"abcdefghij<br><hr width=50%>", {61, 23},
         {"text 0,0 'abcdefghij' 13/400 000000", "line 0,17-30,17 000000 1/1"}},
        {u"<t>x", {39, 14}, {"text 32,0 'x' 13/400 000000"}},
        {u"aaaaa<t>x", {39, 14}, {"text 0,0 'aaaaa' 13/400 000000", "text 32,0 'x' 13/400 000000"}},
        {u"a<t=3>x", {103, 14}, {"text 0,0 'a' 13/400 000000", "text 96,0 'x' 13/400 000000"}},
        {u"<t><t=0>x", {71, 14}, {"text 64,0 'x' 13/400 000000"}},
        {u"a\tx", {39, 14}, {"text 0,0 'a' 13/400 000000", "text 32,0 'x' 13/400 000000"}},
        {u"<string idres=5>!", {37, 14}, {"text 0,0 'Hello' 13/400 000000", "text 30,0 '!' 13/400 000000"}},
        {u"<string iddll=5 srcdll=evil.dll>", {31, 14}, {"text 0,0 'Hello' 13/400 000000"}},
        {u"<string idres=6>", {1, 1}, {}},
    };
    for (const Row& row : rows) Check(row);
}

TEST(HtmlLayoutTest, RuleInWideSection) {
    Html h;
    h.Prepare(u"<hr>");
    EXPECT_EQ(h.Draw({0, 0, 200, 50}), (Calls{"line 0,4-200,4 000000 1/1"}));
    // Drawing again gives the same rule: widths are worked out on copies.
    EXPECT_EQ(h.Draw({0, 0, 200, 50}), (Calls{"line 0,4-200,4 000000 1/1"}));
    EXPECT_EQ(h.drawer.Lines()[0].width, 2);  // 1 while measuring, plus its share of the widest line
}

TEST(HtmlLayoutTest, LineTable) {
    Html h;
    h.Prepare(u"<h1>T</h1>x<br><center>ab<hr width=30%>");
    const auto& lines = h.drawer.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].width, 15);
    EXPECT_EQ(lines[0].height, 18);
    EXPECT_EQ(lines[0].descent, 4);
    EXPECT_EQ(lines[1].hrPercent, 30);
    EXPECT_EQ(lines[1].horzAlign, 1);
    EXPECT_EQ(lines[1].height, 13);
}

TEST(HtmlLayoutTest, NarrowRectangleReplaysTheMeasuredLines) {
    Html h;
    h.Prepare(u"a<br>bb<br>ccc");
    EXPECT_EQ(h.Draw({0, 0, 1, 1}), (Calls{"text 0,0 'a' 13/400 000000", "text 0,13 'bb' 13/400 000000",
                                         "text 0,26 'ccc' 13/400 000000"}));
}

TEST(HtmlLayoutTest, FontsChangeOnlyAtStyleTags) {
    Html h;
    h.Prepare(u"a b c d e f g h");
    const int before = h.measurer.fontChanges;
    h.Prepare(u"a<b>b</b>c");
    EXPECT_EQ(h.measurer.fontChanges - before, 5);  // pass start, body, b, /b, /body
}

}  // namespace
}  // namespace orvane::test
