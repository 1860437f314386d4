// The settings panels' rules without widgets: where a panel drops down, how
// its two select buttons follow the series list, and which stored group a
// panel shows.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ChartGroups.h"

namespace orvane::velmora {

struct PanelPoint {
    int32_t x = 0, y = 0;
    friend bool operator==(const PanelPoint&, const PanelPoint&) = default;
};

// The panel's top-left corner below the settings button (screen
// coordinates): right-aligned with the button, lifted so that its bottom
// stays on the pane; nothing for a button of negative size.
inline std::optional<PanelPoint> PlaceBelow(const ChartRect& button, int32_t w, int32_t h, const ChartRect& pane)
{
    if (button.right - button.left < 0 || button.bottom - button.top < 0) return std::nullopt;
    int32_t top = button.bottom;
    if (top + h > pane.bottom) top = pane.bottom - h;
    return PanelPoint{button.right - w, top};
}

// 0 for an empty list, 1 some rows ticked, 2 all, 3 none.
inline int32_t CountCheckedRows(const std::vector<bool>& rows)
{
    if (rows.empty()) return 0;
    size_t ticked = 0;
    for (bool row : rows) ticked += row ? 1 : 0;
    return ticked == rows.size() ? 2 : ticked == 0 ? 3 : 1;
}

struct SelectButtons {
    bool enabled = false;
    std::optional<bool> all;   // nothing: the tick stays as it was
    std::optional<bool> none;
};

inline SelectButtons SelectButtonsFor(int32_t state)
{
    switch (state) {
    case 1: return {true, false, false};
    case 2: return {true, true, false};
    case 3: return {true, false, true};
    default: return {false, std::nullopt, std::nullopt};
    }
}

// A stored group the panel can show; a value outside 0-4 (as an unsigned
// number) leaves the controls as they were.
inline bool IsShowableGroup(int32_t group) { return uint32_t(group) <= 4; }

// The panels' sizes in dialog units and where their controls sit.
struct PanelRect {
    int32_t x = 0, y = 0, w = 0, h = 0;
};
struct PanelLayout {
    int32_t templateId;
    int32_t w, h;
    PanelRect group, label, combo, check, list, all, none;
    const char* option;
    bool HasList() const { return list.w > 0; }
};

constexpr PanelLayout kPanelLayouts[kChartClasses] = {
    {3004, 114, 62, {7, 3, 100, 51}, {20, 16, 17, 8}, {42, 14, 44, 58}, {20, 35, 72, 10}, {}, {}, {}, "显示浮动包图形"},
    {3005, 120, 68, {7, 3, 106, 58}, {26, 20, 17, 8}, {47, 18, 45, 62}, {26, 40, 72, 10}, {}, {}, {}, "等比例显示高度"},
    {3006, 119, 66, {7, 3, 105, 56}, {24, 18, 17, 8}, {46, 16, 48, 30}, {24, 38, 72, 10}, {}, {}, {}, "等比例显示高度"},
    {3007, 173, 141, {7, 3, 159, 131}, {22, 17, 17, 8}, {44, 15, 32, 30}, {85, 17, 72, 10}, {21, 34, 134, 78},
     {78, 118, 32, 10}, {115, 118, 40, 10}, "等比例显示高度"},
    {3008, 173, 142, {7, 3, 159, 131}, {23, 17, 17, 8}, {44, 15, 35, 30}, {91, 16, 72, 10}, {23, 32, 133, 79},
     {79, 115, 32, 10}, {116, 115, 40, 10}, "等比例显示高度"},
};

}  // namespace orvane::velmora
