// The time and value scales: fit, zoom anchors, scrolling (past 2^31 pixels
// too), tick steps and labels, the linear and doubling value scales and the
// vertical scroll and zoom.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <optional>

#include "TimeAxis.h"
#include "TimeView.h"
#include "ValueScale.h"

using namespace orvane::velmora;

namespace {

TimeView View(int32_t width, double total)
{
    TimeView v;
    v.plotLeft = 41;
    v.plotWidth = width;
    v.totalTime = total;
    return v;
}

}  // namespace

TEST(TimeView, FitPutsTheCaptureBetweenTwentyPixelMargins)
{
    struct { int32_t width; double total; double scale; } cases[] = {
        {540, 1.0, 500.0},     // nothing loaded: 1 s over width - 40
        {1040, 0.5, 2000.0},
        {30, 1.0, 1.0},        // too narrow for the margins: still a positive scale
    };
    for (const auto& c : cases) {
        TimeView v = View(c.width, c.total);
        v.Fit();
        EXPECT_DOUBLE_EQ(v.scale, c.scale);
        EXPECT_TRUE(v.IsFit());
        if (c.width > 40) {
            EXPECT_NEAR(v.TimeAt(v.plotLeft + 20), 0.0, 1.0 / v.scale) << "the capture starts 20 px in";
            EXPECT_NEAR(v.TimeAt(v.plotLeft + c.width - 20), c.total, 1.0 / v.scale);
        }
    }
}

TEST(TimeView, ZoomKeepsTheTimeUnderThePointer)
{
    TimeView v = View(1000, 10.0);
    v.Fit();
    // Over the capture: the margins either side are pixels, not times.
    for (int32_t px : {20, 250, 980}) {
        for (double factor : {2.0, 0.5, 10.0}) {
            TimeView z = v;
            z.ZoomAt(px, 2.0);  // room to zoom both ways
            double before = z.TimeAt(z.plotLeft + px);
            double coarse = std::min(z.scale, z.scale * factor);
            z.ZoomAt(px, factor);
            // Within a pixel of the coarser of the two scales.
            EXPECT_NEAR(z.TimeAt(z.plotLeft + px), before, 1.0 / coarse) << px << " x" << factor;
        }
    }
}

TEST(TimeView, ZoomLimits)
{
    TimeView v = View(1000, 1.0);
    v.scale = 0.99e10;
    EXPECT_TRUE(v.CanZoomIn());
    v.scale = 1e10;
    EXPECT_FALSE(v.CanZoomIn());
    v.scale = 100.0;
    EXPECT_FALSE(v.CanZoomOut()) << "the whole capture is 100 pixels wide";
    v.scale = 101.0;
    EXPECT_TRUE(v.CanZoomOut());
}

TEST(TimeView, ScrollCodesAndTheBarPastTwoToTheThirtyOne)
{
    TimeView v = View(1000, 1000.0);
    v.scale = 1e9;  // 1e12 pixels of capture
    v.UpdateRange();
    v.SetHPos(5e11);
    ScrollBarState bar = v.Bar();
    EXPECT_EQ(bar.maximum, INT32_MAX);
    EXPECT_EQ(bar.page, 2) << "the page scaled as the range is";
    EXPECT_NEAR(bar.position, INT32_MAX / 2, 2);
    struct { int32_t code; int32_t track; double pos; } cases[] = {
        {ScrollLineBack, 0, 5e11 - 40}, {ScrollLineForward, 0, 5e11 + 40}, {ScrollPageBack, 0, 5e11 - 1000},
        {ScrollPageForward, 0, 5e11 + 1000}, {ScrollToStart, 0, 480}, {ScrollToEnd, 0, v.hMax - 1000},
        {ScrollThumbTrack, INT32_MAX, std::trunc(v.hMax) - 1000}, {99, 0, 5e11},
    };
    for (const auto& c : cases) {
        TimeView s = v;
        s.Scroll(c.code, c.track);
        EXPECT_DOUBLE_EQ(s.hPos, c.pos) << c.code;
    }
    TimeView left = v;
    left.SetHPos(-5.0);
    EXPECT_EQ(left.hPos, 480.0) << "time 0 stays 20 px in from the left edge";
}

TEST(TimeView, TheViewKeepsToTheCaptureWithAFitsMarginEachSide)
{
    // A mouse capture of 1.69 s fitted, zoomed in and out around it; a 24 s
    // capture zoomed in past 2^31 pixels (100, 160 and 400 px/us); a view
    // handed over from another chart at 0 or far past the end.
    struct { double total; double zoom; double pixelsPerSecond; } cases[] = {
        {1.69, 1.0, 0}, {1.69, 2.0, 0}, {1.69, 16.0, 0}, {1.69, 1e4, 0}, {1.69, 0.5, 0}, {1.69, 0.125, 0},
        {24.0, 0, 1e8}, {24.0, 0, 1.6e8}, {24.0, 0, 4e8}, {24.0, 0, 1e10},
    };
    for (const auto& c : cases) {
        const double total = c.total;
        TimeView v = View(1000, total);
        v.Fit();
        const double zoom = c.pixelsPerSecond > 0 ? c.pixelsPerSecond / v.scale : c.zoom;
        const double margin = TimeView::kFitMargin / (v.scale * zoom);
        v.ZoomAt(300, zoom);
        const double pixel = 1.0 / v.scale;
        const bool wide = total * v.scale > 1000 - 2 * TimeView::kFitMargin;
        const ScrollBarState bar = v.Bar();
        const int32_t thumbEnd = bar.maximum - bar.page;  // as far as a thumb goes
        ASSERT_GE(thumbEnd, 0) << total << " " << zoom;
        for (int32_t code : {ScrollToStart, ScrollToEnd, ScrollLineBack, ScrollPageForward, ScrollThumbTrack}) {
            for (int32_t track : {0, thumbEnd / 3, thumbEnd, INT32_MAX}) {
                TimeView s = v;
                s.Scroll(code, track);
                EXPECT_GE(s.VisibleStart(), -margin - 1e-12) << zoom << " " << code;
                if (wide) {
                    EXPECT_LE(s.VisibleEnd(), total + margin + 1e-12) << zoom << " " << code;
                } else {
                    EXPECT_DOUBLE_EQ(s.VisibleStart(), -margin) << "a narrow capture keeps its start in place";
                }
                if (wide && code == ScrollThumbTrack && track <= thumbEnd) {
                    EXPECT_EQ(s.Bar().position, track) << zoom << ": the thumb stays where it was let go";
                }
            }
        }
        TimeView end = v;
        end.Scroll(ScrollToEnd, 0);
        if (wide) {
            EXPECT_NEAR(end.VisibleEnd(), total + margin, pixel) << zoom << ": End shows the capture's end";
            EXPECT_EQ(end.Bar().position, thumbEnd) << zoom << ": with the thumb at the far end";
            TimeView thumb = v;
            thumb.Scroll(ScrollThumbTrack, thumbEnd);
            EXPECT_NEAR(thumb.VisibleEnd(), total + margin, pixel) << zoom << ": so does the thumb at the far end";
            TimeView page = end;
            page.Scroll(ScrollPageBack, 0);
            EXPECT_DOUBLE_EQ(page.hPos, std::max(end.hPos - 1000, v.hMin)) << zoom << ": a page is the plot's width";
        }
        for (double hPos : {0.0, -1e9, 1e300}) {
            TimeView synced = v;
            synced.hPos = hPos;
            synced.UpdateRange();
            EXPECT_GE(synced.VisibleStart(), -margin - 1e-12) << zoom << " " << hPos;
            EXPECT_LE(synced.VisibleEnd(), std::max(total + margin, synced.VisibleStart() + 1000 / v.scale) + 1e-12);
            EXPECT_GE(synced.TimeAt(synced.plotLeft), -margin - 1e-12) << "no reading before 0 but in the margin";
        }
    }
    // The bin charts' fit at their own scale, time 0 20 px in, is in range
    // however short the capture.
    TimeView bins = View(1000, 0.001);
    bins.scale = 10.0;
    bins.UpdateRange();
    bins.SetHPos(1000 * 0.5 - TimeView::kFitMargin);
    EXPECT_DOUBLE_EQ(bins.hPos, 480.0);
    EXPECT_NEAR(bins.TimeAt(bins.plotLeft + 20), 0.0, 1.0 / bins.scale);
}

TEST(TimeView, MappingAndCentreTime)
{
    TimeView v = View(100, 1.0);
    v.scale = 100.0;
    v.hPos = 50.0;  // 0.5 s at the centre
    EXPECT_DOUBLE_EQ(v.VisibleStart(), 0.0);
    EXPECT_DOUBLE_EQ(v.VisibleEnd(), 1.0);
    EXPECT_DOUBLE_EQ(v.TimeAt(v.plotLeft + 50), 0.505);
    EXPECT_DOUBLE_EQ(TimeView::CenterTime(50.0, 41, 141, 100.0), 0.505);
    // Readings: nothing in the margins before and after the capture; the
    // pixel at either edge reads the edge. A fitted 1 s capture, 500 px/s.
    TimeView fit = View(540, 1.0);
    fit.Fit();
    struct { int32_t x; double t; } readings[] = {
        {41, -1}, {41 + 19, -1}, {41 + 20, 0.0}, {41 + 270, 0.5}, {41 + 519, 1.0}, {41 + 520, -1}, {41 + 539, -1},
    };
    for (const auto& r : readings) {
        std::optional<double> t = fit.CaptureTimeAt(r.x);
        if (r.t < 0) {
            EXPECT_FALSE(t) << r.x << " reads " << *t;
        } else {
            ASSERT_TRUE(t) << r.x;
            EXPECT_NEAR(*t, r.t, 1.0 / fit.scale) << r.x;
            EXPECT_GE(*t, 0.0) << r.x;
            EXPECT_LE(*t, 1.0) << r.x;
        }
    }
    struct { int32_t x1, x2; double t1, t2; } bands[] = {
        {41, 41 + 270, 0.0, 0.501}, {41 + 520, 41 + 10, 0.0, 1.0}, {41, 41 + 539, 0.0, 1.0}, {41, 41 + 10, -1, -1},
        {41 + 520, 41 + 539, -1, -1}, {41 + 19, 41 + 20, 0.0, 0.001},
    };
    for (const auto& b : bands) {
        auto span = fit.CaptureSpan(b.x1, b.x2);
        if (b.t1 < 0) {
            EXPECT_FALSE(span) << b.x1 << " " << b.x2;
        } else {
            ASSERT_TRUE(span) << b.x1 << " " << b.x2;
            EXPECT_NEAR(span->first, b.t1, 1e-12) << b.x1 << " " << b.x2;
            EXPECT_NEAR(span->second, b.t2, 1e-12) << b.x1 << " " << b.x2;
        }
    }

    v.UpdateRange();
    v.GoToTime(0.4);
    EXPECT_DOUBLE_EQ(v.hPos, 40.0);
    v.GoToTime(0.25);
    EXPECT_DOUBLE_EQ(v.hPos, 30.0) << "no nearer the start than time 0 20 px in";
}

TEST(TimeAxis, TickStepIsTheFirstOver40Pixels)
{
    struct { double scale; double step; } cases[] = {
        {100.0, 1.0}, {30.0, 2.0}, {1e10, 1e-8}, {4e10, 2e-9}, {5e10, 1e-9}, {0.0, 1.0}, {1e-30, 1e11},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(TickStep(c.scale), c.step) << c.scale;
}

TEST(TimeAxis, MajorTicksEveryOtherStepWithZeroAndNegativeLabels)
{
    // 100 px/s from -0.5 s: a tick every 100 px, labels every 2 s.
    auto ticks = TimeTicks(-0.5, 100.0, 41, 541);
    ASSERT_EQ(ticks.size(), 5u);
    EXPECT_EQ(ticks[0].x, 91);
    EXPECT_TRUE(ticks[0].major);
    EXPECT_EQ(ticks[0].label, "0s");
    EXPECT_FALSE(ticks[1].major);
    EXPECT_EQ(ticks[2].label, "2s");
    auto left = TimeTicks(-3.5, 100.0, 0, 300);
    ASSERT_GE(left.size(), 2u);
    EXPECT_EQ(left[0].x, 50) << "-3 s, a minor tick";
    EXPECT_TRUE(left[0].label.empty());
    EXPECT_EQ(left[1].x, 150);
    EXPECT_EQ(left[1].label, "-2s");
    auto lines = GridLines(0.25, 100.0, 300);
    EXPECT_EQ(lines, (std::vector<int64_t>{-25, 75, 175, 275}));
}

TEST(ValueScale, LinearAndDoublingHeightsAndTheirInverse)
{
    ValueScale s;
    s.SetPlot(25, 325);  // 300 px: rows of 98
    EXPECT_EQ(s.rowHeight, 98);
    s.SetRowValue(10);
    struct { bool linear; double v; int64_t h; } cases[] = {
        {true, 0, 0}, {true, 10, 98}, {true, 5, 49}, {true, 1, 10},
        {false, 0, 0}, {false, -3, 0}, {false, 5, 49}, {false, 10, 98}, {false, 20, 196}, {false, 30, 245},
        {false, 40, 294},
    };
    for (const auto& c : cases) {
        s.linear = c.linear;
        EXPECT_EQ(s.HeightOf(c.v), c.h) << c.linear << " " << c.v;
    }
    s.vPos = 0;
    s.linear = true;
    EXPECT_DOUBLE_EQ(s.ValueAt(325 - 98), 10.0);
    s.linear = false;
    EXPECT_DOUBLE_EQ(s.ValueAt(325 - 49), 5.0);
    EXPECT_DOUBLE_EQ(s.ValueAt(325 - 196), 20.0);
    EXPECT_DOUBLE_EQ(s.ValueAt(325 - 245), 30.0);
}

TEST(ValueScale, AxisLabelsFromTheBottom)
{
    ValueScale s;
    s.SetPlot(0, 300);
    s.SetRowValue(25);
    s.linear = false;
    ValueScale::Rows rows = s.GridRows();
    EXPECT_EQ(rows.offset, 0);
    EXPECT_EQ(rows.base, 0);
    std::vector<int64_t> labels;
    for (int i = 0; i < 4; ++i) labels.push_back(s.AxisValue(i, rows.base));
    EXPECT_EQ(labels, (std::vector<int64_t>{0, 25, 50, 100}));
    s.linear = true;
    s.vPos = 100;  // rows of 98: one row and 2 px scrolled
    rows = s.GridRows();
    EXPECT_EQ(rows.offset, 96);
    EXPECT_EQ(rows.base, 50);
    EXPECT_EQ(s.AxisValue(2, rows.base), 100);
}

TEST(ValueScale, RangeScrollAndZoomStayDefined)
{
    ValueScale s;
    s.SetPlot(0, 306);  // rows of 100
    s.maxValue = 1000;
    s.SetRowValue(s.FitRowValue());
    EXPECT_TRUE(s.IsFit());
    s.UpdateRange();
    EXPECT_DOUBLE_EQ(s.vMax, -6.0) << "three rows of 500 hold 1000: nothing to scroll";
    EXPECT_EQ(s.vPos, 0);
    s.SetRowValue(100);
    s.UpdateRange();
    EXPECT_DOUBLE_EQ(s.vMax, 1100.0 - 306.0);
    EXPECT_EQ(s.Bar(), (ScrollBarState{0, 1100, 306, 794}));
    s.Scroll(ScrollLineBack, 0);  // towards the top of the range
    EXPECT_EQ(s.vPos, 100);
    s.Scroll(ScrollToStart, 0);
    EXPECT_EQ(s.vPos, 794);
    s.Scroll(ScrollToEnd, 0);
    EXPECT_EQ(s.vPos, 0);

    ValueScale low;
    low.SetPlot(0, 8);  // too low for rows
    low.maxValue = 1;
    low.SetRowValue(low.FitRowValue());
    EXPECT_EQ(low.rowValue, 1) << "never 0";
    low.UpdateRange();
    EXPECT_FALSE(low.CanZoomIn());
    low.SetRowValue(0);
    EXPECT_EQ(low.rowValue, 1);

    ValueScale z;
    z.SetPlot(0, 306);
    z.maxValue = 1000;
    z.SetRowValue(100);
    z.UpdateRange();
    auto update = [&] { z.UpdateRange(); };
    z.ZoomIn(153, [&] { z.Shrink(); }, update);
    EXPECT_EQ(z.rowValue, 50);
    z.ZoomOut(153, [&] { z.Grow(); }, update);
    EXPECT_EQ(z.rowValue, 100);
    for (int i = 0; i < 5; ++i) z.ZoomOut(0, [&] { z.Grow(); }, update);
    EXPECT_EQ(z.rowValue, 500) << "grows no further than the fit";

    // Zoomed out at the bottom from high up: the view lands at 903, where the first grid line (97 px up,
    // value 1000) puts 1097 above the largest value 1050, so it goes back to the bottom.
    ValueScale a;
    a.SetPlot(0, 306);
    a.maxValue = 1050;
    a.SetRowValue(50);
    a.UpdateRange();
    a.SetVPos(1806);
    a.ZoomOut(306, [&] { a.Grow(); }, [&] { a.UpdateRange(); });
    EXPECT_EQ(a.rowValue, 100);
    EXPECT_EQ(a.vPos, 0);
}
