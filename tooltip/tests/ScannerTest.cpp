// The scanner: runs and tags, "<<", unclosed tags, attributes and values.
#include <gtest/gtest.h>

#include "HtmlScanner.h"
#include "HtmlTestKit.h"

namespace orvane::test {
namespace {

// The text as runs and tags: "run|<tag>|run...".
std::string Scan(const std::u16string& text) {
    HtmlScanner scanner(text);
    std::string out;
    size_t pos = 0;
    std::u16string tag;
    while (pos < text.size()) {
        std::u16string run = scanner.ReadTextRun(tag, pos);
        if (!run.empty()) out += "[" + Ascii(run) + "]";
        if (!tag.empty()) out += "<" + Ascii(tag) + ">";
        EXPECT_LE(pos, text.size());
    }
    return out;
}

TEST(HtmlScannerTest, RunsAndTags) {
    struct Row {
        std::u16string text;
        std::string expected;
    } rows[] = {
        {u"plain", "[plain]"},
        {u"a<b>c</b>", "[a]<b>[c]</b>"},
        {u"a<<b", "[a<][b]"},          // a doubled "<" is one literal "<"
        {u"<<table>", "[<][table>]"},
        {u"ends in <", "[ends in <]"},  // a final "<" is text
        {u"a<b c", "[a][b c]"},         // no ">": the "<" is dropped, the rest is text
        {u"a<>b", "[a][>b]"},           // ">" right behind: dropped the same way
        {u"<font color=red size=3>x", "<font color=red size=3>[x]"},
        {u"<a href='x>y'>", "<a href='x>[y'>]"},  // the tag ends at the first ">"
        {u"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(Scan(row.text), row.expected) << Ascii(row.text);
}

TEST(HtmlScannerTest, SplitTag) {
    struct Row {
        std::u16string tag;
        std::string name;
        std::string attrs;
    } rows[] = {
        {u"font  size=3", "font", "size=3"},
        {u"br=3", "br", "=3"},   // the "=" stays; the line-break count drops it
        {u"br 3", "br", "3"},
        {u"hr", "hr", ""},
        {u"/b", "/b", ""},
    };
    for (const Row& row : rows) {
        std::u16string tag = row.tag;
        std::u16string attrs = HtmlScanner::SplitTag(tag);
        EXPECT_EQ(Ascii(tag), row.name);
        EXPECT_EQ(Ascii(attrs), row.attrs);
    }
}

std::string Attributes(const std::u16string& attrs) {
    std::string out;
    size_t pos = 0;
    std::u16string name;
    while (pos < attrs.size()) {
        std::u16string value = HtmlScanner::ReadAttribute(attrs, pos, name);
        if (name.empty()) break;
        out += Ascii(name) + "=" + Ascii(value) + ";";
    }
    return out;
}

TEST(HtmlScannerTest, Attributes) {
    struct Row {
        std::u16string attrs;
        std::string expected;
    } rows[] = {
        {u"a=1 b=2", "a=1;b=2;"},
        {u"a = 'x \"y\" z' b", "a=x \"y\" z;b=;"},
        {u"a=\"it's here\"", "a=it's here;"},
        {u"a=1 2", "a=1;2=;"},        // an unquoted value ends at the first blank
        {u"flag size=3", "flag=;size=3;"},
        {u",-x=1 _y=2", "x=1;y=2;"},  // names start at a letter, digit or "."
        {u"a='open", "a=open;"},
        {u"   ", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(Attributes(row.attrs), row.expected) << Ascii(row.attrs);
}

TEST(HtmlScannerTest, PropertyValues) {
    struct Row {
        std::u16string text;
        std::string value;
        size_t pos;
    } rows[] = {
        {u" : red; x", "red", 6},
        {u":\"Courier\";", "Courier", 10},
        {u":\"open", "", 6},       // an unclosed quote reads as empty
        {u" red", "", 1},          // no ":"
        {u":;font-size:20px", "font-size:20px", 16},
        {u":black ;", "black ", 7},
    };
    for (const Row& row : rows) {
        size_t pos = 0;
        EXPECT_EQ(Ascii(HtmlScanner::ReadPropertyValue(row.text, pos, u";")), row.value) << Ascii(row.text);
        EXPECT_EQ(pos, row.pos) << Ascii(row.text);
    }
}

TEST(HtmlScannerTest, SearchTagSkipsDoubledLessThan) {
    std::u16string text = u"x<<table <table>";
    HtmlScanner scanner(text);
    size_t pos = 0;
    EXPECT_TRUE(scanner.SearchTag(pos, u"table"));
    EXPECT_EQ(pos, 9u);
    pos = 10;
    EXPECT_FALSE(scanner.SearchTag(pos, u"table"));
    EXPECT_EQ(pos, text.size());
    pos = 1000;  // positions past the end are clamped
    EXPECT_FALSE(scanner.SearchTag(pos, u"table"));
    EXPECT_EQ(pos, text.size());
}

TEST(HtmlScannerTest, RememberedSearchesAgreeWithPlainOnes) {
    std::u16string text = u"<tr><td>a</td><td>b</td></tr><tr><td>c</td></tr>";
    HtmlScanner scanner(text);
    // Forward, backward and repeated queries give what a fresh search gives.
    for (size_t from : {0u, 5u, 30u, 2u, 2u, 40u, 0u, 49u, 12u}) {
        for (std::u16string_view needle : {u"<td", u"</tr", u"<tr", u"x"}) {
            size_t expected = text.find(needle, from);
            if (expected == std::u16string::npos) expected = text.size();
            EXPECT_EQ(scanner.Find(needle, from), expected) << from;
        }
    }
}

}  // namespace
}  // namespace orvane::test
