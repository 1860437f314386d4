// Counts and sizes as the user reads them: digits in groups of three.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::app {

inline std::string Grouped(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace orvane::app
