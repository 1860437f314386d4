// The time axis: the tick step for a scale and the ticks of a visible range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::velmora {

// The smallest of 1, 2, 10, 20, 100, 200 ... ns that is wider than 40 pixels.
double TickStep(double scale);

struct TimeTick {
    int64_t x = 0;       // client x
    bool major = false;
    std::string label;   // major ticks only
};

// Ticks from `start` (seconds at rectLeft) up to rectRight; ticks left of
// rectLeft are dropped.
std::vector<TimeTick> TimeTicks(double start, double scale, int32_t rectLeft, int32_t rectRight);

// x of the vertical grid lines in a plot of `width` pixels starting at `start`.
std::vector<int64_t> GridLines(double start, double scale, int32_t width);

}  // namespace orvane::velmora
