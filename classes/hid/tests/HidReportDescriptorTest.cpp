// Report descriptors listed item by item and laid out into reports: the
// standard's boot keyboard and mouse, report IDs, long, truncated and
// hostile items.
#include <gtest/gtest.h>

#include "HidReportDescriptor.h"
#include "HidTestData.h"

using namespace orvane;
using namespace orvane::hid;
using namespace orvane::hid::testing;

namespace {

const std::string kDash = "\xE2\x80\x94";

struct Parsed {
    CHidUsageTable usages{&FixtureNames()};
    CReportDescriptor descriptor{usages};
    bool ok;
    explicit Parsed(const std::vector<uint8_t>& bytes) : ok(descriptor.Parse(bytes)) {}
    std::vector<std::string> Values() const
    {
        std::vector<std::string> values;
        for (const auto& item : descriptor.Items()) values.push_back(item.value);
        return values;
    }
    // "name@offset/bits" of a report's fields.
    std::vector<std::string> Layout(size_t report) const
    {
        std::vector<std::string> out;
        for (const HidField& f : descriptor.Reports().at(report).fields)
            out.push_back(f.name + "@" + std::to_string(f.bitOffset) + "/" + std::to_string(f.bits) + (f.array ? "[]" : ""));
        return out;
    }
};

TEST(HidReportDescriptor, TheBootKeyboardIsListedItemByItem)
{
    const Parsed p(kBootKeyboard);
    ASSERT_TRUE(p.ok);
    const std::vector<std::string> expected = {
        "Usage Page ( Generic Desktop Controls ) ",
        "Usage ( Keyboard ) ",
        "Collection ( Application ) ",
        kDash + "Usage Page ( Keyboard ) ",
        kDash + "Usage Minimum ( LeftControl ) ",
        kDash + "Usage Maximum ( Right GUI ) ",
        kDash + "Logical Minimum ( 0 ) ",
        kDash + "Logical Maximum ( 1 ) ",
        kDash + "Report Size ( 1 ) ",
        kDash + "Report Count ( 8 ) ",
        kDash + "Input ( Data,Variable,Absolute,Bit Field ) ",
        kDash + "Report Count ( 1 ) ",
        kDash + "Report Size ( 8 ) ",
        kDash + "Input ( Constant,Array,Absolute,Bit Field ) ",
        kDash + "Report Count ( 5 ) ",
        kDash + "Report Size ( 1 ) ",
        kDash + "Usage Page ( LEDs ) ",
        kDash + "Usage Minimum ( NumLock ) ",
        kDash + "Usage Maximum ( Kana ) ",
        kDash + "Output ( Data,Variable,Absolute,Non-Volatiled,Bit Field ) ",
        kDash + "Report Count ( 1 ) ",
        kDash + "Report Size ( 3 ) ",
        kDash + "Output ( Constant,Array,Absolute,Non-Volatiled,Bit Field ) ",
        kDash + "Report Count ( 6 ) ",
        kDash + "Report Size ( 8 ) ",
        kDash + "Logical Minimum ( 0 ) ",
        kDash + "Logical Maximum ( 101 ) ",
        kDash + "Usage Page ( Keyboard ) ",
        kDash + "Usage Minimum (  ) ",
        kDash + "Usage Maximum (  ) ",
        kDash + "Input ( Data,Array,Absolute,Bit Field ) ",
        "End Collection",
    };
    EXPECT_EQ(p.Values(), expected);
    const auto& items = p.descriptor.Items();
    EXPECT_EQ(items[0].raw, "05 01");
    EXPECT_EQ(items[0].tipKey, "D_Usage_Page");
    EXPECT_EQ(items[2].bitOffset, 32u);
    EXPECT_EQ(items[2].bits, 16u);
    EXPECT_EQ(items.back().bitOffset, 62u * 8);
    EXPECT_EQ(items.back().bits, 8u);
}

TEST(HidReportDescriptor, TheBootKeyboardLaysOutOneInputAndOneOutputReport)
{
    const Parsed p(kBootKeyboard);
    const auto& reports = p.descriptor.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, uint32_t(KindInput));
    EXPECT_EQ(reports[1].kind, uint32_t(KindOutput));
    const std::vector<std::string> input = {
        "LeftControl@0/1", "LeftShift@1/1", "LeftAlt@2/1", "Left GUI@3/1", "RightControl@4/1", "RightShift@5/1",
        "RightAlt@6/1", "Right GUI@7/1", "(Not Used)@8/8",
        // the key array, joined behind the first input report's 16 bits
        "Keyboard Array@16/8[]", "Keyboard Array@24/8[]", "Keyboard Array@32/8[]", "Keyboard Array@40/8[]",
        "Keyboard Array@48/8[]", "Keyboard Array@56/8[]"};
    EXPECT_EQ(p.Layout(0), input);
    const std::vector<std::string> output = {"NumLock@0/1", "CapsLock@1/1", "Scroll Lock@2/1", "Compose@3/1",
                                             "Kana@4/1", "(Not Used)@5/3"};
    EXPECT_EQ(p.Layout(1), output);
    EXPECT_EQ(reports[0].Bits(), 64u);
    EXPECT_EQ(reports[0].fields[9].usagePage, 7u);
    EXPECT_EQ(reports[1].fields[1].tipKey, "R_CapsLock");
}

TEST(HidReportDescriptor, TheBootMouseNestsACollectionAndNamesUsagesOneByOne)
{
    const Parsed p(kBootMouse);
    ASSERT_TRUE(p.ok);
    const auto values = p.Values();
    EXPECT_EQ(values[2], "Collection ( Application ) ");
    EXPECT_EQ(values[3], kDash + "Usage ( Pointer ) ");
    EXPECT_EQ(values[4], kDash + "Collection ( Physical ) ");
    EXPECT_EQ(values[5], kDash + kDash + "Usage Page ( Buttons ) ");
    EXPECT_EQ(values[19], kDash + kDash + "Logical Minimum ( -127 ) ");
    EXPECT_EQ(values[23], kDash + kDash + "Input ( Data,Variable,Relative,Bit Field ) ");
    EXPECT_EQ(values[24], kDash + "End Collection");
    EXPECT_EQ(values[25], "End Collection");
    ASSERT_EQ(p.descriptor.Reports().size(), 1u);
    const std::vector<std::string> layout = {"Button 1 (Primary)@0/1", "Button 2 (Secondary)@1/1",
                                             "Button 3 (Tertiary)@2/1", "(Not Used)@3/5",
                                             "Direction-X@8/8",        "Direction-Y@16/8"};
    EXPECT_EQ(p.Layout(0), layout);
}

// A main item has exactly Report Count fields whatever its usages name; the
// padding after it must stay where the count puts it.
TEST(HidReportDescriptor, AMainItemHasReportCountFieldsWhateverItsUsages)
{
    const std::vector<std::string> buttons = {"Button 1 (Primary)@0/1", "Button 2 (Secondary)@1/1",
                                              "Button 3 (Tertiary)@2/1", "(Not Used)@3/5"};
    const std::vector<std::string> keys = {"Keyboard Array@0/8[]", "Keyboard Array@8/8[]", "(Not Used)@16/8"};
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<std::string> layout;
    } rows[] = {
        {"variable, range longer by one",
         {0x05, 0x09, 0x19, 0x01, 0x29, 0x04, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x01},
         buttons},
        {"variable, range longer by many",
         {0x05, 0x09, 0x19, 0x01, 0x29, 0x40, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x01},
         buttons},
        {"variable, more usages listed than fields",
         {0x05, 0x09, 0x09, 0x01, 0x09, 0x02, 0x09, 0x03, 0x09, 0x04, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05,
          0x95, 0x01, 0x81, 0x01},
         buttons},
        {"array, range longer by one",
         {0x05, 0x07, 0x19, 0x00, 0x29, 0x02, 0x75, 0x08, 0x95, 0x02, 0x81, 0x00, 0x95, 0x01, 0x81, 0x01},
         keys},
        {"array, range longer by many",
         {0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x75, 0x08, 0x95, 0x02, 0x81, 0x00, 0x95, 0x01, 0x81, 0x01},
         keys},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Parsed p(row.bytes);
        ASSERT_EQ(p.descriptor.Reports().size(), 1u);
        EXPECT_EQ(p.Layout(0), row.layout);
    }
}

TEST(HidReportDescriptor, ItemValueTexts)
{
    struct Row {
        std::vector<uint8_t> bytes;
        std::string value;
    } rows[] = {
        {{0x91, 0x80}, "Output ( Data,Array,Absolute,Volatiled,Bit Field ) "},
        {{0xB2, 0x02, 0x01}, "Feature ( Data,Variable,Absolute,Non-Volatiled,Buffered Bytes ) "},
        {{0x81, 0x7F}, "Input ( Constant,Variable,Relative,Wrap,Non-Linear,No-Preferred,Null-State,Bit Field ) "},
        {{0xA1, 0x85}, "Collection ( Vendor-Defined ) "},
        {{0xA1, 0x07}, "Collection ( Reserved ) "},
        {{0x26, 0xFF, 0xFF}, "Logical Maximum ( -1 ) "},
        {{0x27, 0xFF, 0xFF, 0xFF, 0x7F}, "Logical Maximum ( 2147483647 ) "},
        {{0x05, 0x0C, 0x0A, 0xE9, 0x00}, "Usage ( Volume Increment ) "},  // page 12 names 16-bit usages
        {{0xA4}, "Push"},
        {{0x06, 0x00, 0xFF}, "Usage Page ( -256 ) "},  // only a one-byte page changes the page
    };
    for (const Row& row : rows) {
        const Parsed p(row.bytes);
        ASSERT_FALSE(p.descriptor.Items().empty());
        EXPECT_EQ(p.descriptor.Items().back().value, row.value);
    }
}

TEST(HidReportDescriptor, ReportIdsSplitReportsAndEqualIdsAreJoined)
{
    // Two application collections: report 1 (buttons), report 2 (a wheel),
    // then report 1 again in a third collection.
    const std::vector<uint8_t> bytes = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x95, 0x03,
        0x75, 0x01, 0x81, 0x02, 0xC0,
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x30, 0x95, 0x01, 0x75, 0x08, 0x81, 0x06, 0xC0,
        0x05, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x31, 0x95, 0x02, 0x75, 0x04, 0x81, 0x06, 0xC0,
    };
    const Parsed p(bytes);
    ASSERT_TRUE(p.ok);
    const auto& reports = p.descriptor.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].id, 1u);
    EXPECT_EQ(reports[1].id, 2u);
    const std::vector<std::string> first = {"Button 1 (Primary)@0/1", "Button 2 (Secondary)@1/1",
                                            "Button 3 (Tertiary)@2/1", "Direction-Y@3/4", "Direction-Y@7/4"};
    EXPECT_EQ(p.Layout(0), first) << "the third collection's fields follow the first's";
    EXPECT_EQ(p.Layout(1), std::vector<std::string>{"Direction-X@0/8"});
}

TEST(HidReportDescriptor, GlobalItemsHoldIntoTheNextCollection)
{
    // The second collection names only its usage: page, sizes and report ID
    // are the first's still, so its field joins report 1.
    const Parsed p({0x05, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x30, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0,
                    0xA1, 0x01, 0x09, 0x31, 0x81, 0x02, 0xC0});
    ASSERT_EQ(p.descriptor.Reports().size(), 1u);
    EXPECT_EQ(p.descriptor.Reports()[0].id, 1u);
    EXPECT_EQ(p.Layout(0), (std::vector<std::string>{"Direction-X@0/8", "Direction-Y@8/8"}));
}

TEST(HidReportDescriptor, LongTruncatedAndUnknownItemsStopTheLayout)
{
    // A vendor descriptor with a long item in the middle.
    const std::vector<uint8_t> vendor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xFE, 0x02, 0x10, 0xAA,
                                         0xBB, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0};
    const Parsed longItem(vendor);
    EXPECT_FALSE(longItem.ok);
    EXPECT_EQ(longItem.descriptor.Items().size(), 3u) << "the items before the long item stay listed";
    EXPECT_TRUE(longItem.descriptor.Reports().empty());

    const Parsed reserved({0x05, 0x01, 0xF0});
    EXPECT_FALSE(reserved.ok);
    EXPECT_EQ(reserved.descriptor.Items().size(), 1u);

    std::vector<uint8_t> cut(kBootMouse.begin(), kBootMouse.end() - 2);
    cut.push_back(0x27);
    cut.push_back(0x01);  // a four-byte item with one byte left
    const Parsed truncated(cut);
    EXPECT_FALSE(truncated.ok);
    EXPECT_EQ(truncated.descriptor.Items().size(), 24u) << "the cut item is left out";

    const Parsed none({});
    EXPECT_FALSE(none.ok);
    EXPECT_TRUE(none.descriptor.Empty());
}

TEST(HidReportDescriptor, HostileCountsAndRangesStayBounded)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t fields;
    } rows[] = {
        {"count 0xFFFFFFFF of 1 bit",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x01, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0}, kMaxLayoutFields},
        {"usages 0..0xFFFF",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x01, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x19, 0x00, 0x2A, 0xFF, 0xFF, 0x81, 0x02,
          0xC0},
         kMaxLayoutFields},
        {"maximum below minimum",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x01, 0x95, 0x04, 0x1B, 0xFF, 0xFF, 0xFF, 0x7F, 0x2B, 0x00, 0x00, 0x00, 0x80,
          0x81, 0x02, 0xC0},
         4},
        {"count 0xFFFF of 8 bits",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02, 0xC0}, 0xFFFF / 8},
        {"report size past 16 bits",
         {0xA1, 0x01, 0x77, 0x00, 0x00, 0x01, 0x00, 0x95, 0x02, 0x81, 0x02, 0xC0}, 0},
        {"report size 0", {0xA1, 0x01, 0x75, 0x00, 0x95, 0x10, 0x81, 0x02, 0xC0}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Parsed p(row.bytes);
        ASSERT_EQ(p.descriptor.Reports().size(), 1u);
        const HidReport& report = p.descriptor.Reports()[0];
        EXPECT_EQ(report.fields.size(), row.fields);
        EXPECT_LE(report.Bits(), kMaxReportBits);
    }
}

TEST(HidReportDescriptor, UnbalancedCollectionsNeverGoBelowTheOuterLevel)
{
    const Parsed p({0xC0, 0xC0, 0x05, 0x01, 0xA1, 0x01, 0x05, 0x09, 0xC0, 0xA4, 0xB4});
    ASSERT_TRUE(p.ok);
    const auto values = p.Values();
    EXPECT_EQ(values[2], "Usage Page ( Generic Desktop Controls ) ");
    EXPECT_EQ(values[4], kDash + "Usage Page ( Buttons ) ");
    EXPECT_EQ(values[6], "Push") << "Push and Pop are listed and change nothing";
}

TEST(HidReportDescriptor, ADescriptorOverOneKilobyteIsListedWhole)
{
    std::vector<uint8_t> bytes = {0x05, 0x01, 0xA1, 0x01};
    while (bytes.size() < 1500) bytes.insert(bytes.end(), {0x09, 0x30, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02});
    bytes.push_back(0xC0);
    const Parsed p(bytes);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.descriptor.Items().back().bitOffset, uint32_t(bytes.size() - 1) * 8);
    ASSERT_EQ(p.descriptor.Reports().size(), 1u);
    EXPECT_EQ(p.descriptor.Reports()[0].fields.size(), (bytes.size() - 5) / 8);
}

}  // namespace
