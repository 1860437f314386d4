// The packet-type chart's runs: merging into the start column, the 4-pixel
// detail threshold, mean colours, at most two runs a column also for records
// that overlap or run back in time, and the block-skipping build giving
// exactly what a walk over every visible record gives.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "PacketRecord.h"
#include "PacketRuns.h"

using namespace orvane;
using namespace orvane::velmora;

namespace {

std::shared_ptr<const CaptureArrays> Packets(const std::vector<std::tuple<uint64_t, uint16_t, uint8_t>>& packets)
{
    std::vector<uint8_t> pids;
    std::vector<uint64_t> words;
    for (auto [start, duration, pid] : packets) {
        pids.push_back(PacketRecord::MakePidByte(pid));
        words.push_back(start << 16 | duration);
    }
    return CaptureArrays::FromWords(pids, words, pids.size());
}

// The walk over every visible record, column by column: the packets ending in
// the start column of the first one, then the rest starting there as one run;
// all of them when the first one runs on past the column.
std::vector<PacketRun> Walk(const CaptureArrays& arrays, double a, double b, int32_t width)
{
    std::vector<PacketRun> runs;
    auto x = [&](uint64_t ticks) { return int64_t(std::trunc((double(ticks) * kTickSeconds - a) / (b - a) * width)); };
    int64_t first = std::max<int64_t>(arrays.FindIndex(std::max(a, 0.0), 0), 0);
    int64_t last = std::min<int64_t>(arrays.FindIndex(b, 0) + 1, arrays.Count());
    for (int64_t i = first; i < last;) {
        int64_t x0 = x(arrays.Start(i)), columnEnd = i + 1;
        while (columnEnd < last && x(arrays.Start(columnEnd)) <= x0) ++columnEnd;
        PacketRun run{x0, x(arrays.End(i)), i, 1, {}};
        PidCounts counts{};
        ++counts[arrays.Nibble(i)];
        int64_t j = i + 1;
        for (; j < columnEnd && (run.x1 > x0 || x(arrays.End(j)) <= x0); ++j) {
            run.x1 = std::max(run.x1, x(arrays.End(j)));
            ++counts[arrays.Nibble(j)];
        }
        run.packets = j - i;
        run.colour = MeanColour(counts);
        runs.push_back(run);
        if (j < columnEnd) {
            PacketRun rest{x0, x0, j, columnEnd - j, {}};
            PidCounts restCounts{};
            for (int64_t k = j; k < columnEnd; ++k) {
                rest.x1 = std::max(rest.x1, x(arrays.End(k)));
                ++restCounts[arrays.Nibble(k)];
            }
            rest.colour = MeanColour(restCounts);
            runs.push_back(rest);
        }
        i = columnEnd;
    }
    return runs;
}

}  // namespace

TEST(PacketRuns, FourPixelsIsABlockFiveShowCells)
{
    // 100 ticks per pixel over 1000 pixels.
    double b = 100000 * kTickSeconds;
    auto arrays = Packets({{1050, 400, PidIn}, {3050, 500, PidOut}, {6050, 0, PidAck}});
    auto runs = BuildPacketRuns(*arrays, 0.0, b, 1000);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].x1 - runs[0].x0, 4);
    EXPECT_FALSE(runs[0].Detailed());
    EXPECT_EQ(runs[1].x1 - runs[1].x0, 5);
    EXPECT_TRUE(runs[1].Detailed());
    EXPECT_EQ(runs[2].x1 - runs[2].x0, 0) << "drawn 1 pixel wide";
    EXPECT_EQ(runs[2].colour, RgbFromColorRef(0x00FFFF));
}

TEST(PacketRuns, PacketsEndingInTheStartColumnMergeWithMeanColour)
{
    double b = 100000 * kTickSeconds;
    // A SOF in column 10 and three packets ending there too.
    auto arrays = Packets({{1010, 5, PidSof}, {1020, 5, PidIn}, {1030, 5, PidNak}, {1040, 50, PidAck},
                           {1095, 20, PidIn}});
    auto runs = BuildPacketRuns(*arrays, 0.0, b, 1000);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].packets, 4);
    // SOF 0xFFFF00, IN 0x400040, NAK 0x323232, ACK 0x00FFFF as r, g, b means.
    EXPECT_EQ(runs[0].colour, (Rgb{(0x00 + 0x40 + 0x32 + 0xFF) / 4, (0xFF + 0x00 + 0x32 + 0xFF) / 4,
                                   (0xFF + 0x40 + 0x32 + 0x00) / 4, 255}));
    EXPECT_EQ(runs[1].first, 4);
    EXPECT_EQ(MeanColour({}), Rgb{});
}

TEST(PacketRuns, AColumnMakesAtMostTwoRunsWhateverTheRecordsHold)
{
    double b = 100000 * kTickSeconds;
    // In column 10: a SOF ending there, a DATA0 running to column 18 with a
    // NAK inside it, an ACK to column 11; then an IN in column 20.
    auto arrays = Packets({{1010, 5, PidSof}, {1020, 800, PidData0}, {1030, 5, PidNak}, {1040, 100, PidAck},
                           {2000, 5, PidIn}});
    auto runs = BuildPacketRuns(*arrays, 0.0, b, 1000);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].packets, 1);
    EXPECT_EQ(runs[1].first, 1);
    EXPECT_EQ(runs[1].packets, 3);
    EXPECT_EQ(runs[1].x0, 10);
    EXPECT_EQ(runs[1].x1, 18) << "as far as the latest end";
    EXPECT_EQ(runs[2].x0, 20);

    // Each record running past the next one's start, starts one tick on or
    // jumping back and forth, where every record used to make a run of its
    // own; and starts one tick back.
    constexpr int kRecords = 200000;
    const int32_t width = 1000;
    std::vector<std::tuple<uint64_t, uint16_t, uint8_t>> onwards, back, sawtooth;
    for (int i = 0; i < kRecords; ++i) {
        uint8_t pid = i % 2 ? PidData0 : PidAck;
        onwards.emplace_back(uint64_t(i), uint16_t(0xFFFF), pid);
        back.emplace_back(uint64_t(kRecords - i), uint16_t(0xFFFF), pid);
        sawtooth.emplace_back(uint64_t(i) * 10 + (i % 2 ? kRecords * 5 : 0), uint16_t(0xFFFF), pid);
    }
    for (const auto& records : {onwards, back, sawtooth}) {
        auto damaged = Packets(records);
        double total = damaged->TotalTime();
        for (auto [from, to] : {std::pair(0.0, total), std::pair(total * 0.2, total * 0.6)}) {
            auto got = BuildPacketRuns(*damaged, from, to, width);
            // One a column, and one column each side off the band.
            EXPECT_LE(got.size(), size_t(width + 3)) << from;
        }
    }
}

TEST(PacketRuns, BlockSkippingMatchesTheWalkAtEveryZoom)
{
    std::mt19937 rng(11);
    std::vector<std::tuple<uint64_t, uint16_t, uint8_t>> packets;
    uint64_t t = 500;
    for (int i = 0; i < 200000; ++i) {
        uint16_t duration = uint16_t(rng() % 50 == 0 ? 2000 + rng() % 20000 : rng() % 60);
        packets.emplace_back(t, duration, uint8_t(rng() % 16));
        t += 10 + rng() % 80;
    }
    auto arrays = Packets(packets);
    double total = arrays->TotalTime();
    struct { double a, b; int32_t width; } views[] = {
        {-total * 0.02, total * 1.02, 1000}, {0, total, 37}, {total * 0.3, total * 0.31, 800},
        {total * 0.5, total * 0.5 + 1e-5, 1200}, {-1.0, -0.5, 100}, {total * 0.9, total * 2, 640},
    };
    for (const auto& v : views) {
        auto fast = BuildPacketRuns(*arrays, v.a, v.b, v.width);
        auto slow = Walk(*arrays, v.a, v.b, v.width);
        ASSERT_EQ(fast.size(), slow.size()) << v.a;
        for (size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].first, slow[i].first) << i;
            ASSERT_EQ(fast[i].packets, slow[i].packets) << i;
            ASSERT_EQ(fast[i].x0, slow[i].x0) << i;
            ASSERT_EQ(fast[i].x1, slow[i].x1) << i;
            ASSERT_EQ(fast[i].colour, slow[i].colour) << i;
        }
    }
    EXPECT_TRUE(BuildPacketRuns(*arrays, 1.0, 1.0, 100).empty());
    EXPECT_TRUE(BuildPacketRuns(*arrays, 0.0, 1.0, 0).empty());
}
