#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>

#include "FindCondition.h"
#include "HexText.h"

namespace orvane::app {

namespace FindText {

std::string Trimmed(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

int32_t Number(const std::string& text)
{
    const std::string t = Trimmed(text);
    if (t.empty()) return -1;
    const long long value = std::strtoll(t.c_str(), nullptr, 10);
    if (value < 0) return -1;
    return int32_t(std::min<long long>(value, std::numeric_limits<int32_t>::max()));
}

std::string NumberText(int32_t value) { return value < 0 ? std::string() : std::to_string(value); }

std::vector<uint8_t> HexBytes(const std::string& text)
{
    std::vector<uint8_t> bytes(FindCondition::kMaxData);
    bytes.resize(ParseHexText(text, bytes.data(), bytes.size()));
    return bytes;
}

std::string HexText(const std::vector<uint8_t>& bytes) { return orvane::HexText(bytes.data(), bytes.size()); }

int32_t SpeedOfIndex(int index)
{
    switch (index) {
    case 1: return 1;  // LS
    case 2: return 3;  // FS
    case 3: return 2;  // HS
    default: return -1;
    }
}

int IndexOfSpeed(int32_t speed)
{
    switch (speed) {
    case 1: return 1;
    case 3: return 2;
    case 2: return 3;
    default: return 0;
    }
}

int IndexOfStatus(int32_t status)
{
    // An error class in the high half is no entry of the combo.
    if (status < -1 || status + 1 >= kStatusEntries) return -1;
    return status + 1;
}

}  // namespace FindText

}  // namespace orvane::app
