#include "ItemTree.h"

#include <utility>
#include <vector>

namespace orvane {

void FreeChildren(UsbItem* root) {
    if (!root) return;
    std::vector<std::pair<UsbItem*, uint32_t>> stack;
    stack.emplace_back(root, 0);
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next < node->children.size()) {
            UsbItem* child = node->children[next++];
            stack.emplace_back(child, 0);
            continue;
        }
        UsbItem* done = node;
        stack.pop_back();
        if (done != root) delete done;
    }
    root->children.clear();
}

void FreeItemTree(UsbItem* root) {
    if (!root) return;
    FreeChildren(root);
    delete root;
}

}  // namespace orvane
