#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "UsbItem.h"

using namespace orvane;

TEST(ItemPool, SlotsAreDistinctAndReusedAcrossThreads) {
    // The worker allocates, the UI thread frees, the worker allocates again:
    // the second round must not need the system for every item again.
    std::vector<UsbItem*> items;
    std::thread worker([&] {
        for (int i = 0; i < 100000; ++i) items.push_back(new UsbItem(ItemInTransaction, uint32_t(i)));
    });
    worker.join();
    std::set<UsbItem*> distinct(items.begin(), items.end());
    EXPECT_EQ(distinct.size(), items.size());
    for (int i = 0; i < 100000; ++i) EXPECT_EQ(items[size_t(i)]->firstRecord, uint32_t(i));
    for (auto* p : items) delete p;
    [[maybe_unused]] size_t reserved = ItemPoolReservedBytes();

    std::thread again([&] {
        for (int i = 0; i < 100000; ++i) items[size_t(i)] = new UsbItem(ItemSofGroup, 1);
    });
    again.join();
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LE(ItemPoolReservedBytes(), reserved + (8u << 20));
#endif
    for (auto* p : items) delete p;
}

TEST(ItemPool, ChildListsGrowFromSmallToLarge) {
    auto group = std::make_unique<UsbItem>(ItemNakGroup, 0);
    std::vector<std::unique_ptr<UsbItem>> members;
    for (uint32_t i = 0; i < 5000; ++i) members.push_back(std::make_unique<UsbItem>(ItemInTransaction, i));
    for (auto& m : members) group->Append(m.get());
    ASSERT_EQ(group->children.size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(group->children[i], members[i].get());
        ASSERT_TRUE(members[i]->parent == group.get());
    }
    // The members read as pointers through the standard algorithms too.
    const auto& list = group->children;
    auto at = std::lower_bound(list.begin(), list.end(), 4321u,
                               [](const UsbItem* item, uint32_t record) { return item->firstRecord < record; });
    ASSERT_NE(at, list.end());
    EXPECT_EQ(at - list.begin(), 4321);
    EXPECT_EQ(*at, members[4321].get());
    EXPECT_EQ(at[-21], members[4300].get());
    std::vector<UsbItem*> copied(list.begin(), list.end());
    EXPECT_EQ(copied.back(), members.back().get());

    group->children.clear();
    EXPECT_TRUE(group->children.empty());
    EXPECT_EQ(group->children.begin(), group->children.end());
    group->children.reserve(3);
    group->Append(members[0].get());
    EXPECT_EQ(group->children.back(), members[0].get());
    EXPECT_TRUE(members[0]->parent == group.get());
    members[0]->parent = nullptr;
    EXPECT_TRUE(members[0]->parent == nullptr);
    EXPECT_FALSE(members[0]->parent);
}

namespace {

// The pool's moves of huge blocks are watched at the system call: right after
// each one, "another thread" tries to map the addresses the block left.
std::atomic<bool> gIntrude{false};
std::atomic<int> gMoves{0};
std::vector<void*> gIntruders;  // touched only by the thread that grows

}  // namespace

extern "C" void* mremap(void* old, size_t oldSize, size_t newSize, int flags, ...) noexcept {
    void* target = nullptr;
    if (flags & MREMAP_FIXED) {
        va_list args;
        va_start(args, flags);
        target = va_arg(args, void*);
        va_end(args);
    }
    void* moved = reinterpret_cast<void*>(::syscall(SYS_mremap, old, oldSize, newSize, flags, target));
    if (gIntrude && moved != MAP_FAILED) {
        ++gMoves;
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        void* at = ::mmap(old, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (at == old) {
            *static_cast<uint32_t*>(at) = 0x5EC0DE;
            gIntruders.push_back(at);
        } else if (at != MAP_FAILED) {
            ::munmap(at, page);  // a kernel that took the address as a hint only
        }
    }
    return moved;
}

TEST(ItemPool, AGrowingHugeBlockNeverLeavesItsOldAddressesToAnotherMapping) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer blocks are copied, never moved";
#endif
    size_t bytes = 2u << 20;
    auto* words = static_cast<uint32_t*>(ItemPoolAllocate(bytes));
    for (size_t i = 0; i < bytes / 4; ++i) words[i] = uint32_t(i);
    gIntrude = true;
    // Steps of a quarter, as a growing child list takes them.
    while (bytes < (24u << 20)) {
        const size_t next = bytes + bytes / 4;
        words = static_cast<uint32_t*>(ItemPoolReallocate(words, bytes, next));
        for (size_t i = 0; i < bytes / 4; i += 997) ASSERT_EQ(words[i], uint32_t(i)) << bytes;
        for (size_t i = bytes / 4; i < next / 4; ++i) words[i] = uint32_t(i);
        bytes = next;
    }
    gIntrude = false;
    EXPECT_GT(gMoves.load(), 0) << "the blocks were moved, not copied";
    for (void* at : gIntruders) {
        EXPECT_EQ(*static_cast<uint32_t*>(at), 0x5EC0DEu) << "the pool mapped over another mapping";
        ::munmap(at, size_t(::sysconf(_SC_PAGESIZE)));
    }
    EXPECT_TRUE(gIntruders.empty()) << "the old addresses were left unmapped for a while";
    ItemPoolFree(words, bytes);
}

TEST(ItemPool, ARequestLargerThanTheRangeLeavesTheRangeToOthers) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer blocks come from the system";
#endif
    EXPECT_THROW(ItemPoolAllocate(kItemRegionBytes), std::bad_alloc);
    void* block = nullptr;
    EXPECT_NO_THROW(block = ItemPoolAllocate(64u << 20)) << "the refused request spent the range";
    if (block) ItemPoolFree(block, 64u << 20);
    std::vector<UsbItem*> items;
    EXPECT_NO_THROW(for (int i = 0; i < 100000; ++i) items.push_back(new UsbItem(16, uint32_t(i))));
    for (UsbItem* item : items) delete item;
}

TEST(ItemPool, ATreeLargerThanSeveralChunksGetsWholeDistinctSlots) {
    // Past its first 28 MiB (from the start when it says it builds a big tree)
    // a thread takes the pages prepared beside it: every slot is whole, none
    // is handed out twice, and all go back to the pool.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer slots carry red zones and are handed out one at a time";
#endif
    constexpr size_t kSlot = 256;
    constexpr size_t kSlots = (260u << 20) / kSlot;
    // Unannounced, and announced as a parser does.
    for (const bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "unannounced");
        const size_t live = ItemPoolLiveBytes();
        std::vector<void*> slots(kSlots);
        std::thread builder([&] {
            if (prepared) ItemPoolPrepare(ItemPoolReservedBytes() + kSlots * kSlot);
            for (size_t i = 0; i < kSlots; i += 1024) ItemPoolAllocateBatch(kSlot, &slots[i], std::min<size_t>(1024, kSlots - i));
            if (prepared) ItemPoolPrepare(0);
            for (size_t i = 0; i < kSlots; ++i) {
                auto* words = static_cast<uint32_t*>(slots[i]);
                words[0] = words[kSlot / 4 - 1] = uint32_t(i);
            }
        });
        builder.join();
        EXPECT_EQ(ItemPoolLiveBytes(), live + kSlots * kSlot);
        std::vector<void*> sorted(slots);
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < kSlots; ++i)
            ASSERT_GE(static_cast<char*>(sorted[i]) - static_cast<char*>(sorted[i - 1]), ptrdiff_t(kSlot)) << "overlap";
        for (size_t i = 0; i < kSlots; ++i) {
            auto* words = static_cast<uint32_t*>(slots[i]);
            ASSERT_EQ(words[0], uint32_t(i));
            ASSERT_EQ(words[kSlot / 4 - 1], uint32_t(i));
        }
        for (void* p : slots) ItemPoolFree(p, kSlot);
        EXPECT_EQ(ItemPoolLiveBytes(), live);
    }
}

TEST(ItemPool, AListOfMillionsKeepsItsMembersThroughEveryGrowth) {
    // A long list grows into larger blocks, in place or moved; its members follow.
    auto root = std::make_unique<UsbItem>(ItemSofGroup, 0);
    auto member = std::make_unique<UsbItem>(ItemBusEvent, 0);
    auto fake = [](uint32_t i) { return static_cast<UsbItem*>(ItemLinkTarget(i * 5 + 1)); };
    const size_t live = ItemPoolLiveBytes();
    constexpr uint32_t kMembers = 3000000;
    for (int round = 0; round < 2; ++round) {
        for (uint32_t i = 0; i < kMembers; ++i) {
            root->children.push_back(fake(i));
            if (i == 524287 || i == 524288 || i == kMembers - 1) {
                for (uint32_t j = 0; j <= i; j += 4099) ASSERT_EQ(root->children[j], fake(j)) << i;
                ASSERT_EQ(root->children.back(), fake(i));
            }
        }
        EXPECT_GE(ItemPoolLiveBytes(), live + size_t(kMembers) * 4);
        EXPECT_LE(ItemPoolLiveBytes(), live + size_t(kMembers) * 4 * 5 / 4 + 64);
        root->children.clear();
        EXPECT_EQ(ItemPoolLiveBytes(), live);
    }
    root->Append(member.get());
    EXPECT_EQ(root->children.size(), 1u);
    root->children.clear();
}

#if defined(__SANITIZE_ADDRESS__)
TEST(ItemPoolDeathTest, AddressSanitizerStillSeesFreedItemsAndOverruns) {
    // The pool's memory is not the heap's: it poisons what it does not hand out.
    EXPECT_DEATH(
        {
            auto* item = new UsbItem(ItemInTransaction, 1);
            delete item;
            volatile uint32_t first = item->firstRecord;
            (void)first;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            auto* bytes = static_cast<volatile uint8_t*>(ItemPoolAllocate(20));
            bytes[20] = 1;
        },
        "use-after-poison");
}
#endif
