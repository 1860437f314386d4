#include "CDrawHelper.h"

#include <algorithm>
#include <cmath>
#include <random>

#include <QPainter>
#include <QPen>

namespace orvane {

namespace {

QRgb ToRgb(Colorref c) { return 0xFF000000u | SwapRedBlue(c & 0xFFFFFF); }
Colorref FromRgb(QRgb p) { return SwapRedBlue(p & 0xFFFFFF); }

bool Is32Bit(const QImage& image) {
    const QImage::Format f = image.format();
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

// The pixels of a 32-bit image we may write; other formats are converted first.
void Make32Bit(QImage& image) {
    if (!image.isNull() && !Is32Bit(image)) image = image.convertToFormat(QImage::Format_ARGB32);
}

QImage As32Bit(const QImage& image) { return Is32Bit(image) ? image : image.convertToFormat(QImage::Format_ARGB32); }

// The part of (x, y, w, h) that lies in both the destination and the source
// (whose origin maps to (x, y)); false when nothing is left.
bool ClipBlend(const QImage& dest, const QImage& source, int& x, int& y, int& w, int& h, int& sx, int& sy) {
    sx = 0;
    sy = 0;
    w = std::min(w, source.width());
    h = std::min(h, source.height());
    if (x < 0) {
        sx = -x;
        w += x;
        x = 0;
    }
    if (y < 0) {
        sy = -y;
        h += y;
        y = 0;
    }
    w = std::min(w, dest.width() - x);
    h = std::min(h, dest.height() - y);
    return w > 0 && h > 0;
}

QPen BorderPen(Colorref colour, int borderStyle, int width) {
    QPen pen(ToQColor(colour), width);
    switch (borderStyle) {
    case 2: pen.setStyle(Qt::DashLine); break;
    case 3: pen.setStyle(Qt::DotLine); break;
    case 4: pen.setStyle(Qt::DashDotLine); break;
    case 5: pen.setStyle(Qt::DashDotDotLine); break;
    default: break;
    }
    return pen;
}

// t^3 / 128 / 128 as two truncating divisions.
int Cube(int t) { return t * t * t / 128 / 128; }

}  // namespace

TipRandom DefaultTipRandom() {
    auto engine = std::make_shared<std::minstd_rand>(std::random_device{}());
    return [engine] { return static_cast<int>((*engine)() % 32768u); };
}

bool ImageSizeFits(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= drawlimits::kMaxSide && height <= drawlimits::kMaxSide &&
           width * height <= drawlimits::kMaxPixels;
}

// ---------------------------------------------------------------- CDibImage

bool CDibImage::Create(int width, int height) {
    image_ = QImage();
    if (!ImageSizeFits(width, height)) return false;
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) return false;
    image.setColorTable(QList<QRgb>(256, 0xFF000000u));
    image_ = std::move(image);
    return true;
}

void CDibImage::BlendPalette(Colorref colour, int percent) {
    if (image_.isNull() || image_.colorCount() < 256) return;
    const int p = std::clamp(percent, 0, 100);
    auto mix = [p](unsigned channel, unsigned target) { return (channel * (100 - p) + target * p) / 100; };
    for (int i = 0; i < 256; ++i) {
        const Colorref c = PaletteEntry(i);
        SetPaletteEntry(i, MakeColorref(mix(RedOf(c), RedOf(colour)), mix(GreenOf(c), GreenOf(colour)),
                                        mix(BlueOf(c), BlueOf(colour))));
    }
}

void CDibImage::Draw(QPainter& painter, int x, int y) const {
    if (!image_.isNull()) painter.drawImage(x, y, image_);
}

Colorref CDibImage::PaletteEntry(int index) const { return FromRgb(image_.color(index)); }

void CDibImage::SetPaletteEntry(int index, Colorref colour) { image_.setColor(index, ToRgb(colour)); }

// ---------------------------------------------------------------- colours

CDrawHelper::CDrawHelper(TipRandom random) : random_(random ? std::move(random) : DefaultTipRandom()) {}

Colorref CDrawHelper::MixColors(Colorref c1, double w1, Colorref c2, double w2) {
    auto mix = [&](unsigned a, unsigned b) { return static_cast<unsigned>(static_cast<int>(a * w1 + b * w2)) & 0xFF; };
    return MakeColorref(mix(RedOf(c1), RedOf(c2)), mix(GreenOf(c1), GreenOf(c2)), mix(BlueOf(c1), BlueOf(c2)));
}

Colorref CDrawHelper::ScaleColor(Colorref colour, double f) {
    if (!(f >= 0 && f < 1)) return colour;
    auto scale = [f](unsigned c) { return static_cast<unsigned>(c * f); };
    return MakeColorref(scale(RedOf(colour)), scale(GreenOf(colour)), scale(BlueOf(colour)));
}

Colorref CDrawHelper::BrightenColor(Colorref colour, double f) {
    if (!(f > 0 && f <= 1)) return colour;
    auto brighten = [f](unsigned c) { return static_cast<unsigned>(std::min(255.0, c * (1 + f))); };
    return MakeColorref(brighten(RedOf(colour)), brighten(GreenOf(colour)), brighten(BlueOf(colour)));
}

// ---------------------------------------------------------------- fills

void CDrawHelper::FillTwoColorGradient(QPainter& painter, const HtmlRect& rect, Colorref c1, Colorref c2,
                                       bool horizontal) {
    const int start = horizontal ? rect.left : rect.top;
    const int64_t length = horizontal ? rect.Width() : rect.Height();
    if (length <= 0 || rect.Width() <= 0 || rect.Height() <= 0) return;
    for (int i = 0; i < 64; ++i) {
        const int a = start + static_cast<int>((i * length) >> 6);
        const int b = start + static_cast<int>(((i + 1) * length) >> 6);
        if (b <= a) continue;
        auto mix = [i](unsigned x, unsigned y) { return (x * (64 - i) + y * i) >> 6; };
        const Colorref c = MakeColorref(mix(RedOf(c1), RedOf(c2)), mix(GreenOf(c1), GreenOf(c2)),
                                        mix(BlueOf(c1), BlueOf(c2)));
        const QRect band = horizontal ? QRect(a, rect.top, b - a, rect.Height()) : QRect(rect.left, a, rect.Width(), b - a);
        painter.fillRect(band, ToQColor(c));
    }
}

void CDrawHelper::FillEffect(QPainter& painter, int effect, const HtmlRect& rect, Colorref begin, Colorref middle,
                             Colorref end, int granularity, int colouring) {
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    const int mx = rect.left + rect.Width() / 2;
    const int my = rect.top + rect.Height() / 2;
    switch (effect) {
    case 1: FillTwoColorGradient(painter, rect, begin, end, true); break;
    case 2: FillTwoColorGradient(painter, rect, begin, end, false); break;
    case 3:
        FillTwoColorGradient(painter, {rect.left, rect.top, mx, rect.bottom}, begin, end, true);
        FillTwoColorGradient(painter, {mx, rect.top, rect.right, rect.bottom}, end, begin, true);
        break;
    case 4:
        FillTwoColorGradient(painter, {rect.left, rect.top, rect.right, my}, begin, end, false);
        FillTwoColorGradient(painter, {rect.left, my, rect.right, rect.bottom}, end, begin, false);
        break;
    case 5:
        FillTwoColorGradient(painter, {rect.left, rect.top, mx, rect.bottom}, begin, middle, true);
        FillTwoColorGradient(painter, {mx, rect.top, rect.right, rect.bottom}, middle, end, true);
        break;
    case 6:
        FillTwoColorGradient(painter, {rect.left, rect.top, rect.right, my}, begin, middle, false);
        FillTwoColorGradient(painter, {rect.left, my, rect.right, rect.bottom}, middle, end, false);
        break;
    default:
        if (effect >= 7 && effect <= 15) {
            if (MakeEffectImage(effect, rect.Width(), rect.Height(), begin, middle, end, granularity, colouring))
                dib_.Draw(painter, rect.left, rect.top);
            break;
        }
        painter.fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()), ToQColor(begin));
        break;
    }
}

int CDrawHelper::Random() { return std::clamp(random_(), 0, 32767); }

int CDrawHelper::Noise(int divisor, int granularity) { return ((Random() / divisor) & 255) - granularity; }

bool CDrawHelper::MakeEffectImage(int effect, int w, int h, Colorref begin, Colorref middle, Colorref end,
                                  int granularity, int colouring) {
    if (effect < 7 || effect > 15 || !dib_.Create(w, h)) return false;
    for (int i = 0; i <= 128; ++i) {
        auto mix = [i](unsigned e, unsigned m) { return (e * (128 - i) + m * i) / 128; };
        dib_.SetPaletteEntry(i, MakeColorref(mix(RedOf(end), RedOf(middle)), mix(GreenOf(end), GreenOf(middle)),
                                             mix(BlueOf(end), BlueOf(middle))));
    }
    for (int j = 1; j <= 128; ++j) {
        auto mix = [j](unsigned m, unsigned b) { return (m * (128 - j) + b * j) / 128; };
        dib_.SetPaletteEntry(127 + j, MakeColorref(mix(RedOf(middle), RedOf(begin)),
                                                   mix(GreenOf(middle), GreenOf(begin)),
                                                   mix(BlueOf(middle), BlueOf(begin))));
    }
    dib_.BlendPalette(begin, colouring);

    QImage& image = dib_.Image();
    const int g = granularity;
    const int d = std::max(1, 32767 / std::max(2 * g, 1));
    // Row r counts from the bottom row upward, as the pattern formulas do.
    auto at = [&](int r, int c) -> uint8_t& { return image.scanLine(h - 1 - r)[c]; };
    auto fill = [&](auto&& index) {
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) at(r, c) = static_cast<uint8_t>(index(r, c) + Noise(d, g));
    };
    switch (effect) {
    case 7: fill([](int, int) { return 128; }); break;
    case 8: {
        const int a = (255 - 2 * g) / 2;
        fill([&](int r, int c) { return g + (r * a) / h + (a * (w - c)) / w; });
        break;
    }
    case 9: fill([&](int r, int) { return g + (r * (255 - 2 * g)) / h; }); break;
    case 10: fill([&](int, int c) { return g + ((255 - 2 * g) * (w - c)) / w; }); break;
    case 11: fill([&](int r, int) { return (Cube((255 * r) / h - 127) * (128 - g)) / 128 + 128; }); break;
    case 12: fill([&](int, int c) { return (Cube((255 * (w - c)) / w - 127) * (128 - g)) / 128 + 128; }); break;
    case 13:
        fill([&](int r, int c) {
            const int v = (Cube((255 * (w - c)) / w - 127) + Cube((255 * r) / h - 127)) * (128 - g);
            return std::min(std::max(v / 128 + 128, g), 255 - g);
        });
        break;
    case 14: {
        fill([&](int r, int) { return (Cube((255 * r) / h - 127) * (64 - g)) * 2 / 128 + 128; });
        // Rounded, shaded ends; a bar narrower than 6 pixels or one row high has none.
        const int e = std::min(w / 6, 16);
        const int64_t quarter = int64_t(h) * h / 4;
        if (e == 0 || quarter == 0) break;
        for (int r = 0; r < h; ++r) {
            const int64_t y = r - h / 2;
            const int64_t b = (y * e * y) / quarter + w / 2 - e;
            for (int c = 0; c < w; ++c) {
                const int64_t x = c - w / 2;
                uint8_t& pixel = at(r, c);
                if (x > b) pixel = static_cast<uint8_t>((((128 * (w - c)) / e) & 255) + g);
                else if (x + b < 0) pixel = static_cast<uint8_t>((255 - g) - (128 * c) / e);
                pixel = static_cast<uint8_t>(pixel + Noise(d, g));
            }
        }
        break;
    }
    case 15: {
        for (int r = 0; r < h; ++r) std::fill_n(image.scanLine(r), w, uint8_t(0));
        auto plot = [&](int64_t column, int64_t rowFromTop, int value) {
            if (column >= 0 && column < w && rowFromTop >= 0 && rowFromTop < h)
                image.scanLine(int(rowFromTop))[column] = static_cast<uint8_t>(value);
        };
        for (int stroke = 0; stroke < 200; ++stroke) {
            const int x0 = Random() / (32767 / w);
            const int y0 = Random() / (32767 / h);
            const int length = (Random() / (32767 / std::min(w, h))) / 2;
            const int value = Random() / 819;
            for (int k = 0; k < length && x0 - k > 0 && y0 + k < h; ++k) plot(x0 - k, y0 + k, value);
            for (int k = 0; k < length && x0 + k < w && y0 - k >= 1; ++k) plot(w - x0 + k, y0 - k, value);
        }
        const int s = (215 - 2 * g) / 2;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                at(r, c) = static_cast<uint8_t>(at(r, c) + (r * s) / h + (s * (w - c)) / w + ((Random() / d) & 255));
        break;
    }
    default: break;
    }
    return true;
}

// ---------------------------------------------------------------- copies and blends

void CDrawHelper::TileCopy(QImage& dest, int x, int y, int width, int height, const QImage& source, int sx, int sy,
                           int tw, int th) {
    if (dest.isNull() || source.isNull() || width <= 0 || height <= 0 || tw <= 0 || th <= 0) return;
    const QImage tile = source.copy(sx, sy, tw, th);
    QPainter painter(&dest);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setClipRect(QRect(x, y, width, height));
    for (int64_t ty = y; ty < int64_t(y) + height; ty += th)
        for (int64_t tx = x; tx < int64_t(x) + width; tx += tw) painter.drawImage(int(tx), int(ty), tile);
}

void CDrawHelper::BlendCopy(QImage& dest, int x, int y, int width, int height, const QImage& source, int percent,
                            const QRegion* clip) {
    Make32Bit(dest);
    const QImage src = As32Bit(source);
    int sx, sy;
    if (dest.isNull() || src.isNull() || !ClipBlend(dest, src, x, y, width, height, sx, sy)) return;
    if (percent <= 0) return;
    const double ws = std::min(percent, 100) / 100.0;
    for (int row = 0; row < height; ++row) {
        const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(sy + row)) + sx;
        auto* out = reinterpret_cast<QRgb*>(dest.scanLine(y + row)) + x;
        for (int col = 0; col < width; ++col) {
            if (clip && !clip->contains(QPoint(x + col, y + row))) continue;
            if (percent >= 100) {
                out[col] = (out[col] & 0xFF000000u) | (in[col] & 0xFFFFFF);
                continue;
            }
            const Colorref mixed = MixColors(FromRgb(in[col]), ws, FromRgb(out[col]), 1 - ws);
            out[col] = (out[col] & 0xFF000000u) | (ToRgb(mixed) & 0xFFFFFF);
        }
    }
}

void CDrawHelper::BlendCopyAlpha(QImage& dest, int x, int y, int width, int height, const QImage& source) {
    Make32Bit(dest);
    const QImage src = source.convertToFormat(QImage::Format_ARGB32);
    int sx, sy;
    if (dest.isNull() || src.isNull() || !ClipBlend(dest, src, x, y, width, height, sx, sy)) return;
    for (int row = 0; row < height; ++row) {
        const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(sy + row)) + sx;
        auto* out = reinterpret_cast<QRgb*>(dest.scanLine(y + row)) + x;
        for (int col = 0; col < width; ++col) {
            const double w = qAlpha(in[col]) / 255.0;
            const Colorref mixed = MixColors(FromRgb(in[col]), w, FromRgb(out[col]), 1 - w);
            out[col] = (out[col] & 0xFF000000u) | (ToRgb(mixed) & 0xFFFFFF);
        }
    }
}

// ---------------------------------------------------------------- shadows

std::vector<double> CDrawHelper::MakeBlurMap(const std::vector<double>& values, int width, int height, int depthX,
                                             int depthY) {
    std::vector<double> out(values.size(), 1.0);
    if (width <= 0 || height <= 0 || depthX <= 0 || depthY <= 0 || values.size() != size_t(width) * height)
        return out;
    const int rx = depthX / 2, ry = depthY / 2;
    // Horizontal sums of depthX, pixels outside counting as 255.
    std::vector<double> rows(values.size());
    for (int y = 0; y < height; ++y) {
        const double* v = &values[size_t(y) * width];
        auto value = [&](int x) { return x < 0 || x >= width ? 255.0 : v[x]; };
        double sum = 0;
        for (int x = -rx; x <= rx; ++x) sum += value(x);
        for (int x = 0; x < width; ++x) {
            rows[size_t(y) * width + x] = sum;
            sum += value(x + rx + 1) - value(x - rx);
        }
    }
    // Then vertical sums of depthY over them; an outside row is depthX x 255.
    const double outsideRow = 255.0 * depthX;
    const double scale = 1.0 / (double(depthX) * depthY * 255.0);
    for (int x = 0; x < width; ++x) {
        auto value = [&](int y) { return y < 0 || y >= height ? outsideRow : rows[size_t(y) * width + x]; };
        double sum = 0;
        for (int y = -ry; y <= ry; ++y) sum += value(y);
        for (int y = 0; y < height; ++y) {
            out[size_t(y) * width + x] = sum * scale;
            sum += value(y + ry + 1) - value(y - ry);
        }
    }
    return out;
}

std::vector<double> CDrawHelper::ShadowFactors(const QImage& mask, bool blurred, int depthX, int depthY) {
    if (mask.isNull()) return {};
    const int w = mask.width(), h = mask.height();
    if (depthX % 2 == 0) ++depthX;
    if (depthY % 2 == 0) ++depthY;
    // Blurring needs room for the box inside the mask.
    const bool blur = blurred && depthX > 0 && depthY > 0 && w > depthX && h > depthY;
    QImage source = mask.convertToFormat(QImage::Format_ARGB32);
    if (blur) {
        QImage shrunk(w, h, QImage::Format_ARGB32);
        if (shrunk.isNull()) return {};
        shrunk.fill(Qt::white);
        QPainter painter(&shrunk);
        painter.drawImage(QRect(depthX / 2, depthY / 2, w - depthX, h - depthY), source);
        painter.end();
        source = shrunk;
    }
    // Blue channel of each pixel over white: a transparent pixel casts nothing.
    std::vector<double> values(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = qAlpha(line[x]);
            values[size_t(y) * w + x] = (qBlue(line[x]) * a + 255 * (255 - a)) / 255;
        }
    }
    if (blur) return MakeBlurMap(values, w, h, depthX, depthY);
    for (double& v : values) v /= 255.0;
    return values;
}

void CDrawHelper::DrawShadow(QImage& dest, int x, int y, const QImage& mask, bool blurred, int depthX, int depthY) {
    Make32Bit(dest);
    const std::vector<double> factors = ShadowFactors(mask, blurred, depthX, depthY);
    if (factors.empty() || dest.isNull()) return;
    const int w = mask.width(), h = mask.height();
    for (int my = 0; my < h; ++my) {
        const int dy = y + my;
        if (dy < 0 || dy >= dest.height()) continue;
        auto* out = reinterpret_cast<QRgb*>(dest.scanLine(dy));
        for (int mx = 0; mx < w; ++mx) {
            const int dx = x + mx;
            if (dx < 0 || dx >= dest.width()) continue;
            const Colorref scaled = ScaleColor(FromRgb(out[dx]), factors[size_t(my) * w + mx]);
            out[dx] = (out[dx] & 0xFF000000u) | (ToRgb(scaled) & 0xFFFFFF);
        }
    }
}

void CDrawHelper::DrawShadow(QPainter& painter, int x, int y, const QImage& mask, bool blurred, int depthX,
                             int depthY) {
    const std::vector<double> factors = ShadowFactors(mask, blurred, depthX, depthY);
    if (factors.empty()) return;
    QImage overlay(mask.size(), QImage::Format_ARGB32);
    if (overlay.isNull()) return;
    for (int my = 0; my < overlay.height(); ++my) {
        auto* line = reinterpret_cast<QRgb*>(overlay.scanLine(my));
        for (int mx = 0; mx < overlay.width(); ++mx) {
            const double f = std::clamp(factors[size_t(my) * overlay.width() + mx], 0.0, 1.0);
            line[mx] = qRgba(0, 0, 0, static_cast<int>(std::lround(255 * (1 - f))));
        }
    }
    painter.drawImage(x, y, overlay);
}

// ---------------------------------------------------------------- images

QImage CDrawHelper::MakeImageVariant(const QImage& image, unsigned flags, bool useTransparent, Colorref transparent,
                                     Colorref oneColour) {
    if (image.isNull() || !ImageSizeFits(image.width(), image.height())) return {};
    // Opaque formats keep 0xFF in the top byte: only a real alpha channel counts.
    const bool alpha = image.hasAlphaChannel();
    QImage out = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (out.isNull()) return {};
    alpha_ = alpha_ || alpha;
    const QRgb key = ToRgb(transparent) & 0xFFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb top = line[x] & 0xFF000000u;
            Colorref c = FromRgb(line[x]);
            if (useTransparent && (line[x] & 0xFFFFFF) == key) {
                c = 0;
            } else {
                if (flags & VariantGrey) {
                    const unsigned grey =
                        static_cast<unsigned>(0.299 * RedOf(c) + 0.587 * GreenOf(c) + 0.114 * BlueOf(c));
                    c = MakeColorref(grey, grey, grey);
                }
                if (flags & VariantDarker) c = ScaleColor(c, 0.75);
                if (flags & VariantLighter) c = BrightenColor(c, 0.25);
                if (flags & VariantOneColor) c = oneColour & 0xFFFFFF;
            }
            if (flags & VariantInverted) c ^= 0xFFFFFF;
            line[x] = top | (ToRgb(c) & 0xFFFFFF);
        }
    }
    return out;
}

void CDrawHelper::DrawBitmapImage(QPainter& painter, int x, int y, int width, int height, const QImage& bitmap,
                                  bool useTransparent, Colorref transparent, unsigned style, bool shadowOn,
                                  int shadowDx, int shadowDy, int depthX, int depthY, Colorref shadowColour) {
    alpha_ = false;
    if (bitmap.isNull() || !ImageSizeFits(width, height)) return;
    const QImage source = bitmap.size() == QSize(width, height)
                              ? bitmap
                              : bitmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QImage mask = MakeImageVariant(source, VariantInverted | VariantOneColor, useTransparent, transparent, 0xFFFFFF);
    const QImage image = MakeImageVariant(source, style & (VariantGrey | VariantDarker | VariantLighter |
                                                           VariantOneColor | VariantInverted),
                                          useTransparent, transparent, shadowColour);
    if (mask.isNull() || image.isNull()) return;
    auto paint = [&](int px, int py) {
        if (alpha_) {
            painter.drawImage(px, py, image);
            return;
        }
        painter.save();
        painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        painter.drawImage(px, py, mask);
        painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        painter.drawImage(px, py, image);
        painter.restore();
    };
    if (shadowOn) {
        if (style & (StyleShadow | StyleBlurredShadow)) {
            const QImage shadow = MakeImageVariant(source, VariantInverted | VariantOneColor, useTransparent,
                                                   transparent, ~shadowColour & 0xFFFFFF);
            DrawShadow(painter, x + shadowDx, y + shadowDy, shadow, style & StyleBlurredShadow, depthX, depthY);
        } else {
            paint(x + shadowDx, y + shadowDy);
        }
    }
    paint(x, y);
}

void CDrawHelper::DrawIconImage(QPainter& painter, int x, int y, int width, int height, const QImage& icon,
                                unsigned style, bool shadowOn, int shadowDx, int shadowDy, int depthX, int depthY,
                                Colorref shadowColour) {
    // An icon without an alpha channel keys out black, as icon masks do.
    DrawBitmapImage(painter, x, y, width, height, icon, !icon.hasAlphaChannel(), 0, style, shadowOn, shadowDx,
                    shadowDy, depthX, depthY, shadowColour);
}

void CDrawHelper::DrawImageListImage(QPainter& painter, int x, int y, int width, int height, const QImage& grid,
                                     int index, int cellWidth, int cellHeight, bool useTransparent,
                                     Colorref transparent, unsigned style, bool shadowOn, int shadowDx, int shadowDy,
                                     int depthX, int depthY, Colorref shadowColour) {
    if (grid.isNull() || cellWidth <= 0 || cellHeight <= 0) return;
    const int columns = grid.width() / cellWidth;
    const int rows = grid.height() / cellHeight;
    if (index < 0 || int64_t(index) >= int64_t(columns) * rows) return;
    const QImage cell = grid.copy((index % columns) * cellWidth, (index / columns) * cellHeight, cellWidth, cellHeight);
    DrawBitmapImage(painter, x, y, width, height, cell, useTransparent, transparent, style, shadowOn, shadowDx,
                    shadowDy, depthX, depthY, shadowColour);
}

// ---------------------------------------------------------------- frames and lines

void CDrawHelper::DrawStyledRect(QPainter& painter, int left, int top, int right, int bottom, Colorref topLeft,
                                 Colorref bottomRight, int borderStyle, int width) {
    if (borderStyle == 0 || width < 1) return;
    auto edges = [&](int inset) {
        const int h = inset + width / 2;
        const QPoint bl(left + h, bottom - 1 - h), tl(left + h, top + h), tr(right - 1 - h, top + h),
            br(right - 1 - h, bottom - 1 - h);
        QPen pen = BorderPen(topLeft, borderStyle, width);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        const QPoint first[] = {bl, tl, tr};
        painter.drawPolyline(first, 3);
        pen.setColor(ToQColor(bottomRight));
        painter.setPen(pen);
        const QPoint second[] = {tr, br, bl};
        painter.drawPolyline(second, 3);
    };
    edges(0);
    if (borderStyle == 6) edges(2 * width);
}

void CDrawHelper::DrawStyledLine(QPainter& painter, int x1, int y1, int x2, int y2, Colorref colour, int borderStyle,
                                 int width) {
    if (width < 1) return;
    QPen pen = BorderPen(colour, borderStyle, width);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.drawLine(x1, y1, x2, y2);
    if (borderStyle == 6) {
        const int dy = x1 != x2 ? 2 * width : 0;  // not vertical: one further down
        const int dx = y1 != y2 ? 2 * width : 0;  // not horizontal: one further right
        painter.drawLine(x1 + dx, y1 + dy, x2 + dx, y2 + dy);
    }
}

QColor ToQColor(Colorref color) { return QColor::fromRgb(ToRgb(color)); }

}  // namespace orvane
