#include "CDescriptorUnknown.h"

namespace orvane {
namespace {

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Decimal},
    {"Undecoded", 2, 0, 0, FieldFormat::Undecoded},
};

}  // namespace

std::span<const FieldSpec> CDescriptorUnknown::Fields() { return kFields; }

}  // namespace orvane
