// The still-image decoder: regroups the bulk and interrupt transactions of a
// still-image interface into operations of up to four phases (command, data,
// response, event), summarises them for the list, hands out their bytes and
// describes their containers and datasets.
#pragma once

#include <cstdint>
#include <vector>

#include "CClassDecoderBase.h"

namespace orvane::palvine {

// Item types of this decoder; an operation is typed with its OperationCode.
enum : uint16_t {
    TypeOperation = 257,  // an operation whose command container is not one
    TypeCommandPhase = 258,
    TypeDataPhase = 259,
    TypeResponsePhase = 260,
    TypeEventPhase = 261,
    TypeFirstOperationCode = 0x1000,
};

// A data phase above this many bytes asks the data pane for 10 bytes more.
constexpr uint32_t kSizeHintThreshold = 0x100000;

class CClassDecoder : public CClassDecoderBase {
public:
    CClassDecoder();

    // Whether an operation is waiting for its end.
    bool HasPending() const { return !pending_.empty(); }

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    int32_t Notify(int32_t code, void* arg, intptr_t param) override;
    // A class request stays a control transfer: its row carries the host's icon.
    const ImageList* ItemImages(UsbItem* item) override { return ImagesByOwner(item); }
    bool ShowsDataOf(const UsbItem& item, const UsbItem& child) override;
    UsbItem* Transaction(UsbItem* item) override;

private:
    using Cursor = std::vector<UsbItem*>::const_iterator;

    UsbItem* BuildOperation();
    UsbItem* CollectCommandPhase(Cursor& front);
    UsbItem* CollectResponsePhase(Cursor front, Cursor& back);
    UsbItem* CollectDataPhase(Cursor front, Cursor back);
    // An IN the device answered with data: it ends what the host sent before.
    bool CarriesData(UsbItem* in);

    void SummarizePhase(UsbItem* item, ItemSummary& out);
    void SummarizeOperation(UsbItem* item, ItemSummary& out);
    int32_t SummarizeClassRequest(UsbItem* item, ItemSummary& out);
    // Whether a phase's container Length is its payload's byte count.
    bool ContainerLengthMatches(UsbItem* phase);

    bool DescribeContainer(UsbItem* phase, CDecodeResultWriter& document);
    bool DescribeDataPhase(UsbItem* item, const std::string& title, CDecodeResultWriter& document);
    bool DescribeClassRequest(UsbItem* transfer, CDecodeResultWriter& document);
    // The OperationCode of the operation a response or event phase belongs to; 0 when not known.
    uint32_t OperationCodeOf(const UsbItem* phase);

    // The transactions since the last operation was built, in arrival order;
    // they belong to the transaction-level tree.
    std::vector<UsbItem*> pending_;
    bool inSeen_ = false;
};

}  // namespace orvane::palvine
