// The 8-byte setup packet of a control transfer (USB 2.0, 9.3) as plain
// values, for class decoders that look at class requests:
//
//   if (auto setup = SetupPacket::FetchOfTransfer(this, transfer); setup && setup->IsClass()) ...
//
// The setup-packet group of a decoder's detail starts with kRequestTypeFields
// (recipient, type, direction) and adds its own bRequest, wValue, wIndex and
// wLength rows, whose texts differ by class.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "FieldTable.h"
#include "IDecode.h"

namespace orvane {

struct SetupPacket {
    static constexpr uint32_t kSize = 8;
    enum Type : uint8_t { TypeStandard = 0, TypeClass = 1, TypeVendor = 2, TypeReserved = 3 };
    enum Recipient : uint8_t { RecipientDevice = 0, RecipientInterface = 1, RecipientEndpoint = 2, RecipientOther = 3 };

    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;

    // Null unless `bytes` holds at least the 8 bytes.
    static std::optional<SetupPacket> From(std::span<const uint8_t> bytes);
    // A SETUP transaction's packet; null unless its data are exactly 8 bytes.
    static std::optional<SetupPacket> Fetch(IDecode* source, UsbItem* setupTransaction);
    // The packet of a control transfer: its first child's data.
    static std::optional<SetupPacket> FetchOfTransfer(IDecode* source, const UsbItem* transfer);

    uint8_t RequestType() const { return (bmRequestType >> 5) & 3; }
    uint8_t RequestRecipient() const { return bmRequestType & 0x1F; }
    bool IsDeviceToHost() const { return (bmRequestType & 0x80) != 0; }
    bool IsClass() const { return RequestType() == TypeClass; }
    bool IsStandard() const { return RequestType() == TypeStandard; }
};

namespace setup_names {
inline constexpr const char* kRecipients[] = {"Device", "Interface", "Endpoint", "Other"};
inline constexpr const char* kTypes[] = {"Standard", "Class", "Vendor", "Reserved"};
inline constexpr const char* kDirections[] = {"Host-to-device", "Device-to-host"};
}  // namespace setup_names

// "bmRequestType.Recipient" (5 bits, 4 to 31 "Reserved"), ".Type" (2) and
// ".Direction" (1), byte 0 of the setup packet; each tip is its value. A
// decoder's own table copies them (constexpr) and may change their tips.
inline constexpr std::array<ClassField, 3> kRequestTypeFields = {{
    {.name = "bmRequestType.Recipient", .byte = 0, .bit = 0, .bits = 5, .format = "Reserved",
     .names = setup_names::kRecipients},
    {.name = "bmRequestType.Type", .byte = 0, .bit = 5, .bits = 2, .names = setup_names::kTypes},
    {.name = "bmRequestType.Direction", .byte = 0, .bit = 7, .bits = 1, .names = setup_names::kDirections},
}};

}  // namespace orvane
