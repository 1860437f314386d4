// Arbitrary item sequences and bytes through the mass-storage decoder: each
// input byte picks the next item (wrappers, data, NAK runs, PINGs, stalls,
// class requests, strange types) and the bytes after it its payload; then
// every slot describes everything the decoder handed back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "CDecode.h"
#include "FuzzItems.h"

using namespace orvane;

namespace {

// A wrapper with the input's flags, length and command block behind a real signature.
std::vector<uint8_t> Wrapper(FuzzInput& in)
{
    std::vector<uint8_t> cbw = {0x55, 0x53, 0x42, 0x43};
    const std::vector<uint8_t> rest = in.Bytes(27);
    cbw.insert(cbw.end(), rest.begin(), rest.end());
    cbw.resize(31, 0);
    return cbw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    CFakeHost host;
    host.SetDevice(3, 0);
    const std::vector<UsbItem*> items = FuzzItems(in, host, 96, [&](uint8_t op, uint8_t status) -> UsbItem* {
        switch (op & 0x0F) {
        case 0: return host.Out(Wrapper(in));
        case 1: return host.In(in.Bytes(13));
        case 2: return host.In(in.Bytes(in.Byte()), status);
        case 3: return host.Out(in.Bytes(in.Byte()), status);
        case 6: return host.In(in.Bytes(in.Byte()), PidStall);
        case 7: return host.Out(in.Bytes(31), kNone);
        default: return host.Out(in.Bytes(in.Byte() % 40));
        }
    });
    gartho::CDecode decoder;
    decoder.SetHost(&host);
    const std::vector<UsbItem*> out = Feed(decoder, items);
    for (UsbItem* item : out) DescribeEverySlot(decoder, item, 4);
    host.FreeDecoderItems(out);
    return 0;
}
