#include "ChartGroups.h"

namespace orvane::velmora {

int32_t ChartGroups::Find(int32_t cls) const
{
    for (size_t i = 0; i < shown_.size(); ++i)
        if (shown_[i].cls == cls) return int32_t(i);
    return -1;
}

bool ChartGroups::Show(int32_t cls, int32_t group)
{
    if (IsShown(cls)) return false;
    shown_.push_back({cls, group});
    return true;
}

bool ChartGroups::Hide(int32_t cls)
{
    int32_t i = Find(cls);
    if (i < 0) return false;
    shown_.erase(shown_.begin() + i);
    return true;
}

int32_t ChartGroups::GroupOf(int32_t cls) const
{
    int32_t i = Find(cls);
    return i < 0 ? 0 : shown_[size_t(i)].group;
}

bool ChartGroups::SetGroup(int32_t cls, int32_t group)
{
    int32_t i = Find(cls);
    if (i < 0) return false;
    shown_[size_t(i)].group = group;
    return true;
}

bool ChartGroups::AllInOneGroup() const
{
    if (shown_.size() < 2) return false;
    for (const ChartEntry& e : shown_)
        if (e.group != shown_[0].group) return false;
    return true;
}

std::vector<int32_t> ChartGroups::Regroup(bool syncViews)
{
    std::vector<int32_t> groups;
    if (shown_.size() < 2) return groups;
    for (size_t k = 0; k < shown_.size(); ++k) {
        shown_[k].group = syncViews ? int32_t(k) : 0;
        groups.push_back(shown_[k].group);
    }
    return groups;
}

std::vector<int32_t> ChartGroups::Members(int32_t group) const
{
    std::vector<int32_t> members;
    for (const ChartEntry& e : shown_)
        if (e.group == group) members.push_back(e.cls);
    return members;
}

int32_t ChartGroups::FindPartner(int32_t cls)
{
    int32_t group = GroupOf(cls);
    for (const ChartEntry& e : shown_) {
        if (e.cls == cls || e.group != group) continue;
        if (IsPerPacket(cls)) {
            if (IsPerPacket(e.cls)) return e.cls;
            continue;
        }
        if (!IsPerPacket(e.cls)) return e.cls;
        if (firstSyncPending) {
            firstSyncPending = false;
            return e.cls;
        }
    }
    return -1;
}

std::vector<ChartRect> LayoutCharts(const ChartRect& area, int32_t n)
{
    std::vector<ChartRect> rects;
    if (n <= 0) return rects;
    int32_t h = (area.bottom - area.top) / n;
    for (int32_t i = 0; i < n; ++i) {
        int32_t top = area.top + i * h;
        rects.push_back({area.left, top, area.right, i == n - 1 ? area.bottom : top + h});
    }
    return rects;
}

}  // namespace orvane::velmora
