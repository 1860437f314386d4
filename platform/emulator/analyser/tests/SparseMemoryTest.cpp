#include "SparseMemory.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using orvane::emu::SparseMemory;

TEST(SparseMemory, WrapsAtTheMaskKeepsOnlyWrittenPagesAndReadsZeroElsewhere) {
    SparseMemory m;
    std::vector<uint8_t> data(40), back(40);
    std::iota(data.begin(), data.end(), 1);
    // 40 bytes at 0x3FFE8 in a 256 KiB buffer: 24 at the end, 16 from 0.
    m.Write(0x3FFE8, 0x3FFFF, data.data(), data.size());
    m.Read(0x3FFE8, 0x3FFFF, back.data(), back.size());
    EXPECT_EQ(back, data);
    m.Read(0, 0x3FFFF, back.data(), 1);
    EXPECT_EQ(back[0], 25);

    m.Clear();
    m.Write(SparseMemory::kPageSize - 4, 0x1FFFFFFF, data.data(), 8);  // across a page boundary
    m.Write(0x1FFFFFFF, 0x1FFFFFFF, data.data(), 1);
    EXPECT_EQ(m.PageCount(), 3u);
    m.Read(SparseMemory::kPageSize - 4, 0x1FFFFFFF, back.data(), 8);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 8, back.begin()));
    m.Read(0x10000000, 0x1FFFFFFF, back.data(), 16);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 16), std::vector<uint8_t>(16, 0));
    m.Clear();
    EXPECT_EQ(m.PageCount(), 0u);
}
