#include "TimeAxis.h"

#include <cmath>

#include "ChartText.h"

namespace orvane::velmora {

double TickStep(double scale)
{
    if (!(scale > 0) || !std::isfinite(scale)) return 1.0;
    // Up to 1e20 ns: far past any capture, and the loop always ends.
    for (double v = 1.0; v <= 1e20; v *= 10.0) {
        if (v * 1e-9 * scale > 40) return v * 1e-9;
        if (2 * v * 1e-9 * scale > 40) return 2 * v * 1e-9;
    }
    return 1e11;
}

std::vector<TimeTick> TimeTicks(double start, double scale, int32_t rectLeft, int32_t rectRight)
{
    std::vector<TimeTick> ticks;
    double f = TickStep(scale);
    double px = scale * f;
    if (!(px > 0) || !std::isfinite(start * scale)) return ticks;
    double g = std::trunc(start / f) * f;
    double first = std::trunc(g / f);
    bool major = std::fmod(std::fabs(first), 2.0) == 0.0;
    double shift = scale * start - std::trunc(scale * start / px) * px;
    for (int64_t l = 0;; ++l, g += f, major = !major) {
        double x = l * px + rectLeft - shift;
        if (x > rectRight) break;
        if (x < rectLeft) continue;
        TimeTick tick{int64_t(x), major, {}};
        if (major) tick.label = std::fabs(g) < f ? std::string("0s") : FormatTime(g);
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

std::vector<int64_t> GridLines(double start, double scale, int32_t width)
{
    std::vector<int64_t> xs;
    double step = scale * TickStep(scale);
    if (!(step > 0)) return xs;
    double o = scale * start;
    double shift = o - std::trunc(o / step) * step;
    for (int64_t h = 0;; ++h) {
        double x = h * step - shift;
        if (x > width) break;
        xs.push_back(int64_t(x));
    }
    return xs;
}

}  // namespace orvane::velmora
