#include "SetupPacket.h"

#include "BoundedFetch.h"
#include "CByteCursor.h"

namespace orvane {

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
