#include "CDescriptorDeviceQualifier.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"DEVICE_QUALIFIER"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"bcdUSB", 2, 0, 16, FieldFormat::BcdUsb},
    {"bDeviceClass", 4, 0, 8, FieldFormat::ClassName, {}, nullptr, true},
    {"bDeviceSubClass", 5, 0, 8, FieldFormat::SubClassName, {}, nullptr, true, 4},
    {"bDeviceProtocol", 6, 0, 8, FieldFormat::ProtocolName, {}, nullptr, true, 4},
    {"bMaxPacketSize0", 7, 0, 8, FieldFormat::Decimal},
    {"bNumConfigurations", 8, 0, 8, FieldFormat::Decimal},
    {"bReserved", 9, 0, 8, FieldFormat::Decimal},
};

}  // namespace

std::span<const FieldSpec> CDescriptorDeviceQualifier::Fields() { return kFields; }

}  // namespace orvane
