// The item pool: size-classed slots carved from large chunks, with a free list
// per class and per thread, and a shared depot that moves freed slots between
// threads in batches (the document frees on the UI thread, the parser
// allocates on the worker). Chunks are kept for the next capture. Everything
// lies in one address range reserved at load time, so links are 32 bits.
#include <sys/mman.h>

#include <cerrno>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <new>
#include <algorithm>
#include <vector>

#include "HugePages.h"
#include "UsbItem.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(ORVANE_ASAN)
#define ORVANE_ASAN 1
#endif
#ifdef ORVANE_ASAN
#include <sanitizer/asan_interface.h>
#endif
#ifndef MREMAP_DONTUNMAP
#define MREMAP_DONTUNMAP 4
#endif

namespace orvane {
namespace {

constexpr size_t kGrain = 4;
constexpr size_t kMaxSmall = 256;
constexpr size_t kClasses = kMaxSmall / kGrain + 1;
constexpr size_t kChunkBytes = 4u << 20;
constexpr size_t kMaxChunkBytes = 32u << 20;
constexpr uint32_t kBatch = 1024;
// A huge block's addresses reach two quarter steps per doubling: 8 is fourfold.
constexpr size_t kHugeRoom = 8;

std::atomic<size_t> gReserved{0};
std::atomic<int64_t> gLiveLarge{0};   // bytes handed out above kMaxSmall
std::atomic<int64_t> gLiveRetired{0}; // what caches of ended threads still had out

// ---------------------------------------------------------------- the range

// Address space only: memory is taken chunk by chunk as the pool grows. The
// range is writable from the start where the system allows it, so taking a
// chunk changes no mapping: a change would wait for every fault and populate
// in flight in the process, and stall the parser behind the chunk filler.
// Elsewhere (strict overcommit) it is reserved inaccessible and opened per chunk.
// A system that refuses the whole range gets a smaller one.
struct Region {
    char* base = nullptr;
    size_t bytes = 0;
    bool writable = false;
    std::atomic<size_t> used{kHugePageBytes};  // the first huge page stays unused: link 0 is null
};

// Strict overcommit charges a writable private mapping in full, reserved or
// not: there the range is only reserved, or a smaller one would be charged
// at start to this process and taken from every other.
bool StrictOvercommit() {
    std::FILE* f = std::fopen("/proc/sys/vm/overcommit_memory", "r");
    if (!f) return false;
    const int mode = std::fgetc(f);
    std::fclose(f);
    return mode == '2';
}

Region& TheRegion() {
    static Region* region = [] {
        auto* r = new Region;
        const bool strict = StrictOvercommit();
        for (int prot : {PROT_READ | PROT_WRITE, PROT_NONE}) {
            if (strict && prot != PROT_NONE) continue;
            for (size_t bytes = kItemRegionBytes; bytes >= (64u << 20) && !r->base; bytes /= 2) {
                void* raw = ::mmap(nullptr, bytes, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
                if (raw == MAP_FAILED) continue;
                // Huge-page aligned, so every chunk can be made of huge pages.
                const uintptr_t start = (uintptr_t(raw) + kHugePageBytes - 1) & ~uintptr_t(kHugePageBytes - 1);
                r->base = reinterpret_cast<char*>(start);
                r->bytes = bytes - (start - uintptr_t(raw));
                r->writable = prot != PROT_NONE;
                if (r->writable) ::madvise(r->base, r->bytes, MADV_HUGEPAGE);
            }
            if (r->base) break;
        }
        return r;
    }();
    return *region;
}

// Faults `bytes` in a huge page at a time, each step short, so that a change
// of mappings elsewhere in the process never waits for a whole chunk.
void Populate(char* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    for (size_t at = 0; at < bytes; at += kHugePageBytes)
        if (::madvise(p + at, std::min(kHugePageBytes, bytes - at), MADV_POPULATE_WRITE) != 0) return;  // an older kernel refuses: pages fault in as used
#else
    (void)p, (void)bytes;
#endif
}

// `bytes` (a multiple of kHugePageBytes) of fresh writable memory from the
// range; `populate` faults it all in at once, for memory about to be filled.
// Null when the range or the system has no more.
void* Commit(size_t bytes, bool populate) {
    Region& region = TheRegion();
    if (!region.base) return nullptr;
    // Taken only when it fits: a request refused for its size must leave the
    // rest of the range to the smaller ones after it.
    size_t at = region.used.load(std::memory_order_relaxed);
    do {
        if (at > region.bytes || bytes > region.bytes - at) return nullptr;
    } while (!region.used.compare_exchange_weak(at, at + bytes, std::memory_order_relaxed));
    char* p = region.base + at;
    if (!region.writable) {
        if (::mprotect(p, bytes, PROT_READ | PROT_WRITE) != 0) {
            // Refused by the system's commit limit: the span goes back unless
            // something was taken after it meanwhile.
            size_t end = at + bytes;
            region.used.compare_exchange_strong(end, at, std::memory_order_relaxed);
            return nullptr;
        }
        ::madvise(p, bytes, MADV_HUGEPAGE);
    }
    if (populate) Populate(p, bytes);
    gReserved += bytes;
    return p;
}

// ---------------------------------------------------------------- large blocks

// Blocks above kMaxSmall (long child lists) come in sizes a quarter of a power
// of two apart, each size with a free list of its own. From 2 MiB on a freed
// block gives its memory back and keeps only its addresses.
constexpr size_t kLargeSizes = 4 * 40;

size_t LargeIndex(size_t bytes) {
    const int top = 63 - __builtin_clzll(bytes - 1);  // bytes - 1 < 2^(top + 1)
    const size_t step = size_t(1) << (top - 2);
    const size_t quarters = (bytes + step - 1) / step;  // 5..8
    return size_t(top) * 4 + (quarters - 5);
}
size_t LargeBytes(size_t index) {
    const size_t top = index / 4;
    return (size_t(1) << (top - 2)) * (index % 4 + 5);
}
// What a block of that size holds of the range: a huge one is committed alone.
size_t LargeSpan(size_t index) {
    const size_t bytes = LargeBytes(index);
    return bytes < kHugePageBytes ? bytes : (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}

struct LargeBlocks {
    std::mutex mutex;
    std::vector<char*> free[kLargeSizes];  // a huge block's addresses by the size they reach
    std::unordered_map<char*, size_t> reach;  // each huge block's: the largest size it grows to in place
    char* bump = nullptr;
    char* end = nullptr;
    std::atomic<bool> moveKeepsOld{true};  // false once the kernel refuses such a move

    void* Allocate(size_t index) {
        const size_t bytes = LargeBytes(index);
        std::lock_guard lock(mutex);
        if (bytes >= kHugePageBytes) return AllocateHugeLocked(index);
        if (!free[index].empty()) {
            char* p = free[index].back();
            free[index].pop_back();
            return p;
        }
        if (size_t(end - bump) < bytes) {
            bump = static_cast<char*>(Commit(kChunkBytes, false));
            if (!bump) return nullptr;
            end = bump + kChunkBytes;
        }
        char* p = bump;
        bump += bytes;
        return p;
    }
    // A huge block holds the addresses to grow fourfold where it lies: a
    // move of its pages waits for every fault in flight in the process. Only
    // what it uses counts as reserved. Where every address is charged
    // (strict overcommit) it holds only its own.
    void* AllocateHugeLocked(size_t index) {
        const size_t room = TheRegion().writable ? std::min(index + kHugeRoom, kLargeSizes - 1) : index;
        char* p = nullptr;
        size_t to = room;
        if (!free[room].empty()) {
            p = free[room].back();
            free[room].pop_back();
        } else {
            p = static_cast<char*>(Commit(LargeSpan(room), false));
            if (!p && room != index) p = static_cast<char*>(Commit(LargeSpan(to = index), false));
            if (!p) return nullptr;
            gReserved -= LargeSpan(to);
        }
        gReserved += LargeSpan(index);
        reach[p] = to;
        return p;
    }
    void Free(void* p, size_t index) {
        if (LargeBytes(index) >= kHugePageBytes) ::madvise(p, LargeSpan(index), MADV_DONTNEED);
        Retire(p, index);
    }
    // Takes back a block whose addresses hold no memory.
    void Retire(void* p, size_t index) {
        std::lock_guard lock(mutex);
        if (LargeBytes(index) >= kHugePageBytes) {
            gReserved -= LargeSpan(index);
            auto at = reach.find(static_cast<char*>(p));
            index = at->second;
            reach.erase(at);
        }
        free[index].push_back(static_cast<char*>(p));
    }

    // A huge block grown in place while its addresses reach, else into a
    // larger one by moving its pages there: no copy, and none of the fresh
    // faults a copy would take (the list of a capture's top-level items grows
    // to tens of megabytes). The old addresses stay
    // mapped, empty, throughout: were they unmapped even for a moment, a
    // mapping another thread makes could be placed there and later be
    // overwritten by the pool. Null when it cannot move; the caller copies.
    void* Grow(void* p, size_t oldIndex, size_t newIndex) {
        {
            std::lock_guard lock(mutex);
            if (newIndex <= reach.at(static_cast<char*>(p))) {
                gReserved += LargeSpan(newIndex) - LargeSpan(oldIndex);
                return p;
            }
        }
        if (!TheRegion().writable || !moveKeepsOld.load(std::memory_order_relaxed)) return nullptr;
        void* q = Allocate(newIndex);
        if (!q) return nullptr;
        const size_t span = LargeSpan(oldIndex);
        if (::mremap(p, span, span, MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, q) == MAP_FAILED) {
            if (errno == EINVAL) {
                // A kernel that cannot leave the old range mapped (before 5.7)
                // says so before it touches either range.
                moveKeepsOld.store(false, std::memory_order_relaxed);
                Free(q, newIndex);
            } else {
                // The target may have lost its mapping on the way: its
                // addresses are never handed out again.
                std::lock_guard lock(mutex);
                gReserved -= LargeSpan(newIndex);
                reach.erase(static_cast<char*>(q));
            }
            return nullptr;
        }
        Retire(p, oldIndex);  // its addresses hold no pages now
        return q;
    }
};

LargeBlocks& TheLargeBlocks() {
    static LargeBlocks* blocks = new LargeBlocks;
    return *blocks;
}

// ---------------------------------------------------------------- small slots

// Slots are 4-aligned (items are 20 bytes), so the free-list link is too.
#pragma pack(push, 4)
struct Node {
    Node* next;
};
#pragma pack(pop)

struct Batch {
    Node* head;
    uint32_t count;
};

// Prepares chunks on threads of their own while a big tree is built, so the
// fresh memory's faults and zeroing overlap the building instead of stalling
// it. Zeroing fresh memory is slower than building the tree on it, so several
// threads fill side by side (on a virtual machine more than four only contend
// for the host's faults); chunks are one huge page each, so the builder gets
// the first within one page's zeroing, and a few are held ready, so what a
// finished parse leaves unused stays small. A builder that says how much it
// will take has them fill on until the pool holds that much.
class ChunkFiller {
public:
    static constexpr int kThreads = 4;
    static constexpr size_t kBytes = kHugePageBytes;
    static constexpr size_t kReadyBytes = 16u << 20;

    // A populated chunk of kBytes; null when none is ready.
    void* Take() {
        void* chunk = nullptr;
        {
            std::lock_guard lock(mutex_);
            StartLocked();
            if (!ready_.empty()) {
                chunk = ready_.front();
                ready_.pop_front();
            }
            wanted_ = true;
        }
        wake_.notify_one();
        return chunk;
    }

    // Fills on past the chunks held ready until the pool holds `reserved`
    // bytes; 0 ends that.
    void Prepare(size_t reserved) {
        {
            std::lock_guard lock(mutex_);
            target_ = reserved;
            if (!reserved) return;
            StartLocked();
            wanted_ = true;
        }
        wake_.notify_all();
    }

private:
    bool WantedLocked() const {
        if (!wanted_) return false;
        const size_t ahead = (ready_.size() + filling_) * kBytes;
        return ahead < kReadyBytes || gReserved.load(std::memory_order_relaxed) + filling_ * kBytes < target_;
    }
    void StartLocked() {
        if (started_) return;
        started_ = true;
        for (int i = 0; i < kThreads; ++i) {
            try {
                std::thread([this] { Run(); }).detach();
            } catch (const std::system_error&) {
                // No thread to be had: chunks are committed where they are needed.
            }
        }
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return WantedLocked(); });
            ++filling_;
            lock.unlock();
            void* chunk = Commit(kBytes, true);
            lock.lock();
            --filling_;
            if (chunk) {
                ready_.push_back(chunk);
            } else {
                wanted_ = false;  // the range is spent: wait for the next Take
                target_ = 0;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<void*> ready_;
    size_t filling_ = 0;
    size_t target_ = 0;
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
            // Freed slots lie anywhere: fetch the next one while this one is used.
            __builtin_prefetch(head[c], 1);
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

    // `n` slots at once: freed ones first, then fresh ones carved side by side.
    // A parser takes slots by the hundred; one call per slot would cost more
    // than the slot.
    void AllocateBatch(size_t c, void** out, size_t n) {
        const size_t bytes = c * kGrain;
        size_t i = 0;
        try {
            while (i < n) {
                if (Node* node = head[c]) {
                    uint32_t left = count[c];
                    for (; node && i < n; --left) {
                        out[i++] = node;
                        node = node->next;
                    }
                    head[c] = node;
                    count[c] = left;
                    continue;
                }
                if (Refill(c)) continue;
                size_t room = size_t(end - bump) / bytes;
                if (room == 0) {
                    NewChunk();
                    continue;
                }
                for (room = std::min(room, n - i); room; --room, bump += bytes) out[i++] = bump;
            }
        } catch (...) {
            for (; i; --i) Free(out[i - 1], c), Count(int64_t(bytes));  // never counted as taken
            throw;
        }
        Count(int64_t(n * bytes));
    }

    // Chunks grow from 4 MiB to 16 MiB. A thread past them builds a big
    // tree: it takes the huge pages the fillers prepared meanwhile and has
    // them prepare the next.
    void NewChunk() {
        size_t bytes = chunkBytes;
        void* p = nullptr;
        if (chunkBytes < kMaxChunkBytes) {
            chunkBytes *= 2;
            p = Commit(bytes, true);
        } else {
            p = TheFiller().Take();
            bytes = ChunkFiller::kBytes;
            // None ready: this thread commits one of its own, side by side with the fillers.
            if (!p) p = Commit(bytes, true);
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

#ifdef ORVANE_ASAN
// Under AddressSanitizer every block has a poisoned red zone behind it and a
// freed block stays poisoned in a queue long enough for a use after free or
// an overrun to be caught where the pool would hide it. One lock for all.
struct CheckedPool {
    static constexpr size_t kRedZone = 16;
    static constexpr size_t kQuarantine = 4096;  // freed blocks held back per size
    std::mutex mutex;
    std::deque<char*> freed[kClasses + kLargeSizes];
    char* bump = nullptr;
    char* end = nullptr;

    // The bytes of the slot that holds `bytes` and its red zone, and the queue of that size.
    static size_t Slot(size_t bytes, size_t* index) {
        const size_t slot = (bytes + kRedZone + 7) & ~size_t(7);
        if (slot <= kMaxSmall) {
            *index = slot / kGrain;
            return slot;
        }
        *index = kClasses + LargeIndex(slot);
        return LargeBytes(*index - kClasses);
    }

    void* Allocate(size_t bytes) {
        size_t index = 0;
        const size_t slot = Slot(bytes, &index);
        char* p = nullptr;
        {
            std::lock_guard lock(mutex);
            auto& queue = freed[index];
            if (queue.size() > kQuarantine) {
                p = queue.front();
                queue.pop_front();
            } else {
                if (size_t(end - bump) < slot) {
                    const size_t chunk = std::max(kChunkBytes, (slot + kHugePageBytes - 1) & ~(kHugePageBytes - 1));
                    bump = static_cast<char*>(Commit(chunk, false));
                    if (!bump) throw std::bad_alloc();
                    end = bump + chunk;
                    ASAN_POISON_MEMORY_REGION(bump, chunk);
                }
                p = bump;
                bump += slot;
            }
        }
        ASAN_UNPOISON_MEMORY_REGION(p, bytes);
        std::memset(p, 0xBE, bytes);  // never hand out what looks like a valid tree
        gLiveLarge += int64_t(slot);
        return p;
    }
    void Free(void* p, size_t bytes) {
        size_t index = 0;
        const size_t slot = Slot(bytes, &index);
        ASAN_POISON_MEMORY_REGION(p, slot);
        gLiveLarge -= int64_t(slot);
        std::lock_guard lock(mutex);
        freed[index].push_back(static_cast<char*>(p));
    }
};
CheckedPool& TheCheckedPool() {
    static CheckedPool* pool = new CheckedPool;
    return *pool;
}
constexpr bool kChecked = true;
#else
struct CheckedPool {
    void* Allocate(size_t) { return nullptr; }
    void Free(void*, size_t) {}
};
CheckedPool& TheCheckedPool() {
    static CheckedPool pool;
    return pool;
}
constexpr bool kChecked = false;
#endif

void* AllocateLarge(size_t bytes) {
    const size_t index = LargeIndex(bytes);
    void* p = TheLargeBlocks().Allocate(index);
    if (!p) throw std::bad_alloc();
    gLiveLarge += int64_t(LargeBytes(index));
    return p;
}

void FreeLarge(void* p, size_t bytes) {
    const size_t index = LargeIndex(bytes);
    gLiveLarge -= int64_t(LargeBytes(index));
    TheLargeBlocks().Free(p, index);
}

}  // namespace

extern char* const kItemRegion = TheRegion().base;

void* ItemPoolAllocate(size_t bytes) {
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kChecked) return TheCheckedPool().Allocate(bytes);
    if (bytes > kMaxSmall) return AllocateLarge(bytes);
    return ThisCache().Allocate(ClassOf(bytes));
}

void ItemPoolFree(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kChecked) return TheCheckedPool().Free(p, bytes);
    if (bytes > kMaxSmall) return FreeLarge(p, bytes);
    ThisCache().Free(p, ClassOf(bytes));
}

void* ItemPoolReallocate(void* p, size_t oldBytes, size_t newBytes) {
    if (oldBytes < sizeof(Node)) oldBytes = sizeof(Node);
    if (newBytes < sizeof(Node)) newBytes = sizeof(Node);
    // A long list that grows within its block's size stays where it is.
    if (!kChecked && oldBytes > kMaxSmall && newBytes > kMaxSmall) {
        const size_t from = LargeIndex(oldBytes), to = LargeIndex(newBytes);
        if (from == to) return p;
        if (to > from && LargeBytes(from) >= kHugePageBytes) {
            if (void* q = TheLargeBlocks().Grow(p, from, to)) {
                gLiveLarge += int64_t(LargeBytes(to)) - int64_t(LargeBytes(from));
                return q;
            }
        }
    }
    void* q = ItemPoolAllocate(newBytes);
    std::memcpy(q, p, oldBytes < newBytes ? oldBytes : newBytes);
    ItemPoolFree(p, oldBytes);
    return q;
}

void ItemPoolAllocateBatch(size_t bytes, void** out, size_t count) {
    if (bytes < sizeof(Node)) bytes = sizeof(Node);
    if (kChecked || bytes > kMaxSmall) {
        for (size_t i = 0; i < count; ++i) out[i] = ItemPoolAllocate(bytes);
        return;
    }
    ThisCache().AllocateBatch(ClassOf(bytes), out, count);
}

void ItemPoolPrepare(size_t bytes) {
    if (kChecked) return;
    if (!bytes) {
        TheFiller().Prepare(0);
        return;
    }
    // What the pool holds free serves first: a parse after a freed tree needs
    // no fresh memory.
    const size_t reserved = gReserved.load(), live = ItemPoolLiveBytes();
    const size_t held = reserved > live ? reserved - live : 0;
    if (bytes <= held) return;
    ThisCache().chunkBytes = kMaxChunkBytes;  // a big tree comes: straight to the fillers' pages
    TheFiller().Prepare(reserved + (bytes - held));
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
