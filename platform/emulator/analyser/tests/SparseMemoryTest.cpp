#include "SparseMemory.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using orvane::emu::SparseMemory;

TEST(SparseMemory, WritesWrapAtTheMaskAndCrossPages) {
    SparseMemory m;
    std::vector<uint8_t> data(40);
    std::iota(data.begin(), data.end(), 1);

    // 40 bytes at 0x3FFE8 in a 256 KiB buffer: 24 at the end, 16 from 0.
    m.Write(0x3FFE8, 0x3FFFF, data.data(), data.size());
    std::vector<uint8_t> back(40);
    m.Read(0x3FFE8, 0x3FFFF, back.data(), back.size());
    EXPECT_EQ(back, data);
    uint8_t first = 0;
    m.Read(0, 0x3FFFF, &first, 1);
    EXPECT_EQ(first, 25);

    // Across a page boundary in a large buffer.
    m.Write(SparseMemory::kPageSize - 4, 0x1FFFFFFF, data.data(), 8);
    m.Read(SparseMemory::kPageSize - 4, 0x1FFFFFFF, back.data(), 8);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 8, back.begin()));
}

TEST(SparseMemory, OnlyWrittenPagesExistAndUnwrittenBytesReadZero) {
    SparseMemory m;
    uint8_t byte = 0xAB;
    m.Write(0x1FFFFFFF, 0x1FFFFFFF, &byte, 1);
    m.Write(0x00000010, 0x1FFFFFFF, &byte, 1);
    EXPECT_EQ(m.PageCount(), 2u);

    std::vector<uint8_t> out(16, 0xEE);
    m.Read(0x10000000, 0x1FFFFFFF, out.data(), out.size());
    EXPECT_EQ(out, std::vector<uint8_t>(16, 0));

    m.Clear();
    EXPECT_EQ(m.PageCount(), 0u);
    m.Read(0x10, 0x1FFFFFFF, out.data(), 1);
    EXPECT_EQ(out[0], 0);
}
