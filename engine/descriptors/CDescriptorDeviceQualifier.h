// A device qualifier descriptor (USB 2.0, 9.6.2).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorDeviceQualifier final : public CDescriptorFixed<CDescriptorDeviceQualifier, 10> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Device Qualifier Descriptor"; }

    uint16_t bcdUSB() const { return Kept().U16(2); }
    uint8_t bDeviceClass() const { return Kept().U8(4); }
    uint8_t bDeviceSubClass() const { return Kept().U8(5); }
    uint8_t bDeviceProtocol() const { return Kept().U8(6); }
    uint8_t bNumConfigurations() const { return Kept().U8(8); }
};

}  // namespace orvane
