#include "FindCondition.h"

#include <algorithm>

#include "CPacketList.h"
#include "CPacketListCells.h"

namespace orvane::app {

uint32_t FindPidBit(uint16_t itemType)
{
    // By PID nibble: OUT 1, ACK 2, DATA0 3, PING 4, SOF 5, NYET 6, DATA2 7,
    // SPLIT 8, IN 9, NAK 10, DATA1 11, PRE 12, SETUP 13, STALL 14, MDATA 15.
    static constexpr uint32_t kBits[16] = {
        0, 1u << 2, 1u << 8, 1u << 4, 1u << 3, 0, 1u << 11, 1u << 6,
        0, 1u << 1, 1u << 9, 1u << 5, 0, 1u << 0, 1u << 10, 1u << 7,
    };
    return itemType >= 1 && itemType <= 15 ? kBits[itemType] : 0;
}


int64_t SearchBytes(const uint8_t* bytes, size_t count, const std::vector<uint8_t>& pattern)
{
    const size_t m = pattern.size();
    if (m == 0 || count < m) return -1;
    const uint8_t* end = bytes + count;
    const uint8_t* hit = std::search(bytes, end, pattern.begin(), pattern.end());
    return hit == end ? -1 : int64_t(hit - bytes);
}

namespace {

bool MatchTransaction(UsbItem* item, const FindCondition& c, CPacketListCells& cells, int64_t* offset,
                      int64_t* length)
{
    if (item->type < ItemInTransaction || item->type > ItemPingTransaction) return false;
    if (c.address != -1 && c.address != item->address) return false;
    if (c.endpoint != -1 && c.endpoint != item->endpoint) return false;
    if (c.usePidCombination) {
        uint32_t bits = 0;
        for (UsbItem* packet : item->children) bits |= FindPidBit(packet->type);
        if (bits & ~c.pidMask) return false;
        for (uint32_t group : {FindTokenBits, FindDataBits, FindHandshakeBits})
            if (((c.pidMask & group) != 0) != ((bits & group) != 0)) return false;
    }
    if (c.data.empty() && c.size < 0) return true;
    size_t n = 0;
    const std::vector<uint8_t>& bytes = cells.GetItemData(item, &n);
    if (c.size >= 0 && n != size_t(c.size)) return false;
    if (c.data.empty()) return true;
    const int64_t at = SearchBytes(bytes.data(), n, c.data);
    if (at < 0) return false;
    *offset = at;
    *length = int64_t(c.data.size());
    return true;
}

bool MatchRow(UsbItem* item, const FindCondition& c, CPacketListCells& cells, int64_t* offset, int64_t* length)
{
    if (c.rowAddress != -1 && c.rowAddress != item->address) return false;
    if (c.rowEndpoint != -1 && c.rowEndpoint != item->endpoint) return false;
    ItemSummary s;
    cells.Summarize(item, s);
    if (c.rowInterface >= 0 && c.rowInterface != s.interface) return false;
    if (c.rowSize >= 0 && c.rowSize != s.size) return false;
    if (c.rowSpeed >= 0 && c.rowSpeed != s.speed) return false;
    if (c.rowStatus >= 0 && c.rowStatus != s.status) return false;
    if (!c.rowText.empty() &&
        CPacketList::UpperAscii(s.name).find(CPacketList::UpperAscii(c.rowText)) == std::string::npos)
        return false;
    if (c.rowData.empty()) return true;
    if (s.size < 0 || c.rowData.size() > size_t(s.size)) return false;
    size_t n = 0;
    const std::vector<uint8_t>& bytes = cells.GetItemData(item, &n);
    const int64_t at = SearchBytes(bytes.data(), n, c.rowData);
    if (at < 0) return false;
    *offset = at;
    *length = int64_t(c.rowData.size());
    return true;
}

}  // namespace

bool MatchFindCondition(UsbItem* item, const FindCondition& condition, CPacketListCells& cells, int64_t* offset,
                        int64_t* length)
{
    *offset = *length = -1;
    if (!item) return false;
    return condition.mode == 0 ? MatchTransaction(item, condition, cells, offset, length)
                               : MatchRow(item, condition, cells, offset, length);
}

}  // namespace orvane::app
