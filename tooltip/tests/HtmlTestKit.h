// Fixed font metrics, a canvas that records what it is asked to draw and
// resources from a table, so layouts are checked to the pixel.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CHtmlDrawer.h"

namespace orvane::test {

// Every character is half the font height wide; the ascent is the height less a quarter.
class FakeMeasurer : public ITextMeasurer {
public:
    void SetFont(const HtmlFont& font) override {
        font_ = font;
        ++fontChanges;
    }
    HtmlFontMetrics Metrics() const override { return {font_.height, font_.height - font_.height / 4}; }
    HtmlSize Extent(std::u16string_view text) const override {
        return {static_cast<int>(text.size()) * (font_.height / 2), font_.height};
    }
    int DpiY() const override { return 96; }
    const HtmlFont& Font() const { return font_; }
    int fontChanges = 0;

private:
    HtmlFont font_;
};

inline std::string Ascii(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

inline std::string Hex(Colorref c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%06X", c);
    return buffer;
}

inline std::string Box(const HtmlRect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

class FakeImage : public HtmlImage {
public:
    FakeImage(int id, HtmlSize size) : id(id), size_(size) {}
    HtmlSize Size() const override { return size_; }
    int id;

private:
    HtmlSize size_;
};

// Each call as one line of text, e.g. "text 0,0 'abc' 13/400 000000".
class RecordingCanvas : public IHtmlCanvas {
public:
    void DrawText(int x, int y, std::u16string_view text, const HtmlFont& font, const HtmlTextPaint& paint) override {
        std::string line = "text " + std::to_string(x) + "," + std::to_string(y) + " '" + Ascii(text) + "' " +
                           std::to_string(font.height) + "/" + std::to_string(font.weight) + " " + Hex(paint.color);
        if (font.italic) line += " i";
        if (font.underline) line += " u";
        if (font.strikeout) line += " s";
        if (paint.opaque) line += " on " + Hex(paint.background);
        calls.push_back(line);
    }
    void DrawLine(int x1, int y1, int x2, int y2, Colorref color, int borderStyle, int width) override {
        calls.push_back("line " + std::to_string(x1) + "," + std::to_string(y1) + "-" + std::to_string(x2) + "," +
                        std::to_string(y2) + " " + Hex(color) + " " + std::to_string(borderStyle) + "/" +
                        std::to_string(width));
    }
    void FillEffect(const HtmlRect& rect, int effect, Colorref begin, Colorref middle, Colorref end,
                    int granularity) override {
        calls.push_back("fill " + Box(rect) + " " + std::to_string(effect) + " " + Hex(begin) + " " + Hex(middle) +
                        " " + Hex(end));
    }
    void DrawStyledRect(const HtmlRect& rect, Colorref topLeft, Colorref bottomRight, int borderStyle,
                        int width) override {
        calls.push_back("frame " + Box(rect) + " " + Hex(topLeft) + " " + Hex(bottomRight) + " " +
                        std::to_string(borderStyle) + "/" + std::to_string(width));
    }
    void DrawImage(const HtmlImage& image, const HtmlRect& source, int x, int y, int w, int h,
                   const HtmlImagePaint& paint) override {
        const auto* fake = dynamic_cast<const FakeImage*>(&image);
        calls.push_back("image " + std::to_string(fake ? fake->id : -1) + " " + Box(source) + " at " +
                        std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                        std::to_string(h) + " style " + std::to_string(paint.style) + (paint.shadow ? " shadow" : "") +
                        (paint.useMask ? " mask " + Hex(paint.maskColor) : ""));
    }
    void TileImage(const HtmlImage& image, const HtmlRect& rect) override {
        const auto* fake = dynamic_cast<const FakeImage*>(&image);
        calls.push_back("tile " + std::to_string(fake ? fake->id : -1) + " " + Box(rect));
    }
    // Only the calls that start with the prefix.
    std::vector<std::string> Only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }
    std::vector<std::string> calls;
};

class FakeResources : public IHtmlResources {
public:
    std::shared_ptr<const HtmlImage> Bitmap(int id) override {
        ++loads;
        auto it = bitmaps.find(id);
        return it == bitmaps.end() ? nullptr : std::make_shared<FakeImage>(id, it->second);
    }
    std::shared_ptr<const HtmlImage> Icon(int id, int cx, int cy) override {
        ++loads;
        if (!icons.count(id)) return nullptr;
        return std::make_shared<FakeImage>(id, HtmlSize{cx, cy});
    }
    std::shared_ptr<const HtmlImage> FileBitmap(const std::filesystem::path& file) override {
        ++loads;
        files.push_back(file);
        return std::make_shared<FakeImage>(900, HtmlSize{10, 10});
    }
    std::shared_ptr<const HtmlImage> FileIcon(const std::filesystem::path& file, int cx, int cy) override {
        ++loads;
        files.push_back(file);
        return std::make_shared<FakeImage>(901, HtmlSize{cx, cy});
    }
    std::u16string String(int id) override {
        auto it = strings.find(id);
        return it == strings.end() ? std::u16string() : it->second;
    }
    HtmlSize IconSize() override { return {32, 32}; }
    int ImageListCount() override { return listCount; }
    HtmlSize ImageListIconSize() override { return {16, 16}; }
    std::shared_ptr<const HtmlImage> ImageListIcon(int index) override {
        return std::make_shared<FakeImage>(500 + index, HtmlSize{16, 16});
    }

    std::map<int, HtmlSize> bitmaps;
    std::map<int, bool> icons;
    std::map<int, std::u16string> strings;
    std::vector<std::filesystem::path> files;
    int listCount = 0;
    int loads = 0;
};

// A drawer over the fakes; Draw runs one drawing pass at the measured size.
struct Html {
    FakeMeasurer measurer;
    FakeResources resources;
    CHtmlDrawer drawer{measurer, &resources};
    RecordingCanvas canvas;
    HtmlSize size;

    HtmlSize Prepare(const std::u16string& text) { return size = drawer.PrepareOutput(text); }
    std::vector<std::string> Draw(HtmlRect rect = {-1, -1, -1, -1}) {
        if (rect.left == -1) rect = {0, 0, size.cx - 1, size.cy - 1};
        canvas.calls.clear();
        drawer.DrawPreparedOutput(canvas, rect);
        return canvas.calls;
    }
    std::vector<std::string> Render(const std::u16string& text) {
        Prepare(text);
        return Draw();
    }
};

}  // namespace orvane::test
