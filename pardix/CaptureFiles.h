// The capture files: what a save writes and an open reads (".ph" records,
// ".data" payload), how records are laid out in memory for them, and which
// packets of a capture hold their payload. The data source calls these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "AnalyserProtocol.h"
#include "CPayloadStore.h"
#include "CSetupLoader.h"
#include "PacketRecord.h"

namespace orvane::pardix {

// A record array, zeroed, mapped rather than taken from the heap: a maximum
// capture's 512 MiB then sits in huge pages and faults in 256 times instead
// of 131072. `populate` faults it all in at once, for an array about to be
// filled whole. Null without memory.
PacketRecord* MapRecords(uint32_t count, bool populate);
void UnmapRecords(PacketRecord* records, uint32_t count);

// Reads up to `bytes` at `offset`; answers what it got before the file ended or failed.
size_t ReadUpTo(int fd, void* dst, size_t bytes, size_t offset);
// Reads `bytes` at `offset` whole; false when the file ends or fails first.
inline bool ReadFully(int fd, void* dst, size_t bytes, size_t offset) { return ReadUpTo(fd, dst, bytes, offset) == bytes; }

inline bool Ended(const ControlBlock& image) {
    const uint32_t done = CtlEnded | CtlDataComplete;
    return (image.control & done) == done;
}

// Which data packets still hold their payload. The payload buffer keeps the
// newest bytes written, each packet's after the one before, so walking from
// the newest packet back, a packet holds its payload while its bytes end
// where the next newer packet's begin (or before) and within what the capture
// holds; the first that does not was written over, and so was every older one.
class HeldPayloadWalk {
public:
    explicit HeldPayloadWalk(uint64_t heldBytes) : limit_(heldBytes) {}
    // Records newest first; false at the first whose payload is gone.
    bool Held(const PacketRecord& r) {
        // Nothing of it was kept or needed, or a save already said it has none.
        if (!r.IsData() || r.Length() < 2 || r.PayloadLost()) return true;
        if (uint64_t(r.PayloadOffset()) + r.Length() > limit_) return false;
        limit_ = r.PayloadOffset();
        return true;
    }
    // Where the oldest packet walked so far begins (the bytes a next older one may end at).
    uint64_t Limit() const { return limit_; }

private:
    uint64_t limit_;
};

// The number of records at the array's start among which no data packet holds
// its payload any more.
uint32_t RecordsBeforeHeldPayload(const PacketRecord* records, uint32_t count, uint64_t heldBytes);
// The same of `count` records of a saved capture (its newest packet is its
// own), of which the first `atHand` are in `records`: the rest are walked
// from the newest back, `chunk` at a time, as `read` hands them over (the
// records [first, first + n), null when the file came up short), only as far
// as the walk goes. With `threads` above one, as many chunks are read and
// walked at once, `read` called from as many threads, and at most
// threads - 1 chunks past the walk's end are read. A read that comes up short
// ends the walk with every packet taken as held and *cut set.
uint32_t WalkBack(const PacketRecord* records, uint32_t count, uint32_t atHand, uint32_t chunk, unsigned threads,
                  const std::function<const PacketRecord*(uint32_t first, uint32_t n)>& read, bool* cut);
// Gives the data packets among `records` the mark of a payload the capture lacks.
void MarkPayloadLost(PacketRecord* records, uint32_t count);

// Records read before an open returns: enough for the first screens of rows;
// the rest follows in chunks of kLoadChunk, walked first in chunks of
// kWalkChunk (a buffer that stays in the cache).
constexpr uint32_t kFirstRecords = 1u << 16;
constexpr uint32_t kLoadChunk = 1u << 19;
constexpr uint32_t kWalkChunk = 1u << 15;
constexpr uint64_t kMaxRecords = CSetupLoader::kMaxBufferBytes / sizeof(PacketRecord);
// Records written between two looks at a save's cancel: as much as the payload store's window.
constexpr size_t kSaveWindowBytes = CPayloadStore::kWindowBytes;

}  // namespace orvane::pardix
