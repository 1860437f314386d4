// Colours of the charts. Two conventions meet here: the colour tables keep
// 0x00BBGGRR values, the overlay and line colours 0xAARRGGBB ones; each has
// exactly one conversion to the channel form the drawing code uses.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace orvane::velmora {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// 0x00BBGGRR, opaque.
constexpr Rgb RgbFromColorRef(uint32_t c) { return {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255}; }
// 0xAARRGGBB.
constexpr Rgb RgbFromArgb(uint32_t c) { return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), uint8_t(c >> 24)}; }
constexpr uint32_t ColorRefOf(Rgb c) { return uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16; }

// Text on a background is white when its brightest channel is at most 128.
constexpr bool IsDark(Rgb c) { return std::max({c.r, c.g, c.b}) <= 128; }

// Keys of the colour table: 1-15 PID nibbles, then the field cells.
enum ColourKey : uint8_t {
    KeyTokenAddress = 16, KeyTokenEndpoint = 17, KeyCrc5 = 18, KeyData = 19, KeyCrc16 = 20, KeySofFrame = 21,
    KeySplitHub = 22, KeySplitSc = 23, KeySplitPort = 24, KeySplitS = 25, KeySplitU = 26, KeySplitEt = 27,
    kColourKeys = 28,
};

// A fixed table: reading a colour never changes it, so the painter can read
// it from any thread. Key 0 (no PID) is black.
constexpr std::array<uint32_t, kColourKeys> kColourMap = {
    0x000000, 0x80FFFF, 0x00FFFF, 0xEDEDED, 0x808040, 0xFFFF00, 0xFF0080, 0x646464,
    0x008080, 0x400040, 0x323232, 0x800040, 0x80FA64, 0x8000FF, 0xFF00FF, 0xC8C8C8,
    0x400000, 0x80FF00, 0x808080, 0x000080, 0x808080, 0x800080, 0x808080, 0x000080,
    0x808080, 0x800080, 0x808080, 0x800080,
};
constexpr uint32_t ColourOf(uint32_t key) { return key < kColourKeys ? kColourMap[key] : 0; }

// Bytes of a packet on the bus by PID nibble; a data packet's 3 is its PID and
// CRC16, the charts that count payload add it themselves.
constexpr std::array<int32_t, 16> kPacketSizes = {0, 3, 1, 3, 3, 3, 1, 3, 4, 3, 1, 3, 1, 3, 1, 3};

// The series colours of the bus-usage and transfer-rate charts (0x00BBGGRR).
constexpr std::array<uint32_t, 20> kSeriesPalette = {
    0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF, 0xFFFF00, 0x800040, 0x00FF64, 0x80FA64,
    0x8000FF, 0xFF00FF, 0x400000, 0x80FF00, 0x000080, 0x800080, 0x000080, 0xC86432, 0x3264C8, 0x00C832,
};

// The chart window's colours.
constexpr uint32_t kBackCurrent = 0xBEBEBE;   // COLORREF, the current chart
constexpr uint32_t kBackOther = 0xDCDCDC;     // COLORREF
constexpr uint32_t kPaneEmpty = 0xDCDCDC;     // COLORREF, RGB(220,220,220)
constexpr uint32_t kTitleLine = 0x323232;     // COLORREF
constexpr uint32_t kCentreLine = 0x64FF0000;  // ARGB
constexpr uint32_t kBandFill = 0x327DA2FF;    // ARGB
constexpr uint32_t kBandBorder = 0xC87DA2FF;  // ARGB
constexpr uint32_t kCrosshair = 0x6464FF;     // COLORREF
constexpr uint32_t kErrorCell = 0x141414;     // COLORREF

}  // namespace orvane::velmora
