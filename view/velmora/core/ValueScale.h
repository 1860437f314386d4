// The vertical value scale of a chart with a value axis: three grid rows of
// RowValue each, linear or doubling, scrolled in pixels from the bottom of
// the value range by the chart's own bar.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

#include "TimeView.h"

namespace orvane::velmora {

class ValueScale {
public:
    static constexpr int32_t kMinRowStep = 12;  // pixels; grid, labels and the line step

    int32_t plotTop = 0;
    int32_t plotBottom = 0;
    int32_t rowHeight = 0;
    int32_t rowValue = 1;          // never 0: every division by it stays defined
    double pixelsPerUnit = 0.0;
    double vMin = 0.0;
    double vMax = 0.0;
    int32_t vPos = 0;
    int32_t maxValue = 0;
    bool linear = true;

    int32_t PlotHeight() const { return plotBottom - plotTop; }
    // Rows from the plot rectangle: three rows with 6 pixels to spare.
    void SetPlot(int32_t top, int32_t bottom);
    void SetRowValue(int32_t value);

    // Pixels of v above the bottom of the value range.
    int64_t HeightOf(double v) const;
    // The value at client y.
    double ValueAt(int32_t clientY) const;

    // Range from the content height; the position keeps its share of the range.
    void UpdateRange();
    ScrollBarState Bar() const;
    void SetVPos(double value);
    // An action of the chart's own bar (ScrollCode).
    void Scroll(int32_t code, int32_t track);

    // ---- zoom (the chart decides what a grow or a shrink does to RowValue) ----
    int32_t FitRowValue() const { return maxValue / 2 > 0 ? maxValue / 2 : 1; }
    bool IsFit() const { return rowValue == FitRowValue(); }
    bool CanZoomIn() const { return rowValue > 1; }
    bool CanZoomOut() const { return rowValue < FitRowValue(); }
    void Grow() { SetRowValue(std::min(2 * int64_t(rowValue), int64_t(FitRowValue()))); }
    void Shrink() { SetRowValue(rowValue / 2); }
    // p: the pointer relative to the plot's top-left corner.
    void ZoomOut(int32_t py, const std::function<void()>& grow, const std::function<void()>& update);
    void ZoomIn(int32_t py, const std::function<void()>& shrink, const std::function<void()>& update);

    // The grid rows' offset: the first grid line lies `offset` pixels above the
    // plot bottom and carries `base`.
    struct Rows {
        int32_t offset = 0;
        int64_t base = 0;
    };
    Rows GridRows() const;
    int64_t AxisValue(int32_t row, int64_t base) const;

private:
    void Zoom(int32_t py, const std::function<void()>& change, const std::function<void()>& update, bool out);
};

}  // namespace orvane::velmora
