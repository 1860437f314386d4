// Byte sums of a capture's records for the bin charts: running sums at block
// boundaries for the whole bus and, per address and endpoint the packets are
// charged to, for the blocks that pair has traffic in (flat arrays), so that
// the sum over any record range costs a search and at most two partial
// blocks. Also the bins' maxima at the zoom levels the bin charts use,
// computed once at load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::velmora {

class CaptureArrays;

struct ByteSums {
    uint64_t weighted = 0;  // bus-usage weight: high-speed bytes 1, full 40, low 320
    uint64_t bytes = 0;
    uint64_t count = 0;     // records
    uint64_t dataCount = 0;
    uint64_t payload = 0;   // data packets' payload bytes

    void Add(const ByteSums& o) {
        weighted += o.weighted, bytes += o.bytes, count += o.count, dataCount += o.dataCount, payload += o.payload;
    }
    ByteSums Minus(const ByteSums& o) const {
        return {weighted - o.weighted, bytes - o.bytes, count - o.count, dataCount - o.dataCount, payload - o.payload};
    }
};

// The bus-usage weight of one byte at a speed code; 0 without a speed.
constexpr uint32_t UsageWeight(uint8_t speed) { return speed == 1 ? 320 : speed == 2 ? 1 : speed == 3 ? 40 : 0; }

struct PairKey {
    int16_t address = 0;
    int16_t endpoint = 0;
};

// The result of the maximum pass at one bin width.
struct MaxPassResult {
    int32_t maxUsage = 0;    // per mille, truncated
    int32_t maxRate = 0;     // bytes per second, truncated
    int64_t takenEnd = 0;    // one past the last record a bin took
};

class TrafficSums {
public:
    static constexpr std::array<double, 4> kCachedScales = {10.0, 100.0, 1000.0, 10000.0};

    void Build(const CaptureArrays& arrays);

    // Records [from, to) of the whole bus.
    ByteSums Total(int64_t from, int64_t to) const;
    int32_t PairCount() const { return int32_t(pairs_.size()); }
    PairKey Pair(int32_t k) const { return pairs_[size_t(k)]; }
    // The pair index of an address and endpoint; -1 when nothing is charged to it.
    int32_t PairIndex(int32_t address, int32_t endpoint) const;
    // Records [from, to) charged to pair k: weighted, bytes and count.
    ByteSums PairSum(int32_t k, int64_t from, int64_t to) const;
    // The first token of pair k.
    int64_t FirstToken(int32_t k) const { return firstToken_[size_t(k)]; }
    // The maximum pass at a scale computed at load; null for another scale.
    const MaxPassResult* Cached(double scale) const;

private:
    ByteSums Record(int64_t i) const;
    ByteSums Scan(int64_t from, int64_t to, int32_t slot) const;

    const CaptureArrays* arrays_ = nullptr;
    std::vector<ByteSums> blockSums_;        // running sums at each block start, and at the end
    std::vector<PairKey> pairs_;
    std::array<int32_t, 2048> pairOfSlot_{};  // slot -> pair index + 1
    std::vector<int64_t> firstToken_;
    // Per pair: its blocks with traffic and the running sums to each block's end
    // (at most one entry a record, so kept small).
    struct PairEntry {
        uint32_t block = 0;
        uint32_t count = 0;
        uint64_t weighted = 0;
        uint64_t bytes = 0;
    };
    std::vector<uint32_t> pairStart_;         // index into pairEntries_ per pair, and the end
    std::vector<PairEntry> pairEntries_;
    std::array<MaxPassResult, kCachedScales.size()> cached_{};
    bool hasCache_ = false;
};

}  // namespace orvane::velmora
