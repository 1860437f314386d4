// One node of the item trees: packets, transactions, grouped runs, control
// transfers and class-level items.
#pragma once

#include <cstdint>
#include <cstdlib>
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

struct UsbItem;

#pragma pack(push, 4)

// The ordered child list. One block holds the count, the capacity and the
// pointers, so an item without children costs a single null pointer.
class UsbItemList {
public:
    UsbItemList() = default;
    UsbItemList(const UsbItemList&) = delete;
    UsbItemList& operator=(const UsbItemList&) = delete;
    ~UsbItemList() { clear(); }

    uint32_t size() const { return block_ ? block_->size : 0; }
    bool empty() const { return size() == 0; }
    UsbItem* operator[](uint32_t i) const { return block_->items[i]; }
    UsbItem* front() const { return block_->items[0]; }
    UsbItem* back() const { return block_->items[block_->size - 1]; }
    UsbItem* const* begin() const { return block_ ? block_->items : nullptr; }
    UsbItem* const* end() const { return block_ ? block_->items + block_->size : nullptr; }

    void push_back(UsbItem* item) {
        if (!block_ || block_->size == block_->capacity) Grow();
        block_->items[block_->size++] = item;
    }
    void pop_back() { if (block_ && block_->size) --block_->size; }
    // Forgets the members; frees nothing but the list itself.
    void clear() {
        if (block_) ItemPoolFree(block_, BlockBytes(block_->capacity));
        block_ = nullptr;
    }
    void reserve(uint32_t n) { if (n > (block_ ? block_->capacity : 0)) Resize(n); }
    // Hands an empty list storage for `capacity` members, taken from the pool
    // with StorageBytes(capacity).
    void AssignStorage(void* storage, uint32_t capacity) {
        clear();
        block_ = static_cast<Block*>(storage);
        block_->size = 0;
        block_->capacity = capacity;
    }
    static constexpr size_t StorageBytes(uint32_t capacity) { return BlockBytes(capacity); }

private:
    struct Block {
        uint32_t size;
        uint32_t capacity;
        UsbItem* items[1];
    };
    static constexpr size_t BlockBytes(uint32_t cap) { return 8 + sizeof(UsbItem*) * size_t(cap); }
    void Grow() {
        uint32_t cap = block_ ? block_->capacity : 0;
        Resize(cap < 2 ? 2 : cap < 64 ? cap * 2 : cap + cap / 2);
    }
    void Resize(uint32_t cap) {
        if (!block_) {
            block_ = static_cast<Block*>(ItemPoolAllocate(BlockBytes(cap)));
            block_->size = 0;
        } else {
            block_ = static_cast<Block*>(ItemPoolReallocate(block_, BlockBytes(block_->capacity), BlockBytes(cap)));
        }
        block_->capacity = cap;
    }
    Block* block_ = nullptr;
};

// Packed to 4 bytes as every deliverable lays it out: 28 bytes a node. The
// pointer members are not 8-aligned: read them by value, never bind a
// reference to them (as EXPECT_EQ or std::min would).
struct UsbItem {
    uint8_t depth = 0;           // row depth, written by the packet list only
    uint8_t flags = 0;
    uint16_t type = 0;           // ItemType
    uint8_t address = kNone;
    uint8_t endpoint = kNone;
    uint8_t interface = kNone;
    uint8_t status = kNone;      // PID of the closing handshake
    uint32_t firstRecord = 0;
    UsbItem* parent = nullptr;
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
    void Append(UsbItem* child) {
        children.push_back(child);
        child->parent = this;
    }
};

#pragma pack(pop)

static_assert(sizeof(UsbItem) == 28, "UsbItem is 28 bytes in every deliverable");

// Bytes the pool holds from the system, and bytes handed out and not yet
// given back, for memory accounting.
size_t ItemPoolReservedBytes();
size_t ItemPoolLiveBytes();

}  // namespace orvane
