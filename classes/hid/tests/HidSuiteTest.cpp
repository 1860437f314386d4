// The plug-in, loaded from the build's "classes" folder, through the suite
// every class decoder passes.
#include "ClassDecoderSuite.h"
#include "HidTestData.h"

using namespace orvane;
using namespace orvane::hid::testing;

namespace {

std::vector<uint8_t> SetupBytes(uint8_t type, uint8_t request, uint16_t value, uint16_t length)
{
    return {type, request, uint8_t(value), uint8_t(value >> 8), 0, 0, uint8_t(length), uint8_t(length >> 8)};
}

ClassSuiteConfig HidSuite()
{
    auto config = ClassSuiteConfig::FromPluginFolder(ORVANE_CLASSES_DIR, 3, -1, -1);
    // A boot keyboard: its first interface says protocol 1.
    config.configuration = {9, 2, 34, 0, 1, 1, 0, 0xA0, 50, 9, 4, 0, 0, 1, 3, 1, 1, 0};
    // OUT traffic of the interface is not placed at the transfer level.
    config.keepsEverything = false;
    config.session = [](CFakeHost& h) {
        h.SetDevice(4, 0, BusSpeedLow);
        return std::vector<UsbItem*>{
            h.ControlTransfer(SetupBytes(0x21, 0x0A, 0, 0)),
            h.ControlTransfer(SetupBytes(0x81, 6, 0x2200, uint16_t(kBootKeyboard.size())), kBootKeyboard, 8),
            h.NakRun(ItemInTransaction, 3),
            h.In({0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}),
            h.In({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
            h.ControlTransfer(SetupBytes(0x21, 0x09, 0x0200, 1), {0x02}),
            h.NakRun(ItemInTransaction, 2),
            h.ControlTransfer(SetupBytes(0xA1, 0x01, 0x0100, 8), std::vector<uint8_t>(8, 0)),
            h.Out({0x01}),
            h.NakRun(ItemInTransaction, 1),
        };
    };
    return config;
}

}  // namespace

ORVANE_CLASS_DECODER_SUITE(Hid, HidSuite());
