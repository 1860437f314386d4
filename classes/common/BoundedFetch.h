// Reading an item's bytes in a class decoder, never past a buffer's end.
//
// IDecode::GetData writes at most `capacity` bytes and answers the item's full
// length. These wrap that contract so no decoder reads a length it did not
// get or keeps stale bytes of an earlier item:
//
//   uint8_t cbw[31];
//   if (FetchExact(Host(), item, cbw)) ...              // exactly 31 bytes, or nothing
//   std::vector<uint8_t> data;
//   uint32_t total = FetchAll(this, transfer, data, 1024);  // data holds min(total, 1024)
//   ConcatChildData(this, *phase, buffer, capacity, keep);  // a phase's children in order
//
// `source` is the host for items the decoder does not own, or the decoder
// itself (`this`) so that its own class-level items fetch recursively.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "IDecode.h"

namespace orvane {

constexpr uint32_t kNoFetchLimit = 0xFFFFFFFFu;

// Fills at most buffer.size() bytes and answers the full length (negative
// when the source does not know the item). Only the first
// min(length, buffer.size()) bytes of `buffer` are the item's.
int32_t FetchBounded(IDecode* source, UsbItem* item, std::span<uint8_t> buffer);

// True when the item's data are exactly buffer.size() bytes, now in `buffer`.
// On false `buffer` is zeroed, so nothing of an earlier item shows through.
bool FetchExact(IDecode* source, UsbItem* item, std::span<uint8_t> buffer);

// The item's data, at most `limit` bytes of them, into `out` (sized to what it
// holds); answers the full length, 0 for an unknown item. The full length may
// exceed out.size() when the limit cut it.
uint32_t FetchAll(IDecode* source, UsbItem* item, std::vector<uint8_t>& out, uint32_t limit = kNoFetchLimit);

// The data of the children of `parent` that `take` accepts (all when empty),
// end to end in child order, written up to `capacity`; answers their total
// length. `buffer` may be null to learn the length. They end with the first
// child that lost payload (NotifyPayloadLost): nothing after it has a known place.
int32_t ConcatChildData(IDecode* source, const UsbItem& parent, uint8_t* buffer, uint32_t capacity,
                        const std::function<bool(const UsbItem&)>& take = {});

}  // namespace orvane
