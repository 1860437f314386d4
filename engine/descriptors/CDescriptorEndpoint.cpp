#include "CDescriptorEndpoint.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"ENDPOINT"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"bEndpointAddress", 2, 0, 8, FieldFormat::EndpointAddress},
    {"bmAttributes", 3, 0, 8, FieldFormat::EndpointAttributes},
    {"wMaxPacketSize", 4, 0, 16, FieldFormat::Bytes},
    {"bInterval", 6, 0, 8, FieldFormat::Decimal},
};

}  // namespace

std::span<const FieldSpec> CDescriptorEndpoint::Fields() { return kFields; }

}  // namespace orvane
