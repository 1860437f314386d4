// Large zeroed anonymous memory in transparent huge pages: a capture's
// hundreds of megabytes then fault in 2 MiB at a time, not 4 KiB.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace orvane {

constexpr size_t kHugePageBytes = 2u << 20;

// `bytes` (a multiple of kHugePageBytes) starting on a huge-page boundary;
// `populate` faults it all in at once, for memory about to be filled. Null
// when the system has no memory for it. Give it back with munmap.
inline void* MapHugePages(size_t bytes, bool populate) {
    // Over-mapped by a huge page and trimmed, so every part of it can be one.
    void* raw = ::mmap(nullptr, bytes + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = (uintptr_t(raw) + kHugePageBytes - 1) & ~uintptr_t(kHugePageBytes - 1);
    const size_t head = start - uintptr_t(raw);
    if (head) ::munmap(raw, head);
    if (kHugePageBytes - head) ::munmap(reinterpret_cast<void*>(start + bytes), kHugePageBytes - head);
    void* p = reinterpret_cast<void*>(start);
    ::madvise(p, bytes, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    if (populate) ::madvise(p, bytes, MADV_POPULATE_WRITE);  // an older kernel refuses: pages fault in as used
#endif
    return p;
}

}  // namespace orvane
