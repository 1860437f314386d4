// The plug-in as the program uses it: loaded by the factory from the build's
// "classes" folder and driven by the decoder manager over the emulated mouse
// session and the real low-speed mouse capture.
#include <gtest/gtest.h>

#include "DecodedCapture.h"
#include "HidTestData.h"

using namespace orvane;
using namespace orvane::testing;
using namespace orvane::hid::testing;

namespace {

class Decoded : public DecodedCapture {
public:
    using DecodedCapture::DecodedCapture;
    std::vector<DetailGroup> Groups(UsbItem* item) { return ReadDetail(Detail(item)); }
};

// The report descriptor's listing and layout, and every input report as
// three buttons and X/Y whose values are the report's bytes.
void ExpectMouseDecoded(Decoded& decoded, size_t minimumReports)
{
    size_t reports = 0, descriptors = 0;
    for (UsbItem* item : decoded.transfers.root.children) {
        UsbItem* transfer = item;
        if (item->type == 269 && !item->children.empty() && item->children[0]->type != ItemSetupTransaction)
            transfer = item->children.back();
        if (transfer->type == ItemControlTransfer && decoded.Row(item).name == "GetDescriptor ( Report )") {
            ++descriptors;
            const auto groups = decoded.Groups(item);
            ASSERT_GE(groups.size(), 2u);
            EXPECT_EQ(groups[0].name, "HID Report Descriptor");
            EXPECT_FALSE(groups[0].items.empty());
            EXPECT_EQ(groups[1].name, "Input Report 0");
        }
        if (item->type != 267) continue;
        ++reports;
        const ItemSummary row = decoded.Row(item);
        EXPECT_EQ(row.name, "Input Report");
        EXPECT_EQ(row.icon, 1);
        const std::vector<uint8_t> data = decoded.Data(item);
        const auto groups = decoded.Groups(item);
        ASSERT_EQ(groups.size(), 1u) << "report at record " << item->firstRecord;
        const auto& fields = groups[0].items;
        ASSERT_GE(fields.size(), 6u);
        ASSERT_GE(data.size(), 3u);
        for (int button = 0; button < 3; ++button)
            EXPECT_EQ(fields[button].value, std::to_string((data[0] >> button) & 1));
        auto field = [&](const std::string& name) -> const DetailItem* {
            for (const DetailItem& f : fields)
                if (f.name == name) return &f;
            return nullptr;
        };
        const DetailItem* x = field("Direction-X");
        const DetailItem* y = field("Direction-Y");
        ASSERT_TRUE(x && y);
        EXPECT_EQ(x->value, std::to_string(int8_t(data[1])));
        EXPECT_EQ(y->value, std::to_string(int8_t(data[2])));
        EXPECT_EQ(x->offset, 8);
        EXPECT_EQ(y->offset, 16);
    }
    EXPECT_GE(descriptors, 1u);
    EXPECT_GE(reports, minimumReports);
}

TEST(HidCapture, TheFactoryFindsThePluginForEveryHidInterface)
{
    for (const auto& [subclass, protocol] : {std::pair{0, 0}, {1, 1}, {1, 2}})
        EXPECT_EQ(Decoded::PluginFor(3, subclass, protocol), "hid.so") << subclass << "/" << protocol;
}

TEST(HidCapture, TheEmulatedMouseSessionDecodesEveryReport)
{
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "with damaged packets" : "clean");
        Decoded decoded(Decoded::Session(emu::SessionBuilder::Kind::Mouse, SpeedLow, 40, damaged ? 0.05 : 0));
        ExpectEveryRecordOnce(decoded.transfers, decoded.records);
        ExpectMouseDecoded(decoded, damaged ? 20 : 40);
        bool setIdle = false;
        for (UsbItem* item : decoded.transfers.root.children)
            setIdle |= item->type == 269 && decoded.Row(item).name == "SetIdle (  )";
        EXPECT_TRUE(setIdle);
    }
}

TEST(HidCapture, TheRealMouseCaptureDecodesEveryReport)
{
    auto capture = Decoded::RealCapture("usb_ls_mouse");
    if (!capture) GTEST_SKIP() << "real captures not present";
    Decoded decoded(std::move(*capture));
    ExpectEveryRecordOnce(decoded.transfers, decoded.records);
    ExpectMouseDecoded(decoded, 1);
}

}  // namespace
