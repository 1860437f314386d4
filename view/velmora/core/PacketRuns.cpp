#include "PacketRuns.h"

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
    for (int64_t i = first; i < last;) {
        PacketRun run;
        run.first = i;
        run.x0 = xOf(arrays.Start(i));
        run.x1 = xOf(arrays.End(i));
        PidCounts counts{};
        ++counts[arrays.Nibble(i)];
        int64_t x0 = run.x0;
        int64_t next = arrays.SkipWhile(i + 1, last, [&](uint64_t end) { return xOf(end) <= x0; }, counts);
        run.packets = next - i;
        run.colour = MeanColour(counts);
        runs.push_back(run);
        i = next;
    }
    return runs;
}

}  // namespace orvane::velmora
