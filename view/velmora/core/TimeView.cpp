#include "TimeView.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvane::velmora {

void TimeView::UpdateRange()
{
    // The view keeps to the capture with a fit's margin on either side: from
    // time 0 that far in from the left edge to the end that far in from the
    // right. A capture narrower than that keeps its start there.
    const double width = std::max(plotWidth, 0);
    hMin = width * 0.5 - kFitMargin;
    hMax = std::max(hMin, scale * totalTime + kFitMargin - width * 0.5) + width;
    SetHPos(hPos);
}

ScrollBarState TimeView::Bar() const
{
    const double range = hMax - hMin, width = std::max(plotWidth, 0);
    ScrollBarState bar;
    bar.maximum = int32_t(std::clamp(range, 0.0, double(INT32_MAX)));
    bar.page = int32_t(width);
    // A range past 2^31 pixels is scaled into the bar, the page with it, so
    // the thumb's travel still spans the whole capture.
    if (range > double(INT32_MAX))
        bar.page = std::clamp(int32_t(std::lround(width * bar.maximum / range)), 1, bar.maximum);
    const double travel = range - width;
    const int32_t thumbTravel = bar.maximum - bar.page;
    double position = travel > 0 ? (hPos - hMin) * thumbTravel / travel : 0.0;
    bar.position = int32_t(std::clamp(std::round(position), 0.0, double(std::max(thumbTravel, 0))));
    return bar;
}

void TimeView::SetHPos(double value)
{
    value = std::min(value, hMax - std::max(plotWidth, 0));
    hPos = std::max(value, hMin);
}

void TimeView::Scroll(int32_t code, int32_t track)
{
    ScrollBarState bar = Bar();
    double pos = hPos;
    switch (code) {
    case ScrollLineBack: pos -= kLineStep; break;
    case ScrollLineForward: pos += kLineStep; break;
    // A page is the plot's width in pixels, whatever the bar's scaling.
    case ScrollPageBack: pos -= std::max(plotWidth, 0); break;
    case ScrollPageForward: pos += std::max(plotWidth, 0); break;
    case ScrollThumbPosition:
    case ScrollThumbTrack:
        // The thumb's travel maps onto the view's, end to end.
        if (bar.maximum > bar.page)
            pos = std::trunc(hMin + (hMax - hMin - std::max(plotWidth, 0)) / (bar.maximum - bar.page) * track);
        break;
    case ScrollToStart: pos = bar.minimum; break;
    case ScrollToEnd: pos = hMax; break;
    default: return;
    }
    SetHPos(pos);
}

double TimeView::Usable() const
{
    // A plot too narrow for the margins still gets a positive scale.
    return plotWidth > 2 * kFitMargin ? double(plotWidth - 2 * kFitMargin) : 1.0;
}

bool TimeView::IsFit() const { return std::fabs(scale - Usable() / totalTime) <= 2e-15; }

void TimeView::Fit()
{
    scale = Usable() / totalTime;
    UpdateRange();
    SetHPos(plotWidth * 0.5 - kFitMargin);
}

void TimeView::ZoomAt(int32_t px, double factor)
{
    double old = scale;
    double m = std::trunc(hPos) + px;
    scale *= factor;
    UpdateRange();
    SetHPos((m - plotWidth * 0.5) / old * scale - px + plotWidth * 0.5);
}

double TimeView::TimeAt(int32_t clientX) const
{
    return (std::trunc(hPos) + clientX - plotLeft - plotWidth * 0.5 + 0.5) / scale;
}

std::optional<double> TimeView::CaptureTimeAt(int32_t clientX) const
{
    std::optional<std::pair<double, double>> span = CaptureSpan(clientX, clientX);
    return span ? std::optional(span->first) : std::nullopt;
}

std::optional<std::pair<double, double>> TimeView::CaptureSpan(int32_t x1, int32_t x2) const
{
    const double a = TimeAt(std::min(x1, x2)), b = TimeAt(std::max(x1, x2)), half = 0.5 / scale;
    // A pixel reads the time at its centre: the ones whose halves lie wholly
    // outside the capture read nothing, the edge ones read the edge.
    if (!(b > -half && a < totalTime + half)) return std::nullopt;
    return std::pair(std::clamp(a, 0.0, totalTime), std::clamp(b, 0.0, totalTime));
}

std::pair<double, double> TimeView::BandCover(int32_t x1, int32_t x2) const
{
    const double half = 0.5 / scale;
    return {TimeAt(std::min(x1, x2)) - half, TimeAt(std::max(x1, x2)) + half};
}

double TimeView::VisibleStart() const { return (std::trunc(hPos) - plotWidth * 0.5) / scale; }

double TimeView::CenterTime(double hPos, int32_t left, int32_t right, double scale)
{
    return (std::trunc(hPos) + (left + right) / 2 - left - (right - left) * 0.5 + 0.5) / scale;
}

}  // namespace orvane::velmora
