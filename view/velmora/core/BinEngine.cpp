#include "BinEngine.h"

#include <algorithm>
#include <climits>

#include "ChartText.h"

namespace orvane::velmora {

double UsageOf(uint64_t weighted, double w)
{
    if (weighted == 0 || !(w > 0)) return 0.0;
    return double(weighted) / kBusBytesPerSecond * 1000.0 / w;
}

double RateOf(uint64_t bytes, double w) { return w > 0 ? double(bytes) / w : 0.0; }

int32_t ClampToInt(double v)
{
    if (std::isnan(v)) return 0;
    return int32_t(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX)));
}

BinPlan PlanBins(const CaptureArrays& arrays, double a, double b, double w)
{
    BinPlan plan;
    plan.w = w;
    if (!(w > 0)) return plan;
    plan.d = std::floor(a / w) * w;
    plan.h = std::max(w, plan.d + w);
    plan.e = std::ceil(b / w) * w;
    if (arrays.Empty()) return plan;
    // From time 0 every packet counts, also those starting at 0; past the
    // capture's end nothing is taken.
    plan.first = plan.d <= 0 ? 0 : arrays.FirstAfter(plan.d);
    int64_t lastUsable = arrays.FindIndex(plan.e, 1);
    plan.limit = std::min<int64_t>({lastUsable + 1, int64_t(std::min<uint64_t>(arrays.PacketCount(), INT64_MAX)),
                                    arrays.Count()});
    return plan;
}

MaxPassResult RunMaxPass(const CaptureArrays& arrays, double w)
{
    MaxPassResult result;
    if (arrays.Empty() || !(w > 0)) return result;
    BinPlan plan = PlanBins(arrays, 0.0, double(arrays.End(arrays.Count() - 1)) * kTickSeconds, w);
    double maxUsage = 0, maxRate = 0;
    const TrafficSums& sums = arrays.Sums();
    result.takenEnd = SweepBins(arrays, plan, true, [&](double, int64_t from, int64_t to) {
        if (to <= from) return;
        ByteSums s = sums.Total(from, to);
        maxUsage = std::max(maxUsage, UsageOf(s.weighted, w));
        maxRate = std::max(maxRate, RateOf(s.bytes, w));
    });
    result.maxUsage = ClampToInt(maxUsage);
    result.maxRate = ClampToInt(maxRate);
    return result;
}

int32_t MaxPass(const CaptureArrays& arrays, BinKind kind, double scale, SeriesSet* series)
{
    if (arrays.Empty() || !(scale > 0)) return 0;
    const TrafficSums& sums = arrays.Sums();
    MaxPassResult local;
    const MaxPassResult* result = sums.Cached(scale);
    if (!result) {
        local = RunMaxPass(arrays, kBinPixels / scale);
        result = &local;
    }
    if (series) {
        // Every pair whose token the pass took, hidden when new.
        for (int32_t k = 0; k < sums.PairCount(); ++k) {
            if (sums.FirstToken(k) >= result->takenEnd) continue;
            PairKey pair = sums.Pair(k);
            series->byAddress[pair.address];
            series->byEndpoint[pair.address][pair.endpoint];
        }
        series->AssignColours();
    }
    return kind == BinKind::Usage ? result->maxUsage : result->maxRate;
}

BinVRule VRuleOf(BinKind kind, int32_t m)
{
    BinVRule rule;
    if (kind == BinKind::Usage)
        rule.base = m < 50 ? 1 : m <= 200 ? 5 : 10;
    else
        rule.base = m < 10000 ? 1 : m <= 101376 ? 103 : m < 10240000 ? 1024 : 104960;
    int64_t full = int64_t(rule.base) * 2;
    while (full < m / 3) full *= 2;
    rule.full = int32_t(std::min<int64_t>(full, INT32_MAX));
    return rule;
}

std::string BinUnitText(BinKind kind, int32_t m)
{
    if (kind == BinKind::Usage) return UsageUnitText(m);
    return m <= 9999 ? "(byte/s)" : m < 10240000 ? "(Kb/s)" : "(Mb/s)";
}

std::string BinAxisLabel(BinKind kind, int32_t m, int64_t v)
{
    if (kind == BinKind::Usage) {
        if (m <= 49) return Format("%lld", (long long)v);
        if (m <= 200) return Format("%.1lf", double(v) / 10.0);
        return Format("%lld", (long long)(v / 10));
    }
    if (m <= 9999) return Format("%lld", (long long)v);
    if (m <= 101376) return Format("%.1lf", double(v) / 1024.0);
    if (m <= 10239999) return Format("%lld", (long long)(v / 1024));
    return Format("%.1lf", double(v) / 1048576.0);
}

std::string UsageText(double x)
{
    if (x >= 0 && x < 50) return Format("%.2lf‰", x);
    return Format("%.2lf%%", x / 10.0);
}

std::string RateText(double x)
{
    if (!(x >= 0)) return {};
    if (x < 1000) return Format("%.0lfbyte/s", x);
    if (x < 1024000) return Format("%.2lfKb/s", x / 1024.0);
    return Format("%.2lfMb/s", x / 1048576.0);
}

std::vector<BinSeriesKey> ShownSeries(const SeriesSet& set)
{
    std::vector<BinSeriesKey> keys;
    if (set.total.shown) keys.push_back({});
    for (const auto& [address, series] : set.byAddress)
        if (series.shown) keys.push_back({address, -1});
    for (const auto& [address, endpoints] : set.byEndpoint)
        for (const auto& [endpoint, series] : endpoints)
            if (series.shown) keys.push_back({address, endpoint});
    return keys;
}

SeriesState* SeriesOf(SeriesSet& set, const BinSeriesKey& key)
{
    if (key.IsTotal()) return &set.total;
    if (!key.IsPair()) {
        auto it = set.byAddress.find(key.address);
        return it == set.byAddress.end() ? nullptr : &it->second;
    }
    auto it = set.byEndpoint.find(key.address);
    if (it == set.byEndpoint.end()) return nullptr;
    auto ep = it->second.find(key.endpoint);
    return ep == it->second.end() ? nullptr : &ep->second;
}

BinPicture BuildBinPicture(const CaptureArrays& arrays, BinKind kind, SeriesSet& set, double t0, double t1,
                           double scale, int32_t width, SeriesBins* bins)
{
    BinPicture picture;
    bins->Clear();
    if (arrays.Empty() || width <= 0 || !(t1 > t0) || !(scale > 0)) return picture;
    double w = kBinPixels / scale;
    BinPlan plan = PlanBins(arrays, t0, t1, w);
    struct Bin {
        double end;
        int64_t from, to;
    };
    std::vector<Bin> walk;
    int64_t taken = SweepBins(arrays, plan, false, [&](double h, int64_t from, int64_t to) {
        walk.push_back({h, from, to});
    });
    if (walk.empty()) return picture;
    const TrafficSums& sums = arrays.Sums();
    // The lookups of the charging create the series of pairs charged here.
    for (int32_t k = 0; k < sums.PairCount(); ++k) {
        if (sums.PairSum(k, plan.first, taken).count == 0) continue;
        PairKey pair = sums.Pair(k);
        set.byAddress[pair.address];
        set.byEndpoint[pair.address][pair.endpoint];
    }
    picture.keys = ShownSeries(set);
    // Each drawn series as the pairs it sums.
    std::vector<std::vector<int32_t>> pairsOf(picture.keys.size());
    for (size_t s = 0; s < picture.keys.size(); ++s) {
        const BinSeriesKey& key = picture.keys[s];
        if (key.IsTotal()) continue;
        for (int32_t k = 0; k < sums.PairCount(); ++k) {
            PairKey pair = sums.Pair(k);
            if (pair.address == key.address && (!key.IsPair() || pair.endpoint == key.endpoint))
                pairsOf[s].push_back(k);
        }
    }
    double span = t1 - t0;
    auto xOf = [&](double t) { return int64_t(std::clamp(std::floor((t - t0) / span * width + 0.5), -4e15, 4e15)); };
    // Each bin at its own time (the first bin starts at its end less one width).
    int64_t firstX = xOf(walk.front().end - w);
    int64_t lastRecord = arrays.Count() - 1;
    picture.values.assign(picture.keys.size(), std::vector<double>(walk.size()));
    bins->start = walk.front().end;
    bins->end = plan.e;
    for (size_t b = 0; b < walk.size(); ++b) {
        const Bin& bin = walk[b];
        int64_t x0 = firstX + int64_t(b) * int64_t(kBinPixels), x1 = x0 + int64_t(kBinPixels);
        if (bin.from < bin.to && bin.to - 1 == lastRecord)
            x1 = std::max<int64_t>(xOf(double(arrays.End(lastRecord)) * kTickSeconds), 0);
        picture.x0.push_back(x0);
        picture.x1.push_back(x1);
        for (size_t s = 0; s < picture.keys.size(); ++s) {
            ByteSums sum;
            if (bin.from < bin.to) {
                if (picture.keys[s].IsTotal())
                    sum = sums.Total(bin.from, bin.to);
                else
                    for (int32_t k : pairsOf[s]) sum.Add(sums.PairSum(k, bin.from, bin.to));
            }
            double value = kind == BinKind::Usage ? UsageOf(sum.weighted, w) : RateOf(sum.bytes, w);
            picture.values[s][b] = value;
            bins->Append(int32_t(s), kind == BinKind::Usage ? ClampToInt(value * 1000.0) : ClampToInt(double(sum.bytes)));
        }
    }
    return picture;
}

namespace {

std::string SeriesInfo(BinKind kind, const BinSeriesKey& key, bool average, const std::string& value)
{
    bool usage = kind == BinKind::Usage;
    if (key.IsTotal())
        return Format(usage ? (average ? "| 总线使用率平均值：%s " : "| 总线使用率：%s ")
                            : (average ? "| 总线平均速度：%s " : "| 总线速度：%s "),
                      value.c_str());
    if (!key.IsPair())
        return Format(usage ? (average ? "| 地址%d平均值：%s " : "| 地址%d：%s ")
                            : (average ? "| 地址%d平均速度：%s " : "| 地址%d速度：%s "),
                      key.address, value.c_str());
    return Format(usage ? (average ? "| 地址%d端口%d平均值：%s " : "| 地址%d端口%d：%s ")
                        : (average ? "| 地址%d端口%d平均速度：%s " : "| 地址%d端口%d速度：%s "),
                  key.address, key.endpoint, value.c_str());
}

// A value of the bins as the info strip shows it.
std::string BinValueText(BinKind kind, int32_t value, double w)
{
    return kind == BinKind::Usage ? UsageText(value / 1000.0) : RateText(w > 0 ? value / w : 0.0);
}

std::string SeriesTexts(BinKind kind, const std::vector<int32_t>& values, const std::vector<BinSeriesKey>& keys,
                        bool average, double w)
{
    std::string text;
    for (size_t s = 0; s < values.size() && s < keys.size(); ++s)
        text += SeriesInfo(kind, keys[s], average, BinValueText(kind, values[s], w));
    return text;
}

}  // namespace

std::string BinHoverText(BinKind kind, double t, const std::vector<BinSeriesKey>& keys, const SeriesBins& bins, double w,
                         double step)
{
    std::vector<int32_t> values;
    bins.ValuesAt(t, w, &values);
    return "时间：" + ReadingText(t, step) + " " + SeriesTexts(kind, values, keys, false, w) + " ";
}

std::string BinBandText(BinKind kind, double t1, double t2, const std::vector<BinSeriesKey>& keys,
                        const SeriesBins& bins, double w, double step)
{
    std::vector<int32_t> values;
    if (bins.AverageRange(t1, t2, w, &values) != 0) values.clear();
    return SelectionText(t1, t2, step) + " " + SeriesTexts(kind, values, keys, true, w) + " ";
}

std::string BinCrossText(BinKind kind, double t, double value, double step)
{
    return "时间：" + ReadingText(t, step) + " | 包长度：" + (kind == BinKind::Usage ? UsageText(value) : RateText(value));
}

std::string BinLegendText(BinKind kind, const BinSeriesKey& key)
{
    if (key.IsTotal()) return kind == BinKind::Usage ? " 总线使用率" : " 总线速度";
    if (!key.IsPair()) return Format(" 地址%d", key.address);
    return Format(" 地址%d端口%d", key.address, key.endpoint);
}

std::string BinListText(const BinSeriesKey& key)
{
    if (key.IsTotal()) return "总线利用率";
    if (!key.IsPair()) return Format("地址%d", key.address);
    return Format("地址%d 端口%d", key.address, key.endpoint);
}

}  // namespace orvane::velmora
