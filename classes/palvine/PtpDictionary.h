// The names of the still-image class's codes (ISO 15740): operations,
// responses, events and device properties with the names of their
// parameters, and beside them object formats, association types, data types,
// the datasets of operations and the class requests. One table for the whole
// library, built on first use and never changed; every look-up only finds.
// The names are display texts and stand exactly as the decoder shows them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orvane::palvine {

// The name of an operation, response, event or property code; a vendor code
// (bit 15 set) is looked up as code & 0x7000 and shown with its own number,
// as is the vendor entry itself ("Vendor-Defined Operation (0x9201)").
// Empty for a code without an entry.
std::string FormatCodeName(uint32_t code);
// The command parameters of an operation, or the parameters of an event.
std::span<const char* const> GetParamNames(uint32_t code);
// The response parameters of an operation.
std::span<const char* const> GetResponseParamNames(uint32_t operationCode);

std::string ObjectFormatName(uint32_t code);
std::string ObjectFormatDescription(uint32_t code);
std::string AssociationTypeName(uint32_t code);
// What AssociationDesc means for an association type.
std::string AssociationDescName(uint32_t code);

std::string DataTypeName(uint32_t code);
std::string DataTypeDescription(uint32_t code);
// Element bytes: 1 to 16 for a scalar, negated for an array of them, 0 for
// the string type; null for a code without an entry.
const int8_t* DataTypeSize(uint32_t code);
constexpr uint16_t kDataTypeString = 0xFFFF;

// The dataset an operation's data phase carries ("DeviceInfo", ...).
std::string DataBlockName(uint32_t operationCode);

// Class requests on the control pipe, by bRequest.
enum ClassRequest : uint8_t { RequestCancel = 0x64, RequestGetExtendedEvent = 0x65, RequestDeviceReset = 0x66,
                              RequestGetDeviceStatus = 0x67 };
// "Cancel", "Get Extended Event", "DeviceReset", "GetDeviceStatus";
// "Undefined" for any other request.
std::string ClassRequestName(uint8_t bRequest);

}  // namespace orvane::palvine
