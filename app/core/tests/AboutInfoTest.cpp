// The About box's texts: analyser identity, program and plug-in versions.
#include <gtest/gtest.h>

#include <algorithm>

#include "AboutInfo.h"
#include "CDecodeFactory.h"
#include "CUsbIdDatabase.h"
#include "NullDevice.h"

using namespace orvane;
using namespace orvane::app;

namespace {

struct InfoDevice final : test::NullDevice {
    DeviceInfo info;
    bool answers = true;
    int32_t GetDeviceInfo(DeviceInfo* out) override {
        if (answers) *out = info;
        return answers;
    }
};
}  // namespace

TEST(AboutInfo, AnalyserFields) {
    const struct {
        uint32_t model, firmware, config, serial;
        const char *modelText, *firmwareText, *configText, *serialText;
    } rows[] = {
        {0x1220, 0x01020304, 0x0A000001, 12345, "Orvane-II", "1.2.3.4", "10.0.0.1", "12345"},
        {0x0103, 0, 0xFFFFFFFF, 0, "1.3", "0.0.0.0", "255.255.255.255", "0"},
        {0xABCD1220, 0xFF000000, 1, 4294967295u, "18.32", "255.0.0.0", "0.0.0.1", "4294967295"},
    };
    for (const auto& row : rows) {
        InfoDevice device;
        device.info.model = row.model;
        device.info.firmwareVersion = row.firmware;
        device.info.configVersion = row.config;
        device.info.serialNumber = row.serial;
        const AboutInfo about = CollectAboutInfo(&device, nullptr, CUsbIdDatabase());
        EXPECT_EQ(about.model, row.modelText);
        EXPECT_EQ(about.firmware, row.firmwareText);
        EXPECT_EQ(about.algorithm, row.configText);
        EXPECT_EQ(about.serial, row.serialText);
        EXPECT_EQ(about.programVersion, ORVANE_VERSION);
    }
    InfoDevice silent;
    silent.answers = false;
    for (IDevice* device : {static_cast<IDevice*>(&silent), static_cast<IDevice*>(nullptr)}) {
        const AboutInfo about = CollectAboutInfo(device, nullptr, CUsbIdDatabase());
        for (const std::string* text : {&about.firmware, &about.algorithm, &about.model, &about.serial})
            EXPECT_EQ(*text, AboutInfo::kUnknown);
        EXPECT_TRUE(about.plugins.empty());
    }
}

TEST(AboutInfo, PluginsInFactoryOrderWithNamesAndVersions) {
    const CUsbIdDatabase ids = CUsbIdDatabase::FromFile(ORVANE_SOURCE_DIR "/engine/tests/data/usb.ids");
    CDecodeFactory factory;  // the fixture decoders beside the test program
    const AboutInfo about = CollectAboutInfo(nullptr, &factory, ids);
    ASSERT_EQ(about.plugins.size(), size_t(factory.GetCount()));
    ASSERT_GE(about.plugins.size(), 2u);
    for (int32_t i = 0; i < factory.GetCount(); ++i) {
        int32_t cls = 0, subclass = 0, protocol = 0;
        factory.GetInfo(i, &cls, &subclass, &protocol);
        std::string path;
        factory.GetPath(&path, i);
        const AboutInfo::Plugin& plugin = about.plugins[size_t(i)];
        EXPECT_EQ(plugin.className, ids.GetClassName(cls));
        EXPECT_EQ(plugin.subclassName, ids.GetSubClassName(cls, subclass));
        EXPECT_EQ(plugin.protocolName, ids.GetProtocolName(cls, subclass, protocol));
        // The flaky fixture defines its export by hand, without a version.
        const bool versioned = path.find("f_flaky") == std::string::npos;
        EXPECT_EQ(plugin.version, versioned ? ORVANE_VERSION : "") << path;
    }
    EXPECT_TRUE(std::any_of(about.plugins.begin(), about.plugins.end(),
                            [](const AboutInfo::Plugin& p) { return p.className == "Human Interface Device"; }));
    EXPECT_EQ(ReadFileVersion("/nonexistent.so"), "");
    EXPECT_EQ(ReadFileVersion(""), "");
}
