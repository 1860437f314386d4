// The plug-in, loaded from the build's "classes" folder, through the suite
// every class decoder passes.
#include "ClassDecoderSuite.h"
#include "PtpWire.h"

using namespace orvane;
namespace ptp = orvane::emu::ptp;

namespace {

ClassSuiteConfig PalvineSuite()
{
    auto config = ClassSuiteConfig::FromPluginFolder(ORVANE_CLASSES_DIR, 6, 1, 1);
    config.session = [](CFakeHost& h) {
        h.SetDevice(6, 0);
        ptp::Bytes info;
        ptp::Put16(info, 100);
        ptp::Put32(info, 0);
        ptp::Put16(info, 0);
        ptp::PutString(info, "");
        ptp::Put16(info, 0);
        ptp::PutArray16(info, {0x1001, 0x1002, 0x1009});
        for (int i = 0; i < 4; ++i) ptp::PutArray16(info, {});
        for (const char* s : {"Maker", "Cam", "1", "7"}) ptp::PutString(info, s);
        ptp::Bytes ids;
        ptp::PutArray32(ids, {0x00010001});
        const ptp::Bytes desc = {0x01, 0x50, 0x02, 0x00, 0x00, 100, 80, 0x01, 0, 100, 10};
        const uint8_t cancel[] = {0x21, 0x64, 0, 0, 0, 0, 6, 0};
        const ptp::Bytes object = ptp::Container(ptp::Data, 0x1009, 4, ptp::Bytes(700, 0xA5));
        std::vector<UsbItem*> items = {
            h.Out(ptp::Container(ptp::Command, 0x1001, 0, {})), h.In(ptp::Container(ptp::Data, 0x1001, 0, info)),
            h.In(ptp::Container(ptp::Response, 0x2001, 0, {})),
            h.NakRun(ItemOutTransaction, 2), h.Out(ptp::Container(ptp::Command, 0x1002, 0, {1})),
            h.NakRun(ItemInTransaction, 2), h.In(ptp::Container(ptp::Response, 0x2001, 0, {})),
            h.Out(ptp::Container(ptp::Command, 0x1004, 1, {})), h.In(ptp::Container(ptp::Data, 0x1004, 1, ids)),
            h.In(ptp::Container(ptp::Response, 0x2001, 1, {})),
            h.Out(ptp::Container(ptp::Command, 0x1014, 2, {0x5001})),
            h.In(ptp::Container(ptp::Data, 0x1014, 2, desc)), h.In(ptp::Container(ptp::Response, 0x2001, 2, {})),
            h.ControlTransfer(cancel, {0x01, 0x40, 3, 0, 0, 0}),
            h.Out(ptp::Container(ptp::Command, 0x1009, 4, {0x21})),
            h.In(ptp::Bytes(object.begin(), object.begin() + 512)),
            h.In(ptp::Bytes(object.begin() + 512, object.end())),
            h.In(ptp::Container(ptp::Response, 0x2001, 4, {})),
            h.In(ptp::Container(ptp::Event, 0x4002, 0, {0x22})),
            h.Out(ptp::Container(ptp::Command, 0x1003, 5, {})), h.In(ptp::Container(ptp::Response, 0x2001, 5, {})),
        };
        return items;
    };
    return config;
}

}  // namespace

ORVANE_CLASS_DECODER_SUITE(Palvine, PalvineSuite());
