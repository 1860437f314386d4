// The HID field entry, its tip keys and tips, the reading of a field's value
// out of report bytes, and the setup packet of a HID class request.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvane::hid {

// One field of a report layout, or of a setup packet.
struct HidField {
    uint16_t bitOffset = 0;  // from the report's start, without a report ID byte
    uint16_t bits = 0;
    std::string name;
    std::string value;
    bool array = false;      // an entry of an array: its value is a usage
    uint32_t usagePage = 0;  // of an array field
    std::string tipKey;
};

enum TipKind : int { TipDescriptorItem = 1, TipReportField = 2, TipReportValue = 3, TipSetupField = 4 };

// `name` with every character other than 0-9, A-Z and a-z made "_".
std::string IdentifierFromName(const std::string& name);
// "D_", "R_" or "T_" by kind, then the identifier; empty for another kind.
std::string MakeTipKey(int kind, const std::string& name);
// The tip of a key, or the empty text.
const std::string& GetTip(const std::string& key);
// The tip of an entry: its key's text, else its value text.
std::string TipOf(const std::string& key, const std::string& value);

// A field's number as FormatFieldValue reads it (see there); null when the
// data do not hold the field's bytes or the width has no reading.
std::optional<int64_t> ReadFieldNumber(std::span<const uint8_t> data, uint32_t bitOffset, uint32_t bits);
// "%d" of the field's number, "error" for a width with no reading, and the
// empty text when the data end before the field.
std::string FormatFieldValue(std::span<const uint8_t> data, uint32_t bitOffset, uint32_t bits);

// The request names of the packet list, by bRequest ("GetReport", ...);
// empty for another code.
const char* RequestName(uint8_t bRequest);
enum Request : uint8_t {
    GetReport = 1, GetIdle = 2, GetProtocol = 3, SetReport = 9, SetIdle = 10, SetProtocol = 11,
};

// The seven entries of a HID class request's setup packet.
std::vector<HidField> DecodeSetupPacket(std::span<const uint8_t, 8> setup);

}  // namespace orvane::hid
