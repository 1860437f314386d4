// Bytes of the still-image class's containers and datasets (ISO 15740 over
// USB), little-endian, for the emulated camera and for tests that need a
// device's answers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvane::emu::ptp {

using Bytes = std::vector<uint8_t>;

enum ContainerType : uint16_t { Command = 1, Data = 2, Response = 3, Event = 4 };

inline void Put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v);
    Put16(b, v >> 16);
}
inline void Put64(Bytes& b, uint64_t v)
{
    Put32(b, uint32_t(v));
    Put32(b, uint32_t(v >> 32));
}

// Length, type, code and transaction id, then the payload.
inline Bytes Container(uint16_t type, uint16_t code, uint32_t transaction, const Bytes& payload = {})
{
    Bytes c;
    Put32(c, uint32_t(12 + payload.size()));
    Put16(c, type);
    Put16(c, code);
    Put32(c, transaction);
    c.insert(c.end(), payload.begin(), payload.end());
    return c;
}

// A command, response or event: its parameters are 32-bit words.
inline Bytes Container(uint16_t type, uint16_t code, uint32_t transaction, std::initializer_list<uint32_t> params)
{
    Bytes words;
    for (uint32_t p : params) Put32(words, p);
    return Container(type, code, transaction, words);
}

// A count of UTF-16 characters with the terminating 0, then the characters;
// an empty string is the count 0 alone.
inline void PutString(Bytes& b, const std::string& s)
{
    if (s.empty()) {
        b.push_back(0);
        return;
    }
    b.push_back(uint8_t(s.size() + 1));
    for (char c : s) Put16(b, uint8_t(c));
    Put16(b, 0);
}

inline void PutArray16(Bytes& b, std::initializer_list<uint16_t> values)
{
    Put32(b, uint32_t(values.size()));
    for (uint16_t v : values) Put16(b, v);
}

inline void PutArray32(Bytes& b, const std::vector<uint32_t>& values)
{
    Put32(b, uint32_t(values.size()));
    for (uint32_t v : values) Put32(b, v);
}

}  // namespace orvane::emu::ptp
