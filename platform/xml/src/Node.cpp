#include "Node.h"

#include <exception>

#include "Detail.h"

namespace orvane::xml {

using detail::isDetached;
using detail::isStore;
using detail::isValidName;
using detail::storeOf;
using detail::toPugi;

namespace {

void collectText(pugi::xml_node top, std::string& out)
{
    pugi::xml_node node = top.first_child();
    while (node) {
        if (isStore(node)) {
            node = detail::afterSubtree(node, top);
            continue;
        }
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) out += node.value();
        node = detail::nextInTree(node, top);
    }
}

pugi::xml_node skipStore(pugi::xml_node node)
{
    return isStore(node) ? node.next_sibling() : node;
}

// Prints straight into a string: a stream costs more than the print itself
// for the small subtrees the device tree compares.
struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void setError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

}  // namespace

NodeType Node::type() const
{
    switch (toPugi(handle_).type()) {
    case pugi::node_null: return NodeType::Null;
    case pugi::node_document: return NodeType::Document;
    case pugi::node_element: return NodeType::Element;
    case pugi::node_pcdata: return NodeType::Text;
    case pugi::node_cdata: return NodeType::CData;
    case pugi::node_comment: return NodeType::Comment;
    case pugi::node_pi: return NodeType::ProcessingInstruction;
    default: return NodeType::Other;
    }
}

std::string Node::name() const
{
    switch (type()) {
    case NodeType::Document: return "#document";
    case NodeType::Text: return "#text";
    case NodeType::CData: return "#cdata-section";
    case NodeType::Comment: return "#comment";
    default: return toPugi(handle_).name();
    }
}

std::string Node::text() const
{
    pugi::xml_node node = toPugi(handle_);
    if (node.type() != pugi::node_element && node.type() != pugi::node_document) return node.value();
    std::string out;
    collectText(node, out);
    return out;
}

bool Node::setText(const std::string& text)
{
    pugi::xml_node node = toPugi(handle_);
    switch (node.type()) {
    case pugi::node_element: {
        pugi::xml_node store = storeOf(node);
        // Old children are detached, not freed, so their handles stay usable.
        while (pugi::xml_node child = node.first_child()) {
            if (!store.append_move(child)) return false;
        }
        return text.empty() || node.append_child(pugi::node_pcdata).set_value(text.c_str());
    }
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        return node.set_value(text.c_str());
    default:
        return false;
    }
}

std::string Node::xml() const
{
    pugi::xml_node node = toPugi(handle_);
    StringWriter writer;
    const unsigned flags = pugi::format_raw | pugi::format_no_declaration;
    if (node.type() == pugi::node_document) {
        for (pugi::xml_node child : node.children()) {
            if (!isStore(child)) child.print(writer, "", flags);
        }
    } else if (node) {
        node.print(writer, "", flags);
    }
    return std::move(writer.out);
}

Node Node::parent() const
{
    pugi::xml_node parent = toPugi(handle_).parent();
    return isStore(parent) ? Node() : Node(parent.internal_object());
}

Node Node::firstChild() const
{
    return Node(skipStore(toPugi(handle_).first_child()).internal_object());
}

Node Node::nextSibling() const
{
    return Node(skipStore(toPugi(handle_).next_sibling()).internal_object());
}

std::vector<Node> Node::childNodes() const
{
    std::vector<Node> out;
    for (pugi::xml_node child : toPugi(handle_).children()) {
        if (!isStore(child)) out.push_back(Node(child.internal_object()));
    }
    return out;
}

Node Node::appendChild(Node child)
{
    pugi::xml_node self = toPugi(handle_);
    pugi::xml_node moved = toPugi(child.handle_);
    if (!self || !moved || isStore(self) || isStore(moved)) return {};
    if (self.type() == pugi::node_document) {
        // A document holds one root element and no text.
        if (moved.type() == pugi::node_pcdata || moved.type() == pugi::node_cdata) return {};
        if (moved.type() == pugi::node_element) {
            for (pugi::xml_node c : self.children()) {
                if (c.type() == pugi::node_element && !isStore(c) && c != moved) return {};
            }
        }
    }
    // The library refuses moves into the node's own subtree and of wrong node kinds.
    pugi::xml_node placed = self.root() == moved.root() ? self.append_move(moved) : self.append_copy(moved);
    return Node(placed.internal_object());
}

Node Node::removeChild(Node child)
{
    pugi::xml_node self = toPugi(handle_);
    pugi::xml_node node = toPugi(child.handle_);
    if (!self || !node || node.parent() != self || isStore(node)) return {};
    return storeOf(self).append_move(node) ? child : Node();
}

bool Node::deleteChild(Node child)
{
    pugi::xml_node self = toPugi(handle_);
    pugi::xml_node node = toPugi(child.handle_);
    if (!self || !node || node.parent() != self || isStore(node)) return false;
    return self.remove_child(node);
}

Node Node::cloneNode(bool deep) const
{
    pugi::xml_node self = toPugi(handle_);
    if (!self || self.type() == pugi::node_document || isStore(self)) return {};
    pugi::xml_node store = storeOf(self);
    if (deep || self.type() != pugi::node_element) return Node(store.append_copy(self).internal_object());
    pugi::xml_node copy = store.append_child(self.name());
    for (pugi::xml_attribute a : self.attributes()) copy.append_copy(a);
    return Node(copy.internal_object());
}

std::optional<std::string> Node::attribute(const std::string& name) const
{
    pugi::xml_attribute a = toPugi(handle_).attribute(name.c_str());
    if (!a) return std::nullopt;
    return std::string(a.value());
}

bool Node::setAttribute(const std::string& name, const std::string& value)
{
    pugi::xml_node node = toPugi(handle_);
    if (node.type() != pugi::node_element || isStore(node) || !isValidName(name)) return false;
    pugi::xml_attribute a = node.attribute(name.c_str());
    if (!a) a = node.append_attribute(name.c_str());
    return a && a.set_value(value.c_str());
}

bool Node::removeAttribute(const std::string& name)
{
    return toPugi(handle_).remove_attribute(name.c_str());
}

std::vector<std::pair<std::string, std::string>> Node::attributes() const
{
    std::vector<std::pair<std::string, std::string>> out;
    for (pugi::xml_attribute a : toPugi(handle_).attributes()) out.emplace_back(a.name(), a.value());
    return out;
}

std::vector<Node> Node::selectNodes(const std::string& xpath, std::string* error) const
{
    pugi::xml_node context = toPugi(handle_);
    if (!context) {
        setError(error, "XPath on a null node");
        return {};
    }
    std::vector<Node> out;
    try {
        pugi::xpath_query query(xpath.c_str());
        if (query.return_type() != pugi::xpath_type_node_set) {
            setError(error, "XPath does not select nodes: " + xpath);
            return {};
        }
        pugi::xpath_node_set found = query.evaluate_node_set(context);
        found.sort();
        // Detached nodes are found only from a detached context. The store is the
        // document's first child, so in document order its nodes come before the
        // tree's and the costly test stops at the first tree node.
        bool pastStore = isDetached(context) || !isStore(context.root().first_child());
        for (const pugi::xpath_node& hit : found) {
            if (hit.attribute()) {
                setError(error, "XPath selects attributes, not nodes: " + xpath);
                return {};
            }
            pugi::xml_node node = hit.node();
            if (isStore(node)) continue;
            if (!pastStore && node.type() != pugi::node_document) {
                if (isDetached(node)) continue;
                pastStore = true;
            }
            out.push_back(Node(node.internal_object()));
        }
    } catch (const pugi::xpath_exception& e) {
        setError(error, "XPath error at offset " + std::to_string(e.result().offset) + ": " + e.what() +
                            " in " + xpath);
        return {};
    } catch (const std::exception& e) {
        setError(error, std::string("XPath failed: ") + e.what());
        return {};
    }
    setError(error, {});
    return out;
}

Node Node::selectSingleNode(const std::string& xpath, std::string* error) const
{
    std::vector<Node> found = selectNodes(xpath, error);
    return found.empty() ? Node() : found.front();
}

}  // namespace orvane::xml
