#include "CDescriptorClassSpecificInterface.h"

#include "CFieldWalker.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"CS_INTERFACE"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"Undecoded", 2, 0, 0, FieldFormat::Undecoded},
};

}  // namespace

void CDescriptorClassSpecificInterface::GetName(std::string& out)
{
    out = "Class Specific Interface Descriptor";
}

int32_t CDescriptorClassSpecificInterface::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorClassSpecificInterface::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
