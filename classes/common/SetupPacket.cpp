#include "SetupPacket.h"

#include "BoundedFetch.h"
#include "CByteCursor.h"

namespace orvane {

namespace {

constexpr const char* kRecipients[] = {"Device", "Interface", "Endpoint", "Other"};
constexpr const char* kTypes[] = {"Standard", "Class", "Vendor", "Reserved"};
constexpr const char* kDirections[] = {"Host-to-device", "Device-to-host"};

}  // namespace

const std::array<ClassField, 3> kRequestTypeFields = {{
    {.name = "bmRequestType.Recipient", .byte = 0, .bit = 0, .bits = 5, .format = "Reserved", .names = kRecipients},
    {.name = "bmRequestType.Type", .byte = 0, .bit = 5, .bits = 2, .names = kTypes},
    {.name = "bmRequestType.Direction", .byte = 0, .bit = 7, .bits = 1, .names = kDirections},
}};

std::optional<SetupPacket> SetupPacket::From(std::span<const uint8_t> bytes)
{
    CByteCursor cursor(bytes);
    if (!cursor.Has(kSize)) return std::nullopt;
    SetupPacket p;
    p.bmRequestType = *cursor.ReadU8();
    p.bRequest = *cursor.ReadU8();
    p.wValue = *cursor.ReadU16();
    p.wIndex = *cursor.ReadU16();
    p.wLength = *cursor.ReadU16();
    return p;
}

std::optional<SetupPacket> SetupPacket::Fetch(IDecode* source, UsbItem* setupTransaction)
{
    uint8_t bytes[kSize];
    if (!FetchExact(source, setupTransaction, bytes)) return std::nullopt;
    return From(bytes);
}

std::optional<SetupPacket> SetupPacket::FetchOfTransfer(IDecode* source, const UsbItem* transfer)
{
    if (!transfer || transfer->children.empty()) return std::nullopt;
    return Fetch(source, transfer->children[0]);
}

}  // namespace orvane
