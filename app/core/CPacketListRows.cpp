#include "CPacketListRows.h"

#include <algorithm>
#include <time.h>

namespace orvane::app {

namespace {

constexpr int kNotFound = -2;
// Rows materialised around an asked row: a screenful either way and then some.
constexpr int kWindowBehind = 200;
constexpr size_t kWindowRows = 1200;

// A tick count: read for every appended item, so the cheap coarse clock,
// whose few milliseconds of granularity the 100 ms throttle does not mind.
uint64_t SteadyMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

}  // namespace

CPacketListRows::CPacketListRows() : clock_(SteadyMs) {}

void CPacketListRows::SetRoot(UsbItem* root)
{
    std::lock_guard<std::mutex> guard(lock_);
    root_ = root;
}

UsbItem* CPacketListRows::LastLeaf(UsbItem* item)
{
    while (item && !item->children.empty()) item = item->children.back();
    return item;
}

CPacketListRows::Span CPacketListRows::Bounds(UsbItem* item) const
{
    if (item->flags & ItemOutOfOrder) {
        auto found = spans_.find(item);
        if (found != spans_.end()) return found->second;
    }
    return {item->firstRecord, LastLeaf(item)->firstRecord};
}

uint32_t CPacketListRows::FirstRecordOf(UsbItem* item) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return FirstBound(item);
}

uint32_t CPacketListRows::LastRecordOf(UsbItem* item) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return Bounds(item).last;
}

bool CPacketListRows::InRange(UsbItem* item, uint32_t record) const
{
    if (item->flags & ItemOutOfOrder) {
        const Span span = Bounds(item);
        return span.first <= record && record <= span.last;
    }
    // The walk to the last leaf only when the first record does not already rule it out.
    return item->firstRecord <= record && record <= LastLeaf(item)->firstRecord;
}

CPacketListRows::Span CPacketListRows::Measure(UsbItem* item, uint32_t* lastLeaf)
{
    ++visits_;
    if (item->flags & ItemOutOfOrder) {
        item->flags &= uint8_t(~ItemOutOfOrder);
        spans_.erase(item);
    }
    if (item->children.empty()) {
        *lastLeaf = item->firstRecord;
        return {item->firstRecord, item->firstRecord};
    }
    Span span{UINT32_MAX, 0};
    // Children whose leaves come in separate ascending runs are searched by
    // halving; any overlap or step back and they are all looked at.
    bool ordered = true;
    for (size_t i = 0; i < item->children.size(); ++i) {
        UsbItem* child = item->children[uint32_t(i)];
        const Span c = Measure(child, lastLeaf);
        // Halving goes by each child's first bound, which may lie before its
        // first leaf: that bound must come after the leaves before it.
        if (i > 0 && FirstBound(child) <= span.last) ordered = false;
        span.first = std::min(span.first, c.first);
        span.last = std::max(span.last, c.last);
    }
    if (!ordered || span.first < item->firstRecord || span.last > *lastLeaf) {
        item->flags |= ItemOutOfOrder;
        spans_[item] = span;
    }
    return span;
}

size_t CPacketListRows::TopCount() const
{
    return blocks_.empty() ? 0 : (blocks_.size() - 1) * kBlockItems + blocks_.back().items.size();
}

int CPacketListRows::FirstRow(size_t block) const
{
    int sum = 0;
    for (size_t i = std::min(block, blocks_.size()); i > 0; i &= i - 1) sum += blockRows_[i];
    return sum;
}

size_t CPacketListRows::BlockOfRow(int row) const
{
    // Down the tree: the most blocks whose rows all lie before the row.
    size_t at = 0;
    size_t step = 1;
    while (step * 2 <= blocks_.size()) step *= 2;
    for (; step > 0; step /= 2) {
        if (at + step <= blocks_.size() && blockRows_[at + step] <= row) {
            at += step;
            row -= blockRows_[at];
        }
    }
    return at;
}

void CPacketListRows::AddBlockRows(size_t block, int delta)
{
    blocks_[block].rows += delta;
    for (size_t i = block + 1; i < blockRows_.size(); i += i & (~i + 1)) blockRows_[i] += delta;
}

template <class Visit>
void CPacketListRows::ForBlocksHolding(uint32_t record, Visit visit)
{
    // Blocks before the first whose running last record reaches the record
    // end before it; the scan ends where every later block starts after it.
    size_t b = size_t(std::lower_bound(lastUpTo_.begin(), lastUpTo_.end(), record) - lastUpTo_.begin());
    for (; b < blocks_.size() && firstFrom_[b] <= record; ++b) {
        ++visits_;
        const RowBlock& block = blocks_[b];
        if (record < block.firstRecord || record > block.lastRecord) continue;
        if (visit(b)) return;
    }
}

size_t CPacketListRows::TopLevelCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return TopCount();
}

UsbItem* CPacketListRows::TopLevelAt(size_t index) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return index < TopCount() ? TopAt(index) : nullptr;
}

std::vector<int> CPacketListRows::BlockFirstRows() const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int> rows;
    for (size_t b = 0; b < blocks_.size(); ++b) rows.push_back(FirstRow(b));
    return rows;
}

size_t CPacketListRows::BlockCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return blocks_.size();
}

bool CPacketListRows::CopyBlock(size_t block, std::vector<UsbItem*>& items, uint32_t* firstRecord,
                                uint32_t* lastRecord) const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (block >= blocks_.size()) return false;
    const RowBlock& b = blocks_[block];
    items.assign(b.items.begin(), b.items.end());
    *firstRecord = b.firstRecord;
    *lastRecord = b.lastRecord;
    return true;
}

int CPacketListRows::RowOfItem(UsbItem* item)
{
    if (!item) return -1;
    // The row of any of its leaves is the item's own or one below it.
    UsbItem* leaf = item;
    while (!leaf->children.empty()) leaf = leaf->children.front();
    for (int row = RowOfRecord(leaf->firstRecord); row >= 0; row = ParentRow(row))
        if (ItemAtRow(row) == item) return row;
    return -1;
}

int CPacketListRows::RowCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return rowCount_;
}

void CPacketListRows::AppendItems(UsbItem* const* items, size_t n)
{
    bool push = false;
    int count = 0;
    {
        // The root's list and the row count are read by the UI thread: both
        // change only under the lock, together with the blocks.
        std::lock_guard<std::mutex> guard(lock_);
        if (!root_) return;
        for (size_t i = 0; i < n; ++i) {
            UsbItem* item = items[i];
            if (!item) continue;
            item->flags &= uint8_t(~ItemExpanded);
            root_->Append(item);
            const int rows = Shown(item) ? 1 : 0;
            rowCount_ += rows;
            AppendToBlocks(item, rows);
        }
        count = rowCount_;
        uint64_t now = clock_();
        if (now - lastPush_ > kPushIntervalMs) {
            lastPush_ = now;
            push = true;
        }
    }
    if (push && listener_) listener_(count);
}

void CPacketListRows::AppendToBlocks(UsbItem* item, int rows)
{
    uint32_t lastLeaf = 0;
    const Span span = Measure(item, &lastLeaf);
    if (blocks_.empty() || blocks_.back().items.size() >= kBlockItems) {
        RowBlock block;
        block.items.reserve(kBlockItems);
        block.firstRecord = block.lastRecord = span.first;
        blocks_.push_back(std::move(block));
        // The new node covers the blocks (i - lowbit(i), i], all before it but itself.
        const size_t i = blocks_.size();
        blockRows_.push_back(FirstRow(i - 1) - FirstRow(i - (i & (~i + 1))));
        lastUpTo_.push_back(lastUpTo_.empty() ? span.first : std::max(lastUpTo_.back(), span.first));
        firstFrom_.push_back(span.first);
    }
    RowBlock& block = blocks_.back();
    block.items.push_back(item);
    block.firstRecord = std::min(block.firstRecord, span.first);
    block.lastRecord = std::max(block.lastRecord, span.last);
    lastUpTo_.back() = std::max(lastUpTo_.back(), block.lastRecord);
    // An item earlier than blocks before it lowers their bound too; items
    // come nearly in order, so this seldom walks back more than a block.
    for (size_t b = blocks_.size(); b > 0 && firstFrom_[b - 1] > block.firstRecord; --b)
        firstFrom_[b - 1] = block.firstRecord;
    if (rows) AddBlockRows(blocks_.size() - 1, rows);
}

int CPacketListRows::RebuildRows()
{
    std::lock_guard<std::mutex> guard(lock_);
    blocks_.clear();
    blockRows_.assign(1, 0);
    lastUpTo_.clear();
    firstFrom_.clear();
    counts_.clear();
    spans_.clear();
    rowCount_ = 0;
    ClearCachesLocked();
    if (!root_) return 0;
    for (UsbItem* item : root_->children) {
        const int rows = int(Rows(item));
        AppendToBlocks(item, rows);
        rowCount_ += rows;
    }
    return rowCount_;
}

void CPacketListRows::ClearRowCaches()
{
    std::lock_guard<std::mutex> guard(lock_);
    ClearCachesLocked();
}

void CPacketListRows::ClearCachesLocked()
{
    generation_.fetch_add(1, std::memory_order_relaxed);
    window_.clear();
    windowDepth_.clear();
    windowParent_.clear();
    windowFirst_ = 0;
    recordRows_.clear();
}

uint32_t CPacketListRows::Descendants(UsbItem* item)
{
    if (!Expanded(item) || !HasChildren(item)) return 0;
    auto found = counts_.find(item);
    if (found != counts_.end()) return found->second.rows;
    const uint64_t visitsBefore = visits_;
    Count count;
    const UsbItemList& kids = item->children;
    const uint32_t n = kids.size();
    const bool chunked = n > kChunk;
    if (chunked) count.chunk.reserve(n / kChunk + 1);
    uint32_t total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (chunked && i % kChunk == 0) count.chunk.push_back(total);
        UsbItem* child = kids[i];
        ++visits_;
        if (Shown(child)) total += 1 + Descendants(child);
    }
    count.rows = total;
    if (chunked || visits_ - visitsBefore >= kCountKeptFrom) counts_.emplace(item, std::move(count));
    return total;
}

bool CPacketListRows::Seek(int row, std::vector<Step>& path)
{
    path.clear();
    if (row < 0 || row >= rowCount_ || blocks_.empty()) return false;
    const size_t b = BlockOfRow(row);
    UsbItem* item = nullptr;
    int counter = FirstRow(b);
    size_t index = 0;
    const auto& items = blocks_[b].items;
    for (size_t i = 0; i < items.size(); ++i) {
        ++visits_;
        int n = int(Rows(items[i]));
        if (row < counter + n) {
            item = items[i];
            index = b * kBlockItems + i;
            break;
        }
        counter += n;
    }
    while (item) {
        path.push_back({item, counter, index});
        if (row == counter) return true;
        // The row lies among this item's descendants.
        const UsbItemList& kids = item->children;
        int c = counter + 1;
        size_t start = 0;
        Descendants(item);
        auto found = counts_.find(item);
        if (found != counts_.end() && !found->second.chunk.empty()) {
            const auto& chunk = found->second.chunk;
            size_t k = size_t(std::upper_bound(chunk.begin(), chunk.end(), uint32_t(row - c)) - chunk.begin()) - 1;
            start = k * kChunk;
            c += int(chunk[k]);
        }
        UsbItem* next = nullptr;
        for (size_t i = start; i < kids.size(); ++i) {
            ++visits_;
            int n = int(Rows(kids[i]));
            if (row < c + n) {
                next = kids[i];
                index = i;
                counter = c;
                break;
            }
            c += n;
        }
        item = next;
    }
    path.clear();
    return false;
}

bool CPacketListRows::Advance(std::vector<Step>& path)
{
    const Step current = path.back();
    const int nextRow = current.row + 1;
    if (Expanded(current.item)) {
        const UsbItemList& kids = current.item->children;
        for (size_t i = 0; i < kids.size(); ++i) {
            ++visits_;
            if (Shown(kids[i])) {
                path.push_back({kids[i], nextRow, i});
                return true;
            }
        }
    }
    while (!path.empty()) {
        const Step done = path.back();
        path.pop_back();
        if (path.empty()) {
            const size_t total = TopCount();
            for (size_t i = done.index + 1; i < total;) {
                size_t b = i / kBlockItems;
                // A block whose items are all hidden makes no rows: skip it whole.
                if (i % kBlockItems == 0 && blocks_[b].rows == 0) {
                    i += kBlockItems;
                    continue;
                }
                ++visits_;
                UsbItem* top = TopAt(i);
                if (Shown(top)) {
                    path.push_back({top, nextRow, i});
                    return true;
                }
                ++i;
            }
            return false;
        }
        const UsbItemList& siblings = path.back().item->children;
        for (size_t i = done.index + 1; i < siblings.size(); ++i) {
            ++visits_;
            if (Shown(siblings[i])) {
                path.push_back({siblings[i], nextRow, i});
                return true;
            }
        }
    }
    return false;
}

void CPacketListRows::Materialise(int row)
{
    window_.clear();
    windowDepth_.clear();
    windowParent_.clear();
    int start = std::max(0, row - kWindowBehind);
    if (!Seek(start, path_)) return;
    windowFirst_ = start;
    do {
        const Step& step = path_.back();
        uint8_t depth = uint8_t(std::min<size_t>(path_.size(), 255));
        step.item->depth = depth;
        window_.push_back(step.item);
        windowDepth_.push_back(depth);
        windowParent_.push_back(path_.size() > 1 ? path_[path_.size() - 2].row : -1);
    } while (window_.size() < kWindowRows && windowFirst_ + int(window_.size()) < rowCount_ && Advance(path_));
}

UsbItem* CPacketListRows::ItemAtRow(int row)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (row < 0 || row >= rowCount_) return nullptr;
    if (row < windowFirst_ || row >= windowFirst_ + int(window_.size())) Materialise(row);
    if (row < windowFirst_ || row >= windowFirst_ + int(window_.size())) return nullptr;
    return window_[size_t(row - windowFirst_)];
}

int CPacketListRows::DepthOfRow(int row)
{
    if (!ItemAtRow(row)) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    return row >= windowFirst_ && row < windowFirst_ + int(window_.size()) ? windowDepth_[size_t(row - windowFirst_)] : 0;
}

int CPacketListRows::ParentRow(int row)
{
    if (!ItemAtRow(row)) return -1;
    std::lock_guard<std::mutex> guard(lock_);
    return row >= windowFirst_ && row < windowFirst_ + int(window_.size()) ? windowParent_[size_t(row - windowFirst_)] : -1;
}

template <class Found>
void CPacketListRows::FindLeaves(UsbItem* item, const uint32_t* first, const uint32_t* last, Found found)
{
    ++visits_;
    const UsbItemList& kids = item->children;
    if (kids.empty()) {
        const uint32_t record = item->firstRecord;
        for (const uint32_t* r = std::lower_bound(first, last, record); r != last && *r == record; ++r) found(r);
        return;
    }
    if (item->flags & ItemOutOfOrder) {
        for (UsbItem* child : kids) {
            ++visits_;
            const Span span = Bounds(child);
            const uint32_t* lo = std::lower_bound(first, last, span.first);
            const uint32_t* hi = std::upper_bound(lo, last, span.last);
            if (lo != hi) FindLeaves(child, lo, hi, found);
        }
        return;
    }
    // Children in record order: the one that may hold a record is the last
    // starting at or before it, and the next record's lies no earlier.
    size_t from = 0;
    for (const uint32_t* r = first; r != last && from < kids.size();) {
        size_t lo = from, hi = kids.size();
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            ++visits_;
            if (FirstBound(kids[uint32_t(mid)]) <= *r) lo = mid + 1; else hi = mid;
        }
        if (lo == from) {
            // Before the next child: not a leaf of this item.
            r = std::lower_bound(r, last, FirstBound(kids[uint32_t(from)]));
            continue;
        }
        UsbItem* child = kids[uint32_t(lo - 1)];
        const uint32_t* end = std::upper_bound(r, last, Bounds(child).last);
        if (end != r) FindLeaves(child, r, end, found);
        r = end;
        from = lo;
    }
}

bool CPacketListRows::ContainsLeaf(UsbItem* item, uint32_t record)
{
    bool hit = false;
    FindLeaves(item, &record, &record + 1, [&](const uint32_t*) { hit = true; });
    return hit;
}

// `item` is shown at `row`: the row that shows `record` inside it, or kNotFound.
int CPacketListRows::MatchRecord(UsbItem* item, int row, uint32_t record)
{
    ++visits_;
    if (!HasChildren(item)) return item->firstRecord == record ? row : kNotFound;
    if (!Expanded(item)) return ContainsLeaf(item, record) ? row : kNotFound;
    const UsbItemList& kids = item->children;
    const int base = row + 1;
    size_t start = 0;
    int startRow = base;
    Descendants(item);
    auto found = counts_.find(item);
    if (found != counts_.end() && !found->second.chunk.empty()) {
        // Children come in record order: start at the chunk that should hold it.
        const auto& chunk = found->second.chunk;
        size_t lo = 0, hi = chunk.size();
        while (hi - lo > 1) {
            size_t mid = (lo + hi) / 2;
            if (kids[uint32_t(mid * kChunk)]->firstRecord <= record) lo = mid; else hi = mid;
        }
        start = lo * kChunk;
        startRow = base + int(chunk[lo]);
    }
    // A second pass from the first child covers children out of record order.
    for (int pass = 0; pass < 2; ++pass) {
        size_t from = pass == 0 ? start : 0;
        size_t to = pass == 0 ? kids.size() : start;
        int c = pass == 0 ? startRow : base;
        for (size_t i = from; i < to; ++i) {
            UsbItem* child = kids[uint32_t(i)];
            ++visits_;
            if (Shown(child)) {
                int n = 1 + int(Descendants(child));
                if (InRange(child, record)) {
                    int r = MatchRecord(child, c, record);
                    if (r != kNotFound) return r;
                }
                c += n;
            } else if (InRange(child, record) && ContainsLeaf(child, record)) {
                return row;  // a hidden child's packets belong to the row above it
            }
        }
    }
    return kNotFound;
}

int CPacketListRows::RowOfRecord(uint32_t record)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto cached = recordRows_.find(record);
    if (cached != recordRows_.end()) return cached->second;
    int found = -1;
    ForBlocksHolding(record, [&](size_t b) { return (found = RowInBlock(b, record)) >= 0; });
    // Not cached when not found: the record may yet arrive with a later item.
    if (found >= 0) recordRows_[record] = found;
    return found;
}

int CPacketListRows::RowInBlock(size_t b, uint32_t record)
{
    int counter = FirstRow(b);
    for (UsbItem* item : blocks_[b].items) {
        ++visits_;
        int n = int(Rows(item));
        if (n && InRange(item, record)) {
            int r = MatchRecord(item, counter, record);
            if (r >= 0) return r;
        }
        counter += n;
    }
    return -1;
}

std::vector<int> CPacketListRows::RowsOfRecords(const std::vector<uint32_t>& records)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int> rows(records.size(), -1);
    if (records.empty()) return rows;
    // Only the blocks that may hold one of them, found as ForBlocksHolding
    // finds them: a few records cost a search, not a walk over every block.
    size_t b = size_t(std::lower_bound(lastUpTo_.begin(), lastUpTo_.end(), records.front()) - lastUpTo_.begin());
    for (; b < blocks_.size() && firstFrom_[b] <= records.back(); ++b) {
        const RowBlock& block = blocks_[b];
        const auto lo = std::lower_bound(records.begin(), records.end(), block.firstRecord);
        const auto hi = std::upper_bound(lo, records.end(), block.lastRecord);
        if (lo == hi) continue;
        // One walk through the block serves all its records: items come in
        // record order, so the next record to place only moves forward.
        int counter = FirstRow(b);
        auto next = lo;
        uint32_t previousFirst = 0;
        for (UsbItem* item : block.items) {
            // The last bound costs a walk to the last leaf: taken only when needed.
            const uint32_t first = FirstBound(item);
            // Past the block's last record: what is left unplaced is searched below.
            if (next == hi && first >= previousFirst) break;
            ++visits_;
            const int n = int(Rows(item));
            if (first < previousFirst) next = std::lower_bound(lo, hi, first);
            previousFirst = first;
            while (next != hi && *next < first) ++next;
            // Most items hold none of the records: no search begins in them.
            const uint32_t last = n && next != hi ? Bounds(item).last : 0;
            if (n && next != hi && *next <= last) {
                if (HasChildren(item) && !Expanded(item)) {
                    // Every leaf of a closed item shows on its row: all its
                    // records found in one pass down its children.
                    const uint32_t* base = records.data();
                    const uint32_t* to = base + (std::upper_bound(next, hi, last) - records.begin());
                    FindLeaves(item, base + (next - records.begin()), to,
                               [at = counter, base, placed = rows.data()](const uint32_t* r) {
                                   int& row = placed[r - base];
                                   if (row < 0) row = at;
                               });
                } else {
                    for (auto r = next; r != hi && *r <= last; ++r) {
                        int& row = rows[size_t(r - records.begin())];
                        if (row < 0) row = std::max(-1, MatchRecord(item, counter, *r));
                    }
                }
            }
            counter += n;
        }
        // A record an item out of order passed by gets the full search.
        for (auto r = lo; r != hi; ++r) {
            int& row = rows[size_t(r - records.begin())];
            if (row < 0) row = RowInBlock(b, *r);
        }
    }
    return rows;
}

void CPacketListRows::ShiftBlocks(int row, int delta)
{
    if (!delta || blocks_.empty()) return;
    AddBlockRows(BlockOfRow(row), delta);
}

void CPacketListRows::AdjustAncestors(const std::vector<Step>& path, int delta)
{
    for (size_t j = 0; j + 1 < path.size(); ++j) {
        auto found = counts_.find(path[j].item);
        if (found == counts_.end()) continue;
        Count& count = found->second;
        count.rows = uint32_t(int64_t(count.rows) + delta);
        size_t child = path[j + 1].index;
        for (size_t k = child / kChunk + 1; k < count.chunk.size(); ++k)
            count.chunk[k] = uint32_t(int64_t(count.chunk[k]) + delta);
    }
}

CPacketListRows::RowChange CPacketListRows::ToggleExpand(int row)
{
    std::lock_guard<std::mutex> guard(lock_);
    RowChange change;
    if (!Seek(row, path_)) return change;
    UsbItem* item = path_.back().item;
    change.first = row + 1;
    if (Expanded(item) && HasChildren(item)) {
        change.removed = int(Descendants(item));
        item->flags &= uint8_t(~ItemExpanded);
        counts_.erase(item);
    } else {
        item->flags |= ItemExpanded;
        counts_.erase(item);
        change.inserted = int(Descendants(item));
    }
    AdjustAncestors(path_, change.Delta());
    rowCount_ += change.Delta();
    ShiftBlocks(row, change.Delta());
    ClearCachesLocked();
    return change;
}

CPacketListRows::RowChange CPacketListRows::ToggleSubtree(int row, int* select)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (select) *select = -1;
    RowChange change;
    if (!Seek(row, path_)) return change;
    UsbItem* top = path_.front().item;
    const int topRow = path_.front().row;
    const uint32_t before = Descendants(top);
    const bool expand = !(Expanded(top) && HasChildren(top));
    std::vector<UsbItem*> stack{top};
    while (!stack.empty()) {
        UsbItem* x = stack.back();
        stack.pop_back();
        ++visits_;
        counts_.erase(x);
        if (expand) x->flags |= ItemExpanded; else x->flags &= uint8_t(~ItemExpanded);
        for (UsbItem* child : x->children) stack.push_back(child);
    }
    const uint32_t after = Descendants(top);
    change = {topRow + 1, int(before), int(after)};
    rowCount_ += change.Delta();
    ShiftBlocks(topRow, change.Delta());
    ClearCachesLocked();
    if (select && !(Expanded(top) && HasChildren(top))) *select = topRow;
    return change;
}

int CPacketListRows::ExpandAll(bool expand)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (root_) {
            std::vector<UsbItem*> stack(root_->children.begin(), root_->children.end());
            while (!stack.empty()) {
                UsbItem* x = stack.back();
                stack.pop_back();
                ++visits_;
                if (expand) x->flags |= ItemExpanded; else x->flags &= uint8_t(~ItemExpanded);
                for (UsbItem* child : x->children)
                    if (HasChildren(child)) stack.push_back(child);
            }
        }
    }
    return RebuildRows();
}

size_t CPacketListRows::IndexBytes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    // A hash node holds its value, the next pointer and the cached hash.
    constexpr size_t kNode = 2 * sizeof(void*);
    size_t bytes = blocks_.capacity() * sizeof(RowBlock) + blockRows_.capacity() * sizeof(int) +
                   (lastUpTo_.capacity() + firstFrom_.capacity()) * sizeof(uint32_t);
    bytes += BlockBytesLocked();
    bytes += counts_.bucket_count() * sizeof(void*) + counts_.size() * (sizeof(*counts_.begin()) + kNode);
    for (const auto& entry : counts_) bytes += entry.second.chunk.capacity() * sizeof(uint32_t);
    bytes += window_.capacity() * sizeof(UsbItem*) + windowDepth_.capacity() + windowParent_.capacity() * sizeof(int);
    bytes += recordRows_.bucket_count() * sizeof(void*) + recordRows_.size() * (sizeof(*recordRows_.begin()) + kNode);
    bytes += spans_.bucket_count() * sizeof(void*) + spans_.size() * (sizeof(*spans_.begin()) + kNode);
    bytes += path_.capacity() * sizeof(Step);
    return bytes;
}

size_t CPacketListRows::PoolBytes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return BlockBytesLocked();
}

size_t CPacketListRows::BlockBytesLocked() const
{
    size_t bytes = 0;
    for (const RowBlock& block : blocks_) bytes += UsbItemList::StorageBytes(block.items.capacity());
    return bytes;
}

int CPacketListRows::RowOfTop(UsbItem* top)
{
    auto rowIn = [&](size_t b) {
        int counter = FirstRow(b);
        for (UsbItem* item : blocks_[b].items) {
            ++visits_;
            if (item == top) return Shown(top) ? counter : -1;
            counter += int(Rows(item));
        }
        return -2;
    };
    int row = -2;
    ForBlocksHolding(Bounds(top).first, [&](size_t b) { return (row = rowIn(b)) != -2; });
    // Every block, should the records not say where it is.
    for (size_t b = 0; row == -2 && b < blocks_.size(); ++b) row = rowIn(b);
    return std::max(row, -1);
}

bool CPacketListRows::RevealItem(UsbItem* top, UsbItem* item, RowChange* change)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (change) *change = RowChange();
    if (!top || !item) return false;
    // Depth-first through every child, shown or not; the stack is the path.
    std::vector<std::pair<UsbItem*, uint32_t>> stack{{top, 0}};
    bool found = top == item;
    while (!found && !stack.empty()) {
        auto& [node, next] = stack.back();
        if (next >= node->children.size()) {
            stack.pop_back();
            continue;
        }
        UsbItem* child = node->children[next++];
        ++visits_;
        if (child == item) found = true; else stack.push_back({child, 0});
    }
    if (!found) return false;
    const int topRow = RowOfTop(top);
    const uint32_t before = Descendants(top);
    if (item != top) {
        for (auto& [ancestor, next] : stack) {
            (void)next;
            ancestor->flags |= ItemExpanded;
            counts_.erase(ancestor);
        }
    }
    const uint32_t after = Descendants(top);
    // A hidden top-level item makes no rows, expanded or not.
    if (topRow >= 0 && after != before) {
        RowChange c{topRow + 1, int(before), int(after)};
        rowCount_ += c.Delta();
        ShiftBlocks(topRow, c.Delta());
        if (change) *change = c;
    }
    ClearCachesLocked();
    return true;
}

}  // namespace orvane::app
