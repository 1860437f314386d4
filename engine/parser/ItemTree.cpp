#include "ItemTree.h"

#include <utility>
#include <vector>

namespace orvane {

void FreeDescendants(UsbItem* root) {
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
}

void FreeChildren(UsbItem* root) {
    if (!root) return;
    FreeDescendants(root);
    root->children.clear();
}

void FreeItemTree(UsbItem* root) {
    if (!root) return;
    FreeDescendants(root);
    delete root;
}

namespace {

using FreeStack = std::vector<std::pair<UsbItem*, uint32_t>>;

void FreeTransferItem(UsbItem* top, FreeStack& stack) {
    // The SOF runs are the decoder manager's; their SOFs are not.
    if (top->type == ItemSofGroup) {
        top->children.clear();
        delete top;
        return;
    }
    if (top->type < ItemControlTransfer) return;
    stack.emplace_back(top, 0);
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next < node->children.size()) {
            UsbItem* child = node->children[next++];
            if (child->type >= ItemControlTransfer) stack.emplace_back(child, 0);
            continue;
        }
        UsbItem* done = node;
        stack.pop_back();
        done->children.clear();
        delete done;
    }
}

}  // namespace

void FreeTransferItem(UsbItem* top) {
    FreeStack stack;
    if (top) FreeTransferItem(top, stack);
}

void FreeTransferLevel(UsbItem* root) {
    if (!root) return;
    FreeStack stack;
    for (UsbItem* top : root->children) FreeTransferItem(top, stack);
    root->children.clear();
}

}  // namespace orvane
