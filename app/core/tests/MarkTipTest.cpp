// The bookmark tip's text: the mark's name over its comment, with every "<"
// of either doubled so no name or comment is ever read as markup.
#include <gtest/gtest.h>

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

TEST(MarkTipTest, EscapeDoublesOnlyTheOpeningBracket) {
    EXPECT_EQ(EscapeTipText("a<b>&lt;c"), "a<<b>&lt;c");
    EXPECT_EQ(EscapeTipText(""), "");
}

}  // namespace
