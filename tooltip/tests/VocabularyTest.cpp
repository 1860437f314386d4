// Tag, entity and colour tables, colour values, numbers and links.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

TEST(HtmlVocabularyTest, TableSizes) {
    Html h;
    EXPECT_EQ(h.drawer.TagCount(), 40u);
    EXPECT_EQ(h.drawer.EntityCount(), 13u);
    EXPECT_EQ(h.drawer.ColorCount(), 168u);
}

TEST(HtmlVocabularyTest, FindTag) {
    Html h;
    struct Row {
        std::u16string tag;
        HtmlTagId id;
        std::string style;
        bool closing;
    } rows[] = {
        {u"b", TagBold, "bold", false},      {u"/em", TagItalic, "italic", true},
        {u"middle", TagVCenter, "vcenter", false}, {u"/bottom", TagBottom, "bottom", true},
        {u"hr", TagHorzLine, "", false},     {u"\n", TagNewLine, "", false},
        {u"h6", TagStyle, "h6", false},      {u"a", TagLink, "link", false},
        {u"B", TagNone, "", false},          {u"table", TagNone, "", false},
        {u"/", TagNone, "", true},
    };
    for (const Row& row : rows) {
        std::u16string style = u"stale";
        bool closing = !row.closing;
        EXPECT_EQ(h.drawer.FindTag(row.tag, style, closing), row.id) << Ascii(row.tag);
        EXPECT_EQ(Ascii(style), row.style);
        EXPECT_EQ(closing, row.closing);
    }
}

TEST(HtmlVocabularyTest, Entities) {
    Html h;
    struct Row {
        std::u16string text;
        std::u16string expected;
    } rows[] = {
        {u"&lt;b&gt;", u"<<b>"},
        {u"&amp;lt;", u"<<"},  // "&amp;" goes first, so the "&lt;" it leaves is replaced too
        {u"a&nbsp;b&copy;&trade;&bull;&euro;", u"a b\u00A9\u0099\u0095\u0088"},
        {u"&unknown; &#65; &AMP;", u"&unknown; &#65; &AMP;"},
        {u"one\r\ntwo\tx", u"one<br>two<t>x"},
    };
    for (const Row& row : rows) {
        std::u16string text = row.text;
        h.drawer.ReplaceEntities(text);
        EXPECT_EQ(text, row.expected) << Ascii(row.text);
    }
}

TEST(HtmlVocabularyTest, ColourValues) {
    Html h;
    const Colorref current = 0x123456;
    struct Row {
        std::u16string value;
        Colorref expected;
    } rows[] = {
        {u"#FF0000", 0x0000FF},  {u"#ff9900", 0x0099FF},  {u"#F00", current}, {u"", current},
        {u"255", 0x0000FF},      {u"0x0000FF", 0x0000FF}, {u"010", 8},        {u"red", 0x0000FF},
        {u"Red", current},       {u"lightgrey", 0xD3D3D3}, {u"lightgray", current}, {u"grey", current},
        {u"gray", 0x808080},     {u"navy", 0x800000},     {u"yellowgreen", 0x32CD9A},
        {u"4294967295", 0xFFFFFF},  // numbers keep 24 bits
        {u"16777216", 0},
        {u"#GG0000", 0},
    };
    for (const Row& row : rows) EXPECT_EQ(h.drawer.ParseColor(row.value, current), row.expected) << Ascii(row.value);
}

TEST(HtmlVocabularyTest, SystemColoursAreReadOnce) {
    FakeMeasurer measurer;
    CHtmlDrawer::SystemColors colors = CHtmlDrawer::DefaultSystemColors();
    colors[15] = 0x010203;
    colors[24] = 0xFF112233;
    CHtmlDrawer drawer(measurer, nullptr, colors);
    colors[15] = 0;
    EXPECT_EQ(drawer.GetColorByName(u"buttonface", 0), 0x010203u);
    EXPECT_EQ(drawer.GetColorByName(u"threedface", 0), 0x010203u);
    EXPECT_EQ(drawer.GetColorByName(u"infobackground", 0), 0x112233u);
}

TEST(HtmlVocabularyTest, MulDiv) {
    struct Row {
        int a, b, c, expected;
    } rows[] = {
        {255, 50, 100, 128}, {3, 1, 2, 2}, {-3, 1, 2, -2}, {5, 1, 10, 1}, {4, 1, 10, 0},
        {7, 3, 0, -1},       {0x7FFFFFFF, 2, 1, -1}, {0x7FFFFFFF, 2, 2, 0x7FFFFFFF}, {-7, 1, -2, 4},
    };
    for (const Row& row : rows) EXPECT_EQ(MulDiv(row.a, row.b, row.c), row.expected) << row.a << "*" << row.b << "/" << row.c;
}

TEST(HtmlVocabularyTest, ColourHelpers) {
    EXPECT_EQ(MakeColorref(0x11, 0x22, 0x33), 0x332211u);
    EXPECT_EQ(SwapRedBlue(0x332211), 0x112233u);
    EXPECT_EQ(SwapRedBlue(SwapRedBlue(0xABCDEF)), 0xABCDEFu);
}

TEST(HtmlVocabularyTest, OnlyWebAndMailLinksOpen) {
    struct Row {
        std::u16string url;
        bool open;
    } rows[] = {
        {u"http://example.org/", true}, {u"HTTPS://example.org", true}, {u"mailto:a@b.c", true},
        {u"file:///bin/sh", false},     {u"/bin/sh", false},            {u"javascript:x", false},
        {u"http:", false},              {u"http://a\nb", false},        {u"calc.exe", false},
        {u"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(CHtmlDrawer::IsOpenableUrl(row.url), row.open) << Ascii(row.url);
}

TEST(HtmlVocabularyTest, LinksHoverAndClick) {
    Html h;
    std::vector<int> hovers;
    std::vector<std::string> opened, notified;
    h.drawer.SetCallbackRepaint([&](int index) { hovers.push_back(index); });
    h.drawer.SetUrlOpener([&](const std::u16string& url) {
        opened.push_back(Ascii(url));
        return true;
    });
    h.drawer.SetLinkNotify([&](const std::u16string& target) { notified.push_back(Ascii(target)); });
    h.Render(u"<a href=\"http://x.org\">ab</a><a href=\"file:///bin/sh\">cd</a><a msg=note>ef</a><a>gh</a>");
    const auto& areas = h.drawer.LinkAreas();
    ASSERT_EQ(areas.size(), 4u);
    EXPECT_EQ(Box(areas[0].area), "0,0,12,13");
    EXPECT_EQ(areas[3].linkIndex, 3);

    // Edges count as inside; moving between links reports each change once.
    EXPECT_EQ(h.drawer.HitTestLink(12, 13), 0);
    EXPECT_EQ(h.drawer.HitTestLink(100, 5), -1);
    EXPECT_TRUE(h.drawer.OnSetCursor(1, 1));
    EXPECT_TRUE(h.drawer.OnSetCursor(2, 2));
    EXPECT_TRUE(h.drawer.OnSetCursor(14, 1));
    EXPECT_FALSE(h.drawer.OnSetCursor(40, 1));  // a link without a target shows no hand
    EXPECT_FALSE(h.drawer.OnSetCursor(200, 1));
    EXPECT_FALSE(h.drawer.OnSetCursor(201, 1));
    EXPECT_EQ(hovers, (std::vector<int>{0, 1, 3, -2}));

    for (int i = 0; i < 4; ++i) h.drawer.OnLinkClick(i);
    h.drawer.OnLinkClick(99);
    EXPECT_EQ(opened, (std::vector<std::string>{"http://x.org"}));
    EXPECT_EQ(notified, (std::vector<std::string>{"note"}));
}

TEST(HtmlVocabularyTest, HoveredLinkTakesHoverRule) {
    Html h;
    h.Render(u"<a href=x>ab</a> <a href=y>cd</a>");
    h.drawer.OnSetCursor(20, 2);
    EXPECT_EQ(h.drawer.HoveredLink(), 1);
    auto calls = h.Draw();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "text 0,0 'ab' 13/400 FF0000");
    EXPECT_EQ(calls[2], "text 18,0 'cd' 13/400 FF0000 u");
}

TEST(HtmlVocabularyTest, LinkAreasDoNotPileUpOverPaints) {
    Html h;
    h.Render(u"<a href=x>ab</a>");
    h.Draw();
    h.Draw();
    EXPECT_EQ(h.drawer.LinkAreas().size(), 1u);
}

TEST(HtmlVocabularyTest, StringResourceTip) {
    Html h;
    h.resources.strings[5] = u"Status\nShows the status\nmore";
    h.resources.strings[6] = u"no tip";
    EXPECT_EQ(h.drawer.GetStringResourceTip(5), u"Shows the status");
    EXPECT_EQ(h.drawer.GetStringResourceTip(6), u"");
    EXPECT_EQ(h.drawer.GetStringResourceTip(7), u"");
}

TEST(HtmlVocabularyTest, ImageFilesStayUnderTheProgramFolder) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("orvane-tip-" + std::to_string(::getpid()));
    fs::create_directories(root / "img");
    std::ofstream(root / "img" / "a.bmp") << "x";
    std::ofstream(root.parent_path() / ("orvane-tip-outside-" + std::to_string(::getpid()))) << "x";
    fs::create_symlink("/etc/passwd", root / "img" / "link.bmp");
    struct Row {
        std::u16string value;
        bool found;
    } rows[] = {
        {u"img/a.bmp", true}, {u"img\\a.bmp", true}, {u"./img/a.bmp", true}, {u"img/../img/a.bmp", false},
        {u"/etc/passwd", false}, {u"img/link.bmp", false}, {u"img/none.bmp", false}, {u"img", false},
        {u"", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(!CHtmlDrawer::ResolveImageFile(root, row.value).empty(), row.found) << Ascii(row.value);
    EXPECT_TRUE(CHtmlDrawer::ResolveImageFile({}, u"img/a.bmp").empty());
    fs::remove_all(root);
    fs::remove(root.parent_path() / ("orvane-tip-outside-" + std::to_string(::getpid())));
}

}  // namespace
}  // namespace orvane::test
