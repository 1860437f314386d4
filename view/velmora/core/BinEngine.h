// The bus-usage and transfer-rate charts' arithmetic: bins of 10 pixels on
// multiples of their width from time 0, which packets each bin takes, the
// usage and rate of a bin, the maximum pass, the vertical rule, the texts,
// and the picture of a visible range. Sums come from the capture's
// TrafficSums, so a bin costs a search, never a walk over its packets.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "CData.h"
#include "CaptureArrays.h"
#include "SeriesBins.h"
#include "TrafficSums.h"

namespace orvane::velmora {

enum class BinKind : int32_t { Usage = 0, Rate = 1 };

constexpr double kBinPixels = 10.0;
// The bin charts' own zoom range and steps.
constexpr double kMinBinScale = 10.0;
constexpr double kMaxBinScale = 10000.0;
constexpr double kBinZoomFactor = 10.0;
// 100 % of the bus: 60 x 1048576 high-speed bytes per second.
constexpr double kBusBytesPerSecond = 62914560.0;

// Per mille of the bus for a weighted byte count in a bin of w seconds.
double UsageOf(uint64_t weighted, double w);
// Bytes per second.
double RateOf(uint64_t bytes, double w);
// A value into 32 bits, clamped first (bogus lengths in a 1 ms bin overflow).
int32_t ClampToInt(double v);

// Which bins a range [a, b] has and which packets they may take.
struct BinPlan {
    double w = 0;
    double d = 0;      // the first bin's start
    double h = 0;      // the first bin's end
    double e = 0;      // the range's end
    int64_t first = 0;
    int64_t limit = 0; // no packet at or beyond it is taken
};
BinPlan PlanBins(const CaptureArrays& arrays, double a, double b, double w);

// Walks the bins of a plan: onBin(end, from, to) with the records [from, to)
// that bin (end − w, end] takes. A bin takes packets only when the next one
// starts strictly before its end, then every one that starts at or before it.
// With `jumpEmpty` runs of empty bins are jumped and the walk stops after the
// last packet (the maximum pass). Returns one past the last record taken.
template <class OnBin>
int64_t SweepBins(const CaptureArrays& arrays, const BinPlan& plan, bool jumpEmpty, OnBin onBin);

// The maximum pass at bin width w over the whole capture, both kinds.
MaxPassResult RunMaxPass(const CaptureArrays& arrays, double w);
// The maximum pass of a chart: the largest bin value at the scale (cached
// at load for the chart's own zoom levels), the capture's addresses and
// pairs registered hidden in `series` and every series without a colour coloured.
int32_t MaxPass(const CaptureArrays& arrays, BinKind kind, double scale, SeriesSet* series);

// ---- vertical rule and texts ----
struct BinVRule {
    int32_t base = 1;  // the smallest RowValue
    int32_t full = 2;  // the largest
    int32_t Clamp(int32_t v) const { return v < base ? base : v > full ? full : v; }
};
BinVRule VRuleOf(BinKind kind, int32_t maxValue);
std::string BinUnitText(BinKind kind, int32_t maxValue);
std::string BinAxisLabel(BinKind kind, int32_t maxValue, int64_t value);
// "%.2lf‰" below 50 ‰, else percent.
std::string UsageText(double perMille);
// "999byte/s", "0.98Kb/s", "1.00Mb/s"; empty for a negative rate.
std::string RateText(double bytesPerSecond);

// ---- the picture of a visible range ----
struct BinSeriesKey {
    int16_t address = -1;  // -1: the whole bus
    int16_t endpoint = -1; // -1: the whole address
    bool IsTotal() const { return address < 0; }
    bool IsPair() const { return endpoint >= 0; }
    friend bool operator==(const BinSeriesKey&, const BinSeriesKey&) = default;
};

struct BinPicture {
    std::vector<int64_t> x0, x1;               // per bin, plot x
    std::vector<BinSeriesKey> keys;             // the drawn series in order
    std::vector<std::vector<double>> values;    // [series][bin]: per mille or bytes per second
};

// The shown series of a set in drawing order: the whole bus, the addresses,
// the pairs.
std::vector<BinSeriesKey> ShownSeries(const SeriesSet& set);
SeriesState* SeriesOf(SeriesSet& set, const BinSeriesKey& key);

// The bins of [t0, t1] over a plot `width` pixels wide at `scale`: series
// of pairs charged in the range are created hidden (as a lookup would), and
// `bins` gets each drawn series' values (usage x 1000, or bytes per bin).
BinPicture BuildBinPicture(const CaptureArrays& arrays, BinKind kind, SeriesSet& set, double t0, double t1,
                           double scale, int32_t width, SeriesBins* bins);

// The info strip of a bin chart; `dragMode` 0 hover, 1 band, 2 crosshair.
// Times read at `step` (ReadingStep of the chart's zoom).
std::string BinHoverText(BinKind kind, double t, const std::vector<BinSeriesKey>& keys, const SeriesBins& bins,
                         double w, double step);
std::string BinBandText(BinKind kind, double t1, double t2, const std::vector<BinSeriesKey>& keys,
                        const SeriesBins& bins, double w, double step);
std::string BinCrossText(BinKind kind, double t, double value, double step);
// " 总线使用率" / " 地址%d" / " 地址%d端口%d".
std::string BinLegendText(BinKind kind, const BinSeriesKey& key);
// The settings list's "总线利用率" / "地址%d" / "地址%d 端口%d".
std::string BinListText(const BinSeriesKey& key);

// ---- template ----

template <class OnBin>
int64_t SweepBins(const CaptureArrays& arrays, const BinPlan& plan, bool jumpEmpty, OnBin onBin)
{
    int64_t next = plan.first;
    if (!(plan.w > 0)) return next;
    double h = plan.h;
    while (h < plan.e || std::fabs(h - plan.e) <= 2e-15) {
        int64_t to = next;
        if (next < plan.limit && arrays.StartSeconds(next) < h) to = arrays.FirstStartingAfter(h, next, plan.limit);
        onBin(h, next, to);
        next = to;
        h += plan.w;
        if (!jumpEmpty) continue;
        if (next >= plan.limit) break;
        // Bins ending at or before the next start are empty: jump all but the last of them.
        double gap = std::floor((arrays.StartSeconds(next) - h) / plan.w);
        if (gap >= 1) h += gap * plan.w;
    }
    return next;
}

}  // namespace orvane::velmora
