// A handle to one node of a Document's tree.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvane::xml {

enum class NodeType {
    Null,
    Document,
    Element,
    Text,
    CData,
    Comment,
    ProcessingInstruction,
    Other,
};

// A cheap copyable handle; the default one is null and every operation on a
// null handle does nothing and answers empty, false or null. A handle stays
// valid while its Document lives and is not reloaded: nodes that are removed
// or replaced are kept detached rather than freed, so old handles never dangle.
class Node {
public:
    Node() = default;

    bool isNull() const { return handle_ == nullptr; }
    explicit operator bool() const { return handle_ != nullptr; }
    bool operator==(const Node&) const = default;

    NodeType type() const;
    // Element name; "#text", "#cdata-section", "#comment", "#document" otherwise.
    std::string name() const;

    // Text content: all descendant text in document order.
    std::string text() const;
    // Replaces the element's children by one text node (or sets a text node's value).
    bool setText(const std::string& text);

    // The node serialised without declaration or indentation.
    std::string xml() const;

    Node parent() const;   // null for the document and for detached nodes
    Node firstChild() const;
    Node nextSibling() const;
    std::vector<Node> childNodes() const;

    // Moves `child` (detached or elsewhere in this document) to the end of this
    // node's children and returns it; a node of another document is copied and
    // the copy is returned. Null when the move would break the tree.
    Node appendChild(Node child);
    // Detaches a direct child and returns it (it can be appended again).
    Node removeChild(Node child);
    // Removes a direct child and frees it with everything under it, for a tree
    // that drops many nodes: handles to any of them must not be used again.
    bool deleteChild(Node child);
    // A detached copy, with attributes; with `deep` also with all descendants.
    Node cloneNode(bool deep) const;

    std::optional<std::string> attribute(const std::string& name) const;
    // Creates the attribute or replaces its value; false for a bad name or a non-element.
    bool setAttribute(const std::string& name, const std::string& value);
    bool removeAttribute(const std::string& name);
    std::vector<std::pair<std::string, std::string>> attributes() const;

    // XPath 1.0 with this node as context. A bad expression, or one that does not
    // select nodes, gives an empty result and the reason in `error`.
    std::vector<Node> selectNodes(const std::string& xpath, std::string* error = nullptr) const;
    Node selectSingleNode(const std::string& xpath, std::string* error = nullptr) const;

private:
    friend class Document;
    explicit Node(void* handle) : handle_(handle) {}

    void* handle_ = nullptr;   // the XML library's node record, opaque here
};

}  // namespace orvane::xml
