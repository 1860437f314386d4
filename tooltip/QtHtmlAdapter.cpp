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

QtHtmlCanvas::QtHtmlCanvas(QPainter& painter, CDrawHelper* helper)
    : painter_(painter), ownHelper_(helper ? nullptr : std::make_unique<CDrawHelper>()),
      helper_(helper ? *helper : *ownHelper_) {}

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
    CDrawHelper::DrawStyledLine(painter_, x1, y1, x2, y2, color, borderStyle, width);
}

void QtHtmlCanvas::FillEffect(const HtmlRect& rect, int effect, Colorref begin, Colorref middle, Colorref end,
                              int granularity) {
    helper_.FillEffect(painter_, effect, rect, begin, middle, end, granularity, 0);
}

void QtHtmlCanvas::DrawStyledRect(const HtmlRect& rect, Colorref topLeft, Colorref bottomRight, int borderStyle,
                                  int width) {
    CDrawHelper::DrawStyledRect(painter_, rect.left, rect.top, rect.right, rect.bottom, topLeft, bottomRight,
                                borderStyle, width);
}

void QtHtmlCanvas::DrawImage(const HtmlImage& image, const HtmlRect& source, int x, int y, int w, int h,
                             const HtmlImagePaint& paint) {
    const auto* qt = dynamic_cast<const QtHtmlImage*>(&image);
    if (!qt || w <= 0 || h <= 0) return;
    const QImage part = qt->Image().copy(QRect(source.left, source.top, source.Width(), source.Height()));
    helper_.DrawBitmapImage(painter_, x, y, w, h, part, paint.useMask, paint.maskColor, paint.style, paint.shadow,
                            paint.shadowDx, paint.shadowDy, paint.blurX, paint.blurY, paint.effectColor);
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
