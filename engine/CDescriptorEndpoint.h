// An endpoint descriptor (USB 2.0, 9.6.6).
#pragma once

#include "CKeptBytes.h"
#include "CUsbIdDatabase.h"
#include "IDecode.h"

namespace orvane {

class CDescriptorEndpoint final : public IDescriptor {
public:
    static constexpr size_t kKeptBytes = 7;

    explicit CDescriptorEndpoint(const CUsbIdDatabase& ids = CUsbIdDatabase::Instance()) : ids_(&ids) {}

    void Parse(const uint8_t* data, uint32_t length) override { kept_.Assign(data, length); }
    void GetName(std::string& out) override;
    int32_t GetFieldCount() override;
    // 0 for an index outside 0 to GetFieldCount() - 1.
    int32_t GetField(int32_t index, FieldRecord* out) override;

    // The kept bytes; zero where the data ran short.
    const CKeptBytes<kKeptBytes>& Kept() const { return kept_; }
    uint8_t bEndpointAddress() const { return kept_.U8(2); }
    uint8_t bmAttributes() const { return kept_.U8(3); }
    uint16_t wMaxPacketSize() const { return kept_.U16(4); }
    uint8_t bInterval() const { return kept_.U8(6); }

private:
    const CUsbIdDatabase* ids_;
    CKeptBytes<kKeptBytes> kept_;
};

}  // namespace orvane
