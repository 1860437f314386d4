// Any descriptor of a type not decoded here, and a remnant too short to carry a type.
#pragma once

#include "CKeptBytes.h"
#include "CUsbIdDatabase.h"
#include "IDecode.h"

namespace orvane {

class CDescriptorUnknown final : public IDescriptor {
public:
    static constexpr size_t kKeptBytes = 2;

    explicit CDescriptorUnknown(const CUsbIdDatabase& ids = CUsbIdDatabase::Instance()) : ids_(&ids) {}

    void Parse(const uint8_t* data, uint32_t length) override { kept_.Assign(data, length); }
    void GetName(std::string& out) override;
    int32_t GetFieldCount() override;
    // 0 for an index outside 0 to GetFieldCount() - 1.
    int32_t GetField(int32_t index, FieldRecord* out) override;

    // The kept bytes; zero where the data ran short.
    const CKeptBytes<kKeptBytes>& Kept() const { return kept_; }
    uint8_t bLength() const { return kept_.U8(0); }
    uint8_t bDescriptorType() const { return kept_.U8(1); }

private:
    const CUsbIdDatabase* ids_;
    CKeptBytes<kKeptBytes> kept_;
};

}  // namespace orvane
