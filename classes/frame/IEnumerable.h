// The field walker of one structure: points at its bytes, names its group and
// lists its fields in wire order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ItemSummary.h"

namespace orvane {

class IEnumerable {
public:
    virtual ~IEnumerable() = default;
    // Keeps the pointer and the length; copies nothing, so the bytes must
    // outlive the walk.
    virtual void SetData(const uint8_t* data, uint32_t length) = 0;
    virtual void GetName(std::string& name) = 0;
    // Appends one record per field, each with its width in bits.
    virtual void Enumerate(std::vector<FieldRecord>& fields) = 0;
};

}  // namespace orvane
