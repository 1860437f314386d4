#include <gtest/gtest.h>

#include <vector>

#include "CDecodeResultWriter.h"
#include "DescriptorList.h"

using namespace orvane;

namespace {

const CUsbIdDatabase& Ids()
{
    static const CUsbIdDatabase ids = CUsbIdDatabase::FromFile(ORVANE_SOURCE_DIR "/engine/tests/data/usb.ids");
    return ids;
}

using Bytes = std::vector<uint8_t>;

CDeviceRequest GetDescriptor(uint8_t type, uint16_t language = 0)
{
    const uint8_t setup[] = {0x80, 0x06, 0x00, type, uint8_t(language), uint8_t(language >> 8), 0xFF, 0x00};
    return CDeviceRequest(setup, 8, Ids());
}

std::vector<std::string> Titles(DescriptorList& list)
{
    std::vector<std::string> titles;
    for (size_t i = 0; i < list.size(); ++i) list[i].GetName(titles.emplace_back());
    return titles;
}

// "name=value" per field.
std::vector<std::string> Fields(IDescriptor& d)
{
    std::vector<std::string> out;
    for (int i = 0; i < d.GetFieldCount(); ++i) {
        FieldRecord f;
        EXPECT_EQ(d.GetField(i, &f), 1);
        out.push_back(f.name + "=" + f.value);
    }
    return out;
}

uint32_t Bits(IDescriptor& d)
{
    uint32_t total = 0;
    for (int i = 0; i < d.GetFieldCount(); ++i) {
        FieldRecord f;
        d.GetField(i, &f);
        total += f.bits;
    }
    return total;
}

// A boot mouse: device, then configuration, interface, HID, endpoint.
const Bytes kMouseDevice = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x6D,
                            0x04, 0x77, 0xC0, 0x00, 0x72, 0x01, 0x02, 0x00, 0x01};
const Bytes kMouseConfiguration = {
    0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x32,  // configuration, 34 bytes
    0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00,  // interface: HID boot mouse
    0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x34, 0x00,  // HID descriptor
    0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0A,              // interrupt IN 1
};
// A mass-storage stick, bulk-only over SCSI.
const Bytes kStickDevice = {0x12, 0x01, 0x10, 0x02, 0x00, 0x00, 0x00, 0x40, 0x81,
                            0x07, 0x67, 0x55, 0x26, 0x01, 0x01, 0x02, 0x03, 0x01};
const Bytes kStickConfiguration = {
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32, 0x09, 0x04, 0x00, 0x00, 0x02, 0x08, 0x06,
    0x50, 0x00, 0x07, 0x05, 0x81, 0x02, 0x00, 0x02, 0x00, 0x07, 0x05, 0x02, 0x02, 0x00, 0x02, 0x00,
};
// A high-speed hub with a single TT, and its device qualifier.
const Bytes kHubDevice = {0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0xE3,
                          0x05, 0x08, 0x06, 0x30, 0x85, 0x00, 0x01, 0x00, 0x01};
const Bytes kHubConfiguration = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x32, 0x09, 0x04, 0x00, 0x00,
                                 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x01, 0x00, 0x0C};
const Bytes kHubQualifier = {0x0A, 0x06, 0x00, 0x02, 0x09, 0x00, 0x00, 0x40, 0x01, 0x00};
// A composite CDC ACM serial port: the two interfaces tied by an association.
const Bytes kCompositeDevice = {0x12, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 0x40, 0x41,
                                0x23, 0x43, 0x00, 0x01, 0x00, 0x01, 0x02, 0xDC, 0x01};
const Bytes kCompositeConfiguration = {
    0x09, 0x02, 0x4B, 0x00, 0x02, 0x01, 0x00, 0x80, 0x32,  // configuration, 75 bytes
    0x08, 0x0B, 0x00, 0x02, 0x02, 0x02, 0x01, 0x00,        // association: interfaces 0-1
    0x09, 0x04, 0x00, 0x00, 0x01, 0x02, 0x02, 0x01, 0x00,  // communications interface
    0x05, 0x24, 0x00, 0x10, 0x01,                          // header
    0x05, 0x24, 0x01, 0x00, 0x01,                          // call management
    0x04, 0x24, 0x02, 0x02,                                // abstract control management
    0x05, 0x24, 0x06, 0x00, 0x01,                          // union
    0x07, 0x05, 0x82, 0x03, 0x08, 0x00, 0xFF,              // notification
    0x09, 0x04, 0x01, 0x00, 0x02, 0x0A, 0x00, 0x00, 0x00,  // data interface
    0x07, 0x05, 0x01, 0x02, 0x40, 0x00, 0x00,              // bulk OUT 1
    0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,              // bulk IN 1
};

TEST(DescriptorList, BootMouseFieldByField)
{
    DescriptorList device(GetDescriptor(1), kMouseDevice, Ids());
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(Fields(device[0]), (std::vector<std::string>{
        "bLength=18", "bDescriptorType=DEVICE", "bcdUSB=2.0", "bDeviceClass=(Defined at Interface level)",
        "bDeviceSubClass=(defined at interface level)", "bDeviceProtocol=(none)", "bMaxPacketSize0=8",
        "idVendor=Logitech, Inc.", "idProduct=Mouse", "bcdDevice=114.0", "iManufacturer=1", "iProduct=2",
        "iSerialNumber=0", "bNumConfigurations=1"}));
    EXPECT_TRUE(device.As<CDescriptorDevice>(0)->Kept().Complete());

    DescriptorList set(GetDescriptor(2), kMouseConfiguration, Ids());
    EXPECT_EQ(Titles(set), (std::vector<std::string>{"Configuration Descriptor", "Interace Descriptor",
                                                     "Unknown descriptor", "Endpoint Descriptor"}));
    EXPECT_FALSE(set.Malformed());
    EXPECT_EQ(set.Described(), kMouseConfiguration.size());
    EXPECT_EQ(Fields(set[0]), (std::vector<std::string>{
        "bLength=9", "bDescriptorType=CONFIGURATION", "wTotalLength=34 bytes", "bNumInterface=1",
        "bConfigurationValue=1", "iConfiguration=0", "bmAttributes.Reserved=0",
        "bmAttributes.RemoteWakeup=Supported", "bmAttributes.SelfPowered=No", "bmAttributes.Reserved7=1",
        "bMaxPower=100 mA"}));
    EXPECT_EQ(Fields(set[1]), (std::vector<std::string>{
        "bLength=9", "bDescriptorType=INTERFACE", "bInterfaceNumber=0", "bAltermateSetting=0", "bNumEndpoints=1",
        "bInterfaceClass=Human Interface Device", "bInterfaceSubClass=Boot Interface Subclass",
        "bInterfaceProtocol=Mouse", "iInterface=0"}));
    EXPECT_EQ(Fields(set[2]), (std::vector<std::string>{"bLength=9", "bDescriptorType=33",
                                                        "Undecoded=Check Data pane"}));
    EXPECT_EQ(Fields(set[3]), (std::vector<std::string>{
        "bLength=7", "bDescriptorType=ENDPOINT", "bEndpointAddress=1 IN",
        "bmAttributes=Interrupt,No Synchronization,Data endpoint", "wMaxPacketSize=4 bytes", "bInterval=10"}));
}

TEST(DescriptorList, CompositeWithInterfaceAssociation)
{
    DescriptorList set(GetDescriptor(2), kCompositeConfiguration, Ids());
    EXPECT_EQ(Titles(set), (std::vector<std::string>{
        "Configuration Descriptor", "Interface Association Descriptor", "Interace Descriptor",
        "Class Specific Interface Descriptor", "Class Specific Interface Descriptor",
        "Class Specific Interface Descriptor", "Class Specific Interface Descriptor", "Endpoint Descriptor",
        "Interace Descriptor", "Endpoint Descriptor", "Endpoint Descriptor"}));
    EXPECT_EQ(Fields(set[1]), (std::vector<std::string>{
        "bLength=8", "bDescriptorType=INTERFACE_ASSOCIATION", "bFirstInterface=0", "bInterfaceCount=2",
        "bFunctionClass=Communications", "bInterfaceSubClass=Abstract (modem)",
        "bFunctionProtocol=AT-commands (v.25ter)", "iFunction=0"}));
    EXPECT_EQ(Fields(set[5]), (std::vector<std::string>{"bLength=4", "bDescriptorType=CS_INTERFACE",
                                                        "Undecoded=Check Data pane"}));
}

// One field of one descriptor of a real device's list: request type, bytes, position, text.
TEST(DescriptorList, FieldsOfRealDevices)
{
    struct Case { uint8_t type; const Bytes* bytes; size_t descriptor, field; const char* want; };
    const Case cases[] = {
        {1, &kStickDevice, 0, 2, "bcdUSB=2.1"},
        {1, &kStickDevice, 0, 8, "idProduct=Cruzer Blade"},
        {2, &kStickConfiguration, 0, 7, "bmAttributes.RemoteWakeup=Not supported"},
        {2, &kStickConfiguration, 2, 3, "bmAttributes=Bulk,No Synchronization,Data endpoint"},
        {2, &kStickConfiguration, 2, 4, "wMaxPacketSize=512 bytes"},
        {2, &kStickConfiguration, 3, 2, "bEndpointAddress=2 OUT"},
        {1, &kHubDevice, 0, 5, "bDeviceProtocol=Single TT"},
        {1, &kHubDevice, 0, 9, "bcdDevice=133.3"},  // 0x8530: the whole high byte in decimal
        {2, &kHubConfiguration, 0, 8, "bmAttributes.SelfPowered=Yes"},
        {2, &kHubConfiguration, 2, 5, "bInterval=12"},
        {6, &kHubQualifier, 0, 1, "bDescriptorType=DEVICE_QUALIFIER"},
        {6, &kHubQualifier, 0, 3, "bDeviceClass=Hub"},
        {6, &kHubQualifier, 0, 8, "bReserved=0"},
        {1, &kCompositeDevice, 0, 4, "bDeviceSubClass=?"},
        {1, &kCompositeDevice, 0, 5, "bDeviceProtocol=Interface Association"},
        {2, &kCompositeConfiguration, 8, 6, "bInterfaceSubClass="},  // no name, no decimal
    };
    for (const Case& c : cases) {
        DescriptorList list(GetDescriptor(c.type), *c.bytes, Ids());
        ASSERT_GT(list.size(), c.descriptor) << c.want;
        EXPECT_EQ(Fields(list[c.descriptor]).at(c.field), c.want);
    }
}

TEST(DescriptorList, WidthsCoverEachDescriptorBitByBit)
{
    for (const Bytes* bytes : {&kMouseDevice, &kMouseConfiguration, &kStickDevice, &kStickConfiguration, &kHubDevice,
                               &kHubConfiguration, &kHubQualifier, &kCompositeDevice,
                               &kCompositeConfiguration}) {
        DescriptorList list(GetDescriptor(0), *bytes, Ids());
        uint32_t total = 0;
        for (size_t i = 0; i < list.size(); ++i) total += Bits(list[i]);
        EXPECT_EQ(total, bytes->size() * 8);
    }
}

TEST(DescriptorList, SplitEdgeCases)
{
    struct Case {
        const char* what;
        Bytes bytes;
        std::vector<std::string> titles;
        bool malformed;
    };
    const Case cases[] = {
        {"empty", {}, {}, false},
        {"zero ends the split", {0x04, 0x03, 0x09, 0x04, 0x04, 0x03, 0x09, 0x04, 0x00, 0x07, 0x05},
         {"String descriptor", "String descriptor"}, true},
        {"zero first", {0x00, 0x01, 0x02}, {}, true},
        {"bLength 1 does not borrow the next byte as its type",
         {0x01, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0A},
         {"Unknown descriptor", "Endpoint Descriptor"}, true},
        {"lone trailing byte", {0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0A, 0x09},
         {"Endpoint Descriptor", "Unknown descriptor"}, true},
        {"other speed", {0x09, 0x07, 0x22, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32},
         {"Ohter Speed Configuration Descriptor"}, false},
        {"audio endpoint longer than its class keeps",
         {0x09, 0x05, 0x01, 0x09, 0xC0, 0x00, 0x01, 0x00, 0x00, 0x07, 0x25, 0x01, 0x00, 0x00, 0x00, 0x00},
         {"Endpoint Descriptor", "Unknown descriptor"}, false},
    };
    for (const Case& c : cases) {
        DescriptorList list(GetDescriptor(2), c.bytes, Ids());
        EXPECT_EQ(Titles(list), c.titles) << c.what;
        EXPECT_EQ(list.Malformed(), c.malformed) << c.what;
        for (size_t i = 0; i < list.size(); ++i) Fields(list[i]);
    }
}

TEST(DescriptorList, TruncatedDescriptorsAreDescribedAsFarAsTheirBytesGo)
{
    // A device descriptor claiming 18 bytes with 8 left.
    DescriptorList cut(GetDescriptor(1), Bytes(kMouseDevice.begin(), kMouseDevice.begin() + 8), Ids());
    ASSERT_EQ(cut.size(), 1u);
    FieldRecord length;
    cut[0].GetField(0, &length);
    EXPECT_EQ(length.value, "18");
    EXPECT_NE(length.tip.find("Malformed"), std::string::npos);
    const auto fields = Fields(cut[0]);
    EXPECT_EQ(fields[6], "bMaxPacketSize0=8");
    EXPECT_EQ(fields[7], "idVendor=(truncated)");
    EXPECT_EQ(fields[13], "bNumConfigurations=(truncated)");
    EXPECT_EQ(Bits(cut[0]), 144u);
    EXPECT_FALSE(cut.As<CDescriptorDevice>(0)->Kept().Complete());

    // An endpoint whose bLength says 5: the fields past it were never sent.
    DescriptorList shortEndpoint(GetDescriptor(2), Bytes{0x05, 0x05, 0x81, 0x03, 0x04, 0x09, 0x04}, Ids());
    ASSERT_EQ(shortEndpoint.size(), 2u);
    EXPECT_EQ(Fields(shortEndpoint[0])[4], "wMaxPacketSize=(truncated)");
    shortEndpoint[0].GetField(0, &length);
    EXPECT_NE(length.tip.find("Malformed"), std::string::npos);

    // bLength 1 and a lone byte: no type, and no negative width.
    for (const Bytes& bytes : {Bytes{0x01}, Bytes{0x12}}) {
        DescriptorList remnant(GetDescriptor(2), bytes, Ids());
        ASSERT_EQ(remnant.size(), 1u);
        EXPECT_EQ(Fields(remnant[0])[1], "bDescriptorType=(truncated)");
        FieldRecord undecoded;
        remnant[0].GetField(2, &undecoded);
        EXPECT_EQ(undecoded.bits, bytes[0] > 2 ? (bytes[0] - 2u) * 8 : 0u);
    }
    FieldRecord keep{"keep", "", "", 0};
    DescriptorList one(GetDescriptor(2), Bytes{0x01}, Ids());
    EXPECT_EQ(one[0].GetField(3, &keep), 0);
    EXPECT_EQ(one[0].GetField(-1, &keep), 0);
    EXPECT_EQ(keep.name, "keep");
}

TEST(DescriptorList, StringDescriptors)
{
    const Bytes languages = {0x06, 0x03, 0x09, 0x04, 0x07, 0x04};
    DescriptorList list(GetDescriptor(3, 0), languages, Ids());
    EXPECT_EQ(Fields(list[0]), (std::vector<std::string>{"bLength=6", "bDescriptorType=STRING",
                                                         "wLANGID[0]=English (US)", "wLANGID[1]=German (German)"}));

    const Bytes one = {0x04, 0x03, 0x09, 0x04};
    DescriptorList asText(GetDescriptor(3, 0x0409), one, Ids());
    FieldRecord text;
    asText[0].GetField(2, &text);
    EXPECT_EQ(text.name, "bString");
    EXPECT_EQ(text.value, "\xD0\x89");  // U+0409, one character
    EXPECT_EQ(text.bits, 16u);

    struct Case { Bytes bytes; std::string text; uint32_t bits; };
    const Case cases[] = {
        {{0x0A, 0x03, 'M', 0, 'o', 0, 'u', 0, 's', 0}, "Mous", 64},
        {{0x09, 0x03, 'A', 0, 'B', 0, 'C', 0, 'D'}, "ABC", 48},                          // odd: last byte left out
        {{0x03, 0x03, 'A'}, "", 0},                                                      // tiny
        {{0x02, 0x03}, "", 0},
        {{0x08, 0x03, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8}, "\xF0\x9F\x98\x80\xEF\xBF\xBD", 48},  // pair, then a lone half
        {{0x06, 0x03, 0x00, 0x00, 'x', 0}, "\xEF\xBF\xBDx", 32},
        {{0xFE, 0x03, 'Z', 0}, "Z", 16},                                                 // bLength past the data
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        DescriptorList strings(GetDescriptor(3, 0x0409), cases[i].bytes, Ids());
        ASSERT_EQ(strings.size(), 1u) << i;
        ASSERT_EQ(strings[0].GetFieldCount(), 3) << i;
        FieldRecord f;
        strings[0].GetField(2, &f);
        EXPECT_EQ(f.value, cases[i].text) << i;
        EXPECT_EQ(f.bits, cases[i].bits) << i;
    }
}

TEST(DescriptorList, FieldValueFormats)
{
    struct Case { Bytes bytes; size_t field; std::string want; };
    const Case cases[] = {
        {{0x07, 0x05, 0x03, 0x05, 0x00, 0x02, 0x01}, 3, "bmAttributes=Isochronous,Asynchronous,Data endpoint"},
        {{0x07, 0x05, 0x03, 0x3F, 0x00, 0x02, 0x01}, 3, "bmAttributes=Interrupt,Synchronous,Reserved"},
        {{0x07, 0x05, 0x03, 0x11, 0x00, 0x02, 0x01}, 3, "bmAttributes=Isochronous,No Synchronization,Feedback endpoint"},
        {{0x07, 0x05, 0x8F, 0x01, 0x00, 0x14, 0x01}, 4, "wMaxPacketSize=5120 bytes"},  // additional transactions kept
        {{0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x32}, 6, "bmAttributes.Reserved=0"},
        {{0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0x5F, 0xFA}, 6, "bmAttributes.Reserved=31"},
        {{0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0x5F, 0xFA}, 9, "bmAttributes.Reserved7=0"},
        {{0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0x5F, 0xFA}, 10, "bMaxPower=500 mA"},
        {{0x09, 0x07, 0x22, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32}, 1, "bDescriptorType=OTHER_SPEED_CONFIGURATION"},
        {{0x12, 0x01, 0x01, 0x02, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 1}, 2, "bcdUSB=2.01"},
        {{0x12, 0x01, 0x01, 0x02, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 1}, 3, "bDeviceClass=66"},
        {{0x12, 0x01, 0x01, 0x02, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 1}, 4, "bDeviceSubClass=0"},
        {{0x12, 0x01, 0x01, 0x02, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 1}, 7, "idVendor=0"},
        {{0x12, 0x01, 0x01, 0x02, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x23, 0x01, 0, 0, 0, 1}, 9, "bcdDevice=1.2.3"},
        {{0x12, 0x01, 0x10, 0x01, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x00, 0x12, 0, 0, 0, 1}, 2, "bcdUSB=1.1"},
        {{0x12, 0x01, 0x10, 0x01, 0x42, 0, 0, 8, 0, 0, 0, 0, 0x00, 0x12, 0, 0, 0, 1}, 9, "bcdDevice=18.0"},
        {{0x09, 0x04, 0x00, 0x00, 0x00, 0x42, 0x01, 0x01, 0x00}, 5, "bInterfaceClass="},
        {{0x09, 0x04, 0x00, 0x00, 0x00, 0x42, 0x01, 0x01, 0x00}, 7, "bInterfaceProtocol=1"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        DescriptorList list(GetDescriptor(2), cases[i].bytes, Ids());
        ASSERT_EQ(list.size(), 1u) << i;
        EXPECT_EQ(Fields(list[0]).at(cases[i].field), cases[i].want) << i;
    }
}

TEST(DecodeResultWriter, DescriptorGroupsLayFieldsEndToEnd)
{
    DescriptorList set(GetDescriptor(2), kMouseConfiguration, Ids());
    CDecodeResultWriter writer;
    int64_t offset = 0;
    for (size_t i = 0; i < set.size(); ++i) offset = writer.AddDescriptor(set[i], offset);
    EXPECT_EQ(offset, int64_t(kMouseConfiguration.size()) * 8);
    const auto items = writer.Document().selectNodes("/groups/group[2]/item");
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[5].attribute("name"), "bInterfaceClass");
    EXPECT_EQ(items[5].attribute("offset"), "112");
    EXPECT_EQ(items[5].attribute("bits"), "8");
}

}  // namespace
