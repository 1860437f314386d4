// One fixed field of a descriptor or setup packet, as data for CFieldWalker.
#pragma once

#include <cstdint>
#include <span>

namespace orvane {

enum class FieldFormat : uint8_t {
    Decimal,             // "%d"
    Text,                // names[0], whatever the value
    Named,               // names[value]; beyond the table `other`, or "%d" without one
    Bytes,               // "%d bytes"
    DoubleMilliamps,     // "%d mA" of value * 2
    BcdUsb,              // 2.0, 1.1, 2.01
    BcdDevice,           // 1.0, 1.2.3, 18.0
    ClassName,           // value is the class
    SubClassName,        // class at `base`, value the subclass
    ProtocolName,        // class at `base`, subclass after it, value the protocol
    VendorName,          // value is the vendor id
    ProductName,         // vendor id at `base`, value the product id
    EndpointAddress,     // "1 IN"
    EndpointAttributes,  // "Bulk,No Synchronization,Data endpoint"
    Undecoded,           // the rest of the descriptor after bLength and bDescriptorType
    SetupRequest,        // bRequest, named for standard requests
    SetupValue,          // wValue, by request
    SetupIndex,          // wIndex, by recipient
};

struct FieldSpec {
    const char* name;
    uint8_t offset;   // first byte of the value
    uint8_t shift;    // first bit of the field within that value
    uint8_t bits;     // width; Undecoded computes its own
    FieldFormat format;
    std::span<const char* const> names = {};
    const char* other = nullptr;
    bool decimalFallback = false;  // an empty name look-up shows "%d"
    uint8_t base = 0;              // where the look-up's leading codes stand
};

}  // namespace orvane
