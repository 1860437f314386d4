// An endpoint descriptor (USB 2.0, 9.6.6).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorEndpoint final : public CDescriptorFixed<CDescriptorEndpoint, 7> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Endpoint Descriptor"; }

    uint8_t bEndpointAddress() const { return Kept().U8(2); }
    uint8_t bmAttributes() const { return Kept().U8(3); }
    uint16_t wMaxPacketSize() const { return Kept().U16(4); }
    uint8_t bInterval() const { return Kept().U8(6); }
};

}  // namespace orvane
