// The charts' texts: byte sizes and times at their unit boundaries, packet
// type names with damaged check nibbles, and the info strip texts.
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
    EXPECT_EQ(SelectionText(0.002, 0.001), "开始：1ms | 结束：2ms | 宽度：1ms");
    EXPECT_EQ(PacketCountText(42), "包数量：42");
    EXPECT_EQ(HoverText(0.5, 7, 0xA5), "时间：500ms | 包序号：7 | 包类型：SOF");
    EXPECT_EQ(JoinInfo("a", "b"), "a | b");
    EXPECT_EQ(UsageUnitText(50), "(%)");
    EXPECT_EQ(UsageUnitText(49), "(‰)");
}
