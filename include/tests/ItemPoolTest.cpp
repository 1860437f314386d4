#include <gtest/gtest.h>

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
