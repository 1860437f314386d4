// A report descriptor and reports through the HID decoder: the input's first
// two bytes give the descriptor's length, the descriptor follows and is sent
// as the interface's report descriptor; then each byte picks the next item
// (input reports, NAK runs, SET_REPORT and other requests, configurations)
// and the bytes after it its payload. Every slot then describes everything
// the decoder handed back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "CClassDecoder.h"
#include "CFakeHost.h"
#include "FuzzInput.h"

using namespace orvane;

namespace {

std::vector<uint8_t> Setup(uint8_t type, uint8_t request, uint16_t value, size_t length)
{
    return {type, request, uint8_t(value), uint8_t(value >> 8), 0, 0, uint8_t(length), uint8_t(length >> 8)};
}

const CUsbIdDatabase& Names()
{
    static const CUsbIdDatabase names = CUsbIdDatabase::FromFile(ORVANE_HID_USAGE_NAMES);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const size_t descriptorBytes = size_t(in.Byte()) | size_t(in.Byte()) << 8;
    const std::vector<uint8_t> descriptor = in.Bytes(descriptorBytes);
    CFakeHost host;
    host.SetDevice(3, 0, BusSpeedLow);
    std::vector<UsbItem*> items = {host.ControlTransfer(Setup(0x81, 6, 0x2200, descriptor.size()), descriptor)};
    hid::CClassDecoder decoder(&Names());
    decoder.SetHost(&host);
    while (!in.Empty() && items.size() < 24) {
        const uint8_t op = in.Byte();
        const uint8_t status = (op & 0x80) ? PidNak : PidAck;
        switch (op & 0x07) {
        case 0:
        case 1: items.push_back(host.In(in.Bytes(in.Byte() % 72), status)); break;
        case 2: items.push_back(host.NakRun(ItemInTransaction, 1 + in.Byte() % 3)); break;
        case 3: {
            const uint16_t value = uint16_t(in.Byte() | in.Byte() << 8);
            const std::vector<uint8_t> report = in.Bytes(in.Byte() % 72);
            items.push_back(host.ControlTransfer(Setup(0x21, 9, value, report.size()), report, 8));
            break;
        }
        case 4: {
            const std::vector<uint8_t> setup = in.Bytes(8);
            items.push_back(host.ControlTransfer(setup, in.Bytes(in.Byte() % 64), 1 + in.Byte() % 64));
            break;
        }
        case 5: {
            std::vector<uint8_t> configuration = in.Bytes(in.Byte() % 40);
            decoder.OnNotify(NotifyConfiguration, configuration.data(), intptr_t(configuration.size()));
            break;
        }
        case 6: items.push_back(host.Out(in.Bytes(in.Byte() % 16), status)); break;
        default: items.push_back(host.Item(uint16_t(256 + in.Byte() % 16), {}, status, in.Bytes(in.Byte() % 16))); break;
        }
    }
    const std::vector<UsbItem*> out = Feed(decoder, items);
    for (UsbItem* item : out) DescribeEverySlot(decoder, item, 3);
    // A second decoder that never saw the descriptor finds it beside the reports.
    // The items stand under one parent for the search, as the transfer level does.
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    for (UsbItem* item : out) {
        root.children.push_back(item);
        item->parent = &root;
    }
    hid::CClassDecoder late(&Names());
    late.SetHost(&host);
    for (size_t i = 0; i < out.size() && i < 4; ++i) {
        std::string xml;
        late.GetDetail(out[i], xml);
    }
    for (UsbItem* item : out) item->parent = nullptr;
    root.children.clear();
    host.FreeDecoderItems(out);
    return 0;
}
