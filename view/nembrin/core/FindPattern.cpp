#include "FindPattern.h"

#include <algorithm>
#include <cstring>

namespace orvane::nembrin {

std::u16string TrimSpaces(const std::u16string& text)
{
    size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return {};
    size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

namespace {

bool AllOf(const std::u16string& text, const char16_t* allowed)
{
    if (text.empty()) return false;
    return text.find_first_not_of(allowed) == std::u16string::npos;
}

int32_t DigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return 0;
}

// Digits read from the last backwards, `perByte` to a byte, right-aligned.
std::vector<uint8_t> DigitsToBytes(const std::u16string& digits, size_t perByte, uint32_t radix)
{
    const size_t count = digits.size();
    std::vector<uint8_t> bytes((count + perByte - 1) / perByte, 0);
    size_t at = bytes.size();
    uint32_t value = 0, weight = 1;
    for (size_t i = 0; i < count; ++i) {
        value += uint32_t(DigitValue(digits[count - 1 - i])) * weight;
        weight *= radix;
        if ((i + 1) % perByte == 0) {
            bytes[--at] = uint8_t(value);
            value = 0;
            weight = 1;
        }
    }
    // Only digits left over make a first byte of their own.
    if (count % perByte != 0) bytes[--at] = uint8_t(value);
    return bytes;
}

}  // namespace

bool CheckDigits(PatternKind kind, const std::u16string& text, std::u16string* digits)
{
    switch (kind) {
    case PatternBinary:
        if (!AllOf(text, u"01")) return false;
        *digits = text;
        return true;
    case PatternHex:
        if (!AllOf(text, u"0123456789ABCDEFabcdef")) return false;
        *digits = text;
        return true;
    case PatternText:
        // A lone quote and an empty quoted text search for nothing.
        if (text.size() < 3 || text.front() != u'"' || text.back() != u'"') return false;
        *digits = text.substr(1, text.size() - 2);
        return true;
    default: return false;
    }
}

PatternKind ParsePattern(const std::u16string& text, std::u16string* digits)
{
    const size_t n = text.size();
    if (n == 0) return PatternNone;
    if (text[0] == u'(') {
        size_t p = text.find(u')');
        if (p == std::u16string::npos || p < 1 || p >= n - 1) return PatternNone;
        std::u16string radix = text.substr(p + 1), inner = text.substr(1, p - 1);
        PatternKind kind = radix == u"2" ? PatternBinary : radix == u"16" ? PatternHex : PatternNone;
        if (kind == PatternNone) return PatternNone;
        return CheckDigits(kind, inner, digits) ? kind : PatternNone;
    }
    if (text[0] == u'"') return CheckDigits(PatternText, text, digits) ? PatternText : PatternNone;
    if (n >= 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
        return CheckDigits(PatternHex, text.substr(2), digits) ? PatternHex : PatternNone;
    if (text.back() == u'b' || text.back() == u'B')
        return CheckDigits(PatternBinary, text.substr(0, n - 1), digits) ? PatternBinary : PatternNone;
    return CheckDigits(PatternHex, text, digits) ? PatternHex : PatternNone;
}

std::vector<uint8_t> BinaryToBytes(const std::u16string& digits) { return DigitsToBytes(digits, 8, 2); }
std::vector<uint8_t> HexToBytes(const std::u16string& digits) { return DigitsToBytes(digits, 2, 16); }

std::vector<uint8_t> TextToBytes(const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(uint8_t(c & 0xFF));
        bytes.push_back(uint8_t(c >> 8));
    }
    return bytes;
}

Pattern InterpretPattern(const std::u16string& text, int32_t radix)
{
    Pattern p;
    const std::u16string trimmed = TrimSpaces(text);
    std::u16string digits;
    if (radix >= RadixBinary && radix <= RadixText && CheckDigits(PatternKind(radix), trimmed, &digits))
        p.kind = PatternKind(radix);
    else
        p.kind = ParsePattern(trimmed, &digits);
    switch (p.kind) {
    case PatternBinary: p.bytes = BinaryToBytes(digits); break;
    case PatternHex: p.bytes = HexToBytes(digits); break;
    case PatternText: p.bytes = TextToBytes(digits); break;
    default: break;
    }
    return p;
}

std::vector<BitRange> FindAll(const uint8_t* data, uint64_t from, uint64_t to, const std::vector<uint8_t>& pattern)
{
    std::vector<BitRange> hits;
    const uint64_t n = pattern.size();
    if (!data || n == 0 || to < from || to - from < n) return hits;
    for (uint64_t p = from; p + n <= to;) {
        if (std::memcmp(data + p, pattern.data(), n) == 0) {
            hits.push_back({int64_t(8 * p), int64_t(8 * (p + n))});
            p += n;
        } else {
            ++p;
        }
    }
    return hits;
}

std::optional<int64_t> StepHit(int64_t current, int32_t delta, size_t count)
{
    int64_t next = current + delta;
    if (next < 0 || next >= int64_t(count)) return std::nullopt;
    return next;
}

}  // namespace orvane::nembrin
