// The bookmark tip's text: the mark's name over its comment, escaped so no
// name or comment is ever read as markup, and what the tooltip's own text
// engine draws of it: the name and comment as typed.
#include <gtest/gtest.h>

#include "HtmlTestKit.h"
#include "MarkTip.h"

using namespace orvane::app;

namespace {

TEST(MarkTipTest, TextOfAMark) {
    struct Case {
        const char* name;
        const char* comment;
        const char* tip;
    };
    const Case cases[] = {
        {"", "", ""},
        {"IN", "", "  IN<br><hr color=blue><font color=blue><br></font>"},
        {"", "note", "    <br><hr color=blue><font color=blue><br>note</font>"},
        {"标签", "注释", "  标签<br><hr color=blue><font color=blue><br>注释</font>"},
        {"SETUP", "a<b", "SETUP<br><hr color=blue><font color=blue><br>a<<b</font>"},
        {"<a href=\"x\">", "</font><font color=red>",
         "<<a href=\"x\"><br><hr color=blue><font color=blue><br><</font><<font color=red></font>"},
        {"<", "<<", "  <<<br><hr color=blue><font color=blue><br><<<<</font>"},
    };
    for (const Case& k : cases) EXPECT_EQ(MarkTipText({0, k.name, k.comment}), k.tip) << k.name;
}

TEST(MarkTipTest, EscapeDoublesTheOpeningBracketAndBreaksEveryEntity) {
    EXPECT_EQ(EscapeTipText("a<b>&lt;c"), "a<<b>&\rlt;c");
    EXPECT_EQ(EscapeTipText(""), "");
}

// The texts the engine draws, joined, from an ASCII tip.
std::string Drawn(const std::string& tip) {
    orvane::test::Html html;
    std::string shown;
    for (const std::string& call : html.Render(std::u16string(tip.begin(), tip.end()))) {
        if (call.rfind("text ", 0) != 0) continue;
        const size_t open = call.find('\'');
        shown += call.substr(open + 1, call.rfind('\'') - open - 1);
    }
    return shown;
}

TEST(MarkTipTest, TheTipShowsNamesAndCommentsAsTyped) {
    struct Case {
        const char* name;
        const char* comment;
    };
    const Case cases[] = {
        {"a&amp;b", "&lt;c&gt; &quot;d&quot;"},
        {"&lt;", "&amp;lt; &amp;amp;"},
        {"&", "&&;"},
        {"<b>x</b>", "<a href=\"x\">&nbsp;"},
        {"&copy;&reg;&trade;&euro;&pound;&para;&bull;&iquest;", "a<<b &nbsp; c"},
    };
    for (const Case& k : cases) {
        const std::string name = k.name;
        const std::string padded = std::string(name.size() < 4 ? 4 - name.size() : 0, ' ') + name;
        EXPECT_EQ(Drawn(MarkTipText({0, k.name, k.comment})), padded + k.comment) << k.name;
    }
}

}  // namespace
