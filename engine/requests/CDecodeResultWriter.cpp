#include "CDecodeResultWriter.h"

namespace orvane {

CDecodeResultWriter::CDecodeResultWriter()
{
    document_.loadXML("<groups/>");
}

xml::Node CDecodeResultWriter::AddGroup(const std::string& name)
{
    xml::Node group = document_.selectSingleNode("/groups").appendChild(document_.createElement("group"));
    group.setAttribute("name", name);
    return group;
}

xml::Node CDecodeResultWriter::AddItem(const xml::Node& group, const std::string& name, const std::string& value,
                                       const std::string& tip, int64_t offset, int64_t bits)
{
    if (!group) return {};
    xml::Node item = xml::Node(group).appendChild(document_.createElement("item"));
    item.setAttribute("name", name);
    item.setAttribute("value", value);
    item.setAttribute("tip", tip);
    item.setAttribute("offset", std::to_string(offset));
    item.setAttribute("bits", std::to_string(bits));
    return item;
}

int64_t CDecodeResultWriter::AddDescriptor(IDescriptor& descriptor, int64_t bitOffset)
{
    std::string title;
    descriptor.GetName(title);
    const xml::Node group = AddGroup(title);
    const int32_t count = descriptor.GetFieldCount();
    for (int32_t i = 0; i < count; ++i) {
        FieldRecord field;
        if (!descriptor.GetField(i, &field)) continue;
        AddItem(group, field.name, field.value, field.tip, bitOffset, field.bits);
        bitOffset += field.bits;
    }
    return bitOffset;
}

}  // namespace orvane
