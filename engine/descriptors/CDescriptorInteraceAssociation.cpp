#include "CDescriptorInteraceAssociation.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"INTERFACE_ASSOCIATION"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"bFirstInterface", 2, 0, 8, FieldFormat::Decimal},
    {"bInterfaceCount", 3, 0, 8, FieldFormat::Decimal},
    {"bFunctionClass", 4, 0, 8, FieldFormat::ClassName},
    {"bInterfaceSubClass", 5, 0, 8, FieldFormat::SubClassName, {}, nullptr, false, 4},
    {"bFunctionProtocol", 6, 0, 8, FieldFormat::ProtocolName, {}, nullptr, false, 4},
    {"iFunction", 7, 0, 8, FieldFormat::Decimal},
};

}  // namespace

std::span<const FieldSpec> CDescriptorInteraceAssociation::Fields() { return kFields; }

}  // namespace orvane
