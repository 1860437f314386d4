#include "TrafficSums.h"

#include <algorithm>

#include "BinEngine.h"
#include "CaptureArrays.h"

namespace orvane::velmora {

ByteSums TrafficSums::Record(int64_t i) const
{
    const CaptureArrays& a = *arrays_;
    uint32_t bytes = a.Bytes(i);
    bool data = CaptureArrays::IsData(a.Nibble(i));
    return {uint64_t(bytes) * UsageWeight(a.Speed(i)), bytes, 1, data ? 1u : 0u, uint64_t(a.Payload(i))};
}

ByteSums TrafficSums::Scan(int64_t from, int64_t to, int32_t slot) const
{
    ByteSums sums;
    for (int64_t i = from; i < to; ++i)
        if (slot < 0 || arrays_->Charge(i) == slot) sums.Add(Record(i));
    return sums;
}

void TrafficSums::Build(const CaptureArrays& arrays)
{
    arrays_ = &arrays;
    int64_t n = arrays.Count();
    constexpr int shift = CaptureArrays::kBlockShift;
    int64_t blocks = (n + (int64_t(1) << shift) - 1) >> shift;
    blockSums_.assign(size_t(blocks) + 1, {});
    pairOfSlot_.fill(0);
    pairs_.clear();
    firstToken_.clear();
    // Pairs in address and endpoint order, so the series walk agrees with the store's maps.
    std::array<int64_t, 2048> firstCharge;
    firstCharge.fill(-1);
    std::array<int64_t, 2048> token;
    token.fill(-1);
    for (int64_t i = 0; i < n; ++i) {
        int32_t slot = arrays.Charge(i);
        if (slot < 0) continue;
        if (firstCharge[size_t(slot)] < 0) firstCharge[size_t(slot)] = i;
        if (token[size_t(slot)] < 0 && CaptureArrays::IsToken(arrays.Nibble(i))) token[size_t(slot)] = i;
    }
    for (int32_t slot = 0; slot < 2048; ++slot) {
        if (firstCharge[size_t(slot)] < 0) continue;
        pairs_.push_back({int16_t(slot / 16), int16_t(slot % 16)});
        firstToken_.push_back(token[size_t(slot)] < 0 ? n : token[size_t(slot)]);
        pairOfSlot_[size_t(slot)] = int32_t(pairs_.size());
    }
    // Block by block: the running totals, and each pair's blocks with traffic.
    std::vector<std::vector<PairEntry>> entriesOf(pairs_.size());
    std::vector<ByteSums> running(pairs_.size());
    std::vector<ByteSums> inBlock(pairs_.size());
    std::vector<int32_t> touched;
    ByteSums total;
    for (int64_t b = 0; b < blocks; ++b) {
        blockSums_[size_t(b)] = total;
        int64_t end = std::min(n, (b + 1) << shift);
        for (int64_t i = b << shift; i < end; ++i) {
            ByteSums r = Record(i);
            total.Add(r);
            int32_t slot = arrays.Charge(i);
            if (slot < 0) continue;
            int32_t k = pairOfSlot_[size_t(slot)] - 1;
            if (inBlock[size_t(k)].count == 0) touched.push_back(k);
            inBlock[size_t(k)].Add(r);
        }
        for (int32_t k : touched) {
            ByteSums& r = running[size_t(k)];
            r.Add(inBlock[size_t(k)]);
            entriesOf[size_t(k)].push_back({uint32_t(b), uint32_t(r.count), r.weighted, r.bytes});
            inBlock[size_t(k)] = {};
        }
        touched.clear();
    }
    blockSums_[size_t(blocks)] = total;
    pairStart_.assign(1, 0);
    pairEntries_.clear();
    for (size_t k = 0; k < pairs_.size(); ++k) {
        pairEntries_.insert(pairEntries_.end(), entriesOf[k].begin(), entriesOf[k].end());
        std::vector<PairEntry>().swap(entriesOf[k]);
        pairStart_.push_back(uint32_t(pairEntries_.size()));
    }
    hasCache_ = false;
    for (size_t s = 0; s < kCachedScales.size(); ++s) cached_[s] = RunMaxPass(arrays, kBinPixels / kCachedScales[s]);
    hasCache_ = true;
}

ByteSums TrafficSums::Total(int64_t from, int64_t to) const
{
    if (!arrays_) return {};
    int64_t n = arrays_->Count();
    from = std::clamp<int64_t>(from, 0, n);
    to = std::clamp<int64_t>(to, 0, n);
    if (to <= from) return {};
    constexpr int shift = CaptureArrays::kBlockShift;
    auto prefix = [&](int64_t i) {
        ByteSums s = blockSums_[size_t(i >> shift)];
        s.Add(Scan((i >> shift) << shift, i, -1));
        return s;
    };
    return prefix(to).Minus(prefix(from));
}

int32_t TrafficSums::PairIndex(int32_t address, int32_t endpoint) const
{
    if (address < 0 || address > 127 || endpoint < 0 || endpoint > 15) return -1;
    return pairOfSlot_[size_t(address * 16 + endpoint)] - 1;
}

ByteSums TrafficSums::PairSum(int32_t k, int64_t from, int64_t to) const
{
    if (!arrays_ || k < 0 || k >= PairCount()) return {};
    int64_t n = arrays_->Count();
    from = std::clamp<int64_t>(from, 0, n);
    to = std::clamp<int64_t>(to, 0, n);
    if (to <= from) return {};
    constexpr int shift = CaptureArrays::kBlockShift;
    int32_t slot = pairs_[size_t(k)].address * 16 + pairs_[size_t(k)].endpoint;
    auto first = pairEntries_.begin() + pairStart_[size_t(k)], last = pairEntries_.begin() + pairStart_[size_t(k) + 1];
    // The pair's sums over the records before block b.
    auto before = [&](int64_t b) {
        auto it = std::lower_bound(first, last, uint32_t(b), [](const PairEntry& e, uint32_t v) { return e.block < v; });
        if (it == first) return ByteSums{};
        const PairEntry& e = *(it - 1);
        return ByteSums{e.weighted, e.bytes, e.count, 0, 0};
    };
    auto prefix = [&](int64_t i) {
        ByteSums s = before(i >> shift);
        s.Add(Scan((i >> shift) << shift, i, slot));
        return s;
    };
    return prefix(to).Minus(prefix(from));
}

const MaxPassResult* TrafficSums::Cached(double scale) const
{
    if (!hasCache_) return nullptr;
    for (size_t s = 0; s < kCachedScales.size(); ++s)
        if (scale == kCachedScales[s]) return &cached_[s];
    return nullptr;
}

}  // namespace orvane::velmora
