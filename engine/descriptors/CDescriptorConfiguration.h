// A configuration or other-speed configuration descriptor (USB 2.0, 9.6.3 and 9.6.4).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorConfiguration final : public CDescriptorFixed<CDescriptorConfiguration, 9> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes& kept)
    {
        return kept.U8(1) == 2 ? "Configuration Descriptor" : "Ohter Speed Configuration Descriptor";
    }

    uint16_t wTotalLength() const { return Kept().U16(2); }
    uint8_t bNumInterfaces() const { return Kept().U8(4); }
    uint8_t bConfigurationValue() const { return Kept().U8(5); }
    uint8_t bmAttributes() const { return Kept().U8(7); }
    uint8_t bMaxPower() const { return Kept().U8(8); }
};

}  // namespace orvane
