#include "WriteEnumerableGroup.h"

#include <vector>

namespace orvane {

void WriteEnumerableGroup(CDecodeResultWriter& document, IEnumerable& walker, const std::string& title,
                          int64_t& bitOffset)
{
    const xml::Node group = document.AddGroup(title);
    std::vector<FieldRecord> fields;
    walker.Enumerate(fields);
    for (const FieldRecord& field : fields) {
        document.AddItem(group, field.name, field.value, field.tip, bitOffset, field.bits);
        bitOffset += field.bits;
    }
}

}  // namespace orvane
