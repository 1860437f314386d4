// Arbitrary containers and datasets through the still-image decoder: each
// input byte picks the next item (commands of any code, data, responses and
// events with the input's parameters and datasets, bare bytes, NAKed tries
// and polls, NAK runs, PINGs, class requests, strange types) and the bytes
// after it its payload; then every slot describes everything the decoder
// handed back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "CClassDecoder.h"
#include "FuzzItems.h"

using namespace orvane;

namespace {

// A container of the input's type and code around the input's bytes, with a
// Length that is right, or the input's own.
std::vector<uint8_t> Container(FuzzInput& in, uint16_t type, size_t bytes)
{
    const uint8_t op = in.Byte();
    // The codes the decoder knows datasets of, and any other.
    static const uint16_t kCodes[] = {0x1001, 0x1004, 0x1005, 0x1007, 0x1008, 0x100C, 0x1014, 0x1015,
                                      0x1009, 0x1006, 0x9801, 0x4002, 0x2001, 0xC001, 0x5001};
    uint16_t code = kCodes[op % std::size(kCodes)];
    if (op & 0x80) code = uint16_t(in.Byte() | in.Byte() << 8);
    std::vector<uint8_t> body = in.Bytes(bytes);
    uint32_t length = uint32_t(12 + body.size());
    if (op & 0x40) length = uint32_t(in.Byte()) | uint32_t(in.Byte()) << 24;
    std::vector<uint8_t> c = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24),
                              uint8_t(type), uint8_t(type >> 8), uint8_t(code), uint8_t(code >> 8),
                              in.Byte(), 0, 0, 0};
    c.insert(c.end(), body.begin(), body.end());
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    CFakeHost host;
    host.SetDevice(3, 0);
    const std::vector<UsbItem*> items = FuzzItems(in, host, 64, [&](uint8_t op, uint8_t status) -> UsbItem* {
        switch (op & 0x0F) {
        case 0: return host.Out(Container(in, 1, 4 * (in.Byte() % 6)), status);
        case 1: return host.In(Container(in, 2, in.Byte() * 2u));
        case 2: return host.In(Container(in, 3, 4 * (in.Byte() % 6)), status);
        case 3: return host.In(Container(in, 4, in.Byte() % 28));
        case 6: return host.In(in.Bytes(in.Byte()), status);
        case 7: return host.Out(in.Bytes(in.Byte()), status);
        case 12: {
            // A class request of the still-image class with the input's data.
            std::vector<uint8_t> setup = {uint8_t((op & 0x10) ? 0xA1 : 0x21), uint8_t(0x64 + in.Byte() % 4), 0, 0, 0, 0};
            const std::vector<uint8_t> body = in.Bytes(in.Byte() % 48);
            setup.push_back(uint8_t(body.size()));
            setup.push_back(0);
            return host.ControlTransfer(setup, body, 1 + in.Byte() % 64);
        }
        default: return host.In({}, PidNak);
        }
    });
    palvine::CClassDecoder decoder;
    decoder.SetHost(&host);
    const std::vector<UsbItem*> out = Feed(decoder, items);
    // The operations and their phases; what lies below them is the host's.
    for (UsbItem* item : out) DescribeEverySlot(decoder, item, 1);
    host.FreeDecoderItems(out);
    return 0;
}
