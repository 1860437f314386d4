// What the drawing pass paints on. The real one wraps a QPainter; tests
// record the calls.
#pragma once

#include <string_view>

#include "HtmlTypes.h"
#include "ITextMeasurer.h"

namespace orvane {

// A loaded bitmap, icon or image strip; the resources hand them out and the
// canvas that belongs to them draws them.
class HtmlImage {
public:
    virtual ~HtmlImage() = default;
    virtual HtmlSize Size() const = 0;
};

// Image style bits of the image tags.
enum HtmlImageStyle : unsigned {
    ImageGrey = 0x1,
    ImageDarker = 0x2,
    ImageLighter = 0x4,
    ImageShadow = 0x100,
    ImageBlurredShadow = 0x200,
};

struct HtmlImagePaint {
    unsigned style = 0;
    bool useMask = false;         // pixels of maskColor are transparent
    Colorref maskColor = 0xFF00FF;
    bool shadow = false;
    int shadowDx = 0;
    int shadowDy = 0;
    int blurX = 0;
    int blurY = 0;
    Colorref effectColor = 0;     // colour of the shadow
    bool operator==(const HtmlImagePaint&) const = default;
};

struct HtmlTextPaint {
    Colorref color = 0;
    bool opaque = false;          // fill the text cell with background first
    Colorref background = 0xFFFFFF;
};

class IHtmlCanvas {
public:
    virtual ~IHtmlCanvas() = default;
    // Text whose cell's top-left corner is (x, y).
    virtual void DrawText(int x, int y, std::u16string_view text, const HtmlFont& font,
                          const HtmlTextPaint& paint) = 0;
    // A line in a border style (1 solid, 2 dashed, 3 dotted, 6 double).
    virtual void DrawLine(int x1, int y1, int x2, int y2, Colorref color, int borderStyle, int width) = 0;
    // Background effect ids: 0 solid, 1-6 gradients, 7-15 patterns; others solid.
    virtual void FillEffect(const HtmlRect& rect, int effect, Colorref begin, Colorref middle, Colorref end,
                            int granularity) = 0;
    // A frame: left and top edges in one colour, right and bottom in the other.
    virtual void DrawStyledRect(const HtmlRect& rect, Colorref topLeft, Colorref bottomRight, int borderStyle,
                                int width) = 0;
    // The source rectangle of the image scaled to (x, y, w, h).
    virtual void DrawImage(const HtmlImage& image, const HtmlRect& source, int x, int y, int w, int h,
                           const HtmlImagePaint& paint) = 0;
    // The image repeated from the rectangle's top-left corner, clipped to it.
    virtual void TileImage(const HtmlImage& image, const HtmlRect& rect) = 0;
};

}  // namespace orvane
