#include "BoundedFetch.h"

#include <algorithm>
#include <cstring>

namespace orvane {

namespace {

// A first guess that holds most single transactions, so one call usually does.
constexpr uint32_t kFirstTry = 1024;

}  // namespace

int32_t FetchBounded(IDecode* source, UsbItem* item, std::span<uint8_t> buffer)
{
    if (!source || !item) return -1;
    const auto capacity = uint32_t(std::min<size_t>(buffer.size(), 0x7FFFFFFF));
    return source->GetData(item, capacity ? buffer.data() : nullptr, capacity);
}

bool FetchExact(IDecode* source, UsbItem* item, std::span<uint8_t> buffer)
{
    const int32_t length = FetchBounded(source, item, buffer);
    if (length >= 0 && size_t(length) == buffer.size()) return true;
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    return false;
}

uint32_t FetchAll(IDecode* source, UsbItem* item, std::vector<uint8_t>& out, uint32_t limit)
{
    out.resize(std::min(limit, kFirstTry));
    int32_t length = FetchBounded(source, item, out);
    if (length < 0) {
        out.clear();
        return 0;
    }
    const uint32_t wanted = std::min(uint32_t(length), limit);
    if (wanted > out.size()) {
        out.resize(wanted);
        // The item may not answer the same twice (a fuzzed host); keep what is sure.
        const int32_t again = FetchBounded(source, item, out);
        if (again < 0) {
            out.clear();
            return 0;
        }
        length = again;
    }
    out.resize(std::min<size_t>(out.size(), uint32_t(length)));
    return uint32_t(length);
}

int32_t ConcatChildData(IDecode* source, const UsbItem& parent, uint8_t* buffer, uint32_t capacity,
                        const std::function<bool(const UsbItem&)>& take)
{
    uint32_t total = 0;
    if (!buffer) capacity = 0;
    for (UsbItem* child : parent.children) {
        if (take && !take(*child)) continue;
        const uint32_t room = capacity > total ? capacity - total : 0;
        const int32_t n = source ? source->GetData(child, room ? buffer + total : nullptr, room) : -1;
        if (n > 0) {
            // Totals beyond 2 GB cannot be answered as a length; stop counting there.
            if (uint32_t(n) > 0x7FFFFFFFu - total) return 0x7FFFFFFF;
            total += uint32_t(n);
        }
        // Bytes after a packet the capture lacks would land where its own belong.
        // A transaction that lost its packet's payload yields none, so only an
        // empty one, or an item of several packets, is asked.
        if ((n == 0 || (n > 0 && child->type >= ItemControlTransfer)) &&
            source->OnNotify(NotifyPayloadLost, child, 0) == 1)
            break;
    }
    return int32_t(total);
}

}  // namespace orvane
