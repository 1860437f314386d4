#include "CDescriptorInterace.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"INTERFACE"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"bInterfaceNumber", 2, 0, 8, FieldFormat::Decimal},
    {"bAltermateSetting", 3, 0, 8, FieldFormat::Decimal},
    {"bNumEndpoints", 4, 0, 8, FieldFormat::Decimal},
    {"bInterfaceClass", 5, 0, 8, FieldFormat::ClassName},
    {"bInterfaceSubClass", 6, 0, 8, FieldFormat::SubClassName, {}, nullptr, false, 5},
    {"bInterfaceProtocol", 7, 0, 8, FieldFormat::ProtocolName, {}, nullptr, false, 5},
    {"iInterface", 8, 0, 8, FieldFormat::Decimal},
};

}  // namespace

std::span<const FieldSpec> CDescriptorInterace::Fields() { return kFields; }

}  // namespace orvane
