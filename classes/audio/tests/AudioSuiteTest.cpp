// The plug-in, loaded from the build's "classes" folder, through the suite
// every class decoder passes.
#include "AudioTestData.h"
#include "ClassDecoderSuite.h"

using namespace orvane;
using namespace orvane::audio::testing;

namespace {

ClassSuiteConfig AudioSuite()
{
    auto config = ClassSuiteConfig::FromPluginFolder(ORVANE_CLASSES_DIR, 1, -1, 0);
    config.configuration = kSpeaker;
    config.session = [](CFakeHost& h) {
        h.SetDevice(6, 0, BusSpeedFull);
        const Bytes eq = {0x05, 0x00, 0x00, 0x20, 0x04, 0xF8, 0x7F};
        return std::vector<UsbItem*>{
            h.ControlTransfer(SetupBytes(0x01, 0x0B, 1, 1, 0)),
            h.ControlTransfer(SetupBytes(0xA1, 0x82, 0x0201, 0x0500, 2), {0x00, 0xC4}),
            h.ControlTransfer(SetupBytes(0x21, 0x01, 0x0200, 0x0500, 2), {0x00, 0xF6}),
            h.ControlTransfer(SetupBytes(0x21, 0x01, 0x01FF, 0x0500, 3), {1, 0, 1}),
            h.ControlTransfer(SetupBytes(0x21, 0x01, 0x0600, 0x0500, 7), eq),
            h.ControlTransfer(SetupBytes(0xA1, 0x81, 0x0102, 0x0400, 2), {0x00, 0x01}),
            h.ControlTransfer(SetupBytes(0x21, 0x01, 0x0400, 0x0700, 1), {3}),
            h.ControlTransfer(SetupBytes(0x21, 0x01, 0x0100, 0x0100, 1), {1}),
            h.ControlTransfer(SetupBytes(0x22, 0x01, 0x0100, 0x0001, 3), {0x44, 0xAC, 0x00}),
            h.ControlTransfer(SetupBytes(0xA1, 0x85, 0x0010, 0x0401, 4), {1, 2, 3, 4}),
            h.ControlTransfer(SetupBytes(0xA1, 0x81, 0x0200, 0x0900, 2), {0, 0}),
            h.NakRun(ItemOutTransaction, 2),
            h.Transaction(ItemOutTransaction, kNone, Bytes(192, 0x40)),
            h.Transaction(ItemOutTransaction, kNone, Bytes(192, 0x41)),
            h.ControlTransfer(SetupBytes(0xC1, 0x81, 0, 0, 1), {9}),
        };
    };
    return config;
}

}  // namespace

ORVANE_CLASS_DECODER_SUITE(Audio, AudioSuite());
