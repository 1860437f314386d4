// One node of the item trees: packets, transactions, grouped runs, control
// transfers and class-level items.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>

namespace orvane {

enum ItemType : uint16_t {
    ItemBusEvent = 0,            // also a packet whose PID check failed
    // 1-15: a single packet of that PID
    ItemInTransaction = 16,
    ItemOutTransaction = 17,
    ItemSetupTransaction = 18,
    ItemPingTransaction = 19,
    ItemSsplitOut = 22,          // start split of an OUT or SETUP
    ItemCsplitOut = 23,
    ItemSsplitIn = 24,
    ItemCsplitIn = 25,
    ItemNakGroup = 29,
    ItemSofGroup = 128,
    ItemHostChirp = 129,
    ItemControlTransfer = 256,
    // above 256: meaningful only to the class decoder that made the item
};

enum ItemFlags : uint8_t {
    ItemExpanded = 0x01,
    ItemHiddenByFilter = 0x02,   // the view's SOF/NAK/bus-state filters
    ItemHiddenByFilterBar = 0x04,
    // The packet list's: its leaves are not bounded by its own and its last
    // leaf's record, or its children's leaves are not in separate ascending runs.
    ItemOutOfOrder = 0x08,
};

constexpr uint8_t kNone = 0xFF;

// Items and child lists come from one process-wide pool (liborvane_items.so),
// shared by the program and every plug-in: a capture of tens of millions of
// packets must not cost a heap allocation per packet or per child list.
void* ItemPoolAllocate(size_t bytes);
void ItemPoolFree(void* p, size_t bytes);
// Moves a block to a new size, keeping its first min(old, new) bytes.
void* ItemPoolReallocate(void* p, size_t oldBytes, size_t newBytes);
// Fills `out` with `count` slots of `bytes` each, for a builder that makes many.
void ItemPoolAllocateBatch(size_t bytes, void** out, size_t count);
// The calling thread is about to take about `bytes` in all (0: it is done):
// the pool prepares what it does not hold free yet on threads of its own.
void ItemPoolPrepare(size_t bytes);

// Everything the pool hands out lies in one reserved address range, so a
// link between items is 32 bits: its offset from the range's start in 4-byte
// units, 0 for none. Half the width of a pointer is a third of a tree's bytes.
extern char* const kItemRegion;
constexpr size_t kItemRegionBytes = size_t(1) << 34;  // what 32-bit links reach

// The link to pool memory `p` (null gives 0). An item or list outside the pool
// (on the stack, in a vector) cannot be linked to.
inline uint32_t ItemLinkOf(const void* p) {
    if (!p) return 0;
    const size_t offset = size_t(static_cast<const char*>(p) - kItemRegion);
#ifndef NDEBUG
    if (offset >= kItemRegionBytes || (offset & 3)) std::abort();
#endif
    return uint32_t(offset >> 2);
}
// Pool memory of a link that is not 0.
inline void* ItemLinkTarget(uint32_t link) { return kItemRegion + (size_t(link) << 2); }

struct UsbItem;

// A 32-bit reference to an item that reads and assigns like a UsbItem*.
class ItemLink {
public:
    ItemLink() = default;
    ItemLink(UsbItem* item) : link_(ItemLinkOf(item)) {}
    ItemLink& operator=(UsbItem* item) {
        link_ = ItemLinkOf(item);
        return *this;
    }
    UsbItem* get() const { return link_ ? static_cast<UsbItem*>(ItemLinkTarget(link_)) : nullptr; }
    operator UsbItem*() const { return get(); }
    UsbItem* operator->() const { return get(); }

private:
    uint32_t link_ = 0;
};

// The ordered child list. One block holds the count, the capacity and the
// members' links, so an item without children costs a single 0.
class UsbItemList {
public:
    UsbItemList() = default;
    UsbItemList(const UsbItemList&) = delete;
    UsbItemList& operator=(const UsbItemList&) = delete;
    UsbItemList(UsbItemList&& other) noexcept : block_(other.block_) { other.block_ = 0; }
    UsbItemList& operator=(UsbItemList&& other) noexcept {
        if (this != &other) {
            clear();
            block_ = other.block_;
            other.block_ = 0;
        }
        return *this;
    }
    ~UsbItemList() { clear(); }

    // Reads the members as UsbItem* values.
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = UsbItem*;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = UsbItem*;
        const_iterator() = default;
        explicit const_iterator(const uint32_t* at) : at_(at) {}
        UsbItem* operator*() const { return static_cast<UsbItem*>(ItemLinkTarget(*at_)); }
        UsbItem* operator[](difference_type n) const { return static_cast<UsbItem*>(ItemLinkTarget(at_[n])); }
        const_iterator& operator++() { return ++at_, *this; }
        const_iterator operator++(int) { return const_iterator(at_++); }
        const_iterator& operator--() { return --at_, *this; }
        const_iterator operator--(int) { return const_iterator(at_--); }
        const_iterator& operator+=(difference_type n) { return at_ += n, *this; }
        const_iterator& operator-=(difference_type n) { return at_ -= n, *this; }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const_iterator a, const_iterator b) { return a.at_ - b.at_; }
        friend bool operator==(const_iterator a, const_iterator b) { return a.at_ == b.at_; }
        friend auto operator<=>(const_iterator a, const_iterator b) { return a.at_ <=> b.at_; }
        // Where the links lie, for a prefetch.
        const void* address() const { return at_; }

    private:
        const uint32_t* at_ = nullptr;
    };
    using iterator = const_iterator;

    uint32_t size() const { return block_ ? Get()->size : 0; }
    uint32_t capacity() const { return block_ ? Get()->capacity : 0; }
    bool empty() const { return size() == 0; }
    UsbItem* operator[](uint32_t i) const { return static_cast<UsbItem*>(ItemLinkTarget(Get()->items[i])); }
    UsbItem* front() const { return (*this)[0]; }
    UsbItem* back() const { return (*this)[Get()->size - 1]; }
    const_iterator begin() const { return const_iterator(block_ ? Get()->items : nullptr); }
    const_iterator end() const { return const_iterator(block_ ? Get()->items + Get()->size : nullptr); }

    void push_back(UsbItem* item) {
        Block* b = block_ ? Get() : nullptr;
        if (!b || b->size == b->capacity) b = Grow();
        b->items[b->size++] = ItemLinkOf(item);
    }
    void pop_back() { if (block_ && Get()->size) --Get()->size; }
    // Forgets the members; frees nothing but the list itself.
    void clear() {
        if (block_) ItemPoolFree(Get(), BlockBytes(Get()->capacity));
        block_ = 0;
    }
    void reserve(uint32_t n) { if (n > (block_ ? Get()->capacity : 0)) Resize(n); }
    static constexpr size_t StorageBytes(uint32_t capacity) { return BlockBytes(capacity); }
    // Hands the list storage taken from the pool with StorageBytes(count), full at
    // once: its `count` members.
    void AssignMembers(void* storage, UsbItem* const* members, uint32_t count) {
        clear();
        auto* b = static_cast<Block*>(storage);
        b->size = count;
        b->capacity = count;
        for (uint32_t i = 0; i < count; ++i) b->items[i] = ItemLinkOf(members[i]);
        block_ = ItemLinkOf(b);
    }

private:
    struct Block {
        uint32_t size;
        uint32_t capacity;
        uint32_t items[1];
    };
    Block* Get() const { return static_cast<Block*>(ItemLinkTarget(block_)); }
    static constexpr size_t BlockBytes(uint32_t cap) { return 8 + sizeof(uint32_t) * size_t(cap); }
    Block* Grow() {
        uint32_t cap = block_ ? Get()->capacity : 0;
        return Resize(cap < 2 ? 2 : cap < 64 ? cap * 2 : cap + cap / 2);
    }
    Block* Resize(uint32_t cap) {
        Block* b;
        if (!block_) {
            b = static_cast<Block*>(ItemPoolAllocate(BlockBytes(cap)));
            b->size = 0;
        } else {
            b = static_cast<Block*>(ItemPoolReallocate(Get(), BlockBytes(Get()->capacity), BlockBytes(cap)));
        }
        b->capacity = cap;
        block_ = ItemLinkOf(b);
        return b;
    }
    uint32_t block_ = 0;
};

// 20 bytes a node, links included.
struct UsbItem {
    uint8_t depth = 0;           // row depth, written by the packet list only
    uint8_t flags = 0;
    uint16_t type = 0;           // ItemType
    uint8_t address = kNone;
    uint8_t endpoint = kNone;
    uint8_t interface = kNone;
    uint8_t status = kNone;      // PID of the closing handshake
    uint32_t firstRecord = 0;
    ItemLink parent;
    UsbItemList children;

    UsbItem() = default;
    UsbItem(uint16_t t, uint32_t first) : type(t), firstRecord(first) {}
    UsbItem(const UsbItem&) = delete;
    UsbItem& operator=(const UsbItem&) = delete;

    static void* operator new(size_t bytes) { return ItemPoolAllocate(bytes); }
    static void operator delete(void* p, size_t bytes) { ItemPoolFree(p, bytes); }
    // Construction in a slot taken from the pool beforehand.
    static void* operator new(size_t, void* slot) { return slot; }
    static void operator delete(void*, void*) {}

    // Takes `child` as the next member and makes this its parent. A transaction
    // taken into a transfer-level item stays in its transaction-level list.
    // Both must come from the pool (new UsbItem).
    void Append(UsbItem* child) {
        children.push_back(child);
        child->parent = this;
    }
};

static_assert(sizeof(UsbItem) == 20, "UsbItem is 20 bytes in every deliverable");

// Bytes the pool holds from the system, and bytes handed out and not yet
// given back, for memory accounting.
size_t ItemPoolReservedBytes();
size_t ItemPoolLiveBytes();

}  // namespace orvane
