// A capture as the analyser leaves it: records in order, each data packet's
// bytes written after the one before into a payload ring. Once the ring has
// wrapped it holds the newest bytes only, and every packet whose bytes it
// wrote over has no payload, marked as a save writes it; the payload starts at
// the oldest byte held, with the spare bytes the store keeps after it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "BusCapture.h"
#include "PacketRecord.h"

namespace orvane::bench {

// Whether a capture holds every packet's payload, or its ring wrapped.
enum class Payload { Held, Wrapped };
inline const char* PayloadName(Payload payload) { return payload == Payload::Held ? "held" : "wrapped"; }

class RingCapture {
public:
    // The analyser's largest payload buffer.
    static constexpr uint64_t kMaxRingBytes = uint64_t(512) << 20;
    static constexpr size_t kSpareBytes = 1024;

    // With Payload::Held, a data packet that would wrap the ring is not taken
    // and the capture is Full from then on.
    explicit RingCapture(Payload payload, uint64_t ringBytes = kMaxRingBytes) : keepAll_(payload == Payload::Held), ring_(ringBytes) {}

    void Reserve(size_t records) { records_.reserve(records); }
    size_t Size() const { return records_.size(); }
    bool Empty() const { return records_.empty(); }
    bool Full() const { return full_; }
    const PacketRecord& Back() const { return records_.back(); }
    uint64_t Written() const { return written_; }

    // A record; for a data packet `bytes` holds its Length() bytes (its data
    // and CRC), or null for zeros. False when it was not taken (Full).
    bool Append(PacketRecord r, const uint8_t* bytes) {
        if (full_) return false;
        if (r.IsData()) {
            const uint32_t length = r.Length();
            if (keepAll_ && written_ + length > ring_) {
                full_ = true;
                return false;
            }
            r.SetPayloadOffset(uint32_t(written_));  // where it was written, 32 bits of it: settled in Take
            Write(bytes, length);
        }
        records_.push_back(r);
        return true;
    }

    emu::BusCapture Take() {
        emu::BusCapture capture;
        const uint64_t held = std::min(written_, ring_);
        // Newest first: a packet holds its bytes while they lie within the
        // newest `held` written; the first that does not was written over,
        // and so was every older one.
        size_t i = records_.size();
        while (i-- > 0) {
            PacketRecord& r = records_[i];
            if (!r.IsData()) continue;
            const uint32_t back = uint32_t(uint32_t(written_) - r.PayloadOffset());  // bytes written since it began
            if (back > held) break;
            r.SetPayloadOffset(uint32_t(held - back));
        }
        if (i != size_t(-1))
            for (size_t k = 0; k <= i; ++k)
                if (records_[k].IsData()) records_[k].SetPayloadOffset(PacketRecord::kPayloadLost);
        if (written_ > ring_) std::rotate(payload_.begin(), payload_.begin() + std::ptrdiff_t(written_ % ring_), payload_.end());
        payload_.resize(payload_.size() + kSpareBytes, 0);
        capture.records = std::move(records_);
        capture.payload = std::move(payload_);
        records_.clear();
        payload_.clear();
        written_ = 0;
        full_ = false;
        return capture;
    }

private:
    void Write(const uint8_t* bytes, size_t n) {
        while (n > 0) {
            const uint64_t at = written_ % ring_;
            const size_t part = size_t(std::min<uint64_t>(n, ring_ - at));
            if (at == payload_.size()) {
                if (bytes) payload_.insert(payload_.end(), bytes, bytes + part);
                else payload_.resize(payload_.size() + part, 0);
            } else if (bytes) {
                std::memcpy(payload_.data() + at, bytes, part);
            } else {
                std::memset(payload_.data() + at, 0, part);
            }
            written_ += part;
            n -= part;
            if (bytes) bytes += part;
        }
    }

    bool keepAll_;
    bool full_ = false;
    uint64_t ring_;
    uint64_t written_ = 0;
    std::vector<PacketRecord> records_;
    std::vector<uint8_t> payload_;
};

}  // namespace orvane::bench
