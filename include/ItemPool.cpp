// The item pool: size-classed slots carved from large chunks, with a free list
// per class and per thread, and a shared depot that moves freed slots between
// threads in batches (the document frees on the UI thread, the parser
// allocates on the worker). Chunks are kept for the next capture.
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <new>
#include <algorithm>
#include <vector>

#include "HugePages.h"
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

// Maps a chunk in huge pages and populates it at once: faulting in a big
// capture's tree page by page costs more than parsing it. Null when the
// system has no memory for it.
void* MapChunk(size_t bytes) {
    void* p = MapHugePages(bytes, true);
    if (p) gReserved += bytes;
    return p;
}

// Prepares the next largest chunk on a thread of its own while a big tree is
// built, so the fresh memory's faults and zeroing overlap the building
// instead of stalling it. Only one chunk is held ready: what a finished
// parse leaves unused stays small.
class ChunkFiller {
public:
    // A populated chunk of kMaxChunkBytes; null without memory.
    void* Take() {
        void* chunk = nullptr;
        {
            std::lock_guard lock(mutex_);
            StartLocked();
            chunk = ready_;
            ready_ = nullptr;
            wanted_ = true;
        }
        wake_.notify_one();
        // Not ready yet: this thread maps one of its own, side by side with the filler.
        return chunk ? chunk : MapChunk(kMaxChunkBytes);
    }

private:
    void StartLocked() {
        if (started_) return;
        started_ = true;
        try {
            std::thread([this] { Run(); }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: every chunk is mapped where it is needed.
        }
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return wanted_ && !ready_; });
            wanted_ = false;
            lock.unlock();
            void* chunk = MapChunk(kMaxChunkBytes);
            lock.lock();
            ready_ = chunk;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    void* ready_ = nullptr;
    bool wanted_ = false;
    bool started_ = false;
};

ChunkFiller& TheFiller() {
    static ChunkFiller* filler = new ChunkFiller;  // its thread lives as long as the process
    return *filler;
}

struct Cache;

struct Depot {
    std::mutex mutex;
    std::vector<Batch> batches[kClasses];
    // How many batches each class holds, read without the lock: a thread
    // carving fresh slots must not take the lock for every slot to learn
    // that there is nothing to reuse.
    std::atomic<uint32_t> available[kClasses] = {};
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
            if (head[c]) {
                depot.batches[c].push_back({head[c], count[c]});
                depot.available[c].fetch_add(1, std::memory_order_relaxed);
            }
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

    // Chunks grow from 4 MiB to 64 MiB. A thread that has reached the
    // largest builds a big tree: it takes the chunk the filler prepared
    // meanwhile and has it prepare the next.
    void NewChunk() {
        size_t bytes = chunkBytes;
        void* p = nullptr;
        if (chunkBytes < kMaxChunkBytes) {
            chunkBytes *= 2;
            p = MapChunk(bytes);
        } else {
            p = TheFiller().Take();
        }
        if (!p) throw std::bad_alloc();
        bump = static_cast<char*>(p);
        end = bump + bytes;
    }

    bool Refill(size_t c) {
        Depot& depot = TheDepot();
        if (depot.available[c].load(std::memory_order_relaxed) == 0) return false;
        std::lock_guard lock(depot.mutex);
        auto& list = depot.batches[c];
        if (list.empty()) return false;
        depot.available[c].fetch_sub(1, std::memory_order_relaxed);
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
        depot.available[c].fetch_add(1, std::memory_order_relaxed);
    }
};

// The library is loaded with the program, so its few bytes of TLS can be static.
__attribute__((tls_model("initial-exec"))) thread_local Cache tCacheObject;
// Read on every allocation and free: a plain pointer needs no guard of its
// own construction, as the cache object does.
__attribute__((tls_model("initial-exec"))) constinit thread_local Cache* tCachePointer = nullptr;

[[gnu::noinline]] Cache& FirstCache() {
    tCachePointer = &tCacheObject;
    return tCacheObject;
}
Cache& ThisCache() {
    Cache* cache = tCachePointer;
    return cache ? *cache : FirstCache();
}

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

// Lists of a million members and more (the root of a big capture, long SOF
// runs) are mappings of their own in huge pages, grown by remapping: from
// the heap, every 4 KiB of a growing list would fault in on its own.
constexpr size_t kMappedList = 4u << 20;
bool Mapped(size_t bytes) { return !kPlainHeap && bytes >= kMappedList; }
size_t MappedBytes(size_t bytes) { return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1); }

void* ItemPoolAllocate(size_t bytes) {
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kPlainHeap || bytes > kMaxSmall) {
        void* p = Mapped(bytes) ? MapHugePages(MappedBytes(bytes), false) : std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        gReserved += bytes;
        gLiveLarge += int64_t(bytes);
        return p;
    }
    return ThisCache().Allocate(ClassOf(bytes));
}

void ItemPoolFree(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kPlainHeap || bytes > kMaxSmall) {
        gReserved -= bytes;
        gLiveLarge -= int64_t(bytes);
        if (Mapped(bytes)) ::munmap(p, MappedBytes(bytes));
        else std::free(p);
        return;
    }
    ThisCache().Free(p, ClassOf(bytes));
}

void* ItemPoolReallocate(void* p, size_t oldBytes, size_t newBytes) {
    if (oldBytes < sizeof(Node)) oldBytes = sizeof(Node);
    if (newBytes < sizeof(Node)) newBytes = sizeof(Node);
    if (!kPlainHeap && oldBytes > kMaxSmall && newBytes > kMaxSmall && Mapped(oldBytes) == Mapped(newBytes)) {
        // Large lists grow in place or by remapping, without a copy.
        void* q = nullptr;
        if (!Mapped(newBytes)) {
            q = std::realloc(p, newBytes);
        } else if (MappedBytes(oldBytes) == MappedBytes(newBytes)) {
            q = p;
        } else {
            q = ::mremap(p, MappedBytes(oldBytes), MappedBytes(newBytes), MREMAP_MAYMOVE);
            if (q == MAP_FAILED) q = nullptr;
        }
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
    Cache& cache = ThisCache();
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
