// An XML document: parsing, serialising and the factory for new nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Node.h"

namespace orvane::xml {

class Document {
public:
    Document();
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Replace the content with a parsed file or text. On failure the previous
    // content stays and lastError() names the fault and its line and column.
    // Only a regular file of at most `maxBytes` bytes is read.
    bool load(const std::string& path, uint64_t maxBytes = UINT64_MAX);
    bool loadXML(const std::string& text);
    // UTF-8 with an XML declaration; false when the file cannot be written.
    bool save(const std::string& path);
    // What save writes; empty without a root element.
    std::string fileText() const;
    std::string xml() const;
    const std::string& lastError() const;

    Node node() const;             // the document node, parent of the root element
    Node documentElement() const;

    // New detached nodes owned by this document; appendChild places them.
    Node createElement(const std::string& name);
    Node createTextNode(const std::string& text);
    // Element (name) or Text (text) only; null for other types.
    Node createNode(NodeType type, const std::string& nameOrText);

    // The same as on node().
    Node firstChild() const { return node().firstChild(); }
    std::vector<Node> childNodes() const { return node().childNodes(); }
    Node appendChild(Node child) { return node().appendChild(child); }
    Node removeChild(Node child) { return node().removeChild(child); }
    std::vector<Node> selectNodes(const std::string& xpath, std::string* error = nullptr) const
    {
        return node().selectNodes(xpath, error);
    }
    Node selectSingleNode(const std::string& xpath, std::string* error = nullptr) const
    {
        return node().selectSingleNode(xpath, error);
    }

private:
    bool parse(const std::string& buffer);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvane::xml
