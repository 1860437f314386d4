// Arbitrary packet records and payload bytes through the whole engine: parse
// with learning, every description of every item, then class decoding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"

using namespace orvane;

namespace {

// Enough records for every transaction, split and transfer shape and a
// learned device or two; more only make an input slower, not more telling.
constexpr size_t kMaxRecords = 32;

struct Sink {
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    AppendingSink sink{root};
};

void Describe(IDecode& decoder, UsbItem* item) {
    uint8_t bytes[512];
    ItemSummary row;
    decoder.Summarize(item, &row);
    decoder.GetData(item, bytes, sizeof bytes);
    std::string xml;
    decoder.GetDetail(item, xml);
    decoder.GetImageList(item);
}

void DescribeAll(IDecode& decoder, const UsbItem& root) {
    for (UsbItem* top : root.children) {
        UsbItem* stack[64];
        int depth = 0;
        stack[depth++] = top;
        while (depth) {
            UsbItem* item = stack[--depth];
            Describe(decoder, item);
            for (UsbItem* child : item->children)
                if (depth < 64) stack[depth++] = child;
        }
    }
}

// The transfer level's own rows; what lies below them is the transaction
// level's, described already.
void DescribeTransferLevel(IDecode& decoder, const UsbItem& root) {
    for (UsbItem* top : root.children) Describe(decoder, top);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t payloadBytes = (data[0] | data[1] << 8) % 4096;
    data += 2;
    size -= 2;
    if (payloadBytes > size) payloadBytes = size;
    emu::BusCapture capture;
    capture.payload.assign(data, data + payloadBytes);
    data += payloadBytes;
    size -= payloadBytes;
    capture.records.resize(std::min(size / 16, kMaxRecords));
    if (!capture.records.empty()) std::memcpy(capture.records.data(), data, capture.records.size() * 16);

    emu::CaptureSource source(std::move(capture));
    CUsbParser parser;
    parser.SetDataSource(&source);
    Sink transactions;
    parser.Parse(&transactions.sink);
    std::string tree;
    parser.GetDeviceTree(tree);
    DescribeAll(parser, transactions.root);

    CDecoderManager manager(nullptr);
    manager.LoadDeviceTree(tree);
    manager.SetHost(&parser);
    manager.SetRoot(&transactions.root);
    Sink transfers;
    manager.DecodeAll(&transfers.sink);
    DescribeTransferLevel(manager, transfers.root);

    FreeTransferLevel(&transfers.root);
    manager.ReleaseDecoders();
    FreeChildren(&transactions.root);
    return 0;
}
