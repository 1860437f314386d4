// Bytes as a user reads and types them: two hex digits a byte, each followed
// by a blank; typed text may use any blanks between the bytes.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace orvane {

// Reads up to `capacity` bytes of blank-separated hex numbers into `buffer`
// and answers how many it read; a piece that is no number reads as 0.
inline size_t ParseHexText(std::string_view text, uint8_t* buffer, size_t capacity)
{
    size_t count = 0, at = 0;
    while (count < capacity) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
        if (at == text.size()) break;
        size_t end = at;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        const std::string piece(text.substr(at, end - at));
        buffer[count++] = uint8_t(std::strtoul(piece.c_str(), nullptr, 16));
        at = end;
    }
    return count;
}

// "12 AB " for {0x12, 0xAB}.
inline std::string HexText(const uint8_t* bytes, size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
        text += ' ';
    }
    return text;
}

}  // namespace orvane
