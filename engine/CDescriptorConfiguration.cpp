#include "CDescriptorConfiguration.h"

#include "CFieldWalker.h"

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

void CDescriptorConfiguration::GetName(std::string& out)
{
    out = kept_.U8(1) == 2 ? "Configuration Descriptor" : "Ohter Speed Configuration Descriptor";
}

int32_t CDescriptorConfiguration::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorConfiguration::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
