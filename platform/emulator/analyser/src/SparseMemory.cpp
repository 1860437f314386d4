#include "SparseMemory.h"

#include <algorithm>
#include <cstring>

namespace orvane::emu {

uint32_t SparseMemory::NormaliseMask(uint32_t mask) {
    for (int shift = 1; shift < 32; shift <<= 1) mask |= mask >> shift;
    return std::min(mask, kMaxMask);
}

namespace {

// Bytes from `address` (already masked) to the end of its page or the wrap.
size_t RunLength(uint32_t address, uint32_t mask, size_t remaining) {
    uint64_t toPageEnd = SparseMemory::kPageSize - (address & (SparseMemory::kPageSize - 1));
    uint64_t toWrap = uint64_t(mask) - address + 1;
    return size_t(std::min<uint64_t>({toPageEnd, toWrap, remaining}));
}

}  // namespace

void SparseMemory::Write(uint32_t address, uint32_t mask, const uint8_t* data, size_t length) {
    uint32_t at = address & mask;
    while (length > 0) {
        size_t run = RunLength(at, mask, length);
        auto& page = pages_[at / kPageSize];
        if (!page) page = std::make_unique<uint8_t[]>(kPageSize);  // value-initialised: zero
        std::memcpy(page.get() + (at % kPageSize), data, run);
        data += run;
        length -= run;
        at = uint32_t((uint64_t(at) + run) & mask);
    }
}

void SparseMemory::Read(uint32_t address, uint32_t mask, uint8_t* out, size_t length) const {
    uint32_t at = address & mask;
    while (length > 0) {
        size_t run = RunLength(at, mask, length);
        auto it = pages_.find(at / kPageSize);
        if (it == pages_.end())
            std::memset(out, 0, run);
        else
            std::memcpy(out, it->second.get() + (at % kPageSize), run);
        out += run;
        length -= run;
        at = uint32_t((uint64_t(at) + run) & mask);
    }
}

void SparseMemory::Clear() { pages_.clear(); }

}  // namespace orvane::emu
