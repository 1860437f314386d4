#include "CDescriptorDeviceQualifier.h"

#include "CFieldWalker.h"

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

void CDescriptorDeviceQualifier::GetName(std::string& out)
{
    out = "Device Qualifier Descriptor";
}

int32_t CDescriptorDeviceQualifier::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorDeviceQualifier::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
