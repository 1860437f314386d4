// The shared suite run on the frame's test plug-in, so the suite itself is
// known to pass a sound decoder before the class plug-ins rely on it.
#include "ClassDecoderSuite.h"

namespace {

orvane::ClassSuiteConfig TestPluginSuite()
{
    auto config = orvane::ClassSuiteConfig::FromPluginFolder(ORVANE_FIXTURE_DIR, 3, 0, 0);
    config.cls = 3;
    config.subclass = -1;
    config.protocol = -1;
    config.session = [](orvane::CFakeHost& host) {
        host.SetDevice(4, 0);
        return std::vector<orvane::UsbItem*>{host.In({0xA5, 0x03, 0x00}), host.In({0x01}),
                                             host.NakRun(orvane::ItemInTransaction, 2), host.In({0x02, 0x10, 0x00})};
    };
    return config;
}

}  // namespace

ORVANE_CLASS_DECODER_SUITE(TestPlugin, TestPluginSuite());
