// The record fetch of an ended capture and its failure rules: which image a
// capture is judged by, when a failed read is tried again, and what a pass is
// served while part of the capture could not be read.
#pragma once

#include <atomic>
#include <unordered_set>

#include "AnalyserProtocol.h"
#include "CaptureFiles.h"

namespace orvane::pardix {

// A failed read of records is tried this often in all, as a save goes on three
// times with an upload a failed read cut short: one failed transfer costs no rows.
constexpr int kRecordReadTries = 4;

// The analyser shows `now` the capture that ended as `then`: a reset, a power
// cycle or another capture changes its end bits, where and how much it holds,
// or where it triggered.
inline bool SameCapture(const ControlBlock& now, const ControlBlock& then) {
    return Ended(now) && now.packetMask == then.packetMask && now.payloadMask == then.payloadMask &&
           now.packetStart == then.packetStart && now.packetBytesCaptured == then.packetBytesCaptured &&
           now.payloadStart == then.payloadStart && now.payloadBytesCaptured == then.payloadBytesCaptured &&
           now.triggerAddress == then.triggerAddress;
}

// A word the lock-free readers load while the owner stores it under the lock;
// copied as a store, so a fresh CaptureRead can be assigned over the old one.
template <typename T>
class SharedWord {
public:
    SharedWord() = default;
    SharedWord(const SharedWord& other) : value_(other.load()) {}
    SharedWord& operator=(const SharedWord& other) {
        store(other.load());
        return *this;
    }
    T load(std::memory_order order = std::memory_order_acquire) const { return value_.load(order); }
    void store(T value, std::memory_order order = std::memory_order_release) { value_.store(value, order); }

private:
    std::atomic<T> value_{};
};

// The capture being read from the analyser: the image it ended with, what was
// read of it, and whether the analyser still holds it. Made afresh for each
// capture (a start, an open, a discard), so nothing of one outlives it; every
// read of capture memory asks it first. Under the data-source lock.
struct CaptureRead {
    // The image the status poll first saw this capture end with: what it
    // holds, whether or not a read of its records ever succeeds.
    ControlBlock image{};
    bool imageKnown = false;
    // Records read from the analyser into the array; served from the cache
    // only once the capture has ended and they are settled.
    uint32_t fetched = 0;
    // The cached records carry the mark of the payload the ring wrote over.
    bool walked = false;
    // A status read, or its records read again after a failed read, showed
    // that the analyser no longer holds the capture (or, kept across a setup,
    // it no longer held it then): the rows read are all of it there is, and
    // what the store lacks of its payload is never read.
    bool gone = false;
    // A read failed since the analyser last answered: nothing more is read
    // from capture memory until a status read answers again and the records
    // read last are still there as they were read.
    bool doubt = false;
    // Why the last read of its records failed (0: none did).
    int error = 0;
    // Rows [0, staleEnd) were served without their payload while the capture
    // was read in part; once it is read whole, rows below staleFloor are
    // served under the lock until a pass has read them again in order
    // (rereadNext is how far). staleFloor is also read without the lock.
    uint32_t staleEnd = 0;
    uint32_t rereadNext = 0;
    SharedWord<uint32_t> staleFloor;
    // Where the payload of packets lies whose read from capture memory failed:
    // asked without a read, they answer kPayloadNotRead until a read of them
    // succeeds. The flag lets the asking skip the lock while none failed and the capture is held.
    std::unordered_set<uint64_t> unreadPayload;
    SharedWord<bool> anyPayloadUnread;
};

}  // namespace orvane::pardix
