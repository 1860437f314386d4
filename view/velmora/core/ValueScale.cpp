#include "ValueScale.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvane::velmora {

namespace {

double Pow2(int64_t k) { return std::ldexp(1.0, int(std::clamp<int64_t>(k, -1000, 1000))); }

}  // namespace

void ValueScale::SetPlot(int32_t top, int32_t bottom)
{
    plotTop = top;
    plotBottom = bottom;
    rowHeight = std::max(0, (PlotHeight() - 6) / 3);
    pixelsPerUnit = double(rowHeight) / rowValue;
}

void ValueScale::SetRowValue(int32_t value)
{
    rowValue = std::max(value, 1);
    pixelsPerUnit = double(rowHeight) / rowValue;
}

int64_t ValueScale::HeightOf(double v) const
{
    if (linear) return int64_t(std::ceil(v * pixelsPerUnit));
    if (v <= 0) return 0;
    if (v < rowValue) return int64_t(std::ceil(double(rowHeight) * v / rowValue));
    int64_t k = int64_t(std::floor(std::log2(v / rowValue)));
    double low = rowValue * Pow2(k);
    return int64_t(rowHeight) * (k + 1) + int64_t(std::ceil((v - low) * rowHeight / low));
}

double ValueScale::ValueAt(int32_t clientY) const
{
    double a = double(vPos) + plotBottom - clientY;
    if (linear) return pixelsPerUnit > 0 ? a / pixelsPerUnit : 0.0;
    if (rowHeight <= 0) return 0.0;
    if (a < rowHeight) return rowValue * a / rowHeight;
    int64_t whole = int64_t(a);
    int64_t r = whole / rowHeight - 1;
    double d = Pow2(r);
    return rowValue * d + double(whole % rowHeight) * rowValue * d / rowHeight;
}

void ValueScale::UpdateRange()
{
    double h = linear ? double(maxValue / rowValue + 1) * rowHeight : double(HeightOf(maxValue) + rowHeight);
    double newMax = h - PlotHeight();
    double oldRange = vMax - vMin;
    vPos = oldRange != 0 ? std::max(0, int32_t(std::clamp(std::trunc((vPos - vMin) / oldRange * newMax),
                                                          double(INT32_MIN), double(INT32_MAX))))
                         : 0;
    vMax = newMax;
}

ScrollBarState ValueScale::Bar() const
{
    auto clampInt = [](double v) { return int32_t(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX))); };
    return {0, clampInt(PlotHeight() + vMax), std::max(PlotHeight(), 0), clampInt(vMax - vPos)};
}

void ValueScale::SetVPos(double value)
{
    value = std::max(std::min(value, vMax), vMin);
    vPos = int32_t(std::clamp(std::trunc(value), double(INT32_MIN), double(INT32_MAX)));
}

void ValueScale::Scroll(int32_t code, int32_t track)
{
    double b = vMax - vPos;
    int32_t step = std::max(rowHeight, kMinRowStep);
    switch (code) {
    case ScrollLineBack: b -= step; break;
    case ScrollLineForward: b += step; break;
    case ScrollPageBack: b -= PlotHeight(); break;
    case ScrollPageForward: b += PlotHeight(); break;
    case ScrollThumbPosition:
    case ScrollThumbTrack: b = track; break;
    case ScrollToStart: b = 0; break;
    case ScrollToEnd: b = vMax; break;
    default: return;
    }
    b = std::clamp(b, 0.0, std::max(vMax, 0.0));
    SetVPos(vMax - b);
}

void ValueScale::ZoomOut(int32_t py, const std::function<void()>& grow, const std::function<void()>& update)
{
    Zoom(py, grow, update, true);
}

void ValueScale::ZoomIn(int32_t py, const std::function<void()>& shrink, const std::function<void()>& update)
{
    Zoom(py, shrink, update, false);
}

void ValueScale::Zoom(int32_t py, const std::function<void()>& change, const std::function<void()>& update, bool out)
{
    double oldPerUnit = pixelsPerUnit;
    int32_t oldPos = vPos;
    change();
    SetRowValue(rowValue);
    update();
    double below = PlotHeight() - py;
    double v = oldPerUnit > 0 ? (below + oldPos) / oldPerUnit : 0.0;
    double pos = std::trunc(std::min(double(maxValue), v) * pixelsPerUnit - below);
    vPos = int32_t(std::clamp(pos, double(INT32_MIN), double(INT32_MAX)));
    if (out && pixelsPerUnit > 0) {
        // The first grid line at the new position: a range whose top lies below it scrolls back to the bottom.
        Rows rows = GridRows();
        double u0 = std::max(0.0, rows.base + std::ceil(std::max(0.0, double(rows.offset) - plotTop) / pixelsPerUnit));
        if (maxValue < u0) vPos = 0;
    }
    SetVPos(vPos);
}

ValueScale::Rows ValueScale::GridRows() const
{
    int32_t rh = std::max(rowHeight, kMinRowStep);
    int32_t pos = std::max(vPos, 0);
    int32_t n = pos / rh;
    Rows rows;
    if (pos % rh != 0) {
        rows.offset = rh - pos % rh;
        rows.base = linear ? int64_t(n + 1) * rowValue : int64_t(Pow2(n) * rowValue);
    } else {
        rows.offset = 0;
        rows.base = linear ? int64_t(n) * rowValue : (n == 0 ? 0 : int64_t(Pow2(n - 1) * rowValue));
    }
    return rows;
}

int64_t ValueScale::AxisValue(int32_t row, int64_t base) const
{
    if (linear) return base + int64_t(row) * rowValue;
    if (base != 0) return int64_t(std::trunc(double(base) * Pow2(row)));
    return row == 0 ? 0 : int64_t(std::trunc(rowValue * Pow2(row - 1)));
}

}  // namespace orvane::velmora
