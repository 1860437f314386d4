#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "DeviceTree.h"

using orvane::DeviceTree;

namespace {

std::string Attr(const DeviceTree& tree, const std::string& xpath, const char* name)
{
    return tree.Document().selectSingleNode(xpath).attribute(name).value_or("<none>");
}

TEST(DeviceTree, WritersAddOnceAndOnlyUnderAParent)
{
    DeviceTree tree;
    EXPECT_TRUE(tree.Document().selectNodes("/devices/*").empty());
    EXPECT_FALSE(tree.AddConfigurationNode(5, 1, "09 "));  // no device yet
    EXPECT_TRUE(tree.AddDeviceNode(5, 0x0200, 0, 0, 0, 0x046D, 0xC077, 0x7200));
    EXPECT_FALSE(tree.AddDeviceNode(5, 0x0110, 9, 0, 0, 1, 2, 3));  // the first one stays
    EXPECT_FALSE(tree.AddInterfaceNode(5, 1, 0, 0, 1, 3, 1, 2));     // no configuration yet
    EXPECT_TRUE(tree.AddConfigurationNode(5, 1, "09 02 22 00 "));
    EXPECT_FALSE(tree.AddConfigurationNode(5, 1, "other"));
    EXPECT_TRUE(tree.AddInterfaceNode(5, 1, 0, 0, 1, 3, 1, 2));
    EXPECT_FALSE(tree.AddInterfaceNode(5, 1, 0, 0, 1, 8, 6, 80));
    EXPECT_TRUE(tree.AddInterfaceNode(5, 1, 0, 1, 1, 3, 0, 0));  // another alternate setting
    EXPECT_FALSE(tree.AddEndpointNode(5, 1, 0, 2, 0x81, 3));     // no such alternate setting
    EXPECT_TRUE(tree.AddEndpointNode(5, 1, 0, 0, 0x81, 3));
    EXPECT_FALSE(tree.AddEndpointNode(5, 1, 0, 0, 0x81, 2));

    EXPECT_EQ(Attr(tree, "//interface[@bAlternateSetting='0']", "bInterfaceProtocol"), "2");
    EXPECT_EQ(tree.Document().selectNodes("//endpoint").size(), 1u);

    std::string text = "unchanged";
    tree.BuildDeviceIndex();
    EXPECT_TRUE(tree.GetConfigurationString(5, 1, text));
    EXPECT_EQ(text, "09 02 22 00 ");
    EXPECT_FALSE(tree.GetConfigurationString(5, 2, text));
    EXPECT_FALSE(tree.GetConfigurationString(6, 1, text));
    EXPECT_EQ(text, "09 02 22 00 ");

    // A placeholder for an address whose descriptors were missed.
    EXPECT_TRUE(tree.AddDeviceNode(7, -1, -1, -1, -1, -1, -1, -1));
    EXPECT_EQ(Attr(tree, "/devices/device[@address='7']", "idPorduct"), "-1");

    tree.ResetDeviceTree();
    EXPECT_TRUE(tree.Document().selectNodes("/devices/*").empty());
}

TEST(DeviceTree, ConfigurationBytesFormat)
{
    const std::vector<uint8_t> bytes = {0x09, 0x02, 0x22, 0x00, 0xA0, 0xFF};
    EXPECT_EQ(DeviceTree::FormatConfigurationBytes(bytes), "09 02 22 00 A0 FF ");
    EXPECT_EQ(DeviceTree::FormatConfigurationBytes({}), "");
}

TEST(DeviceTree, IndexesFromALoadedTree)
{
    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree(R"(<devices>
      <device address="3">
        <configuration bConfigurationValue="1" strConfiguration="09 ">
          <interface bInterfaceNumber="0" bAlternateSetting="0" bNumEndpoints="1" bInterfaceClass="3" bInterfaceSubClass="1" bInterfaceProtocol="2">
            <endpoint bEndpointAddress="129" bmAttributes="3"/>
          </interface>
          <interface bInterfaceNumber="1" bAlternateSetting="0" bNumEndpoints="1" bInterfaceClass="8" bInterfaceSubClass="6" bInterfaceProtocol="80">
            <endpoint bEndpointAddress="1" bmAttributes="2"/>
          </interface>
          <interface bInterfaceNumber="1" bAlternateSetting="1" bNumEndpoints="0" bInterfaceClass="8" bInterfaceSubClass="6" bInterfaceProtocol="98"/>
          <interface bInterfaceNumber="-1" bAlternateSetting="0" bNumEndpoints="1" bInterfaceClass="255" bInterfaceSubClass="0" bInterfaceProtocol="0">
            <endpoint bEndpointAddress="132" bmAttributes="2"/>
          </interface>
          <interface bInterfaceNumber="2" bAlternateSetting="0" bInterfaceSubClass="0" bInterfaceProtocol="0">
            <endpoint bEndpointAddress="133" bmAttributes="2"/>
          </interface>
          <interface bInterfaceNumber="999" bAlternateSetting="0" bInterfaceClass="1" bInterfaceSubClass="0" bInterfaceProtocol="0">
            <endpoint bEndpointAddress="134" bmAttributes="2"/>
            <endpoint bmAttributes="2"/>
          </interface>
          <interface bInterfaceNumber="x7" bAlternateSetting="0" bInterfaceClass="junk" bInterfaceSubClass=" 4" bInterfaceProtocol="99999999999">
            <endpoint bEndpointAddress="7"/>
          </interface>
        </configuration>
      </device>
      <device bcdUSB="512"><configuration><interface bInterfaceNumber="0" bInterfaceClass="3" bInterfaceSubClass="0" bInterfaceProtocol="0"><endpoint bEndpointAddress="1"/></interface></configuration></device>
      <device address="300"><configuration><interface bInterfaceNumber="0" bInterfaceClass="3" bInterfaceSubClass="0" bInterfaceProtocol="0"><endpoint bEndpointAddress="1"/></interface></configuration></device>
      <device address="-4"/>
    </devices>)"));

    using IC = DeviceTree::InterfaceClass;
    // "x7" reads 0 and, coming later, overwrites interface 0; " 4" reads 4; an overflow saturates.
    EXPECT_EQ(tree.FindInterface(3, 0), (IC{0, 4, INT32_MAX}));
    EXPECT_EQ(tree.FindInterface(3, 1), (IC{8, 6, 98}));  // the last alternate setting decides
    EXPECT_EQ(tree.FindInterface(3, 0 + 7), std::nullopt) << "junk number reads 0, not 7";
    EXPECT_EQ(tree.FindEndpointInterface(3, 1), 2);       // 0x01 under interface 1 came after 0x81
    EXPECT_EQ(tree.FindEndpointInterface(3, 0x81), 2);    // direction is not part of the key
    EXPECT_EQ(tree.FindEndpointInterface(3, 4), 0);       // interface -1: present but no interface
    EXPECT_EQ(tree.FindEndpointInterface(3, 5), 0);       // interface lacking its class: skipped
    EXPECT_EQ(tree.FindEndpointInterface(3, 6), 0);       // interface 999 is out of range
    EXPECT_EQ(tree.FindEndpointInterface(3, 7), 1);       // "x7" reads 0
    EXPECT_EQ(tree.FindInterface(3, 999 & 0xFF), std::nullopt);
    EXPECT_EQ(tree.FindEndpointInterface(0, 1), 0);       // the device without an address
    EXPECT_EQ(tree.FindEndpointInterface(300 & 0x7F, 1), 0);
    EXPECT_EQ(tree.FindInterface(-4, 0), std::nullopt);
    EXPECT_EQ(tree.FindInterface(3, -1), std::nullopt);

    // A rebuild starts both indexes afresh.
    ASSERT_TRUE(tree.LoadDeviceTree("<devices/>"));
    EXPECT_EQ(tree.InterfaceIndexSize(), 0u);
    EXPECT_EQ(tree.EndpointIndexSize(), 0u);
}

// Devices that held one address in turn: each keeps its own interfaces and
// configuration, found by the record; unmarked ones index together as before.
TEST(DeviceTree, DevicesThatHeldAnAddressInTurn)
{
    auto device = [](const char* mark, const char* config, int cls, int endpoint) {
        return std::string("<device address='1'") + mark + "><configuration bConfigurationValue='1' strConfiguration='" +
               config + "'><interface bInterfaceNumber='0' bInterfaceClass='" + std::to_string(cls) +
               "' bInterfaceSubClass='0' bInterfaceProtocol='0'><endpoint bEndpointAddress='" +
               std::to_string(endpoint) + "'/></interface></configuration></device>";
    };
    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree("<devices>" + device("", "01 ", 3, 129) + device("", "02 ", 3, 130) +
                                    device(" firstPacket='500'", "03 ", 8, 131) +
                                    device(" firstPacket='400'", "04 ", 1, 132) +
                                    device(" firstPacket='900'", "05 ", 14, 133) + "</devices>"));
    EXPECT_EQ(tree.DeviceAt(1, 0), 0u);
    EXPECT_EQ(tree.DeviceAt(1, 499), 0u);
    EXPECT_EQ(tree.DeviceAt(1, 500), 1u);
    EXPECT_EQ(tree.DeviceAt(1, 900), 2u);
    EXPECT_EQ(tree.DeviceAt(2, 900), 0u);
    EXPECT_EQ(tree.DeviceRecords(1, 1), std::make_pair(500u, 900u));
    EXPECT_EQ(tree.DeviceRecords(1, 2), std::make_pair(900u, UINT32_MAX));
    using IC = DeviceTree::InterfaceClass;
    EXPECT_EQ(tree.FindInterface(1, 0, 0), (IC{3, 0, 0}));
    EXPECT_EQ(tree.FindInterface(1, 0, 1), (IC{1, 0, 0})) << "a mark not past the last joins its device";
    EXPECT_EQ(tree.FindInterface(1, 0, 2), (IC{14, 0, 0}));
    EXPECT_EQ(tree.FindEndpointInterface(1, 1, 0), 1);
    EXPECT_EQ(tree.FindEndpointInterface(1, 2, 0), 1) << "unmarked devices index together";
    EXPECT_EQ(tree.FindEndpointInterface(1, 3, 0), 0);
    EXPECT_EQ(tree.FindEndpointInterface(1, 3, 1), 1);
    std::string text;
    EXPECT_TRUE(tree.GetConfigurationString(1, 1, text, 0));
    EXPECT_EQ(text, "01 ");
    EXPECT_TRUE(tree.GetConfigurationString(1, 1, text, 1));
    EXPECT_EQ(text, "03 ");
    EXPECT_TRUE(tree.GetConfigurationString(1, 1, text, 2));
    EXPECT_EQ(text, "05 ");
    EXPECT_FALSE(tree.GetConfigurationString(1, 1, text, 3));
}

// A device that held the address again lists the records in againFrom: each
// such turn is that device's again, in record order among the others' turns.
TEST(DeviceTree, TurnsOfADeviceThatHeldTheAddressAgain)
{
    auto device = [](const std::string& marks, const char* config, int cls) {
        return "<device address='1'" + marks + "><configuration bConfigurationValue='1' strConfiguration='" + config +
               "'><interface bInterfaceNumber='0' bInterfaceClass='" + std::to_string(cls) +
               "' bInterfaceSubClass='0' bInterfaceProtocol='0'/></configuration></device>";
    };
    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree("<devices>" + device(" againFrom=' 700  900 '", "01 ", 3) +
                                    device(" firstPacket='500' againFrom='800'", "02 ", 8) + "</devices>"));
    using IC = DeviceTree::InterfaceClass;
    const struct {
        uint32_t record, turn, from, to;
        int cls;
        const char* configuration;
    } turns[] = {
        {0, 0, 0, 500, 3, "01 "},     {499, 0, 0, 500, 3, "01 "},   {500, 1, 500, 700, 8, "02 "},
        {700, 2, 700, 800, 3, "01 "}, {800, 3, 800, 900, 8, "02 "}, {5000, 4, 900, UINT32_MAX, 3, "01 "},
    };
    for (const auto& t : turns) {
        SCOPED_TRACE(t.record);
        EXPECT_EQ(tree.DeviceAt(1, t.record), t.turn);
        EXPECT_EQ(tree.DeviceRecords(1, t.turn), std::make_pair(t.from, t.to));
        EXPECT_EQ(tree.FindInterface(1, 0, t.turn), (IC{t.cls, 0, 0}));
        std::string text;
        EXPECT_TRUE(tree.GetConfigurationString(1, 1, text, t.turn));
        EXPECT_EQ(text, t.configuration);
    }
    EXPECT_EQ(tree.FindInterface(1, 0, 5), std::nullopt) << "no such turn";
}

// Record texts are read whole or not at all: a device whose text is damaged
// adds no turn, rather than the turns of whatever part of it reads.
TEST(DeviceTree, RecordTextsAreReadWholeOrNotAtAll)
{
    using Records = std::optional<std::vector<uint32_t>>;
    const std::pair<const char*, Records> texts[] = {
        {"", std::vector<uint32_t>{}},
        {"700", std::vector<uint32_t>{700}},
        {" 0  700 4294967295 ", std::vector<uint32_t>{0, 700, 4294967295u}},
        {"x 700", std::nullopt},
        {"700 x", std::nullopt},
        {"700 12abc", std::nullopt},
        {"4294967296", std::nullopt},
        {"18446744073709551617", std::nullopt},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"700\t900", std::nullopt},
    };
    for (const auto& [text, records] : texts) EXPECT_EQ(DeviceTree::ReadRecords(text), records) << text;
    EXPECT_EQ(DeviceTree::ReadRecord("4294967295"), 4294967295u);
    for (const char* text : {"", " 5", "5 ", "5 6", "4294967296", "-0", "0x10"})
        EXPECT_EQ(DeviceTree::ReadRecord(text), std::nullopt) << text;

    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree(
        "<devices><device address='1' againFrom='x 700'/><device address='2' againFrom='700 900'/>"
        "<device address='2' firstPacket='4294967296'/><device address='2' firstPacket='800' againFrom='12abc'/>"
        "</devices>"));
    EXPECT_EQ(tree.DeviceAt(1, 5000), 0u);
    EXPECT_EQ(tree.DeviceAt(2, 0), 0u) << "not from record 0 on";
    EXPECT_EQ(tree.DeviceAt(2, 899), 2u);
    EXPECT_EQ(tree.DeviceAt(2, 5000), 3u);
    EXPECT_EQ(tree.DeviceRecords(2, 3), std::make_pair(900u, UINT32_MAX));
}

TEST(DeviceTree, TextThatIsNotXmlKeepsTreeAndIndexes)
{
    DeviceTree tree;
    ASSERT_TRUE(tree.LoadDeviceTree(
        "<devices><device address='2'><configuration bConfigurationValue='1'><interface bInterfaceNumber='0' "
        "bInterfaceClass='3' bInterfaceSubClass='0' bInterfaceProtocol='0'><endpoint bEndpointAddress='129'/>"
        "</interface></configuration></device></devices>"));
    const std::string before = tree.GetText();
    for (const char* bad : {"", "<devices>", "not xml", "<devices><device address='1'></devices>"}) {
        EXPECT_FALSE(tree.LoadDeviceTree(bad)) << bad;
        EXPECT_EQ(tree.GetText(), before);
        EXPECT_EQ(tree.FindEndpointInterface(2, 1), 1);
    }
    // Another root: nothing to index, and writers find no parent.
    ASSERT_TRUE(tree.LoadDeviceTree("<other/>"));
    EXPECT_EQ(tree.EndpointIndexSize(), 0u);
    EXPECT_FALSE(tree.AddDeviceNode(1, 0, 0, 0, 0, 0, 0, 0));
}

}  // namespace

namespace {

// A mouse's device descriptor and its configuration: interface 0, HID, with endpoint 0x81.
const std::vector<uint8_t> kMouse = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x6D,
                                     0x04, 0x77, 0xC0, 0x00, 0x72, 0x01, 0x02, 0x00, 0x01};
const std::vector<uint8_t> kMouseConfiguration = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x32,
                                                  0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00,
                                                  0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0A};

orvane::CDeviceRequest GetDescriptor(uint8_t type, uint8_t requestType = 0x80)
{
    const uint8_t setup[] = {requestType, 0x06, 0x00, type, 0x00, 0x00, 0xFF, 0x00};
    return orvane::CDeviceRequest(setup, 8, orvane::CUsbIdDatabase());
}

TEST(DeviceTree, LearnsFromGetDescriptorResponses)
{
    using Bytes = std::vector<uint8_t>;
    const Bytes device = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08, 0x6D,
                          0x04, 0x77, 0xC0, 0x00, 0x72, 0x01, 0x02, 0x00, 0x01};
    const Bytes other = {0x12, 0x01, 0x10, 0x01, 0x09, 0x00, 0x00, 0x40, 0x34,
                         0x12, 0x78, 0x56, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
    const Bytes configuration = {
        0x09, 0x02, 0x22, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x32, 0x07, 0x05, 0x82, 0x03, 0x04, 0x00, 0x0A,  // stray endpoint
        0x09, 0x04, 0x00, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0A,
        0x02, 0x30};  // an unknown 2-byte descriptor
    DeviceTree tree;
    DeviceTree::Learning orphan;
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(2), configuration, &orphan));  // no device yet
    // ...but the response still tells its endpoints, so the address counts as seen.
    EXPECT_TRUE(orphan.sawEndpoint);
    EXPECT_EQ(orphan.configurationValue, 1);
    EXPECT_EQ(orphan.endpointInterfaces[1], 1);
    EXPECT_EQ(orphan.endpointInterfaces[2], 0) << "the endpoint before any interface";
    EXPECT_FALSE(tree.LearnFromGetDescriptor(0, GetDescriptor(1), device));
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(1), Bytes(device.begin(), device.begin() + 8)));
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(1, 0xA0), device));  // a class request
    EXPECT_TRUE(tree.LearnFromGetDescriptor(5, GetDescriptor(1), device));
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(1), other));
    EXPECT_EQ(Attr(tree, "/devices/device", "idVendor"), "1133");
    EXPECT_EQ(Attr(tree, "/devices/device", "bcdUSB"), "512");

    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(2), Bytes(configuration.begin(), configuration.begin() + 9)));
    EXPECT_TRUE(tree.Document().selectNodes("//configuration").empty());
    DeviceTree::Learning learning;
    EXPECT_TRUE(tree.LearnFromGetDescriptor(5, GetDescriptor(2), configuration, &learning));
    EXPECT_TRUE(learning.sawEndpoint);
    const std::string text = Attr(tree, "//configuration", "strConfiguration");
    EXPECT_EQ(text, DeviceTree::FormatConfigurationBytes(configuration));
    EXPECT_EQ(text.back(), ' ');
    const auto endpoints = tree.Document().selectNodes("//interface/endpoint");
    ASSERT_EQ(endpoints.size(), 1u);  // the one before any interface is not recorded
    EXPECT_EQ(endpoints[0].attribute("bEndpointAddress"), "129");
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(3), configuration));

    EXPECT_TRUE(tree.AddPlaceholderDevice(9));
    EXPECT_FALSE(tree.AddPlaceholderDevice(5));

    // Address 5 handed to a new device at record 700: only a whole device
    // descriptor starts it, after the old one, configuration and all.
    DeviceTree::Learning handed;
    handed.newDeviceFrom = 700;
    EXPECT_FALSE(tree.LearnFromGetDescriptor(5, GetDescriptor(1), Bytes(other.begin(), other.begin() + 8), &handed));
    EXPECT_FALSE(handed.newDevice);
    EXPECT_TRUE(tree.LearnFromGetDescriptor(5, GetDescriptor(1), other, &handed));
    EXPECT_TRUE(handed.newDevice);
    const auto devices = tree.Document().selectNodes("/devices/device[@address=\"5\"]");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].attribute("idVendor"), "1133");
    EXPECT_EQ(devices[0].attribute(DeviceTree::kFirstPacket), std::nullopt);
    EXPECT_EQ(devices[1].attribute("idVendor"), "4660");
    EXPECT_EQ(devices[1].attribute(DeviceTree::kFirstPacket), "700");
    EXPECT_EQ(tree.Document().selectNodes("//configuration").size(), 1u);
    EXPECT_TRUE(tree.LearnFromGetDescriptor(5, GetDescriptor(2), configuration)) << "written to the new device";
    EXPECT_EQ(devices[1].selectNodes("./configuration").size(), 1u);
    // Address 10 was only seen: its device keeps a placeholder ahead of the new one.
    DeviceTree::Learning seen;
    seen.newDeviceFrom = 900;
    seen.addressSeen = true;
    EXPECT_TRUE(tree.LearnFromGetDescriptor(10, GetDescriptor(1), device, &seen));
    const auto ten = tree.Document().selectNodes("/devices/device[@address=\"10\"]");
    ASSERT_EQ(ten.size(), 2u);
    EXPECT_EQ(ten[0].attribute("idVendor"), "-1");
    EXPECT_EQ(ten[1].attribute(DeviceTree::kFirstPacket), "900");
}

// Enumerations of one device at one address: those with the same descriptors
// as an earlier one fold into it, however many; one that never finished, with
// fewer descriptors, is a device of its own.
TEST(DeviceTree, AnEnumerationLikeAnEarlierOneFoldsIntoIt)
{
    const std::vector<uint8_t>& device = kMouse;
    const std::vector<uint8_t>& configuration = kMouseConfiguration;
    const orvane::CDeviceRequest getDevice = GetDescriptor(1), getConfiguration = GetDescriptor(2);
    DeviceTree tree;
    auto enumerate = [&](uint32_t from, bool finish) {
        DeviceTree::Learning learning;
        learning.newDeviceFrom = from;
        EXPECT_TRUE(tree.LearnFromGetDescriptor(5, getDevice, device, &learning));
        if (finish) {
            EXPECT_TRUE(tree.LearnFromGetDescriptor(5, getConfiguration, configuration));
        }
    };
    enumerate(100, true);
    for (uint32_t from = 200; from < 1100; from += 100) enumerate(from, from != 300 && from != 600);
    for (uint32_t from = 10000; from < 11000; ++from) enumerate(from, true);
    tree.FoldRepeatedDevices();
    const auto devices = tree.Document().selectNodes("/devices/device");
    ASSERT_EQ(devices.size(), 2u) << tree.GetText().substr(0, 2000);
    EXPECT_EQ(devices[0].attribute(DeviceTree::kFirstPacket), std::nullopt);
    EXPECT_EQ(devices[0].attribute(DeviceTree::kAgainFrom)->substr(0, 34), "200 400 500 700 800 900 1000 10000");
    EXPECT_EQ(devices[0].selectNodes(".//endpoint").size(), 1u);
    EXPECT_EQ(devices[1].attribute(DeviceTree::kFirstPacket), "300");
    EXPECT_EQ(devices[1].attribute(DeviceTree::kAgainFrom), "600");
    EXPECT_TRUE(devices[1].childNodes().empty());
    EXPECT_LT(tree.GetText().size(), 8000u) << "a number per enumeration, not a device";
    // Folded again, the tree stays as it is; read back, the turns go in record order.
    const std::string text = tree.GetText();
    tree.FoldRepeatedDevices();
    EXPECT_EQ(tree.GetText(), text);
    DeviceTree read;
    ASSERT_TRUE(read.LoadDeviceTree(text));
    EXPECT_EQ(read.DeviceAt(5, 350), 2u);
    EXPECT_EQ(read.FindEndpointInterface(5, 1, 2), 0) << "the unfinished one has no interfaces";
    EXPECT_EQ(read.FindEndpointInterface(5, 1, 3), 1);
    EXPECT_EQ(read.DeviceAt(5, 10999), 1009u);
    EXPECT_EQ(read.FindEndpointInterface(5, 1, 1009), 1);
}

}  // namespace

// Devices at two addresses taking their addresses over in turn, some with
// other descriptors: each folds into the earlier one like it, and one that
// does not keeps its place among the others, whether the document is read
// between the turns or only at the end.
TEST(DeviceTree, DevicesTakingTheirAddressesInTurnKeepTheirOrder)
{
    const std::vector<uint8_t>& device = kMouse;
    const orvane::CDeviceRequest getDevice = GetDescriptor(1), getConfiguration = GetDescriptor(2);
    auto learn = [&](bool readBetween) {
        DeviceTree tree;
        std::vector<std::string> reads;
        // The device of 5 from 500 is complete before the one of 6 from 400.
        const std::tuple<int, uint32_t, uint8_t> turns[] = {{5, 100, 0x81}, {6, 200, 0x81}, {5, 300, 0x81},
                                                            {6, 400, 0x82}, {5, 500, 0x83}, {5, 600, 0x81},
                                                            {6, 700, 0x81}, {5, 800, 0x81}, {6, 900, 0x82}};
        for (const auto& [address, from, endpoint] : turns) {
            DeviceTree::Learning learning;
            learning.newDeviceFrom = from;
            EXPECT_TRUE(tree.LearnFromGetDescriptor(address, getDevice, device, &learning));
            std::vector<uint8_t> configuration = kMouseConfiguration;
            configuration[20] = endpoint;
            EXPECT_TRUE(tree.LearnFromGetDescriptor(address, getConfiguration, configuration));
            if (readBetween) reads.push_back(Attr(tree, "/devices/device[last()]//endpoint", "bEndpointAddress"));
        }
        if (readBetween) {
            EXPECT_EQ(reads, (std::vector<std::string>{"129", "129", "129", "130", "131", "129", "129", "129", "130"}));
        }
        tree.FoldRepeatedDevices();
        return tree.GetText();
    };
    const std::string text = learn(false);
    EXPECT_EQ(learn(true), text);
    DeviceTree read;
    ASSERT_TRUE(read.LoadDeviceTree(text));
    const auto devices = read.Document().selectNodes("/devices/device");
    ASSERT_EQ(devices.size(), 4u) << text;
    const std::vector<std::tuple<const char*, const char*, const char*>> expected = {
        {"5", "<none>", "300 600 800"}, {"6", "<none>", "700"}, {"6", "400", "900"}, {"5", "500", "<none>"}};
    for (size_t i = 0; i < devices.size(); ++i) {
        const auto& [address, first, again] = expected[i];
        EXPECT_EQ(devices[i].attribute("address"), address) << i;
        EXPECT_EQ(devices[i].attribute(DeviceTree::kFirstPacket).value_or("<none>"), first) << i;
        EXPECT_EQ(devices[i].attribute(DeviceTree::kAgainFrom).value_or("<none>"), again) << i;
    }
}

// A device that took its address over from an earlier one keeps its responses
// until it is written: whenever that happens, it reads as the same device
// learned at once, a second response of one configuration value adding its new
// interfaces as it would, and an element added from outside going after what
// was learned. Each response tells its own endpoints meanwhile.
TEST(DeviceTree, ADeviceTakingItsAddressOverIsWrittenAsIfLearnedAtOnce)
{
    const std::vector<uint8_t>& device = kMouse;
    std::vector<uint8_t> earlier = kMouse;
    earlier[10] = 0x78;  // another product held address 3 first
    const std::vector<uint8_t>& first = kMouseConfiguration;
    std::vector<uint8_t> second = first;
    second[11] = 1, second[20] = 0x82;  // interface 1 with endpoint 2
    auto learn = [&](std::optional<uint32_t> from, bool readBetween) {
        DeviceTree tree;
        if (from) EXPECT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(1), earlier));
        DeviceTree::Learning learning;
        learning.newDeviceFrom = from;
        EXPECT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(1), device, &learning));
        const std::vector<uint8_t>* const responses[] = {&first, &second, &first};
        for (const auto* bytes : responses) {
            DeviceTree::Learning told;
            tree.LearnFromGetDescriptor(3, GetDescriptor(2), *bytes, &told);
            EXPECT_EQ(told.configurationValue, 1);
            EXPECT_EQ(told.endpointInterfaces[(*bytes)[20] & 0xF], (*bytes)[11] + 1);
            if (readBetween) (void)tree.GetText();
        }
        EXPECT_TRUE(tree.AddInterfaceNode(3, 1, 2, 0, 0, 255, 0, 0));
        const auto devices = tree.Document().selectNodes("/devices/device");
        EXPECT_EQ(devices.size(), from ? 2u : 1u);
        std::string text = DeviceTree::GetNodeText(devices.back());
        const size_t mark = text.find(" firstPacket=\"40\"");
        EXPECT_EQ(mark != std::string::npos, bool(from)) << text;
        if (mark != std::string::npos) text.erase(mark, 17);
        return text;
    };
    const std::string atOnce = learn(std::nullopt, false);
    DeviceTree read;
    ASSERT_TRUE(read.LoadDeviceTree("<devices>" + atOnce + "</devices>"));
    EXPECT_EQ(read.Document().selectNodes("//interface").size(), 3u) << atOnce;
    EXPECT_EQ(read.FindEndpointInterface(3, 2), 2) << atOnce;
    EXPECT_EQ(learn(40, false), atOnce);
    EXPECT_EQ(learn(40, true), atOnce);
}

// A device reading its configuration over and over while it is pending keeps
// each distinct response once: a repeat costs nothing, and another response
// is still kept and written.
TEST(DeviceTree, AResponseReadAgainWhilePendingIsKeptOnce)
{
    std::vector<uint8_t> earlier = kMouse, other = kMouseConfiguration;
    earlier[10] = 0x78;
    other[11] = 1, other[20] = 0x82;
    DeviceTree tree;
    ASSERT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(1), earlier));
    DeviceTree::Learning learning;
    learning.newDeviceFrom = 40;
    ASSERT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(1), kMouse, &learning));
    EXPECT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(2), kMouseConfiguration));
    const size_t once = tree.PendingBytes();
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(tree.LearnFromGetDescriptor(3, GetDescriptor(2), kMouseConfiguration));
    EXPECT_EQ(tree.PendingBytes(), once);
    EXPECT_TRUE(tree.LearnFromGetDescriptor(3, GetDescriptor(2), other));
    EXPECT_EQ(tree.PendingBytes(), once + 5 + other.size());
    EXPECT_FALSE(tree.LearnFromGetDescriptor(3, GetDescriptor(2), kMouseConfiguration));
    EXPECT_FALSE(tree.LearnFromGetDescriptor(3, GetDescriptor(2), other));
    EXPECT_EQ(tree.PendingBytes(), once + 5 + other.size());
    EXPECT_EQ(tree.Document().selectNodes("/devices/device[@firstPacket='40']//interface").size(), 2u);
    EXPECT_EQ(tree.PendingBytes(), 0u) << "written for the reader";
}
