#include "SeriesBins.h"

#include <algorithm>
#include <cmath>

namespace orvane::velmora {

void SeriesBins::Append(int32_t n, int32_t value)
{
    if (n < 0) return;
    if (size_t(n) == series_.size())
        series_.push_back({value});
    else if (size_t(n) < series_.size())
        series_[size_t(n)].push_back(value);
}

int32_t SeriesBins::AverageRange(double t0, double t1, double width, std::vector<int32_t>* out) const
{
    if (!(width > 0) || series_.empty()) return -1;
    t1 = std::min(t1, end);
    if (t0 > t1) return -1;
    int64_t first = std::max<int64_t>(0, int64_t(std::ceil((t0 - start) / width)));
    int64_t last = int64_t(std::ceil((t1 - start) / width));
    if (last >= int64_t(series_[0].size())) return -1;
    for (const auto& row : series_) {
        if (last < first) {
            out->push_back(0);
            continue;
        }
        int64_t sum = 0;
        for (int64_t bin = first; bin <= last; ++bin) sum += At(row, bin);
        out->push_back(int32_t(sum / (last - first + 1)));
    }
    return 0;
}

void SeriesBins::ValuesAt(double t, double width, std::vector<int32_t>* out) const
{
    if (!(width > 0) || series_.empty() || series_[0].empty()) return;
    int64_t bin = std::max<int64_t>(0, int64_t(std::ceil((t - start) / width)));
    bin = std::min<int64_t>(bin, int64_t(series_[0].size()) - 1);
    for (const auto& row : series_) out->push_back(At(row, bin));
}

void SeriesBins::Clear()
{
    series_.clear();
    start = end = 0.0;
}

}  // namespace orvane::velmora
