// Reads tip text as text runs, tags, attributes and declaration values.
// Positions are UTF-16 indexes and never pass the end of the text. Searches
// remember their last hit per needle, so the layout's forward sweeps over a
// long text stay linear.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class HtmlScanner {
public:
    explicit HtmlScanner(const std::u16string& text) : text_(text) {}

    const std::u16string& Text() const { return text_; }
    size_t Length() const { return text_.size(); }

    // The text from pos to the next tag; tag gets the tag's inner text (empty
    // when there is none) and pos moves past the tag. "<<" reads as one "<".
    std::u16string ReadTextRun(std::u16string& tag, size_t& pos);
    // The text between the "<" at pos and the next ">"; empty when there is no
    // ">" or it follows at once, and pos then stays just after the "<".
    std::u16string ReadTag(size_t& pos);
    // The next "<" + name at or after pos that is not the second "<" of "<<";
    // pos gets its index, or the text's length (result false).
    bool SearchTag(size_t& pos, std::u16string_view name);
    // The index of the next occurrence of needle at or after from, or the length.
    size_t Find(std::u16string_view needle, size_t from);

    // Cuts a tag at its first blank or "=": tag keeps the name; the result is
    // the rest from that character on, without leading blanks.
    static std::u16string SplitTag(std::u16string& tag);
    // The next attribute's name and value (empty without "=").
    static std::u16string ReadAttribute(const std::u16string& attrs, size_t& pos, std::u16string& name);
    // Moves to the next ASCII letter, digit or "."; false at the end.
    static bool SkipToToken(const std::u16string& text, size_t& pos);
    // Moves to the first character in set and answers it (0 at the end).
    static char16_t FindOneOf(const std::u16string& text, size_t& pos, std::u16string_view set);
    // Moves past characters in set and answers the first other one (0 at the end).
    static char16_t SkipChars(const std::u16string& text, size_t& pos, std::u16string_view set);
    // After a property name: ":" then a value, quoted or up to a delimiter.
    static std::u16string ReadPropertyValue(const std::u16string& text, size_t& pos, std::u16string_view delimiters);
    static std::u16string GetStringValue(const std::u16string& value, const std::u16string& fallback) {
        return value.empty() ? fallback : value;
    }
    static bool IsTokenChar(char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.';
    }

private:
    struct Hit {
        std::u16string needle;
        size_t from;
        size_t at;
    };

    const std::u16string& text_;
    std::vector<Hit> hits_;
};

}  // namespace orvane
