#include "QtHtmlAdapter.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QUrl>

namespace orvane {

namespace {

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QImage Variant(QImage image, unsigned style, bool useMask, Colorref maskColor) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb mask = qRgb(RedOf(maskColor), GreenOf(maskColor), BlueOf(maskColor));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            QRgb p = line[x];
            if (useMask && (p & 0xFFFFFF) == (mask & 0xFFFFFF)) {
                line[x] = 0;
                continue;
            }
            int r = qRed(p), g = qGreen(p), b = qBlue(p);
            if (style & ImageGrey) r = g = b = static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b);
            if (style & ImageDarker) {
                r = r * 3 / 4;
                g = g * 3 / 4;
                b = b * 3 / 4;
            }
            if (style & ImageLighter) {
                r = std::min(255, r * 5 / 4);
                g = std::min(255, g * 5 / 4);
                b = std::min(255, b * 5 / 4);
            }
            line[x] = qRgba(r, g, b, qAlpha(p));
        }
    }
    return image;
}

}  // namespace

QFont ToQFont(const HtmlFont& font) {
    QFont f(ToQString(font.face));
    f.setPixelSize(std::max(1, font.height));
    f.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 1, 1000)));
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikeout);
    return f;
}

QColor ToQColor(Colorref color) { return QColor::fromRgb(SwapRedBlue(color & 0xFFFFFF) | 0xFF000000u); }

QtTextMeasurer::QtTextMeasurer(QPaintDevice* device) : device_(device) {
    metrics_ = std::make_unique<QFontMetrics>(ToQFont(font_), device_);
}

void QtTextMeasurer::SetFont(const HtmlFont& font) {
    if (font == font_) return;
    font_ = font;
    metrics_ = std::make_unique<QFontMetrics>(ToQFont(font_), device_);
}

HtmlFontMetrics QtTextMeasurer::Metrics() const { return {metrics_->height(), metrics_->ascent()}; }

HtmlSize QtTextMeasurer::Extent(std::u16string_view text) const {
    if (text.empty()) return {0, metrics_->height()};
    return {metrics_->horizontalAdvance(ToQString(text)), metrics_->height()};
}

int QtTextMeasurer::DpiY() const { return device_ ? device_->logicalDpiY() : 96; }

void QtHtmlCanvas::DrawText(int x, int y, std::u16string_view text, const HtmlFont& font, const HtmlTextPaint& paint) {
    const QFont qfont = ToQFont(font);
    const QFontMetrics metrics(qfont, painter_.device());
    const QString s = ToQString(text);
    if (paint.opaque)
        painter_.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), ToQColor(paint.background));
    painter_.setFont(qfont);
    painter_.setPen(ToQColor(paint.color));
    painter_.drawText(QPoint(x, y + metrics.ascent()), s);
}

void QtHtmlCanvas::DrawLine(int x1, int y1, int x2, int y2, Colorref color, int borderStyle, int width) {
    if (width < 1) return;
    QPen pen(ToQColor(color), width);
    pen.setCapStyle(Qt::FlatCap);
    switch (borderStyle) {
    case 2: pen.setStyle(Qt::DashLine); break;
    case 3: pen.setStyle(Qt::DotLine); break;
    case 4: pen.setStyle(Qt::DashDotLine); break;
    case 5: pen.setStyle(Qt::DashDotDotLine); break;
    default: break;
    }
    painter_.setPen(pen);
    painter_.drawLine(x1, y1, x2, y2);
    if (borderStyle == 6) {
        const int dx = x1 != x2 ? 0 : 2 * width;
        const int dy = y1 != y2 ? 0 : 2 * width;
        painter_.drawLine(x1 + dx, y1 + dy, x2 + dx, y2 + dy);
    }
}

void QtHtmlCanvas::FillGradient(const HtmlRect& rect, Colorref from, Colorref to, bool horizontal) {
    // 64 bands whatever the size, as the tip's gradients always had.
    const int start = horizontal ? rect.left : rect.top;
    const int64_t length = horizontal ? rect.Width() : rect.Height();
    for (int i = 0; i < 64; ++i) {
        const int a = start + static_cast<int>((i * length) >> 6);
        const int b = start + static_cast<int>(((i + 1) * length) >> 6);
        if (b <= a) continue;
        auto mix = [i](unsigned c1, unsigned c2) { return (c1 * (64 - i) + c2 * i) >> 6; };
        const Colorref c = MakeColorref(mix(RedOf(from), RedOf(to)), mix(GreenOf(from), GreenOf(to)),
                                        mix(BlueOf(from), BlueOf(to)));
        const QRect band = horizontal ? QRect(QPoint(a, rect.top), QPoint(b - 1, rect.bottom - 1))
                                      : QRect(QPoint(rect.left, a), QPoint(rect.right - 1, b - 1));
        painter_.fillRect(band, ToQColor(c));
    }
}

void QtHtmlCanvas::FillEffect(const HtmlRect& rect, int effect, Colorref begin, Colorref middle, Colorref end,
                              int granularity) {
    const int mx = rect.left + rect.Width() / 2;
    const int my = rect.top + rect.Height() / 2;
    switch (effect) {
    case 1: FillGradient(rect, begin, end, true); break;
    case 2: FillGradient(rect, begin, end, false); break;
    case 3:
        FillGradient({rect.left, rect.top, mx, rect.bottom}, begin, end, true);
        FillGradient({mx, rect.top, rect.right, rect.bottom}, end, begin, true);
        break;
    case 4:
        FillGradient({rect.left, rect.top, rect.right, my}, begin, end, false);
        FillGradient({rect.left, my, rect.right, rect.bottom}, end, begin, false);
        break;
    case 5:
        FillGradient({rect.left, rect.top, mx, rect.bottom}, begin, middle, true);
        FillGradient({mx, rect.top, rect.right, rect.bottom}, middle, end, true);
        break;
    case 6:
        FillGradient({rect.left, rect.top, rect.right, my}, begin, middle, false);
        FillGradient({rect.left, my, rect.right, rect.bottom}, middle, end, false);
        break;
    default:
        // The generated patterns (7-15) belong to the tooltip window's drawing helpers.
        painter_.fillRect(QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)),
                          ToQColor(begin));
        break;
    }
}

void QtHtmlCanvas::DrawStyledRect(const HtmlRect& rect, Colorref topLeft, Colorref bottomRight, int borderStyle,
                                  int width) {
    if (borderStyle == 0 || width < 1) return;
    auto edges = [&](int inset) {
        const int h = inset + width / 2;
        const QPoint bl(rect.left + h, rect.bottom - 1 - h), tl(rect.left + h, rect.top + h),
            tr(rect.right - 1 - h, rect.top + h), br(rect.right - 1 - h, rect.bottom - 1 - h);
        QPen pen(ToQColor(topLeft), width);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        if (borderStyle == 2) pen.setStyle(Qt::DashLine);
        if (borderStyle == 3) pen.setStyle(Qt::DotLine);
        painter_.setPen(pen);
        const QPoint first[] = {bl, tl, tr};
        painter_.drawPolyline(first, 3);
        pen.setColor(ToQColor(bottomRight));
        painter_.setPen(pen);
        const QPoint second[] = {tr, br, bl};
        painter_.drawPolyline(second, 3);
    };
    edges(0);
    if (borderStyle == 6) edges(2 * width);
}

void QtHtmlCanvas::DrawImage(const HtmlImage& image, const HtmlRect& source, int x, int y, int w, int h,
                             const HtmlImagePaint& paint) {
    const auto* qt = dynamic_cast<const QtHtmlImage*>(&image);
    if (!qt || w <= 0 || h <= 0) return;
    const QImage part = qt->Image()
                            .copy(QRect(source.left, source.top, source.Width(), source.Height()))
                            .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage picture = Variant(part, paint.style, paint.useMask, paint.maskColor);
    if (paint.shadow && (paint.style & (ImageShadow | ImageBlurredShadow))) {
        QImage shadow = picture;
        const QColor color = ToQColor(paint.effectColor);
        for (int yy = 0; yy < shadow.height(); ++yy) {
            auto* line = reinterpret_cast<QRgb*>(shadow.scanLine(yy));
            for (int xx = 0; xx < shadow.width(); ++xx)
                line[xx] = qRgba(color.red(), color.green(), color.blue(), qAlpha(line[xx]) / 2);
        }
        painter_.drawImage(QPoint(x + paint.shadowDx, y + paint.shadowDy), shadow);
    }
    painter_.drawImage(QPoint(x, y), picture);
}

void QtHtmlCanvas::TileImage(const HtmlImage& image, const HtmlRect& rect) {
    const auto* qt = dynamic_cast<const QtHtmlImage*>(&image);
    if (!qt || qt->Image().isNull() || rect.Width() <= 0 || rect.Height() <= 0) return;
    painter_.drawTiledPixmap(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                             QPixmap::fromImage(qt->Image()));
}

QtHtmlResources::QtHtmlResources(QString prefix, std::map<int, std::u16string> strings)
    : prefix_(std::move(prefix)), strings_(std::move(strings)) {}

std::shared_ptr<const HtmlImage> QtHtmlResources::Bitmap(int id) {
    QImage image(prefix_ + QStringLiteral("/bmp/%1.png").arg(id));
    return image.isNull() ? nullptr : std::make_shared<QtHtmlImage>(std::move(image));
}

std::shared_ptr<const HtmlImage> QtHtmlResources::Icon(int id, int cx, int cy) {
    QImage image(prefix_ + QStringLiteral("/icon/%1.png").arg(id));
    if (image.isNull()) return nullptr;
    if (cx > 0 && cy > 0) image = image.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return std::make_shared<QtHtmlImage>(std::move(image));
}

std::shared_ptr<const HtmlImage> QtHtmlResources::FileBitmap(const std::filesystem::path& file) {
    QImage image(QString::fromStdString(file.string()));
    return image.isNull() ? nullptr : std::make_shared<QtHtmlImage>(std::move(image));
}

std::shared_ptr<const HtmlImage> QtHtmlResources::FileIcon(const std::filesystem::path& file, int cx, int cy) {
    QImage image(QString::fromStdString(file.string()));
    if (image.isNull()) return nullptr;
    if (cx > 0 && cy > 0) image = image.scaled(cx, cy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return std::make_shared<QtHtmlImage>(std::move(image));
}

std::u16string QtHtmlResources::String(int id) {
    auto it = strings_.find(id);
    return it == strings_.end() ? std::u16string() : it->second;
}

CHtmlDrawer::SystemColors QtSystemColors() {
    CHtmlDrawer::SystemColors colors = CHtmlDrawer::DefaultSystemColors();
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return colors;
    const QPalette palette = QGuiApplication::palette();
    auto set = [&](int index, QPalette::ColorRole role) {
        colors[index] = SwapRedBlue(palette.color(role).rgb() & 0xFFFFFF);
    };
    set(4, QPalette::Window);            // menu
    set(5, QPalette::Base);              // window
    set(7, QPalette::WindowText);        // menu text
    set(8, QPalette::Text);              // window text
    set(13, QPalette::Highlight);
    set(14, QPalette::HighlightedText);
    set(15, QPalette::Button);
    set(16, QPalette::Mid);              // button shadow
    set(18, QPalette::ButtonText);
    set(20, QPalette::Light);            // button highlight
    set(21, QPalette::Shadow);
    set(22, QPalette::Midlight);
    set(23, QPalette::ToolTipText);
    set(24, QPalette::ToolTipBase);
    return colors;
}

void ConnectToDesktop(CHtmlDrawer& drawer) {
    drawer.SetUrlOpener([](const std::u16string& url) {
        const QUrl target(ToQString(url), QUrl::StrictMode);
        const QString scheme = target.scheme().toLower();
        if (!target.isValid() || (scheme != u"http" && scheme != u"https" && scheme != u"mailto")) return false;
        return QDesktopServices::openUrl(target);
    });
    drawer.SetImageFolder(QCoreApplication::applicationDirPath().toStdString());
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->virtualGeometry();
        drawer.SetMaxSize({desktop.width(), desktop.height()});
    }
}

}  // namespace orvane
