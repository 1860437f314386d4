#include "CDescriptorInterace.h"

#include "CFieldWalker.h"

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

void CDescriptorInterace::GetName(std::string& out)
{
    out = "Interace Descriptor";
}

int32_t CDescriptorInterace::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorInterace::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
