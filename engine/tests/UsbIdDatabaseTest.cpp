#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "CUsbIdDatabase.h"

using orvane::CUsbIdDatabase;

namespace {

const CUsbIdDatabase& Fixture()
{
    static const CUsbIdDatabase ids = CUsbIdDatabase::FromFile(ORVANE_SOURCE_DIR "/engine/tests/data/usb.ids");
    return ids;
}

// Vendors, products, classes and languages are read through the descriptor tests.
TEST(UsbIdDatabase, FixtureNamesEverySectionItReads)
{
    const auto& ids = Fixture();
    struct Case { std::string got, want; };
    const Case cases[] = {
        {ids.GetProductName(0x2341, 0x8036), "Leonardo (CDC ACM, HID)"},
        {ids.GetProtocolName(3, 1, 9), "9"},
        {ids.GetProtocolName(3, 1, 0), "(none)"},
        {ids.GetProtocolName(3, -1, 2), "(none)"},
        {ids.GetSubClassName(3, -1), "(none)"},
        {ids.GetDialectName(9, 2), "UK"},
        {ids.GetDialectName(7, 1), "German"},
        {ids.GetClassName(0x42), ""},
        {ids.GetProductName(0x046D, 0x1234), ""},
        {ids.Lookup(CUsbIdDatabase::SectionAudioTerminal, 1, 0x0101), "USB Streaming"},
        {ids.Lookup(CUsbIdDatabase::SectionHidDescriptor, 1, 0x21), "HID"},
        {ids.Lookup(CUsbIdDatabase::SectionHidItem, 1, 0x04), "Usage Page"},
        {ids.Lookup(CUsbIdDatabase::SectionBias, 1, 0), "Not Applicable"},
        {ids.Lookup(CUsbIdDatabase::SectionPhysical, 1, 0), "None"},
        {ids.Lookup(CUsbIdDatabase::SectionHidUsage, 2, 1, 2), "Mouse"},
        {ids.Lookup(CUsbIdDatabase::SectionCountry, 1, 0), "Not Supported"},
        {ids.Lookup(CUsbIdDatabase::SectionVideoTerminal, 1, 0x0100), "USB Specific"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    // Headers are not vendors: "HUT 01" must not have become vendor 0x01.
    EXPECT_EQ(ids.GetVendorName(0x01), "");
}

TEST(UsbIdDatabase, MissesLeaveTheTableAlone)
{
    const auto& ids = Fixture();
    const size_t before = ids.Size();
    for (int code = 0; code < 300; ++code) {
        ids.GetVendorName(code);
        ids.GetProtocolName(code, code, code);
        ids.GetDialectName(code, 5);
    }
    EXPECT_EQ(ids.Size(), before);
}

TEST(UsbIdDatabase, MalformedLinesAreSkippedNotMisread)
{
    const CUsbIdDatabase ids(
        "\t0001  orphan before any header\n"
        "\t\t01  orphan third level\n"
        "abcd  Vendor\r\n"
        "\t\t05  third level with no second\n"
        "\t0002  Product\r\n"
        "\t0003\n"                 // no blank: empty name
        "\t0004 \n"                // a blank at the very end
        "C\n"                      // a header with no code
        "\t01  under a broken header\n"
        "L 0009  English\n"
        "\tzz  not hex\n"
        "\t01  US\n"
        "# 1234  a comment\n"
        "\n"
        "abcd  Vendor renamed\n"
        "12345  Wide code keeps 16 bits\n"
        "1111  Soci\xE9t\xE9\n"             // Latin-1 comes out as UTF-8,
        "2222  Soci\xC3\xA9t\xC3\xA9\n");  // UTF-8 stays as it is
    EXPECT_EQ(ids.GetVendorName(0x1111), "Soci\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ids.GetVendorName(0x2222), "Soci\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ids.GetVendorName(0xABCD), "Vendor renamed");
    EXPECT_EQ(ids.GetProductName(0xABCD, 2), "Product");
    EXPECT_EQ(ids.GetProductName(0xABCD, 3), "");
    EXPECT_EQ(ids.GetProductName(0xABCD, 4), "");
    EXPECT_EQ(ids.Lookup(CUsbIdDatabase::SectionVendor, 3, 0xABCD, 0, 5), "");
    EXPECT_EQ(ids.GetSubClassName(0, 1), "");
    EXPECT_EQ(ids.GetDialectName(9, 1), "US");
    EXPECT_EQ(ids.GetVendorName(0x1234), "");
    EXPECT_EQ(ids.GetVendorName(0x2345), "Wide code keeps 16 bits");
}

TEST(UsbIdDatabase, MissingFileGivesOnlyTheFixedTexts)
{
    const auto ids = CUsbIdDatabase::FromFile("/nonexistent/usb.ids");
    EXPECT_EQ(ids.Size(), 0u);
    EXPECT_EQ(ids.GetVendorName(0x046D), "");
    EXPECT_EQ(ids.GetSubClassName(0, 0), "(defined at interface level)");
    EXPECT_EQ(ids.GetProtocolName(3, 1, 2), "2");
}

TEST(UsbIdDatabase, SystemListLoadsOnceAndAnswersFromManyThreads)
{
    if (!std::filesystem::exists(CUsbIdDatabase::DefaultPath())) GTEST_SKIP() << "no system usb.ids";
    const auto& ids = CUsbIdDatabase::Instance();
    EXPECT_EQ(&ids, &CUsbIdDatabase::Instance());
    EXPECT_GT(ids.Size(), 10000u);
    EXPECT_EQ(ids.GetClassName(9), "Hub");
    EXPECT_EQ(ids.GetLanguageName(9), "English");
    EXPECT_FALSE(ids.GetVendorName(0x046D).empty());

    const size_t before = ids.Size();
    std::vector<std::thread> threads;
    std::vector<int> found(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int v = 0; v < 0x10000; v += 7) found[t] += !ids.GetVendorName(v).empty();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 1; t < 8; ++t) EXPECT_EQ(found[t], found[0]);
    EXPECT_EQ(ids.Size(), before);
}

}  // namespace
