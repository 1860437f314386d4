// The packet list's columns: defaults, showing and hiding with kept widths,
// "Item" always shown, the header menu, and the layout in the user settings,
// including stored layouts that are short or damaged.
#include <gtest/gtest.h>

#include <numeric>

#include "CPacketListColumns.h"
#include "SettingStore.h"

using orvane::app::CPacketListColumns;
using orvane::app::SettingStore;

namespace {

using Ints = std::vector<int>;

Ints Iota()
{
    Ints v(CPacketListColumns::kCount);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

Ints OrderOf(const CPacketListColumns& columns)
{
    return Ints(columns.Order().begin(), columns.Order().end());
}

TEST(ColumnsTest, HiddenColumnsComeBackAtTheirWidthOrAtLeast50)
{
    CPacketListColumns columns;
    struct { int column; int width; int restored; } cases[] = {{1, 30, 50}, {2, 120, 120}, {7, 50, 50}};
    for (const auto& c : cases) {
        ASSERT_TRUE(columns.SetWidth(c.column, c.width));
        ASSERT_TRUE(columns.ToggleColumn(c.column));
        EXPECT_EQ(columns.Width(c.column), 0);
        EXPECT_EQ(columns.KeptWidth(c.column), c.width);
        EXPECT_FALSE(columns.SetWidth(c.column, 300)) << "a hidden column's divider does not move";
        ASSERT_TRUE(columns.ShowColumn(c.column, true));
        EXPECT_EQ(columns.Width(c.column), c.restored);
    }
    EXPECT_FALSE(columns.ShowColumn(3, true));  // already shown
    EXPECT_FALSE(columns.ShowColumn(12, true));
    EXPECT_TRUE(columns.ShowColumn(6, true));
    EXPECT_EQ(columns.Width(6), 200);
}

TEST(ColumnsTest, ItemCannotBeHiddenAndIsGreyInTheHeaderMenu)
{
    CPacketListColumns columns;
    EXPECT_EQ(columns.ShownByIndex(), (Ints{0, 1, 2, 3, 4, 5, 7, 8}));
    EXPECT_FALSE(columns.ToggleColumn(0));
    EXPECT_TRUE(columns.Visible(0));
    auto menu = columns.HeaderMenu();
    ASSERT_EQ(menu.size(), 12u);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(menu[size_t(c)].checked, columns.Visible(c));
        EXPECT_EQ(menu[size_t(c)].enabled, c != 0);
    }
}

TEST(ColumnsTest, OrderMovesOnlyAsAPermutation)
{
    CPacketListColumns columns;
    EXPECT_FALSE(columns.SetOrder({1, 0}));
    EXPECT_FALSE(columns.SetOrder({1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_FALSE(columns.SetOrder({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}));
    ASSERT_TRUE(columns.SetOrder({1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_FALSE(columns.ItemColumnFirst());
    EXPECT_EQ(columns.ShownInDisplayOrder(), (Ints{1, 0, 2, 3, 4, 5, 7, 8}));
    // A hidden column in front does not count.
    columns.ShowColumn(1, false);
    EXPECT_TRUE(columns.ItemColumnFirst());
}

TEST(ColumnsTest, LayoutRoundTripsThroughTheSettings)
{
    SettingStore settings("");
    CPacketListColumns columns;
    columns.Load(settings);  // empty stored lists keep the defaults
    EXPECT_EQ(OrderOf(columns), Iota());

    columns.SetOrder({3, 2, 1, 0, 4, 5, 6, 7, 8, 9, 10, 11});
    columns.SetWidth(0, 300);
    columns.SetWidth(4, 40);
    columns.ShowColumn(4, false);
    columns.ShowColumn(11, true);
    columns.Save(settings);

    CPacketListColumns loaded;
    loaded.Load(settings);
    EXPECT_EQ(OrderOf(loaded), OrderOf(columns));
    for (int c = 0; c < CPacketListColumns::kCount; ++c) {
        EXPECT_EQ(loaded.Visible(c), columns.Visible(c)) << c;
        EXPECT_EQ(loaded.KeptWidth(c), columns.KeptWidth(c)) << c;
    }
    EXPECT_EQ(loaded.KeptWidth(4), 40);
}

TEST(ColumnsTest, ShortOrDamagedStoredLayouts)
{
    struct Case {
        Ints order, width, visible;
        Ints expectOrder;
        int itemWidth;
    } cases[] = {
        // Only the first display positions move.
        {{2, 0, 1}, {}, {}, {2, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 250},
        // Repeats and unknown columns are dropped, the missing ones follow.
        {{3, 0}, {}, {}, {3, 0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 1}, 250},
        {{-1, 99, 5}, {}, {}, {5, 3, 4, 6, 7, 8, 9, 10, 11, 0, 1, 2}, 250},
        // A hidden "Item" could never be shown again: it comes back.
        {{}, {20}, {0}, Iota(), 50},
        {{}, {-7}, {}, Iota(), 0},
    };
    for (const Case& c : cases) {
        SettingStore settings("");
        Ints order = c.order, width = c.width, visible = c.visible;
        if (!order.empty()) settings.ExchangeListLayout(order.data(), nullptr, nullptr, int(order.size()), false);
        if (!width.empty()) settings.ExchangeListLayout(nullptr, width.data(), nullptr, int(width.size()), false);
        if (!visible.empty()) settings.ExchangeListLayout(nullptr, nullptr, visible.data(), int(visible.size()), false);
        CPacketListColumns columns;
        columns.Load(settings);
        EXPECT_EQ(OrderOf(columns), c.expectOrder);
        EXPECT_TRUE(columns.Visible(0));
        EXPECT_EQ(columns.Width(0), c.itemWidth);
    }
}

}  // namespace
