#include "HtmlScanner.h"

#include <algorithm>

namespace orvane {

size_t HtmlScanner::Find(std::u16string_view needle, size_t from) {
    const size_t len = text_.size();
    from = std::min(from, len);
    std::u16string_view all(text_);
    Hit* hit = nullptr;
    for (Hit& h : hits_)
        if (h.needle == needle) hit = &h;
    if (!hit) {
        hits_.push_back({std::u16string(needle), len, len});
        hit = &hits_.back();
    }
    if (from >= hit->from && from <= hit->at) return hit->at;
    if (from < hit->from) {
        // Only the stretch before the remembered start needs looking at.
        size_t stop = std::min(len, hit->from + needle.size() - (needle.empty() ? 0 : 1));
        size_t r = all.substr(0, stop).find(needle, from);
        hit->from = from;
        if (r != std::u16string_view::npos) hit->at = r;
        return hit->at;
    }
    size_t r = all.find(needle, from);
    hit->from = from;
    hit->at = r == std::u16string_view::npos ? len : r;
    return hit->at;
}

std::u16string HtmlScanner::ReadTextRun(std::u16string& tag, size_t& pos) {
    tag.clear();
    const size_t len = text_.size();
    if (pos >= len) return {};
    size_t lt = Find(u"<", pos);
    std::u16string run = text_.substr(pos, lt - pos);
    if (lt >= len) {
        pos = len;
        return run;
    }
    if (lt + 1 < len && text_[lt + 1] != u'<') {
        pos = lt;
        tag = ReadTag(pos);
        return run;
    }
    // "<<", or a "<" that ends the text, is one literal "<".
    run += u'<';
    pos = std::min(len, lt + 2);
    return run;
}

std::u16string HtmlScanner::ReadTag(size_t& pos) {
    const size_t len = text_.size();
    size_t open = std::min(pos, len);
    size_t gt = Find(u">", open);
    pos = std::min(len, open + 1);
    if (gt >= len || gt == open + 1) return {};
    pos = gt + 1;
    return text_.substr(open + 1, gt - open - 1);
}

bool HtmlScanner::SearchTag(size_t& pos, std::u16string_view name) {
    const size_t len = text_.size();
    std::u16string needle = u"<";
    needle += name;
    size_t from = std::min(pos, len);
    for (;;) {
        size_t r = Find(needle, from);
        if (r >= len) {
            pos = len;
            return false;
        }
        if (r == 0 || text_[r - 1] != u'<') {
            pos = r;
            return true;
        }
        from = r + 2;
    }
}

std::u16string HtmlScanner::SplitTag(std::u16string& tag) {
    size_t pos = 0;
    if (!FindOneOf(tag, pos, u" =")) return {};
    std::u16string attrs = tag.substr(pos);
    tag.resize(pos);
    size_t first = attrs.find_first_not_of(u' ');
    return first == std::u16string::npos ? std::u16string() : attrs.substr(first);
}

std::u16string HtmlScanner::ReadAttribute(const std::u16string& attrs, size_t& pos, std::u16string& name) {
    name.clear();
    if (!SkipToToken(attrs, pos)) return {};
    size_t start = pos;
    FindOneOf(attrs, pos, u" =");
    name = attrs.substr(start, pos - start);
    if (SkipChars(attrs, pos, u" ") != u'=') return {};
    char16_t c = SkipChars(attrs, pos, u" =");
    char16_t end = u' ';
    if (c == u'\'' || c == u'"') {
        end = c;
        ++pos;
    }
    size_t valueStart = std::min(pos, attrs.size());
    size_t stop = attrs.find(end, valueStart);
    if (stop == std::u16string::npos) stop = attrs.size();
    pos = std::min(attrs.size(), stop + 1);
    return attrs.substr(valueStart, stop - valueStart);
}

bool HtmlScanner::SkipToToken(const std::u16string& text, size_t& pos) {
    while (pos < text.size() && !IsTokenChar(text[pos])) ++pos;
    if (pos >= text.size()) {
        pos = text.size();
        return false;
    }
    return true;
}

char16_t HtmlScanner::FindOneOf(const std::u16string& text, size_t& pos, std::u16string_view set) {
    size_t r = pos < text.size() ? text.find_first_of(set, pos) : std::u16string::npos;
    if (r == std::u16string::npos) {
        pos = text.size();
        return 0;
    }
    pos = r;
    return text[r];
}

char16_t HtmlScanner::SkipChars(const std::u16string& text, size_t& pos, std::u16string_view set) {
    size_t r = pos < text.size() ? text.find_first_not_of(set, pos) : std::u16string::npos;
    if (r == std::u16string::npos) {
        pos = text.size();
        return 0;
    }
    pos = r;
    return text[r];
}

std::u16string HtmlScanner::ReadPropertyValue(const std::u16string& text, size_t& pos, std::u16string_view delimiters) {
    if (SkipChars(text, pos, u" ") != u':') return {};
    ++pos;
    std::u16string skip = u" ";
    skip += delimiters;
    if (SkipChars(text, pos, skip) == u'"') {
        size_t close = text.find(u'"', pos + 1);
        if (close == std::u16string::npos) {
            pos = text.size();
            return {};
        }
        std::u16string value = text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
        return value;
    }
    size_t start = std::min(pos, text.size());
    FindOneOf(text, pos, delimiters);
    return text.substr(start, pos - start);
}

}  // namespace orvane
