// A string descriptor (USB 2.0, 9.6.7): either a text or, for string index 0,
// the list of LANGIDs the device supports.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "CKeptBytes.h"
#include "CUsbIdDatabase.h"
#include "IDecode.h"

namespace orvane {

class CDescriptorString final : public IDescriptor {
public:
    // The request's wIndex decides: non-zero asks for a text in that language.
    explicit CDescriptorString(bool text, const CUsbIdDatabase& ids = CUsbIdDatabase::Instance())
        : ids_(&ids), text_(text) {}

    void Parse(const uint8_t* data, uint32_t length) override;
    void GetName(std::string& out) override;
    int32_t GetFieldCount() override;
    // 0 for an index outside 0 to GetFieldCount() - 1.
    int32_t GetField(int32_t index, FieldRecord* out) override;

    bool IsText() const { return text_; }
    uint8_t bLength() const { return header_.U8(0); }
    // Whole 16-bit code units only: an odd last byte is left out.
    const std::vector<uint16_t>& CodeUnits() const { return units_; }
    // The code units as UTF-8; unpaired surrogates and control characters,
    // which no text can carry, read U+FFFD.
    std::string Text() const { return TextOf(units_); }
    // UTF-16 code units as UTF-8 that any XML text can carry: unpaired
    // surrogates, control characters and the non-characters U+FFFE and U+FFFF
    // read U+FFFD.
    static std::string TextOf(std::span<const uint16_t> units);

private:
    const CUsbIdDatabase* ids_;
    bool text_;
    CKeptBytes<2> header_;
    std::vector<uint16_t> units_;
};

}  // namespace orvane
