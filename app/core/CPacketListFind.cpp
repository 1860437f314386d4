#include "CPacketListFind.h"

#include <algorithm>

namespace orvane::app {

bool CPacketListFind::MatchTree(UsbItem* item, bool forward, uint32_t start, Hit& hit)
{
    if (!CPacketListRows::Shown(item)) return false;
    const bool beyond = forward ? item->firstRecord > start : item->firstRecord < start;
    if (beyond && MatchFindCondition(item, condition_, list_.Cells(), &hit.offset, &hit.length)) {
        hit.item = item;
        return true;
    }
    // A transaction condition matches transactions only: their packets need no visit.
    if (condition_.mode == 0 && item->type >= ItemInTransaction && item->type <= ItemPingTransaction) return false;
    const uint32_t n = item->children.size();
    for (uint32_t i = 0; i < n; ++i)
        if (MatchTree(item->children[forward ? i : n - 1 - i], forward, start, hit)) return true;
    return false;
}

CPacketListFind::Outcome CPacketListFind::FindItem(int selectedRow, bool forward, Hit& hit, const Progress& progress)
{
    hit = Hit();
    UsbItem* selected = selectedRow >= 0 ? list_.Rows().ItemAtRow(selectedRow) : nullptr;
    const uint32_t start = selected ? selected->firstRecord : 0xFFFFFFFFu;
    CPacketListRows& rows = list_.Rows();
    std::vector<UsbItem*> items;
    uint32_t first = 0, last = 0;
    // Forward sees blocks the worker appends meanwhile; backward starts from
    // the blocks there are now.
    const size_t total = rows.BlockCount();
    for (size_t done = 0;; ++done) {
        const size_t block = forward ? done : total - 1 - done;
        if ((!forward && done >= total) || !rows.CopyBlock(block, items, &first, &last)) break;
        if (forward && last > start) {
            for (UsbItem* top : items)
                if (MatchTree(top, true, start, hit)) {
                    hit.top = top;
                    return Outcome::Found;
                }
        } else if (!forward && first < start) {
            for (auto it = items.rbegin(); it != items.rend(); ++it)
                if (MatchTree(*it, false, start, hit)) {
                    hit.top = *it;
                    return Outcome::Found;
                }
        }
        if (progress && !progress(done + 1, std::max(total, done + 1))) {
            hit = Hit();
            return Outcome::Cancelled;
        }
    }
    hit = Hit();
    return Outcome::NotFound;
}

bool CPacketListFind::SetAsFindCondition(int row)
{
    UsbItem* item = row >= 0 ? list_.Rows().ItemAtRow(row) : nullptr;
    if (!item) return false;
    ItemSummary s;
    list_.Cells().GetRowSummary(item, s);
    size_t n = 0;
    const std::vector<uint8_t>& bytes = list_.Cells().GetItemData(item, &n);
    FindCondition& c = condition_;
    c.mode = 1;
    c.rowText = s.name;
    c.rowAddress = s.address;
    c.rowEndpoint = s.endpoint;
    c.rowInterface = s.interface;
    c.rowSize = s.size;
    c.rowSpeed = s.speed;
    c.rowStatus = s.status;
    c.rowData.assign(bytes.begin(), bytes.begin() + ptrdiff_t(std::min(n, FindCondition::kMaxData)));
    return true;
}

}  // namespace orvane::app
