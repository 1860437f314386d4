#include "CaptureFiles.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "CAtomicFile.h"
#include "CDeviceProxy.h"
#include "HugePages.h"
#include "RegularFile.h"

namespace orvane::pardix {

namespace {

size_t RecordArrayBytes(uint32_t count) {
    const size_t bytes = size_t(count ? count : 1) * sizeof(PacketRecord);
    const size_t unit = bytes >= kHugePageBytes ? kHugePageBytes : size_t(::sysconf(_SC_PAGESIZE));
    return (bytes + unit - 1) / unit * unit;
}

}  // namespace

PacketRecord* MapRecords(uint32_t count, bool populate) {
    const size_t bytes = RecordArrayBytes(count);
    if (bytes >= kHugePageBytes) return static_cast<PacketRecord*>(MapHugePages(bytes, populate));
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<PacketRecord*>(p);
}

void UnmapRecords(PacketRecord* records, uint32_t count) {
    if (records) ::munmap(records, RecordArrayBytes(count));
}

size_t ReadUpTo(int fd, void* dst, size_t bytes, size_t offset) {
    auto* at = static_cast<uint8_t*>(dst);
    size_t got = 0;
    while (got < bytes) {
        const ssize_t r = ::pread(fd, at + got, bytes - got, off_t(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    return got;
}

uint32_t RecordsBeforeHeldPayload(const PacketRecord* records, uint32_t count, uint64_t heldBytes) {
    HeldPayloadWalk walk(heldBytes);
    for (uint32_t i = count; i-- > 0;)
        if (!walk.Held(records[i])) return i + 1;
    return 0;
}

void MarkPayloadLost(PacketRecord* records, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].IsData()) records[i].SetPayloadOffset(PacketRecord::kPayloadLost);
}

namespace {

// A walk over one chunk alone, from its newest record back, and what the
// walk of the newer records needs of it to go on over it: its newest walked
// packet and where that ends.
struct ChunkWalk {
    bool walks = false;            // it holds a packet the walk looks at
    uint32_t newest = 0;           // the newest of them
    uint64_t newestEnd = 0;        // where its bytes end
    bool failed = false;
    uint32_t lostBefore = 0;       // when it failed: the record after the one it failed at
    uint64_t limit = UINT64_MAX;   // else where its oldest walked packet begins
};

// `chunk` holds the records [begin, end).
ChunkWalk WalkChunk(const PacketRecord* chunk, uint32_t begin, uint32_t end) {
    ChunkWalk c;
    HeldPayloadWalk walk(UINT64_MAX);
    const PacketRecord* records = chunk - begin;
    for (uint32_t i = end; i-- > begin;) {
        if (!walk.Held(records[i])) {
            c.failed = true;
            c.lostBefore = i + 1;
            return c;
        }
        if (!c.walks && walk.Limit() != UINT64_MAX) {  // the first that moved the walk on
            c.walks = true;
            c.newest = i;
            c.newestEnd = uint64_t(records[i].PayloadOffset()) + records[i].Length();
        }
    }
    c.limit = walk.Limit();
    return c;
}

// Goes on with the walk of the newer records, which ended at `*limit`, over a
// chunk walked alone (`own`; alike once its newest walked packet is passed),
// without its records. True when the walk ends in it, with *lost set.
bool JoinChunk(const ChunkWalk& own, uint64_t* limit, uint32_t* lost) {
    if (!own.walks) return false;  // nothing in it is walked (it cannot fail alone either)
    if (own.newestEnd > *limit) {
        *lost = own.newest + 1;
        return true;
    }
    if (own.failed) {
        *lost = own.lostBefore;
        return true;
    }
    *limit = own.limit;
    return false;
}

}  // namespace

uint32_t WalkBack(const PacketRecord* records, uint32_t count, uint32_t atHand, uint32_t chunk, unsigned threads,
                  const std::function<const PacketRecord*(uint32_t first, uint32_t n)>& read, bool* cut) {
    chunk = std::max(chunk, 1u);
    atHand = std::min(atHand, count);
    const uint32_t chunks = (count - atHand + chunk - 1) / chunk;  // chunk k ends k chunks before the newest record
    auto beginOf = [&](uint32_t k) { return count - atHand - k * chunk > chunk ? count - (k + 1) * chunk : atHand; };
    auto endOf = [&](uint32_t k) { return count - k * chunk; };

    // Chunks are taken newest first; each is read and walked on its own, and
    // joined to the walk of the newer ones once they are all joined. None is
    // taken more than `threads` chunks ahead of the join, so a walk that ends
    // reads few chunks past its end.
    threads = std::max(threads, 1u);
    std::mutex mutex;
    std::condition_variable moved;
    std::vector<ChunkWalk> walks(chunks);
    std::vector<char> done(chunks, 0);
    uint32_t next = 0, joined = 0, lost = 0;
    uint64_t limit = UINT64_MAX;  // a saved capture's newest packet is its own
    bool ended = false;
    *cut = false;
    auto work = [&] {
        for (;;) {
            uint32_t k;
            {
                std::unique_lock guard(mutex);
                moved.wait(guard, [&] { return *cut || ended || next >= chunks || next - joined < threads; });
                if (*cut || ended || next >= chunks) return;
                k = next++;
            }
            const uint32_t begin = beginOf(k), end = endOf(k);
            const PacketRecord* got = read(begin, end - begin);
            const ChunkWalk own = got ? WalkChunk(got, begin, end) : ChunkWalk{};
            {
                std::lock_guard guard(mutex);
                if (!got) *cut = true;
                walks[k] = own;
                done[k] = 1;
                while (!*cut && !ended && joined < chunks && done[joined]) {
                    ended = JoinChunk(walks[joined], &limit, &lost);
                    ++joined;
                }
            }
            moved.notify_all();
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < chunks; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads do the same walk
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    if (*cut) return 0;
    if (ended) return lost;
    // Past every chunk read: the records at hand end the walk.
    return JoinChunk(WalkChunk(records, 0, atHand), &limit, &lost) ? lost : 0;
}

// ---------------------------------------------------------------- the data source's files

namespace {

// Threads that read a large opened file at once: the copy from the page cache
// and the faulting in of the array go faster in parallel, up to a point.
unsigned LoaderThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

}  // namespace

void CDeviceProxy::LoadRest(int fd, uint32_t from, uint32_t count, bool settled) {
    // Which packets hold their payload shows only from the capture's newest
    // end, and none is served before that is known. The walk reads the file
    // from there back, several chunks at once, into small buffers of its own
    // (far quicker than into the array, whose pages must first be made), as
    // far as it goes: the whole file, for a capture that holds all its
    // payload. The records are then read forward into the array, served as
    // they come. Files a save of ours left as they are have nothing for the
    // walk to find: their lost packets are marked already.
    auto walkRead = [&](uint32_t first, uint32_t n) -> const PacketRecord* {
        thread_local std::vector<PacketRecord> buffer;
        if (stopLoading_) return nullptr;
        if (loadReadHook_) loadReadHook_(first);
        buffer.resize(n);
        const size_t bytes = size_t(n) * sizeof(PacketRecord);
        return ReadUpTo(fd, buffer.data(), bytes, size_t(first) * sizeof(PacketRecord)) == bytes ? buffer.data() : nullptr;
    };
    auto readInto = [&](uint32_t first, uint32_t n) -> uint32_t {
        if (stopLoading_) return 0;
        if (loadReadHook_) loadReadHook_(first);
        PacketRecord* dst = records_ + first;
#ifdef MADV_POPULATE_WRITE
        // Faulted in before the copy: a read into pages not yet there is slower.
        ::madvise(dst, size_t(n) * sizeof(PacketRecord), MADV_POPULATE_WRITE);
#endif
        return uint32_t(ReadUpTo(fd, dst, size_t(n) * sizeof(PacketRecord), size_t(first) * sizeof(PacketRecord)) /
                        sizeof(PacketRecord));
    };
    // A file that came up short (it changed under us) is read forward as far as it goes.
    bool cut = false;
    if (!settled) {
        openedLostBefore_ = WalkBack(records_, count, from, kWalkChunk, LoaderThreads(), walkRead, &cut);
        SettleOpened(0, from);
    }
    uint32_t at = from;
    auto publish = [&](uint32_t records) {
        std::lock_guard guard(loadMutex_);
        cachedCount_.store(records, std::memory_order_release);
        loaded_.notify_all();
    };
    if (!stopLoading_) publish(at);
    while (at < count && !stopLoading_) {
        const uint32_t n = std::min(kLoadChunk, count - at);
        // A chunk read short still holds the whole records it got.
        const uint32_t got = readInto(at, n);
        SettleOpened(at, got);
        at += got;
        if (!stopLoading_) publish(at);
        if (got < n) break;
    }
    ::close(fd);
    // A file that shrank or failed while being read is what could be read of
    // it; the count settles when a reader meets the end (GetRecord).
    std::lock_guard guard(loadMutex_);
    loading_.store(false, std::memory_order_release);
    loaded_.notify_all();
}

void CDeviceProxy::SettleOpened(uint32_t from, uint32_t n) {
    for (PacketRecord *r = records_ + from, *end = r + n; r < end; ++r) {
        if (!r->IsData() || r->PayloadLost()) continue;
        if (uint32_t(r - records_) < openedLostBefore_ || uint64_t(r->PayloadOffset()) + r->Length() > openedDataBytes_)
            r->SetPayloadOffset(PacketRecord::kPayloadLost);
    }
}

uint32_t CDeviceProxy::PacketsPastStore(uint32_t* first) const {
    *first = 0;
    if (openedFile_) return 0;  // an opened file's payload is what it holds
    const uint64_t held = store_.Size();  // 0 when there is no store
    const uint32_t count = HeldRecords();
    uint32_t missing = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const PacketRecord& record = records_[i];
        // A packet whose payload the ring wrote over was never the capture's to save.
        if (!record.IsData() || record.Length() < 2 || record.PayloadLost() ||
            uint64_t(record.PayloadOffset()) + record.Length() <= held)
            continue;
        if (missing++ == 0) *first = i;
    }
    return missing;
}

int32_t CDeviceProxy::MissingPayload(uint32_t* first, uint32_t* count) {
    std::lock_guard guard(lock_);  // a fetch started since may be writing the reason
    if (first) *first = missingFirst_;
    if (count) *count = missingCount_;
    return uploadError_ > 0 ? uploadError_ : 0;
}

int32_t CDeviceProxy::OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) {
    fileError_ = 0;
    fileErrorPath_.clear();
    missingFirst_ = missingCount_ = 0;
    if (!packetPath || !dataPath || !*packetPath || !*dataPath) return FileFailure(EINVAL, "");
    if (save == 1) return Save(packetPath, dataPath);
    return Open(packetPath, dataPath, save == 2);
}

int32_t CDeviceProxy::LastFileError(const char** path) {
    if (path) *path = fileErrorPath_.c_str();
    return fileError_;
}

int32_t CDeviceProxy::FileFailure(int error, const std::string& path) {
    fileError_ = error;
    fileErrorPath_ = path;
    return 0;
}

void CDeviceProxy::SetSaveProgress(SaveProgress* progress) {
    std::lock_guard guard(lock_);
    saveProgress_ = progress;
}

int32_t CDeviceProxy::Save(const std::string& packetPath, const std::string& dataPath) {
    if (uploadState_ == UploadRunning && progress_ < 100) {
        UploadWaiter waiter;
        {
            std::lock_guard guard(stateMutex_);
            waiter = waiter_;
        }
        if (waiter && !waiter(progress_)) return FileFailure(0, "");
    }
    // A store still being filled is never copied, nor records still being read.
    // The rest of an upload cut short is fetched before the save (FetchRest),
    // where its progress can be shown and cancelled.
    WaitForUpload();
    WaitLoaded(UINT32_MAX);

    std::unique_lock guard(lock_);
    const uint64_t serial = captureSerial_;
    if (!offline_ && AskStatus()) {
        // Records the parse has not reached yet belong to the capture too,
        // while the analyser still holds it.
        if (const ControlBlock* held = HeldImage(); held && Ended(*held) && !read_.walked) FetchRecords(0);
    }
    // Another capture opened, discarded or started while a try waited: this one is gone.
    if (captureSerial_ != serial) return FileFailure(ECANCELED, packetPath);
    // Nor a capture cut short at a failed record read, while the rest can be
    // read when the analyser answers again; one kept across a setup, or that
    // the analyser no longer holds, is what was read of it, its rows without payload.
    if (!offline_ && RecordsUnread() > 0 && !read_.gone) return FileFailure(kFileErrorRecordsShort, packetPath);
    // Records whose payload is missing from the file would open as packets
    // without data: the save fails and the capture stays to be saved again.
    missingCount_ = PacketsPastStore(&missingFirst_);
    if (missingCount_) return FileFailure(kFileErrorPayloadShort, dataPath);
    // A large capture takes seconds to write out. With a progress to report,
    // the lock is let go after each window and around each flush, so that the
    // window can go on reading payload for its rows, and a cancel asked for
    // meanwhile gives the save up; the temporaries go, the old files stay.
    SaveProgress* const progress = saveProgress_;
    const size_t recordBytes = size_t(HeldRecords()) * sizeof(PacketRecord);
    if (progress) {
        progress->total = recordBytes + store_.Size();
        progress->done = 0;
    }
    auto cancelled = [&] { return progress && progress->cancel.load(); };
    // Opened, discarded or started while the lock was let go: the records and
    // the store are another capture's now, and nothing more of them is written.
    auto replaced = [&] { return captureSerial_ != serial; };
    auto written = [&](size_t bytes) {
        if (!progress) return true;
        progress->done += bytes;
        guard.unlock();
        // Readers already waiting go first: left to the scheduler, the save
        // takes the lock straight back. A reader stuck elsewhere is not waited for long.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (readersWaiting_.load() > 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        guard.lock();
        return !cancelled() && !replaced();
    };
    auto flush = [&](CAtomicFile& file) {
        if (!progress) return file.Finish();
        guard.unlock();
        const bool ok = file.Finish();
        const int error = errno;
        guard.lock();
        errno = replaced() ? ECANCELED : error;
        return ok && !replaced();
    };
    auto givenUp = [&] { return replaced() ? FileFailure(ECANCELED, packetPath) : FileFailure(0, ""); };
    if (cancelled()) return FileFailure(0, "");
    CAtomicFile packets(packetPath), payload(dataPath);
    if (!packets.Create()) return FileFailure(errno, packetPath);
    if (!payload.Create()) return FileFailure(errno, dataPath);
    // Every packet an open would walk out as written over goes out marked (a
    // capture never walked here: one that did not end), so an open of these
    // files as they are needs no walk. What is served here stays as it is.
    const size_t lostBytes = size_t(RecordsBeforeHeldPayload(records_, HeldRecords(), UINT64_MAX)) * sizeof(PacketRecord);
    std::vector<PacketRecord> marked;
    for (size_t at = 0; at < recordBytes;) {
        const size_t bytes = std::min(kSaveWindowBytes, recordBytes - at);
        const uint8_t* window = reinterpret_cast<const uint8_t*>(records_) + at;
        if (at < lostBytes) {
            marked.assign(records_ + at / sizeof(PacketRecord), records_ + (at + bytes) / sizeof(PacketRecord));
            MarkPayloadLost(marked.data(), uint32_t((std::min(lostBytes, at + bytes) - at) / sizeof(PacketRecord)));
            window = reinterpret_cast<const uint8_t*>(marked.data());
        }
        if (!packets.Write(window, bytes)) return FileFailure(errno, packetPath);
        at += bytes;
        if (!written(bytes)) return givenUp();
    }
    if (!flush(packets)) return FileFailure(errno, packetPath);
    // Copied from the open store itself, so saving onto the open ".data" is safe.
    if (!store_.CopyTo(payload.Fd(), written)) return cancelled() || replaced() ? givenUp() : FileFailure(errno, dataPath);
    if (!flush(payload)) return FileFailure(errno, dataPath);
    if (cancelled()) return FileFailure(0, "");
    if (!payload.Commit()) return FileFailure(errno, dataPath);
    if (!packets.Commit()) {
        const int error = errno;
        payload.Rollback();  // the old pair stays a pair
        return FileFailure(error, packetPath);
    }
    // The saved copy serves the payload from now on; the old store stays if it won't open.
    if (store_.IsOpen()) store_.Open(dataPath);
    return 1;
}

int32_t CDeviceProxy::Open(const std::string& packetPath, const std::string& dataPath, bool settled) {
    // Both files are opened and the first records read before anything
    // changes, so a refused open leaves the capture, its payload store and an
    // upload still running as they were. Only regular files: a pipe would
    // block the open and a device never ends.
    const int dataFd = OpenRegularFile(dataPath);
    if (dataFd < 0) return FileFailure(errno, dataPath);
    const int fd = OpenRegularFile(packetPath);
    struct stat st {};
    // No more records than the analyser's largest buffer holds: a larger file
    // is none of its captures, and would take memory as large as itself.
    if (fd < 0 || ::fstat(fd, &st) != 0 || uint64_t(st.st_size) / 16 > kMaxRecords) {
        const int error = fd < 0 ? errno : EFBIG;
        if (fd >= 0) ::close(fd);
        ::close(dataFd);
        return FileFailure(error, packetPath);
    }
    // A file cut inside a record (a crash, a full disk) opens with its whole
    // records; its count says one more until a reader meets the end, so the
    // window can tell the user what was read.
    const uint32_t count = uint32_t(st.st_size / 16);
    const uint32_t announced = count + (st.st_size % 16 != 0 && count < 0xFFFFFFFFu ? 1 : 0);
    const uint32_t first = std::min(count, kFirstRecords);
    PacketRecord* loaded = MapRecords(count, false);
    errno = 0;
    if (!loaded || !ReadFully(fd, loaded, size_t(first) * sizeof(PacketRecord), 0)) {
        const int error = loaded ? (errno ? errno : EIO) : ENOMEM;
        UnmapRecords(loaded, count);
        ::close(fd);
        ::close(dataFd);
        return FileFailure(error, packetPath);
    }

    struct stat dataStat {};
    const uint64_t dataBytes = ::fstat(dataFd, &dataStat) == 0 ? uint64_t(dataStat.st_size) : 0;

    // An upload would go on appending to whatever store comes next.
    EndUpload();
    StopLoading();
    std::lock_guard guard(lock_);
    UnmapRecords(records_, capacity_);
    records_ = loaded;
    capacity_ = count;
    offline_ = true;
    openedFile_ = true;
    keptInAnalyser_ = false;
    openedDataBytes_ = dataBytes;
    offlineCount_.store(announced, std::memory_order_release);
    ForgetFetch();
    // A file read whole already is walked at once (settled or not, it costs
    // nothing); a larger one by the loader, which serves no record before the
    // walk is done. A larger settled one needs no walk: its first records are
    // served now, checked against the payload file alone.
    openedLostBefore_ = first < count ? 0 : RecordsBeforeHeldPayload(records_, count, UINT64_MAX);
    const bool serveNow = first == count || settled;
    if (serveNow) SettleOpened(0, first);
    cachedCount_.store(serveNow ? first : 0, std::memory_order_release);
    if (first < count) {
        loading_ = true;
        try {
            loader_ = std::thread([this, fd, first, count, settled] { LoadRest(fd, first, count, settled); });
        } catch (const std::system_error&) {
            LoadRest(fd, first, count, settled);  // no thread to be had: read it all now
        }
    } else {
        ::close(fd);
    }
    store_.Adopt(dataFd, dataPath);
    return 1;
}

}  // namespace orvane::pardix
