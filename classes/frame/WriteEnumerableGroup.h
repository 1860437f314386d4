// Writes one walker's fields as a group of a decode-result document.
#pragma once

#include <cstdint>
#include <string>

#include "CDecodeResultWriter.h"
#include "IEnumerable.h"

namespace orvane {

// Appends a group titled `title` with one item per field of `walker` (on which
// SetData has been called), laid end to end from `bitOffset`; `bitOffset` is
// left just past the last field.
void WriteEnumerableGroup(CDecodeResultWriter& document, IEnumerable& walker, const std::string& title,
                          int64_t& bitOffset);

}  // namespace orvane
