// The packet list's twelve columns: titles, widths, shown or hidden, display
// order, and their layout kept in the per-user settings. A hidden column stays
// in the header with width 0 and remembers the width it had.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace orvane::app {

class SettingStore;

class CPacketListColumns {
public:
    static constexpr int kCount = 12;
    static constexpr int kMinShownWidth = 50;

    struct Info {
        const char* title;
        int defaultWidth;
        bool defaultVisible;
    };
    struct MenuEntry {
        int command;  // the column index
        std::string title;
        bool checked;
        bool enabled;
    };

    CPacketListColumns();

    static const Info& InfoOf(int column);
    static bool Valid(int column) { return column >= 0 && column < kCount; }

    // Defaults overlaid with the stored layout, as far as it goes.
    void Load(SettingStore& settings);
    void Save(SettingStore& settings) const;

    bool Visible(int column) const { return Valid(column) && visible_[size_t(column)]; }
    // The width the header shows: 0 for a hidden column.
    int Width(int column) const { return Visible(column) ? width_[size_t(column)] : 0; }
    // The width kept for a hidden column, the current one for a shown column.
    int KeptWidth(int column) const { return Valid(column) ? width_[size_t(column)] : 0; }
    const std::array<int, kCount>& Order() const { return order_; }

    // False when nothing changed: a column out of range, or "Item", which
    // always stays so the tree stays reachable.
    bool ShowColumn(int column, bool show);
    // Command ids 0 to 11 flip their column.
    bool ToggleColumn(int column) { return ShowColumn(column, !Visible(column)); }
    // From the header after a resize; false (refused) for a hidden column.
    bool SetWidth(int column, int width);
    // From the header after a drag; anything but a permutation of 0-11 is refused.
    bool SetOrder(const std::vector<int>& order);

    // Shown columns in display order (drawing) and by index (copying).
    std::vector<int> ShownInDisplayOrder() const;
    std::vector<int> ShownByIndex() const;
    // The first shown column in display order is "Item": the tree's expand
    // boxes then sit right of the mark area.
    bool ItemColumnFirst() const;
    std::vector<MenuEntry> HeaderMenu() const;

private:
    static void RepairOrder(std::array<int, kCount>& order);

    std::array<int, kCount> order_{};
    std::array<int, kCount> width_{};
    std::array<int, kCount> visible_{};
};

}  // namespace orvane::app
