// Item trees for the packet list tests, and the list's rows worked out the
// slow, obvious way to compare the row index with.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "IDecode.h"
#include "ItemTree.h"
#include "UsbItem.h"

namespace orvane::testing {

// Owns what hangs below its root.
struct TestTree {
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    TestTree() = default;
    TestTree(const TestTree&) = delete;
    ~TestTree() { FreeChildren(&root); }
};

inline UsbItem* MakeItem(uint16_t type, uint32_t record, uint8_t flags = 0)
{
    auto* item = new UsbItem(type, record);
    item->flags = flags;
    return item;
}

// A transaction with `packets` packet children on consecutive records.
inline UsbItem* MakeTransaction(uint32_t first, uint32_t packets, uint8_t flags = 0)
{
    UsbItem* t = MakeItem(ItemInTransaction, first, flags);
    for (uint32_t i = 0; i < packets; ++i) t->Append(MakeItem(1, first + i));
    return t;
}

inline bool ShownItem(const UsbItem* item) { return (item->flags & (ItemHiddenByFilter | ItemHiddenByFilterBar)) == 0; }

struct FlatRow {
    UsbItem* item;
    int depth;
};

inline void Flatten(UsbItem* item, int depth, std::vector<FlatRow>& rows)
{
    rows.push_back({item, depth});
    if (!(item->flags & ItemExpanded)) return;
    for (UsbItem* child : item->children)
        if (ShownItem(child)) Flatten(child, depth + 1, rows);
}

inline std::vector<FlatRow> FlattenShown(UsbItem* root)
{
    std::vector<FlatRow> rows;
    for (UsbItem* top : root->children)
        if (ShownItem(top)) Flatten(top, 1, rows);
    return rows;
}

// Every item of the tree, shown or not, parents first.
inline void AllItems(UsbItem* item, std::vector<UsbItem*>& out)
{
    for (UsbItem* child : item->children) {
        out.push_back(child);
        AllItems(child, out);
    }
}

// The row of every record, matched at the leaves: a collapsed row answers for
// its whole subtree, a hidden item for its owner (-1 at the top level).
inline void NaiveMatch(UsbItem* item, int& counter, int owner, bool visible, std::vector<int>& out)
{
    if (item->children.empty()) {
        if (item->firstRecord < out.size()) out[item->firstRecord] = visible ? counter : owner;
        if (visible) ++counter;
        return;
    }
    int row = owner;
    bool childrenVisible = false;
    if (visible) {
        row = counter++;
        childrenVisible = (item->flags & ItemExpanded) != 0;
    }
    for (UsbItem* child : item->children) NaiveMatch(child, counter, row, childrenVisible && ShownItem(child), out);
}

inline std::vector<int> NaiveRecordRows(UsbItem* root, uint32_t records)
{
    std::vector<int> out(records, -1);
    int counter = 0;
    for (UsbItem* top : root->children) NaiveMatch(top, counter, -1, ShownItem(top), out);
    return out;
}

// Describes rows from a table; the same bytes for every item.
struct FakeDecode : IDecode {
    std::unordered_map<const UsbItem*, ItemSummary> summaries;
    std::vector<uint8_t> bytes;
    ImageList icons;
    int summarizeCalls = 0;
    const UsbItem* lost = nullptr;  // the item whose data lost payload

    void Release() override {}
    int32_t Summarize(UsbItem* item, ItemSummary* out) override
    {
        ++summarizeCalls;
        auto found = summaries.find(item);
        if (found == summaries.end()) return 0;
        *out = found->second;
        return 1;
    }
    int32_t GetData(UsbItem*, uint8_t* buffer, uint32_t capacity) override
    {
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), std::min<size_t>(capacity, bytes.size()));
        return int32_t(bytes.size());
    }
    int32_t GetDetail(UsbItem*, std::string&) override { return 0; }
    const ImageList* GetImageList(UsbItem*) override { return &icons; }
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override
    {
        if (code == NotifyPayloadLost) return arg && arg == lost ? 1 : 0;
        if (code != NotifyDataLength) return 0;
        *reinterpret_cast<uint32_t*>(param) = uint32_t(bytes.size());
        return 1;
    }
};

}  // namespace orvane::testing
