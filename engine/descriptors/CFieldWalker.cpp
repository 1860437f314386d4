#include "CFieldWalker.h"

#include <array>

#include "CByteCursor.h"

namespace orvane {
namespace {

constexpr std::array<const char*, 13> kStandardRequests = {
    "GET_STATUS", "CLEAR_FEATURE", "Reserved for future use", "SET_FEATURE", "Reserved for future use",
    "SET_ADDRESS", "GET_DESCRIPTOR", "SET_DESCRIPTOR", "GET_CONFIGURATION", "SET_CONFIGURATION",
    "GET_INTERFACE", "SET_INTERFACE", "SYNCH_FRAME",
};
constexpr std::array<const char*, 9> kDescriptorTypes = {
    "", "DEVICE", "CONFIGURATION", "STRING", "INTERFACE", "ENDPOINT", "DEVICE_QUALIFIER",
    "OTHER_SPEED_CONFIGURATION", "INTERFACE_POWER",
};
constexpr std::array<const char*, 4> kTransferTypes = {"Control", "Isochronous", "Bulk", "Interrupt"};
constexpr std::array<const char*, 4> kSyncTypes = {"No Synchronization", "Asynchronous", "Adaptive", "Synchronous"};
constexpr std::array<const char*, 4> kUsageTypes = {"Data endpoint", "Feedback endpoint",
                                                    "Implicit feedback Data endpoint", "Reserved"};

std::string Dec(uint64_t v) { return std::to_string(v); }

std::string OrDecimal(std::string name, bool fallback, uint64_t v)
{
    return name.empty() && fallback ? Dec(v) : name;
}

// Byte `at` of the data; callers ask only for bytes at or before a field they
// have already found present.
uint8_t ByteAt(std::span<const uint8_t> bytes, size_t at)
{
    CByteCursor cursor(bytes);
    cursor.Seek(at);
    return cursor.Peek().value_or(0);
}

std::string SetupValue(std::span<const uint8_t> b, uint64_t value)
{
    const unsigned type = (ByteAt(b, 0) >> 5) & 3;
    const unsigned request = ByteAt(b, 1);
    if (type != 0) return Dec(value);
    switch (request) {
    case 1: case 3: return "Feature Selector " + Dec(value);
    case 6: case 7: {
        const unsigned kind = value >> 8;
        if (kind < kDescriptorTypes.size()) return std::string(kDescriptorTypes[kind]) + " " + Dec(value & 0xFF);
        return Dec(value);
    }
    case 10: case 11: return "Alternate Setting " + Dec(value);
    case 5: return "Device Address " + Dec(value);
    case 9: return "Configuration " + Dec(value);
    case 12: return Dec(value);
    default: return {};
    }
}

std::string SetupIndex(std::span<const uint8_t> b, uint64_t value, const CUsbIdDatabase& ids)
{
    switch (ByteAt(b, 0) & 0x1F) {
    case 0: return value == 0 ? "Zero" : CFieldWalker::LanguageText(ids, static_cast<unsigned>(value));
    case 1: return "Interface " + Dec(value);
    case 2: return "endpoint " + Dec(value);
    default: return Dec(value);
    }
}

std::string Bcd(uint64_t v, bool wholeHighByte)
{
    const uint64_t major = wholeHighByte ? (v >> 8) & 0xFF : (v >> 8) & 0xF;
    const uint64_t minor = (v >> 4) & 0xF;
    const uint64_t sub = v & 0xF;
    if (sub == 0) return Dec(major) + "." + Dec(minor);
    return Dec(major) + "." + Dec(minor) + (wholeHighByte ? "." : "") + Dec(sub);
}

std::string Value(const FieldSpec& spec, std::span<const uint8_t> b, uint64_t v, const CUsbIdDatabase& ids)
{
    const int code = static_cast<int>(v);
    switch (spec.format) {
    case FieldFormat::Decimal: return Dec(v);
    case FieldFormat::Text: return spec.names.empty() ? std::string() : spec.names[0];
    case FieldFormat::Named:
        if (v < spec.names.size()) return spec.names[v];
        return spec.other ? spec.other : Dec(v);
    case FieldFormat::Bytes: return Dec(v) + " bytes";
    case FieldFormat::DoubleMilliamps: return Dec(v * 2) + " mA";
    case FieldFormat::BcdUsb: return Bcd(v, false);
    case FieldFormat::BcdDevice: return Bcd(v, true);
    case FieldFormat::ClassName: return OrDecimal(ids.GetClassName(code), spec.decimalFallback, v);
    case FieldFormat::SubClassName:
        return OrDecimal(ids.GetSubClassName(ByteAt(b, spec.base), code), spec.decimalFallback, v);
    case FieldFormat::ProtocolName:
        return OrDecimal(ids.GetProtocolName(ByteAt(b, spec.base), ByteAt(b, spec.base + 1), code),
                         spec.decimalFallback, v);
    case FieldFormat::VendorName: return OrDecimal(ids.GetVendorName(code), spec.decimalFallback, v);
    case FieldFormat::ProductName: {
        const int vendor = ByteAt(b, spec.base) | (ByteAt(b, spec.base + 1) << 8);
        return OrDecimal(ids.GetProductName(vendor, code), spec.decimalFallback, v);
    }
    case FieldFormat::EndpointAddress: return Dec(v & 0xF) + ((v & 0x80) ? " IN" : " OUT");
    case FieldFormat::EndpointAttributes:
        return std::string(kTransferTypes[v & 3]) + "," + kSyncTypes[(v >> 2) & 3] + "," + kUsageTypes[(v >> 4) & 3];
    case FieldFormat::Undecoded: break;
    case FieldFormat::SetupRequest:
        if (((ByteAt(b, 0) >> 5) & 3) == 0 && v < kStandardRequests.size()) return kStandardRequests[v];
        return Dec(v);
    case FieldFormat::SetupValue: return SetupValue(b, v);
    case FieldFormat::SetupIndex: return SetupIndex(b, v, ids);
    }
    return {};
}

}  // namespace

void CFieldWalker::Describe(const FieldSpec& spec, std::span<const uint8_t> bytes, const CUsbIdDatabase& ids,
                            FieldRecord& out)
{
    out.name = spec.name;
    out.bits = spec.bits;
    if (spec.format == FieldFormat::Undecoded) {
        // bLength counts the two header bytes; a shorter one covers nothing
        // rather than a negative width.
        const unsigned length = ByteAt(bytes, 0);
        out.bits = length > 2 ? (length - 2) * 8 : 0;
        out.value = "Check Data pane";
        return;
    }
    CByteCursor cursor(bytes);
    cursor.Seek(spec.offset);
    const size_t width = (spec.shift + spec.bits + 7u) / 8u;
    const bool present = spec.offset <= bytes.size() && cursor.Has(width);
    const auto raw = present ? cursor.ReadLE(width) : std::nullopt;
    if (!raw) {
        out.value = kTruncated;
        return;
    }
    const uint64_t mask = spec.bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << spec.bits) - 1;
    out.value = Value(spec, bytes, (*raw >> spec.shift) & mask, ids);
}

bool CFieldWalker::Describe(std::span<const FieldSpec> fields, int32_t index, std::span<const uint8_t> bytes,
                            const CUsbIdDatabase& ids, FieldRecord& out)
{
    if (index < 0 || static_cast<size_t>(index) >= fields.size()) return false;
    Describe(fields[static_cast<size_t>(index)], bytes, ids, out);
    return true;
}

std::string CFieldWalker::LanguageText(const CUsbIdDatabase& ids, unsigned langid)
{
    const int language = static_cast<int>(langid & 0xFF);
    const int dialect = static_cast<int>((langid >> 10) & 0x3F);
    return ids.GetLanguageName(language) + " (" + ids.GetDialectName(language, dialect) + ")";
}

uint32_t CFieldWalker::TotalBits(std::span<const FieldSpec> fields)
{
    uint32_t total = 0;
    for (const FieldSpec& f : fields) total += f.bits;
    return total;
}

}  // namespace orvane
