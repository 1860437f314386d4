// The style sheet: parsing, the default sheet at 96 dpi and the value readers.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

std::string Rule(const CHtmlDrawer& drawer, const std::u16string& name) {
    const std::u16string* rule = drawer.GetCssStyle(name);
    return rule ? Ascii(*rule) : "(none)";
}

TEST(HtmlStyleSheetTest, DefaultSheetAt96Dpi) {
    Html h;
    struct Row {
        std::u16string rule;
        int size;
        int weight;
        Colorref color;
        std::string face;
    } rows[] = {
        {u"body", 13, 400, 0, "verdana"},        {u"h1", 18, 700, 0, "verdana"},
        {u"h2", 17, 700, 0x0099FF, "verdana"},   {u"h3", 16, 700, 0x0099FF, "arial"},
        {u"h5", 12, 700, 0x0099FF, "verdana"},   {u"h6", 10, 400, 0x626262, "verdana"},
        {u"pre", 12, 400, 0, "courier"},         {u"big", 20, 400, 0, "Verdana"},
        {u"small", 12, 400, 0, "Verdana"},       {u".cpp-comment", 16, 400, 0x008000, "Verdana"},
    };
    for (const Row& row : rows) {
        HtmlStyle style;
        h.drawer.ApplyCssClass(row.rule, style);
        EXPECT_EQ(style.fontSize, row.size) << Ascii(row.rule);
        EXPECT_EQ(style.fontWeight, row.weight) << Ascii(row.rule);
        EXPECT_EQ(style.textColor, row.color) << Ascii(row.rule);
        EXPECT_EQ(Ascii(style.fontFace), row.face) << Ascii(row.rule);
    }
    HtmlStyle pre;
    h.drawer.ApplyCssClass(u"PRE", pre);  // look-ups ignore case
    EXPECT_EQ(pre.backMode, 2);
    EXPECT_EQ(pre.backColor, 0xBBEDFBu);
    HtmlStyle comment;
    h.drawer.ApplyCssClass(u".cpp-comment", comment);
    EXPECT_TRUE(comment.italic);
}

TEST(HtmlStyleSheetTest, Parser) {
    Html h;
    h.drawer.SetCssStyles(u"h1, h2 {color:red}\nH3,H4{color:blue}\nBODY {x:1}\n/* note */ td {a:1}\nth {b:2}\n"
                          u"tr {c:3}\ntr {d:4}\nempty {}\ntail {no end");
    EXPECT_EQ(Rule(h.drawer, u"h1,"), "color:red");   // the selector ends at the first blank
    EXPECT_EQ(Rule(h.drawer, u"h1"), "(none)");
    EXPECT_EQ(Rule(h.drawer, u"h3,h4"), "color:blue");
    EXPECT_EQ(Rule(h.drawer, u"body"), "x:1");
    EXPECT_EQ(Rule(h.drawer, u"note"), "a:1");        // a comment's word takes the next rule
    EXPECT_EQ(Rule(h.drawer, u"td"), "(none)");
    EXPECT_EQ(Rule(h.drawer, u"tr"), "d:4");          // the later rule replaces the earlier whole
    EXPECT_EQ(Rule(h.drawer, u"empty"), "(none)");
    EXPECT_EQ(Rule(h.drawer, u"tail"), "(none)");
    h.drawer.SetCssStyles(nullptr);
    EXPECT_EQ(Rule(h.drawer, u"sub"), "font-size:65%; vertical-align:bottom");
}

HtmlStyle Apply(Html& h, const std::u16string& declarations, HtmlStyle style = {}) {
    h.drawer.ApplyCssStyle(declarations, style);
    return style;
}

TEST(HtmlStyleSheetTest, Declarations) {
    Html h;
    EXPECT_EQ(Apply(h, u"font-family: \"Courier\"").fontFace, u"courier");
    EXPECT_EQ(Apply(h, u"color: black ;", HtmlStyle{.textColor = 5}).textColor, 5u);  // "black " names nothing
    HtmlStyle swallowed = Apply(h, u"color:;font-size:20px");
    EXPECT_EQ(swallowed.fontSize, 16);
    EXPECT_EQ(swallowed.textColor, 0u);
    EXPECT_EQ(Apply(h, u"text-align: justify", HtmlStyle{.horzAlign = 2}).horzAlign, 2);
    EXPECT_EQ(Apply(h, u"text-align: RIGHT").horzAlign, 2);  // values are lower-cased too
    HtmlStyle decoration = Apply(h, u"text-decoration: none underline", HtmlStyle{.strikeout = true});
    EXPECT_TRUE(decoration.underline);
    EXPECT_FALSE(decoration.strikeout);
    HtmlStyle both = Apply(h, u"text-decoration: underline,overline");
    EXPECT_TRUE(both.underline && both.overline);
    EXPECT_EQ(Apply(h, u"background-color: transparent", HtmlStyle{.backMode = 2}).backMode, 1);
    EXPECT_EQ(Apply(h, u"background-color:", HtmlStyle{.backMode = 2}).backMode, 1);
    EXPECT_EQ(Apply(h, u"border-width: thick", HtmlStyle{.borderWidth = 4}).borderWidth, 5);
    EXPECT_EQ(Apply(h, u"border-width: thin", HtmlStyle{.borderWidth = 4}).borderWidth, 3);
    HtmlStyle none = Apply(h, u"border-width: 0", HtmlStyle{.borderStyle = 2, .borderWidth = 3});
    EXPECT_EQ(none.borderStyle, 0);
    HtmlStyle solid = Apply(h, u"size: 2");
    EXPECT_EQ(solid.borderStyle, 1);
    EXPECT_EQ(solid.borderWidth, 2);
    HtmlStyle dbl = Apply(h, u"border-style: double");
    EXPECT_EQ(dbl.borderStyle, 6);
    EXPECT_EQ(dbl.borderWidth, 1);
    HtmlStyle colours = Apply(h, u"border-color: red");
    EXPECT_EQ(colours.borderColorDark, 0x0000FFu);
    EXPECT_EQ(Apply(h, u"margin: auto").margin, 0);
    EXPECT_EQ(Apply(h, u"padding: 3px; margin: 1em").padding, 3);
    EXPECT_EQ(Apply(h, u"font-weight: bolder").fontWeight, 900);
    EXPECT_EQ(Apply(h, u"font-weight: 550x").fontWeight, 550);
    EXPECT_EQ(Apply(h, u"font-weight: heavy").fontWeight, 0);
    EXPECT_EQ(Apply(h, u"vertical-align: middle").vertAlign, 1);
    EXPECT_EQ(Apply(h, u"text-transform: capitalize").textTransform, 3);
    EXPECT_TRUE(Apply(h, u"font-style: oblique").italic);
    EXPECT_EQ(Apply(h, u"font-size").fontSize, 16);  // no ":" up to the end: nothing
}

TEST(HtmlStyleSheetTest, Lengths) {
    Html h;
    h.measurer.SetFont(HtmlFont{.height = 20});
    struct Row {
        std::u16string value;
        int current;
        bool fontSize;
        int expected;
    } rows[] = {
        {u"", 7, false, 7},       {u"3", 0, true, 12},      {u"12", 0, true, 12},     {u"0x10", 0, true, 16},
        {u"+2", 0, true, 10},     {u"-2", 0, false, 2},     {u"150%", 16, true, 24},  {u"large", 16, true, 0},
        {u"10pt", 0, false, 13},  {u"14pt", 0, false, 18},  {u"13pt", 0, false, 17},  {u"12pt", 0, false, 16},
        {u"9pt", 0, false, 12},   {u"1in", 0, false, 96},   {u"1cm", 0, false, 37},   {u"10mm", 0, false, 37},
        {u"2pc", 0, false, 32},   {u"5px", 0, false, 5},    {u"2ex", 0, false, 40},   {u"1.5em", 0, false, 0},
        {u"-50%", 10, false, 0},  {u"99999999999", 0, false, htmllimits::kMaxLength},
        {u"7", 0, false, 7},
    };
    for (const Row& row : rows)
        EXPECT_EQ(h.drawer.ParseLength(row.value, row.current, row.fontSize), row.expected) << Ascii(row.value);
}

TEST(HtmlStyleSheetTest, EmUsesTheCurrentFont) {
    Html h;
    h.Prepare(u"x");  // leaves the body font (13 px) selected
    EXPECT_EQ(h.drawer.ParseLength(u"2em", 0, false), 26);
}

TEST(HtmlStyleSheetTest, KeywordReaders) {
    EXPECT_EQ(CHtmlDrawer::ParseHorzAlign(u"", 2), 0);
    EXPECT_EQ(CHtmlDrawer::ParseHorzAlign(u"middle", 2), 2);
    EXPECT_EQ(CHtmlDrawer::ParseVertAlign(u"", 0), 3);
    EXPECT_EQ(CHtmlDrawer::ParseVertAlign(u"vcenter", 0), 1);
    EXPECT_EQ(CHtmlDrawer::ParseBorderStyle(u"dotted", 0), 3);
    EXPECT_EQ(CHtmlDrawer::ParseBorderStyle(u"groove", 2), 2);
    EXPECT_EQ(CHtmlDrawer::ParseFontWeight(u"lighter", 400), 100);
    EXPECT_EQ(CHtmlDrawer::ParseFontWeight(u"", 700), 400);
}

}  // namespace
}  // namespace orvane::test
