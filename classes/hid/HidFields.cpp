#include "HidFields.h"

#include <cstdio>
#include <unordered_map>

namespace orvane::hid {

namespace {

std::string Printf(const char* format, int value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

const std::unordered_map<std::string, std::string>& TipTable()
{
    static const std::unordered_map<std::string, std::string> table = {
        {"D_Usage_Page", "Usage Page Item"},
        {"D_Usage", "Usage Item"},
        {"D_Logical_Minimum", "Logical Minimum Item"},
        {"D_Usage_Minimum", "Usage Minimum Item"},
        {"D_Logical_Maximum", "Logical_Maximum Item"},
        {"D_Usage_Maximum", "Usage_Maximum Item"},
        {"D_Physical_Minimum", "Physical_Minimum Item"},
        {"D_Designator_Index", "Designator_Index Item"},
        {"D_Physical_Maximum", "Physical Maximum Item"},
        {"D_Designator_Minimum", "Designator Minimum Item"},
        {"D_Unit_Exponent", "Unit Exponent Item"},
        {"D_Designator_Maximum", "Designator Maximum Item"},
        {"D_Unit", "Unit Item"},
        {"D_Report_Size", "Report Size Item"},
        {"D_String_Index", "String Index Item"},
        {"D_Input", "Input Item"},
        {"D_Report_ID", "Report ID Item"},
        {"D_String_Minimum", "String Minimum Item"},
        {"D_Output", "Output Item"},
        {"D_Report_Count", "Report Count Item"},
        {"D_String_Maximum", "String Maximum Item"},
        {"D_Collection", "Collection Item"},
        {"D_Push", "Push Item"},
        {"D_Delimiter", "Delimiter Item"},
        {"D_Feature", "Feature Item"},
        {"D_Pop", "Pop Item"},
        {"D_End_Collection", "End Collection Item"},
        {"R_NumLock", "NumLock LED"},
        {"R_CapsLock", "CapsLock LED"},
        {"R_Scroll_Lock", "Scroll Lock LED"},
        {"T_bRequest", "Request Type of HID"},
        {"T_wValue", "Composed of ReportId.ReportType.Duration.etc."},
        {"T_wIndex", "Interface number"},
        {"T_wLength", "Length of data field"},
    };
    return table;
}

uint32_t Little(std::span<const uint8_t> data, size_t at, size_t bytes)
{
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= uint32_t(data[at + i]) << (8 * i);
    return value;
}

}  // namespace

std::string IdentifierFromName(const std::string& name)
{
    std::string out = name;
    for (char& c : out) {
        const bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!keep) c = '_';
    }
    return out;
}

std::string MakeTipKey(int kind, const std::string& name)
{
    switch (kind) {
    case TipDescriptorItem: return "D_" + IdentifierFromName(name);
    case TipReportField:
    case TipReportValue: return "R_" + IdentifierFromName(name);
    case TipSetupField: return "T_" + IdentifierFromName(name);
    default: return {};
    }
}

const std::string& GetTip(const std::string& key)
{
    static const std::string empty;
    const auto& table = TipTable();
    const auto it = table.find(key);
    return it == table.end() ? empty : it->second;
}

std::string TipOf(const std::string& key, const std::string& value)
{
    const std::string& tip = GetTip(key);
    return tip.empty() ? value : tip;
}

std::optional<int64_t> ReadFieldNumber(std::span<const uint8_t> data, uint32_t bitOffset, uint32_t bits)
{
    const size_t at = bitOffset / 8;
    const uint32_t shift = bitOffset % 8;
    auto holds = [&](size_t bytes) { return at < data.size() && data.size() - at >= bytes; };
    if (bits >= 1 && bits <= 7) {
        if (!holds(1)) return std::nullopt;
        // The byte is signed, so a field that crosses into the next byte
        // shows copies of this byte's top bit: the value the list always showed.
        const int32_t value = int32_t(int8_t(data[at])) >> shift;
        return value & ((1 << bits) - 1);
    }
    switch (bits) {
    case 8:
        if (!holds(1)) return std::nullopt;
        return int8_t(data[at]);
    case 12: {
        if (!holds(2)) return std::nullopt;
        uint32_t word = Little(data, at, 2);
        if (shift) word >>= 4;
        word &= 0xFFF;
        return word & 0x800 ? int32_t(word) - 0x1000 : int32_t(word);
    }
    case 16:
        if (!holds(2)) return std::nullopt;
        return int16_t(Little(data, at, 2));
    case 32:
    case 64:
        // A 64-bit value is shown by its low 32 bits, as a signed number.
        if (!holds(bits / 8)) return std::nullopt;
        return int32_t(Little(data, at, 4));
    default: return std::nullopt;
    }
}

std::string FormatFieldValue(std::span<const uint8_t> data, uint32_t bitOffset, uint32_t bits)
{
    const bool known = (bits >= 1 && bits <= 8) || bits == 12 || bits == 16 || bits == 32 || bits == 64;
    if (!known) return "error";
    const auto value = ReadFieldNumber(data, bitOffset, bits);
    return value ? Printf("%d", int(*value)) : std::string();
}

const char* RequestName(uint8_t bRequest)
{
    switch (bRequest) {
    case GetReport: return "GetReport";
    case GetIdle: return "GetIdle";
    case GetProtocol: return "GetProtocol";
    case SetReport: return "SetReport";
    case SetIdle: return "SetIdle";
    case SetProtocol: return "SetProtocol";
    default: return "";
    }
}

namespace {

const char* SetupRequestName(uint8_t bRequest)
{
    switch (bRequest) {
    case GetReport: return "GET_REPORT";
    case GetIdle: return "GET_IDLE";
    case GetProtocol: return "GET_PROTOCOL";
    case SetReport: return "SET_REPORT";
    case SetIdle: return "SET_IDLE";
    case SetProtocol: return "SET_PROTOCOL";
    default: return "";
    }
}

std::string WValueText(uint8_t bRequest, uint16_t wValue)
{
    const uint8_t high = uint8_t(wValue >> 8), low = uint8_t(wValue);
    switch (bRequest) {
    case GetReport:
    case SetReport: {
        static const char* const kTypes[] = {"Reseved", "Input", "Output", "Feature"};
        std::string text = high >= 1 && high <= 3 ? kTypes[high] : kTypes[0];
        if (low) text += Printf(", ReportId = %d", low);
        return text;
    }
    case GetIdle: return Printf("ReportId = %d", low);
    case GetProtocol: return Printf("%d", wValue);
    case SetIdle: {
        std::string text = low ? Printf("ReportId = %d , ", low) : std::string();
        return text + (wValue >= 256 ? Printf("Duration = %d ms", high * 4) : std::string("Duration = 0"));
    }
    case SetProtocol: return wValue ? "Report Protocol" : "Boot Protocol";
    default: return {};
    }
}

}  // namespace

std::vector<HidField> DecodeSetupPacket(std::span<const uint8_t, 8> setup)
{
    static const char* const kRecipients[] = {"Device", "Interface", "Endpoint", "Other"};
    static const char* const kTypes[] = {"Standard", "Class", "Vendor", "Reserved"};
    const uint8_t type = setup[0];
    const uint8_t recipient = type & 0x1F;
    const uint16_t wValue = uint16_t(setup[2] | setup[3] << 8);
    const uint16_t wIndex = uint16_t(setup[4] | setup[5] << 8);
    const uint16_t wLength = uint16_t(setup[6] | setup[7] << 8);
    std::vector<HidField> fields = {
        {0, 5, "bmRequestType.Recipient", recipient < 4 ? kRecipients[recipient] : "Reserved"},
        {5, 2, "bmRequestType.Type", kTypes[(type >> 5) & 3]},
        {7, 1, "bmRequestType.Direction", type & 0x80 ? "Device-to-host" : "Host-to-device"},
        {8, 8, "bRequest", SetupRequestName(setup[1])},
        {16, 16, "wValue", WValueText(setup[1], wValue)},
        {32, 16, "wIndex", Printf("Interface %d", wIndex)},
        {48, 16, "wLength", Printf("%d", wLength)},
    };
    for (HidField& field : fields) field.tipKey = MakeTipKey(TipSetupField, field.name);
    return fields;
}

}  // namespace orvane::hid
