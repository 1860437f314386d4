// The HID decoder: turns an interface's interrupt IN transactions into input
// reports, retypes its class requests, learns its report layouts from the
// report descriptor and describes reports field by field.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "CClassDecoderBase.h"
#include "HidReportDescriptor.h"
#include "HidUsageTable.h"

namespace orvane::hid {

// Item types of this decoder.
enum : uint16_t {
    TypeInputReport = 267,
    TypeClassRequest = 269,  // also a held NAK run with the transfer behind it
};

class CClassDecoder : public CClassDecoderBase {
public:
    // Null: the usage names of the system's usb.ids.
    explicit CClassDecoder(const CUsbIdDatabase* usageNames = nullptr);

    // 2 when the configuration's first interface is a boot keyboard, else 0.
    int32_t KeyboardMode() const { return keyboardMode_; }
    // The layouts in force at `item`: those of the last descriptor taken
    // before it (the first one for an item before all), the latest for null.
    // The worker may take a later descriptor while the UI thread still
    // describes an item with these.
    std::shared_ptr<const CReportDescriptor> Descriptor(const UsbItem* item = nullptr) const;
    // Whether a control transfer is a standard GET_DESCRIPTOR of the
    // interface's report descriptor.
    bool IsReportDescriptorTransfer(const UsbItem* transfer);

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    int32_t FallbackDetail(UsbItem* item, std::string& xml) override;
    const ImageList* ItemImages(UsbItem* item) override;
    int32_t Notify(int32_t code, void* arg, intptr_t param) override;
    bool ShowsDataOf(const UsbItem& item, const UsbItem& child) override;
    UsbItem* Transaction(UsbItem* item) override;

private:
    // A held NAK run's group stands for the transfer behind it: that
    // transfer; any other item itself.
    static UsbItem* Forwarded(UsbItem* item);
    // Lays out the transfer's descriptor unless it is the one in force, or
    // the capture lacks part of it.
    void TakeReportDescriptor(UsbItem* transfer);
    // Whether the host holds every packet's payload of the item.
    bool Whole(UsbItem* item) const;
    // Whether every child the data of a report or request come from is whole.
    bool StagesWhole(const UsbItem& item);
    // True once, while no descriptor was seen and the decoder has decoded
    // nothing: then the caller searches.
    bool StartSearch();
    // Looks for the interface's report descriptor beside `item`: in its
    // turn's rows once told its turn, else in the whole level.
    void FindReportDescriptor(const UsbItem* item);
    void DescribeDescriptor(const CReportDescriptor& layouts, CDecodeResultWriter& document) const;
    void DescribeInputReport(const CReportDescriptor& layouts, UsbItem* item, CDecodeResultWriter& document);
    void DescribeReportRequest(const CReportDescriptor& layouts, UsbItem* item, CDecodeResultWriter& document);
    // One report's fields over its bytes, behind its report ID byte when `idByte`.
    void DescribeReport(const HidReport& report, std::span<const uint8_t> data, bool idByte,
                        CDecodeResultWriter& document) const;

    CHidUsageTable usages_;
    // One descriptor the interface was given, from the record of its transfer on.
    struct Layouts {
        uint32_t from = 0;
        // The bytes the layouts were made from: the same descriptor again
        // (every re-enumeration sends it) changes nothing.
        std::vector<uint8_t> bytes;
        std::shared_ptr<const CReportDescriptor> layouts;
    };

    // Guards the two below: the worker takes descriptors from the traffic,
    // the UI thread searches for one and reads the layouts.
    mutable std::mutex descriptorLock_;
    std::vector<Layouts> history_;  // by record
    bool searched_ = false;
    // The turn a decoder made to describe rows serves, once told.
    std::optional<TurnRecords> turn_;
    const std::shared_ptr<const CReportDescriptor> none_;
    int32_t keyboardMode_ = 0;
    // Set by the first item decoded; read and written by the decoding thread only.
    bool decodes_ = false;
    // A NAKed item waiting for the IN transaction or transfer behind it; this
    // interface's own, so two interfaces never swap NAK runs.
    UsbItem* held_ = nullptr;
};

}  // namespace orvane::hid
