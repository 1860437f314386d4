// The code dictionary: names, parameter names, vendor folding and the small
// tables beside it.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "PtpDictionary.h"

using namespace orvane::palvine;

namespace {

std::vector<std::string> Names(std::span<const char* const> names) { return {names.begin(), names.end()}; }

TEST(PtpDictionary, CodeNamesAndVendorFolding)
{
    const std::pair<uint32_t, const char*> cases[] = {
        {0x1002, "OpenSession"},
        {0x9201, "Vendor-Defined Operation (0x9201)"},
        {0x1000, "Vendor-Defined Operation (0x1000)"},
        {0xC001, "Vendor-Defined Event (0xC001)"},
        {0xA00F, "Vendor-Extended Response Code (0xA00F)"},
        {0xD401, "Vendor-Extended Property (0xD401)"},
        {0x101D, ""},
        {0x3000, ""},
        {0x2001, "OK"},
        {0x2008, "Invalid StorageID "},
        {0x2020, "Specification of Destination Unsupported "},
        {0x2021, ""},
        {0x4006, "EV_Device_Prop_Changed"},
        {0x400E, "UnreportedStatus"},
        {0x5007, "F-Number "},
        {0x501F, "CopyrightInfo"},
        {0x5020, ""},
        {0x8000, ""},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(FormatCodeName(code), name) << std::hex << code;
}

TEST(PtpDictionary, ParameterNames)
{
    EXPECT_EQ(Names(GetParamNames(0x1006)), (std::vector<std::string>{"StorageID", "ObjectFormatCode", "ObjectHandle"}));
    EXPECT_EQ(Names(GetResponseParamNames(0x1006)), (std::vector<std::string>{"NumObjects"}));
    EXPECT_TRUE(GetResponseParamNames(0x2001).empty()) << "a response code is no operation";
    EXPECT_TRUE(GetParamNames(0x2001).empty());
    EXPECT_EQ(Names(GetParamNames(0x9801)).size(), 3u) << "vendor operations fold to the vendor entry";
    EXPECT_EQ(Names(GetParamNames(0x9801))[1], "Vendor-Defined Param 2");
    EXPECT_EQ(Names(GetResponseParamNames(0x100C)),
              (std::vector<std::string>{"StorageID", "Parent ObjectHandle", "Reserved ObjectHandle"}));
    EXPECT_EQ(Names(GetParamNames(0x101B))[2], "MaxNumToObtain ");
    EXPECT_EQ(Names(GetParamNames(0x4002)), (std::vector<std::string>{"ObjectHandle"}));
    EXPECT_TRUE(GetParamNames(0x101D).empty());
}

TEST(PtpDictionary, ObjectFormatsAndAssociations)
{
    EXPECT_EQ(ObjectFormatName(0x3801), "EXIF/JPEG");
    EXPECT_EQ(ObjectFormatDescription(0x3801), "Exchangeable File Format, JEIDA standard");
    EXPECT_EQ(ObjectFormatName(0x3806), "Undefined");
    EXPECT_EQ(ObjectFormatDescription(0x3806), "Reserved");
    EXPECT_EQ(ObjectFormatName(0xB001), "Vendor-Defined (0xB001)");
    EXPECT_EQ(ObjectFormatDescription(0xB001), "Vendor-Defined ObjectFormatCodes");
    EXPECT_EQ(ObjectFormatName(0x3100), "Undefined");
    EXPECT_EQ(ObjectFormatDescription(0x3100), "Undefined");
    EXPECT_EQ(ObjectFormatName(0x3001), "Association");
    EXPECT_EQ(ObjectFormatName(0x3810), "JPX");

    EXPECT_EQ(AssociationTypeName(1), "GenericFolder");
    EXPECT_EQ(AssociationDescName(3), "faultPlaybackDelta");
    EXPECT_EQ(AssociationTypeName(9), "Reserved (0009)");
    EXPECT_EQ(AssociationTypeName(0x8001), "Vendor-Defined (8001)");
    EXPECT_EQ(AssociationDescName(0x8001), "Vendor-Defined");
    EXPECT_EQ(AssociationDescName(9), "Undefined");
}

TEST(PtpDictionary, DataTypesDataBlocksAndClassRequests)
{
    EXPECT_EQ(DataTypeName(0x4004), "AUINT16");
    EXPECT_EQ(DataTypeDescription(0x4004), "Array of Unsigned 16 bit integers");
    EXPECT_EQ(*DataTypeSize(0x4004), -2);
    EXPECT_EQ(DataTypeName(11), "Undefined");
    EXPECT_EQ(DataTypeSize(11), nullptr);
    EXPECT_EQ(DataTypeName(0xFFFF), "STR");
    EXPECT_EQ(*DataTypeSize(0xFFFF), 0);
    EXPECT_EQ(*DataTypeSize(10), 16);
    EXPECT_EQ(DataTypeDescription(0x400A), "Array of Unsigned 128 bit integer");

    EXPECT_EQ(DataBlockName(0x1001), "DeviceInfo");
    EXPECT_EQ(DataBlockName(0x100C), "ObjectInfo");
    EXPECT_EQ(DataBlockName(0x1002), "");
    EXPECT_EQ(DataBlockName(0x9001), "Vendor-Defined Data");

    EXPECT_EQ(ClassRequestName(0x64), "Cancel");
    EXPECT_EQ(ClassRequestName(0x67), "GetDeviceStatus");
    EXPECT_EQ(ClassRequestName(0x01), "Undefined");
}

// Every decoder object of the library reads one table; the first look-ups
// may come from several threads at once.
TEST(PtpDictionary, OneTableBuiltOnceForEveryThread)
{
    std::vector<std::thread> threads;
    std::vector<std::string> names(8);
    std::vector<const void*> tables(8);
    for (size_t i = 0; i < names.size(); ++i)
        threads.emplace_back([&names, &tables, i] {
            names[i] = FormatCodeName(0x1009);
            tables[i] = GetParamNames(0x1009).data();
        });
    for (auto& t : threads) t.join();
    for (const std::string& name : names) EXPECT_EQ(name, "GetObject");
    ASSERT_NE(tables[0], nullptr);
    for (const void* table : tables) EXPECT_EQ(table, tables[0]) << "every thread reads the one table";
}

}  // namespace
