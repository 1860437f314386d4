// The packet list's row index: the shown item tree as numbered rows, for a
// list that asks for rows on demand. Top-level items sit in blocks of 500
// whose row counts add up in a Fenwick tree, so a block's first row, the block
// of a row and the shift after an expansion cost the logarithm of the block
// count; records find their block through running bounds of the blocks'
// records. An expanded item's descendant row count is kept once computed, so
// finding, expanding and collapsing a row cost the path to it and the toggled
// subtree, never the whole capture.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "UsbItem.h"

namespace orvane::app {

class CPacketListRows {
public:
    static constexpr uint32_t kBlockItems = 500;
    static constexpr uint64_t kPushIntervalMs = 100;

    // Rows [first, first + removed) went away and then rows [first, first +
    // inserted) came, for a model to announce.
    struct RowChange {
        int first = -1;
        int removed = 0;
        int inserted = 0;
        int Delta() const { return inserted - removed; }
    };

    CPacketListRows();
    CPacketListRows(const CPacketListRows&) = delete;
    CPacketListRows& operator=(const CPacketListRows&) = delete;

    // Null: no tree. Follow with RebuildRows.
    void SetRoot(UsbItem* root);
    UsbItem* Root() const { return root_; }

    // Worker thread: takes a finished top-level item into the root's children
    // and a block. The listener then hears the row count, at most every 100 ms.
    void AppendItem(UsbItem* item) { AppendItems(&item, 1); }
    // Several in order, under one hold of the lock.
    void AppendItems(UsbItem* const* items, size_t count);
    // Called outside the lock on the appending thread.
    void SetRowCountListener(std::function<void(int)> listener) { listener_ = std::move(listener); }
    // Milliseconds of a monotonic clock, for the append throttle.
    void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }

    // Blocks anew from the root's children; answers the row count.
    int RebuildRows();
    int RowCount() const;
    void ClearRowCaches();

    // Null for a row outside [0, RowCount()).
    UsbItem* ItemAtRow(int row);
    // Tree depth of the row (1 top level); 0 without a row.
    int DepthOfRow(int row);
    // Row of the row's parent in the shown tree; -1 for a top-level row.
    int ParentRow(int row);
    // The row showing the record's packet, the collapsed row holding it, or -1
    // when a hidden item holds it or no item does.
    int RowOfRecord(uint32_t record);
    // RowOfRecord of each record of an ascending list, in one pass over the
    // blocks; answers are not cached.
    std::vector<int> RowsOfRecords(const std::vector<uint32_t>& records);
    // Moves whenever rows already given out may have changed (not on appends).
    uint64_t Generation() const { return generation_.load(std::memory_order_relaxed); }

    // Nothing for a row without an item (first -1).
    RowChange ToggleExpand(int row);
    // Expands or collapses the whole top-level item holding the row; `select`
    // receives the row to select (-1 when it ends expanded with children).
    RowChange ToggleSubtree(int row, int* select = nullptr);
    // Expands (or collapses) every item of the tree and rebuilds the rows;
    // answers the row count.
    int ExpandAll(bool expand);
    // Expands every ancestor of `item` below `top`; false when `item` is not below `top`.
    bool RevealItem(UsbItem* top, UsbItem* item, RowChange* change = nullptr);

    size_t TopLevelCount() const;
    UsbItem* TopLevelAt(size_t index) const;

    static UsbItem* LastLeaf(UsbItem* item);
    // The lowest and highest record of the item's leaves, whatever the order of its children.
    uint32_t FirstRecordOf(UsbItem* item) const;
    uint32_t LastRecordOf(UsbItem* item) const;
    static bool Shown(const UsbItem* item) { return (item->flags & (ItemHiddenByFilter | ItemHiddenByFilterBar)) == 0; }
    static bool HasChildren(const UsbItem* item) { return !item->children.empty(); }
    static bool Expanded(const UsbItem* item) { return (item->flags & ItemExpanded) != 0; }

    // First row of every block of top-level items.
    std::vector<int> BlockFirstRows() const;
    // For a walk that must not hold the lock while it works (the worker keeps
    // appending): the block count, and one block's items and record bounds
    // copied under the lock. False past the last block.
    size_t BlockCount() const;
    bool CopyBlock(size_t block, std::vector<UsbItem*>& items, uint32_t* firstRecord, uint32_t* lastRecord) const;
    // The row that shows `item` itself, or -1 when it has none (hidden, or
    // inside a collapsed item).
    int RowOfItem(UsbItem* item);

    // Bytes of the index itself (blocks, counts, row window, caches); the
    // items are the document's.
    size_t IndexBytes() const;
    // The part of them taken from the item pool (the blocks of top-level items).
    size_t PoolBytes() const;

    // Items touched by walks since construction: lets a test see that work
    // grows with what changed, not with the capture.
    uint64_t VisitCount() const { return visits_; }

private:
    struct RowBlock {
        // From the item pool: the parse's hand-off allocates nothing from the
        // heap, whose growth would wait on the pool's page population.
        UsbItemList items;
        int rows = 0;              // rows its items make
        uint32_t firstRecord = 0;  // smallest first record: parsed items may come out of order
        uint32_t lastRecord = 0;
    };
    // Pool bytes of the blocks' item lists; the caller holds lock_.
    size_t BlockBytesLocked() const;
    // Descendant rows of an expanded item; with many children also the row
    // offset of every kChunk-th child, so a seek skips runs of children.
    struct Count {
        uint32_t rows = 0;
        std::vector<uint32_t> chunk;
    };
    static constexpr uint32_t kChunk = 512;
    // A subtree counted in fewer visits is counted again when asked: keeping
    // its count would cost more memory than the walk costs time.
    static constexpr uint64_t kCountKeptFrom = 64;
    struct Step {
        UsbItem* item;
        int row;
        size_t index;  // among the top level, or in the parent's children
    };

    void AppendToBlocks(UsbItem* item, int rows);
    uint32_t Descendants(UsbItem* item);
    uint32_t Rows(UsbItem* item) { return Shown(item) ? 1 + Descendants(item) : 0; }
    UsbItem* TopAt(size_t index) const { return blocks_[index / kBlockItems].items[index % kBlockItems]; }
    size_t TopCount() const;
    int FirstRow(size_t block) const;
    int BlockEndRow(size_t block) const { return FirstRow(block + 1); }
    // The block that holds the row; the row must lie in [0, rowCount_).
    size_t BlockOfRow(int row) const;
    void AddBlockRows(size_t block, int delta);
    // Calls visit(block index) for each block that may hold the record, in
    // order, until it answers true.
    template <class Visit>
    void ForBlocksHolding(uint32_t record, Visit visit);
    bool Seek(int row, std::vector<Step>& path);
    bool Advance(std::vector<Step>& path);
    void Materialise(int row);
    int MatchRecord(UsbItem* item, int row, uint32_t record);
    int RowInBlock(size_t block, uint32_t record);
    bool ContainsLeaf(UsbItem* item, uint32_t record);
    // Calls found(r) for each record r of the ascending [first, last) that a
    // leaf of the item holds. Children in record order are halved over, so a
    // record costs the logarithm of each level's children, not their count.
    template <class Found>
    void FindLeaves(UsbItem* item, const uint32_t* first, const uint32_t* last, Found found);
    // The lowest and highest record of an item's leaves. Children mostly come
    // in record order, and then the item's own record and its last leaf's are
    // the bounds; an item whose children do not (a phase kept newest first,
    // or children whose leaves overlap) has its bounds noted when it enters
    // the index, and is marked ItemOutOfOrder.
    struct Span {
        uint32_t first;
        uint32_t last;
    };
    Span Bounds(UsbItem* item) const;
    // Inline: asked of every item a walk for records passes.
    uint32_t FirstBound(UsbItem* item) const
    {
        return item->flags & ItemOutOfOrder ? Bounds(item).first : item->firstRecord;
    }
    bool InRange(UsbItem* item, uint32_t record) const;
    // Walks the subtree once and notes the items whose leaves the cheap bounds
    // miss; answers the item's span, and in `lastLeaf` its last leaf's record.
    Span Measure(UsbItem* item, uint32_t* lastLeaf);
    void AdjustAncestors(const std::vector<Step>& path, int delta);
    // Rows after the row moved by delta: the block holding it grew or shrank.
    void ShiftBlocks(int row, int delta);
    int RowOfTop(UsbItem* top);
    void ClearCachesLocked();

    mutable std::mutex lock_;
    UsbItem* root_ = nullptr;
    std::vector<RowBlock> blocks_;
    // Fenwick tree of the blocks' row counts, 1-based.
    std::vector<int> blockRows_{0};
    // Highest last record of the blocks up to each one and lowest first
    // record from each one on: both never fall, so they can be searched.
    std::vector<uint32_t> lastUpTo_;
    std::vector<uint32_t> firstFrom_;
    int rowCount_ = 0;
    std::unordered_map<const UsbItem*, Count> counts_;
    // Bounds of the items marked ItemOutOfOrder; empty for most trees.
    std::unordered_map<const UsbItem*, Span> spans_;
    // The materialised rows [windowFirst_, windowFirst_ + window_.size()).
    std::vector<UsbItem*> window_;
    std::vector<uint8_t> windowDepth_;
    std::vector<int> windowParent_;
    int windowFirst_ = 0;
    std::unordered_map<uint32_t, int> recordRows_;
    std::vector<Step> path_;

    std::function<void(int)> listener_;
    std::function<uint64_t()> clock_;
    uint64_t lastPush_ = 0;
    uint64_t visits_ = 0;
    std::atomic<uint64_t> generation_{0};
};

}  // namespace orvane::app
