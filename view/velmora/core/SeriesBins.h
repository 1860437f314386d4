// The value bins the packet-length chart (one row of values by position) and
// the bus-usage and transfer-rate charts (one row per series) plot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::velmora {

class SeriesBins {
public:
    enum Mode : int32_t { Single = 0, Multi = 1 };

    explicit SeriesBins(Mode mode = Single) : mode_(mode) {}

    Mode GetMode() const { return mode_; }
    double start = 0.0;
    double end = 0.0;

    // Single: n is the value's position; the first value sets both ends.
    // Multi: n is the series; n == series count opens a new one.
    void Append(int32_t n, int32_t value);
    // Single mode: the sum of the values at positions from..to; -1 in multi mode.
    int64_t SumRange(int32_t from, int32_t to) const;
    // Multi mode: each series' mean over the bins that cover t0..t1; -1 when
    // there is nothing to average.
    int32_t AverageRange(double t0, double t1, double width, std::vector<int32_t>* out) const;
    // Multi mode: each series' value in the bin of t.
    void ValuesAt(double t, double width, std::vector<int32_t>* out) const;
    void Clear();

    const std::vector<int32_t>& Values() const { return values_; }
    const std::vector<std::vector<int32_t>>& Series() const { return series_; }

private:
    static int32_t At(const std::vector<int32_t>& row, int64_t bin) {
        return bin >= 0 && size_t(bin) < row.size() ? row[size_t(bin)] : 0;
    }

    Mode mode_;
    std::vector<int32_t> values_;
    std::vector<std::vector<int32_t>> series_;
};

}  // namespace orvane::velmora
