#include "CDescriptorClassSpecificInterface.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"CS_INTERFACE"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"Undecoded", 2, 0, 0, FieldFormat::Undecoded},
};

}  // namespace

std::span<const FieldSpec> CDescriptorClassSpecificInterface::Fields() { return kFields; }

}  // namespace orvane
