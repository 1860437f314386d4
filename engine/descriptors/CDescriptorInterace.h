// An interface descriptor (USB 2.0, 9.6.5).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorInterace final : public CDescriptorFixed<CDescriptorInterace, 9> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Interace Descriptor"; }

    uint8_t bInterfaceNumber() const { return Kept().U8(2); }
    uint8_t bAlternateSetting() const { return Kept().U8(3); }
    uint8_t bNumEndpoints() const { return Kept().U8(4); }
    uint8_t bInterfaceClass() const { return Kept().U8(5); }
    uint8_t bInterfaceSubClass() const { return Kept().U8(6); }
    uint8_t bInterfaceProtocol() const { return Kept().U8(7); }
};

}  // namespace orvane
