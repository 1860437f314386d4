#include "PacketRuns.h"

#include <algorithm>
#include <cmath>

namespace orvane::velmora {

Rgb MeanColour(const PidCounts& counts)
{
    uint64_t total = 0, r = 0, g = 0, b = 0;
    for (size_t n = 0; n < counts.size(); ++n) {
        if (!counts[n]) continue;
        Rgb c = RgbFromColorRef(ColourOf(uint32_t(n)));
        total += counts[n];
        r += counts[n] * c.r;
        g += counts[n] * c.g;
        b += counts[n] * c.b;
    }
    if (!total) return {};
    return {uint8_t(r / total), uint8_t(g / total), uint8_t(b / total), 255};
}

std::vector<PacketRun> BuildPacketRuns(const CaptureArrays& arrays, double a, double b, int32_t width)
{
    std::vector<PacketRun> runs;
    if (arrays.Empty() || width <= 0 || !(b > a)) return runs;
    int64_t first = std::max<int64_t>(arrays.FindIndex(std::max(a, 0.0), 0), 0);
    // Bounded by the records read, which a failed read leaves below the source's count.
    int64_t last = std::min<int64_t>(arrays.FindIndex(b, 0) + 1, arrays.Count());
    double span = b - a;
    // Far outside the band x only needs to stay ordered; clamp before converting.
    auto xOf = [&](uint64_t ticks) {
        double x = std::trunc((double(ticks) * kTickSeconds - a) / span * width);
        return int64_t(std::clamp(x, -4e15, 4e15));
    };
    // Off the band one column each side will do: the records there, in
    // whatever order, gather into it.
    auto columnOf = [&](uint64_t ticks) { return std::clamp<int64_t>(xOf(ticks), -1, int64_t(width) + 1); };
    auto all = [](uint64_t) { return true; };
    for (int64_t i = first; i < last;) {
        // The records from i that start in its column. Overlapping records or
        // a clock running back still end the column at a later start, so no
        // more than two runs a column, whatever the record count.
        int64_t column = columnOf(arrays.Start(i));
        int64_t columnEnd =
            arrays.FirstStartFailing(i + 1, last, [&](uint64_t start) { return columnOf(start) <= column; });
        int64_t x0 = xOf(arrays.Start(i));
        uint64_t latest = arrays.End(i);
        PidCounts counts{};
        ++counts[arrays.Nibble(i)];
        int64_t next = columnEnd;
        if (xOf(latest) > x0)  // running on past its column, it takes the column's rest along
            arrays.Scan(i + 1, columnEnd, all, false, counts, nullptr, &latest);
        else
            next = arrays.SkipWhile(i + 1, columnEnd, [&](uint64_t end) { return xOf(end) <= x0; }, counts);
        runs.push_back({x0, xOf(latest), i, next - i, MeanColour(counts)});
        if (next < columnEnd) {
            // The rest of the column (in time order just the one packet
            // running on past it), as far as the latest of them reaches.
            PidCounts rest{};
            latest = 0;
            arrays.Scan(next, columnEnd, all, false, rest, nullptr, &latest);
            runs.push_back({x0, xOf(latest), next, columnEnd - next, MeanColour(rest)});
        }
        i = columnEnd;
    }
    return runs;
}

}  // namespace orvane::velmora
