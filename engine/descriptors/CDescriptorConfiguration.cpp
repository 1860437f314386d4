#include "CDescriptorConfiguration.h"

namespace orvane {
namespace {

// Indexed by the type byte: 2 and 7 are the only ones this class is made for.
constexpr const char* kType[] = {"", "", "CONFIGURATION", "", "", "", "", "OTHER_SPEED_CONFIGURATION"};
constexpr const char* kRemoteWakeup[] = {"Not supported", "Supported"};
constexpr const char* kSelfPowered[] = {"No", "Yes"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Named, kType},
    {"wTotalLength", 2, 0, 16, FieldFormat::Bytes},
    {"bNumInterface", 4, 0, 8, FieldFormat::Decimal},
    {"bConfigurationValue", 5, 0, 8, FieldFormat::Decimal},
    {"iConfiguration", 6, 0, 8, FieldFormat::Decimal},
    {"bmAttributes.Reserved", 7, 0, 5, FieldFormat::Decimal},
    {"bmAttributes.RemoteWakeup", 7, 5, 1, FieldFormat::Named, kRemoteWakeup},
    {"bmAttributes.SelfPowered", 7, 6, 1, FieldFormat::Named, kSelfPowered},
    {"bmAttributes.Reserved7", 7, 7, 1, FieldFormat::Decimal},
    {"bMaxPower", 8, 0, 8, FieldFormat::DoubleMilliamps},
};

}  // namespace

std::span<const FieldSpec> CDescriptorConfiguration::Fields() { return kFields; }

}  // namespace orvane
