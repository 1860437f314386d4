// Tip texts come from captured data: nothing in them may run, load or grow
// without bound.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

std::u16string Repeat(std::u16string_view piece, size_t totalUnits) {
    std::u16string out;
    out.reserve(totalUnits + piece.size());
    while (out.size() < totalUnits) out += piece;
    return out;
}

TEST(HtmlHostileTextTest, LinksOpenOnlyWebAndMail) {
    Html h;
    std::vector<std::u16string> opened;
    h.drawer.SetUrlOpener([&](const std::u16string& url) {
        opened.push_back(url);
        return true;
    });
    h.Render(u"<a href=\"file:///bin/sh\">a</a><a href=\"calc.exe\">b</a><a href='cmd /c del'>c</a>"
             u"<a href=\"https://ok\">d</a>");
    for (int i = 0; i < static_cast<int>(h.drawer.LinkAreas().size()); ++i) h.drawer.OnLinkClick(i);
    EXPECT_EQ(opened, (std::vector<std::u16string>{u"https://ok"}));
}

TEST(HtmlHostileTextTest, CountsAndSizesAreBounded) {
    Html h;
    h.resources.bitmaps[1] = {20, 10};
    struct Row {
        std::u16string text;
        HtmlSize atMost;
    } rows[] = {
        {u"a<br=100000>b", {7, 13 * 101 + 1}},
        {u"a<t=100000>b", {32 * 100 + 7, 14}},
        {u"<font size=100000>x</font>", {201, 401}},
        {u"<hr size=100000 width=100000>", {100001, 109}},
        {u"<hr width=4000000000%>", {12, 110}},  // 1000 % at the most
        {u"<bmp idres=1 width=100000% height=99999999>", {201, 4097}},
        {u"<table cellspacing=99999999 border=99999999><tr><td>a</td></tr></table>", {8192, 8192}},
        {u"<table><tr><td colspan=999999999 rowspan=999999999>a</td></tr></table>", {300, 20}},
    };
    for (const Row& row : rows) {
        HtmlSize size = h.Prepare(row.text);
        EXPECT_LE(size.cx, row.atMost.cx) << Ascii(row.text);
        EXPECT_LE(size.cy, row.atMost.cy) << Ascii(row.text);
        h.Draw();
    }
    EXPECT_EQ(h.measurer.Font().height, 13);
}

TEST(HtmlHostileTextTest, MeasuredSizeIsCappedToTheScreen) {
    Html h;
    h.drawer.SetMaxSize({1920, 1080});
    EXPECT_EQ(h.Prepare(Repeat(u"wide text ", 100000) + Repeat(u"<br>", 1000)), (HtmlSize{1920, 1080}));
    h.Draw();
}

TEST(HtmlHostileTextTest, DeepNesting) {
    Html h;
    EXPECT_EQ(h.Prepare(Repeat(u"<b><i>", 200000) + u"x" + Repeat(u"</i></b>", 200000)), (HtmlSize{7, 14}));
    // Tags past the stack's depth are dropped; the text still comes out once.
    EXPECT_EQ(h.Draw(), (std::vector<std::string>{"text 0,0 'x' 13/900 000000 i"}));
    h.Prepare(Repeat(u"<table><tr><td>", 20000) + u"x");
    EXPECT_EQ(h.drawer.Tables().size(), 16u);
    h.Draw();
}

TEST(HtmlHostileTextTest, MegabyteTextsStayBounded) {
    const size_t kMegabyte = 1 << 19;  // UTF-16 units: 1 MB of text
    const std::u16string_view pieces[] = {
        u"plain text ", u"<b>", u"</b>", u"<", u"<a", u"&lt;", u"<<", u"<br>", u"\n", u"<t=100>",
        u"<hr width=1000%>", u"<table", u"<table>", u"</table>", u"<tr><td>", u"<td>", u"<tr>",
        u"<table><tr><td>a</td></tr></table>", u"<td colspan=256 rowspan=256>", u"<font size=7>a",
        u"<a href=http://x>a</a>", u"<span class=x>", u"<ilst idres=1 cx=1 speed=1>", u"<bmp idres=1>",
    };
    for (std::u16string_view piece : pieces) {
        Html h;
        h.resources.bitmaps[1] = {64, 16};
        h.drawer.SetMaxSize({4096, 4096});
        HtmlSize size = h.Prepare(Repeat(piece, kMegabyte));
        EXPECT_LE(size.cx, 4096) << Ascii(piece);
        EXPECT_LE(size.cy, 4096) << Ascii(piece);
        h.Draw();
        h.drawer.OnTimer();
        EXPECT_LE(h.drawer.IconLists().size(), size_t{htmllimits::kMaxImages}) << Ascii(piece);
        EXPECT_LE(h.resources.loads, htmllimits::kMaxImages) << Ascii(piece);
    }
}

}  // namespace
}  // namespace orvane::test
