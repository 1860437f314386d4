// Number readers with the C library's rules but bounded results.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvane::htmlnumbers {

inline bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

inline int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'z') return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    return 99;
}

// As strtoul with base 0 on a 32-bit unsigned long: "0x" hexadecimal, a
// leading "0" octal, else decimal; overflow gives 0xFFFFFFFF.
inline uint32_t ReadUnsigned(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    unsigned base = 10;
    if (i < s.size() && s[i] == u'0') {
        base = 8;
        if (i + 2 < s.size() && (s[i + 1] == u'x' || s[i + 1] == u'X') && DigitValue(s[i + 2]) < 16) {
            base = 16;
            i += 2;
        }
    }
    uint64_t value = 0;
    bool overflow = false;
    for (; i < s.size(); ++i) {
        unsigned d = static_cast<unsigned>(DigitValue(s[i]));
        if (d >= base) break;
        value = value * base + d;
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (overflow) return 0xFFFFFFFFu;
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

// As atoi: leading blanks, a sign and decimal digits; saturates at the int range.
inline int64_t LeadingInt(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    int64_t value = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        value = value * 10 + (s[i] - u'0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
    }
    return negative ? -value : value;
}

}  // namespace orvane::htmlnumbers
