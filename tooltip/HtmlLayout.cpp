// The text engine: the tag loop of one plain section, style tags, elements
// (rules, breaks, tabs, strings) and the line records that the drawing pass
// replays.
#include <algorithm>

#include "CHtmlDrawer.h"
#include "HtmlScanner.h"

namespace orvane {

using namespace htmllimits;

namespace {

void Advance(int64_t& v, int64_t by) { v = std::clamp<int64_t>(v + by, -kMaxCoord, kMaxCoord); }

int C(int64_t v) { return Clamp64(v, -kMaxCoord, kMaxCoord); }

// Reads every attribute with a name, in order.
template <typename F>
void ForEachAttribute(const std::u16string& attrs, F&& f) {
    size_t pos = 0;
    std::u16string name;
    while (pos < attrs.size()) {
        std::u16string value = HtmlScanner::ReadAttribute(attrs, pos, name);
        if (name.empty()) break;
        f(name, value);
    }
}

void Transform(std::u16string& run, int transform) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    if (transform == 1) {
        for (char16_t& c : run) c = upper(c);
    } else if (transform == 2 || transform == 3) {
        for (char16_t& c : run) c = lower(c);
        if (transform == 3)
            for (size_t i = 0; i < run.size(); ++i)
                if (i == 0 || run[i - 1] == u' ') run[i] = upper(run[i]);
    }
}

}  // namespace

HtmlSize CHtmlDrawer::DrawHtmlString(const std::u16string& section, const HtmlRect& rect) {
    ++sectionCounter_;
    const std::u16string text = u"<body>" + section + u"</body>";
    section_ = rect;
    resultWidth_ = 0;
    const int lineAtEntry = lineCounter_;
    Position pos{rect.left, rect.top};
    pos.x = InitNewLine(rect.left);
    const int64_t lineStart = pos.x;

    HtmlScanner scanner(text);
    size_t p = 0;
    std::u16string tag;
    while (p < text.size() && !outOfLines_) {
        std::u16string run = scanner.ReadTextRun(tag, p);
        std::u16string attrs = HtmlScanner::SplitTag(tag);
        if (!run.empty()) DrawTextRun(std::move(run), pos);
        if (tag.empty()) continue;
        std::u16string styleName;
        bool closing = false;
        HtmlTagId id = FindTag(tag, styleName, closing);
        style_.styleName = styleName;
        if (id == TagNone) continue;
        if (styleName.empty()) {
            switch (id) {
            case TagHorzLine:
                DrawHorzLine(attrs, pos);
                break;
            case TagNewLine: {
                int count = attrs.empty() ? 1 : ParseLength(attrs.substr(1), 1, false);
                NewLine(pos, std::min(count, kMaxLineCount));
                break;
            }
            case TagTab:
                DrawTab(attrs, pos);
                break;
            case TagBitmap:
            case TagIcon:
            case TagIconList:
                DrawImageTag(id, attrs, pos);
                break;
            case TagString:
                DrawStringTag(attrs, pos);
                break;
            default:
                break;
            }
            continue;
        }
        if (!StoreRestoreStyle(closing)) continue;
        if (!closing) ApplyStyleTag(id, tag, attrs);
        UpdateContext();
    }

    // The drawing pass closes the last line exactly when the measuring pass did.
    bool closeLast;
    if (measuring_) {
        closeLast = pos.x != lineStart;
        sectionClosesLine_.push_back(closeLast);
    } else {
        closeLast = !outOfLines_ && static_cast<size_t>(sectionCounter_) < sectionClosesLine_.size() &&
                    sectionClosesLine_[sectionCounter_];
    }
    if (closeLast) NewLine(pos, 1);

    HtmlSize size;
    size.cy = C(pos.y - rect.top);
    if (measuring_) {
        // Rules given in percent take their share of the section's width.
        for (int i = lineAtEntry; i < lineCounter_ && static_cast<size_t>(i) < lines_.size(); ++i) {
            HtmlLine& line = lines_[i];
            if (!line.hrPercent) continue;
            line.width = C(int64_t{line.width} + MulDiv(line.hrPercent, C(resultWidth_), 100));
            resultWidth_ = std::max<int64_t>(resultWidth_, line.width);
        }
    }
    size.cx = C(resultWidth_);
    return size;
}

void CHtmlDrawer::DrawTextRun(std::u16string run, Position& pos) {
    Transform(run, style_.textTransform);
    HtmlSize extent = measurer_.Extent(run);
    int64_t cx = extent.cx;
    int64_t y = VerticalAlignText(pos.y, extent.cy);
    if (measuring_) {
        line_.horzAlign = style_.horzAlign;
    } else if (cx != 0) {
        if (remaining_ == cx && run.back() == u' ') {
            run.erase(run.find_last_not_of(u' ') + 1);
            remaining_ += measurer_.Extent(run).cx - cx;
        }
        remaining_ -= cx;
        cx = measurer_.Extent(run).cx;
        StoreLinkArea(pos.x, y, pos.x + cx, y + extent.cy);
        if (!run.empty()) canvas_->DrawText(C(pos.x), C(y), run, font_, TextPaint());
        if (style_.overline)
            canvas_->DrawLine(C(pos.x), C(y), C(pos.x + cx), C(y), style_.textColor, 1,
                              style_.fontWeight >= 700 ? 2 : 1);
    }
    Advance(pos.x, cx);
}

void CHtmlDrawer::ApplyStyleTag(HtmlTagId id, const std::u16string& tagName, const std::u16string& attrs) {
    HtmlStyle& s = style_;
    switch (id) {
    case TagBold:
        s.fontWeight = std::min(s.fontWeight * 2, 900);
        break;
    case TagItalic:
        s.italic = !s.italic;
        break;
    case TagUnderline:
        s.underline = !s.underline;
        break;
    case TagStrikeout:
        s.strikeout = !s.strikeout;
        break;
    case TagFont:
        ForEachAttribute(attrs, [&](const std::u16string& name, const std::u16string& value) {
            if (name == u"face") {
                s.fontFace = HtmlScanner::GetStringValue(value, s.fontFace);
            } else if (name == u"size") {
                s.fontSize = std::min(ParseLength(value, s.fontSize, true), kMaxFontSize);
            } else if (name == u"color") {
                s.textColor = ParseColor(value, s.textColor);
            } else if (name == u"style") {
                ParseFontStyle(value);
            } else if (name == u"weight") {
                s.fontWeight = ParseFontWeight(value, s.fontWeight);
            } else if (name == u"bkgnd") {
                if (value.empty() || value == u"transparent") {
                    s.backMode = 1;
                } else {
                    s.backMode = 2;
                    s.backColor = ParseColor(value, s.backColor);
                }
            }
        });
        break;
    case TagLeft:
    case TagCenter:
    case TagRight:
    case TagJustify:
        s.horzAlign = id - TagLeft;
        break;
    case TagBaseline:
        s.vertAlign = 3;
        break;
    case TagTop:
        s.vertAlign = 0;
        break;
    case TagVCenter:
        s.vertAlign = 1;
        break;
    case TagBottom:
        s.vertAlign = 2;
        break;
    case TagStyle:
        ApplyCssClass(tagName, s);
        break;
    case TagSpan:
        ForEachAttribute(attrs, [&](const std::u16string& name, const std::u16string& value) {
            if (name == u"class") ApplyCssClass(u"." + value, s);
        });
        break;
    case TagLink:
        s.linkKind = 2;
        s.linkTarget.clear();
        ForEachAttribute(attrs, [&](const std::u16string& name, const std::u16string& value) {
            if (name == u"href") {
                s.linkKind = 1;
                s.linkTarget = value;
            } else if (name == u"msg") {
                s.linkKind = 2;
                s.linkTarget = value;
            }
        });
        ++linkCounter_;
        ApplyCssClass(linkCounter_ == hoveredLink_ ? u"a:hover" : u"a:link", s);
        break;
    default:
        break;
    }
}

void CHtmlDrawer::ParseFontStyle(const std::u16string& value) {
    bool on = true;
    for (char16_t c : value) {
        switch (c) {
        case u'+': on = true; continue;
        case u'-': on = false; continue;
        case u'b': style_.fontWeight = on ? 700 : 400; break;
        case u'i': style_.italic = on; break;
        case u'o': style_.overline = on; break;
        case u's': style_.strikeout = on; break;
        case u'u': style_.underline = on; break;
        default: continue;
        }
        on = true;
    }
}

void CHtmlDrawer::DrawHorzLine(const std::u16string& attrs, Position& pos) {
    HtmlStyle rule = style_;
    ApplyCssClass(u"hr", rule);
    Colorref color = rule.textColor;
    int size = 1;
    int width = 100;
    bool percent = true;
    ForEachAttribute(attrs, [&](const std::u16string& name, const std::u16string& value) {
        if (name == u"width") {
            percent = !value.empty() && value.back() == u'%';
            width = ParseLength(value, 100, false);
        } else if (name == u"size") {
            size = ParseLength(value, size, false);
        } else if (name == u"color") {
            color = ParseColor(value, color);
        }
    });
    size = std::min(size, kMaxRuleSize);
    if (percent) width = std::min(width, kMaxPercent);
    int64_t drawn;
    if (measuring_) {
        if (percent) line_.hrPercent = Clamp64(int64_t{line_.hrPercent} + width, 0, kMaxPercent);
        drawn = percent ? 1 : width;
        line_.height = std::max(line_.height, size + 8);
        line_.horzAlign = style_.horzAlign;
    } else {
        drawn = percent ? MulDiv(section_.Width(), width, 100) : width;
        int64_t y = pos.y + line_.height / 2;
        canvas_->DrawLine(C(pos.x), C(y), C(pos.x + drawn), C(y), color, 1, size);
    }
    Advance(pos.x, drawn);
}

void CHtmlDrawer::DrawTab(const std::u16string& attrs, Position& pos) {
    int count = attrs.empty() ? 1 : ParseLength(attrs.substr(1), 1, false);
    count = std::clamp(count, 1, kMaxLineCount);
    int64_t r = (pos.x - section_.left) % tabWidth_;
    Advance(pos.x, r != 0 ? (tabWidth_ - r) + int64_t{tabWidth_} * (count - 1) : int64_t{tabWidth_} * count);
}

void CHtmlDrawer::DrawStringTag(const std::u16string& attrs, Position& pos) {
    int id = 0;
    ForEachAttribute(attrs, [&](const std::u16string& name, const std::u16string& value) {
        if (name == u"idres")
            id = ParseLength(value, id, false);
        else if (name == u"iddll")
            id = ParseLength(value, 0, false);
    });
    if (id == 0 || !resources_) return;
    std::u16string text = resources_->String(id);
    if (text.empty()) return;
    HtmlSize extent = measurer_.Extent(text);
    if (measuring_) line_.horzAlign = style_.horzAlign;
    int64_t y = VerticalAlignText(pos.y, extent.cy);
    if (!measuring_) {
        StoreLinkArea(pos.x, y, pos.x + extent.cx, y + extent.cy);
        canvas_->DrawText(C(pos.x), C(y), text, font_, TextPaint());
    }
    Advance(pos.x, extent.cx);
}

bool CHtmlDrawer::StoreRestoreStyle(bool closing, int depthLimit) {
    if (!closing) {
        // Deep nesting from the text is cut off rather than grown without end.
        if (styleStack_.size() >= static_cast<size_t>(depthLimit)) return false;
        styleStack_.push_back(style_);
        return true;
    }
    bool restored = false;
    if (!styleStack_.empty() && styleStack_.back().styleName == style_.styleName) {
        style_ = std::move(styleStack_.back());
        styleStack_.pop_back();
        restored = true;
    }
    style_.styleName.clear();
    return restored;
}

HtmlFont CHtmlDrawer::FontFromStyle() const {
    HtmlFont font;
    // Size 0 asks for the font's default height.
    font.height = style_.fontSize <= 0 ? 16 : std::min(style_.fontSize, kMaxFontSize);
    font.weight = style_.fontWeight <= 0 ? 400 : std::min(style_.fontWeight, 1000);
    font.italic = style_.italic;
    font.underline = style_.underline;
    font.strikeout = style_.strikeout;
    font.face = style_.fontFace.substr(0, kMaxFaceLength);
    return font;
}

void CHtmlDrawer::UpdateContext() {
    font_ = FontFromStyle();
    measurer_.SetFont(font_);
    metrics_ = measurer_.Metrics();
}

HtmlTextPaint CHtmlDrawer::TextPaint() const {
    return HtmlTextPaint{style_.textColor, style_.backMode == 2, style_.backColor};
}

int64_t CHtmlDrawer::InitNewLine(int64_t left) {
    if (measuring_) {
        line_ = HtmlLine{};
        line_.horzAlign = style_.horzAlign;
        lines_.push_back(line_);
        return left;
    }
    // The drawing pass replays the measured lines and never reads past them.
    if (lineCounter_ < 0 || static_cast<size_t>(lineCounter_) >= lines_.size()) {
        outOfLines_ = true;
        line_ = HtmlLine{};
        remaining_ = 0;
        return left;
    }
    line_ = lines_[lineCounter_];
    const int sectionWidth = section_.Width();
    if (line_.hrPercent) line_.width = C(int64_t{line_.width} + MulDiv(sectionWidth, line_.hrPercent, 100));
    remaining_ = line_.width;
    switch (line_.horzAlign) {
    case 1:
        return left + (int64_t{sectionWidth} - line_.width) / 2;
    case 2:
        return left + sectionWidth - line_.width;
    default:
        return left;
    }
}

void CHtmlDrawer::NewLine(Position& pos, int count) {
    if (measuring_) {
        if (line_.height == 0) line_.height = metrics_.height;
        int64_t width = pos.x - section_.left;
        resultWidth_ = std::max(resultWidth_, width);
        line_.width = C(width);
        line_.height = C(int64_t{line_.height} + line_.descent);
        if (static_cast<size_t>(lineCounter_) < lines_.size()) lines_[lineCounter_] = line_;
    }
    ++lineCounter_;
    Advance(pos.y, int64_t{line_.height} * std::max(count, 1));
    pos.x = InitNewLine(section_.left);
}

int64_t CHtmlDrawer::VerticalAlignText(int64_t y, int height) {
    if (measuring_) {
        line_.descent = std::max(line_.descent, height - metrics_.ascent);
        line_.height = std::max(line_.height, metrics_.ascent);
        return y;
    }
    switch (style_.vertAlign) {
    case 0: return y;
    case 1: return y + (int64_t{line_.height} - height) / 2;
    case 2: return y + line_.height - metrics_.ascent;
    default: return y + line_.height - metrics_.ascent - line_.descent;
    }
}

int64_t CHtmlDrawer::VerticalAlignImage(int64_t y, int height) {
    if (measuring_) {
        line_.height = std::max(line_.height, height);
        return y;
    }
    switch (style_.vertAlign) {
    case 0: return y;
    case 1: return y + (int64_t{line_.height} - height) / 2;
    case 2: return y + line_.height - height;
    default: return y + line_.height - line_.descent - height;
    }
}

void CHtmlDrawer::StoreLinkArea(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    if (style_.linkKind == 0) return;
    linkAreas_.push_back(LinkArea{HtmlRect{C(left), C(top), C(right), C(bottom)}, style_.linkKind, linkCounter_,
                                  style_.linkTarget});
}

}  // namespace orvane
