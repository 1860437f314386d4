// The container, dataset and class-request walkers and the value formatters,
// on the standard's own bytes and on datasets cut at every byte.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "PtpWalkers.h"
#include "PtpWire.h"

using namespace orvane;
using namespace orvane::palvine;
namespace ptp = orvane::emu::ptp;
using Bytes = std::vector<uint8_t>;

namespace {

std::vector<FieldRecord> Walk(IEnumerable& walker, const Bytes& bytes, uint32_t captured = 0)
{
    walker.SetData(bytes.data(), uint32_t(bytes.size()));
    if (captured)
        if (auto* container = dynamic_cast<CContainerWalker*>(&walker)) container->SetCapturedCount(captured);
    std::vector<FieldRecord> fields;
    walker.Enumerate(fields);
    return fields;
}

const FieldRecord* Find(const std::vector<FieldRecord>& fields, const std::string& name)
{
    for (const FieldRecord& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

std::string Value(const std::vector<FieldRecord>& fields, const std::string& name)
{
    const FieldRecord* f = Find(fields, name);
    return f ? f->value : "<missing " + name + ">";
}

std::vector<std::string> NamesOf(const std::vector<FieldRecord>& fields)
{
    std::vector<std::string> names;
    for (const FieldRecord& f : fields) names.push_back(f.name);
    return names;
}

uint64_t TotalBits(const std::vector<FieldRecord>& fields)
{
    uint64_t bits = 0;
    for (const FieldRecord& f : fields) bits += f.bits;
    return bits;
}

// ---------------------------------------------------------------- containers

TEST(PtpContainers, OpenSessionAndItsResponseFromTheStandardsBytes)
{
    CONTAINER_STRUCTURE_imp command;
    const auto fields = Walk(command, {0x10, 0, 0, 0, 0x01, 0x00, 0x02, 0x10, 0, 0, 0, 0, 0x01, 0, 0, 0});
    EXPECT_EQ(NamesOf(fields), (std::vector<std::string>{"Container Length", "Container Type", "OperationCode",
                                                          "TransactionID", "SessionID"}));
    EXPECT_EQ(Value(fields, "Container Length"), "16");
    EXPECT_EQ(Value(fields, "Container Type"), "Command Block");
    EXPECT_EQ(Value(fields, "OperationCode"), "OpenSession");
    EXPECT_EQ(Value(fields, "TransactionID"), "0");
    EXPECT_EQ(Value(fields, "SessionID"), "0x00000001");
    EXPECT_EQ(TotalBits(fields), 128u);
    std::string title;
    command.GetName(title);
    EXPECT_EQ(title, "Still Image Command");

    CONTAINER_STRUCTURER_RES_imp response(0x1002);
    const auto ok = Walk(response, {0x0C, 0, 0, 0, 0x03, 0x00, 0x01, 0x20, 0, 0, 0, 0});
    EXPECT_EQ(NamesOf(ok), (std::vector<std::string>{"Container Length", "Container Type", "ResponseCode",
                                                     "TransactionID"}))
        << "12 bytes: no parameters, no LastParamter";
    EXPECT_EQ(Value(ok, "Container Type"), "Response Block");
    EXPECT_EQ(Value(ok, "ResponseCode"), "OK");
}

TEST(PtpContainers, ParametersNamedByCodeAndByTheRememberedOperation)
{
    CONTAINER_STRUCTURE_imp command;
    const auto handles = Walk(command, ptp::Container(ptp::Command, 0x1007, 5, {0xFFFFFFFF, 0, 0}));
    EXPECT_EQ(Value(handles, "StorageID"), "0xFFFFFFFF");
    EXPECT_TRUE(Find(handles, "ObjectFormatCode") && Find(handles, "ObjectHandle"));
    EXPECT_EQ(Find(handles, "ObjectHandle")->tip, "The paramter");

    const auto vendor = Walk(command, ptp::Container(ptp::Command, 0x9801, 6, {1, 2}));
    EXPECT_EQ(Value(vendor, "OperationCode"), "Vendor-Defined Operation (0x9801)");
    EXPECT_EQ(Value(vendor, "Vendor-Defined Param 1"), "0x00000001");
    EXPECT_EQ(Value(vendor, "Vendor-Defined Param 2"), "0x00000002");
    EXPECT_FALSE(Find(vendor, "LastParamter"));

    // The response to GetNumObjects names its parameter by that operation.
    CONTAINER_STRUCTURER_RES_imp numObjects(0x1006);
    EXPECT_EQ(Value(Walk(numObjects, ptp::Container(ptp::Response, 0x2001, 7, {42})), "NumObjects"), "0x0000002A");
    CONTAINER_STRUCTURER_RES_imp unknown(0);
    const auto unnamed = Walk(unknown, ptp::Container(ptp::Response, 0x2001, 7, {42}));
    EXPECT_EQ(Value(unnamed, "LastParamter"), "4 bytes") << "a parameter without a name is left over";

    CONTAINER_STRUCTURER_EVENT_imp event;
    const auto added = Walk(event, ptp::Container(ptp::Event, 0x4002, 0, {0x21}));
    EXPECT_EQ(Value(added, "EventCode"), "ObjectAdded");
    EXPECT_EQ(Value(added, "ObjectHandle"), "0x00000021");
}

TEST(PtpContainers, ShortAndOddContainers)
{
    CONTAINER_STRUCTURE_imp command;
    Bytes fourteen = ptp::Container(ptp::Command, 0x1001, 1);
    fourteen.resize(14, 0xAB);
    const auto odd = Walk(command, fourteen);
    ASSERT_TRUE(Find(odd, "LastParamter"));
    EXPECT_EQ(Find(odd, "LastParamter")->value, "2 bytes");
    EXPECT_EQ(Find(odd, "LastParamter")->bits, 16u);
    EXPECT_EQ(Find(odd, "LastParamter")->tip, "The last paramter");

    // Header fields past the bytes read "Not available"; nothing goes negative.
    const Bytes head = {0x10, 0, 0, 0, 0x01, 0x00, 0x02};
    for (size_t n = 0; n <= head.size(); ++n) {
        SCOPED_TRACE(n);
        const auto fields = Walk(command, Bytes(head.begin(), head.begin() + long(n)));
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(fields[0].value == "Not available", n < 4);
        EXPECT_EQ(fields[1].value == "Not available", n < 6);
        EXPECT_EQ(fields[2].value, "Not available");
        EXPECT_EQ(fields[2].name, "OperationCode");
        EXPECT_EQ(fields[3].value, "Not available");
    }

    // The count of the whole container names the bytes left over, however
    // few of them were fetched.
    const auto big = Walk(command, ptp::Container(ptp::Command, 0x1009, 3, {0x21}), 1000);
    EXPECT_EQ(Value(big, "ObjectHandle"), "0x00000021");
    EXPECT_EQ(Value(big, "LastParamter"), "984 bytes");
    EXPECT_EQ(Find(big, "LastParamter")->bits, 984u * 8);

    // A damaged type names no code field; the walker's own name stands.
    const auto damaged = Walk(command, {0x0C, 0, 0, 0, 0x09, 0x00, 0x01, 0x10, 0, 0, 0, 0});
    EXPECT_EQ(damaged[1].value, "");
    EXPECT_EQ(damaged[2].name, "OperationCode");
}

TEST(PtpContainers, DataHeaderAndItsPayloadField)
{
    DEVICE_INFO_HEAD_imp head(1000);
    const auto fields = Walk(head, ptp::Container(ptp::Data, 0x1009, 9));
    EXPECT_EQ(NamesOf(fields), (std::vector<std::string>{"Container Length", "Container Type", "OperationCode",
                                                         "TransactionID", "Payload"}));
    EXPECT_EQ(Value(fields, "Container Type"), "Data Block");
    EXPECT_EQ(Value(fields, "Payload"), "DataObject");
    EXPECT_EQ(Find(fields, "Payload")->bits, 0u) << "Length 12 says no dataset";
    EXPECT_EQ(Find(fields, "Payload")->tip, "DataSet");

    // Length 0xFFFFFFFF (an object over 4 GB) stands for the phase's bytes;
    // sizes are clamped where a width cannot hold them.
    Bytes unknown = {0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0x09, 0x10, 0, 0, 0, 0};
    DEVICE_INFO_HEAD_imp phase(1000);
    EXPECT_EQ(Find(Walk(phase, unknown), "Payload")->bits, 988u * 8);
    DEVICE_INFO_HEAD_imp huge(uint64_t(5) << 30);
    EXPECT_EQ(Find(Walk(huge, unknown), "Payload")->bits, 0xFFFFFFFFu);
    EXPECT_TRUE(Walk(phase, Bytes(11, 0)).empty()) << "no header, no fields";
}

// ---------------------------------------------------------------- formatters

TEST(PtpFormatters, ByteSizesTypedValuesAndModes)
{
    const std::pair<uint64_t, const char*> sizes[] = {
        {0, "0 bytes"}, {1023, "1023 bytes"}, {1024, "1.00 KB(1024 bytes)"}, {1536, "1.50 KB(1536 bytes)"},
        {0x100000, "1.00 MB(1048576 bytes)"}, {0x40000000, "1.00 GB(1073741824 bytes)"},
        {uint64_t(8) << 30, "8.00 GB(8589934592 bytes)"}};
    for (const auto& [n, text] : sizes) EXPECT_EQ(FormatPtpByteSize(n), text);

    const Bytes le = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    uint64_t value = 0;
    EXPECT_EQ(FormatTypedValue(1, le), "0x01");
    EXPECT_EQ(FormatTypedValue(0x4004, le), "0x0201");
    EXPECT_EQ(FormatTypedValue(6, le, &value), "0x04030201");
    EXPECT_EQ(value, 0x04030201u);
    EXPECT_EQ(FormatTypedValue(8, le), "0x0807060504030201");
    EXPECT_EQ(FormatTypedValue(10, le, &value), "0x100F0E0D0C0B0A090807060504030201");
    EXPECT_EQ(value, 0x0807060504030201u);
    EXPECT_EQ(FormatTypedValue(11, le), "");
    EXPECT_EQ(FormatTypedValue(6, Bytes{1, 2}), "") << "fewer bytes than the type";
    EXPECT_EQ(FormatTypedValue(0xFFFF, Bytes{3, 'O', 0, 'K', 0, 0, 0}), "OK");

    EXPECT_EQ(FunctionalModeName(0), "Standard Mode");
    EXPECT_EQ(FunctionalModeName(1), "Sleep State");
    EXPECT_EQ(FunctionalModeName(0x8001), "Vendor-Defined (0x8001)");
    EXPECT_EQ(FunctionalModeName(2), "0x0002");
}

TEST(PtpFormatters, DeviceStringsBecomeValidXmlText)
{
    auto units = [](std::initializer_list<uint16_t> u) {
        Bytes b;
        for (uint16_t v : u) ptp::Put16(b, v);
        return b;
    };
    EXPECT_EQ(ReadPtpString(units({'A', 0x01, 'B'})), "A\xEF\xBF\xBD" "B") << "a control character";
    EXPECT_EQ(ReadPtpString(units({0xD800, 'x'})), "\xEF\xBF\xBDx") << "a lone surrogate";
    EXPECT_EQ(ReadPtpString(units({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80") << "a pair is one character";
    EXPECT_EQ(ReadPtpString(units({0xFFFF})), "\xEF\xBF\xBD");
    EXPECT_EQ(ReadPtpString(units({'a', 0, 'b'})), "a") << "cut at the first 0";
    EXPECT_EQ(ReadPtpString(units({0x4E2D, 0x6587})), "\xE4\xB8\xAD\xE6\x96\x87");
}

// ---------------------------------------------------------------- datasets

Bytes DeviceInfoBytes()
{
    Bytes d;
    ptp::Put16(d, 100);
    ptp::Put32(d, 6);
    ptp::Put16(d, 110);
    ptp::PutString(d, "ext");
    ptp::Put16(d, 0x8001);
    ptp::PutArray16(d, {0x1001, 0x9201});
    ptp::PutArray16(d, {0x4002});
    ptp::PutArray16(d, {0x5001});
    ptp::PutArray16(d, {});
    ptp::PutArray16(d, {0x3801, 0x3808});
    for (const char* s : {"Maker", "Model", "1.0", ""}) ptp::PutString(d, s);
    return d;
}

Bytes StorageInfoBytes()
{
    Bytes s;
    ptp::Put16(s, 4);
    ptp::Put16(s, 0x8003);
    ptp::Put16(s, 7);
    ptp::Put64(s, 1536);
    ptp::Put64(s, 1023);
    ptp::Put32(s, 0xFFFFFFFF);
    ptp::PutString(s, "Card");
    ptp::PutString(s, "");
    return s;
}

Bytes ObjectInfoBytes()
{
    Bytes o;
    ptp::Put32(o, 0x00010001);
    ptp::Put16(o, 0x3801);
    ptp::Put16(o, 1);
    ptp::Put32(o, 300 * 1024);
    ptp::Put16(o, 0x3808);
    ptp::Put32(o, 5120);
    for (uint32_t v : {160u, 120u, 4000u, 3000u, 24u, 0u}) ptp::Put32(o, v);
    ptp::Put16(o, 6);
    ptp::Put32(o, 4);
    ptp::Put32(o, 9);
    for (const char* s : {"IMG_0001.JPG", "20261209T121000", "", "k"}) ptp::PutString(o, s);
    return o;
}

// DevicePropDesc of BatteryLevel (UINT8) in the range form, and of
// WhiteBalance (UINT16) in the enumeration form.
Bytes RangeDesc()
{
    return {0x01, 0x50, 0x02, 0x00, 0x00, 100, 80, 0x01, 0, 100, 10};
}
Bytes EnumerationDesc()
{
    Bytes d = {0x05, 0x50, 0x04, 0x00, 0x01, 0x02, 0x00, 0x04, 0x00, 0x02, 0x03, 0x00};
    for (uint16_t v : {1, 2, 4}) ptp::Put16(d, v);
    return d;
}

TEST(PtpDatasets, DeviceInfo)
{
    DEVICE_INFO_DATASET_imp walker;
    const auto f = Walk(walker, DeviceInfoBytes());
    EXPECT_EQ(Value(f, "StandardVersion"), "1.00");
    EXPECT_EQ(Value(f, "VendorExtensionID"), "0x00000006");
    EXPECT_EQ(Value(f, "VendorExtensionVersion"), "1.10");
    EXPECT_EQ(Value(f, "VendorExtensionDesc.NumChars"), "4");
    EXPECT_EQ(Value(f, "VendorExtensionDesc.StringChars"), "ext");
    EXPECT_EQ(Find(f, "VendorExtensionDesc.StringChars")->bits, 64u);
    EXPECT_EQ(Value(f, "FunctionalMode"), "Vendor-Defined (0x8001)");
    EXPECT_EQ(Value(f, "OperationsSupported.NumElements"), "2");
    EXPECT_EQ(Value(f, "OperationsSupported[1]"), "Vendor-Defined Operation (0x9201)");
    EXPECT_EQ(Value(f, "EventsSupported[0]"), "ObjectAdded");
    EXPECT_EQ(Value(f, "DevicePropertiesSupported[0]"), "BatteryLevel");
    EXPECT_EQ(Value(f, "CaptureFormats. NumElements"), "0");
    EXPECT_EQ(Value(f, "ImageFormats[1]"), "JFIF");
    EXPECT_EQ(Find(f, "ImageFormats[1]")->tip, "JPEG File Interchange Format");
    EXPECT_EQ(Value(f, "Model.StringChars"), "Model");
    EXPECT_EQ(Value(f, "SerialNumber.NumChars"), "0");
    EXPECT_FALSE(Find(f, "SerialNumber.StringChars")) << "an empty string has its count only";
    EXPECT_EQ(TotalBits(f), DeviceInfoBytes().size() * 8) << "the fields cover the dataset end to end";
}

TEST(PtpDatasets, StorageAndObjectHandleArrays)
{
    STORAGE_IDS_DATASET_imp ids;
    Bytes two;
    ptp::PutArray32(two, {0x00010001, 0x00020001});
    const auto f = Walk(ids, two);
    EXPECT_EQ(NamesOf(f), (std::vector<std::string>{"NumStorageID", "StorageID[0]", "StorageID[1]"}));
    EXPECT_EQ(Value(f, "NumStorageID"), "2");
    EXPECT_EQ(Value(f, "StorageID[0]"), "0x00010001");
    EXPECT_EQ(Value(f, "StorageID[1]"), "0x00020001");

    two[0] = 3;
    EXPECT_EQ(NamesOf(Walk(ids, two)), (std::vector<std::string>{"NumStorageID", "StorageID[0]", "StorageID[1]"}))
        << "a count of 3 with two elements stops after the second";
    Bytes lies = {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0};
    EXPECT_EQ(Walk(ids, lies).size(), 2u) << "a count of 4 billion never loops past the data";

    GET_OBJECT_HANDLES_imp handles;
    Bytes one;
    ptp::PutArray32(one, {0x21});
    EXPECT_EQ(Value(Walk(handles, one), "ObjectHandle[0]"), "0x00000021");
}

TEST(PtpDatasets, StorageInfo)
{
    STORAGE_INFO_DATASET_imp walker;
    const auto f = Walk(walker, StorageInfoBytes());
    EXPECT_EQ(Value(f, "StorageType"), "Removable RAM");
    EXPECT_EQ(Find(f, "StorageType")->tip, "The code that identifies the type of storage");
    EXPECT_EQ(Value(f, "FilesystemType"), "Vendor-Defined (0x8003)");
    EXPECT_EQ(Value(f, "AccessCapability"), "Reserved (0x0007)");
    EXPECT_EQ(Value(f, "MaxCapacity"), "1.50 KB(1536 bytes)");
    EXPECT_EQ(Find(f, "MaxCapacity")->bits, 64u);
    EXPECT_EQ(Value(f, "FreeSpaceInBytes"), "1023 bytes");
    EXPECT_EQ(Value(f, "FreeSpaceInImages"), "Not implemented");
    EXPECT_EQ(Value(f, "StorageDescription.StringChars"), "Card");
    EXPECT_EQ(Value(f, "VolumeLabel.NumChars"), "0");
}

TEST(PtpDatasets, ObjectInfo)
{
    GET_OBJECT_INFO_imp walker;
    const auto f = Walk(walker, ObjectInfoBytes());
    EXPECT_EQ(Value(f, "StorageID"), "0x00010001");
    EXPECT_EQ(Value(f, "ObjectFormat"), "EXIF/JPEG");
    EXPECT_EQ(Find(f, "ObjectFormat")->tip, "Exchangeable File Format, JEIDA standard");
    EXPECT_EQ(Value(f, "ProtectionStatus"), "Read-Only ");
    EXPECT_EQ(Value(f, "ObjectCompressedSize"), "300.00 KB(307200 bytes)");
    EXPECT_EQ(Value(f, "ThumbFormat"), "JFIF");
    EXPECT_EQ(Value(f, "ImgPixWidth"), "4000");
    EXPECT_EQ(Find(f, "ThumbPixWidth")->tip, " An optional field representing the width of the thumbnail in pixels");
    EXPECT_EQ(Value(f, "ImageBitDepth"), "24 bits/pixel");
    EXPECT_EQ(Value(f, "AssociationType"), "2DPanoramic");
    EXPECT_EQ(Value(f, "AssociationDesc"), "ImagesPerRow") << "the meaning of the descriptor, not its number";
    EXPECT_EQ(Value(f, "SequenceNumber"), "9");
    EXPECT_EQ(Value(f, "Filename.StringChars"), "IMG_0001.JPG");
    EXPECT_NE(Find(f, "Filename.NumChars")->tip.find("string,\t\t\t\t\tAllowed"), std::string::npos);
    EXPECT_EQ(Value(f, "Keywords.StringChars"), "k");
    EXPECT_EQ(TotalBits(f), ObjectInfoBytes().size() * 8);
}

TEST(PtpDatasets, DevicePropDescInBothForms)
{
    DEVICE_PROP_DESC_imp walker;
    const auto range = Walk(walker, RangeDesc());
    EXPECT_EQ(NamesOf(range), (std::vector<std::string>{"DevicePropCode", "DataType", "GetSet", "FactoryDefaultValue",
                                                        "CurrentValue", "FormFlag", "MinimumValue", "MaximumValue",
                                                        "StepSize"}));
    EXPECT_EQ(Value(range, "DevicePropCode"), "BatteryLevel");
    EXPECT_EQ(Value(range, "DataType"), "UINT8");
    EXPECT_EQ(Value(range, "GetSet"), "Get");
    EXPECT_EQ(Value(range, "CurrentValue"), "0x50");
    EXPECT_EQ(Value(range, "FormFlag"), "Range-Form");
    EXPECT_EQ(Value(range, "MaximumValue"), "0x64");
    EXPECT_EQ(Value(range, "StepSize"), "0x0A");

    const auto enumeration = Walk(walker, EnumerationDesc());
    EXPECT_EQ(Value(enumeration, "DevicePropCode"), "WhiteBalance");
    EXPECT_EQ(Value(enumeration, "GetSet"), "Get/Set");
    EXPECT_EQ(Value(enumeration, "FactoryDefaultValue"), "0x0002");
    EXPECT_EQ(Value(enumeration, "FormFlag"), "Enumeration-Form");
    EXPECT_EQ(Value(enumeration, "NumberofValues"), "3");
    EXPECT_EQ(Value(enumeration, "SupportedValue2"), "0x0004");
    EXPECT_EQ(TotalBits(enumeration), EnumerationDesc().size() * 8);

    // A count of 65535 values with three present never reads past them.
    Bytes lying = EnumerationDesc();
    lying[10] = 0xFF;
    lying[11] = 0xFF;
    EXPECT_EQ(Walk(walker, lying).size(), enumeration.size());

    // Strings and arrays as values; an unknown data type ends the walk.
    Bytes text = {0x1E, 0x50, 0xFF, 0xFF, 0x01};
    ptp::PutString(text, "me");
    ptp::PutString(text, "you");
    text.push_back(0);
    const auto artist = Walk(walker, text);
    EXPECT_EQ(Value(artist, "FactoryDefaultValue"), "me");
    EXPECT_EQ(Find(artist, "CurrentValue")->bits, 8u * 9);
    Bytes array = {0x03, 0x50, 0x06, 0x40, 0x00};
    ptp::PutArray32(array, {});
    ptp::PutArray32(array, {0x04000300});
    array.push_back(0);
    const auto sizes = Walk(walker, array);
    EXPECT_EQ(Value(sizes, "CurrentValue.NumElement"), "1");
    EXPECT_EQ(Find(sizes, "CurrentValue.NumElement")->tip, "The Number of CurrentValue array");
    EXPECT_EQ(Value(sizes, "CurrentValue.Element[0]"), "0x04000300");
    EXPECT_EQ(Value(sizes, "FormFlag"), "None");
    const auto unknown = Walk(walker, {0x01, 0x50, 0x0B, 0x00, 0x00, 1, 2, 3, 4});
    EXPECT_EQ(NamesOf(unknown), (std::vector<std::string>{"DevicePropCode", "DataType", "GetSet"}));
    EXPECT_EQ(Value(unknown, "DataType"), "Undefined");
}

// The bounds rule, checked on every dataset cut at every byte: each cut
// gives a prefix of the whole walk, never a field past the cut, and fields
// that cover exactly the bytes they stand for.
TEST(PtpDatasets, EveryCutGivesAPrefixOfTheWholeWalk)
{
    struct Case {
        const char* name;
        std::function<std::unique_ptr<IEnumerable>()> make;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"DeviceInfo", [] { return std::make_unique<DEVICE_INFO_DATASET_imp>(); }, DeviceInfoBytes()},
        {"StorageInfo", [] { return std::make_unique<STORAGE_INFO_DATASET_imp>(); }, StorageInfoBytes()},
        {"ObjectInfo", [] { return std::make_unique<GET_OBJECT_INFO_imp>(); }, ObjectInfoBytes()},
        {"range", [] { return std::make_unique<DEVICE_PROP_DESC_imp>(); }, RangeDesc()},
        {"enumeration", [] { return std::make_unique<DEVICE_PROP_DESC_imp>(); }, EnumerationDesc()},
        {"StorageIDArray", [] { return std::make_unique<STORAGE_IDS_DATASET_imp>(); }, Bytes{2, 0, 0, 0, 1, 0, 1, 0, 1, 0, 2, 0}},
        {"Get Extended Event", [] { return std::make_unique<GET_EVENT_SETUP_REQUEST_imp>(); },
         Bytes{0x02, 0x40, 7, 0, 0, 0, 2, 0, 4, 0, 0x21, 0, 0, 0, 2, 0, 0xAB, 0xCD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto whole = c.make();
        const auto all = Walk(*whole, c.bytes);
        for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
            auto walker = c.make();
            const Bytes prefix(c.bytes.begin(), c.bytes.begin() + long(cut));
            const auto fields = Walk(*walker, prefix);
            ASSERT_LE(fields.size(), all.size());
            for (size_t i = 0; i < fields.size(); ++i) {
                EXPECT_EQ(fields[i].name, all[i].name) << "cut at " << cut;
                EXPECT_EQ(fields[i].value, all[i].value) << "cut at " << cut;
            }
            EXPECT_LE(TotalBits(fields), cut * 8) << "a field past the cut at " << cut;
        }
    }
}

// ---------------------------------------------------------------- class requests

TEST(PtpClassRequests, CancelExtendedEventAndDeviceStatus)
{
    CANCEL_SETUP_REQUEST_imp cancel;
    const auto c = Walk(cancel, {0x01, 0x40, 0x05, 0, 0, 0});
    EXPECT_EQ(Value(c, "CancellationCode"), "0x4001");
    EXPECT_EQ(Value(c, "TransactionID"), "0x00000005");
    EXPECT_EQ(Find(c, "CancellationCode")->tip, "Identifier for cancellation");

    GET_EVENT_SETUP_REQUEST_imp event;
    const auto e = Walk(event, {0x02, 0x40, 7, 0, 0, 0, 1, 0, 4, 0, 0x21, 0, 0, 0});
    EXPECT_EQ(Value(e, "EventCode"), "0x4002");
    EXPECT_EQ(Value(e, "NumParameters"), "1");
    EXPECT_EQ(Value(e, "SizeParam1"), "4");
    EXPECT_EQ(Value(e, "Paramter1"), "00000021") << "the last byte first";
    EXPECT_EQ(Find(e, "Paramter1")->bits, 32u);

    GET_DEVICE_STATUS_REQUEST_imp status;
    const auto s = Walk(status, {8, 0, 0x19, 0x20, 1, 0, 0, 0});
    EXPECT_EQ(Value(s, "wLength"), "8");
    EXPECT_EQ(Value(s, "Code"), "Device Busy");
    EXPECT_EQ(Value(s, "Paramters Data"), "Check Data Pane");
    EXPECT_EQ(Find(s, "Paramters Data")->bits, 32u);
    EXPECT_FALSE(Find(Walk(status, {4, 0, 0x01, 0x20}), "Paramters Data"));
}

}  // namespace
