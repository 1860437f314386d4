// The emulated analyser's sessions as a new user meets them (and as the
// demonstration projects are recorded): captured with the default settings, as
// a new project's first capture is, through the class plug-ins of the build,
// each shows its device learned and its class rows at the transfer level.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "CDecodeFactory.h"
#include "CDemoCapture.h"
#include "SetupXml.h"

using namespace orvane;
using namespace orvane::app;

namespace {

int Count(const UsbItem& root, const std::function<bool(uint16_t)>& test) {
    int n = 0;
    for (const UsbItem* child : root.children) n += (test(child->type) ? 1 : 0) + Count(*child, test);
    return n;
}

}  // namespace

TEST(DemoSessions, EachShowsItsDeviceAndClassRowsWithTheSettingsItIsRecordedWith) {
    const std::map<std::string, std::function<bool(uint16_t)>> classRows = {
        {"mouse", [](uint16_t t) { return t == 267; }},                    // Input Report
        {"disk", [](uint16_t t) { return t >= 0xFF00; }},                  // a SCSI command
        {"camera", [](uint16_t t) { return t >= 0x1000 && t < 0x2000; }},  // a PTP operation
        {"audio", [](uint16_t t) { return t >= 513 && t <= 4351; }},       // an audio class request
        {"large-read", [](uint16_t t) { return t == 0xFF00 + 0x28; }},     // READ(10)
    };
    ASSERT_EQ(DemoSessions().size(), classRows.size());
    for (const DemoSession& session : DemoSessions()) {
        EXPECT_EQ(CDemoCapture::Setup(session) == SetupXml::kDefaultText, !session.largeStorage) << session.name;
        CDecodeFactory factory(ORVANE_CLASSES_DIR);
        CDemoCapture capture(session, &factory);
        ASSERT_TRUE(capture.Capture() && capture.DecodeTransfers()) << session.name;
        const std::string tree = capture.Doc().GetConfiguration();
        EXPECT_NE(tree.find("address=\"5\""), std::string::npos) << session.name << ": " << tree;
        EXPECT_NE(tree.find("idVendor=\"4617\""), std::string::npos) << session.name << ": the device descriptor was kept";
        EXPECT_NE(tree.find("<interface"), std::string::npos) << session.name << ": the configuration was kept";
        EXPECT_GT(Count(capture.Doc().TransferRoot(), classRows.at(session.name)), 0) << session.name;
        if (!session.largeStorage) continue;
        int32_t largest = 0;
        for (UsbItem* item : capture.Doc().TransferRoot().children) {
            ItemSummary row;
            if (item->type == 0xFF00 + 0x28 && capture.Doc().Manager().Summarize(item, &row))
                largest = std::max(largest, row.size);
        }
        EXPECT_EQ(largest, 4 * 1024 * 1024) << "the READ(10) whole";
    }
}
