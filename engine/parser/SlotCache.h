// A builder's own handful of pool slots of one size, refilled in batches, so
// making an item costs no call into the pool.
#pragma once

#include <cstddef>

#include "UsbItem.h"

namespace orvane {

template <size_t Bytes, size_t Batch = 256>
class SlotCache {
public:
    SlotCache() = default;
    SlotCache(const SlotCache&) = delete;
    SlotCache& operator=(const SlotCache&) = delete;
    ~SlotCache() {
        for (size_t i = refilled_ - count_; i < refilled_; ++i) ItemPoolFree(slots_[i], Bytes);
    }

    void* Get() {
        if (count_ == 0) {
            // Refills grow to the full batch, so a parse of a few records takes few slots.
            ItemPoolAllocateBatch(Bytes, slots_, refill_);
            count_ = refilled_ = refill_;
            if (refill_ < Batch) refill_ = refill_ * 2 < Batch ? refill_ * 2 : Batch;
        }
        // In the order the pool hands them out: reversing every batch on top of
        // the pool's own order spreads a tree's items further at every parse.
        return slots_[refilled_ - count_--];
    }

private:
    void* slots_[Batch];
    size_t count_ = 0;
    size_t refilled_ = 0;
    size_t refill_ = Batch < 8 ? Batch : 8;
};

}  // namespace orvane
