#include "CDescriptorInteraceAssociation.h"

#include "CFieldWalker.h"

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

void CDescriptorInteraceAssociation::GetName(std::string& out)
{
    out = "Interface Association Descriptor";
}

int32_t CDescriptorInteraceAssociation::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDescriptorInteraceAssociation::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, kept_.Received(), *ids_, *out)) return 0;
    out->tip = index == 0 ? kept_.MalformedNote() : std::string();
    return 1;
}

}  // namespace orvane
