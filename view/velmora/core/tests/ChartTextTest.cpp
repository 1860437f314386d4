// The charts' texts: byte sizes and times at their unit boundaries, readings
// at one precision per zoom, packet type names with damaged check nibbles, and
// the info strip texts.
#include <gtest/gtest.h>

#include "ChartText.h"

using namespace orvane::velmora;

TEST(ChartText, ByteSizesChangeUnitAtAThousand)
{
    struct { uint64_t bytes; const char* text; } cases[] = {
        {0, "0byte"}, {999, "999byte"}, {1000, "0.98Kb"}, {1023999, "1000.00Kb"},
        {1000ull * 1024, "0.98Mb"}, {1000ull * 1024 * 1024 - 1, "1000.00Mb"}, {1000ull * 1024 * 1024, "0.98Gb"},
        {5ull << 40, "5120.00Gb"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(ChartText, TimesTakeTheLargestUnitBelowTheValue)
{
    struct { double seconds; const char* text; } cases[] = {
        {0, "0s"}, {5e-13, "0s"}, {1e-12, "0s"}, {-5e-13, "0s"}, {1, "1s"}, {0.5, "500ms"}, {0.0015, "1.5ms"},
        {-2e-9, "-2ns"}, {3e-10, "300ps"}, {12.25, "12.25s"}, {2e-6, "2us"}, {1.67e-8, "16.7ns"}, {-0.2, "-200ms"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatTime(c.seconds), c.text) << c.seconds;
    std::string text = "kept";
    EXPECT_TRUE(FormatTime(1.0, &text));
    EXPECT_EQ(text, "1s");
}

TEST(ChartText, ReadingsKeepOnePrecisionPerZoom)
{
    // The step of a zoom: the power of ten a pixel still resolves.
    struct { double pixelsPerSecond; double step; } steps[] = {
        {40.0, 1e-2},  // a 24 s capture fitted on 1000 px
        {100.0, 1e-2}, {1e8, 1e-8}, {1.6e8, 1e-9}, {4e8, 1e-9}, {1e10, 1e-10},
        {0.5, 1.0}, {1e14, 1e-12}, {0.0, 1.0}, {-3.0, 1.0},
        {1e8 * (1 + 1e-12), 1e-8},  // a zoom a rounding error off a power of ten keeps its step
    };
    for (const auto& c : steps) EXPECT_DOUBLE_EQ(ReadingStep(c.pixelsPerSecond), c.step) << c.pixelsPerSecond;

    // Every time of a zoom carries its step's digits in its own unit.
    struct { double seconds; double step; const char* text; } cases[] = {
        {1.82763119753, 1e-8, "1.82763120s"}, {587.927e-6, 1e-8, "587.93us"}, {0.5, 1e-8, "500.00000ms"},
        {24.0, 1e-8, "24.00000000s"}, {3e-9, 1e-8, "0s"}, {7e-9, 1e-8, "10ns"},
        {1.82763119753, 1e-2, "1.83s"}, {0.0376, 1e-2, "40ms"}, {587.927e-6, 1e-2, "0s"},
        {999.9996e-6, 1e-6, "1.000ms"},     // rounding carries into the next unit
        {1.5e-11, 1e-12, "15ps"}, {2.0004e-9, 1e-12, "2.000ns"}, {1830.4, 1.0, "1830s"}, {0.0, 1e-8, "0s"},
        {-0.0015, 1e-6, "-1.500ms"},         // a band's width is never negative, but no reading loses its sign
        {1.82763119753, 0.3, "1.8s"},        // a step off the powers of ten takes the nearest
        {1.82763119753, 1e-20, "1.827631197530s"},  // no finer than 1 ps
        {2e6, 1e-12, "2000000.00000000s"},        // too many steps for an integer: coarser, never garbage
    };
    for (const auto& c : cases) EXPECT_EQ(ReadingText(c.seconds, c.step), c.text) << c.seconds << " at " << c.step;
}

TEST(ChartText, PacketTypeNamesMarkDamagedPids)
{
    struct { uint8_t pid; const char* type; const char* painter; } cases[] = {
        {0xA5, "SOF", "SOF"}, {0x12, "Error(ACK)", "ACK"}, {0x00, "BusSemp", " "}, {0xD2, "ACK", "ACK"},
        {0x3C, "PRE/ERR", "PRE/ERR"}, {0xF0, "BusSemp", " "}, {0x69, "IN", "IN"}, {0x1F, "Error(MDATA)", "MDATA"}, {0x0F, "MDATA", "MDATA"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PacketTypeName(c.pid), c.type) << int(c.pid);
        EXPECT_STREQ(PidName(c.pid), c.painter) << int(c.pid);
    }
}

TEST(ChartText, InfoStripTexts)
{
    EXPECT_EQ(SelectionText(0.002, 0.001, 1e-3), "开始：1ms | 结束：2ms | 宽度：1ms");
    EXPECT_EQ(SelectionText(0.0015, 1.82763119753, 1e-5), "开始：1.50ms | 结束：1.82763s | 宽度：1.82613s");
    EXPECT_EQ(PacketCountText(42), "包数量：42");
    EXPECT_EQ(HoverText(0.5, 7, 0xA5, 1e-3), "时间：500ms | 包序号：7 | 包类型：SOF");
    EXPECT_EQ(HoverText(0.5, 7, 0xA5, 1e-6), "时间：500.000ms | 包序号：7 | 包类型：SOF");
    EXPECT_EQ(HoverText(0.5, -1, 0, 1e-3), "时间：500ms") << "no packet near the pointer";
    EXPECT_EQ(JoinInfo("a", "b"), "a | b");
    EXPECT_EQ(UsageUnitText(50), "(%)");
    EXPECT_EQ(UsageUnitText(49), "(‰)");
}
