// Any descriptor of a type not decoded here, and a remnant too short to carry a type.
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorUnknown final : public CDescriptorFixed<CDescriptorUnknown, 2> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Unknown descriptor"; }
};

}  // namespace orvane
