// The style sheet: rules by selector, the declaration reader and the value
// readers that the tags and tables share.
#include <algorithm>

#include "CHtmlDrawer.h"
#include "HtmlNumbers.h"
#include "HtmlScanner.h"

namespace orvane {

using namespace htmllimits;

namespace {

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

constexpr const char16_t* kDefaultSheet[] = {
    u"body {font-size: 10pt; color:black; font-family:Verdana}",
    u"p {font-size: 10pt; color:black; font-family:Verdana; font-weight:bold}",
    u"h1 {font-size: 14pt; color:black; font-family:Verdana; font-weight:bold}",
    u"h2 {font-size: 13pt; color:#ff9900; font-family:Verdana; font-weight:bold}",
    u"h3 {font-size: 12pt; color:#ff9900; font-family:Arial; font-weight:bold}",
    u"h4 {font-size: 10pt; color:black; font-family:Verdana; font-weight:bold}",
    u"h5 {font-size: 9pt; color:#ff9900; font-family:Verdana; font-weight:bold}",
    u"h6 {font-size: 65%; color:#626262; font-family:Verdana; font-weight:normal}",
    u"pre {font-size: 9pt; font-family:\"Courier\"; background-color:#fbedbb}",
    u"code {color:#990000; font-family:Arial}",
    u"a:link {text-decoration:none; color:blue}",
    u"a:hover {text-decoration:underline; color:blue}",
    u"sub {font-size:65%; vertical-align:bottom}",
    u"sup {font-size:65%; vertical-align:top}",
    u"big {font-size:125%}",
    u"small {font-size:75%}",
    u".cpp-comment {color:green; font-style:italic}",
};

}  // namespace

void CHtmlDrawer::SetDefaultCssStyles() {
    std::u16string text;
    for (const char16_t* rule : kDefaultSheet) {
        text += rule;
        text += u"\r\n";
    }
    SetCssStyles(text.c_str());
}

void CHtmlDrawer::SetCssStyles(const char16_t* text) {
    css_.clear();
    if (!text) {
        SetDefaultCssStyles();
        return;
    }
    cssText_ = text;
    const std::u16string& t = cssText_;
    size_t i = 0;
    while (HtmlScanner::SkipToToken(t, i)) {
        size_t start = i;
        if (!HtmlScanner::FindOneOf(t, i, u" {")) break;
        std::u16string selector = t.substr(start, i - start);
        if (!HtmlScanner::FindOneOf(t, i, u"{")) break;
        size_t close = t.find(u'}', i + 1);
        if (close == std::u16string::npos) break;
        std::u16string declarations = t.substr(i + 1, close - i - 1);
        if (!declarations.empty()) SetCssStyle(selector, declarations);
        i = close;
    }
}

void CHtmlDrawer::SetCssStyle(const std::u16string& selector, const std::u16string& declarations) {
    css_[Lower(selector)] = declarations;
}

const std::u16string* CHtmlDrawer::GetCssStyle(const std::u16string& name) const {
    auto it = css_.find(Lower(name));
    return it == css_.end() ? nullptr : &it->second;
}

void CHtmlDrawer::ApplyCssClass(const std::u16string& name, HtmlStyle& style) {
    if (const std::u16string* rule = GetCssStyle(name)) ApplyCssStyle(*rule, style);
}

void CHtmlDrawer::ApplyCssStyle(const std::u16string& declarations, HtmlStyle& style) {
    const std::u16string text = Lower(declarations);
    size_t pos = 0;
    while (HtmlScanner::SkipToToken(text, pos)) {
        size_t start = pos;
        if (!HtmlScanner::FindOneOf(text, pos, u" :")) break;
        const std::u16string name = text.substr(start, pos - start);
        const std::u16string value = HtmlScanner::ReadPropertyValue(text, pos, u";");
        if (name == u"font-size") {
            style.fontSize = std::min(ParseLength(value, style.fontSize, true), kMaxFontSize);
        } else if (name == u"font-family") {
            if (!value.empty()) style.fontFace = value;
        } else if (name == u"font-style") {
            if (value.empty() || value == u"normal")
                style.italic = false;
            else if (value == u"italic" || value == u"oblique")
                style.italic = true;
        } else if (name == u"font-weight") {
            style.fontWeight = ParseFontWeight(value, style.fontWeight);
        } else if (name == u"text-align") {
            style.horzAlign = ParseHorzAlign(value, style.horzAlign);
        } else if (name == u"text-transform") {
            if (value.empty() || value == u"none")
                style.textTransform = 0;
            else if (value == u"uppercase")
                style.textTransform = 1;
            else if (value == u"lowercase")
                style.textTransform = 2;
            else if (value == u"capitalize")
                style.textTransform = 3;
        } else if (name == u"color") {
            style.textColor = ParseColor(value, style.textColor);
        } else if (name == u"background-color") {
            if (value.empty() || value == u"transparent") {
                style.backMode = 1;
            } else {
                style.backMode = 2;
                style.backColor = ParseColor(value, style.backColor);
            }
        } else if (name == u"text-decoration") {
            ParseTextDecoration(value, style);
        } else if (name == u"vertical-align") {
            style.vertAlign = ParseVertAlign(value, style.vertAlign);
        } else if (name == u"border-color") {
            style.borderColorLight = ParseColor(value, style.borderColorLight);
            style.borderColorDark = style.borderColorLight;
        } else if (name == u"border-width" || name == u"size") {
            style.borderWidth = ParseBorderWidth(value, style.borderWidth);
            if (style.borderWidth == 0)
                style.borderStyle = 0;
            else if (style.borderStyle == 0)
                style.borderStyle = 1;
        } else if (name == u"border-style") {
            style.borderStyle = ParseBorderStyle(value, style.borderStyle);
            if (style.borderStyle != 0 && style.borderWidth == 0) style.borderWidth = 1;
        } else if (name == u"margin") {
            style.margin = ParseLength(value, style.margin, false);
        } else if (name == u"padding") {
            style.padding = ParseLength(value, style.padding, false);
        }
    }
}

int CHtmlDrawer::ParseLength(const std::u16string& value, int current, bool fontSize) {
    using htmlnumbers::LeadingInt;
    if (value.empty()) return current;
    int64_t result = 0;
    if (value.back() == u'%') {
        int64_t percent = LeadingInt(std::u16string_view(value).substr(0, value.size() - 1));
        result = MulDiv(current, Clamp64(percent, -kMaxLength, kMaxLength), 100);
    } else {
        std::u16string_view v(value);
        if (v[0] == u'+' || v[0] == u'-') v.remove_prefix(1);
        int64_t n = LeadingInt(v);
        std::u16string_view unit = v.size() >= 2 ? v.substr(v.size() - 2) : std::u16string_view();
        if (unit == u"px") {
            result = n;
        } else if (unit == u"ex") {
            result = n * measurer_.Extent(u"x").cy;
        } else if (unit == u"em") {
            result = n * metrics_.height;
        } else {
            int64_t dots = n * measurer_.DpiY();
            if (unit == u"in")
                result = dots;
            else if (unit == u"cm")
                result = static_cast<int64_t>(static_cast<double>(dots) / 2.54);
            else if (unit == u"mm")
                result = static_cast<int64_t>(static_cast<double>(dots) / 25.4);
            else if (unit == u"pt")
                result = dots / 72;
            else if (unit == u"pc")
                result = dots / 6;
            else {
                result = htmlnumbers::ReadUnsigned(v);
                static constexpr int kHtmlSizes[] = {8, 10, 12, 14, 18, 24, 36};
                if (fontSize && result >= 1 && result <= 7) result = kHtmlSizes[result - 1];
            }
        }
    }
    return Clamp64(result, 0, kMaxLength);
}

int CHtmlDrawer::ParseFontWeight(const std::u16string& value, int current) {
    if (value.empty() || value == u"normal") return 400;
    if (value == u"bold") return 700;
    if (value == u"bolder") return 900;
    if (value == u"lighter") return 100;
    return Clamp64(htmlnumbers::LeadingInt(value), 0, 1000);
}

int CHtmlDrawer::ParseHorzAlign(const std::u16string& value, int current) {
    if (value.empty() || value == u"left") return 0;
    if (value == u"center") return 1;
    if (value == u"right") return 2;
    return current;
}

int CHtmlDrawer::ParseVertAlign(const std::u16string& value, int current) {
    if (value.empty() || value == u"baseline") return 3;
    if (value == u"middle" || value == u"vcenter") return 1;
    if (value == u"top") return 0;
    if (value == u"bottom") return 2;
    return current;
}

int CHtmlDrawer::ParseBorderStyle(const std::u16string& value, int current) {
    if (value.empty() || value == u"none") return 0;
    if (value == u"solid") return 1;
    if (value == u"dashed") return 2;
    if (value == u"dotted") return 3;
    if (value == u"double") return 6;
    return current;
}

int CHtmlDrawer::ParseBorderWidth(const std::u16string& value, int current) {
    int width;
    if (value == u"thin")
        width = MulDiv(current, 75, 100);
    else if (value == u"medium")
        width = current;
    else if (value == u"thick")
        width = MulDiv(current, 125, 100);
    else
        width = ParseLength(value, current, false);
    return std::clamp(width, 0, kMaxRuleSize);
}

void CHtmlDrawer::ParseTextDecoration(const std::u16string& value, HtmlStyle& style) {
    const std::u16string text = value.empty() ? std::u16string(u"none") : value;
    size_t pos = 0;
    while (HtmlScanner::SkipToToken(text, pos)) {
        size_t start = pos;
        HtmlScanner::FindOneOf(text, pos, u" ,");
        std::u16string_view word = std::u16string_view(text).substr(start, pos - start);
        if (word == u"none")
            style.underline = style.strikeout = style.overline = false;
        else if (word == u"underline")
            style.underline = true;
        else if (word == u"line-through")
            style.strikeout = true;
        else if (word == u"overline")
            style.overline = true;
    }
}

}  // namespace orvane
