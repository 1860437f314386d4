// The value bins the bus-usage and transfer-rate charts plot: one row per series.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::velmora {

class SeriesBins {
public:
    double start = 0.0;
    double end = 0.0;

    // n is the series; n == series count opens a new one.
    void Append(int32_t n, int32_t value);
    // Each series' mean over the bins that cover t0..t1; -1 when
    // there is nothing to average.
    int32_t AverageRange(double t0, double t1, double width, std::vector<int32_t>* out) const;
    // Each series' value in the bin of t.
    void ValuesAt(double t, double width, std::vector<int32_t>* out) const;
    void Clear();

    const std::vector<std::vector<int32_t>>& Series() const { return series_; }

private:
    static int32_t At(const std::vector<int32_t>& row, int64_t bin) {
        return bin >= 0 && size_t(bin) < row.size() ? row[size_t(bin)] : 0;
    }

    std::vector<std::vector<int32_t>> series_;
};

}  // namespace orvane::velmora
