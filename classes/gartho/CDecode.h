// The mass-storage decoder: follows the bulk-only transport's command, data
// and status phases on one interface, builds one transfer item per command
// with its phase items, names it after its SCSI command and describes it.
#pragma once

#include <cstdint>
#include <vector>

#include "CClassDecoderBase.h"
#include "TransportWalkers.h"

namespace orvane::gartho {

// Item types of this decoder.
enum : uint16_t {
    TypeBulkTransfer = 257,        // traffic with no command wrapper
    TypeCommandTransport = 258,
    TypeDataIn = 259,
    TypeDataOut = 260,
    TypeStatusTransport = 261,
    TypeCommandBase = 0xFF00,      // + the SCSI operation code
};

class CDecode : public CClassDecoderBase {
public:
    CDecode();

    enum State : int32_t { AwaitingCommand = 1, DataInPhase = 2, DataOutPhase = 4 };
    State GetState() const { return state_; }

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    const ImageList* ItemImages(UsbItem* item) override;
    bool ShowsDataOf(const UsbItem& item, const UsbItem& child) override;
    UsbItem* Transaction(UsbItem* item) override;
    void ResetState() override
    {
        state_ = AwaitingCommand;
        wrapperItem_ = nullptr;
    }

private:
    using Cursor = std::vector<UsbItem*>::const_iterator;

    // A command block wrapper's direction, when the OUT item is one.
    bool ReadWrapper(UsbItem* out, bool& dataIn);
    // The wrapper of a command transport: the one ReadWrapper kept when the
    // phase's data are that item's alone, else fetched.
    bool CommandWrapper(UsbItem* command, uint8_t (&cbw)[kCbwBytes]);
    UsbItem* BuildBulkTransfer();
    // A phase item of `type` taking the pending items from `at` to `end`.
    UsbItem* TakePhase(uint16_t type, Cursor& at, Cursor end);
    UsbItem* CollectCommandTransport(Cursor& at);
    UsbItem* CollectDataInTransport(Cursor& at);
    UsbItem* CollectDataOutTransport(Cursor& at);
    UsbItem* CollectStatusTransport(Cursor& at);
    bool EndsWithStatusWrapper();

    int32_t SummarizeControlTransfer(UsbItem* item, ItemSummary& out);
    void SummarizePhase(UsbItem* item, ItemSummary& out);
    void SummarizeTransfer(UsbItem* item, ItemSummary& out);
    // The fields of what the capture holds of the item; DescribeItem's answer.
    bool DescribeHeld(UsbItem* item, CDecodeResultWriter& document);

    State state_ = AwaitingCommand;
    // The transactions of the current command, in arrival order; they belong
    // to the transaction-level tree.
    std::vector<UsbItem*> pending_;
    // The last OUT that ReadWrapper took as a wrapper, and its bytes: the
    // build of its command reads them from here rather than fetching again.
    const UsbItem* wrapperItem_ = nullptr;
    uint8_t wrapper_[kCbwBytes] = {};
};

}  // namespace orvane::gartho
