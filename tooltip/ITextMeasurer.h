// Font metrics for the measuring and drawing passes. The real one wraps
// QFontMetrics; tests use fixed metrics so layouts are exact to the pixel.
#pragma once

#include <string>
#include <string_view>

#include "HtmlTypes.h"

namespace orvane {

// A font as the renderer asks for it; height is the cell height in pixels.
struct HtmlFont {
    int height = 16;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    std::u16string face = u"Verdana";
    bool operator==(const HtmlFont&) const = default;
};

struct HtmlFontMetrics {
    int height = 0;
    int ascent = 0;
};

class ITextMeasurer {
public:
    virtual ~ITextMeasurer() = default;
    // Makes the font current for Metrics and Extent.
    virtual void SetFont(const HtmlFont& font) = 0;
    virtual HtmlFontMetrics Metrics() const = 0;
    // Width and height of one run in the current font.
    virtual HtmlSize Extent(std::u16string_view text) const = 0;
    // Vertical dots per inch of the output.
    virtual int DpiY() const = 0;
};

}  // namespace orvane
