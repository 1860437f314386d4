// The plug-in, loaded from the build's "classes" folder, through the suite
// every class decoder passes.
#include "ClassDecoderSuite.h"
#include "GarthoWire.h"

using namespace orvane;
using namespace orvane::gartho::testing;

namespace {

ClassSuiteConfig GarthoSuite()
{
    auto config = ClassSuiteConfig::FromPluginFolder(ORVANE_CLASSES_DIR, 8, 6, 0x50);
    config.session = [](CFakeHost& h) {
        h.SetDevice(5, 0);
        const uint8_t getMaxLun[] = {0xA1, 0xFE, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
        const std::vector<uint8_t> capacity = {0x00, 0x03, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00};
        const std::vector<uint8_t> modeSense = {0x0B, 0x00, 0x00, 0x08, 0x1C, 0x06, 0x00, 0x05, 0x03, 0, 0, 0};
        const std::vector<uint8_t> formatList = {0, 0, 0, 16, 0x00, 0x03, 0xD0, 0x00, 0x02, 0x00, 0x02, 0x00,
                                                 0x00, 0x00, 0x0B, 0x40, 0x00, 0x00, 0x02, 0x00};
        return std::vector<UsbItem*>{
            h.ControlTransfer(getMaxLun, {0}),
            h.Out(Cbw({0x12, 0, 0, 0, 36, 0}, 36, true, 1)), h.In(std::vector<uint8_t>(36, 0x20)), h.In(Csw(1)),
            h.Out(Cbw({0x00}, 0, false, 2)), h.NakRun(ItemInTransaction, 2), h.In(Csw(2)),
            h.Out(Cbw({0x25}, 8, true, 3)), h.In(capacity), h.In(Csw(3)),
            h.Out(Cbw({0x1A, 0, 0x1C, 0, 12, 0}, 12, true, 4)), h.In(modeSense), h.In(Csw(4)),
            h.Out(Cbw({0x23, 0, 0, 0, 0, 0, 0, 0, 20}, 20, true, 5)), h.In(formatList), h.In(Csw(5)),
            h.Out(Cbw(Read10(0x1000, 2), 1024, true, 6)), h.In(std::vector<uint8_t>(512, 1)),
            h.In(std::vector<uint8_t>(512, 2)), h.In(Csw(6)),
            h.Out(Cbw(Write10(0x2000, 1), 512, false, 7)), h.Transaction(ItemPingTransaction, PidAck),
            h.Out(std::vector<uint8_t>(512, 3)), h.In(Csw(7, 1, 512)),
            h.Out(Cbw({0x35}, 0, false, 8)), h.In(Csw(8)),
        };
    };
    return config;
}

}  // namespace

ORVANE_CLASS_DECODER_SUITE(Gartho, GarthoSuite());
