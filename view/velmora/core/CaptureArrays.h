// What the charts read of a loaded capture: one PID byte, one start word and
// one traffic word (bytes on the bus, speed, the address and endpoint the
// packet is charged to) per record, the capture's length and largest payload,
// per-block summaries (PID counts, latest end, largest lengths) so that a
// zoomed-out paint visits blocks, not records, and the byte sums the bin
// charts read. Built once per capture off the GUI thread; read-only after.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ChartText.h"
#include "PacketRecord.h"
#include "TrafficSums.h"

namespace orvane {
class IDataSource;
}

namespace orvane::velmora {

using PidCounts = std::array<uint64_t, 16>;

class CaptureArrays {
public:
    // Reads every record of `source` once; a read that fails ends the capture
    // there, "not yet" repeats the previous record. Null source: an empty capture.
    // `stopped`, asked every kStopBlock records, gives null as soon as it says
    // yes: the capture is going, and a close need not wait for all of it.
    static std::shared_ptr<const CaptureArrays> Load(IDataSource* source,
                                                     const std::function<bool()>& stopped = {});
    static constexpr uint32_t kStopBlock = 1u << 16;
    // From records already in memory (tests and benchmarks).
    static std::shared_ptr<const CaptureArrays> FromWords(std::vector<uint8_t> pidBytes,
                                                          std::vector<uint64_t> startWords, uint64_t packetCount);
    static std::shared_ptr<const CaptureArrays> FromRecords(const std::vector<PacketRecord>& records,
                                                            uint64_t packetCount);

    int64_t Count() const { return int64_t(startWords_.size()); }
    bool Empty() const { return startWords_.empty(); }
    // The source's own count, which a failed read leaves above Count().
    uint64_t PacketCount() const { return packetCount_; }
    double TotalTime() const { return totalTime_; }
    int32_t MaxDataLength() const { return maxDataLength_; }

    uint8_t PidByte(int64_t i) const { return pidBytes_[size_t(i)]; }
    uint8_t Nibble(int64_t i) const { return pidBytes_[size_t(i)] & 0xF; }
    // Word 0 rotated left by 16: start in bits 16-63, duration in bits 0-15
    // (of a SPLIT only its own 8 bits).
    static uint64_t StartWordOf(const PacketRecord& r);
    uint64_t StartWord(int64_t i) const { return startWords_[size_t(i)]; }
    uint64_t Start(int64_t i) const { return startWords_[size_t(i)] >> 16; }
    uint64_t End(int64_t i) const { return Start(i) + (startWords_[size_t(i)] & 0xFFFF); }
    const std::vector<uint8_t>& PidBytes() const { return pidBytes_; }
    static bool IsData(uint8_t nibble) { return (nibble & 3) == 3; }
    static bool IsToken(uint8_t nibble) { return nibble == PidOut || nibble == PidIn || nibble == PidSetup || nibble == PidPing; }
    double StartSeconds(int64_t i) const { return double(Start(i)) * kTickSeconds; }
    // Bytes on the bus: a data packet its length field and PID, others by PID.
    uint32_t Bytes(int64_t i) const { return traffic_[size_t(i)] & kBytesMask; }
    uint8_t Speed(int64_t i) const { return uint8_t(traffic_[size_t(i)] >> kSpeedShift & 3); }
    // A data packet's payload (0 below a length field of 2); 0 for others.
    int32_t Payload(int64_t i) const { return IsData(Nibble(i)) ? std::max<int32_t>(int32_t(Bytes(i)) - 3, 0) : 0; }
    // The address and endpoint slot (address * 16 + endpoint) the packet is
    // charged to: its own for a token, the last token's for others, none
    // (-1) for SOFs and packets before any token.
    int32_t Charge(int64_t i) const {
        uint32_t slot = traffic_[size_t(i)] >> kChargeShift;
        return slot == kNoCharge ? -1 : int32_t(slot);
    }
    const TrafficSums& Sums() const { return sums_; }
    const std::vector<uint64_t>& StartWords() const { return startWords_; }

    // The record at time t (seconds; may be negative): mode 0 nearest, 1 the
    // one before, 2 the one after; -1 for an empty capture.
    int64_t FindIndex(double t, int mode) const;
    // The record nearest to t (as mode 0) when it lies within `reach`
    // seconds of t, -1 when none does.
    int64_t FindIndexNear(double t, double reach) const;
    // The first record that starts after t (ticks floored), Count() when none.
    int64_t FirstAfter(double t) const;
    // The first record in [from, to) that starts after t seconds, `to` when none.
    int64_t FirstStartingAfter(double t, int64_t from, int64_t to) const;
    // The data packet nearest to t; -1 for an empty capture.
    int64_t NearestDataIndexAt(double t) const;
    // The records that start in [t1, t2) seconds: the first and one past the last.
    std::pair<int64_t, int64_t> StartingIn(double t1, double t2) const;
    // How many records start in [t1, t2): a band's count.
    int64_t CountBetween(double t1, double t2) const {
        auto [from, to] = StartingIn(t1, t2);
        return to - from;
    }

    // From `from` on (below `limit`), the first record whose end fails
    // `endOk`, which must be monotone (true up to some end, false after);
    // `counts` gains the PID nibbles of the records passed over. Blocks whose
    // latest end passes are skipped whole.
    template <class EndOk>
    int64_t SkipWhile(int64_t from, int64_t limit, EndOk endOk, PidCounts& counts) const {
        return Scan(from, limit, endOk, false, counts, nullptr);
    }
    // The same, over data packets only when `dataOnly` (others neither end the
    // scan nor count); `maxValue` (when given) gains the largest bytes on the
    // bus of the records passed over, or with `dataOnly` the largest payload,
    // and `maxEnd` (when given) their latest end.
    template <class EndOk>
    int64_t Scan(int64_t from, int64_t limit, EndOk endOk, bool dataOnly, PidCounts& counts, int64_t* maxValue,
                 uint64_t* maxEnd = nullptr) const;
    // The first record in [from, to) whose start (ticks) fails `startOk`, by
    // halving; `to` when none. `startOk` holds up to some start and fails
    // after; over starts out of time order the answer is still `to` or a
    // record that fails, so a caller stepping on from it gets ahead.
    template <class StartOk>
    int64_t FirstStartFailing(int64_t from, int64_t to, StartOk startOk) const;
    // The first data packet at or after `from` (forward) or at or before it; -1 when none.
    int64_t FindData(int64_t from, bool forward) const;

    static constexpr int kBlockShift = 7;   // 128 records
    static constexpr int kFanShift = 4;     // 16 blocks per block of the next level

private:
    static constexpr uint32_t kBytesMask = 0x1FFFF;
    static constexpr int kSpeedShift = 17;
    static constexpr int kChargeShift = 19;
    static constexpr uint32_t kNoCharge = 0xFFF;

    struct Block {
        std::array<uint32_t, 16> counts{};
        uint64_t maxEnd = 0;
        uint64_t maxDataEnd = 0;  // 0 without data packets
        uint32_t maxBytes = 0;
        int32_t maxPayload = 0;
        bool HasData() const { return counts[3] + counts[7] + counts[11] + counts[15] != 0; }
    };
    friend class TrafficSums;

    CaptureArrays() = default;
    void Finish();
    // Index of the first record whose start exceeds `target` ticks.
    int64_t UpperBound(int64_t target) const;
    // One record's traffic word from its record, the charge running on.
    static uint32_t TrafficOf(const PacketRecord& r, uint32_t* charge);
    int BlockShift(size_t level) const { return kBlockShift + int(level) * kFanShift; }

    std::vector<uint8_t> pidBytes_;
    std::vector<uint64_t> startWords_;
    std::vector<uint32_t> traffic_;
    TrafficSums sums_;
    uint64_t packetCount_ = 0;
    double totalTime_ = 1.0;
    int32_t maxDataLength_ = 0;
    // levels_[0] summarises 128 records a block, each next level 16 blocks.
    std::vector<std::vector<Block>> levels_;
};

template <class EndOk>
int64_t CaptureArrays::Scan(int64_t from, int64_t limit, EndOk endOk, bool dataOnly, PidCounts& counts,
                            int64_t* maxValue, uint64_t* maxEnd) const
{
    limit = std::min(limit, Count());
    int64_t p = from;
    while (p < limit) {
        // The largest whole block starting at p that ends below limit and passes.
        int best = -1;
        for (size_t level = 0; level < levels_.size(); ++level) {
            int shift = BlockShift(level);
            int64_t size = int64_t(1) << shift;
            if ((p & (size - 1)) != 0 || p + size > limit) break;
            const Block& block = levels_[level][size_t(p >> shift)];
            if (dataOnly ? block.HasData() && !endOk(block.maxDataEnd) : !endOk(block.maxEnd)) break;
            best = int(level);
        }
        if (best < 0) {
            // Record by record up to the next block boundary.
            int64_t stop = std::min(limit, (p | ((int64_t(1) << kBlockShift) - 1)) + 1);
            for (; p < stop; ++p) {
                if (dataOnly && !IsData(Nibble(p))) continue;
                if (!endOk(End(p))) return p;
                ++counts[Nibble(p)];
                if (maxValue) *maxValue = std::max<int64_t>(*maxValue, dataOnly ? Payload(p) : Bytes(p));
                if (maxEnd) *maxEnd = std::max(*maxEnd, End(p));
            }
            continue;
        }
        int shift = BlockShift(size_t(best));
        const Block& block = levels_[size_t(best)][size_t(p >> shift)];
        for (int n = 0; n < 16; ++n)
            if (!dataOnly || IsData(uint8_t(n))) counts[size_t(n)] += block.counts[size_t(n)];
        if (maxValue && (!dataOnly || block.HasData()))
            *maxValue = std::max<int64_t>(*maxValue, dataOnly ? block.maxPayload : block.maxBytes);
        if (maxEnd) *maxEnd = std::max(*maxEnd, dataOnly ? block.maxDataEnd : block.maxEnd);
        p += int64_t(1) << shift;
    }
    return limit;
}

template <class StartOk>
int64_t CaptureArrays::FirstStartFailing(int64_t from, int64_t to, StartOk startOk) const
{
    int64_t lo = std::clamp<int64_t>(from, 0, Count());
    int64_t hi = std::clamp<int64_t>(to, lo, Count());
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (startOk(Start(mid)))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

}  // namespace orvane::velmora
