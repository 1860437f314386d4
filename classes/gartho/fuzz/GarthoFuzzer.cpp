// Arbitrary item sequences and bytes through the mass-storage decoder: each
// input byte picks the next item (wrappers, data, NAK runs, PINGs, stalls,
// class requests, strange types) and the bytes after it its payload; then
// every slot describes everything the decoder handed back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "CDecode.h"
#include "CFakeHost.h"
#include "FuzzInput.h"

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
    std::vector<UsbItem*> items;
    while (!in.Empty() && items.size() < 96) {
        const uint8_t op = in.Byte();
        const uint8_t status = (op & 0x80) ? PidNak : (op & 0x40) ? PidNyet : PidAck;
        switch (op & 0x0F) {
        case 0: items.push_back(host.Out(Wrapper(in))); break;
        case 1: items.push_back(host.In(in.Bytes(13))); break;
        case 2: items.push_back(host.In(in.Bytes(in.Byte()), status)); break;
        case 3: items.push_back(host.Out(in.Bytes(in.Byte()), status)); break;
        case 4: items.push_back(host.NakRun((op & 0x10) ? ItemOutTransaction : ItemInTransaction, 1 + in.Byte() % 4)); break;
        case 5: items.push_back(host.Transaction(ItemPingTransaction, status)); break;
        case 6: items.push_back(host.In(in.Bytes(in.Byte()), PidStall)); break;
        case 7: items.push_back(host.Out(in.Bytes(31), kNone)); break;
        case 8: {
            const std::vector<uint8_t> setup = in.Bytes(8);
            items.push_back(host.ControlTransfer(setup, in.Bytes(in.Byte() % 64), 1 + in.Byte() % 64));
            break;
        }
        case 9: items.push_back(host.Transaction(uint16_t(16 + in.Byte() % 240), status, in.Bytes(in.Byte()))); break;
        case 10: items.push_back(host.In(in.Bytes(size_t(in.Byte()) * 16 + in.Byte()))); break;
        case 11: items.push_back(host.Item(uint16_t(257 + in.Byte()), {}, status, in.Bytes(in.Byte()))); break;
        default: items.push_back(host.Out(in.Bytes(in.Byte() % 40))); break;
        }
    }
    gartho::CDecode decoder;
    decoder.SetHost(&host);
    const std::vector<UsbItem*> out = Feed(decoder, items);
    for (UsbItem* item : out) DescribeEverySlot(decoder, item, 4);
    host.FreeDecoderItems(out);
    return 0;
}
