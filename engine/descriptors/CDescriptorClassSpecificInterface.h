// A class-specific interface descriptor; only its header is decoded here.
#pragma once

#include "CDescriptorFixed.h"

namespace orvane {

class CDescriptorClassSpecificInterface final : public CDescriptorFixed<CDescriptorClassSpecificInterface, 2> {
public:
    using CDescriptorFixed::CDescriptorFixed;

    static std::span<const FieldSpec> Fields();
    static const char* Title(const KeptBytes&) { return "Class Specific Interface Descriptor"; }
};

}  // namespace orvane
