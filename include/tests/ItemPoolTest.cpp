#include <gtest/gtest.h>

#include <algorithm>
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
    UsbItem group(ItemNakGroup, 0);
    std::vector<UsbItem> members(5000);
    for (auto& m : members) group.Append(&m);
    ASSERT_EQ(group.children.size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(group.children[i], &members[i]);
        ASSERT_TRUE(members[i].parent == &group);
    }
    group.children.clear();
    EXPECT_TRUE(group.children.empty());
    group.children.reserve(3);
    group.Append(&members[0]);
    EXPECT_EQ(group.children.back(), &members[0]);
}

TEST(ItemPool, ATreeLargerThanSeveralChunksGetsWholeDistinctSlots) {
    // Past the first 60 MiB a thread takes the chunks prepared beside it: every
    // slot is whole, none is handed out twice, and all go back to the pool.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under AddressSanitizer every slot is a heap block of its own";
#endif
    constexpr size_t kSlot = 256;
    constexpr size_t kSlots = (260u << 20) / kSlot;
    const size_t live = ItemPoolLiveBytes();
    std::vector<void*> slots(kSlots);
    std::thread builder([&] {
        for (size_t i = 0; i < kSlots; i += 1024) ItemPoolAllocateBatch(kSlot, &slots[i], std::min<size_t>(1024, kSlots - i));
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

TEST(ItemPool, AListOfMillionsKeepsItsMembersThroughEveryGrowth) {
    // Past 4 MiB a list is a mapping of its own, grown by remapping.
    UsbItem root(ItemSofGroup, 0);
    UsbItem member(ItemBusEvent, 0);
    const size_t live = ItemPoolLiveBytes();
    constexpr uint32_t kMembers = 3000000;
    for (uint32_t i = 0; i < kMembers; ++i) {
        root.children.push_back(reinterpret_cast<UsbItem*>(uintptr_t(i) * 4 + 4));
        if (i == 524287 || i == 524288 || i == kMembers - 1) {
            for (uint32_t j = 0; j <= i; j += 4099) ASSERT_EQ(uintptr_t(root.children[j]), uintptr_t(j) * 4 + 4) << i;
            ASSERT_EQ(uintptr_t(root.children.back()), uintptr_t(i) * 4 + 4);
        }
    }
    EXPECT_GE(ItemPoolLiveBytes(), live + size_t(kMembers) * sizeof(UsbItem*));
    root.children.clear();
    EXPECT_EQ(ItemPoolLiveBytes(), live);
    root.Append(&member);
    EXPECT_EQ(root.children.size(), 1u);
}
