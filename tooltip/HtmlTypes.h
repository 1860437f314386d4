// Plain value types of the tip renderer: colours, geometry, the percentage
// helper and the bounds that keep hostile tip texts cheap.
#pragma once

#include <cstdint>

namespace orvane {

// Colours are kept as 0x00BBGGRR everywhere in the renderer.
using Colorref = uint32_t;

constexpr Colorref MakeColorref(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16;
}
constexpr unsigned RedOf(Colorref c) { return c & 0xFF; }
constexpr unsigned GreenOf(Colorref c) { return c >> 8 & 0xFF; }
constexpr unsigned BlueOf(Colorref c) { return c >> 16 & 0xFF; }

// The one conversion between 0x00BBGGRR and 0x00RRGGBB (it is its own inverse).
constexpr uint32_t SwapRedBlue(uint32_t c) {
    return (c & 0x0000FF00) | (c & 0xFF) << 16 | (c >> 16 & 0xFF);
}

// a * b / c rounded to the nearest, halves away from zero, with a 64-bit
// product; -1 when c is 0 or the result does not fit 32 bits.
int MulDiv(int a, int b, int c);

struct HtmlSize {
    int cx = 0;
    int cy = 0;
    bool operator==(const HtmlSize&) const = default;
};

struct HtmlRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const HtmlRect&) const = default;
};

// Bounds on what a tip text can ask for.
namespace htmllimits {
constexpr int kMaxLength = 1 << 20;       // any length, id or number read from the text
constexpr int kMaxCoord = 1 << 24;        // positions and sizes during layout
constexpr int kMaxFontSize = 400;         // pixels
constexpr int kMaxLineCount = 100;        // br= and t= counts
constexpr int kMaxRuleSize = 100;         // hr size
constexpr int kMaxPercent = 1000;         // hr width and image scaling percentages
constexpr int kMaxImageSide = 4096;       // drawn image width or height
constexpr int kMaxImages = 4096;          // image tags of one text
constexpr int kMaxStyleDepth = 256;       // style stack entries pushed by tags
constexpr int kMaxTableDepth = 16;        // nested tables
constexpr int kMaxTableSpan = 256;        // colspan and rowspan
constexpr int kMaxTableColumns = 256;
constexpr int kMaxTableSlots = 1 << 18;   // rows times columns of one table
constexpr int kMaxFaceLength = 31;
}  // namespace htmllimits

// Clamps a 64-bit intermediate into [lo, hi].
constexpr int Clamp64(int64_t v, int lo, int hi) {
    return v < lo ? lo : v > hi ? hi : static_cast<int>(v);
}

}  // namespace orvane
