#include "CDescriptorEndpoint.h"

#include "CFieldWalker.h"

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

void CDescriptorEndpoint::GetName(std::string& out)
{
    out = "Endpoint Descriptor";
}

int32_t CDescriptorEndpoint::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorEndpoint::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
