#include "CPacketListColumns.h"

#include <algorithm>

#include "SettingStore.h"

namespace orvane::app {

namespace {

const CPacketListColumns::Info kColumns[CPacketListColumns::kCount] = {
    {"Item", 250, true},      {"Address", 80, true},   {"Endpoint", 80, true},
    {"Interface", 80, true},  {"Speed", 80, true},     {"Status", 80, true},
    {"Data", 200, false},     {"Size", 80, true},      {"Time", 120, true},
    {"Duration", 120, false}, {"Idle", 120, false},    {"Packet #", 80, false},
};

}  // namespace

CPacketListColumns::CPacketListColumns()
{
    for (int i = 0; i < kCount; ++i) {
        order_[size_t(i)] = i;
        width_[size_t(i)] = kColumns[i].defaultWidth;
        visible_[size_t(i)] = kColumns[i].defaultVisible ? 1 : 0;
    }
}

const CPacketListColumns::Info& CPacketListColumns::InfoOf(int column)
{
    return kColumns[Valid(column) ? column : 0];
}

void CPacketListColumns::RepairOrder(std::array<int, kCount>& order)
{
    // A short or hand-edited list can repeat or lose columns: keep the first
    // of each, then the missing ones in index order.
    std::array<bool, kCount> seen{};
    std::vector<int> kept;
    for (int column : order)
        if (Valid(column) && !seen[size_t(column)]) {
            seen[size_t(column)] = true;
            kept.push_back(column);
        }
    for (int column = 0; column < kCount; ++column)
        if (!seen[size_t(column)]) kept.push_back(column);
    std::copy(kept.begin(), kept.end(), order.begin());
}

void CPacketListColumns::Load(SettingStore& settings)
{
    std::array<int, kCount> order = order_, width = width_, visible = visible_;
    if (!settings.ExchangeListLayout(order.data(), width.data(), visible.data(), kCount, true)) return;
    RepairOrder(order);
    order_ = order;
    for (size_t i = 0; i < size_t(kCount); ++i) {
        width_[i] = std::max(0, width[i]);
        visible_[i] = visible[i] ? 1 : 0;
    }
    // "Item" cannot be shown again from the header menu, so it is never hidden.
    if (!visible_[0]) {
        visible_[0] = 1;
        width_[0] = std::max(width_[0], kMinShownWidth);
    }
}

void CPacketListColumns::Save(SettingStore& settings) const
{
    std::array<int, kCount> order = order_, width = width_, visible = visible_;
    settings.ExchangeListLayout(order.data(), width.data(), visible.data(), kCount, false);
}

bool CPacketListColumns::ShowColumn(int column, bool show)
{
    if (!Valid(column) || column == 0 || Visible(column) == show) return false;
    size_t c = size_t(column);
    if (show) width_[c] = std::max(width_[c], kMinShownWidth);
    visible_[c] = show ? 1 : 0;
    return true;
}

bool CPacketListColumns::SetWidth(int column, int width)
{
    if (!Visible(column)) return false;
    width_[size_t(column)] = std::max(0, width);
    return true;
}

bool CPacketListColumns::SetOrder(const std::vector<int>& order)
{
    if (order.size() != size_t(kCount)) return false;
    std::array<bool, kCount> seen{};
    for (int column : order) {
        if (!Valid(column) || seen[size_t(column)]) return false;
        seen[size_t(column)] = true;
    }
    std::copy(order.begin(), order.end(), order_.begin());
    return true;
}

std::vector<int> CPacketListColumns::ShownInDisplayOrder() const
{
    std::vector<int> shown;
    for (int column : order_)
        if (Visible(column)) shown.push_back(column);
    return shown;
}

std::vector<int> CPacketListColumns::ShownByIndex() const
{
    std::vector<int> shown;
    for (int column = 0; column < kCount; ++column)
        if (Visible(column)) shown.push_back(column);
    return shown;
}

bool CPacketListColumns::ItemColumnFirst() const
{
    for (int column : order_)
        if (Visible(column)) return column == 0;
    return false;
}

std::vector<CPacketListColumns::MenuEntry> CPacketListColumns::HeaderMenu() const
{
    std::vector<MenuEntry> menu;
    for (int column = 0; column < kCount; ++column)
        menu.push_back({column, kColumns[column].title, Visible(column), column != 0});
    return menu;
}

}  // namespace orvane::app
