// The item pool: size-classed slots carved from large chunks, with a free list
// per class and per thread, and a shared depot that moves freed slots between
// threads in batches (the document frees on the UI thread, the parser
// allocates on the worker). Chunks are kept for the next capture.
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <algorithm>
#include <vector>

#include "UsbItem.h"

namespace orvane {
namespace {

constexpr size_t kGrain = 4;
constexpr size_t kMaxSmall = 256;
constexpr size_t kClasses = kMaxSmall / kGrain + 1;
constexpr size_t kChunkBytes = 4u << 20;
constexpr size_t kMaxChunkBytes = 64u << 20;
constexpr uint32_t kBatch = 1024;

// Slots are 4-aligned (items are 28 bytes), so the free-list link is too.
#pragma pack(push, 4)
struct Node {
    Node* next;
};
#pragma pack(pop)

struct Batch {
    Node* head;
    uint32_t count;
};

std::atomic<size_t> gReserved{0};
std::atomic<int64_t> gLiveLarge{0};   // bytes handed out above kMaxSmall
std::atomic<int64_t> gLiveRetired{0}; // what caches of ended threads still had out

struct Cache;

struct Depot {
    std::mutex mutex;
    std::vector<Batch> batches[kClasses];
    std::vector<Cache*> caches;  // for the live-bytes count
};

Depot& TheDepot() {
    static Depot* depot = new Depot;  // outlives every thread's cache
    return *depot;
}

struct Cache {
    Node* head[kClasses] = {};
    uint32_t count[kClasses] = {};
    char* bump = nullptr;
    char* end = nullptr;
    size_t chunkBytes = kChunkBytes;
    // Bytes this thread took minus bytes it gave back; only the owner writes,
    // so relaxed loads and stores suffice and cost plain moves.
    std::atomic<int64_t> live{0};
    void Count(int64_t bytes) { live.store(live.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed); }

    Cache() {
        Depot& depot = TheDepot();
        std::lock_guard lock(depot.mutex);
        depot.caches.push_back(this);
    }
    ~Cache() {
        Depot& depot = TheDepot();
        std::lock_guard lock(depot.mutex);
        for (size_t c = 0; c < kClasses; ++c)
            if (head[c]) depot.batches[c].push_back({head[c], count[c]});
        gLiveRetired += live.load();
        std::erase(depot.caches, this);
    }

    void* Allocate(size_t c) {
        Count(int64_t(c * kGrain));
        if (Node* n = head[c]) {
            head[c] = n->next;
            --count[c];
            return n;
        }
        if (Refill(c)) {
            Count(-int64_t(c * kGrain));
            return Allocate(c);
        }
        size_t bytes = c * kGrain;
        if (size_t(end - bump) < bytes) NewChunk();
        void* p = bump;
        bump += bytes;
        return p;
    }

    // Chunks grow from 4 MiB to 64 MiB and are mapped in huge pages and
    // populated at once: faulting in a big capture's tree page by page costs
    // more than parsing it.
    void NewChunk() {
        size_t bytes = chunkBytes;
        if (chunkBytes < kMaxChunkBytes) chunkBytes *= 2;
        // Over-map by one huge page and trim, so the chunk starts on a 2 MiB
        // boundary and every part of it can be a huge page.
        constexpr size_t kHuge = 2u << 20;
        void* raw = ::mmap(nullptr, bytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) throw std::bad_alloc();
        const uintptr_t start = (uintptr_t(raw) + kHuge - 1) & ~uintptr_t(kHuge - 1);
        const size_t head = start - uintptr_t(raw);
        if (head) ::munmap(raw, head);
        if (kHuge - head) ::munmap(reinterpret_cast<void*>(start + bytes), kHuge - head);
        void* p = reinterpret_cast<void*>(start);
        ::madvise(p, bytes, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
        ::madvise(p, bytes, MADV_POPULATE_WRITE);  // an older kernel refuses: pages then fault in as used
#endif
        bump = static_cast<char*>(p);
        end = bump + bytes;
        gReserved += bytes;
    }

    bool Refill(size_t c) {
        Depot& depot = TheDepot();
        std::lock_guard lock(depot.mutex);
        auto& list = depot.batches[c];
        if (list.empty()) return false;
        head[c] = list.back().head;
        count[c] = list.back().count;
        list.pop_back();
        return true;
    }

    void Free(void* p, size_t c) {
        Count(-int64_t(c * kGrain));
        auto* n = static_cast<Node*>(p);
        n->next = head[c];
        head[c] = n;
        if (++count[c] < 2 * kBatch) return;
        // Hand a batch to the depot so another thread can reuse it.
        Node* first = head[c];
        Node* last = first;
        for (uint32_t i = 1; i < kBatch; ++i) last = last->next;
        head[c] = last->next;
        last->next = nullptr;
        count[c] -= kBatch;
        Depot& depot = TheDepot();
        std::lock_guard lock(depot.mutex);
        depot.batches[c].push_back({first, kBatch});
    }
};

// The library is loaded with the program, so its few bytes of TLS can be static.
__attribute__((tls_model("initial-exec"))) thread_local Cache tCache;

size_t ClassOf(size_t bytes) { return (bytes + kGrain - 1) / kGrain; }

}  // namespace

// Under AddressSanitizer every slot is its own allocation, so a use after free
// or an overrun is caught where the pool would hide it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ORVANE_ASAN)
constexpr bool kPlainHeap = true;
#else
constexpr bool kPlainHeap = false;
#endif

void* ItemPoolAllocate(size_t bytes) {
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kPlainHeap || bytes > kMaxSmall) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        gReserved += bytes;
        gLiveLarge += int64_t(bytes);
        return p;
    }
    return tCache.Allocate(ClassOf(bytes));
}

void ItemPoolFree(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kPlainHeap || bytes > kMaxSmall) {
        gReserved -= bytes;
        gLiveLarge -= int64_t(bytes);
        std::free(p);
        return;
    }
    tCache.Free(p, ClassOf(bytes));
}

void* ItemPoolReallocate(void* p, size_t oldBytes, size_t newBytes) {
    if (oldBytes < sizeof(Node)) oldBytes = sizeof(Node);
    if (newBytes < sizeof(Node)) newBytes = sizeof(Node);
    if (!kPlainHeap && oldBytes > kMaxSmall && newBytes > kMaxSmall) {
        // Large lists (the root, long runs) grow in place or by remapping.
        void* q = std::realloc(p, newBytes);
        if (!q) throw std::bad_alloc();
        gReserved += newBytes;
        gReserved -= oldBytes;
        gLiveLarge += int64_t(newBytes) - int64_t(oldBytes);
        return q;
    }
    void* q = ItemPoolAllocate(newBytes);
    std::memcpy(q, p, oldBytes < newBytes ? oldBytes : newBytes);
    ItemPoolFree(p, oldBytes);
    return q;
}

void ItemPoolAllocateBatch(size_t bytes, void** out, size_t count) {
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kPlainHeap || bytes > kMaxSmall) {
        for (size_t i = 0; i < count; ++i) out[i] = ItemPoolAllocate(bytes);
        return;
    }
    Cache& cache = tCache;
    size_t c = ClassOf(bytes);
    for (size_t i = 0; i < count; ++i) out[i] = cache.Allocate(c);
}

size_t ItemPoolReservedBytes() { return gReserved.load(); }

size_t ItemPoolLiveBytes() {
    Depot& depot = TheDepot();
    std::lock_guard lock(depot.mutex);
    int64_t live = gLiveLarge + gLiveRetired;
    for (const Cache* cache : depot.caches) live += cache->live.load(std::memory_order_relaxed);
    return live > 0 ? size_t(live) : 0;
}

}  // namespace orvane
