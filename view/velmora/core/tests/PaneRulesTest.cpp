// The pane's rules without a window: chart layout of 1-5 charts, groups and
// "同步视图", partners across the two families, and the zoom-tool states.
#include <gtest/gtest.h>

#include "ChartCommands.h"
#include "ChartGroups.h"

using namespace orvane::velmora;

TEST(PaneRules, ChartsShareTheHeightTheLastTakesTheRest)
{
    ChartRect area{0, 30, 400, 331};  // 301 pixels
    struct { int32_t n; std::vector<int32_t> tops; int32_t lastTop; } cases[] = {
        {1, {30}, 30}, {2, {30, 180}, 180}, {3, {30, 130, 230}, 230}, {4, {30, 105, 180, 255}, 255},
        {5, {30, 90, 150, 210, 270}, 270},
    };
    for (const auto& c : cases) {
        auto rects = LayoutCharts(area, c.n);
        ASSERT_EQ(int32_t(rects.size()), c.n);
        for (int32_t i = 0; i < c.n; ++i) {
            EXPECT_EQ(rects[size_t(i)].top, c.tops[size_t(i)]);
            EXPECT_EQ(rects[size_t(i)].left, 0);
            EXPECT_EQ(rects[size_t(i)].right, 400);
            if (i + 1 < c.n) {
                EXPECT_EQ(rects[size_t(i)].bottom, rects[size_t(i) + 1].top);
            }
        }
        EXPECT_EQ(rects.back().bottom, 331);
    }
    EXPECT_TRUE(LayoutCharts(area, 0).empty());
}

TEST(PaneRules, SyncViewsSplitsAndJoinsTheGroups)
{
    ChartGroups groups;
    EXPECT_FALSE(groups.AllInOneGroup());
    groups.Show(ChartTraffic, 0);
    EXPECT_FALSE(groups.AllInOneGroup()) << "one chart is no group";
    groups.Show(ChartDataLength, 0);
    groups.Show(ChartSpeed, 0);
    EXPECT_FALSE(groups.Show(ChartSpeed, 3));
    EXPECT_TRUE(groups.AllInOneGroup());
    EXPECT_EQ(groups.Regroup(true), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_FALSE(groups.AllInOneGroup());
    EXPECT_EQ(groups.Members(1), (std::vector<int32_t>{ChartDataLength}));
    EXPECT_EQ(groups.Regroup(false), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(groups.Members(0), (std::vector<int32_t>{ChartTraffic, ChartDataLength, ChartSpeed}));
    EXPECT_EQ(groups.GroupOf(ChartBusUsage), 0) << "not shown";
    EXPECT_FALSE(groups.SetGroup(ChartBusUsage, 2));
    EXPECT_TRUE(groups.Hide(ChartTraffic));
    EXPECT_EQ(groups.Shown().front().cls, ChartDataLength);
    EXPECT_FALSE(groups.Hide(ChartTraffic));
}

TEST(PaneRules, PartnersStayInTheirFamilyButOnceAfterALoad)
{
    ChartGroups groups;
    groups.Show(ChartSpeed, 0);
    groups.Show(ChartTraffic, 0);
    groups.Show(ChartBusUsage, 1);
    groups.Show(ChartPacketLength, 0);
    EXPECT_EQ(groups.FindPartner(ChartTraffic), ChartPacketLength);
    EXPECT_EQ(groups.FindPartner(ChartSpeed), -1) << "the bus-usage chart is in another group";
    groups.firstSyncPending = true;
    EXPECT_EQ(groups.FindPartner(ChartSpeed), ChartTraffic) << "a per-bin chart follows the packets once";
    EXPECT_FALSE(groups.firstSyncPending);
    EXPECT_EQ(groups.FindPartner(ChartSpeed), -1);
    groups.SetGroup(ChartBusUsage, 0);
    EXPECT_EQ(groups.FindPartner(ChartSpeed), ChartBusUsage);
}

TEST(PaneRules, ZoomToolsEnableAndFallBackToThePointer)
{
    ZoomTests fit{true, false, true, false, false, true};  // a fitted packet-type chart
    struct { uint32_t id; bool hasChart, hasSource; uint32_t mode; CommandState state; uint32_t modeAfter; } cases[] = {
        {CmdPointer, true, false, CmdPointer, {true, true}, CmdPointer},
        {CmdZoomInH, true, false, CmdZoomInH, {false, false}, CmdPointer},  // no capture: back to the pointer
        {CmdZoomInH, true, true, CmdZoomInH, {true, true}, CmdZoomInH},
        {CmdZoomOutH, true, true, CmdZoomOutH, {false, false}, CmdPointer},
        {CmdFitH, true, true, CmdPointer, {false, false}, CmdPointer},
        {CmdZoomInV, true, true, CmdPointer, {false, false}, CmdPointer},
        {CmdFitV, true, true, CmdPointer, {false, false}, CmdPointer},
        {CmdPointer, false, true, CmdPointer, {false, false}, CmdPointer},
    };
    for (const auto& c : cases) {
        uint32_t mode = c.mode;
        EXPECT_EQ(ZoomToolState(c.id, c.hasChart, c.hasSource, fit, &mode), c.state) << c.id;
        EXPECT_EQ(mode, c.modeAfter) << c.id;
    }
    EXPECT_EQ(PickTool(CmdPointer, CmdZoomInH), uint32_t(CmdZoomInH));
    EXPECT_EQ(PickTool(CmdZoomInH, CmdZoomInH), uint32_t(CmdPointer));
}
