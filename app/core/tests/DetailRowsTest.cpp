// The detail pane's rows: groups, nesting, field ranges in row order, and the
// texts that show nothing.
#include <gtest/gtest.h>

#include <string>

#include "CDetailRows.h"

using orvane::app::CDetailRows;

namespace {

std::string Item(int offset, int bits, const std::string& inner = "") {
    const std::string open = "<item name=\"f" + std::to_string(offset) + "\" value=\"v\" tip=\"t\" offset=\"" +
                             std::to_string(offset) + "\" bits=\"" + std::to_string(bits) + "\"";
    return inner.empty() ? open + "/>" : open + ">" + inner + "</item>";
}

std::string Items(int count, int base) {
    std::string text;
    for (int i = 0; i < count; ++i) text += Item(base + 8 * i, 8);
    return text;
}

}  // namespace

TEST(DetailRows, GroupsHoldTheirFieldsAndRangesFollowRowOrder) {
    CDetailRows rows;
    ASSERT_TRUE(rows.Load("<groups><group name=\"A\">" + Items(3, 0) + "</group><group name=\"B\">" + Items(14, 100) +
                          "</group></groups>"));
    ASSERT_EQ(rows.Groups().size(), 2u);
    EXPECT_EQ(rows.Groups()[0].name, "A");
    EXPECT_EQ(CDetailRows::GridHeight(rows.Groups()[0].fields.size()), 124);
    EXPECT_EQ(CDetailRows::GridHeight(rows.Groups()[1].fields.size()), 355);
    ASSERT_EQ(rows.Ranges().size(), 17u);
    EXPECT_EQ(rows.Ranges()[2], (CDetailRows::Range{16, 8}));
    EXPECT_EQ(rows.Ranges()[3], (CDetailRows::Range{100, 8}));
    EXPECT_EQ(rows.Groups()[1].fields[0].range, 3u);
}

TEST(DetailRows, NestedItemsFollowTheirParent) {
    CDetailRows rows;
    ASSERT_TRUE(rows.Load("<groups><group name=\"G\">" + Item(0, 16, Item(0, 8) + Item(8, 8, Item(9, 1))) +
                          Item(16, 8) + "</group></groups>"));
    const auto& fields = rows.Groups().at(0).fields;
    ASSERT_EQ(fields.size(), 5u);
    const int depths[] = {0, 1, 1, 2, 0}, parents[] = {-1, 0, 0, 2, -1};
    const int64_t offsets[] = {0, 0, 8, 9, 16};
    for (size_t i = 0; i < fields.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fields[i].depth, depths[i]);
        EXPECT_EQ(fields[i].parent, parents[i]);
        EXPECT_EQ(fields[i].range, i);
        EXPECT_EQ(rows.Ranges()[i].offset, offsets[i]);
    }
    EXPECT_EQ(fields[0].tip, "t");
}

TEST(DetailRows, TextsThatShowNothing) {
    const struct {
        const char* text;
        bool loads;
    } cases[] = {
        {"", false},
        {"not xml", false},
        {"<groups>", false},
        {"<devices><group name=\"x\"/></devices>", false},  // a faulty decoder's document
        {"<groups/>", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CDetailRows rows;
        rows.Load("<groups><group name=\"old\">" + Items(2, 0) + "</group></groups>");
        EXPECT_EQ(rows.Load(c.text), c.loads);
        EXPECT_TRUE(rows.Groups().empty());
        EXPECT_TRUE(rows.Ranges().empty());
    }
}

TEST(DetailRows, EmptyGroupAndMissingAttributes) {
    CDetailRows rows;
    ASSERT_TRUE(rows.Load("<groups><group name=\"E\"/><group><item/></group></groups>"));
    ASSERT_EQ(rows.Groups().size(), 2u);
    EXPECT_TRUE(rows.Groups()[0].fields.empty());
    EXPECT_EQ(rows.Groups()[1].name, "");
    EXPECT_EQ(rows.Groups()[1].fields.at(0).name, "");
    EXPECT_EQ(rows.Ranges().at(0), (CDetailRows::Range{0, 0}));
    EXPECT_EQ(rows.RangeAt(1), nullptr);
}

TEST(DetailRows, OffsetsAreSixtyFourBitDecimals) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {
        {"16", 16},
        {"4294967296", 4294967296LL},  // a field beyond 512 MB of data
        {"-8", -8},
        {" 12", 12},
        {"12abc", 12},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"0x10", 0},
        {"99999999999999999999", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(CDetailRows::ReadDecimal(c.text), c.value) << c.text;
}
