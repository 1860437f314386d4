// Field values out of report bytes, the setup packet of class requests, tips
// and the usage names of the fixture list.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "HidFields.h"
#include "HidTestData.h"
#include "HidUsageTable.h"

using namespace orvane;
using namespace orvane::hid;
using namespace orvane::hid::testing;

namespace {

TEST(HidFields, FieldValuesReadAsTheListShowsThem)
{
    struct Row {
        std::vector<uint8_t> data;
        uint32_t offset, bits;
        std::string text;
    } rows[] = {
        {{0x05}, 0, 1, "1"},
        {{0x05}, 1, 1, "0"},
        {{0x05}, 2, 1, "1"},
        {{0xF0}, 4, 4, "15"},
        {{0x80}, 6, 3, "6"},   // crosses into the next byte: the top bit's copies
        {{0xFF}, 0, 8, "-1"},
        {{0x00, 0x7F}, 8, 8, "127"},
        {{0xFF, 0x0F}, 0, 12, "-1"},
        {{0x00, 0xF1, 0x7F}, 12, 12, "2047"},  // offset mod 8 shifts the word by 4
        {{0x00, 0x80}, 0, 16, "-32768"},
        {{0xFE, 0xFF, 0xFF, 0xFF}, 0, 32, "-2"},
        {{0x01, 0, 0, 0x80, 0x12, 0x34, 0x56, 0x78}, 0, 64, "-2147483647"},  // low 32 bits
        {{0x00, 0x00}, 0, 10, "error"},
        {{0x00}, 8, 8, ""},         // past the captured end: no value
        {{0x00}, 0, 16, ""},
        {{1, 2, 3, 4}, 0, 64, ""},
        {{}, 0, 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "offset " << row.offset << " bits " << row.bits);
        EXPECT_EQ(FormatFieldValue(row.data, row.offset, row.bits), row.text);
    }
}

TEST(HidFields, SetupPacketsOfClassRequests)
{
    struct Row {
        std::array<uint8_t, 8> setup;
        std::vector<std::string> values;
    } rows[] = {
        {{0x21, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_IDLE", "Duration = 4 ms", "Interface 0", "0"}},
        {{0x21, 0x0A, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_IDLE", "ReportId = 2 , Duration = 0", "Interface 1", "0"}},
        {{0xA1, 0x01, 0x03, 0x01, 0x00, 0x00, 0x08, 0x00},
         {"Interface", "Class", "Device-to-host", "GET_REPORT", "Input, ReportId = 3", "Interface 0", "8"}},
        {{0x21, 0x09, 0x00, 0x02, 0x00, 0x00, 0x01, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_REPORT", "Output", "Interface 0", "1"}},
        {{0x21, 0x09, 0x00, 0x07, 0x00, 0x00, 0x01, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_REPORT", "Reseved", "Interface 0", "1"}},
        {{0xA1, 0x02, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00},
         {"Interface", "Class", "Device-to-host", "GET_IDLE", "ReportId = 4", "Interface 0", "1"}},
        {{0xA1, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
         {"Interface", "Class", "Device-to-host", "GET_PROTOCOL", "0", "Interface 0", "1"}},
        {{0x21, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_PROTOCOL", "Boot Protocol", "Interface 0", "0"}},
        {{0x21, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Interface", "Class", "Host-to-device", "SET_PROTOCOL", "Report Protocol", "Interface 0", "0"}},
        {{0x45, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Reserved", "Vendor", "Host-to-device", "", "", "Interface 0", "0"}},
    };
    for (const Row& row : rows) {
        const auto fields = DecodeSetupPacket(row.setup);
        ASSERT_EQ(fields.size(), 7u);
        int64_t offset = 0;
        for (size_t i = 0; i < fields.size(); ++i) {
            EXPECT_EQ(fields[i].value, row.values[i]) << fields[i].name;
            EXPECT_EQ(fields[i].bitOffset, offset) << "fields lie end to end";
            offset += fields[i].bits;
        }
        EXPECT_EQ(offset, 64);
        EXPECT_EQ(fields[3].tipKey, "T_bRequest");
    }
}

TEST(HidFields, TipKeysAndTips)
{
    EXPECT_EQ(IdentifierFromName("Usage Page"), "Usage_Page");
    EXPECT_EQ(MakeTipKey(TipDescriptorItem, "End Collection"), "D_End_Collection");
    EXPECT_EQ(MakeTipKey(TipReportValue, "Scroll Lock"), "R_Scroll_Lock");
    EXPECT_EQ(MakeTipKey(TipSetupField, "wValue"), "T_wValue");
    EXPECT_EQ(MakeTipKey(9, "wValue"), "");
    EXPECT_EQ(GetTip("D_Logical_Maximum"), "Logical_Maximum Item");
    EXPECT_EQ(GetTip("R_CapsLock"), "CapsLock LED");
    EXPECT_EQ(TipOf("R_Direction_X", "-3"), "-3") << "no tip: the value";
    EXPECT_STREQ(RequestName(SetIdle), "SetIdle");
    EXPECT_STREQ(RequestName(6), "");
}

TEST(HidUsageTable, NamesComeFromTheUsagePagesOnly)
{
    const CHidUsageTable usages(&FixtureNames());
    EXPECT_EQ(usages.GetUsagePageName(1), "Generic Desktop Controls");
    EXPECT_EQ(usages.GetUsageName(1, 6), "Keyboard");
    EXPECT_EQ(usages.GetUsageName(7, 0xE1), "LeftShift");
    EXPECT_EQ(usages.GetUsageName(0x0C, 0xE9), "Volume Increment");
    EXPECT_EQ(usages.GetUsageName(0x0C, 2), "") << "a line under another section is not a usage";
    EXPECT_EQ(usages.GetUsageName(3, 1), "") << "the class section is not a usage page";
    EXPECT_EQ(usages.GetUsageName(0x42, 1), "");
    EXPECT_EQ(usages.GetUsagePageName(0x42), "");
}

TEST(HidUsageTable, OneLibraryTableServesTwoThreadsAtOnce)
{
    const CHidUsageTable usages;  // the system's list, loaded on first use
    std::string a, b;
    std::thread other([&] {
        for (int i = 0; i < 2000; ++i) a = usages.GetUsageName(1, 2);
    });
    for (int i = 0; i < 2000; ++i) b = usages.GetUsageName(1, 2);
    other.join();
    EXPECT_EQ(a, "Mouse");
    EXPECT_EQ(b, "Mouse");
}

}  // namespace
