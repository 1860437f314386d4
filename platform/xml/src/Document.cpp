#include "Document.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "Detail.h"
#include "RegularFile.h"

namespace orvane::xml {

namespace {

// References are decoded here, not by the library, which keeps unknown ones as text.
constexpr unsigned kParseFlags = (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_comments |
                                 pugi::parse_pi | pugi::parse_fragment;

std::string describe(const std::string& buffer, std::ptrdiff_t offset, const std::string& what)
{
    const std::size_t end = std::min<std::size_t>(offset < 0 ? 0 : static_cast<std::size_t>(offset), buffer.size());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (buffer[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return what + " at line " + std::to_string(line) + ", column " + std::to_string(end - lineStart + 1) +
           " (offset " + std::to_string(end) + ")";
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    const int tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char lead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[tail] | (cp >> (6 * tail)));
    for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
}

bool decodeCharRef(std::string_view digits, int base, std::string& out)
{
    std::uint32_t cp = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, ec] = std::from_chars(digits.data(), end, cp, base);
    // Control characters pass because the writer emits them as references.
    if (digits.empty() || ec != std::errc() || stop != end || cp == 0 || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    appendUtf8(out, cp);
    return true;
}

// The predefined entities and character references; any other '&' is an error.
bool decodeReferences(const char* in, std::string& out)
{
    static const std::pair<std::string_view, char> entities[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    out.clear();
    for (const char* p = in; *p;) {
        if (*p != '&') {
            out += *p++;
            continue;
        }
        const char* semi = std::strchr(p, ';');
        if (!semi) return false;
        const std::string_view ref(p + 1, static_cast<std::size_t>(semi - p - 1));
        p = semi + 1;
        if (ref.starts_with("#x")) {
            if (!decodeCharRef(ref.substr(2), 16, out)) return false;
        } else if (ref.starts_with("#")) {
            if (!decodeCharRef(ref.substr(1), 10, out)) return false;
        } else {
            auto it = std::find_if(std::begin(entities), std::end(entities), [&](auto& e) { return e.first == ref; });
            if (it == std::end(entities)) return false;
            out += it->second;
        }
    }
    return true;
}

// A text node's or attribute's value, decoded in place.
template <class Item>
bool decodeValue(Item item, std::string& scratch)
{
    if (!std::strchr(item.value(), '&')) return true;
    return decodeReferences(item.value(), scratch) && item.set_value(scratch.c_str());
}

// What the library lets through but XML forbids: fragments, repeated attributes,
// '<' in attribute values and unknown references. Decodes references on the way.
std::string validate(pugi::xml_document& doc, const std::string& buffer)
{
    bool haveRoot = false;
    for (pugi::xml_node child : doc.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            return describe(buffer, child.offset_debug(), "Text outside the root element");
        }
        if (child.type() == pugi::node_element) {
            if (haveRoot) return describe(buffer, child.offset_debug(), "More than one root element");
            haveRoot = true;
        }
    }
    if (!haveRoot) return describe(buffer, static_cast<std::ptrdiff_t>(buffer.size()), "No root element");

    std::string scratch;
    std::vector<std::string_view> names;
    for (pugi::xml_node node = doc.first_child(); node; node = detail::nextInTree(node, doc)) {
        const std::ptrdiff_t at = node.offset_debug();
        if (node.type() == pugi::node_pcdata && !decodeValue(node, scratch)) {
            return describe(buffer, at, "Bad entity or character reference");
        }
        if (node.type() != pugi::node_element) continue;
        names.clear();
        for (pugi::xml_attribute a : node.attributes()) {
            names.emplace_back(a.name());
            if (std::strchr(a.value(), '<') || !decodeValue(a, scratch)) {
                return describe(buffer, at, "Bad value of attribute " + std::string(a.name()));
            }
        }
        std::sort(names.begin(), names.end());
        auto twice = std::adjacent_find(names.begin(), names.end());
        if (twice != names.end()) return describe(buffer, at, "Repeated attribute " + std::string(*twice));
    }
    return {};
}

}  // namespace

struct Document::Impl {
    std::unique_ptr<pugi::xml_document> doc = std::make_unique<pugi::xml_document>();
    std::string error;
};

Document::Document() : impl_(std::make_unique<Impl>()) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

bool Document::load(const std::string& path, uint64_t maxBytes)
{
    if (!impl_) return false;
    std::string buffer;
    if (!ReadRegularFile(path, maxBytes, buffer)) {
        impl_->error = "Cannot read " + path + " as a regular file of at most " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    return parse(buffer);
}

bool Document::loadXML(const std::string& text)
{
    return impl_ && parse(text);
}

bool Document::parse(const std::string& buffer)
{
    // Parse aside and swap in only a complete tree.
    auto fresh = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result = fresh->load_buffer(buffer.data(), buffer.size(), kParseFlags);
    std::string error = result ? validate(*fresh, buffer) : describe(buffer, result.offset, result.description());
    if (!error.empty()) {
        impl_->error = std::move(error);
        return false;
    }
    impl_->doc = std::move(fresh);
    impl_->error.clear();
    return true;
}

std::string Document::fileText() const
{
    if (!impl_ || !documentElement()) return {};
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    for (pugi::xml_node child : impl_->doc->children()) {
        if (!detail::isStore(child)) child.print(out, "\t", pugi::format_indent | pugi::format_no_declaration);
    }
    return out.str();
}

bool Document::save(const std::string& path)
{
    if (!impl_) return false;
    if (!documentElement()) {
        impl_->error = "No root element to save";
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out << fileText();
    out.close();
    if (!out) {
        impl_->error = "Cannot write " + path;
        return false;
    }
    impl_->error.clear();
    return true;
}

std::string Document::xml() const
{
    return node().xml();
}

const std::string& Document::lastError() const
{
    static const std::string none;
    return impl_ ? impl_->error : none;
}

Node Document::node() const
{
    return impl_ ? Node(impl_->doc->internal_object()) : Node();
}

Node Document::documentElement() const
{
    // Walked in place: writers ask for the root once per element they add.
    if (!impl_) return {};
    for (pugi::xml_node child : impl_->doc->children())
        if (child.type() == pugi::node_element && !detail::isStore(child)) return Node(child.internal_object());
    return {};
}

Node Document::createElement(const std::string& name)
{
    if (!impl_ || !detail::isValidName(name)) return {};
    return Node(detail::storeOf(*impl_->doc).append_child(name.c_str()).internal_object());
}

Node Document::createTextNode(const std::string& text)
{
    if (!impl_) return {};
    pugi::xml_node node = detail::storeOf(*impl_->doc).append_child(pugi::node_pcdata);
    node.set_value(text.c_str());
    return Node(node.internal_object());
}

Node Document::createNode(NodeType type, const std::string& nameOrText)
{
    if (type == NodeType::Element) return createElement(nameOrText);
    if (type == NodeType::Text) return createTextNode(nameOrText);
    return {};
}

}  // namespace orvane::xml
