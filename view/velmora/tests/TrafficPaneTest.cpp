// The chart pane offscreen: tool bar states, layout, the capture arriving on
// another thread, selections and double-clicks through the event bus, the
// rendered band colours and centre line, and two panes side by side.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <memory>
#include <thread>
#include <vector>

#include "BusTrafficBuilder.h"
#include "CaptureSource.h"
#include "ChartColour.h"
#include "ChartCommands.h"
#include "ChartText.h"
#include "ChartDraw.h"
#include "CTrafficCtrl.h"
#include "CTrafficPane.h"
#include "CVelmoraView.h"
#include "UsbItem.h"

using namespace orvane;
using namespace orvane::velmora;

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new orvane::velmora::test::QtTestApp);

constexpr int kBoundMs = 20000;  // against hanging, not a timing check

// The bus as the host runs it, with a packet list that answers GoToPacket by
// selecting the row, which publishes ItemSelected; unless `answers` is off, as
// for a row hidden by a filter or one already current.
class Bus : public IEventPublisher, public IEventHandler {
public:
    Bus() { Subscribe(this); }
    int32_t Subscribe(IEventHandler* h) override {
        handlers.push_back(h);
        return 1;
    }
    int32_t Unsubscribe(IEventHandler*) override { return 0; }
    int32_t Publish(IEventHandler* sender, int32_t type, intptr_t p1, intptr_t p2) override {
        for (IEventHandler* h : std::vector<IEventHandler*>(handlers)) h->OnEvent(sender, type, p1, p2);
        return 1;
    }
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t p1, intptr_t) override {
        if (type != EventGoToPacket) return 1;
        goTo.push_back(int32_t(p1));
        if (!answers) return 1;
        selected = std::make_unique<UsbItem>(uint16_t(1), uint32_t(p1));
        Publish(this, EventItemSelected, intptr_t(selected.get()), 0);
        return 1;
    }
    void Select(uint32_t record) {
        selected = std::make_unique<UsbItem>(uint16_t(1), record);
        Publish(this, EventItemSelected, intptr_t(selected.get()), 0);
    }
    std::vector<IEventHandler*> handlers;
    std::vector<int32_t> goTo;
    std::unique_ptr<UsbItem> selected;
    bool answers = true;
};

// SOFs every frame with IN transactions between them.
emu::BusCapture Traffic(int frames)
{
    emu::BusTrafficBuilder b(SpeedFull);
    b.SetAutoSof(true);
    for (int i = 0; i < frames; ++i) {
        b.In(3, 1, i % 2 ? PidData1 : PidData0, {uint8_t(i), 2, 3});
        b.AdvanceTo(b.NextSofTime());
    }
    return b.Take();
}

void SetSettings(int childViewType, int showFly)
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    settings.clear();
    settings.setValue("Velmora/ChildViewType", childViewType);
    settings.setValue("Velmora/CTrafficCtrl/ShowFly", showFly);
}

struct PaneFixture {
    explicit PaneFixture(int childViewType = 1, QSize size = QSize(800, 300), int showFly = 0) {
        SetSettings(childViewType, showFly);
        view.Attach(&bus);
        host.resize(size);
        pane = static_cast<CTrafficPane*>(static_cast<QWidget*>(view.Create(&host)));
        pane->setGeometry(QRect(QPoint(0, 0), size));
        host.show();
        QCoreApplication::processEvents();
    }
    CTrafficCtrl* Chart() const { return static_cast<CTrafficCtrl*>(pane->Chart(ChartTraffic)); }
    // DataReady as the capture worker publishes it: from its own thread.
    void Load(emu::CaptureSource& source) {
        std::thread worker([&] { bus.Publish(nullptr, EventDataReady, intptr_t(&source), 0); });
        worker.join();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.Model().source == &source; }, kBoundMs));
        QCoreApplication::processEvents();
    }
    QImage Plot() const {
        QImage image = Chart()->grab().toImage();
        return image.copy(Chart()->PlotRect());
    }
    double CentreTime() const { return Chart()->View().hPos / Chart()->View().scale; }

    Bus bus;
    QWidget host;
    CVelmoraView view;
    CTrafficPane* pane = nullptr;
};

QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

}  // namespace

TEST(TrafficPane, ToolBarFollowsTheCaptureAndTheCurrentChart)
{
    PaneFixture f;
    auto state = [&](uint32_t id) { return std::pair(f.pane->Action(id)->isEnabled(), f.pane->Action(id)->isChecked()); };
    EXPECT_EQ(state(CmdPointer), std::pair(true, true));
    for (uint32_t id : {CmdZoomInH, CmdZoomOutH, CmdFitH, CmdZoomInV, CmdZoomOutV, CmdFitV})
        EXPECT_FALSE(f.pane->Action(id)->isEnabled()) << id << " without a capture";
    EXPECT_FALSE(f.pane->Action(CmdSyncViews)->isEnabled()) << "one chart";
    EXPECT_TRUE(f.pane->ChartAction(ChartTraffic)->isChecked());
    EXPECT_TRUE(f.pane->ChartAction(ChartBusUsage)->isEnabled());
    EXPECT_FALSE(f.pane->ChartAction(ChartBusUsage)->isChecked());

    emu::CaptureSource source(Traffic(20));
    f.Load(source);
    EXPECT_TRUE(f.Chart()->IsFitH()) << "a loaded capture is fitted";
    EXPECT_EQ(state(CmdFitH), std::pair(false, false));
    EXPECT_EQ(state(CmdZoomInH).first, true);
    EXPECT_EQ(state(CmdZoomOutH).first, true);
    EXPECT_FALSE(f.pane->Action(CmdZoomInV)->isEnabled()) << "the packet-type chart has no value axis";
    f.pane->Action(CmdZoomInH)->trigger();
    EXPECT_EQ(state(CmdZoomInH), std::pair(true, true));
    EXPECT_EQ(state(CmdPointer), std::pair(true, false));
    f.pane->Action(CmdZoomInH)->trigger();
    EXPECT_EQ(f.pane->ToolMode(), uint32_t(CmdPointer)) << "pressed again: back to the pointer";
    f.pane->Action(CmdZoomInH)->trigger();
    f.bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    EXPECT_EQ(f.pane->ToolMode(), uint32_t(CmdPointer)) << "a disabled active tool falls back";
    EXPECT_FALSE(f.pane->Action(CmdZoomInH)->isEnabled());
}

TEST(TrafficPane, ChartFillsTheAreaBetweenToolBarAndScrollBarOrThePaneIsGrey)
{
    PaneFixture f;
    QRect rect = f.pane->ChartRectOf(ChartTraffic);
    EXPECT_EQ(rect.top(), f.pane->ToolBar()->geometry().bottom() + 1);
    EXPECT_EQ(rect.bottom() + 1, f.pane->HBar()->geometry().top());
    EXPECT_EQ(rect.width(), 800);
    EXPECT_EQ(f.Chart()->PlotRect(), QRect(41, 25, 800 - 68, rect.height() - 75));
    f.pane->ChartAction(ChartTraffic)->trigger();
    EXPECT_TRUE(f.pane->NoCharts());
    EXPECT_EQ(f.pane->CurrentChart(), nullptr);
    EXPECT_TRUE(f.pane->ChartRectOf(ChartTraffic).isNull());
    QImage image = f.pane->grab().toImage();
    EXPECT_EQ(At(image, 400, 150), QColor(220, 220, 220));
    EXPECT_EQ(QSettings(text::kSettingsOrg, text::kSettingsApp).value("Velmora/ChildViewType").toInt(), 0);
    f.pane->ChartAction(ChartTraffic)->trigger();
    EXPECT_EQ(f.pane->CurrentChart(), f.Chart());
    EXPECT_EQ(f.pane->ChartRectOf(ChartTraffic), rect);
}

TEST(TrafficPane, NoChartShownWithoutStoredSettingsAndAChartShownLaterFitsTheCapture)
{
    PaneFixture f(0);
    EXPECT_TRUE(f.pane->NoCharts());
    emu::CaptureSource source(Traffic(10));
    f.Load(source);
    f.pane->ChartAction(ChartTraffic)->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.Chart()->IsFitH());
    EXPECT_DOUBLE_EQ(f.Chart()->View().scale, (f.Chart()->PlotRect().width() - 40) / f.view.Model().TotalTime());
}

TEST(TrafficPane, AChartHiddenWhileTheCaptureWasClearedComesBackEmpty)
{
    PaneFixture f(ChartBitOf(ChartTraffic) | ChartBitOf(ChartPacketLength), QSize(800, 500));
    emu::CaptureSource source(Traffic(40));
    f.Load(source);
    CVelmoraBase* length = f.pane->Chart(ChartPacketLength);
    double loadedScale = length->View().scale;
    f.pane->ChartAction(ChartPacketLength)->trigger();  // hidden
    f.bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    QCoreApplication::processEvents();
    f.pane->ChartAction(ChartPacketLength)->trigger();  // shown again
    QCoreApplication::processEvents();
    EXPECT_NE(length->View().scale, loadedScale);
    EXPECT_DOUBLE_EQ(length->View().scale, f.Chart()->View().scale) << "as the chart that was shown at the clear";
    EXPECT_DOUBLE_EQ(length->View().hPos, f.Chart()->View().hPos);
}

TEST(TrafficPane, DoubleClickGoesToThePacketAndTheListsEchoIsDroppedOnce)
{
    PaneFixture f;
    emu::CaptureSource source(Traffic(20));
    f.Load(source);
    const auto& records = source.Capture().records;
    CTrafficCtrl* chart = f.Chart();
    QPoint middle = chart->PlotRect().center();
    // A sixteenth of the capture in the plot: room to bring a packet to the centre.
    for (int i = 0; i < 4; ++i) chart->ZoomInAt(middle - chart->PlotRect().topLeft());
    double t = chart->View().TimeAt(middle.x());
    int64_t expected = f.view.Model().arrays->FindIndex(t, 2);
    QTest::mouseDClick(chart, Qt::LeftButton, {}, middle);
    QCoreApplication::processEvents();
    ASSERT_EQ(f.bus.goTo, std::vector<int32_t>{int32_t(expected)});
    double packetTime = double(records[size_t(expected)].Timestamp()) * kTickSeconds;
    EXPECT_NEAR(f.CentreTime(), packetTime, 1.0 / chart->View().scale);

    // A later selection in the list moves the chart.
    const size_t later = records.size() * 2 / 3;
    f.bus.Select(uint32_t(later));
    QCoreApplication::processEvents();
    EXPECT_NEAR(f.CentreTime(), double(records[later].Timestamp()) * kTickSeconds, 1.0 / chart->View().scale);
    // The first one shows with time 0 a fit's margin in, not before it.
    f.bus.Select(0);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(chart->View().VisibleStart(), -TimeView::kFitMargin / chart->View().scale);
    f.bus.Select(uint32_t(later));
    QCoreApplication::processEvents();

    // Right button: the packet before.
    int64_t before = f.view.Model().arrays->FindIndex(chart->View().TimeAt(middle.x()), 1);
    QTest::mouseDClick(chart, Qt::RightButton, {}, middle);
    EXPECT_EQ(f.bus.goTo.back(), int32_t(before));
    // With a zoom tool nothing is published.
    f.pane->Action(CmdZoomOutH)->trigger();
    size_t n = f.bus.goTo.size();
    QTest::mouseDClick(chart, Qt::LeftButton, {}, middle);
    EXPECT_EQ(f.bus.goTo.size(), n);
}

TEST(TrafficPane, ADoubleClickTheListLeavesUnansweredKeepsNoSelectionFromTheCharts)
{
    PaneFixture f;
    emu::CaptureSource source(Traffic(20));
    f.Load(source);
    const auto& records = source.Capture().records;
    CTrafficCtrl* chart = f.Chart();
    for (int i = 0; i < 4; ++i) chart->ZoomInAt(chart->PlotRect().center() - chart->PlotRect().topLeft());
    f.bus.answers = false;  // the packet is hidden by a filter, or its row is already current
    QTest::mouseDClick(chart, Qt::LeftButton, {}, chart->PlotRect().center());
    QCoreApplication::processEvents();
    ASSERT_EQ(f.bus.goTo.size(), 1u);
    const size_t later = records.size() * 2 / 3;
    f.bus.Select(uint32_t(later));
    QCoreApplication::processEvents();
    EXPECT_NEAR(f.CentreTime(), double(records[later].Timestamp()) * kTickSeconds, 1.0 / chart->View().scale)
        << "the user's next selection moves the chart";
}

TEST(TrafficPane, InfoStripNamesThePacketUnderThePointerAndCountsASelection)
{
    PaneFixture f;
    emu::CaptureSource source(Traffic(20));
    CTrafficCtrl* chart = f.Chart();
    QPoint a = chart->PlotRect().center(), b = a + QPoint(150, 0);
    QTest::mouseMove(chart, a);
    EXPECT_TRUE(chart->GetInfoText().isEmpty()) << "no capture";
    f.Load(source);
    const CaptureArrays& arrays = *f.view.Model().arrays;
    const TimeView& view = chart->View();
    const double step = ReadingStep(view.scale);
    auto xOf = [&](double t) { return chart->PlotRect().left() + int32_t((t - view.VisibleStart()) * view.scale); };
    // Over a frame's SOF the strip names a packet; half a frame on, over
    // empty bus, it reads the time alone.
    int64_t sof = arrays.Count() / 2;
    while (arrays.Nibble(sof) != PidSof) ++sof;
    QTest::mouseMove(chart, QPoint(xOf(arrays.StartSeconds(sof)), a.y()));
    EXPECT_TRUE(chart->GetInfoText().contains(QString::fromUtf8("包序号："))) << chart->GetInfoText().toStdString();
    const int32_t idle = xOf(arrays.StartSeconds(sof) + 0.5e-3);
    QTest::mouseMove(chart, QPoint(idle, a.y()));
    EXPECT_EQ(chart->GetInfoText().toStdString(), HoverText(view.TimeAt(idle), -1, 0, step));
    // Nothing from the pointer's last place once it has left the chart, a
    // selection in the list moving the chart under it; back in, it reads again.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(chart, &leave);
    EXPECT_EQ(chart->GetInfoText().toStdString(), "") << "the pointer left the chart";
    f.bus.Select(uint32_t(sof));
    QCoreApplication::processEvents();
    EXPECT_EQ(chart->GetInfoText().toStdString(), "") << "a row selected in the list";
    QTest::mouseMove(chart, QPoint(idle, a.y()));
    EXPECT_FALSE(chart->GetInfoText().isEmpty()) << "back in at the point it left from";
    // The fit's margins lie outside the capture: nothing to read there.
    QTest::mouseMove(chart, QPoint(chart->PlotRect().left() + 5, a.y()));
    EXPECT_EQ(chart->GetInfoText().toStdString(), "") << "before the capture";
    QTest::mouseMove(chart, QPoint(chart->PlotRect().right() - 5, a.y()));
    EXPECT_EQ(chart->GetInfoText().toStdString(), "") << "after the capture";
    // A band from the margin to the pixel before the second frame's SOF
    // counts the first frame's packets, its SOF at time 0 too.
    ASSERT_EQ(arrays.Start(0), 0u);
    int64_t next = 1;
    while (arrays.Nibble(next) != PidSof) ++next;
    a.setX(chart->PlotRect().left() + 5);
    b.setX(xOf(arrays.StartSeconds(next)) - 1);
    QTest::mouseMove(chart, a);
    QTest::mousePress(chart, Qt::LeftButton, {}, a);
    QMouseEvent drag(QEvent::MouseMove, QPointF(b), chart->mapToGlobal(QPointF(b)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(chart, &drag);
    double t2 = chart->View().TimeAt(b.x());
    EXPECT_EQ(chart->GetInfoText().toStdString(), JoinInfo(SelectionText(0.0, t2, step), PacketCountText(next)));
    QImage image = chart->grab().toImage();
    const int32_t inside = (a.x() + b.x()) / 2;
    QColor band = image.pixelColor(inside, chart->PlotRect().top() + 3);
    EXPECT_LT(band.red(), band.blue()) << "the rubber band tints the plot blue";
    QTest::mouseRelease(chart, Qt::LeftButton, {}, b);
    EXPECT_EQ(chart->grab().toImage().pixelColor(inside, chart->PlotRect().top() + 3), QColor(Qt::white))
        << "and is gone with the button";
    // Zoomed in to below a tick a pixel, bands from and to the pixel of a
    // SOF's start take it, wherever in the pixel it starts.
    while (view.scale * kTickSeconds < 4)
        chart->ZoomInAt(QPoint(xOf(arrays.StartSeconds(sof)) - chart->PlotRect().left(), 0));
    const int32_t x = xOf(arrays.StartSeconds(sof));
    for (auto [x1, x2] : {std::pair(x, x + 20), std::pair(x - 20, x)}) {
        QTest::mousePress(chart, Qt::LeftButton, {}, QPoint(x1, a.y()));
        QMouseEvent move(QEvent::MouseMove, QPointF(x2, a.y()), chart->mapToGlobal(QPointF(x2, a.y())), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(chart, &move);
        EXPECT_NE(chart->GetInfoText().toStdString().find(PacketCountText(1)), std::string::npos) << x1 << " " << x2;
        QTest::mouseRelease(chart, Qt::LeftButton, {}, QPoint(x2, a.y()));
    }
}

TEST(TrafficPane, WheelAndBarScrollTheChartAndTheBarFollows)
{
    PaneFixture f;
    emu::CaptureSource source(Traffic(50));
    f.Load(source);
    CTrafficCtrl* chart = f.Chart();
    chart->ZoomInAt({0, 0});
    chart->ZoomInAt({0, 0});
    chart->ZoomInAt({0, 0});
    double before = chart->View().hPos;
    QWheelEvent wheel(QPointF(100, 100), chart->mapToGlobal(QPointF(100, 100)), {}, {0, -120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(chart, &wheel);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(chart->View().hPos, before + 40);
    EXPECT_EQ(f.pane->HBar()->value(), chart->View().Bar().position);
    f.pane->HBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    QCoreApplication::processEvents();
    EXPECT_EQ(chart->View().hPos, chart->View().hMin);
    EXPECT_DOUBLE_EQ(chart->View().VisibleStart(), -TimeView::kFitMargin / chart->View().scale)
        << "time 0 a fit's margin in from the left edge";
    EXPECT_EQ(f.pane->HBar()->value(), 0);
    f.pane->HBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    QCoreApplication::processEvents();
    EXPECT_NEAR(chart->View().VisibleEnd(), f.view.Model().TotalTime() + TimeView::kFitMargin / chart->View().scale,
                1.0 / chart->View().scale)
        << "the end as far in from the right edge";
    EXPECT_EQ(f.pane->HBar()->value(), f.pane->HBar()->maximum());
    f.pane->Action(CmdFitH)->trigger();
    QTest::mouseClick(chart, Qt::LeftButton, {}, chart->PlotRect().center());
    QCoreApplication::processEvents();
    EXPECT_TRUE(chart->IsFitH());
}

TEST(TrafficPane, BandColoursCentreLineAndCells)
{
    PaneFixture f;
    emu::BusTrafficBuilder b(SpeedFull);
    b.Sof(1);
    b.Idle(60000);
    b.Token(PidIn, 5, 1);
    b.Idle(60000);
    b.Sof(2);
    emu::CaptureSource source(b.Take());
    f.Load(source);
    CTrafficCtrl* chart = f.Chart();
    const CaptureArrays& arrays = *f.view.Model().arrays;
    int32_t width = chart->PlotRect().width(), band = chart->BandTop() + 19;
    QImage plot = f.Plot();
    auto xOf = [&](uint64_t ticks) {
        double a = chart->View().VisibleStart(), e = chart->View().VisibleEnd();
        return int(std::trunc((double(ticks) * kTickSeconds - a) / (e - a) * width));
    };
    EXPECT_EQ(At(plot, xOf(arrays.Start(0)), band), QColor(0, 255, 255)) << "SOF";
    EXPECT_EQ(At(plot, xOf(arrays.Start(2)), band), QColor(0, 255, 255));
    EXPECT_EQ(At(plot, xOf(arrays.Start(1)), band), QColor(64, 0, 64)) << "IN";
    EXPECT_EQ(At(plot, 5, band), QColor(Qt::white));
    QColor centre = At(plot, width / 2, 2);
    EXPECT_EQ(centre.red(), 255);
    EXPECT_LT(centre.green(), 200) << "red over white at alpha 100";
    EXPECT_EQ(centre.green(), centre.blue());

    // The IN token 300 pixels wide: its cells, PID first (8 of 24 bits).
    PacketRecord in = source.Capture().records[1];
    chart->View().scale = 300.0 / (in.Duration() * kTickSeconds);
    chart->UpdateHScroll();
    chart->ShowPacket(nullptr, in);
    QCoreApplication::processEvents();
    plot = f.Plot();
    int32_t left = xOf(arrays.Start(1));
    EXPECT_EQ(At(plot, left + 20, chart->BandTop() + 6), QColor(64, 0, 64)) << "PID cell";
    EXPECT_EQ(At(plot, left + 120, chart->BandTop() + 6), QColor(0, 0, 64)) << "Address cell";
    EXPECT_EQ(At(plot, left + 120, chart->BandTop() + 30), QColor(Qt::white)) << "the value half is not filled";
}

TEST(TrafficPane, NarrowAndLowPanesAndOnePacketCapturesPaint)
{
    for (QSize size : {QSize(60, 80), QSize(20, 20), QSize(300, 100)}) {
        PaneFixture f(1, size);
        emu::BusTrafficBuilder b(SpeedHigh);
        b.Token(PidOut, 1, 0);
        emu::CaptureSource source(b.Take());
        f.Load(source);
        bool sized = f.Chart()->height() > 0;  // the smallest has no room below the tool bar
        EXPECT_EQ(f.Chart()->grab().isNull(), !sized) << size.width();
        EXPECT_GT(f.Chart()->View().scale, 0.0);
        f.bus.Select(0);
        f.bus.Publish(nullptr, EventGoToPacket, 3, 0);  // past the end: the record reads as empty
        EXPECT_EQ(f.Chart()->grab().isNull(), !sized);
    }
}

TEST(TrafficPane, TwoPanesKeepTheirOwnCaptures)
{
    PaneFixture one, two;
    emu::CaptureSource small(Traffic(5)), large(Traffic(40));
    one.Load(small);
    two.Load(large);
    EXPECT_EQ(one.view.Model().arrays->Count(), int64_t(small.Capture().records.size()));
    EXPECT_EQ(two.view.Model().arrays->Count(), int64_t(large.Capture().records.size()));
    EXPECT_NE(one.Chart()->View().scale, two.Chart()->View().scale);
    one.bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    EXPECT_FALSE(one.view.Model().Loaded());
    EXPECT_TRUE(two.view.Model().Loaded());
}

TEST(TrafficPane, EmptySourcesAndClearedCapturesLoadNothing)
{
    PaneFixture f;
    emu::CaptureSource empty(emu::BusCapture{});
    f.bus.Publish(nullptr, EventDataReady, intptr_t(&empty), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.view.Model().Loaded());
    // Arrays built for a capture that is cleared before they arrive are dropped.
    emu::CaptureSource source(Traffic(5));
    f.bus.Publish(nullptr, EventDataReady, intptr_t(&source), 0);
    f.bus.Publish(nullptr, EventCaptureCleared, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.view.Model().Loaded());
    EXPECT_TRUE(f.view.Model().arrays->Empty());

    // One cleared while the worker loads it (the window closing) is read no further.
    struct ClearedWhileRead : emu::CaptureSource {
        using CaptureSource::CaptureSource;
        int32_t GetRecord(uint32_t index, PacketRecord* out) override {
            if (index == 0) bus->Publish(nullptr, EventCaptureCleared, 0, 0);
            return CaptureSource::GetRecord(index, out);
        }
        Bus* bus = nullptr;
    } closing(Traffic(40000));
    closing.bus = &f.bus;
    closing.SetPeekable(false);
    ASSERT_GT(closing.GetCount(), 2 * CaptureArrays::kStopBlock);
    int32_t loaded = -1;
    std::thread([&] { loaded = f.view.OnEvent(nullptr, EventDataReady, intptr_t(&closing), 0); }).join();
    EXPECT_EQ(loaded, 0) << "no arrays";
    EXPECT_LE(closing.GetRecordCalls(), CaptureArrays::kStopBlock) << "stopped at the first block's end";
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.view.Model().Loaded());
}

TEST(TrafficPane, ACaptureWhoseCountFailsShowsTheRowsItServes)
{
    // As an analyser whose status read fails after a record read did: it
    // counts none, yet serves the rows read, and the list shows them.
    struct Uncounted : emu::CaptureSource {
        using CaptureSource::CaptureSource;
        uint32_t GetCount() override { return counts ? CaptureSource::GetCount() : 0; }
        bool counts = false;
    };
    for (bool counts : {false, true}) {
        Uncounted source(Traffic(20));
        source.counts = counts;
        source.SetPeekable(false);
        const auto& records = source.Capture().records;
        PaneFixture f;
        f.Load(source);
        EXPECT_EQ(f.view.Model().arrays->Count(), int64_t(records.size()));
        EXPECT_DOUBLE_EQ(f.view.Model().TotalTime(),
                         double(records.back().Timestamp() + records.back().Duration()) * kTickSeconds);
        CTrafficCtrl* chart = f.Chart();
        for (int i = 0; i < 4; ++i) chart->ZoomInAt(chart->PlotRect().center() - chart->PlotRect().topLeft());
        const size_t later = records.size() * 2 / 3;
        f.bus.Select(uint32_t(later));
        QCoreApplication::processEvents();
        EXPECT_EQ(f.view.Model().source, &source) << "a row it serves keeps the source";
        EXPECT_NEAR(f.CentreTime(), double(records[later].Timestamp()) * kTickSeconds, 1.0 / chart->View().scale);
        // A row past its end: a source that neither counts nor serves it holds no capture now.
        f.bus.Select(uint32_t(records.size()));
        QCoreApplication::processEvents();
        EXPECT_EQ(f.view.Model().Loaded(), counts) << counts;
    }
}

namespace {

// A chart of another class for the group tests: it draws nothing.
class BlankChart : public CVelmoraBase {
public:
    BlankChart(CTrafficPane& pane, int32_t cls) : CVelmoraBase(pane, cls, &pane) {}
};

}  // namespace

TEST(TrafficPane, ZoomAndScrollFollowTheGroupAndSyncViewsRegroups)
{
    PaneFixture f(int(ChartBitOf(ChartTraffic) | ChartBitOf(ChartDataLength) | ChartBitOf(ChartSpeed)),
                  QSize(800, 600));
    CVelmoraBase* data = f.pane->Chart(ChartDataLength);
    CVelmoraBase* speed = f.pane->Chart(ChartSpeed);
    EXPECT_FALSE(f.pane->InstallChart(new BlankChart(*f.pane, ChartSpeed))) << "one chart a class";
    EXPECT_TRUE(f.pane->SyncViews()) << "three charts, all in group 0";
    EXPECT_EQ(f.pane->ChartRectOf(ChartSpeed).bottom() + 1, f.pane->HBar()->geometry().top());
    emu::CaptureSource source(Traffic(30));
    f.Load(source);
    CTrafficCtrl* traffic = f.Chart();
    EXPECT_EQ(f.pane->CurrentChart(), traffic);
    EXPECT_DOUBLE_EQ(data->View().scale, traffic->View().scale) << "one family: the same view";

    traffic->ZoomInAt({100, 10});
    f.pane->PostGroupMessage(GroupZoomIn);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(data->View().scale, traffic->View().scale);
    EXPECT_DOUBLE_EQ(data->View().hPos, std::trunc(traffic->View().hPos));
    // The per-bin chart takes its partner's scale and the centre time, as
    // far as its own range reaches.
    const TimeView& bins = speed->View();
    EXPECT_NEAR(bins.hPos,
                std::clamp(f.pane->GetCenterTime(*traffic) * bins.scale, bins.hMin, bins.hMax - bins.plotWidth), 2.0);

    f.pane->Action(CmdSyncViews)->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.pane->SyncViews());
    EXPECT_EQ(f.pane->GetChartGroup(data), 1);
    EXPECT_EQ(QSettings(text::kSettingsOrg, text::kSettingsApp).value("Velmora/CSpeed/Group").toInt(), 2);
    double dataScale = data->View().scale;
    traffic->ZoomInAt({100, 10});
    f.pane->PostGroupMessage(GroupZoomIn);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(data->View().scale, dataScale) << "another group";

    // A chart's GoToPacket moves the current chart's group (the list's echo is
    // dropped), a selection in the list every chart.
    const auto& records = source.Capture().records;
    double dataPos = data->View().hPos;
    f.pane->PublishGoToPacket(40);
    EXPECT_NEAR(f.CentreTime(), double(records[40].Timestamp()) * kTickSeconds, 1.0 / traffic->View().scale);
    EXPECT_EQ(data->View().hPos, dataPos);
    f.bus.Select(60);
    EXPECT_NEAR(data->View().hPos / data->View().scale, double(records[60].Timestamp()) * kTickSeconds,
                1.0 / data->View().scale);

    f.pane->Action(CmdSyncViews)->trigger();
    EXPECT_TRUE(f.pane->SyncViews());
    EXPECT_EQ(f.pane->GetChartGroup(speed), 0);

    // Hiding the current chart makes the top remaining one current.
    f.pane->ToggleChart(traffic);
    EXPECT_EQ(f.pane->CurrentChart(), data);
    EXPECT_EQ(f.pane->ChartRectOf(ChartDataLength).top(), f.pane->ToolBar()->geometry().bottom() + 1);
}

TEST(TrafficPane, ShowFlyDrawsThePacketUnderThePointerAboveThePlotBottom)
{
    for (int showFly : {0, 1}) {
        PaneFixture f(1, QSize(800, 300), showFly);
        emu::BusTrafficBuilder b(SpeedFull);
        b.Idle(1000);
        b.Token(PidSetup, 1, 0);
        b.Idle(1000);
        emu::CaptureSource source(b.Take());
        f.Load(source);
        CTrafficCtrl* chart = f.Chart();
        EXPECT_EQ(chart->LinearScale(), showFly == 1);
        QRect plot = chart->PlotRect();
        const TimeView& view = chart->View();
        const double setup = f.view.Model().arrays->StartSeconds(0);
        QPoint pointer(plot.left() + int32_t((setup - view.VisibleStart()) * view.scale), plot.top() + 5);
        QTest::mouseMove(chart, pointer);
        QImage image = chart->grab().toImage();
        int bottom = plot.top() + plot.height();
        // The PID cell, the left third of 300 pixels, 50 pixels above the bottom.
        QColor cell = image.pixelColor(pointer.x() - 140, bottom - 50);
        EXPECT_EQ(cell, showFly ? FromColorRef(ColourOf(PidSetup)) : QColor(Qt::white)) << showFly;
        EXPECT_EQ(image.pixelColor(pointer.x() - 160, bottom - 50), QColor(Qt::white)) << "300 pixels wide";
        // Over the idle bus before it, far from any packet, nothing floats.
        QPoint idle(plot.left() + int32_t((setup / 2 - view.VisibleStart()) * view.scale), plot.top() + 5);
        QTest::mouseMove(chart, idle);
        EXPECT_EQ(chart->grab().toImage().pixelColor(idle.x() - 140, bottom - 50), QColor(Qt::white)) << showFly;
    }
}
