// The plug-in as the program uses it: loaded by the factory from the build's
// "classes" folder and driven by the decoder manager over the emulated
// camera's session, whose decoded transfer level is kept as a golden dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "DecodedCapture.h"
#include "Document.h"
#include "GoldenDump.h"

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kFirstOperation = 0x1000;

emu::BusCapture CameraSession(SpeedCode speed, int operations, double damage, uint32_t seed = 1)
{
    emu::SessionBuilder::Options options;
    options.kind = emu::SessionBuilder::Kind::Camera;
    options.speed = speed;
    options.operations = operations;
    options.damageRate = damage;
    options.seed = seed;
    return emu::SessionBuilder(options).Build();
}

class Decoded : public DecodedCapture {
public:
    explicit Decoded(emu::BusCapture capture) : DecodedCapture(std::move(capture), ORVANE_CLASSES_DIR) {}

    std::vector<UsbItem*> Operations()
    {
        std::vector<UsbItem*> ops;
        for (UsbItem* item : transfers.root.children)
            if (item->type >= kFirstOperation || item->type == 257) ops.push_back(item);
        return ops;
    }
    // The decoded fields of an item, one "group/name=value" a line.
    std::string Fields(UsbItem* item)
    {
        std::string xml;
        if (!Manager().GetDetail(item, xml)) return {};
        xml::Document d;
        EXPECT_TRUE(d.loadXML(xml)) << xml;
        std::ostringstream out;
        for (const auto& group : d.selectNodes("/groups/group"))
            for (const auto& field : group.selectNodes("item"))
                out << group.attribute("name").value_or("") << '/' << field.attribute("name").value_or("") << '='
                    << field.attribute("value").value_or("") << " @" << field.attribute("offset").value_or("") << '+'
                    << field.attribute("bits").value_or("") << '\n';
        return out.str();
    }
    std::string Value(UsbItem* item, const std::string& name)
    {
        const std::string fields = Fields(item);
        const size_t at = fields.find('/' + name + '=');
        if (at == std::string::npos) return "<missing " + name + ">";
        const size_t start = at + name.size() + 2;
        return fields.substr(start, fields.find(" @", start) - start);
    }
    UsbItem* Phase(UsbItem* op, uint16_t type)
    {
        for (UsbItem* child : op->children)
            if (child->type == type) return child;
        return nullptr;
    }
};

TEST(PalvineCapture, TheFactoryFindsThePluginForStillImageInterfaces)
{
    CDecodeFactory factory(ORVANE_CLASSES_DIR);
    const int32_t index = factory.Find(6, 1, 1);
    ASSERT_GE(index, 0);
    std::string path;
    factory.GetPath(&path, index);
    EXPECT_EQ(fs::path(path).filename(), "palvine.so");
    EXPECT_LT(factory.Find(6, 1, 2), 0);
}

// Every operation named, with its phases, and every packet once.
TEST(PalvineCapture, TheEmulatedCameraSessionDecodesOperationByOperation)
{
    for (SpeedCode speed : {SpeedHigh, SpeedFull}) {
        SCOPED_TRACE(speed == SpeedHigh ? "high speed" : "full speed");
        Decoded decoded(CameraSession(speed, 12, 0));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);
        const std::vector<UsbItem*> ops = decoded.Operations();
        std::vector<std::string> names;
        for (UsbItem* op : ops) names.push_back(decoded.Row(op).name);
        EXPECT_EQ(names, (std::vector<std::string>{"GetDeviceInfo", "OpenSession", "GetStorageIDs", "GetStorageInfo",
                                                   "GetObjectHandles", "GetObjectInfo", "GetObjectInfo",
                                                   "GetObjectInfo", "GetObject", "GetObjectInfo", "GetObject",
                                                   "CloseSession"}));
        size_t events = 0;
        for (UsbItem* op : ops) {
            const ItemSummary row = decoded.Row(op);
            SCOPED_TRACE(row.name);
            EXPECT_EQ(row.status, StatusOk) << "no length errors on a clean session";
            ASSERT_FALSE(op->children.empty());
            EXPECT_EQ(op->children[0]->type, 258);
            ASSERT_TRUE(decoded.Phase(op, 260));
            EXPECT_EQ(decoded.Value(decoded.Phase(op, 260), "ResponseCode"), "OK");
            if (UsbItem* event = decoded.Phase(op, 261)) {
                ++events;
                EXPECT_EQ(decoded.Value(event, "EventCode"), "ObjectAdded");
                EXPECT_EQ(decoded.Row(event).endpoint, 3) << "the event comes on the interrupt pipe";
            }
            UsbItem* data = decoded.Phase(op, 259);
            EXPECT_EQ(data != nullptr, op->type != 0x1002 && op->type != 0x1003);
            if (data) {
                EXPECT_EQ(decoded.Row(data).size, decoded.Row(op).size);
            }
        }
        EXPECT_EQ(events, 1u);

        EXPECT_EQ(decoded.Value(ops[0], "Manufacturer.StringChars"), "Orvane Test");
        EXPECT_EQ(decoded.Value(ops[0], "OperationsSupported[8]"), "GetObject");
        EXPECT_EQ(decoded.Value(ops[2], "StorageID[0]"), "0x00010001");
        EXPECT_EQ(decoded.Value(ops[3], "MaxCapacity"), "8.00 GB(8589934592 bytes)");
        EXPECT_EQ(decoded.Value(ops[4], "NumObjectHandle"), "3");
        // Each GetObject's data are the size the ObjectInfo before it announced.
        for (size_t i : {8u, 10u}) {
            const std::string announced = decoded.Value(ops[i - 1], "ObjectCompressedSize");
            const int32_t size = decoded.Row(ops[i]).size;
            EXPECT_GT(size, 180 * 1024);
            EXPECT_NE(announced.find("(" + std::to_string(size - 12) + " bytes)"), std::string::npos) << announced;
            EXPECT_EQ(decoded.Value(ops[i], "Data"), announced);
            EXPECT_EQ(decoded.Data(ops[i]).size(), size_t(size));
        }
    }
}

TEST(PalvineCapture, DamagedPacketsLoseNothing)
{
    for (uint32_t seed : {2u, 3u}) {
        Decoded decoded(CameraSession(SpeedHigh, 10, 0.05, seed));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);
        EXPECT_GE(decoded.Operations().size(), 10u);
    }
}

// The transfer level of the session as the list and the detail pane show
// it: each row, and below each class-level item its phases with their fields.
void Dump(Decoded& decoded, const UsbItem& parent, const std::string& indent, std::ostringstream& out)
{
    for (UsbItem* item : parent.children) {
        // The transactions of a phase are counted, not listed.
        if (!indent.empty() && item->type <= ItemControlTransfer) continue;
        const ItemSummary row = decoded.Row(item);
        out << indent << item->firstRecord << " t" << item->type << " a" << row.address << " e" << row.endpoint
            << " s" << row.status << " n" << row.size << " k" << item->children.size() << ' ' << row.name << '\n';
        if (item->type <= ItemControlTransfer) continue;
        std::istringstream fields(decoded.Fields(item));
        for (std::string line; std::getline(fields, line);) out << indent << "  | " << line << '\n';
        Dump(decoded, *item, indent + "  ", out);
    }
}

TEST(PalvineCapture, TheCameraSessionMatchesItsGoldenDump)
{
    Decoded decoded(CameraSession(SpeedHigh, 8, 0.02));
    std::ostringstream dump;
    Dump(decoded, decoded.transfers.root, "", dump);
    ExpectMatchesGolden(dump.str(), fs::path(ORVANE_PALVINE_GOLDEN) / "camera_session.txt");
}

// The class requests stay control transfers: each row shows the icon of a
// control transfer of its direction, from the list the program draws it with.
TEST(PalvineCapture, ClassRequestsShowTheIconsOfTheirList)
{
    using S = emu::SessionBuilder;
    const std::vector<uint8_t> configuration = {9, 2, 39, 0, 1, 1, 0, 0xC0, 1, 9, 4, 0, 0, 3, 6, 1, 1, 0,
                                                7, 5, 0x81, 2, 64, 0, 0, 7, 5, 0x02, 2, 64, 0, 0,
                                                7, 5, 0x83, 3, 8, 0, 10};
    emu::BusTrafficBuilder b(SpeedFull);
    Decoded::Enumerate(b, 9, configuration);
    b.ControlTransfer(9, S::SetupPacket(0x21, 0x64, 0, 0, 6), {0x01, 0x40, 5, 0, 0, 0});
    b.ControlTransfer(9, S::SetupPacket(0xA1, 0x67, 0, 0, 4), {4, 0, 0x01, 0x20});
    Decoded decoded(b.Take());
    decoded.ExpectEveryIconInItsList();
    std::vector<std::string> rows;
    for (UsbItem* item : decoded.transfers.root.children) {
        const ItemSummary row = decoded.Row(item);
        if (row.name == "Cancel" || row.name == "GetDeviceStatus") rows.push_back(row.name + " " + std::to_string(row.icon));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"Cancel 24", "GetDeviceStatus 25"}));
}

}  // namespace
