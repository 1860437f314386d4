#include "LengthBars.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ChartText.h"
#include "PacketRuns.h"

namespace orvane::velmora {

std::vector<LengthBar> BuildLengthBars(const CaptureArrays& arrays, bool dataOnly, double t0, double t1,
                                       int32_t width, DrawnRange* drawn)
{
    std::vector<LengthBar> bars;
    *drawn = {};
    if (arrays.Empty() || width <= 0 || !(t1 > t0)) return bars;
    int64_t i = std::max<int64_t>(arrays.FindIndex(std::max(t0, 0.0), 0), 0);
    int64_t count = int64_t(std::min<uint64_t>(arrays.PacketCount(), uint64_t(arrays.Count())));
    int64_t end = std::min<int64_t>(arrays.FindIndex(t1, 0) + 1, count);
    if (i < end) *drawn = {i, end - 1};
    double span = t1 - t0;
    // Far outside the plot x only needs to stay ordered; clamp before converting.
    auto xOf = [&](uint64_t ticks) {
        double x = std::trunc((double(ticks) * kTickSeconds - t0) / span * width);
        return int64_t(std::clamp(x, -4e15, 4e15));
    };
    auto nextStart = [&](int64_t from) {
        if (!dataOnly) return from;
        int64_t k = from < end ? arrays.FindData(from, true) : -1;
        return k < 0 ? end : std::min(k, end);
    };
    // A bar from `first` up to `next` starting at band x g, reaching x1.
    auto addBar = [&](int64_t first, int64_t next, int64_t g, int64_t x1, int64_t value, const PidCounts& counts) {
        LengthBar bar;
        bar.first = first;
        bar.value = value;
        bar.x0 = g;
        if (x1 - g > LengthBar::kLabelWidth) {
            bar.labelled = true;
            bar.x1 = x1;
            int64_t last = dataOnly ? arrays.FindData(next - 1, false) : next - 1;
            bar.colour = RgbFromColorRef(ColourOf(arrays.Nibble(std::max(last, first))));
        } else {
            bar.x1 = g + std::max<int64_t>(x1 - g, 1);
            bar.colour = MeanColour(counts);
        }
        bars.push_back(bar);
    };
    // Off the plot one column each side will do: the records there, in
    // whatever order, gather into it.
    auto columnOf = [&](uint64_t ticks) { return std::clamp<int64_t>(xOf(ticks), -1, int64_t(width) + 1); };
    auto all = [](uint64_t) { return true; };
    int64_t column = std::numeric_limits<int64_t>::min();
    for (i = nextStart(i); i < end;) {
        // The records from i that start in its column: overlapping records or
        // a clock running back still make no more than two bars a column. The
        // data chart's next data packet may start back in time, behind the
        // column just done: it takes the next column.
        column = std::max(columnOf(arrays.Start(i)), column + 1);
        int64_t columnEnd =
            arrays.FirstStartFailing(i + 1, end, [&](uint64_t start) { return columnOf(start) <= column; });
        int64_t g = xOf(arrays.Start(i));
        uint64_t latest = arrays.End(i);
        PidCounts counts{};
        ++counts[arrays.Nibble(i)];
        int64_t value = dataOnly ? arrays.Payload(i) : arrays.Bytes(i);
        int64_t next = columnEnd;
        if (xOf(latest) > g)  // running on past its column, it takes the column's rest along
            arrays.Scan(i + 1, columnEnd, all, dataOnly, counts, &value, &latest);
        else
            next = arrays.Scan(i + 1, columnEnd, [&](uint64_t e) { return xOf(e) <= g; }, dataOnly, counts, &value);
        addBar(i, next, g, xOf(latest), value, counts);
        if (next < columnEnd) {
            // The rest of the column (in time order just the one packet
            // running on past it), as far as the latest of them reaches.
            PidCounts rest{};
            int64_t restValue = 0;
            latest = 0;
            arrays.Scan(next, columnEnd, all, dataOnly, rest, &restValue, &latest);
            addBar(next, columnEnd, g, xOf(latest), restValue, rest);
        }
        i = nextStart(columnEnd);
    }
    return bars;
}

int64_t DrawnBytes(const CaptureArrays& arrays, const DrawnRange& drawn, int64_t from, int64_t to)
{
    if (to < from || drawn.last < drawn.first) return 0;
    int64_t first = std::max<int64_t>(0, from - drawn.first);
    int64_t last = std::max<int64_t>(0, std::min(to, drawn.last) - drawn.first);
    last = std::min(last, drawn.last - drawn.first);
    if (last < first) return 0;
    return int64_t(arrays.Sums().Total(drawn.first + first, drawn.first + last + 1).bytes);
}

int64_t BarHeight(int64_t h, int32_t vPos, bool dataOnly)
{
    int64_t d = h - vPos;
    if (!dataOnly) return std::max<int64_t>(d, 0);
    if (d <= 0 && vPos > 0) return 0;
    return d <= 0 ? 1 : d;
}

std::string LengthHoverText(bool dataOnly, double t, int64_t index, uint8_t pidByte, int64_t value, double step)
{
    return "时间：" + ReadingText(t, step) + Format(" | 包序号：%lld | 包类型：", (long long)index) + PacketTypeName(pidByte) +
           Format(dataOnly ? " | 数据长度：%lldbyte" : " | 包长度：%lldbyte", (long long)value);
}

std::string PacketLengthBandText(double t1, double t2, int64_t packets, int64_t bytes, double step)
{
    return JoinInfo(JoinInfo(SelectionText(t1, t2, step), PacketCountText(packets)),
                    "总大小：" + FormatByteSize(uint64_t(std::max<int64_t>(bytes, 0))));
}

std::string DataLengthBandText(double t1, double t2, int64_t dataPackets, int64_t payload, double step)
{
    return JoinInfo(SelectionText(t1, t2, step), Format("数据包个数：%lld | 数据总大小：", (long long)dataPackets) +
                                               FormatByteSize(uint64_t(std::max<int64_t>(payload, 0))));
}

std::string LengthCrossText(double t, double value, double step)
{
    return "时间：" + ReadingText(t, step) + Format(" | 包长度：%lldbyte", (long long)std::trunc(std::clamp(value, -9e18, 9e18)));
}

}  // namespace orvane::velmora
