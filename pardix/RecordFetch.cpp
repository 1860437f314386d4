#include "RecordFetch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "CDeviceProxy.h"

namespace orvane::pardix {

namespace {

// The capture's data packets among `records`, whose payload was never read from the analyser.
void MarkPayloadUnread(PacketRecord* records, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].IsData() && !records[i].PayloadLost()) records[i].SetPayloadOffset(PacketRecord::kPayloadUnread);
}

}  // namespace

bool CDeviceProxy::PauseBeforeRetry(int attempt) {
    if (retryPause_.count() <= 0) return true;
    const uint64_t serial = captureSerial_;
    // Every caller holds the lock once (GetRecord, Save, KeepCapture,
    // FetchRest): let go, the window's readers wait for one transfer at most.
    lock_.unlock();
    if (retryWait_)
        retryWait_(retryPause_ * attempt);
    else
        std::this_thread::sleep_for(retryPause_ * attempt);
    lock_.lock();
    return captureSerial_ == serial;
}

bool CDeviceProxy::AskStatus() {
    for (int attempt = 0; attempt < kRecordReadTries; ++attempt) {
        if (attempt && !PauseBeforeRetry(attempt)) return false;
        if (ReadStatus()) return true;
    }
    return false;
}

void CDeviceProxy::JudgeStatus() {
    // An opened file's records are not the analyser's, nor is the image a
    // setup rewrote a kept capture's: after a failed read, MayReadCapture
    // judges these by the records alone.
    if (read_.gone || offline_) return;
    if (read_.imageKnown) {
        if (!SameCapture(control_, read_.image)) CaptureGone();
        return;
    }
    // The image the status poll first saw this capture end with: what it
    // holds, whether or not a read of its records ever succeeds.
    if (!Ended(control_)) return;
    read_.image = control_;
    read_.imageKnown = true;
}

int CDeviceProxy::SameRecords(const ControlBlock& image) {
    // None read yet: nothing tells it from another capture of its sizes, start and trigger.
    const uint32_t n = std::min(read_.fetched, kRecordsPerRead), first = read_.fetched - n;
    if (n == 0) return 1;
    const PacketRecord* mine = records_ + first;
    std::vector<PacketRecord> again(n);
    if (!ReadRecords(first * 16 + image.packetStart, n, again.data(), image.packetMask)) return -1;
    // Their payload offsets are ours now (relative, or marked): the rest of each record is the analyser's.
    for (uint32_t i = 0; i < n; ++i)
        if (again[i].word0 != mine[i].word0 || uint32_t(again[i].word1) != uint32_t(mine[i].word1)) return 0;
    return 1;
}

void CDeviceProxy::CaptureGone() {
    read_.gone = true;
    read_.anyPayloadUnread.store(true);
    // Read in part: what was read of it is all of it there is, its packets
    // without payload, as a capture kept across a start.
    if (RecordsUnread() > 0) MarkPayloadUnread(records_, read_.fetched);
}

bool CDeviceProxy::MayReadCapture() {
    if (read_.gone) return false;
    if (!read_.doubt) return true;
    // Back after a failed read: it holds this capture only while it answers as
    // it (JudgeStatus), and what was read of it is there as it was read. One
    // still running shows nothing yet to check its records by.
    if (!ReadStatus() || read_.gone) return false;
    if (const ControlBlock* image = keptInAnalyser_ ? &kept_ : Ended(control_) ? &control_ : nullptr) {
        const int same = SameRecords(*image);
        if (same < 0) return false;  // not read again: still in doubt
        if (same == 0) {
            CaptureGone();
            return false;
        }
    }
    read_.doubt = false;
    return true;
}

bool CDeviceProxy::AllocateRecords(uint32_t count) {
    StopLoading();
    // Not populated: a 32 M-record array costs nothing until records arrive.
    auto* fresh = MapRecords(count, false);
    if (!fresh) return false;
    cachedCount_.store(0, std::memory_order_release);
    ForgetFetch();
    UnmapRecords(records_, capacity_);
    records_ = fresh;
    capacity_ = count;
    return true;
}

uint32_t CDeviceProxy::GetCount() {
    if (offline_) return offlineCount_.load(std::memory_order_acquire);
    std::lock_guard guard(lock_);
    if (!ReadStatus()) return 0;
    // An analyser that answers all ones (power-cycled mid-capture) must not make
    // us promise more records than the array set up for this capture holds.
    return std::min(control_.packetBytesCaptured / 16, capacity_);
}

bool CDeviceProxy::FetchRecords(uint32_t index) {
    // Going on with a capture only while the analyser still holds it.
    if (!MayReadCapture()) {
        read_.error = EIO;
        return false;
    }
    const bool ended = Ended(control_);
    // Reads from the end of what was read onwards, so the records read stay a
    // prefix even when a reader jumps ahead.
    const uint32_t captured = std::min(control_.packetBytesCaptured / 16, capacity_);
    // An ended capture is read whole before any of it is served from the
    // cache: which packets lost their payload to the ring shows only from its
    // newest end. Until it ends each read asks the analyser.
    const uint32_t want = ended ? captured : std::min(index + 1, captured);
    uint32_t have = read_.fetched;
    while (have < want) {
        const uint32_t n = std::min(captured - have, kRecordsPerRead);
        PacketRecord* dst = records_ + have;
        bool read = false;
        for (int attempt = 0; attempt < kRecordReadTries && !read; ++attempt) {
            if (attempt) {
                // A status read while the try waited may have seen the capture go.
                if (!PauseBeforeRetry(attempt) || read_.gone) return false;
                // Another reader read on meanwhile: its rows (and their walk's marks) are not read over.
                if (read_.fetched != have) return FetchRecords(index);
            }
            read = MayReadCapture() && ReadRecords(have * 16 + control_.packetStart, n, dst);
        }
        if (!read) {
            // What was read stays, and the next read goes on from its end.
            read_.error = EIO;
            return false;
        }
        const uint32_t payloadSize = control_.payloadMask + 1;  // wraps to 0 for a 4 GiB buffer, as the mask does
        for (uint32_t i = 0; i < n; ++i) {
            if (!dst[i].IsData()) continue;
            uint32_t relative = (dst[i].PayloadOffset() - control_.payloadStart + payloadSize) & control_.payloadMask;
            dst[i].SetPayloadOffset(relative);
        }
        read_.fetched = have += n;
    }
    read_.error = 0;
    if (ended && !read_.walked) {
        MarkPayloadLost(records_, RecordsBeforeHeldPayload(records_, have, control_.payloadBytesCaptured));
        read_.walked = true;
        // Rows a pass was served bare stay off the lock-free paths until a
        // pass has read them whole (UnreadRecords says so meanwhile).
        read_.rereadNext = 0;
        read_.staleFloor.store(read_.staleEnd);
        cachedCount_.store(have, std::memory_order_release);
    }
    return index < have;
}

int32_t CDeviceProxy::ServeUnwalked(uint32_t index, PacketRecord* out) {
    if (index >= read_.fetched) return RecordEnd;
    *out = records_[index];
    if (out->IsData() && !out->PayloadLost()) out->SetPayloadOffset(PacketRecord::kPayloadUnread);
    read_.staleEnd = std::max(read_.staleEnd, index + 1);
    return RecordOk;
}

uint32_t CDeviceProxy::RecordsUnread() const {
    if (!read_.imageKnown || read_.walked) return 0;
    const uint32_t held = std::min(read_.image.packetBytesCaptured / 16, capacity_);
    return held > read_.fetched ? held - read_.fetched : 0;
}

int32_t CDeviceProxy::UnreadRecords(uint32_t* read, uint32_t* held) {
    std::lock_guard guard(lock_);
    const uint32_t unread = RecordsUnread();
    const bool servedBare = !unread && read_.staleFloor.load(std::memory_order_relaxed) > 0;
    if (read) *read = unread ? read_.fetched : servedBare ? HeldRecords() : 0;
    if (held) *held = unread ? read_.fetched + unread : servedBare ? HeldRecords() : 0;
    if (servedBare) return kRecordsReadSincePass;
    if (!unread) return 0;
    if (read_.gone) return kRecordsNoLongerHeld;
    return read_.error ? read_.error : EIO;
}

int32_t CDeviceProxy::GetRecord(uint32_t index, PacketRecord* out) {
    if (!out) return RecordEnd;
    if (loading_.load(std::memory_order_acquire)) WaitLoaded(index);
    if (index < cachedCount_.load(std::memory_order_acquire) && index >= read_.staleFloor.load()) {
        *out = records_[index];
        return RecordOk;
    }
    ReaderLock guard(*this);
    if (index < read_.staleFloor.load(std::memory_order_relaxed)) return ServeRead(index, out);
    if (offline_) {
        // Until now the count was what the file announced; it holds what was read.
        if (!loading_.load(std::memory_order_acquire))
            offlineCount_.store(std::min(offlineCount_.load(), CachedCount()), std::memory_order_release);
        return RecordEnd;
    }
    if (uploadState_ == UploadQuit) return RecordEnd;
    if (index >= capacity_) return RecordEnd;  // can never be held by this capture's array
    // An ended capture read in part since a read failed (one that just ended
    // with rows read live is not, until a read fails): the analyser is asked
    // again when a pass starts over or reaches the end of what was read, not
    // for every row, which may each cost it a time-out.
    const bool readInPart = RecordsUnread() > 0;
    if (readInPart && read_.error && index != 0 && index < read_.fetched) return ServeUnwalked(index, out);
    if (!AskStatus()) {
        // Another capture on hand since a try waited (opened, discarded, started)
        // has read none of its own yet: ServeUnwalked serves it nothing, and
        // its first read clears the error.
        if (!readInPart) return RecordEnd;
        read_.error = EIO;
        return ServeUnwalked(index, out);
    }
    // Another capture, or none, since it ended: what was read is all of it there is.
    if (read_.gone) return readInPart ? ServeUnwalked(index, out) : RecordEnd;
    uint32_t captured = std::min(control_.packetBytesCaptured / 16, capacity_);
    if (index >= captured) return (control_.control & CtlEnded) ? RecordEnd : RecordNotYet;
    if (FetchRecords(index)) return ServeRead(index, out);
    return RecordsUnread() > 0 ? ServeUnwalked(index, out) : RecordEnd;
}

int32_t CDeviceProxy::ServeRead(uint32_t index, PacketRecord* out) {
    // A row served bare to a pass before the capture was read whole: whole
    // now, and once a pass has read each of them again in order, theirs.
    if (index < read_.staleFloor.load(std::memory_order_relaxed) && index == read_.rereadNext &&
        ++read_.rereadNext >= read_.staleEnd) {
        read_.staleEnd = 0;
        read_.staleFloor.store(0);
    }
    *out = records_[index];
    return RecordOk;
}

int32_t CDeviceProxy::GetPayload(const PacketRecord* record, uint8_t* dst, uint32_t capacity, uint16_t* crc) {
    if (!record) return 0;
    const uint32_t length = record->Length();
    // No room even for the CRC16, or the analyser overwrote it: nothing to serve.
    if (length < 2 || record->PayloadLost()) {
        if (crc) *crc = 0;
        return 0;
    }
    const uint32_t payload = length - 2;
    const uint64_t offset = record->PayloadOffset();
    auto deliver = [&](const uint8_t* bytes) {
        if (dst) std::memcpy(dst, bytes, std::min(payload, capacity));
        if (crc) *crc = uint16_t(bytes[payload] | bytes[payload + 1] << 8);
        return int32_t(payload);
    };

    // Asked neither bytes nor CRC: whether they can be served, without a read.
    if (!dst && !crc && !read_.anyPayloadUnread.load()) return int32_t(payload);
    // What the store holds never waits for the data-source lock: a read of the
    // analyser holding it may take its transfers' time-outs.
    int32_t stored = 0;
    auto fromStore = [&] { return store_.Read(offset, length, [&](const uint8_t* bytes) { stored = deliver(bytes); }); };
    if (fromStore()) return stored;
    ReaderLock guard(*this);
    if (offset + length <= store_.Size()) return fromStore() ? stored : 0;  // stored meanwhile
    if (offline_ && !keptInAnalyser_) return read_.gone ? kPayloadNotRead : 0;
    // Gone from the analyser: what the store lacks of it was never read, and never can be.
    if (read_.gone) {
        if (crc) *crc = 0;
        return kPayloadNotRead;
    }
    if (!dst && !crc) return read_.unreadPayload.count(offset) ? kPayloadNotRead : int32_t(payload);
    // Not in the store yet: straight from capture memory, 8-byte aligned, where
    // this capture's own image says it lies.
    uint32_t address = uint32_t(offset) + PayloadImage().payloadStart;
    uint32_t lead = address & 7;
    uint32_t bytes = (lead + length + 7) & ~7u;
    // Tried once more, once the analyser shows it still holds the capture, as
    // one failed transfer must not cost a packet its bytes.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (MayReadCapture() && ReadPayload(address & ~7u, bytes, deviceBuffer_.get())) {
            if (!read_.unreadPayload.empty()) read_.unreadPayload.erase(offset);
            return deliver(deviceBuffer_.get() + lead);
        }
    }
    if (crc) *crc = 0;
    read_.unreadPayload.insert(offset);
    read_.anyPayloadUnread.store(true);
    return kPayloadNotRead;
}

void CDeviceProxy::KeepCapture() {
    std::lock_guard guard(lock_);
    if (offline_) return;  // an opened file, or a capture kept already
    // What the parse read is the capture: the reset that comes next clears the
    // analyser's end bits, and a new storage size changes its masks.
    kept_ = read_.imageKnown ? read_.image : control_;
    // Opened, discarded or started while a try waited: nothing of this capture is left to keep.
    const uint64_t serial = captureSerial_;
    // Its payload is still in capture memory only while the analyser, asked
    // now, still shows that capture; one reset or power-cycled since has
    // nothing of it to fetch, and its save is refused.
    const bool answered = AskStatus();
    if (captureSerial_ != serial) return;
    keptInAnalyser_ = answered && (!Ended(kept_) || SameCapture(control_, kept_));
    // Records the parse has not reached yet are the capture's too, while the analyser holds it.
    if (keptInAnalyser_ && Ended(control_) && !read_.walked && !FetchRecords(0) && captureSerial_ != serial) return;
    if (Ended(kept_) && !read_.walked && !read_.imageKnown) {
        read_.image = kept_;  // ended but never read: its records are all unread
        read_.imageKnown = true;
    }
    // Not held, or read in part (which of its packets kept their payload can
    // no longer be told): none of it is read from the analyser again.
    if (!keptInAnalyser_ || RecordsUnread() > 0) CaptureGone();
    offline_ = true;
    cachedCount_.store(HeldRecords(), std::memory_order_release);
    offlineCount_.store(CachedCount(), std::memory_order_release);
}

}  // namespace orvane::pardix
