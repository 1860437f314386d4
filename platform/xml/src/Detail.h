// Helpers shared by Node and Document.
//
// Detached nodes live in a nameless element under the document node, so that
// moves keep a node's identity (the XML library moves only within one document)
// and removed nodes stay valid. Everything visible skips that element.
#pragma once

#include <string>

#include <pugixml.hpp>

namespace orvane::xml::detail {

inline bool isNameStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

// Names that would serialise as broken markup are refused.
inline bool isValidName(const std::string& name)
{
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name[0]))) return false;
    for (unsigned char c : name) {
        if (!isNameStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
    }
    return true;
}

inline pugi::xml_node toPugi(void* handle)
{
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(handle));
}

// No parsed or created element has an empty name, so that marks the store.
inline bool isStore(pugi::xml_node node)
{
    return node.type() == pugi::node_element && *node.name() == 0 && node.parent() &&
           node.parent().type() == pugi::node_document;
}

// True for the store and everything detached inside it.
inline bool isDetached(pugi::xml_node node)
{
    for (; node && node.parent(); node = node.parent()) {
        if (isStore(node)) return true;
    }
    return false;
}

// Document order within `top`'s subtree, by loops rather than recursion so that
// deep documents cannot exhaust the stack.
inline pugi::xml_node afterSubtree(pugi::xml_node node, pugi::xml_node top)
{
    for (; node && node != top; node = node.parent()) {
        if (node.next_sibling()) return node.next_sibling();
    }
    return {};
}

inline pugi::xml_node nextInTree(pugi::xml_node node, pugi::xml_node top)
{
    return node.first_child() ? node.first_child() : afterSubtree(node, top);
}

// The store of the node's document, created on first use (kept first so it is found at once).
inline pugi::xml_node storeOf(pugi::xml_node node)
{
    pugi::xml_node root = node.root();
    if (!root) return {};
    pugi::xml_node first = root.first_child();
    if (isStore(first)) return first;
    return root.prepend_child(pugi::node_element);
}

}  // namespace orvane::xml::detail
