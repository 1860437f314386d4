// Freeing item trees bottom-up, and the sink that grows one.
#pragma once

#include "IDecode.h"
#include "UsbItem.h"

namespace orvane {

// Frees every item below `root`, children before parents, each once;
// iterative, so a run of a million SOFs needs no deep stack. The root and its
// own child list are left alone.
void FreeDescendants(UsbItem* root);
// Frees the children of `root` and their trees, and empties its list.
void FreeChildren(UsbItem* root);
// Frees `root` and every item below it.
void FreeItemTree(UsbItem* root);
// Frees what the transfer level made under `root` (control transfers,
// class-level items, the SOF runs the decoder manager gathered) and empties
// its list; the transaction-level items met there belong to the other tree.
// Free it before the transaction level: its nodes point into it.
void FreeTransferLevel(UsbItem* root);
// Frees one item handed to the transfer level as FreeTransferLevel frees each
// of its children.
void FreeTransferItem(UsbItem* top);

// A sink that appends every item handed to it to one root.
class AppendingSink : public IProgress {
public:
    explicit AppendingSink(UsbItem& root) : root_(root) {}
    int32_t OnItem(UsbItem* item) override {
        root_.Append(item);
        return 1;
    }
    int32_t OnProgress(float) override { return 1; }
    int32_t OnFinish() override { return 1; }
    int32_t Reserved() override { return 0; }

private:
    UsbItem& root_;
};

}  // namespace orvane
