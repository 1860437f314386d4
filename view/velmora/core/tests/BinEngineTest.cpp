// The bin charts' engine: the boundary rule, charging to addresses and
// endpoints, usage and rate numbers, the maximum pass and the pictures
// against a literal walk over every record, the vertical rule and the texts.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

#include "BinEngine.h"
#include "ChartColour.h"
#include "TestRecords.h"

using namespace orvane;
using namespace orvane::velmora;
using orvane::velmora::test::Rec;
using orvane::velmora::test::Token;

namespace {

bool IsToken(uint8_t n) { return n == PidOut || n == PidIn || n == PidSetup || n == PidPing; }
uint32_t BytesOf(const PacketRecord& r)
{
    return r.IsData() ? uint32_t(r.Length()) + 1 : uint32_t(kPacketSizes[r.PidNibble()]);
}

auto Arrays(const std::vector<PacketRecord>& records) { return CaptureArrays::FromRecords(records, records.size()); }

// The bins' rule read literally, record by record: which records each bin takes.
struct LiteralBin {
    double end;
    int64_t from, to;
};
std::vector<LiteralBin> LiteralBins(const std::vector<PacketRecord>& records, double a, double b, double w)
{
    std::vector<LiteralBin> bins;
    double d = std::floor(a / w) * w, h = std::max(w, d + w), e = std::ceil(b / w) * w;
    auto start = [&](size_t i) { return double(records[i].Timestamp()) * kTickSeconds; };
    size_t next = 0;
    if (d > 0)
        while (next < records.size() && double(records[next].Timestamp()) <= std::floor(d / kTickSeconds)) ++next;
    // The last usable record: the last that starts at or before e.
    size_t limit = 0;
    while (limit < records.size() && double(records[limit].Timestamp()) <= std::floor(e / kTickSeconds)) ++limit;
    limit = std::max<size_t>(limit, 1);
    while (h < e || std::fabs(h - e) <= 2e-15) {
        size_t from = next;
        if (next < limit && start(next) < h)
            while (next < limit && start(next) <= h) ++next;
        bins.push_back({h, int64_t(from), int64_t(next)});
        h += w;
    }
    return bins;
}

// The whole-capture maximum with the pairs its tokens register.
struct LiteralMax {
    int32_t usage = 0, rate = 0;
    std::set<std::pair<int, int>> pairs;
};
LiteralMax LiteralMaxPass(const std::vector<PacketRecord>& records, double w)
{
    LiteralMax m;
    const PacketRecord& last = records.back();
    double usage = 0, rate = 0;
    for (const LiteralBin& bin : LiteralBins(records, 0, double(last.Timestamp() + last.Duration()) * kTickSeconds, w)) {
        double high = 0, full = 0, low = 0, bytes = 0;
        for (int64_t i = bin.from; i < bin.to; ++i) {
            const PacketRecord& r = records[size_t(i)];
            double b = BytesOf(r);
            bytes += b;
            if (r.Speed() == SpeedHigh) high += b;
            if (r.Speed() == SpeedFull) full += b;
            if (r.Speed() == SpeedLow) low += b;
            if (IsToken(r.PidNibble())) m.pairs.insert({r.Address(), r.Endpoint()});
        }
        double s = full * 40 + high + low * 320;
        usage = std::max(usage, s == 0 ? 0.0 : s / 62914560.0 * 1000.0 / w);
        if (bin.to > bin.from) rate = std::max(rate, bytes / w);
    }
    m.usage = ClampToInt(usage);
    m.rate = ClampToInt(rate);
    return m;
}

// A random capture: tokens to a few addresses, data of any length, SOFs,
// handshakes, all speeds, gaps of every size, packets sharing a start.
std::vector<PacketRecord> RandomCapture(std::mt19937& rng, int n)
{
    std::vector<PacketRecord> records;
    uint64_t t = rng() % 3;
    const uint8_t pids[] = {PidIn, PidOut, PidSetup, PidPing, PidData0, PidData1, PidData2, PidMData,
                            PidAck, PidNak, PidStall, PidNyet, PidSof, PidSplit, PidPre, 0};
    for (int i = 0; i < n; ++i) {
        uint8_t pid = pids[rng() % 16];
        uint16_t low = 0;
        if (IsToken(pid)) low = Token(int(rng() % 4) + 1, int(rng() % 3));
        if ((pid & 3) == 3) low = uint16_t(rng() % 8 == 0 ? rng() % 65536 : rng() % 600);
        PacketRecord r = Rec(t, uint16_t(rng() % 400), pid, low, uint8_t(rng() % 4));
        if (pid == 0) r.SetPidByte(0);
        records.push_back(r);
        uint32_t gap = rng() % 10;
        t += gap == 0 ? 0 : gap < 8 ? rng() % 2000 : rng() % 30000000;
    }
    return records;
}

}  // namespace

TEST(BinEngine, APacketOnABinEndJoinsTheEarlierBinOnlyWhenItHoldsOne)
{
    double w = double(100) * kTickSeconds;  // bin ends fall on tick 100, 200, ...
    for (bool earlier : {true, false}) {
        std::vector<PacketRecord> records;
        if (earlier) records.push_back(Rec(50, 1, PidAck));
        records.push_back(Rec(100, 1, PidAck));
        records.push_back(Rec(150, 1, PidAck));
        auto arrays = Arrays(records);
        std::vector<std::pair<int64_t, int64_t>> taken;
        SweepBins(*arrays, PlanBins(*arrays, 0, 2 * w, w), false,
                  [&](double, int64_t from, int64_t to) { taken.push_back({from, to}); });
        ASSERT_EQ(taken.size(), 2u);
        if (earlier) {
            EXPECT_EQ(taken[0], std::make_pair(int64_t(0), int64_t(2))) << "tick 100 joins the bin holding tick 50";
            EXPECT_EQ(taken[1], std::make_pair(int64_t(2), int64_t(3)));
        } else {
            EXPECT_EQ(taken[0], std::make_pair(int64_t(0), int64_t(0))) << "alone on the end it opens the next bin";
            EXPECT_EQ(taken[1], std::make_pair(int64_t(0), int64_t(2)));
        }
    }
}

TEST(BinEngine, PacketsAtTimeZeroCountAndNothingIsTakenPastTheCapture)
{
    auto arrays = Arrays({Rec(0, 5, PidIn, Token(1, 1)), Rec(10, 5, PidAck)});
    EXPECT_EQ(MaxPass(*arrays, BinKind::Rate, 10, nullptr), 4) << "IN 3 + ACK 1 in the first 1 s bin";
    // A visible range wholly after the capture shows nothing.
    SeriesSet set;
    SeriesBins bins;
    BinPicture picture = BuildBinPicture(*arrays, BinKind::Rate, set, 5.0, 105.0, 10, 1000, &bins);
    ASSERT_FALSE(picture.values.empty());
    for (double v : picture.values[0]) EXPECT_EQ(v, 0.0);
}

TEST(BinEngine, TokensSetThePairSofsAndEarlyPacketsChargeTheBusOnly)
{
    auto arrays = Arrays({
        Rec(0, 5, PidData0, 10),           // before any token: the bus only
        Rec(10, 5, PidSof, 7),
        Rec(20, 5, PidIn, Token(3, 1)),
        Rec(30, 5, PidData1, 66),
        Rec(40, 5, PidAck),
        Rec(50, 5, PidSof, 8),             // still the bus only
        Rec(60, 5, PidOut, Token(5, 2)),
        Rec(70, 5, PidData0, 4),
        Rec(80, 5, PidNak),
    });
    std::vector<int32_t> want = {-1, -1, 3 * 16 + 1, 3 * 16 + 1, 3 * 16 + 1, -1, 5 * 16 + 2, 5 * 16 + 2, 5 * 16 + 2};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(arrays->Charge(int64_t(i)), want[i]) << i;
    const TrafficSums& sums = arrays->Sums();
    ASSERT_EQ(sums.PairCount(), 2);
    EXPECT_EQ(sums.PairSum(sums.PairIndex(3, 1), 0, 9).bytes, 3u + 67u + 1u);
    EXPECT_EQ(sums.PairSum(sums.PairIndex(5, 2), 0, 9).bytes, 3u + 5u + 1u);
    EXPECT_EQ(sums.Total(0, 9).bytes, 11u + 3u + 3u + 67u + 1u + 3u + 3u + 5u + 1u);
    EXPECT_EQ(sums.PairIndex(7, 7), -1);
    // The maximum pass registers both pairs, hidden, coloured in order.
    SeriesSet set;
    MaxPass(*arrays, BinKind::Usage, 10, &set);
    ASSERT_EQ(set.byEndpoint.size(), 2u);
    EXPECT_EQ(set.byAddress[3].shown, 0);
    EXPECT_EQ(set.byAddress[3].colour, kSeriesPalette[1]);
    EXPECT_EQ(set.byEndpoint[5][2].colour, kSeriesPalette[4]);
}

TEST(BinEngine, UsageWeighsSpeedsAndRateDoesNot)
{
    // 960 packets of 65536 bytes on the bus are 62914560 bytes: 100 % at high speed.
    struct { uint8_t speed; int32_t usage; } cases[] = {
        {SpeedHigh, 1000}, {SpeedFull, 40000}, {SpeedLow, 320000}, {SpeedNone, 0}};
    for (const auto& c : cases) {
        std::vector<PacketRecord> records;
        for (int i = 0; i < 960; ++i) records.push_back(Rec(uint64_t(i) * 60000, 100, PidData0, 65535, c.speed));
        auto arrays = Arrays(records);
        EXPECT_EQ(MaxPass(*arrays, BinKind::Usage, 10, nullptr), c.usage) << int(c.speed);
        EXPECT_EQ(MaxPass(*arrays, BinKind::Rate, 10, nullptr), 62914560) << "every speed counts the same";
    }
    EXPECT_DOUBLE_EQ(UsageOf(62914560, 1.0), 1000.0);
    EXPECT_DOUBLE_EQ(UsageOf(62914560, 0.001), 1e6);
    EXPECT_DOUBLE_EQ(RateOf(1000, 1.0), 1000.0);
    // Bogus lengths in a 1 ms bin overflow 32 bits: clamped, never wrapped.
    EXPECT_EQ(ClampToInt(1e12), INT32_MAX);
    EXPECT_EQ(ClampToInt(-1e12), INT32_MIN);
}

TEST(BinEngine, MaximumPassEqualsALiteralWalkOnRandomCaptures)
{
    std::mt19937 rng(20261209);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<PacketRecord> records = RandomCapture(rng, 200 + int(rng() % 3000));
        auto arrays = Arrays(records);
        for (double scale : {10.0, 100.0, 1000.0, 10000.0, 37.5, 2500.0 / 3.0}) {
            LiteralMax want = LiteralMaxPass(records, 10 / scale);
            SeriesSet set;
            EXPECT_EQ(MaxPass(*arrays, BinKind::Usage, scale, &set), want.usage) << trial << " " << scale;
            EXPECT_EQ(MaxPass(*arrays, BinKind::Rate, scale, nullptr), want.rate) << trial << " " << scale;
            std::set<std::pair<int, int>> got;
            for (const auto& [a, eps] : set.byEndpoint)
                for (const auto& [e, s] : eps) got.insert({a, e});
            EXPECT_EQ(got, want.pairs) << trial;
        }
    }
}

TEST(BinEngine, PicturesEqualALiteralWalkWithTheCurrentPair)
{
    std::mt19937 rng(99);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<PacketRecord> records = RandomCapture(rng, 300 + int(rng() % 2000));
        auto arrays = Arrays(records);
        double total = arrays->TotalTime();
        double scale = std::pow(10.0, 1 + int(rng() % 4));
        double t0 = total * (double(rng() % 1000) / 1000.0) - 5 / scale, t1 = t0 + 800 / scale;
        BinKind kind = trial % 2 ? BinKind::Usage : BinKind::Rate;
        SeriesSet set;
        MaxPass(*arrays, kind, scale, &set);
        for (auto& [a, s] : set.byAddress) s.shown = rng() % 2;
        for (auto& [a, eps] : set.byEndpoint)
            for (auto& [e, s] : eps) s.shown = rng() % 2;
        set.total.shown = rng() % 4 != 0;
        SeriesBins bins;
        BinPicture picture = BuildBinPicture(*arrays, kind, set, t0, t1, scale, 800, &bins);
        double w = 10 / scale;
        std::vector<LiteralBin> literal = LiteralBins(records, t0, t1, w);
        ASSERT_EQ(picture.x0.size(), literal.size()) << trial;
        // Charging as a paint does: the current pair starts unknown and is
        // looked up backwards once, then tokens carry it.
        int current = -1;
        for (size_t b = 0; b < literal.size(); ++b) {
            std::map<int, double> perPair;
            double busBytes = 0, busWeighted = 0;
            for (int64_t i = literal[b].from; i < literal[b].to; ++i) {
                const PacketRecord& r = records[size_t(i)];
                double bytes = BytesOf(r), weighted = bytes * UsageWeight(r.Speed());
                double value = kind == BinKind::Usage ? weighted : bytes;
                busBytes += bytes, busWeighted += weighted;
                uint8_t n = r.PidNibble();
                if (IsToken(n)) current = r.Address() * 16 + r.Endpoint();
                else if (n == PidSof) continue;
                else if (current < 0)
                    for (int64_t k = i - 1; k >= 0; --k)
                        if (IsToken(records[size_t(k)].PidNibble())) {
                            current = records[size_t(k)].Address() * 16 + records[size_t(k)].Endpoint();
                            break;
                        }
                if (current >= 0) perPair[current] += value;
            }
            for (size_t s = 0; s < picture.keys.size(); ++s) {
                const BinSeriesKey& key = picture.keys[s];
                double sum = 0;
                if (key.IsTotal())
                    sum = kind == BinKind::Usage ? busWeighted : busBytes;
                else
                    for (const auto& [slot, v] : perPair)
                        if (slot / 16 == key.address && (!key.IsPair() || slot % 16 == key.endpoint)) sum += v;
                double want = kind == BinKind::Usage ? (sum == 0 ? 0 : sum / 62914560.0 * 1000.0 / w) : sum / w;
                ASSERT_DOUBLE_EQ(picture.values[s][b], want) << trial << " bin " << b << " series " << s;
            }
        }
        // The bins hold what was drawn: one row per drawn series.
        EXPECT_EQ(bins.Series().size(), picture.keys.size());
        EXPECT_DOUBLE_EQ(bins.start, literal.front().end);
    }
}

TEST(BinEngine, BinsSitAtTheirOwnTimesAndTheLastRecordEndsItsBin)
{
    // 1 s bins at 10 px/s; records in the first and third second, the last ending at 2.5 s.
    uint64_t second = uint64_t(1 / kTickSeconds);
    auto arrays = Arrays({Rec(second / 2, 100, PidAck), Rec(2 * second + second / 4, uint16_t(60000), PidAck)});
    SeriesSet set;
    SeriesBins bins;
    // Time 0 lies 20 pixels right of the plot's edge, as after a fit.
    BinPicture picture = BuildBinPicture(*arrays, BinKind::Rate, set, -2.0, 78.0, 10, 800, &bins);
    ASSERT_GE(picture.x0.size(), 3u);
    EXPECT_EQ(picture.x0[0], 20) << "the first bin (0, 1 s] starts at time 0";
    EXPECT_EQ(picture.x1[0], 30);
    EXPECT_EQ(picture.x0[2], 40);
    EXPECT_EQ(picture.x1[2], int64_t(std::floor((double(2 * second + second / 4 + 60000) * kTickSeconds + 2.0) * 10 + 0.5)));
    EXPECT_DOUBLE_EQ(picture.values[0][0], 1.0);
    EXPECT_DOUBLE_EQ(picture.values[0][1], 0.0);
}

TEST(BinEngine, VerticalRuleUnitsAndLabels)
{
    struct { BinKind kind; int32_t m; int32_t base, full; const char* unit; int64_t value; const char* label; } cases[] = {
        {BinKind::Usage, 0, 1, 2, "(‰)", 7, "7"},
        {BinKind::Usage, 49, 1, 16, "(‰)", 7, "7"},
        {BinKind::Usage, 50, 5, 20, "(%)", 25, "2.5"},
        {BinKind::Usage, 200, 5, 80, "(%)", 25, "2.5"},
        {BinKind::Usage, 201, 10, 80, "(%)", 25, "2"},
        {BinKind::Rate, 9999, 1, 4096, "(byte/s)", 5000, "5000"},
        {BinKind::Rate, 10000, 103, 6592, "(Kb/s)", 2048, "2.0"},
        {BinKind::Rate, 101376, 103, 52736, "(Kb/s)", 1536, "1.5"},
        {BinKind::Rate, 101377, 1024, 65536, "(Kb/s)", 1536, "1"},
        {BinKind::Rate, 10240000, 104960, 6717440, "(Mb/s)", 1572864, "1.5"},
    };
    for (const auto& c : cases) {
        BinVRule rule = VRuleOf(c.kind, c.m);
        EXPECT_EQ(rule.base, c.base) << c.m;
        EXPECT_EQ(rule.full, c.full) << c.m;
        EXPECT_EQ(BinUnitText(c.kind, c.m), c.unit) << c.m;
        EXPECT_EQ(BinAxisLabel(c.kind, c.m, c.value), c.label) << c.m;
    }
    EXPECT_EQ(VRuleOf(BinKind::Usage, 600).Clamp(3), 10) << "raised to the base step";
    EXPECT_EQ(VRuleOf(BinKind::Usage, 600).Clamp(1000), 320) << "lowered to the full range";
    EXPECT_EQ(UsageText(49.99), "49.99‰");
    EXPECT_EQ(UsageText(50), "5.00%");
    EXPECT_EQ(RateText(999), "999byte/s");
    EXPECT_EQ(RateText(1000), "0.98Kb/s");
    EXPECT_EQ(RateText(1024000), "0.98Mb/s");
    EXPECT_EQ(RateText(-1), "");
}

TEST(BinEngine, InfoLegendAndListTexts)
{
    SeriesBins bins;
    bins.start = 1.0;
    bins.end = 3.0;
    std::vector<BinSeriesKey> keys = {{}, {3, -1}, {3, 1}};
    for (int32_t s = 0; s < 3; ++s) {
        bins.Append(s, 1000 * (s + 1));
        bins.Append(s, 60000);
    }
    EXPECT_EQ(BinHoverText(BinKind::Usage, 0.5, keys, bins, 1.0, 1e-3),
              "时间：500ms | 总线使用率：1.00‰ | 地址3：2.00‰ | 地址3端口1：3.00‰  ");
    EXPECT_EQ(BinHoverText(BinKind::Rate, 1.5, keys, bins, 1.0, 0.1),
              "时间：1.5s | 总线速度：58.59Kb/s | 地址3速度：58.59Kb/s | 地址3端口1速度：58.59Kb/s  ");
    EXPECT_EQ(BinBandText(BinKind::Rate, 0.5, 1.5, {{}}, bins, 1.0, 0.1),
              "开始：500ms | 结束：1.5s | 宽度：1.0s | 总线平均速度：29.79Kb/s  ");
    EXPECT_EQ(BinBandText(BinKind::Usage, 2.5, 1.5, {{}}, SeriesBins(), 1.0, 0.1),
              "开始：1.5s | 结束：2.5s | 宽度：1.0s  ") << "no averages without bins";
    EXPECT_EQ(BinCrossText(BinKind::Usage, 1, 12.5, 1.0), "时间：1s | 包长度：12.50‰");
    EXPECT_EQ(BinLegendText(BinKind::Usage, {}), " 总线使用率");
    EXPECT_EQ(BinLegendText(BinKind::Rate, {}), " 总线速度");
    EXPECT_EQ(BinLegendText(BinKind::Rate, {3, 1}), " 地址3端口1");
    EXPECT_EQ(BinListText({}), "总线利用率");
    EXPECT_EQ(BinListText({4, -1}), "地址4");
    EXPECT_EQ(BinListText({4, 2}), "地址4 端口2");
}
