// The tooltip's drawing operations on QImage and QPainter: colour maths,
// gradients, generated pattern backgrounds in a 256-colour image, image
// variants (grey, darker, lighter, one colour, inverted), blends, soft
// shadows and frames in border styles. Shared by the tip window and the
// Qt canvas of the text engine.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QColor>
#include <QImage>
#include <QRegion>

#include "HtmlTypes.h"
#include "IHtmlCanvas.h"

class QPainter;

namespace orvane {

// A uniform source in 0 to 32767; the pattern effects draw their noise from it.
using TipRandom = std::function<int()>;
TipRandom DefaultTipRandom();

// Largest side and pixel count of any image the helpers allocate.
namespace drawlimits {
constexpr int kMaxSide = 32767;
constexpr int64_t kMaxPixels = int64_t(1) << 26;
}  // namespace drawlimits

// False for sides below 1 or above the caps.
bool ImageSizeFits(int64_t width, int64_t height);

// ImageVariant flags; image styles add the shadow bits.
// The text engine's image styles pass through as they are.
enum ImageVariantFlag : unsigned {
    VariantGrey = ImageGrey,
    VariantDarker = ImageDarker,
    VariantLighter = ImageLighter,
    VariantOneColor = 0x0008,
    VariantInverted = 0x8000,
    StyleShadow = ImageShadow,
    StyleBlurredShadow = ImageBlurredShadow,
};

// An opaque Qt colour of a COLORREF-ordered value.
QColor ToQColor(Colorref color);

// The 8-bit palette image the pattern effects are generated in.
class CDibImage {
public:
    virtual ~CDibImage() = default;
    // A width x height image with 256 black palette entries; false (and no
    // image) when the size is out of bounds or cannot be allocated.
    bool Create(int width, int height);
    // Every entry moves min(percent, 100) percent toward the colour.
    void BlendPalette(Colorref colour, int percent);
    void Draw(QPainter& painter, int x, int y) const;

    bool IsNull() const { return image_.isNull(); }
    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }
    // Palette entries as 0x00BBGGRR.
    Colorref PaletteEntry(int index) const;
    void SetPaletteEntry(int index, Colorref colour);

private:
    QImage image_;
};

class CDrawHelper {
public:
    explicit CDrawHelper(TipRandom random = DefaultTipRandom());
    virtual ~CDrawHelper() = default;

    // ---- colour maths (0x00BBGGRR)
    static Colorref MixColors(Colorref c1, double w1, Colorref c2, double w2);
    static Colorref ScaleColor(Colorref colour, double f);
    static Colorref BrightenColor(Colorref colour, double f);

    // ---- fills
    // 64 bands from colour 1 to colour 2 along x (horizontal) or y; empty bands skipped.
    static void FillTwoColorGradient(QPainter& painter, const HtmlRect& rect, Colorref c1, Colorref c2, bool horizontal);
    // Background effect ids: 1-6 gradients, 7-15 patterns, anything else solid begin colour.
    void FillEffect(QPainter& painter, int effect, const HtmlRect& rect, Colorref begin, Colorref middle, Colorref end,
                    int granularity, int colouring);
    // Generates pattern 7-15 of width x height into the effect image; false
    // (nothing generated) for an empty or oversized rectangle or another id.
    bool MakeEffectImage(int effect, int width, int height, Colorref begin, Colorref middle, Colorref end,
                         int granularity, int colouring);
    const CDibImage& EffectImage() const { return dib_; }

    // ---- copies and blends on images (clipped to both images)
    // The source tile (sx, sy, tw, th) repeated over the rectangle from its top-left.
    static void TileCopy(QImage& dest, int x, int y, int width, int height, const QImage& source, int sx, int sy,
                         int tw, int th);
    // percent/100 of the source (from its origin) over the destination rectangle,
    // only inside the clip when one is given.
    static void BlendCopy(QImage& dest, int x, int y, int width, int height, const QImage& source, int percent,
                          const QRegion* clip = nullptr);
    // As BlendCopy, each pixel weighted by its source alpha.
    static void BlendCopyAlpha(QImage& dest, int x, int y, int width, int height, const QImage& source);

    // ---- shadows
    // The darkening factor (0 to 1) of every mask pixel, blurred over a
    // depthX x depthY box (made odd) when asked and the mask is large enough.
    static std::vector<double> ShadowFactors(const QImage& mask, bool blurred, int depthX, int depthY);
    // The box mean of values (width x height, row major, outside counting as
    // 255) divided by depthX x depthY x 255, with running sums.
    static std::vector<double> MakeBlurMap(const std::vector<double>& values, int width, int height, int depthX,
                                           int depthY);
    // Darkens the destination under the grey mask (white: no shadow) placed at (x, y).
    static void DrawShadow(QImage& dest, int x, int y, const QImage& mask, bool blurred, int depthX, int depthY);
    // The same darkening on any painter, as black of the matching opacity.
    static void DrawShadow(QPainter& painter, int x, int y, const QImage& mask, bool blurred, int depthX, int depthY);

    // ---- image variants and images
    // A 32-bit copy with the variant flags applied; pixels of the transparent
    // colour become black. Sets the alpha flag when the image has an alpha channel.
    QImage MakeImageVariant(const QImage& image, unsigned flags, bool useTransparent, Colorref transparent,
                            Colorref oneColour);
    bool AlphaFlag() const { return alpha_; }
    void DrawBitmapImage(QPainter& painter, int x, int y, int width, int height, const QImage& bitmap,
                         bool useTransparent, Colorref transparent, unsigned style, bool shadowOn, int shadowDx,
                         int shadowDy, int depthX, int depthY, Colorref shadowColour);
    // Icons carry their own alpha: no key colour.
    void DrawIconImage(QPainter& painter, int x, int y, int width, int height, const QImage& icon, unsigned style,
                       bool shadowOn, int shadowDx, int shadowDy, int depthX, int depthY, Colorref shadowColour);
    // Cell `index` of a grid of cellWidth x cellHeight cells; nothing outside the grid.
    void DrawImageListImage(QPainter& painter, int x, int y, int width, int height, const QImage& grid, int index,
                            int cellWidth, int cellHeight, bool useTransparent, Colorref transparent, unsigned style,
                            bool shadowOn, int shadowDx, int shadowDy, int depthX, int depthY, Colorref shadowColour);

    // ---- frames and lines in border styles (1 solid, 2 dashed, 3 dotted, 6 double)
    static void DrawStyledRect(QPainter& painter, int left, int top, int right, int bottom, Colorref topLeft,
                               Colorref bottomRight, int borderStyle, int width);
    static void DrawStyledLine(QPainter& painter, int x1, int y1, int x2, int y2, Colorref colour, int borderStyle,
                               int width);

private:
    int Noise(int divisor, int granularity);
    int Random();

    TipRandom random_;
    CDibImage dib_;
    bool alpha_ = false;
};

}  // namespace orvane
