// A device descriptor (USB 2.0, 9.6.1).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorDevice final : public CDescriptorFixed<CDescriptorDevice, 18> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Device Descriptor"; }

    uint16_t bcdUSB() const { return Kept().U16(2); }
    uint8_t bDeviceClass() const { return Kept().U8(4); }
    uint8_t bDeviceSubClass() const { return Kept().U8(5); }
    uint8_t bDeviceProtocol() const { return Kept().U8(6); }
    uint8_t bMaxPacketSize0() const { return Kept().U8(7); }
    uint16_t idVendor() const { return Kept().U16(8); }
    uint16_t idProduct() const { return Kept().U16(10); }
    uint16_t bcdDevice() const { return Kept().U16(12); }
    uint8_t bNumConfigurations() const { return Kept().U8(17); }
};

}  // namespace orvane
