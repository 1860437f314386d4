#include "CaptureArrays.h"

#include <cmath>
#include <cstdlib>

#include "ChartColour.h"
#include "IDataSource.h"

namespace orvane::velmora {

namespace {

// Seconds to whole ticks, floored and kept far inside int64.
int64_t TicksAt(double t)
{
    double ticks = std::floor(t / kTickSeconds);
    if (!(ticks > -4e18)) return int64_t(-4e18);
    if (ticks > 4e18) return int64_t(4e18);
    return int64_t(ticks);
}

}  // namespace

uint64_t CaptureArrays::StartWordOf(const PacketRecord& r)
{
    // The duration as the packet list reads it: a SPLIT's hub address and
    // start/complete bit lie above its 8 bits and are no part of it.
    return (r.word0 << 16) | r.PacketDuration();
}

std::shared_ptr<const CaptureArrays> CaptureArrays::Load(IDataSource* source, const std::function<bool()>& stopped)
{
    std::shared_ptr<CaptureArrays> arrays(new CaptureArrays);
    if (!source) return arrays;
    // The count answers 0 while the analyser's status cannot be read, though
    // the records read from it are still served: past the count the walk goes
    // on while records come, as the list's parse does.
    const uint32_t n = source->GetCount();
    uint8_t* pids = nullptr;
    uint64_t* starts = nullptr;
    uint32_t* traffic = nullptr;
    uint32_t room = 0;
    auto reserve = [&](uint32_t size) {
        if (size <= room) return;
        room = std::max(size, room + room / 2);
        arrays->pidBytes_.resize(room);
        arrays->startWords_.resize(room);
        arrays->traffic_.resize(room);
        pids = arrays->pidBytes_.data();
        starts = arrays->startWords_.data();
        traffic = arrays->traffic_.data();
    };
    reserve(n);
    int32_t maxData = 0;
    uint32_t charge = kNoCharge;
    PacketRecord record;  // all zero until the first read; "not yet" repeats the last
    auto take = [&](uint32_t i, const PacketRecord& r) {
        pids[i] = r.PidByte();
        starts[i] = StartWordOf(r);
        traffic[i] = TrafficOf(r, &charge);
        if (IsData(r.PidNibble())) maxData = std::max(maxData, int32_t(r.Length()) - 2);
    };
    uint32_t read = 0;
    uint32_t nextCheck = 0;
    for (;;) {
        if (stopped && read >= nextCheck) {
            if (stopped()) return nullptr;
            nextCheck = read + kStopBlock;
        }
        uint32_t held = 0;
        if (const PacketRecord* chunk = source->PeekRecords(read, &held)) {
            held = std::min(held, kStopBlock);
            reserve(read + held);
            for (uint32_t k = 0; k < held; ++k) take(read + k, chunk[k]);
            read += held;
            record = chunk[held - 1];
            continue;
        }
        const int32_t got = source->GetRecord(read, &record);
        // Past the count "not yet" is no record of this capture.
        if (got == RecordEnd || (read >= n && got != RecordOk)) break;
        reserve(read + 1);
        take(read, record);
        ++read;
    }
    arrays->packetCount_ = std::max(n, read);
    arrays->pidBytes_.resize(read);
    arrays->startWords_.resize(read);
    arrays->traffic_.resize(read);
    arrays->maxDataLength_ = maxData;
    if (stopped && stopped()) return nullptr;
    arrays->Finish();
    return arrays;
}

std::shared_ptr<const CaptureArrays> CaptureArrays::FromWords(std::vector<uint8_t> pidBytes,
                                                              std::vector<uint64_t> startWords,
                                                              uint64_t packetCount)
{
    std::shared_ptr<CaptureArrays> arrays(new CaptureArrays);
    size_t n = std::min(pidBytes.size(), startWords.size());
    pidBytes.resize(n);
    startWords.resize(n);
    arrays->pidBytes_ = std::move(pidBytes);
    arrays->startWords_ = std::move(startWords);
    arrays->packetCount_ = packetCount;
    // Without records: bytes by PID, no speed, nothing charged.
    arrays->traffic_.resize(n);
    for (size_t i = 0; i < n; ++i) arrays->traffic_[i] = uint32_t(kPacketSizes[arrays->pidBytes_[i] & 0xF]) | kNoCharge << kChargeShift;
    arrays->Finish();
    return arrays;
}

std::shared_ptr<const CaptureArrays> CaptureArrays::FromRecords(const std::vector<PacketRecord>& records,
                                                                uint64_t packetCount)
{
    std::shared_ptr<CaptureArrays> arrays(new CaptureArrays);
    arrays->packetCount_ = packetCount;
    uint32_t charge = kNoCharge;
    int32_t maxData = 0;
    for (const PacketRecord& r : records) {
        arrays->pidBytes_.push_back(r.PidByte());
        arrays->startWords_.push_back(StartWordOf(r));
        arrays->traffic_.push_back(TrafficOf(r, &charge));
        if (IsData(r.PidNibble())) maxData = std::max(maxData, int32_t(r.Length()) - 2);
    }
    arrays->maxDataLength_ = maxData;
    arrays->Finish();
    return arrays;
}

uint32_t CaptureArrays::TrafficOf(const PacketRecord& r, uint32_t* charge)
{
    uint8_t nibble = r.PidNibble();
    uint32_t bytes = IsData(nibble) ? uint32_t(r.Length()) + 1 : uint32_t(kPacketSizes[nibble]);
    if (IsToken(nibble)) *charge = uint32_t(r.Address()) * 16 + r.Endpoint();
    // SOFs belong to the whole bus only.
    uint32_t slot = nibble == PidSof ? kNoCharge : *charge;
    return bytes | uint32_t(r.Speed()) << kSpeedShift | slot << kChargeShift;
}

void CaptureArrays::Finish()
{
    if (!startWords_.empty()) {
        // A capture of one instant still spans one tick, so fitting never divides by 0.
        uint64_t end = End(Count() - 1);
        totalTime_ = double(std::max<uint64_t>(end, 1)) * kTickSeconds;
    }
    levels_.clear();
    size_t n = startWords_.size();
    if (n == 0) {
        sums_.Build(*this);
        return;
    }
    std::vector<Block> level((n + (size_t(1) << kBlockShift) - 1) >> kBlockShift);
    for (size_t i = 0; i < n; ++i) {
        Block& block = level[i >> kBlockShift];
        uint8_t nibble = pidBytes_[i] & 0xF;
        ++block.counts[nibble];
        uint64_t end = End(int64_t(i));
        block.maxEnd = std::max(block.maxEnd, end);
        block.maxBytes = std::max(block.maxBytes, Bytes(int64_t(i)));
        if (IsData(nibble)) {
            block.maxDataEnd = std::max(block.maxDataEnd, end);
            block.maxPayload = std::max(block.maxPayload, Payload(int64_t(i)));
        }
    }
    levels_.push_back(std::move(level));
    while (levels_.back().size() > 1) {
        const std::vector<Block>& below = levels_.back();
        std::vector<Block> next((below.size() + 15) >> kFanShift);
        for (size_t i = 0; i < below.size(); ++i) {
            Block& block = next[i >> kFanShift];
            for (size_t k = 0; k < 16; ++k) block.counts[k] += below[i].counts[k];
            block.maxEnd = std::max(block.maxEnd, below[i].maxEnd);
            block.maxDataEnd = std::max(block.maxDataEnd, below[i].maxDataEnd);
            block.maxBytes = std::max(block.maxBytes, below[i].maxBytes);
            block.maxPayload = std::max(block.maxPayload, below[i].maxPayload);
        }
        levels_.push_back(std::move(next));
    }
    sums_.Build(*this);
}

int64_t CaptureArrays::UpperBound(int64_t target) const
{
    if (target < 0) return 0;
    auto it = std::upper_bound(startWords_.begin(), startWords_.end(), uint64_t(target),
                               [](uint64_t t, uint64_t word) { return t < (word >> 16); });
    return int64_t(it - startWords_.begin());
}

int64_t CaptureArrays::FirstAfter(double t) const { return UpperBound(TicksAt(t)); }

int64_t CaptureArrays::FirstStartingAfter(double t, int64_t from, int64_t to) const
{
    from = std::clamp<int64_t>(from, 0, Count());
    to = std::clamp<int64_t>(to, from, Count());
    auto it = std::upper_bound(startWords_.begin() + from, startWords_.begin() + to, t,
                               [](double s, uint64_t word) { return s < double(word >> 16) * kTickSeconds; });
    return int64_t(it - startWords_.begin());
}

int64_t CaptureArrays::FindIndex(double t, int mode) const
{
    int64_t count = Count();
    if (count == 0) return -1;
    int64_t target = TicksAt(t);
    int64_t lo = UpperBound(target);
    int64_t k = lo - 1;
    if (lo > 0 && lo < count) {
        if (mode == 2)
            k = lo;
        else if (mode == 0)
            k = std::llabs(int64_t(End(k)) - target) < std::llabs(int64_t(Start(lo)) - target) ? k : lo;
    }
    return std::clamp<int64_t>(k, 0, count - 1);
}

int64_t CaptureArrays::FindIndexNear(double t, double reach) const
{
    int64_t k = FindIndex(t, 0);
    if (k < 0) return -1;
    // How far t lies outside the record; 0 over it.
    double gap = std::max({StartSeconds(k) - t, t - double(End(k)) * kTickSeconds, 0.0});
    return gap <= reach ? k : -1;
}

int64_t CaptureArrays::FindData(int64_t from, bool forward) const
{
    int64_t count = Count();
    constexpr int64_t kBlock = int64_t(1) << kBlockShift;
    auto hasData = [&](int64_t block) { return levels_[0][size_t(block)].HasData(); };
    int64_t i = from;
    while (i >= 0 && i < count) {
        if (!hasData(i >> kBlockShift)) {
            i = forward ? ((i >> kBlockShift) + 1) * kBlock : (i >> kBlockShift) * kBlock - 1;
            continue;
        }
        if (IsData(Nibble(i))) return i;
        i += forward ? 1 : -1;
    }
    return -1;
}

int64_t CaptureArrays::NearestDataIndexAt(double t) const
{
    int64_t count = Count();
    if (count == 0) return -1;
    int64_t target = TicksAt(t);
    int64_t lo = UpperBound(target);
    int64_t earlier = FindData(lo - 1, false);
    if (earlier < 0) earlier = FindData(0, true);
    int64_t later = FindData(lo, true);
    if (later < 0) later = FindData(count - 1, false);
    if (earlier < 0 || later < 0) return std::clamp<int64_t>(lo, 0, count - 1);
    int64_t before = std::llabs(int64_t(End(earlier)) - target);
    int64_t after = std::llabs(int64_t(Start(later)) - target);
    return std::clamp<int64_t>(before < after ? earlier : later, 0, count - 1);
}

std::pair<int64_t, int64_t> CaptureArrays::StartingIn(double t1, double t2) const
{
    auto firstFrom = [&](double t) {
        auto it = std::lower_bound(startWords_.begin(), startWords_.end(), t,
                                   [](uint64_t word, double s) { return double(word >> 16) * kTickSeconds < s; });
        return int64_t(it - startWords_.begin());
    };
    int64_t from = firstFrom(t1);
    return {from, std::max(from, firstFrom(t2))};
}

}  // namespace orvane::velmora
