// Builds a decode-result document: "<groups/>" holding named groups of
// decoded fields, each with its value, tip and bit range in the item's data.
#pragma once

#include <cstdint>
#include <string>

#include "Document.h"
#include "IDecode.h"

namespace orvane {

class CDecodeResultWriter {
public:
    CDecodeResultWriter();

    // A new `group` element, last under the root.
    xml::Node AddGroup(const std::string& name);
    // A new `item` element, last in `group`; null when `group` is null.
    xml::Node AddItem(const xml::Node& group, const std::string& name, const std::string& value,
                      const std::string& tip, int64_t offset, int64_t bits);
    // One group titled by the descriptor, one item per field, laid end to end
    // from `bitOffset`; answers the bit offset after the last field.
    int64_t AddDescriptor(IDescriptor& descriptor, int64_t bitOffset);

    // The serialised document, the text GetDetail hands out.
    std::string Text() const { return document_.xml(); }
    const xml::Document& Document() const { return document_; }

private:
    xml::Document document_;
};

}  // namespace orvane
