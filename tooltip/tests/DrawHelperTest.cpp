// The drawing helpers on QImage, without a display: colour maths to the
// unit, gradient bands, palettes, the pattern effects on degenerate and huge
// rectangles, blends, shadows and image variants.
#include <gtest/gtest.h>

#include <QPainter>

#include "CDrawHelper.h"

namespace orvane {
namespace {

QImage Filled(int w, int h, QRgb colour, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

// A generator that always answers the same value.
TipRandom Fixed(int value) {
    return [value] { return value; };
}

TEST(DrawHelperTest, ColourMaths) {
    const Colorref c = MakeColorref(200, 100, 50);
    EXPECT_EQ(CDrawHelper::MixColors(c, 0.5, MakeColorref(100, 0, 250), 0.5), MakeColorref(150, 50, 150));
    EXPECT_EQ(CDrawHelper::MixColors(c, 1.0, 0, 0.0), c);
    EXPECT_EQ(CDrawHelper::MixColors(c, 0.7, MakeColorref(255, 255, 255), 0.3), MakeColorref(216, 146, 111));
    struct Case {
        double f;
        Colorref scaled, brightened;
    };
    const Case cases[] = {
        {0.5, MakeColorref(100, 50, 25), MakeColorref(255, 150, 75)},
        {0.25, MakeColorref(50, 25, 12), MakeColorref(250, 125, 62)},
        {0.0, MakeColorref(0, 0, 0), c},       // brighten needs f above 0
        {1.0, c, MakeColorref(255, 200, 100)},  // scale needs f below 1
        {-0.5, c, c},
        {1.5, c, c},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(CDrawHelper::ScaleColor(c, k.f), k.scaled) << k.f;
        EXPECT_EQ(CDrawHelper::BrightenColor(c, k.f), k.brightened) << k.f;
    }
}

TEST(DrawHelperTest, GradientBands) {
    const Colorref from = MakeColorref(0, 0, 0), to = MakeColorref(255, 128, 64);
    QImage image = Filled(128, 4, 0xFFFFFFFF);
    QPainter painter(&image);
    CDrawHelper::FillTwoColorGradient(painter, {0, 0, 128, 4}, from, to, true);
    painter.end();
    // Band i covers two columns in (from * (64 - i) + to * i) >> 6.
    for (int band : {0, 1, 32, 63}) {
        const QRgb p = image.pixel(band * 2 + 1, 2);
        EXPECT_EQ(qRed(p), (255 * band) >> 6) << band;
        EXPECT_EQ(qGreen(p), (128 * band) >> 6) << band;
        EXPECT_EQ(qBlue(p), (64 * band) >> 6) << band;
    }

    // Ten rows high: only the bands that own a row are drawn; row 0 is band 6's.
    QImage narrow = Filled(2, 10, 0xFFFFFFFF);
    QPainter p2(&narrow);
    CDrawHelper::FillTwoColorGradient(p2, {0, 0, 2, 10}, from, MakeColorref(64, 64, 64), false);
    p2.end();
    EXPECT_EQ(qRed(narrow.pixel(0, 0)), 6);
    EXPECT_EQ(qRed(narrow.pixel(0, 9)), 63);

    // Split gradients meet at the middle; over 32 columns band 0 is empty,
    // so the outer columns take band 1 (and 63 on the way back): 255 >> 6.
    QImage split = Filled(64, 2, 0xFFFFFFFF);
    QPainter p3(&split);
    CDrawHelper helper(Fixed(0));
    helper.FillEffect(p3, 3, {0, 0, 64, 2}, MakeColorref(0, 0, 0), 0, MakeColorref(255, 255, 255), 0, 0);
    p3.end();
    EXPECT_EQ(qRed(split.pixel(0, 0)), 3);
    EXPECT_EQ(qRed(split.pixel(63, 0)), 3);
    EXPECT_GT(qRed(split.pixel(31, 0)), 240);
}

TEST(DrawHelperTest, OtherEffectIdsFillSolid) {
    CDrawHelper helper(Fixed(0));
    for (int effect : {-1, 0, 16, 99}) {
        QImage image = Filled(8, 8, 0xFFFFFFFF);
        QPainter painter(&image);
        helper.FillEffect(painter, effect, {2, 2, 6, 6}, MakeColorref(10, 20, 30), 0, 0, 0, 0);
        painter.end();
        EXPECT_EQ(image.pixel(2, 2), qRgb(10, 20, 30)) << effect;
        EXPECT_EQ(image.pixel(6, 6), qRgb(255, 255, 255)) << effect;
    }
}

TEST(DrawHelperTest, PaletteAndBlend) {
    CDibImage dib;
    ASSERT_TRUE(dib.Create(4, 4));
    EXPECT_EQ(dib.Image().format(), QImage::Format_Indexed8);
    dib.SetPaletteEntry(0, MakeColorref(100, 0, 200));
    dib.BlendPalette(MakeColorref(200, 100, 0), 50);
    EXPECT_EQ(dib.PaletteEntry(0), MakeColorref(150, 50, 100));
    dib.BlendPalette(MakeColorref(1, 2, 3), 250);  // acts as 100
    for (int i : {0, 17, 255}) EXPECT_EQ(dib.PaletteEntry(i), MakeColorref(1, 2, 3));

    for (auto [w, h] : {std::pair{0, 0}, {-1, 5}, {32768, 1}, {1, 40000}, {20000, 20000}}) {
        EXPECT_FALSE(dib.Create(w, h)) << w << "x" << h;
        EXPECT_TRUE(dib.IsNull());
        dib.BlendPalette(0, 50);  // nothing to blend, no crash
    }
}

TEST(DrawHelperTest, EffectPaletteRunsEndMiddleBegin) {
    CDrawHelper helper(Fixed(0));
    const Colorref begin = MakeColorref(255, 0, 0), middle = MakeColorref(0, 255, 0), end = MakeColorref(0, 0, 255);
    ASSERT_TRUE(helper.MakeEffectImage(7, 4, 4, begin, middle, end, 0, 0));
    const CDibImage& dib = helper.EffectImage();
    EXPECT_EQ(dib.PaletteEntry(0), end);
    EXPECT_EQ(dib.PaletteEntry(64), MakeColorref(0, 127, 127));
    EXPECT_EQ(dib.PaletteEntry(127), MakeColorref(0, 253, 1));
    EXPECT_EQ(dib.PaletteEntry(128), MakeColorref(1, 253, 0));  // (middle x 127 + begin) / 128
    EXPECT_EQ(dib.PaletteEntry(255), begin);
    // Noise 0 with granularity 0: every pixel is index 128.
    EXPECT_EQ(dib.Image().pixelIndex(0, 0), 128);
    EXPECT_EQ(dib.Image().pixelIndex(3, 3), 128);
}

TEST(DrawHelperTest, NoiseOfGranularityZeroIsOneOnlyForTheTopValue) {
    for (auto [random, index] : {std::pair{32766, 128}, {32767, 129}}) {
        CDrawHelper helper(Fixed(random));
        ASSERT_TRUE(helper.MakeEffectImage(7, 2, 2, 0, 0, 0, 0, 0));
        EXPECT_EQ(helper.EffectImage().Image().pixelIndex(1, 1), index) << random;
    }
}

TEST(DrawHelperTest, ShadesCountRowsFromTheBottom) {
    CDrawHelper helper(Fixed(0));
    ASSERT_TRUE(helper.MakeEffectImage(9, 2, 4, 0, 0, 0, 0, 0));  // hshade: (r x 255) / h
    const QImage& image = helper.EffectImage().Image();
    EXPECT_EQ(image.pixelIndex(0, 3), 0);
    EXPECT_EQ(image.pixelIndex(0, 2), 63);
    EXPECT_EQ(image.pixelIndex(0, 0), 191);
    ASSERT_TRUE(helper.MakeEffectImage(10, 4, 1, 0, 0, 0, 0, 0));  // vshade: (255 (w - c)) / w
    EXPECT_EQ(helper.EffectImage().Image().pixelIndex(0, 0), 255);
    EXPECT_EQ(helper.EffectImage().Image().pixelIndex(3, 0), 63);
}

// Every pattern on degenerate, thin and oversized rectangles, with the
// generator at both ends of its range; ASan watches the writes.
TEST(DrawHelperTest, PatternsOnEveryShape) {
    const std::pair<int, int> sizes[] = {{0, 0}, {3, 3}, {5, 40}, {40000, 2}, {1, 1}, {2, 1}, {6, 1}};
    for (int random : {0, 16383, 32767}) {
        CDrawHelper helper(Fixed(random));
        for (int effect = 7; effect <= 15; ++effect) {
            for (auto [w, h] : sizes) {
                for (int g : {0, 7, 255}) {
                    const bool made = helper.MakeEffectImage(effect, w, h, 0xFF, 0xFF00, 0xFF0000, g, 5);
                    EXPECT_EQ(made, w > 0 && h > 0 && w <= 32767) << effect << " " << w << "x" << h;
                    if (made) {
                        EXPECT_EQ(helper.EffectImage().Image().size(), QSize(w, h));
                    }
                    QImage target = Filled(16, 16, 0xFFFFFFFF);
                    QPainter painter(&target);
                    helper.FillEffect(painter, effect, {0, 0, w, h}, 0xFF, 0xFF00, 0xFF0000, g, 5);
                }
            }
        }
    }
}

TEST(DrawHelperTest, BlendCopy) {
    const QImage source = Filled(4, 4, qRgb(200, 100, 0));
    for (auto [percent, expected] : {std::pair{100, qRgb(200, 100, 0)}, {250, qRgb(200, 100, 0)},
                                     {0, qRgb(100, 100, 100)}, {-5, qRgb(100, 100, 100)}, {50, qRgb(150, 100, 50)},
                                     {70, qRgb(170, 100, 30)}}) {
        QImage dest = Filled(6, 6, qRgb(100, 100, 100));
        CDrawHelper::BlendCopy(dest, 1, 1, 4, 4, source, percent);
        EXPECT_EQ(dest.pixel(2, 2), expected) << percent;
        EXPECT_EQ(dest.pixel(0, 0), qRgb(100, 100, 100));
        EXPECT_EQ(dest.pixel(5, 5), qRgb(100, 100, 100));
    }
    // Only inside the clip; the rectangle is cut at both images' edges.
    QImage dest = Filled(6, 6, qRgb(0, 0, 0));
    const QRegion clip(QRect(0, 0, 2, 6));
    CDrawHelper::BlendCopy(dest, -2, -2, 100, 100, source, 100, &clip);
    EXPECT_EQ(dest.pixel(1, 1), qRgb(200, 100, 0));
    EXPECT_EQ(dest.pixel(2, 1), qRgb(0, 0, 0));
    EXPECT_EQ(dest.pixel(1, 2), qRgb(0, 0, 0)) << "past the source's last row";

    QImage alpha(2, 1, QImage::Format_ARGB32);
    alpha.setPixel(0, 0, qRgba(200, 0, 0, 255));
    alpha.setPixel(1, 0, qRgba(200, 0, 0, 0));
    QImage under = Filled(2, 1, qRgb(0, 0, 100));
    CDrawHelper::BlendCopyAlpha(under, 0, 0, 2, 1, alpha);
    EXPECT_EQ(under.pixel(0, 0), qRgb(200, 0, 0));
    EXPECT_EQ(under.pixel(1, 0), qRgb(0, 0, 100));
}

TEST(DrawHelperTest, TileCopyRepeatsAndCuts) {
    QImage source = Filled(3, 1, qRgb(1, 1, 1));
    source.setPixel(1, 0, qRgb(9, 9, 9));
    QImage dest = Filled(8, 3, qRgb(0, 0, 0));
    CDrawHelper::TileCopy(dest, 1, 1, 5, 2, source, 0, 0, 2, 1);
    EXPECT_EQ(dest.pixel(1, 1), qRgb(1, 1, 1));
    EXPECT_EQ(dest.pixel(2, 1), qRgb(9, 9, 9));
    EXPECT_EQ(dest.pixel(4, 2), qRgb(9, 9, 9));
    EXPECT_EQ(dest.pixel(5, 2), qRgb(1, 1, 1));
    EXPECT_EQ(dest.pixel(6, 2), qRgb(0, 0, 0));
    EXPECT_EQ(dest.pixel(1, 0), qRgb(0, 0, 0));
    const QImage before = dest;
    CDrawHelper::TileCopy(dest, 0, 0, 8, 3, source, 0, 0, 0, 1);
    EXPECT_EQ(dest, before) << "an empty tile does nothing";
}

TEST(DrawHelperTest, BlurMapIsABoxMeanWithWhiteOutside) {
    const std::vector<double> values = {0, 255, 255};
    const std::vector<double> map = CDrawHelper::MakeBlurMap(values, 3, 1, 3, 1);
    ASSERT_EQ(map.size(), 3u);
    EXPECT_DOUBLE_EQ(map[0], 2.0 / 3);
    EXPECT_DOUBLE_EQ(map[1], 2.0 / 3);
    EXPECT_DOUBLE_EQ(map[2], 1.0);
    const std::vector<double> white(25, 255.0);
    for (double v : CDrawHelper::MakeBlurMap(white, 5, 5, 3, 3)) EXPECT_DOUBLE_EQ(v, 1.0);
    // A 3 x 3 box over a single black pixel in a 3 x 3 field.
    std::vector<double> dot(9, 255.0);
    dot[4] = 0;
    EXPECT_DOUBLE_EQ(CDrawHelper::MakeBlurMap(dot, 3, 3, 3, 3)[0], 8.0 / 9);
}

TEST(DrawHelperTest, Shadows) {
    // A grey mask darkens by its blue channel / 255; white leaves the pixel.
    QImage mask = Filled(4, 4, qRgb(255, 255, 255));
    mask.setPixel(1, 1, qRgb(128, 128, 128));
    QImage dest = Filled(6, 6, qRgb(200, 100, 50));
    CDrawHelper::DrawShadow(dest, 1, 1, mask, false, 7, 7);
    EXPECT_EQ(dest.pixel(2, 2), qRgb(100, 50, 25));
    EXPECT_EQ(dest.pixel(1, 1), qRgb(200, 100, 50));

    // Blurred: deep inside a large black mask the factor is 0, at its edge partial.
    QImage big = Filled(40, 40, qRgb(255, 255, 255));
    QPainter painter(&big);
    painter.fillRect(QRect(5, 5, 30, 30), Qt::black);
    painter.end();
    const std::vector<double> f = CDrawHelper::ShadowFactors(big, true, 6, 6);  // made 7 x 7
    EXPECT_DOUBLE_EQ(f[20 * 40 + 20], 0.0);
    EXPECT_DOUBLE_EQ(f[0], 1.0);
    EXPECT_GT(f[20 * 40 + 6], 0.0);
    EXPECT_LT(f[20 * 40 + 6], 1.0);
    // Too small for the box: the blur is skipped.
    const QImage small = Filled(5, 5, qRgb(64, 64, 64));
    EXPECT_EQ(CDrawHelper::ShadowFactors(small, true, 7, 7), CDrawHelper::ShadowFactors(small, false, 7, 7));
    EXPECT_TRUE(CDrawHelper::ShadowFactors(QImage(), true, 7, 7).empty());
}

TEST(DrawHelperTest, ImageVariants) {
    QImage image(3, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(100, 150, 200));
    image.setPixel(1, 0, qRgb(255, 0, 255));  // the transparent key
    image.setPixel(2, 0, qRgb(240, 8, 0));
    const Colorref key = MakeColorref(255, 0, 255);
    struct Case {
        unsigned flags;
        QRgb first, third;
    };
    const Case cases[] = {
        {0, qRgb(100, 150, 200), qRgb(240, 8, 0)},
        {VariantGrey, qRgb(140, 140, 140), qRgb(76, 76, 76)},
        {VariantDarker, qRgb(75, 112, 150), qRgb(180, 6, 0)},
        {VariantLighter, qRgb(125, 187, 250), qRgb(255, 10, 0)},
        {VariantOneColor, qRgb(1, 2, 3), qRgb(1, 2, 3)},
        {VariantInverted, qRgb(155, 105, 55), qRgb(15, 247, 255)},
        {VariantGrey | VariantInverted, qRgb(115, 115, 115), qRgb(179, 179, 179)},
    };
    CDrawHelper helper;
    for (const Case& k : cases) {
        const QImage v = helper.MakeImageVariant(image, k.flags, true, key, MakeColorref(1, 2, 3));
        EXPECT_EQ(v.pixel(0, 0), k.first) << k.flags;
        EXPECT_EQ(v.pixel(2, 0), k.third) << k.flags;
        // The key is black, inverted white.
        EXPECT_EQ(v.pixel(1, 0), k.flags & VariantInverted ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) << k.flags;
    }
    // The mask of an image: its pixels black, the key white.
    const QImage mask = helper.MakeImageVariant(image, VariantInverted | VariantOneColor, true, key, 0xFFFFFF);
    EXPECT_EQ(mask.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(mask.pixel(1, 0), qRgb(255, 255, 255));
    // An opaque format has no alpha, whatever its top byte holds.
    EXPECT_FALSE(helper.AlphaFlag());
    helper.MakeImageVariant(image.convertToFormat(QImage::Format_ARGB32), 0, false, 0, 0);
    EXPECT_TRUE(helper.AlphaFlag());
}

TEST(DrawHelperTest, KeyedBitmapLeavesTheBackgroundAndImageListCellsAreBounded) {
    QImage bitmap(2, 1, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(255, 0, 255));
    bitmap.setPixel(1, 0, qRgb(10, 20, 30));
    QImage dest = Filled(4, 2, qRgb(50, 60, 70));
    CDrawHelper helper;
    {
        QPainter painter(&dest);
        helper.DrawBitmapImage(painter, 0, 0, 2, 1, bitmap, true, MakeColorref(255, 0, 255), 0, false, 0, 0, 0, 0, 0);
    }
    EXPECT_EQ(dest.pixel(0, 0), qRgb(50, 60, 70)) << "a transparent key must not paint black";
    EXPECT_EQ(dest.pixel(1, 0), qRgb(10, 20, 30));

    const QImage grid = Filled(8, 4, qRgb(255, 0, 0));  // two 4 x 4 cells
    for (int index : {-1, 2, 1000}) {
        QImage target = Filled(4, 4, qRgb(0, 0, 0));
        QPainter painter(&target);
        helper.DrawImageListImage(painter, 0, 0, 4, 4, grid, index, 4, 4, false, 0, 0, false, 0, 0, 0, 0, 0);
        painter.end();
        EXPECT_EQ(target.pixel(1, 1), qRgb(0, 0, 0)) << index;
    }
    QImage target = Filled(4, 4, qRgb(0, 0, 0));
    QPainter painter(&target);
    helper.DrawImageListImage(painter, 0, 0, 4, 4, grid, 1, 4, 4, false, 0, 0, false, 0, 0, 0, 0, 0);
    painter.end();
    EXPECT_EQ(target.pixel(1, 1), qRgb(255, 0, 0));
    QImage noCells = Filled(4, 4, qRgb(0, 0, 0));
    painter.begin(&noCells);
    helper.DrawImageListImage(painter, 0, 0, 4, 4, grid, 0, 0, 4, false, 0, 0, false, 0, 0, 0, 0, 0);
    painter.end();
    EXPECT_EQ(noCells.pixel(1, 1), qRgb(0, 0, 0)) << "cells of width 0 draw nothing";
}

TEST(DrawHelperTest, StyledFrames) {
    QImage image = Filled(10, 10, qRgb(255, 255, 255));
    QPainter painter(&image);
    CDrawHelper::DrawStyledRect(painter, 0, 0, 10, 10, MakeColorref(255, 0, 0), MakeColorref(0, 0, 255), 0, 1);
    CDrawHelper::DrawStyledRect(painter, 0, 0, 10, 10, MakeColorref(255, 0, 0), MakeColorref(0, 0, 255), 1, 0);
    EXPECT_EQ(image.pixel(0, 5), qRgb(255, 255, 255)) << "style 0 or width 0 draws nothing";
    CDrawHelper::DrawStyledRect(painter, 0, 0, 10, 10, MakeColorref(255, 0, 0), MakeColorref(0, 0, 255), 1, 1);
    painter.end();
    EXPECT_EQ(image.pixel(0, 5), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(9, 5), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(5, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(5, 9), qRgb(0, 0, 255));
}

}  // namespace
}  // namespace orvane
