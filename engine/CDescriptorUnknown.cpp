#include "CDescriptorUnknown.h"

#include "CFieldWalker.h"

namespace orvane {
namespace {

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Decimal},
    {"Undecoded", 2, 0, 0, FieldFormat::Undecoded},
};

}  // namespace

void CDescriptorUnknown::GetName(std::string& out)
{
    out = "Unknown descriptor";
}

int32_t CDescriptorUnknown::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorUnknown::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
