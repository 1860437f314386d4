// Freeing item trees bottom-up, children before their parent.
#pragma once

#include "UsbItem.h"

namespace orvane {

// Frees `root` and every item below it, each once; iterative, so a run of a
// million SOFs needs no deep stack.
void FreeItemTree(UsbItem* root);
// Frees the children of `root` and their trees, and empties its list.
void FreeChildren(UsbItem* root);

}  // namespace orvane
