// Turns a FieldSpec and the bytes received into a FieldRecord: the one walker
// behind every fixed descriptor and setup-packet field.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "CUsbIdDatabase.h"
#include "FieldSpec.h"
#include "ItemSummary.h"

namespace orvane {

class CFieldWalker {
public:
    // Value of a field whose bytes the data did not supply.
    static constexpr const char* kTruncated = "(truncated)";

    // Fills name, value and bits; the tip is left as it is.
    static void Describe(const FieldSpec& spec, std::span<const uint8_t> bytes, const CUsbIdDatabase& ids,
                         FieldRecord& out);
    // Describes fields[index]; false for an index outside the table.
    static bool Describe(std::span<const FieldSpec> fields, int32_t index, std::span<const uint8_t> bytes,
                         const CUsbIdDatabase& ids, FieldRecord& out);
    // "language (dialect)" of a LANGID.
    static std::string LanguageText(const CUsbIdDatabase& ids, unsigned langid);
    // Sum of the fixed widths.
    static uint32_t TotalBits(std::span<const FieldSpec> fields);
};

}  // namespace orvane
