// Renders the tip subset of HTML: a measuring pass sizes the text and
// records its lines, tables and images; drawing passes replay that record
// onto a canvas. Font metrics, drawing and resources come through small
// interfaces, so the engine needs no GUI toolkit.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HtmlStyle.h"
#include "IHtmlCanvas.h"
#include "IHtmlResources.h"
#include "ITextMeasurer.h"

namespace orvane {

class HtmlScanner;

class CHtmlDrawer {
public:
    // The system colours by their classic index 0-24, read once at construction.
    using SystemColors = std::array<Colorref, 25>;
    static SystemColors DefaultSystemColors();

    explicit CHtmlDrawer(ITextMeasurer& measurer, IHtmlResources* resources = nullptr,
                         const SystemColors& systemColors = DefaultSystemColors());
    virtual ~CHtmlDrawer();
    CHtmlDrawer(const CHtmlDrawer&) = delete;
    CHtmlDrawer& operator=(const CHtmlDrawer&) = delete;

    // The measuring pass: stores the text and answers its size plus one pixel
    // each way (0 by 0 for an empty text), capped to the largest size set.
    HtmlSize PrepareOutput(const std::u16string& html);
    // A drawing pass of the prepared text at the rectangle; nothing when it is empty.
    void DrawPreparedOutput(IHtmlCanvas& canvas, const HtmlRect& rect);

    // Mouse over the drawn text: true when the hand cursor is to be shown.
    bool OnSetCursor(int x, int y);
    // The index of the first link area holding the point (edges included), or -1.
    int HitTestLink(int x, int y) const;
    void OnLinkClick(int index);
    // Advances animated icon lists; true when a frame changed.
    bool OnTimer();
    // The tip part of a string resource: after its first line feed up to the next.
    std::u16string GetStringResourceTip(int id);

    // Called with the link index (-2: none) when the hovered link changes.
    void SetCallbackRepaint(std::function<void(int)> callback) { repaint_ = std::move(callback); }
    // Receives the targets of links of kind 2.
    void SetLinkNotify(std::function<void(const std::u16string&)> callback) { linkNotify_ = std::move(callback); }
    // Opens http, https and mailto targets of links of kind 1; nothing else is ever opened.
    void SetUrlOpener(std::function<bool(const std::u16string&)> opener) { urlOpener_ = std::move(opener); }
    // The only folder that "file" attributes may name images under; empty: no files.
    void SetImageFolder(std::filesystem::path folder) { imageFolder_ = std::move(folder); }
    // The measured size never exceeds this (the screen).
    void SetMaxSize(HtmlSize size) { maxSize_ = size; }

    // Style sheet.
    void SetDefaultCssStyles();
    // Null installs the default sheet.
    void SetCssStyles(const char16_t* text);
    void SetCssStyle(const std::u16string& selector, const std::u16string& declarations);
    const std::u16string* GetCssStyle(const std::u16string& name) const;
    void ApplyCssStyle(const std::u16string& declarations, HtmlStyle& style);
    void ApplyCssClass(const std::u16string& name, HtmlStyle& style);

    // Vocabulary.
    HtmlTagId FindTag(std::u16string tag, std::u16string& styleName, bool& closing) const;
    Colorref GetColorByName(const std::u16string& name, Colorref fallback) const;
    Colorref ParseColor(const std::u16string& value, Colorref current) const;
    void AddTag(const std::u16string& name, HtmlTagId id, const std::u16string& styleName);
    void AddEntity(const std::u16string& entity, const std::u16string& replacement);
    void AddColor(const std::u16string& name, Colorref color);
    void ReplaceEntities(std::u16string& text) const;
    size_t TagCount() const { return tags_.size(); }
    size_t EntityCount() const { return entities_.size(); }
    size_t ColorCount() const { return colors_.size(); }

    // Value readers of the style sheet, the tags and the tables.
    int ParseLength(const std::u16string& value, int current, bool fontSize);
    static int ParseFontWeight(const std::u16string& value, int current);
    static int ParseHorzAlign(const std::u16string& value, int current);
    static int ParseVertAlign(const std::u16string& value, int current);
    static void ParseTextDecoration(const std::u16string& value, HtmlStyle& style);
    int ParseBorderWidth(const std::u16string& value, int current);
    static int ParseBorderStyle(const std::u16string& value, int current);
    int ParseBackgroundEffect(const std::u16string& value, int current);
    unsigned ParseImageStyle(const std::u16string& value) const;
    void ParseFontStyle(const std::u16string& value);

    // Only these schemes are ever handed to the opener.
    static bool IsOpenableUrl(const std::u16string& url);
    // The file under folder that value names, or an empty path for anything
    // absolute, reaching out of the folder or missing.
    static std::filesystem::path ResolveImageFile(const std::filesystem::path& folder, const std::u16string& value);

    // What the passes recorded, for the window and for tests.
    const std::u16string& PreparedText() const { return html_; }
    const std::vector<HtmlLine>& Lines() const { return lines_; }
    const std::vector<LinkArea>& LinkAreas() const { return linkAreas_; }
    const std::vector<IconListState>& IconLists() const { return iconLists_; }
    const std::vector<TableLayout>& Tables() const { return tables_; }
    int HoveredLink() const { return hoveredLink_; }
    const HtmlStyle& CurrentStyle() const { return style_; }
    int TabWidth() const { return tabWidth_; }

private:
    struct ImageSource;
    struct Position {
        int64_t x = 0;
        int64_t y = 0;
    };

    void FillTagTable();
    void FillEntityTable();
    void FillColorTable(const SystemColors& systemColors);
    void SetDefaultStyle();
    bool OpenUrl(const std::u16string& url);

    void DrawHtml(HtmlSize& size, HtmlRect rect);
    HtmlSize DrawHtmlString(const std::u16string& section, const HtmlRect& rect);
    void DrawTextRun(std::u16string run, Position& pos);
    void ApplyStyleTag(HtmlTagId id, const std::u16string& tagName, const std::u16string& attrs);
    void DrawHorzLine(const std::u16string& attrs, Position& pos);
    void DrawTab(const std::u16string& attrs, Position& pos);
    void DrawStringTag(const std::u16string& attrs, Position& pos);
    bool StoreRestoreStyle(bool closing, int depthLimit = htmllimits::kMaxStyleDepth);
    void UpdateContext();
    HtmlFont FontFromStyle() const;
    int64_t InitNewLine(int64_t left);
    void NewLine(Position& pos, int count);
    int64_t VerticalAlignText(int64_t y, int height);
    int64_t VerticalAlignImage(int64_t y, int height);
    void StoreLinkArea(int64_t left, int64_t top, int64_t right, int64_t bottom);
    HtmlTextPaint TextPaint() const;

    // Images.
    void ParseImageAttributes(const std::u16string& attrs, HtmlImageAttributes& image);
    std::shared_ptr<const HtmlImage> CachedImage(const std::function<std::shared_ptr<const HtmlImage>()>& load);
    std::shared_ptr<const HtmlImage> LoadBitmap(const HtmlImageAttributes& image);
    void DrawImageTag(HtmlTagId id, const std::u16string& attrs, Position& pos);
    void DrawBackgroundImage(const HtmlRect& rect, const std::u16string& value);
    void SetImageShadow();

    // Tables.
    HtmlSize DrawTable(const std::u16string& tableText, const HtmlRect& rect, int depth);
    void DrawTableRow(const std::u16string& rowText, const HtmlRect& inner, TableLayout& layout, int row, int depth);
    HtmlSize DrawTableCell(const std::u16string& cellText, const HtmlRect& cellRect, TableLayout& layout, int row,
                           int column, int depth);
    std::pair<int, int> CountTableCells(const std::u16string& tableText);
    static size_t SearchEndOfTable(HtmlScanner& scanner, size_t pos);
    static size_t SearchEndOfRow(HtmlScanner& scanner, size_t pos);
    static size_t SearchEndOfCell(HtmlScanner& scanner, size_t pos);
    std::pair<int, int> ParseTableAttributes(const std::u16string& attrs, HtmlStyle& style, bool table);
    std::u16string ReadOpeningAttributes(const std::u16string& text, size_t& pos);

    ITextMeasurer& measurer_;
    IHtmlResources* resources_;
    std::vector<TableLayout> tables_;
    int tableCounter_ = -1;
    std::function<void(int)> repaint_;
    std::function<void(const std::u16string&)> linkNotify_;
    std::function<bool(const std::u16string&)> urlOpener_;
    HtmlStyle style_;
    HtmlLine line_;
    HtmlRect section_;
    IHtmlCanvas* canvas_ = nullptr;   // the drawing pass's canvas; null while measuring
    bool measuring_ = true;
    std::u16string html_;
    int tabWidth_ = 32;
    int lineCounter_ = 0;
    int hoveredLink_ = -2;
    int linkCounter_ = -1;
    int iconListCounter_ = -1;
    int imageCounter_ = -1;
    int sectionCounter_ = -1;
    int64_t resultWidth_ = 0;
    int64_t markBudget_ = 0;  // covered table slots the measuring pass may still mark
    bool lineConversion_ = true;
    bool outOfLines_ = false;
    int64_t remaining_ = 0;   // width still to draw on the current line (drawing pass)
    int shadowDx_ = 4;
    int shadowDy_ = 4;
    int blurX_ = 7;
    int blurY_ = 7;
    int darkness_ = 50;
    bool gradientShadow_ = true;
    Colorref shadowColor_ = 0x808080;
    HtmlFontMetrics metrics_;
    HtmlFont font_;
    std::u16string cssText_;
    std::vector<HtmlLine> lines_;
    std::vector<uint8_t> sectionClosesLine_;
    std::vector<HtmlStyle> styleStack_;
    std::vector<LinkArea> linkAreas_;
    std::vector<IconListState> iconLists_;
    std::vector<std::shared_ptr<const HtmlImage>> images_;
    std::map<std::u16string, std::shared_ptr<const HtmlImage>> backgrounds_;
    std::map<std::u16string, Colorref> colors_;
    std::map<std::u16string, std::u16string> css_;
    std::map<std::u16string, std::u16string> entities_;
    std::map<std::u16string, HtmlTagInfo> tags_;
    std::filesystem::path imageFolder_;
    HtmlSize maxSize_{8192, 8192};
};

}  // namespace orvane
