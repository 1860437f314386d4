// Find patterns as the dialog reads them, and the search over the data.
#include <gtest/gtest.h>

#include "FindPattern.h"

using namespace orvane::nembrin;
using Bytes = std::vector<uint8_t>;

TEST(FindPattern, TextsAndTheBytesTheySearch)
{
    struct Case {
        std::u16string text;
        int32_t radix;
        PatternKind kind;
        Bytes bytes;
    };
    const Case cases[] = {
        {u"0x1F", RadixAuto, PatternHex, {0x1F}},
        {u"(1F)16", RadixAuto, PatternHex, {0x1F}},
        {u"101b", RadixAuto, PatternBinary, {0x05}},
        {u"(101)2", RadixAuto, PatternBinary, {0x05}},
        {u"1B", RadixAuto, PatternBinary, {0x01}},
        {u"AB", RadixAuto, PatternNone, {}},
        {u"ABC", RadixAuto, PatternHex, {0x0A, 0xBC}},
        {u"100000000b", RadixAuto, PatternBinary, {0x01, 0x00}},
        {u"11111111b", RadixAuto, PatternBinary, {0xFF}},
        {u"ABCD", RadixAuto, PatternHex, {0xAB, 0xCD}},
        {u"\"AB\"", RadixAuto, PatternText, {0x41, 0x00, 0x42, 0x00}},
        {u"  a5  ", RadixAuto, PatternHex, {0xA5}},
        {u"A5", RadixBinary, PatternHex, {0xA5}},
        {u"1010", RadixHex, PatternHex, {0x10, 0x10}},
        {u"1010", RadixBinary, PatternBinary, {0x0A}},
        {u"xyz", RadixText, PatternNone, {}},
        {u"\"", RadixAuto, PatternNone, {}},
        {u"\"\"", RadixText, PatternNone, {}},
        {u"(12)8", RadixAuto, PatternNone, {}},
        {u"()2", RadixAuto, PatternNone, {}},
        {u"(11)", RadixAuto, PatternNone, {}},
        {u"0x", RadixAuto, PatternNone, {}},
        {u"b", RadixAuto, PatternNone, {}},
        {u"\"中\"", RadixText, PatternText, {0x2D, 0x4E}},
    };
    for (const Case& c : cases) {
        Pattern p = InterpretPattern(c.text, c.radix);
        EXPECT_EQ(p.kind, c.kind) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(p.bytes, c.bytes) << std::string(c.text.begin(), c.text.end());
    }
    EXPECT_EQ(TrimSpaces(u"   "), u"");
}

TEST(FindPattern, MatchesDoNotOverlapAndStayInScope)
{
    const Bytes zeros = {0, 0, 0};
    std::vector<BitRange> hits = FindAll(zeros.data(), 0, 3, {0, 0});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].start, 0);
    EXPECT_EQ(hits[0].end, 16);

    const Bytes data = {1, 2, 9, 1, 2, 1, 2};
    hits = FindAll(data.data(), 0, data.size(), {1, 2});
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[1].start, 24);
    EXPECT_EQ(FindAll(data.data(), 1, 5, {1, 2}).size(), 1u) << "only what the scope holds";
    EXPECT_TRUE(FindAll(data.data(), 0, 1, {1, 2}).empty()) << "a pattern longer than the scope";
    EXPECT_TRUE(FindAll(data.data(), 0, data.size(), {}).empty());
}

TEST(FindPattern, SteppingStopsAtEitherEnd)
{
    EXPECT_EQ(StepHit(0, +1, 3), 1);
    EXPECT_EQ(StepHit(2, +1, 3), std::nullopt) << "past the last hit";
    EXPECT_EQ(StepHit(0, -1, 3), std::nullopt) << "before the first";
    EXPECT_EQ(StepHit(1, -1, 3), 0);
    EXPECT_EQ(StepHit(-1, +1, 0), std::nullopt) << "no hits";
}
