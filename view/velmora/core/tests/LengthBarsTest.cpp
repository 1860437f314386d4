// The length charts' bars: heights by PID, the pixel-column groups and their
// colours, the labelled width, the data chart passing over other packets, at
// most two bars a column also for records that overlap or run back in time,
// the block-skipping build against a walk over every record, the selection
// totals, and the panels' rules.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ConfigRules.h"
#include "LengthBars.h"
#include "PacketRuns.h"
#include "TestRecords.h"

using namespace orvane;
using namespace orvane::velmora;
using orvane::velmora::test::Rec;
using orvane::velmora::test::Token;

namespace {


auto Arrays(const std::vector<PacketRecord>& records) { return CaptureArrays::FromRecords(records, records.size()); }

// One pixel is 100 ticks over a plot of `width`.
std::vector<LengthBar> Bars(const CaptureArrays& arrays, bool dataOnly, int32_t width = 100, DrawnRange* drawn = nullptr)
{
    DrawnRange local;
    return BuildLengthBars(arrays, dataOnly, 0, double(width) * 100 * kTickSeconds, width, drawn ? drawn : &local);
}

// Bars by walking every record of the visible range, column by column: the
// packets ending in the start column of the first one, then the rest
// starting there as one bar; all of them when the first one runs on past
// the column.
std::vector<LengthBar> Walk(const CaptureArrays& a, bool dataOnly, double t0, double t1, int32_t width)
{
    std::vector<LengthBar> bars;
    auto x = [&](uint64_t ticks) { return int64_t(std::trunc((double(ticks) * kTickSeconds - t0) / (t1 - t0) * width)); };
    int64_t i = std::max<int64_t>(a.FindIndex(std::max(t0, 0.0), 0), 0);
    int64_t end = std::min<int64_t>(a.FindIndex(t1, 0) + 1, a.Count());
    auto take = [&](int64_t k) { return !dataOnly || CaptureArrays::IsData(a.Nibble(k)); };
    auto value = [&](int64_t k) -> int64_t { return dataOnly ? a.Payload(k) : a.Bytes(k); };
    auto add = [&](int64_t first, int64_t last, int64_t g, int64_t x1, int64_t height, const PidCounts& counts) {
        LengthBar bar{g, 0, height, {}, x1 - g > 4, first};
        bar.x1 = bar.labelled ? x1 : g + std::max<int64_t>(x1 - g, 1);
        bar.colour = bar.labelled ? RgbFromColorRef(ColourOf(a.Nibble(last))) : MeanColour(counts);
        bars.push_back(bar);
    };
    while (i < end && !take(i)) ++i;
    while (i < end) {
        int64_t g = x(a.Start(i)), columnEnd = i + 1;
        while (columnEnd < end && x(a.Start(columnEnd)) <= g) ++columnEnd;
        PidCounts counts{};
        ++counts[a.Nibble(i)];
        int64_t height = value(i), last = i, j = i + 1, x1 = x(a.End(i));
        bool all = x1 > g;
        for (; j < columnEnd; ++j) {
            if (!take(j)) continue;
            if (!all && x(a.End(j)) > g) break;
            ++counts[a.Nibble(j)];
            height = std::max(height, value(j));
            x1 = std::max(x1, x(a.End(j)));
            last = j;
        }
        add(i, last, g, x1, height, counts);
        if (j < columnEnd) {
            int64_t first = j;
            counts = {};
            height = 0;
            x1 = g;
            for (; j < columnEnd; ++j) {
                if (!take(j)) continue;
                ++counts[a.Nibble(j)];
                height = std::max(height, value(j));
                x1 = std::max(x1, x(a.End(j)));
                last = j;
            }
            add(first, last, g, x1, height, counts);
        }
        i = columnEnd;
        while (i < end && !take(i)) ++i;
    }
    return bars;
}

}  // namespace

TEST(LengthBars, HeightsAreBytesOnTheBusOrPayload)
{
    auto arrays = Arrays({Rec(0, 1000, PidData0, 66), Rec(2000, 1000, PidAck), Rec(4000, 1000, PidIn, 0x81),
                          Rec(6000, 1000, PidSplit, 0x12), Rec(8000, 1000, PidData1, 2)});
    std::vector<LengthBar> bars = Bars(*arrays, false);
    ASSERT_EQ(bars.size(), 5u);
    int64_t want[] = {67, 1, 3, 4, 3};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(bars[i].value, want[i]) << i;
    std::vector<LengthBar> data = Bars(*arrays, true);
    ASSERT_EQ(data.size(), 2u) << "only data packets";
    EXPECT_EQ(data[0].value, 64);
    EXPECT_EQ(data[1].value, 0) << "no payload";
    EXPECT_EQ(BarHeight(0, 0, true), 1) << "an empty data packet stays visible";
    EXPECT_EQ(BarHeight(0, 5, true), 0) << "unless the axis is scrolled up";
    EXPECT_EQ(BarHeight(0, 0, false), 0);
    EXPECT_EQ(BarHeight(30, 10, false), 20);
    EXPECT_EQ(Arrays({Rec(0, 10, PidIn)})->MaxDataLength(), 0);
}

// A full-speed device polled through a high-speed hub: per microframe a
// start split, IN and NAK, a complete split, IN, DATA0 of 4 bytes and ACK.
// Each split lasts 9 ticks; the hub address and the complete bit above its
// 8 bits of duration make 0x5509 and 0xD509 of word 0's top 16 bits.
std::vector<PacketRecord> PolledThroughAHub(int microframes)
{
    std::vector<PacketRecord> records;
    auto split = [&](uint64_t tick, bool complete) {
        PacketRecord r = Rec(tick, 0, PidSplit, 0x03);
        r.SetSplitWord0(9, 0x55, complete);
        records.push_back(r);
    };
    for (int m = 0; m < microframes; ++m) {
        const uint64_t frame = uint64_t(m) * 7500;
        records.push_back(Rec(frame, 20, PidSof, uint16_t(m)));
        split(frame + 100, false);
        records.push_back(Rec(frame + 120, 9, PidIn, Token(3, 1)));
        records.push_back(Rec(frame + 140, 6, PidNak));
        split(frame + 3000, true);
        records.push_back(Rec(frame + 3020, 9, PidIn, Token(3, 1)));
        records.push_back(Rec(frame + 3040, 30, PidData0, 6));
        records.push_back(Rec(frame + 3080, 6, PidAck));
    }
    split(uint64_t(microframes) * 7500 + 100, true);
    return records;
}

TEST(LengthBars, NoSplitIsDrawnLongerThanItsOwnDuration)
{
    const std::vector<PacketRecord> records = PolledThroughAHub(5);
    auto arrays = Arrays(records);
    const uint64_t lastStart = records.back().Timestamp();
    EXPECT_DOUBLE_EQ(arrays->TotalTime(), double(lastStart + 9) * kTickSeconds) << "a capture ending in a SPLIT";
    for (int64_t i = 0; i < arrays->Count(); ++i)
        EXPECT_EQ(arrays->End(i) - arrays->Start(i), records[size_t(i)].PacketDuration()) << i;
    // Just after a start split's end, before the IN 11 ticks later: the SPLIT is nearest.
    EXPECT_EQ(arrays->FindIndex(double(7500 + 112) * kTickSeconds, 0), 9);

    // A tick a pixel over a microframe: every packet its own labelled bar,
    // a SPLIT's 9 pixels wide, and a run of its cells as wide.
    const double t0 = 7500 * kTickSeconds, t1 = 2 * 7500 * kTickSeconds;
    DrawnRange drawn;
    int splits = 0;
    for (const LengthBar& bar : BuildLengthBars(*arrays, false, t0, t1, 7500, &drawn)) {
        if (arrays->Nibble(bar.first) != PidSplit) continue;
        ++splits;
        EXPECT_NEAR(double(bar.x1 - bar.x0), 9.0, 1.0) << bar.first;
    }
    EXPECT_EQ(splits, 2);
    splits = 0;
    for (const PacketRun& run : BuildPacketRuns(*arrays, t0, t1, 7500)) {
        if (arrays->Nibble(run.first) != PidSplit) continue;
        ++splits;
        EXPECT_NEAR(double(run.x1 - run.x0), 9.0, 1.0) << run.first;
        EXPECT_EQ(run.packets, 1) << "the next packet is a run of its own";
    }
    EXPECT_EQ(splits, 2);

    // The whole capture in 600 pixels, 63 ticks a pixel: no packet runs on
    // past the column after its own.
    const double whole = arrays->TotalTime();
    for (const LengthBar& bar : BuildLengthBars(*arrays, false, 0, whole, 600, &drawn))
        EXPECT_LE(bar.x1 - bar.x0, 2) << bar.first;
    for (const PacketRun& run : BuildPacketRuns(*arrays, 0, whole, 600)) EXPECT_LE(run.x1 - run.x0, 2) << run.first;
}

TEST(LengthBars, WidthDecidesTheLabelAndAColumnMergesIntoTheMeanColour)
{
    // 100 ticks a pixel: 500 ticks is 5 pixels, 400 is 4.
    auto wide = Arrays({Rec(1000, 500, PidData0, 10)});
    EXPECT_TRUE(Bars(*wide, false)[0].labelled);
    auto narrow = Arrays({Rec(1000, 400, PidData0, 10)});
    EXPECT_FALSE(Bars(*narrow, false)[0].labelled);
    // Two packets in one column: one bar, as high as the larger, mean colour.
    auto merged = Arrays({Rec(1000, 10, PidAck), Rec(1020, 30, PidIn, 0x81), Rec(5000, 10, PidAck)});
    std::vector<LengthBar> bars = Bars(*merged, false);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[0].value, 3);
    EXPECT_EQ(bars[0].x1 - bars[0].x0, 1);
    PidCounts counts{};
    counts[PidAck] = counts[PidIn] = 1;
    EXPECT_EQ(bars[0].colour, MeanColour(counts));
    // The data chart passes over tokens and handshakes inside the column.
    auto data = Arrays({Rec(1000, 10, PidData0, 6), Rec(1012, 5, PidAck), Rec(1020, 20, PidData1, 12),
                        Rec(9000, 10, PidIn, 0x81)});
    std::vector<LengthBar> dataBars = Bars(*data, true);
    ASSERT_EQ(dataBars.size(), 1u);
    EXPECT_EQ(dataBars[0].value, 10);
}

TEST(LengthBars, BlockBuildEqualsAWalkOverEveryRecord)
{
    std::mt19937 rng(5);
    const uint8_t pids[] = {PidIn, PidData0, PidData1, PidAck, PidNak, PidSof, PidOut, PidSplit};
    std::vector<PacketRecord> records;
    uint64_t t = 0;
    for (int i = 0; i < 60000; ++i) {
        uint8_t pid = pids[rng() % 8];
        records.push_back(Rec(t, uint16_t(rng() % 5 == 0 ? rng() % 3000 : rng() % 30), pid, uint16_t(rng() % 1100)));
        t += rng() % 60;
    }
    auto arrays = Arrays(records);
    double total = arrays->TotalTime();
    for (int trial = 0; trial < 60; ++trial) {
        bool dataOnly = trial % 2;
        double t0 = total * (double(rng() % 1000) / 1000.0) - total * 0.05;
        double t1 = t0 + total / double(1 << (rng() % 14));
        int32_t width = 200 + int32_t(rng() % 1200);
        DrawnRange drawn;
        std::vector<LengthBar> got = BuildLengthBars(*arrays, dataOnly, t0, t1, width, &drawn);
        std::vector<LengthBar> want = Walk(*arrays, dataOnly, t0, t1, width);
        ASSERT_EQ(got.size(), want.size()) << trial;
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(got[k].x0, want[k].x0) << trial << " " << k;
            ASSERT_EQ(got[k].x1, want[k].x1) << trial << " " << k;
            ASSERT_EQ(got[k].value, want[k].value) << trial << " " << k;
            ASSERT_EQ(got[k].colour, want[k].colour) << trial << " " << k;
            ASSERT_EQ(got[k].first, want[k].first) << trial << " " << k;
        }
    }
}

TEST(LengthBars, AColumnMakesAtMostTwoBarsWhateverTheRecordsHold)
{
    // In column 10: a DATA1 ending there, a DATA0 running to column 18 with
    // a NAK inside it, a DATA1 to column 11; then an IN in column 20.
    auto arrays = Arrays({Rec(1010, 5, PidData1, 4), Rec(1020, 800, PidData0, 20), Rec(1030, 5, PidNak),
                          Rec(1040, 100, PidData1, 40), Rec(2000, 5, PidIn, 0x81)});
    for (bool dataOnly : {false, true}) {
        std::vector<LengthBar> bars = Bars(*arrays, dataOnly);
        ASSERT_EQ(bars.size(), dataOnly ? 2u : 3u);
        EXPECT_EQ(bars[0].first, 0);
        const LengthBar& rest = bars[1];
        EXPECT_EQ(rest.first, 1);
        EXPECT_EQ(rest.x0, 10);
        EXPECT_EQ(rest.x1, 18) << "as far as the latest end";
        EXPECT_EQ(rest.value, dataOnly ? 38 : 41);
    }

    // Each record running past the next one's start, starts one tick on or
    // jumping back and forth, where every record used to make a bar of its
    // own; and starts one tick back.
    constexpr int kRecords = 200000;
    const int32_t width = 1000;
    std::vector<PacketRecord> onwards, back, sawtooth;
    for (int i = 0; i < kRecords; ++i) {
        uint8_t pid = i % 3 ? PidData0 : PidAck;
        onwards.push_back(Rec(uint64_t(i), 0xFFFF, pid, 10));
        back.push_back(Rec(uint64_t(kRecords - i), 0xFFFF, pid, 10));
        sawtooth.push_back(Rec(uint64_t(i) * 10 + (i % 2 ? kRecords * 5 : 0), 0xFFFF, pid, 10));
    }
    for (const auto& records : {onwards, back, sawtooth}) {
        auto damaged = Arrays(records);
        double total = damaged->TotalTime();
        for (bool dataOnly : {false, true}) {
            for (auto [t0, t1] : {std::pair(0.0, total), std::pair(total * 0.2, total * 0.6)}) {
                DrawnRange drawn;
                auto got = BuildLengthBars(*damaged, dataOnly, t0, t1, width, &drawn);
                // One a column, and one column each side off the plot.
                EXPECT_LE(got.size(), size_t(width + 3)) << dataOnly << " " << t0;
            }
        }
    }
}

TEST(LengthBars, SelectionTotalsCountTheDrawnPacketsAndDataOnly)
{
    // IN, DATA1 (10 payload bytes), ACK, then far to the right another IN.
    auto arrays = Arrays({Rec(100, 10, PidIn, 0x81), Rec(200, 10, PidData1, 12), Rec(300, 10, PidAck),
                          Rec(100000000, 10, PidIn, 0x81)});
    DrawnRange drawn;
    BuildLengthBars(*arrays, false, 0, 400 * kTickSeconds, 100, &drawn);
    EXPECT_EQ(drawn.first, 0);
    EXPECT_EQ(drawn.last, 2) << "the far IN was not drawn";
    EXPECT_EQ(DrawnBytes(*arrays, drawn, 0, 3), 3 + 13 + 1);
    EXPECT_EQ(DrawnBytes(*arrays, drawn, 1, 1), 13);
    EXPECT_EQ(DrawnBytes(*arrays, drawn, 2, 1), 0);
    ByteSums sums = arrays->Sums().Total(0, 3);
    EXPECT_EQ(sums.dataCount, 1u) << "IN, DATA1, ACK: one data packet";
    EXPECT_EQ(sums.payload, 10u);
    EXPECT_EQ(DataLengthBandText(1, 2, 1, 10, 1.0), "开始：1s | 结束：2s | 宽度：1s | 数据包个数：1 | 数据总大小：10byte");
    EXPECT_EQ(PacketLengthBandText(1, 2, 3, 17, 1.0), "开始：1s | 结束：2s | 宽度：1s | 包数量：3 | 总大小：17byte");
    EXPECT_EQ(LengthHoverText(false, 0.5, 7, 0x4B, 67, 1e-3), "时间：500ms | 包序号：7 | 包类型：DATA1 | 包长度：67byte");
    EXPECT_EQ(LengthHoverText(true, 0.5, 7, 0xC3, 64, 1e-3), "时间：500ms | 包序号：7 | 包类型：DATA0 | 数据长度：64byte");
    EXPECT_EQ(LengthCrossText(1, 12.9, 1.0), "时间：1s | 包长度：12byte");
}

TEST(ConfigRules, PlacementButtonsAndStoredGroups)
{
    ChartRect button{500, 106, 512, 118}, pane{0, 0, 800, 600};
    EXPECT_EQ(*PlaceBelow(button, 200, 100, pane), (PanelPoint{312, 118})) << "right-aligned below the button";
    EXPECT_EQ(*PlaceBelow({500, 550, 512, 562}, 200, 100, pane), (PanelPoint{312, 500})) << "lifted onto the pane's bottom";
    EXPECT_FALSE(PlaceBelow({500, 10, 490, 20}, 200, 100, pane));
    EXPECT_EQ(CountCheckedRows({}), 0);
    EXPECT_EQ(CountCheckedRows({true, false, true}), 1);
    EXPECT_EQ(CountCheckedRows({true, true, true}), 2);
    EXPECT_EQ(CountCheckedRows({false, false, false}), 3);
    EXPECT_FALSE(SelectButtonsFor(0).enabled);
    EXPECT_FALSE(SelectButtonsFor(0).all.has_value()) << "an empty list leaves the ticks";
    EXPECT_EQ(*SelectButtonsFor(2).all, true);
    EXPECT_EQ(*SelectButtonsFor(3).none, true);
    EXPECT_EQ(*SelectButtonsFor(1).all, false);
    EXPECT_TRUE(IsShowableGroup(0));
    EXPECT_TRUE(IsShowableGroup(4));
    EXPECT_FALSE(IsShowableGroup(5));
    EXPECT_FALSE(IsShowableGroup(-1));
}
