#include "CDetailRows.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "Document.h"

namespace orvane::app {

namespace {

std::string Attr(const xml::Node& node, const char* name) { return node.attribute(name).value_or(std::string()); }

struct Builder {
    std::vector<CDetailRows::Range>& ranges;

    void Add(CDetailRows::Group& group, const xml::Node& item, int depth, int parent) {
        CDetailRows::Field field;
        field.name = Attr(item, "name");
        field.value = Attr(item, "value");
        field.tip = Attr(item, "tip");
        field.depth = depth;
        field.parent = parent;
        field.range = ranges.size();
        ranges.push_back({CDetailRows::ReadDecimal(Attr(item, "offset")), CDetailRows::ReadDecimal(Attr(item, "bits"))});
        const int self = int(group.fields.size());
        group.fields.push_back(std::move(field));
        for (const xml::Node& child : item.childNodes())
            if (child.type() == xml::NodeType::Element) Add(group, child, depth + 1, self);
    }
};

}  // namespace

int64_t CDetailRows::ReadDecimal(const std::string& text) {
    const char* begin = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    if (!std::isdigit(static_cast<unsigned char>(begin[0])) &&
        !((begin[0] == '-' || begin[0] == '+') && std::isdigit(static_cast<unsigned char>(begin[1]))))
        return 0;
    errno = 0;
    const long long value = std::strtoll(begin, nullptr, 10);
    // A clamped value would point somewhere the field does not.
    return errno == ERANGE ? 0 : int64_t(value);
}

void CDetailRows::Clear() {
    groups_.clear();
    ranges_.clear();
}

bool CDetailRows::Load(const std::string& text) {
    Clear();
    xml::Document doc;
    if (text.empty() || !doc.loadXML(text)) return false;
    const xml::Node root = doc.documentElement();
    if (root.name() != "groups") return false;
    Builder builder{ranges_};
    for (const xml::Node& element : root.childNodes()) {
        if (element.type() != xml::NodeType::Element) continue;
        Group group;
        group.name = Attr(element, "name");
        for (const xml::Node& item : element.childNodes())
            if (item.type() == xml::NodeType::Element) builder.Add(group, item, 0, -1);
        groups_.push_back(std::move(group));
    }
    return true;
}

}  // namespace orvane::app
