#include "CDescriptorString.h"

#include "CByteCursor.h"
#include "CFieldWalker.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"STRING"};

constexpr FieldSpec kHeader[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
};

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

void CDescriptorString::Parse(const uint8_t* data, uint32_t length)
{
    header_.Assign(data, length);
    units_.clear();
    CByteCursor cursor(data, length);
    cursor.Skip(2);
    while (auto unit = cursor.ReadU16()) units_.push_back(*unit);
}

void CDescriptorString::GetName(std::string& out)
{
    out = "String descriptor";
}

int32_t CDescriptorString::GetFieldCount()
{
    return text_ ? 3 : 2 + static_cast<int32_t>(units_.size());
}

int32_t CDescriptorString::GetField(int32_t index, FieldRecord* out)
{
    if (!out || index < 0 || index >= GetFieldCount()) return 0;
    out->tip.clear();
    if (CFieldWalker::Describe(kHeader, index, header_.Received(), *ids_, *out)) {
        if (index == 0) out->tip = header_.MalformedNote();
        return 1;
    }
    if (text_) {
        out->name = "bString";
        out->value = Text();
        out->bits = static_cast<uint32_t>(16 * units_.size());
        return 1;
    }
    const size_t k = static_cast<size_t>(index - 2);
    out->name = "wLANGID[" + std::to_string(k) + "]";
    out->value = CFieldWalker::LanguageText(*ids_, units_[k]);
    out->bits = 16;
    return 1;
}

std::string CDescriptorString::TextOf(std::span<const uint16_t> units)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') ||
                   cp >= 0xFFFE) {
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace orvane
