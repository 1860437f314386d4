// The charts of a pane as the pane arranges them: their order on screen,
// their synchronisation groups, who partners whom when a chart of the other
// family takes over a view, and their rectangles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::velmora {

enum ChartClass : int32_t { ChartTraffic = 0, ChartPacketLength, ChartDataLength, ChartBusUsage, ChartSpeed };
constexpr int32_t kChartClasses = 5;

constexpr uint32_t ChartBitOf(int32_t cls) { return 1u << cls; }
// Registry sub-key names, misspelling included: stored settings use them.
constexpr std::array<const char*, kChartClasses> kChartClassNames = {"CTrafficCtrl", "CPacketLenght", "CDataLength",
                                                                     "CBusUsage", "CSpeed"};
constexpr std::array<const char*, kChartClasses> kChartCaptions = {"包类型", "包长度", "数据长度", "总线使用率",
                                                                   "传输速率"};
constexpr std::array<const char*, kChartClasses> kChartPrompts = {
    "显示包类型视图", "显示包长度视图", "显示数据长度视图", "显示总线利用率视图", "显示传输速率视图"};
// Per packet (time axis of records) or per bin (time axis of summed bins).
constexpr bool IsPerPacket(int32_t cls) { return cls <= ChartDataLength; }

struct ChartEntry {
    int32_t cls = 0;
    int32_t group = 0;
    friend bool operator==(const ChartEntry&, const ChartEntry&) = default;
};

struct ChartRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const ChartRect&, const ChartRect&) = default;
};

class ChartGroups {
public:
    const std::vector<ChartEntry>& Shown() const { return shown_; }
    bool IsShown(int32_t cls) const { return Find(cls) >= 0; }
    // Appended at the bottom; false when already shown.
    bool Show(int32_t cls, int32_t group);
    bool Hide(int32_t cls);

    int32_t GroupOf(int32_t cls) const;
    bool SetGroup(int32_t cls, int32_t group);
    bool AllInOneGroup() const;
    // "同步视图": every chart its own group when `syncViews`, else all in group 0.
    // Returns the new groups in screen order.
    std::vector<int32_t> Regroup(bool syncViews);
    // Shown charts of a group, in screen order.
    std::vector<int32_t> Members(int32_t group) const;
    // The chart whose view a chart of the other family adopts; -1 for none.
    int32_t FindPartner(int32_t cls);

    bool firstSyncPending = false;

private:
    int32_t Find(int32_t cls) const;
    std::vector<ChartEntry> shown_;
};

// n charts stacked in the area, the last reaching its bottom.
std::vector<ChartRect> LayoutCharts(const ChartRect& area, int32_t n);

}  // namespace orvane::velmora
