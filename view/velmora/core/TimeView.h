// The horizontal view of a chart: pixels per second, the scroll range and
// position in pixels (doubles, so a deep zoom of a long capture scrolls past
// 2^31 pixels), and the int scroll bar that shows it, scaled when the range
// does not fit.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace orvane::velmora {

struct ScrollBarState {
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t page = 0;
    int32_t position = 0;
    friend bool operator==(const ScrollBarState&, const ScrollBarState&) = default;
};

// The codes of a scroll bar action, as the bars report them.
enum ScrollCode : int32_t {
    ScrollLineBack = 0, ScrollLineForward = 1, ScrollPageBack = 2, ScrollPageForward = 3,
    ScrollThumbPosition = 4, ScrollThumbTrack = 5, ScrollToStart = 6, ScrollToEnd = 7,
};

class TimeView {
public:
    static constexpr double kDefaultScale = 100.0;
    static constexpr double kMaxScale = 1e10;
    static constexpr int32_t kFitMargin = 20;   // pixels spared on each side by a fit
    static constexpr int32_t kLineStep = 40;    // pixels per wheel step or line click
    static constexpr int32_t kPickPixels = 3;   // how far from the pointer a hovered packet may lie

    double scale = kDefaultScale;  // pixels per second
    double hMin = 0.0;
    double hMax = 100.0;
    double hPos = 0.0;             // pixels; hPos / scale is the time at the plot's centre
    int32_t plotLeft = 0;
    int32_t plotWidth = 0;
    double totalTime = 1.0;

    // ---- the pane's bar ----
    // Range from the plot width, scale and capture length, the position
    // clamped into it; the bar follows.
    void UpdateRange();
    // Win32 style: the thumb travels 0 .. maximum - page.
    ScrollBarState Bar() const;
    // Clamped into the range; the bar position follows.
    void SetHPos(double value);
    // A bar action (ScrollCode) with the bar's track position.
    void Scroll(int32_t code, int32_t track);

    // ---- zoom ----
    bool CanZoomIn() const { return scale < kMaxScale; }
    bool CanZoomOut() const { return totalTime * scale > 100.0; }
    bool IsFit() const;
    void Fit();
    // Zoom by `factor` keeping the time under plot x `px` where it was.
    void ZoomAt(int32_t px, double factor);

    // ---- mapping ----
    // The time under client x.
    double TimeAt(int32_t clientX) const;
    // The time under client x when its pixel lies in the capture: the fit's
    // margins read nothing.
    std::optional<double> CaptureTimeAt(int32_t clientX) const;
    // The times between two client x, ordered and cut to the capture;
    // nothing when the band lies wholly outside it.
    std::optional<std::pair<double, double>> CaptureSpan(int32_t x1, int32_t x2) const;
    // The times a band between two client x covers, from its first pixel's
    // left edge to its last one's right edge, not cut to the capture: the
    // packets starting in it are the ones drawn under the band.
    std::pair<double, double> BandCover(int32_t x1, int32_t x2) const;
    // The time kPickPixels span: a packet farther from the pointer is not the hovered one.
    double PickReach() const { return kPickPixels / scale; }
    // The visible times of a paint.
    double VisibleStart() const;
    double VisibleEnd() const { return VisibleStart() + plotWidth / scale; }
    // Jump so that t is at the centre.
    void GoToTime(double t) { SetHPos(t * scale); }
    // The time at the centre of a plot from left to right, as the pane hands it across families.
    static double CenterTime(double hPos, int32_t left, int32_t right, double scale);

private:
    double Usable() const;
};

}  // namespace orvane::velmora
