// The data find: what a typed pattern means (binary digits, hexadecimal
// digits or quoted text, chosen by the radix box or recognised from the
// text), the bytes it stands for, and the search over the data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HexLayout.h"

namespace orvane::nembrin {

enum PatternKind : int32_t { PatternNone = 0, PatternBinary = 1, PatternHex = 2, PatternText = 3 };
// The radix box: 0 recognise, 1 binary, 2 hexadecimal, 3 text.
enum RadixChoice : int32_t { RadixAuto = 0, RadixBinary = 1, RadixHex = 2, RadixText = 3 };

// The text without leading and trailing blanks.
std::u16string TrimSpaces(const std::u16string& text);
// Validates `text` as `kind`; on success `digits` holds the digits (for text,
// what stands between the quotes).
bool CheckDigits(PatternKind kind, const std::u16string& text, std::u16string* digits);
// Recognises the kind from the text: (digits)2, (digits)16, "text", 0x..., ...b, or hexadecimal.
PatternKind ParsePattern(const std::u16string& text, std::u16string* digits);

std::vector<uint8_t> BinaryToBytes(const std::u16string& digits);
std::vector<uint8_t> HexToBytes(const std::u16string& digits);
// UTF-16 little-endian code units.
std::vector<uint8_t> TextToBytes(const std::u16string& text);

struct Pattern {
    PatternKind kind = PatternNone;
    std::vector<uint8_t> bytes;
};
// What the dialog searches for: the trimmed text validated as the radix box
// says, falling back to recognition; kind 0 when it is no pattern.
Pattern InterpretPattern(const std::u16string& text, int32_t radix);

// Non-overlapping matches in bytes [from, to) as bit ranges, in order.
std::vector<BitRange> FindAll(const uint8_t* data, uint64_t from, uint64_t to, const std::vector<uint8_t>& pattern);

// The hit after stepping `delta` from `current`, or none past either end.
std::optional<int64_t> StepHit(int64_t current, int32_t delta, size_t count);

}  // namespace orvane::nembrin
