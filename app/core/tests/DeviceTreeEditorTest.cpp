// The device-tree pane's model: the lines it shows, a stored configuration
// given to a device, storing one, applying, and trees that come and go.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "CDeviceTreeEditor.h"
#include "CUsbIdDatabase.h"
#include "SettingStore.h"
#include "TestFiles.h"

using orvane::CUsbIdDatabase;
using orvane::app::CDeviceTreeEditor;
using orvane::app::SettingStore;

namespace {

const CUsbIdDatabase& Ids() {
    static const CUsbIdDatabase ids(
        "046d  Logitech, Inc.\n"
        "\tc077  M105 Optical Mouse\n"
        "C 03  Human Interface Device\n"
        "\t01  Boot Interface Subclass\n"
        "C 08  Mass Storage\n"
        "\t06  SCSI\n");
    return ids;
}

// A mouse at 5 (interface 0, HID boot, endpoint 0x81 interrupt), a disk at 7
// with two configurations, and a device at 9 whose descriptors were not seen.
const char* const kTree =
    "<devices>"
    "<device address=\"5\" bcdUSB=\"512\" bDeviceClass=\"0\" bDeviceSubClass=\"0\" bDeviceProtocol=\"0\" "
    "idVendor=\"1133\" idPorduct=\"49271\" bcdDevice=\"1\">"
    "<configuration bConfigurationValue=\"1\" strConfiguration=\"09 02 \">"
    "<interface bInterfaceNumber=\"0\" bAlternateSetting=\"0\" bNumEndpoints=\"1\" bInterfaceClass=\"3\" "
    "bInterfaceSubClass=\"1\" bInterfaceProtocol=\"2\"><endpoint bEndpointAddress=\"129\" bmAttributes=\"3\"/>"
    "</interface></configuration></device>"
    "<device address=\"7\" bcdUSB=\"512\" bDeviceClass=\"0\" bDeviceSubClass=\"0\" bDeviceProtocol=\"0\" "
    "idVendor=\"1\" idPorduct=\"2\" bcdDevice=\"1\">"
    "<configuration bConfigurationValue=\"1\" strConfiguration=\"\">"
    "<interface bInterfaceNumber=\"0\" bAlternateSetting=\"0\" bNumEndpoints=\"2\" bInterfaceClass=\"8\" "
    "bInterfaceSubClass=\"6\" bInterfaceProtocol=\"80\"><endpoint bEndpointAddress=\"129\" bmAttributes=\"2\"/>"
    "<endpoint bEndpointAddress=\"2\" bmAttributes=\"13\"/></interface></configuration>"
    "<configuration bConfigurationValue=\"2\" strConfiguration=\"\">"
    "<interface bInterfaceNumber=\"5\" bAlternateSetting=\"0\" bNumEndpoints=\"0\" bInterfaceClass=\"255\" "
    "bInterfaceSubClass=\"0\" bInterfaceProtocol=\"0\"/></configuration></device>"
    "<device address=\"9\" bcdUSB=\"-1\" bDeviceClass=\"-1\" bDeviceSubClass=\"-1\" bDeviceProtocol=\"-1\" "
    "idVendor=\"-1\" idPorduct=\"-1\" bcdDevice=\"-1\"/>"
    "</devices>";

std::vector<std::string> Texts(const CDeviceTreeEditor& editor) {
    std::vector<std::string> texts;
    for (const auto& row : editor.Rows(Ids())) texts.push_back(std::string(size_t(row.level) * 2, ' ') + row.text);
    return texts;
}

}  // namespace

TEST(DeviceTreeEditor, LinesShowTheFirstConfigurationOfEachDevice) {
    CDeviceTreeEditor editor;
    editor.Receive(kTree);
    const std::vector<std::string> expected = {
        "Address 5 (M105 Optical Mouse/Logitech, Inc.)",
        "  Interface 0 (Human Interface Device/Boot Interface Subclass),bAlternateSetting 0",
        "    Endpoint 1 (IN/Interrupt/No Synchronization/Data endpoint)",
        "Address 7 (/)",
        "  Interface 0 (Mass Storage/SCSI),bAlternateSetting 0",
        "    Endpoint 1 (IN/Bulk/No Synchronization/Data endpoint)",
        "    Endpoint 2 (OUT/Isochronous/Synchronous/Data endpoint)",
        "Address 9 (/)",
    };
    EXPECT_EQ(Texts(editor), expected);
    const auto rows = editor.Rows(Ids());
    EXPECT_EQ(rows[2].parent, 1);
    EXPECT_EQ(rows[2].address, 5);
    EXPECT_EQ(rows[6].parent, 4);
    EXPECT_EQ(rows[7].parent, -1);
}

TEST(DeviceTreeEditor, EndpointTexts) {
    const struct {
        int address, attributes;
        const char* text;
    } cases[] = {
        {0x81, 0x02, "Endpoint 1 (IN/Bulk/No Synchronization/Data endpoint)"},
        {0x03, 0x0D, "Endpoint 3 (OUT/Isochronous/Synchronous/Data endpoint)"},
        {0x8F, 0x19, "Endpoint 15 (IN/Isochronous/Adaptive/Feedback endpoint)"},
        {0x00, 0x38, "Endpoint 0 (OUT/Control/Adaptive/Reserved)"},
        {0x82, 0x25, "Endpoint 2 (IN/Isochronous/Asynchronous/Implicit feedback Data endpoint)"},
    };
    for (const auto& c : cases) EXPECT_EQ(CDeviceTreeEditor::EndpointText(c.address, c.attributes), c.text);
}

TEST(DeviceTreeEditor, LongNamesAreCutAtACharacterBoundary) {
    std::string product;
    for (int i = 0; i < 300; ++i) product += "鼠";  // three bytes each
    const CUsbIdDatabase ids("0001  V\n\t0002  " + product + "\n");
    CDeviceTreeEditor editor;
    editor.Receive(kTree);
    const std::string text = editor.Rows(ids)[3].text;
    EXPECT_LE(text.size(), CDeviceTreeEditor::kMaxText);
    EXPECT_GT(text.size(), CDeviceTreeEditor::kMaxText - 3);
    EXPECT_EQ(text.substr(text.size() - 3), "鼠");
}

TEST(DeviceTreeEditor, StoredConfigurationRoundTripsThroughTheSettingsFile) {
    orvane::testing::TempDir folder;
    const std::string path = folder / "setting.xml";
    std::string guid;
    {
        SettingStore store(path);
        CDeviceTreeEditor editor(&store);
        editor.Receive(kTree);
        EXPECT_EQ(editor.ExportToFavorites(9, Ids()), -1) << "a device without a configuration";
        EXPECT_EQ(editor.ExportToFavorites(42, Ids()), -1) << "no such device";
        EXPECT_EQ(editor.ExportToFavorites(7, Ids(), "{AAAAAAAA-0000-4000-8000-000000000007}"), 0);
        ASSERT_EQ(editor.ExportToFavorites(5, Ids()), 1);
        EXPECT_EQ(editor.StoredNames(), (std::vector<std::string>{"Mass Storage/SCSI",
                                                                  "Human Interface Device/Boot Interface Subclass"}));
        EXPECT_EQ(editor.StoredIndexOf(5), -1) << "the pane's own element is left unchanged";
        EXPECT_FALSE(editor.Modified());
        SettingStore::GetAttribute(store.ConfigurationAt(1), "guid", guid);
        EXPECT_TRUE(std::regex_match(guid, std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
            << guid;
        EXPECT_NE(guid, CDeviceTreeEditor::NewGuid());
    }
    // The next run gives the mouse's configuration to the disk.
    SettingStore store(path);
    ASSERT_EQ(store.GetConfigurationCount(), 2);
    CDeviceTreeEditor editor(&store);
    editor.Receive(kTree);
    ASSERT_TRUE(editor.PickConfiguration(7, 1));
    EXPECT_TRUE(editor.Modified());
    EXPECT_EQ(editor.StoredIndexOf(7), 1);
    EXPECT_EQ(editor.StoredIndexOf(5), -1);
    const auto texts = Texts(editor);
    EXPECT_EQ(texts[3], "Address 7 (/)");
    EXPECT_EQ(texts[4], "  Interface 0 (Human Interface Device/Boot Interface Subclass),bAlternateSetting 0");
    EXPECT_EQ(texts[5], "    Endpoint 1 (IN/Interrupt/No Synchronization/Data endpoint)");
    EXPECT_EQ(texts[6], "Address 9 (/)") << "both of the disk's configurations were replaced";

    const std::string applied = editor.Apply();
    EXPECT_FALSE(editor.Modified());
    EXPECT_EQ(editor.LastText(), applied);
    orvane::xml::Document doc;
    ASSERT_TRUE(doc.loadXML(applied));
    auto configuration = doc.selectSingleNode("//device[@address=\"7\"]/configuration");
    EXPECT_EQ(configuration.attribute("guid"), guid);
    EXPECT_EQ(configuration.attribute("name"), "Human Interface Device/Boot Interface Subclass");
    EXPECT_EQ(doc.selectNodes("//device[@address=\"7\"]/configuration").size(), 1u);
}

TEST(DeviceTreeEditor, PicksThatChangeNothing) {
    SettingStore store("");
    CDeviceTreeEditor editor(&store);
    editor.Receive(kTree);
    ASSERT_EQ(editor.ExportToFavorites(5, Ids()), 0);
    const std::string before = editor.Text();
    const struct {
        int address, index;
        const char* why;
    } cases[] = {
        {7, 1, "no stored entry 1"},
        {7, -1, "no combo selection"},
        {12, 0, "no device 12"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(editor.PickConfiguration(c.address, c.index)) << c.why;
        EXPECT_EQ(editor.Text(), before) << c.why;
        EXPECT_FALSE(editor.Modified()) << c.why;
    }
    // The disk vanished with a new tree before its configuration was picked.
    editor.Receive("<devices><device address=\"5\"/></devices>");
    EXPECT_FALSE(editor.PickConfiguration(7, 0));
    EXPECT_FALSE(editor.Modified());
    EXPECT_EQ(CDeviceTreeEditor().PickConfiguration(5, 0), false) << "no settings store";
}

TEST(DeviceTreeEditor, NewTreesClearTheModifiedStateAndTheDevices) {
    SettingStore store("");
    CDeviceTreeEditor editor(&store);
    editor.Receive(kTree);
    editor.ExportToFavorites(5, Ids());
    ASSERT_TRUE(editor.PickConfiguration(7, 0));
    ASSERT_TRUE(editor.Modified());
    editor.Receive(kTree);
    EXPECT_FALSE(editor.Modified()) << "an unapplied change is gone with the tree it was made to";
    EXPECT_EQ(editor.StoredIndexOf(7), -1);

    ASSERT_TRUE(editor.PickConfiguration(7, 0));
    editor.Clear();
    EXPECT_FALSE(editor.Modified());
    EXPECT_TRUE(editor.Rows(Ids()).empty());
    EXPECT_EQ(editor.LastText(), kTree) << "a cleared pane keeps the last text";
    EXPECT_FALSE(editor.HasDevice(5));

    editor.Receive("not xml");
    EXPECT_TRUE(editor.Rows(Ids()).empty());
    EXPECT_EQ(editor.LastText(), "not xml");
}

// Two devices that held address 5 in turn: both shown, the later with the
// packet it holds the address from, and each edited on its own.
TEST(DeviceTreeEditor, DevicesThatHeldOneAddressInTurnAreEditedApart) {
    SettingStore store("");
    CDeviceTreeEditor editor(&store);
    editor.Receive(kTree);
    ASSERT_EQ(editor.ExportToFavorites(5, Ids()), 0);
    std::string tree = kTree;
    tree.insert(tree.find("<device address=\"7\""),
                "<device address=\"5\" bcdUSB=\"512\" bDeviceClass=\"0\" bDeviceSubClass=\"0\" bDeviceProtocol=\"0\" "
                "idVendor=\"1\" idPorduct=\"2\" bcdDevice=\"1\" firstPacket=\"4096\"/>");
    editor.Receive(tree);
    const auto rows = editor.Rows(Ids());
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[3].text, "Address 5 (/) 自包 4096 起");
    EXPECT_EQ(rows[0].device, 5);
    EXPECT_EQ(rows[2].device, 5);
    EXPECT_EQ(rows[3].device, CDeviceTreeEditor::DeviceKey(5, 1));
    EXPECT_EQ(rows[4].device, 7);
    ASSERT_TRUE(editor.PickConfiguration(rows[3].device, 0));
    EXPECT_EQ(editor.StoredIndexOf(rows[3].device), 0);
    EXPECT_EQ(editor.StoredIndexOf(5), -1) << "the earlier device keeps its own configuration";
    EXPECT_FALSE(editor.HasDevice(CDeviceTreeEditor::DeviceKey(5, 2)));
}

// A device that held its address again lists the first few records it took it
// from and counts its turns; one that held it throughout adds nothing.
TEST(DeviceTreeEditor, HeldFromTexts) {
    const struct {
        const char* first;
        const char* again;
        const char* text;
    } cases[] = {
        {"", "", ""},
        {"4096", "", " 自包 4096 起"},
        {"", "700 900", " 自包 0、700、900 起，共 3 次"},
        {"100", "200 300 400", " 自包 100、200、300… 起，共 4 次"},
        {"100", "  200 ", " 自包 100、200 起，共 2 次"},
        // Damaged texts count no turns, as the decoding takes none from them.
        {"", "x 700", ""},
        {"100", "x 700", " 自包 100 起"},
        {"4294967296", "", ""},
        {"4294967296", "700", " 自包 0、700 起，共 2 次"},
        {"100", "200 4294967296", " 自包 100 起"},
    };
    for (const auto& c : cases) EXPECT_EQ(CDeviceTreeEditor::HeldFromText(c.first, c.again), c.text) << c.again;
    CDeviceTreeEditor editor;
    editor.Receive("<devices><device address=\"5\" idVendor=\"1\" idPorduct=\"2\" againFrom=\"700 900\"/></devices>");
    const auto rows = editor.Rows(Ids());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "Address 5 (/) 自包 0、700、900 起，共 3 次");
}
