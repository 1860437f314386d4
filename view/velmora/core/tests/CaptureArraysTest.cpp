// Loading a capture into the charts' arrays (failed and late reads, the
// largest payload, the length of a capture) and finding records by time.
#include <gtest/gtest.h>

#include <random>

#include "BusTrafficBuilder.h"
#include "CaptureArrays.h"
#include "CaptureSource.h"
#include "TimeView.h"

using namespace orvane;
using namespace orvane::velmora;
using orvane::emu::BusTrafficBuilder;
using orvane::emu::CaptureSource;

namespace {

// A source whose reads fail from `failAt` on, or answer "not yet" at `lateAt`,
// and that counts `counted` records (-1: all of them), as an analyser whose
// status read fails counts none while it still serves the records read.
class FlakySource : public CaptureSource {
public:
    FlakySource(emu::BusCapture capture, int64_t failAt, int64_t lateAt, int64_t counted = -1)
        : CaptureSource(std::move(capture)), failAt_(failAt), lateAt_(lateAt), counted_(counted) { SetPeekable(false); }
    uint32_t GetCount() override { return counted_ < 0 ? CaptureSource::GetCount() : uint32_t(counted_); }
    int32_t GetRecord(uint32_t index, PacketRecord* out) override {
        if (int64_t(index) == lateAt_) return RecordNotYet;
        if (int64_t(index) >= failAt_) return RecordEnd;
        return CaptureSource::GetRecord(index, out);
    }

private:
    int64_t failAt_, lateAt_, counted_;
};

// Records at given start ticks and durations.
std::shared_ptr<const CaptureArrays> At(std::vector<std::pair<uint64_t, uint16_t>> packets, uint8_t pid = 0xA5)
{
    std::vector<uint8_t> pids;
    std::vector<uint64_t> words;
    for (auto [start, duration] : packets) {
        pids.push_back(pid);
        words.push_back(start << 16 | duration);
    }
    return CaptureArrays::FromWords(pids, words, packets.size());
}

emu::BusCapture Transactions()
{
    BusTrafficBuilder b(SpeedHigh);
    b.In(3, 1, PidData0, {1, 2, 3, 4});
    b.Out(3, 2, PidData1, std::vector<uint8_t>(100, 7));
    b.InNak(3, 1, 2);
    return b.Take();
}

}  // namespace

TEST(CaptureArrays, LoadKeepsPidAndRotatedStartOfEveryRecord)
{
    emu::BusCapture capture = Transactions();
    for (bool peek : {true, false}) {
        CaptureSource source(capture);
        source.SetPeekable(peek);
        auto arrays = CaptureArrays::Load(&source);
        ASSERT_EQ(arrays->Count(), int64_t(capture.records.size()));
        for (size_t i = 0; i < capture.records.size(); ++i) {
            const PacketRecord& r = capture.records[i];
            EXPECT_EQ(arrays->PidByte(int64_t(i)), r.PidByte());
            EXPECT_EQ(arrays->StartWord(int64_t(i)), r.Timestamp() << 16 | r.Duration());
        }
        EXPECT_EQ(arrays->MaxDataLength(), 100);
        const PacketRecord& last = capture.records.back();
        EXPECT_DOUBLE_EQ(arrays->TotalTime(), double(last.Timestamp() + last.Duration()) * kTickSeconds);
    }
}

TEST(CaptureArrays, FailedReadsShortenAndLateReadsRepeat)
{
    emu::BusCapture capture = Transactions();
    size_t n = capture.records.size();
    const int64_t all = int64_t(n);
    // `counted`: what the source's count answers (-1 all); `packets`: the count kept.
    struct { int64_t failAt, lateAt, counted; int64_t count, packets; } cases[] = {
        {0, -1, -1, 0, all}, {3, -1, -1, 3, all}, {all, 2, -1, all, all},
        {all, -1, 0, all, all},       // counting fails: the records served are walked all the same
        {5, -1, 0, 5, 5}, {all, -1, 4, all, all},
        {all, 6, 4, 6, 6},            // past the count "not yet" ends the walk
        {all, 2, 4, all, all},        // below it, it repeats the record before
    };
    for (const auto& c : cases) {
        FlakySource source(capture, c.failAt, c.lateAt, c.counted);
        auto arrays = CaptureArrays::Load(&source);
        EXPECT_EQ(arrays->Count(), c.count) << c.failAt << " " << c.lateAt << " " << c.counted;
        EXPECT_EQ(arrays->PacketCount(), uint64_t(c.packets)) << "the source's count is kept, or the records read";
        if (c.lateAt > 0 && c.lateAt < c.count) {
            EXPECT_EQ(arrays->StartWord(c.lateAt), arrays->StartWord(c.lateAt - 1));
        }
        EXPECT_EQ(arrays->FindIndex(0.0, 0), c.count ? 0 : -1);
    }
    // Records held in memory past the count are taken as they are.
    FlakySource peeked(capture, all, -1, 4);
    peeked.SetPeekable(true);
    auto arrays = CaptureArrays::Load(&peeked);
    ASSERT_EQ(arrays->Count(), all);
    EXPECT_EQ(arrays->StartWord(all - 1), CaptureArrays::StartWordOf(capture.records.back()));
    EXPECT_TRUE(CaptureArrays::Load(nullptr)->Empty());
}

TEST(CaptureArrays, ALoadAskedToStopGivesNothingAndReadsNoFurther)
{
    // More than one block, so the load is asked again part way.
    BusTrafficBuilder b(SpeedHigh);
    for (uint32_t i = 0; i <= CaptureArrays::kStopBlock; ++i) b.Token(PidIn, 1, 1);
    const emu::BusCapture capture = b.Take();
    for (bool peek : {true, false}) {
        CaptureSource source(capture);
        source.SetPeekable(peek);
        int asked = 0;
        EXPECT_EQ(CaptureArrays::Load(&source, [&] { return ++asked > 1; }), nullptr) << "peek " << peek;
        EXPECT_EQ(asked, 2) << "stopped after the first block";
        asked = 0;
        auto whole = CaptureArrays::Load(&source, [&] { return ++asked < 0; });
        ASSERT_NE(whole, nullptr);
        EXPECT_EQ(whole->Count(), int64_t(capture.records.size())) << "never told to stop: all of it";
        EXPECT_EQ(asked, 3) << "asked at each block and before the summaries, however the records are held";
    }
}

TEST(CaptureArrays, ShortDataPacketsNeverLowerTheMaximumBelowZero)
{
    BusTrafficBuilder b(SpeedFull);
    b.Token(PidIn, 1, 1);
    b.DataWithLength(PidData0, {}, 1);
    CaptureSource source(b.Take());
    EXPECT_EQ(CaptureArrays::Load(&source)->MaxDataLength(), 0);
}

TEST(CaptureArrays, OnePacketAtTimeZeroStillSpansATick)
{
    EXPECT_DOUBLE_EQ(At({{0, 0}})->TotalTime(), kTickSeconds);
}

TEST(CaptureArrays, FindIndexModesAtTheEndsInGapsAndLeftOfZero)
{
    // Packets [100,110) [200,210) [300,305).
    auto arrays = At({{100, 10}, {200, 10}, {300, 5}});
    auto t = [](double ticks) { return ticks * kTickSeconds; };
    struct { double ticks; int mode; int64_t index; } cases[] = {
        {-1e9, 0, 0}, {-1e9, 1, 0}, {-1e9, 2, 0},     // left of zero
        {50, 2, 0}, {50, 1, 0},                       // before the first packet
        {120.5, 0, 0}, {180.5, 0, 1},                 // nearest of the two around a gap
        {150.5, 1, 0}, {150.5, 2, 1},                 // before / after in the gap
        {200.5, 2, 2}, {200.5, 1, 1},
        {1e6, 0, 2}, {1e6, 2, 2}, {1e6, 1, 2},        // after the last
    };
    for (const auto& c : cases) EXPECT_EQ(arrays->FindIndex(t(c.ticks), c.mode), c.index) << c.ticks << " " << c.mode;
    EXPECT_EQ(At({})->FindIndex(0.0, 0), -1);
    // A band counts the records starting in [t1, t2): at its start too.
    struct { double t1, t2; int64_t count; } counts[] = {
        {150.5, 1e6, 2}, {150.5, 160.5, 0}, {-1e9, 1e9, 3}, {100, 100.5, 1}, {100, 200, 1}, {99.5, 300.5, 3},
        {300, 300.5, 1}, {200.5, 150, 0},
    };
    for (const auto& c : counts)
        EXPECT_EQ(arrays->CountBetween(t(c.t1), t(c.t2)), c.count) << c.t1 << " " << c.t2;
    // The hovered record: the nearest, when it lies within reach.
    struct { double ticks, reach; int64_t index; } near[] = {
        {105, 0, 0}, {112, 3, 0}, {112, 1, -1}, {190, 11, 1}, {190, 9, -1}, {160, 10, -1}, {95, 6, 0},
        {94, 5, -1}, {309, 5, 2}, {1e6, 5, -1}, {-1e9, 5, -1},
    };
    for (const auto& c : near)
        EXPECT_EQ(arrays->FindIndexNear(t(c.ticks), t(c.reach)), c.index) << c.ticks << " " << c.reach;
    EXPECT_EQ(At({})->FindIndexNear(0.0, 1.0), -1);
}

TEST(CaptureArrays, ABandCountsThePacketsDrawnUnderIt)
{
    // SOFs at 0, 7510 and 14000 ticks, the last 1000 long, fitted into 540
    // pixels from x 41: a pixel is 30 ticks, time 0 at x 61's left edge.
    auto arrays = At({{0, 0}, {7510, 0}, {14000, 1000}});
    TimeView v;
    v.plotLeft = 41;
    v.plotWidth = 540;
    v.totalTime = arrays->TotalTime();
    v.Fit();
    struct { int32_t x1, x2; int64_t count; } bands[] = {
        {43, 580, 3},              // from the margin past the end: all of them
        {61, 580, 3}, {62, 580, 2}, // from the pixel of packet 0, and the one after it
        {311, 580, 2}, {312, 580, 1}, // from a packet's start pixel
        {580, 311, 2},
        {41, 527, 3}, {41, 526, 2},  // to the pixel of the last packet's start
        {61, 61, 1}, {527, 527, 1}, {300, 310, 0},
    };
    for (const auto& b : bands) {
        auto [t1, t2] = v.BandCover(b.x1, b.x2);
        EXPECT_EQ(arrays->CountBetween(t1, t2), b.count) << b.x1 << " " << b.x2;
    }
}

TEST(CaptureArrays, NearestDataPacket)
{
    BusTrafficBuilder b(SpeedHigh);
    b.In(2, 1, PidData0, {1});   // 0 IN, 1 DATA0, 2 ACK
    b.Idle(3000);
    b.InNak(2, 1, 3);            // 3-8: no data
    b.Idle(3000);
    b.In(2, 1, PidData1, {2});   // 9 IN, 10 DATA1, 11 ACK
    CaptureSource source(b.Take());
    auto arrays = CaptureArrays::Load(&source);
    auto mid = [&](int64_t i) { return (double(arrays->Start(i)) + 0.5) * kTickSeconds; };
    EXPECT_EQ(arrays->NearestDataIndexAt(mid(2)), 1);
    EXPECT_EQ(arrays->NearestDataIndexAt(mid(9)), 10);
    EXPECT_EQ(arrays->NearestDataIndexAt(-1.0), 1);
    EXPECT_EQ(arrays->NearestDataIndexAt(1e3), 10);
}

TEST(CaptureArrays, SkippingBlocksCountsAsRecordByRecord)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> pids;
    std::vector<uint64_t> words;
    uint64_t t = 0;
    for (int i = 0; i < 70000; ++i) {
        pids.push_back(PacketRecord::MakePidByte(uint8_t(rng() % 16)));
        uint16_t duration = uint16_t(rng() % 5 == 0 ? rng() % 3000 : rng() % 20);
        words.push_back(t << 16 | duration);
        t += rng() % 40;
    }
    auto arrays = CaptureArrays::FromWords(pids, words, pids.size());
    for (int trial = 0; trial < 200; ++trial) {
        int64_t from = rng() % 70000, limit = from + rng() % 30000;
        uint64_t threshold = arrays->Start(from) + rng() % 200000;
        PidCounts fast{}, slow{};
        int64_t got = arrays->SkipWhile(from, limit, [&](uint64_t end) { return end <= threshold; }, fast);
        int64_t want = from;
        for (; want < std::min<int64_t>(limit, arrays->Count()) && arrays->End(want) <= threshold; ++want)
            ++slow[arrays->Nibble(want)];
        ASSERT_EQ(got, want) << trial;
        ASSERT_EQ(fast, slow) << trial;
    }
}
