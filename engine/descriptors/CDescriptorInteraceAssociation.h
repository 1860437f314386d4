// An interface association descriptor (USB 2.0 ECN, IAD).
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorInteraceAssociation final : public CDescriptorFixed<CDescriptorInteraceAssociation, 8> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Interface Association Descriptor"; }

    uint8_t bFirstInterface() const { return Kept().U8(2); }
    uint8_t bInterfaceCount() const { return Kept().U8(3); }
    uint8_t bFunctionClass() const { return Kept().U8(4); }
    uint8_t bFunctionSubClass() const { return Kept().U8(5); }
    uint8_t bFunctionProtocol() const { return Kept().U8(6); }
};

}  // namespace orvane
