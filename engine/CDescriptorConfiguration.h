// A configuration or other-speed configuration descriptor (USB 2.0, 9.6.3 and 9.6.4).
#pragma once

#include "CKeptBytes.h"
#include "CUsbIdDatabase.h"
#include "IDecode.h"

namespace orvane {

class CDescriptorConfiguration final : public IDescriptor {
public:
    static constexpr size_t kKeptBytes = 9;

    explicit CDescriptorConfiguration(const CUsbIdDatabase& ids = CUsbIdDatabase::Instance()) : ids_(&ids) {}

    void Parse(const uint8_t* data, uint32_t length) override { kept_.Assign(data, length); }
    void GetName(std::string& out) override;
    int32_t GetFieldCount() override;
    // 0 for an index outside 0 to GetFieldCount() - 1.
    int32_t GetField(int32_t index, FieldRecord* out) override;

    // The kept bytes; zero where the data ran short.
    const CKeptBytes<kKeptBytes>& Kept() const { return kept_; }
    uint8_t bDescriptorType() const { return kept_.U8(1); }
    uint16_t wTotalLength() const { return kept_.U16(2); }
    uint8_t bNumInterfaces() const { return kept_.U8(4); }
    uint8_t bConfigurationValue() const { return kept_.U8(5); }
    uint8_t bmAttributes() const { return kept_.U8(7); }
    uint8_t bMaxPower() const { return kept_.U8(8); }

private:
    const CUsbIdDatabase* ids_;
    CKeptBytes<kKeptBytes> kept_;
};

}  // namespace orvane
