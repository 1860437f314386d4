// The HID decoder: turns an interface's interrupt IN transactions into input
// reports, retypes its class requests, learns its report layouts from the
// report descriptor and describes reports field by field.
#pragma once

#include <cstdint>
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
    const CReportDescriptor& Descriptor() const { return descriptor_; }
    // Whether a control transfer is a standard GET_DESCRIPTOR of the
    // interface's report descriptor.
    bool IsReportDescriptorTransfer(const UsbItem* transfer);

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    bool DetailFallsToHost() const override { return true; }
    int32_t Notify(int32_t code, void* arg, intptr_t param) override;
    UsbItem* Transaction(UsbItem* item) override;

private:
    void TakeReportDescriptor(UsbItem* transfer);
    // Looks once for the interface's report descriptor beside `item`.
    void FindReportDescriptor(const UsbItem* item);
    void DescribeDescriptor(CDecodeResultWriter& document) const;
    void DescribeInputReport(UsbItem* item, CDecodeResultWriter& document);
    void DescribeClassRequest(UsbItem* item, CDecodeResultWriter& document);

    CHidUsageTable usages_;
    CReportDescriptor descriptor_;
    // The bytes the layouts were made from: an identical descriptor (every
    // re-enumeration sends it again) changes nothing.
    std::vector<uint8_t> descriptorBytes_;
    bool searched_ = false;
    int32_t keyboardMode_ = 0;
    // A NAKed item waiting for the IN transaction or transfer behind it; this
    // interface's own, so two interfaces never swap NAK runs.
    UsbItem* held_ = nullptr;
};

}  // namespace orvane::hid
