// The renderer's interfaces on Qt: font metrics from QFontMetrics, drawing on
// a QPainter, images from the program's Qt resources and its own folder.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QString>

#include "CDrawHelper.h"
#include "CHtmlDrawer.h"

class QPainter;
class QPaintDevice;

namespace orvane {

QFont ToQFont(const HtmlFont& font);

class QtTextMeasurer : public ITextMeasurer {
public:
    // The device gives the resolution; none means 96 dots per inch.
    explicit QtTextMeasurer(QPaintDevice* device = nullptr);
    void SetFont(const HtmlFont& font) override;
    HtmlFontMetrics Metrics() const override;
    HtmlSize Extent(std::u16string_view text) const override;
    int DpiY() const override;

private:
    QPaintDevice* device_;
    HtmlFont font_;
    std::unique_ptr<QFontMetrics> metrics_;
};

class QtHtmlImage : public HtmlImage {
public:
    explicit QtHtmlImage(QImage image) : image_(std::move(image)) {}
    HtmlSize Size() const override { return {image_.width(), image_.height()}; }
    const QImage& Image() const { return image_; }

private:
    QImage image_;
};

class QtHtmlCanvas : public IHtmlCanvas {
public:
    // Draws through the helper given, or one of its own.
    explicit QtHtmlCanvas(QPainter& painter, CDrawHelper* helper = nullptr);
    void DrawText(int x, int y, std::u16string_view text, const HtmlFont& font, const HtmlTextPaint& paint) override;
    void DrawLine(int x1, int y1, int x2, int y2, Colorref color, int borderStyle, int width) override;
    void FillEffect(const HtmlRect& rect, int effect, Colorref begin, Colorref middle, Colorref end,
                    int granularity) override;
    void DrawStyledRect(const HtmlRect& rect, Colorref topLeft, Colorref bottomRight, int borderStyle,
                        int width) override;
    void DrawImage(const HtmlImage& image, const HtmlRect& source, int x, int y, int w, int h,
                   const HtmlImagePaint& paint) override;
    void TileImage(const HtmlImage& image, const HtmlRect& rect) override;

private:
    QPainter& painter_;
    std::unique_ptr<CDrawHelper> ownHelper_;
    CDrawHelper& helper_;
};

// Bitmaps and icons as "<prefix>/bmp/<id>.png" and "<prefix>/icon/<id>.png"
// in the program's Qt resources; strings from the table it is given.
class QtHtmlResources : public IHtmlResources {
public:
    explicit QtHtmlResources(QString prefix = QStringLiteral(":/tooltip"),
                             std::map<int, std::u16string> strings = {});
    std::shared_ptr<const HtmlImage> Bitmap(int id) override;
    std::shared_ptr<const HtmlImage> Icon(int id, int cx, int cy) override;
    std::shared_ptr<const HtmlImage> FileBitmap(const std::filesystem::path& file) override;
    std::shared_ptr<const HtmlImage> FileIcon(const std::filesystem::path& file, int cx, int cy) override;
    std::u16string String(int id) override;
    HtmlSize IconSize() override { return {32, 32}; }

private:
    QString prefix_;
    std::map<int, std::u16string> strings_;
};

// The desktop's palette in the classic system-colour order.
CHtmlDrawer::SystemColors QtSystemColors();
// Links open through QDesktopServices; "file" images come from the program's folder;
// the measured size stays within the virtual desktop.
void ConnectToDesktop(CHtmlDrawer& drawer);

}  // namespace orvane
