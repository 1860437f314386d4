// The 8-byte setup packet of a control transfer (USB 2.0, 9.3) seen as a
// descriptor: seven named fields and a one-line text for the packet list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "CUsbIdDatabase.h"
#include "IDecode.h"

namespace orvane {

class CDeviceRequest final : public IDescriptor {
public:
    static constexpr size_t kSize = 8;
    enum Type : uint8_t { TypeStandard = 0, TypeClass = 1, TypeVendor = 2, TypeReserved = 3 };
    enum Recipient : uint8_t { RecipientDevice = 0, RecipientInterface = 1, RecipientEndpoint = 2, RecipientOther = 3 };

    explicit CDeviceRequest(const CUsbIdDatabase& ids = CUsbIdDatabase::Instance()) : ids_(&ids) {}
    CDeviceRequest(const uint8_t* data, uint32_t length, const CUsbIdDatabase& ids = CUsbIdDatabase::Instance())
        : ids_(&ids) { Parse(data, length); }

    // Copies min(length, 8) bytes; the rest read zero.
    void Parse(const uint8_t* data, uint32_t length) override;
    void GetName(std::string& out) override;
    int32_t GetFieldCount() override;
    // 0 for an index outside 0 to 6; each tip repeats its value.
    int32_t GetField(int32_t index, FieldRecord* out) override;

    // The request in one line, such as "GetDescriptor ( Device )".
    std::string FormatRequestSummary() const;

    uint8_t bmRequestType() const { return bytes_[0]; }
    uint8_t bRequest() const { return bytes_[1]; }
    uint16_t wValue() const { return static_cast<uint16_t>(bytes_[2] | (bytes_[3] << 8)); }
    uint16_t wIndex() const { return static_cast<uint16_t>(bytes_[4] | (bytes_[5] << 8)); }
    uint16_t wLength() const { return static_cast<uint16_t>(bytes_[6] | (bytes_[7] << 8)); }
    uint8_t RequestType() const { return (bytes_[0] >> 5) & 3; }
    uint8_t RequestRecipient() const { return bytes_[0] & 0x1F; }
    bool IsDeviceToHost() const { return (bytes_[0] & 0x80) != 0; }
    bool IsStandard() const { return RequestType() == TypeStandard; }

private:
    const CUsbIdDatabase* ids_;
    std::array<uint8_t, kSize> bytes_{};
};

}  // namespace orvane
