// The value charts offscreen: a bar's top and a step curve's level probed
// at the coordinates the scales give, the legend's squares, and the
// settings panels: where they drop down, what closing them applies and
// stores, the select buttons, a reload while open and a stored bad group.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <thread>

#include "CBinChart.h"
#include "CDlgConfigBase.h"
#include "CLengthChart.h"
#include "CTrafficPane.h"
#include "CVelmoraView.h"
#include "CaptureSource.h"
#include "ChartText.h"
#include "tests/TestRecords.h"

using namespace orvane;
using namespace orvane::velmora;
using orvane::velmora::test::Rec;
using orvane::velmora::test::Token;

namespace {

// The application comes from TrafficPaneTest.cpp's environment, one per binary.
constexpr int kBoundMs = 20000;  // against hanging, not a timing check


// Records only: payload reads give zeros.
emu::BusCapture Capture(std::vector<PacketRecord> records)
{
    emu::BusCapture capture;
    capture.records = std::move(records);
    capture.payload.assign(70000, 0);
    return capture;
}

// 960 IN/DATA0 pairs of 65536 bytes on the bus in the first second, two
// thirds to address 3 endpoint 1, the rest to address 4 endpoint 2.
emu::BusCapture FullSecond(int pairs = 2)
{
    std::vector<PacketRecord> records;
    for (int i = 0; i < 960; ++i) {
        int address = pairs > 1 && i >= 640 ? 4 : 3, endpoint = address == 3 ? 1 : 2;
        records.push_back(Rec(uint64_t(i) * 60000, 10, PidIn, Token(address, endpoint)));
        records.push_back(Rec(uint64_t(i) * 60000 + 20, 100, PidData0, 65532));
    }
    records.push_back(Rec(uint64_t(3.5 / kTickSeconds), 10, PidAck));
    return Capture(std::move(records));
}

struct Fixture {
    explicit Fixture(uint32_t charts, int showFly = 1, QSize size = QSize(900, 600)) {
        QSettings settings(text::kSettingsOrg, text::kSettingsApp);
        settings.clear();
        settings.setValue("Velmora/ChildViewType", charts);
        for (const char* cls : kChartClassNames) settings.setValue(QString("Velmora/%1/ShowFly").arg(cls), showFly);
        host.resize(size);
        pane = static_cast<CTrafficPane*>(static_cast<QWidget*>(view.Create(&host)));
        pane->setGeometry(QRect(QPoint(0, 0), size));
        host.show();
        QCoreApplication::processEvents();
    }
    void Load(emu::CaptureSource& source) {
        std::thread worker([&] { view.OnEvent(nullptr, EventDataReady, intptr_t(&source), 0); });
        worker.join();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.Model().source == &source; }, kBoundMs));
        QCoreApplication::processEvents();
    }
    template <class Chart>
    Chart* Get(int32_t cls) const { return static_cast<Chart*>(pane->Chart(cls)); }

    QWidget host;
    CVelmoraView view;
    CTrafficPane* pane = nullptr;
};

QImage Picture(QWidget* chart)
{
    QCoreApplication::processEvents();
    return chart->grab().toImage();
}

}  // namespace

TEST(Charts, PacketLengthBarTopSitsAtItsValuesHeight)
{
    Fixture f(ChartBitOf(ChartPacketLength) | ChartBitOf(ChartDataLength));
    // One DATA0 of 64 payload bytes across the middle, an ACK later.
    emu::CaptureSource source(Capture({Rec(1000, 20000, PidData0, 66), Rec(40000, 10, PidAck)}));
    f.Load(source);
    for (int32_t cls : {ChartPacketLength, ChartDataLength}) {
        auto* chart = f.Get<CLengthChart>(cls);
        EXPECT_EQ(chart->Scale().maxValue, cls == ChartPacketLength ? 67 : 64);
        chart->FitV();
        const ValueScale& scale = chart->Scale();
        int64_t value = cls == ChartPacketLength ? 67 : 64;
        QRect plot = chart->PlotRect();
        int32_t top = plot.top() + scale.PlotHeight() - int32_t(scale.HeightOf(double(value)));
        double t = (1000 + 2000) * kTickSeconds;  // inside the packet, clear of its label
        int32_t x = int32_t(std::trunc((t - chart->View().VisibleStart()) * chart->View().scale)) + plot.left();
        QImage image = Picture(chart);
        EXPECT_EQ(image.pixelColor(x, top + 3), FromColorRef(ColourOf(PidData0))) << cls;
        EXPECT_EQ(image.pixelColor(x, top), QColor(Qt::black)) << "the outline across the top";
        EXPECT_EQ(image.pixelColor(x, top - 3), QColor(Qt::white)) << cls;
        EXPECT_EQ(chart->Drawn().last, 1) << cls;
        QTest::mouseMove(chart, QPoint(x, top + 3));
        EXPECT_TRUE(chart->GetInfoText().contains(QString::fromUtf8("包序号：0"))) << cls;
        QTest::mouseMove(chart, QPoint(plot.left() + 5, top + 3));
        EXPECT_TRUE(chart->GetInfoText().isEmpty()) << cls << ": the margin before the capture reads nothing";
        // Bands from the margin to the pixel before the ACK's, and zoomed in
        // to below a tick a pixel, from and to the DATA0's first pixel: the
        // DATA0 alone, its bytes too.
        auto xOf = [&](uint64_t ticks) {
            return plot.left() + int32_t(std::trunc((double(ticks) * kTickSeconds - chart->View().VisibleStart()) *
                                                    chart->View().scale));
        };
        const char* counted =
            cls == ChartPacketLength ? "包数量：1 | 总大小：67byte" : "数据包个数：1 | 数据总大小：64byte";
        for (int band : {0, 1, 2}) {
            if (band == 1)
                while (chart->View().scale * kTickSeconds < 4) chart->ZoomInAt(QPoint(xOf(1000) - plot.left(), 0));
            int32_t x = xOf(1000), x1 = band == 0 ? plot.left() + 5 : band == 1 ? x : x - 20;
            int32_t x2 = band == 0 ? xOf(40000) - 1 : band == 1 ? x + 20 : x;
            QTest::mousePress(chart, Qt::LeftButton, {}, QPoint(x1, top + 3));
            QPointF to(x2, top + 3);
            QMouseEvent drag(QEvent::MouseMove, to, chart->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
            QCoreApplication::sendEvent(chart, &drag);
            const std::string text = chart->GetInfoText().toStdString();
            EXPECT_NE(text.find(counted), std::string::npos) << text << " band " << band;
            QTest::mouseRelease(chart, Qt::LeftButton, {}, QPoint(x2, top + 3));
        }
    }
}

// A vertical zoom leaves the position where the scale's zoom put it (the chart
// adds no range update of its own that rounds it), and the bar shows it.
TEST(Charts, AVerticalZoomKeepsThePositionTheScaleChose)
{
    for (int showFly : {1, 0}) {
        Fixture f(ChartBitOf(ChartPacketLength), showFly);
        emu::CaptureSource source(FullSecond());
        f.Load(source);
        auto* chart = f.Get<CLengthChart>(ChartPacketLength);
        QScrollBar* bar = nullptr;
        for (QScrollBar* b : chart->findChildren<QScrollBar*>())
            if (b->orientation() == Qt::Vertical) bar = b;
        ASSERT_TRUE(bar);
        int zooms = 0;
        for (int y = 0; y < chart->Scale().PlotHeight(); y += 5) {
            for (bool in : {true, false}) {
                while (in ? chart->CanZoomInV() : chart->CanZoomOutV()) {
                    ValueScale expected = chart->Scale();
                    if (in) {
                        expected.ZoomIn(y, [&] { expected.Shrink(); }, [&] { expected.UpdateRange(); });
                        chart->ZoomInV(QPoint(0, y));
                    } else {
                        expected.ZoomOut(y, [&] { expected.Grow(); }, [&] { expected.UpdateRange(); });
                        chart->ZoomOutV(QPoint(0, y));
                    }
                    ++zooms;
                    ASSERT_EQ(chart->Scale().vPos, expected.vPos) << "showFly " << showFly << " y " << y;
                    ASSERT_EQ(bar->value(), std::clamp(chart->Scale().Bar().position, bar->minimum(), bar->maximum()));
                }
            }
        }
        EXPECT_GT(zooms, 200);
    }
}

TEST(Charts, UsageCurveLevelAndLegendSquares)
{
    Fixture f(ChartBitOf(ChartBusUsage) | ChartBitOf(ChartSpeed));
    emu::CaptureSource source(FullSecond());
    f.Load(source);
    auto* usage = f.Get<CBinChart>(ChartBusUsage);
    EXPECT_DOUBLE_EQ(usage->View().scale, 10.0) << "fitted at 1 s bins";
    EXPECT_EQ(usage->Scale().maxValue, 1000) << "62914560 high-speed bytes in one second";
    EXPECT_EQ(usage->GetSeriesCount(), 1 + 2 + 2);
    // Show address 3 and pair 4/2 as well; the full range fits the plot.
    usage->SetSeriesVisibility({true, true, false, false, true});
    usage->Scale().SetRowValue(640);
    usage->UpdateVScroll();
    usage->Invalidate();
    QImage image = Picture(usage);
    if (qEnvironmentVariableIsSet("ORVANE_DUMP")) image.save(qEnvironmentVariable("ORVANE_DUMP"));
    QRect plot = usage->PlotRect();
    const ValueScale& scale = usage->Scale();
    auto levelOf = [&](double v) {
        return plot.top() + scale.vPos + scale.PlotHeight() - int32_t(scale.HeightOf(v));
    };
    // Bin (0, 1 s] lies 20 to 30 pixels right of the plot's edge at the fit.
    int32_t x = plot.left() + 25;
    EXPECT_EQ(image.pixelColor(x, levelOf(1000)), QColor(Qt::black)) << "the whole bus, 3 pixels wide";
    EXPECT_EQ(image.pixelColor(x, levelOf(1000) - 1), QColor(Qt::black));
    // Two thirds went to address 3, a third to address 4 endpoint 2.
    EXPECT_EQ(image.pixelColor(x, levelOf(2000.0 / 3)), FromColorRef(usage->Series().byAddress[3].colour));
    EXPECT_EQ(image.pixelColor(x, levelOf(1000.0 / 3)), FromColorRef(usage->Series().byEndpoint[4][2].colour));
    // An empty bin lies on the floor (the pair's 1-pixel line over the bus's 3).
    EXPECT_EQ(image.pixelColor(x + 20, plot.top() + scale.vPos + scale.PlotHeight() - 2), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(x + 20, plot.top() + scale.vPos + scale.PlotHeight() - 1),
              FromColorRef(usage->Series().byEndpoint[4][2].colour));
    // The legend: the whole bus, address 3, pair 4/2, each a square in its colour.
    ASSERT_EQ(usage->DrawnSeries().size(), 3u);
    QRect legend = usage->LegendRect();
    int32_t middle = legend.top() + legend.height() / 2;
    int32_t squareX = plot.left() + 110 + 5;
    EXPECT_EQ(image.pixelColor(squareX + 1, middle), QColor(Qt::black));
    bool sawRed = false, sawPair = false;
    for (int32_t px = squareX + 10; px < legend.right(); ++px) {
        sawRed |= image.pixelColor(px, middle) == FromColorRef(usage->Series().byAddress[3].colour);
        sawPair |= image.pixelColor(px, middle) == FromColorRef(usage->Series().byEndpoint[4][2].colour);
    }
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawPair);
    QTest::mouseMove(usage, QPoint(x, plot.center().y()));  // over the capture
    EXPECT_EQ(usage->GetInfoText().isEmpty(), false);
    QTest::mouseMove(usage, QPoint(plot.left() + 5, plot.center().y()));
    EXPECT_EQ(usage->GetInfoText().isEmpty(), true) << "the margin before the capture reads nothing";
}

namespace {

// The bus-usage panel of a loaded capture, open.
CDlgConfigBase* OpenPanel(CVelmoraBase* chart)
{
    chart->ShowConfigDialog();
    CDlgConfigBase* panel = chart->ConfigDialog();
    QCoreApplication::processEvents();
    return panel;
}

void Tick(QTreeWidget* list, int row, bool on)
{
    list->topLevelItem(row)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

TEST(Charts, PanelDropsBelowTheButtonAndIsLiftedOntoThePane)
{
    for (QSize size : {QSize(900, 600), QSize(900, 240)}) {
        Fixture f(ChartBitOf(ChartBusUsage), 0, size);
        emu::CaptureSource source(FullSecond());
        f.Load(source);
        auto* chart = f.Get<CBinChart>(ChartBusUsage);
        CDlgConfigBase* panel = OpenPanel(chart);
        ASSERT_TRUE(panel && panel->isVisible());
        QRect button = chart->SettingsButtonRect();
        QPoint corner = chart->mapToGlobal(button.topLeft());
        QPoint paneBottom = f.pane->mapToGlobal(QPoint(0, f.pane->height()));
        int32_t top = corner.y() + button.height();
        if (top + panel->height() > paneBottom.y()) top = paneBottom.y() - panel->height();
        EXPECT_EQ(panel->geometry().topLeft(), QPoint(corner.x() + button.width() - panel->width(), top)) << size.height();
        panel->close();
    }
}

TEST(Charts, ClosingThePanelAppliesAndStoresForTheChartThatOwnsIt)
{
    Fixture f(ChartBitOf(ChartPacketLength) | ChartBitOf(ChartBusUsage), 0);
    emu::CaptureSource source(FullSecond());
    f.Load(source);
    auto* usage = f.Get<CBinChart>(ChartBusUsage);
    CDlgConfigBase* panel = OpenPanel(usage);
    EXPECT_EQ(panel->GroupBox()->currentText(), "0") << "nothing stored: group 0";
    EXPECT_FALSE(panel->OptionBox()->isChecked());
    ASSERT_EQ(panel->SeriesList()->topLevelItemCount(), 5);
    EXPECT_EQ(panel->SeriesList()->topLevelItem(1)->text(1), "地址3");
    EXPECT_EQ(panel->SeriesList()->topLevelItem(3)->text(1), "地址3 端口1");
    panel->GroupBox()->setCurrentIndex(2);
    panel->OptionBox()->setChecked(true);
    Tick(panel->SeriesList(), 0, false);
    Tick(panel->SeriesList(), 2, true);
    // Another chart becoming current while the panel is open changes nothing.
    f.pane->SetCurrentChart(f.pane->Chart(ChartPacketLength));
    panel->close();
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    EXPECT_EQ(settings.value("Velmora/CBusUsage/Group").toInt(), 2);
    EXPECT_EQ(settings.value("Velmora/CBusUsage/ShowFly").toInt(), 1);
    EXPECT_EQ(f.pane->GetChartGroup(usage), 2);
    EXPECT_EQ(f.pane->GetChartGroup(f.pane->Chart(ChartPacketLength)), 0);
    EXPECT_TRUE(usage->LinearScale());
    EXPECT_EQ(usage->Series().total.shown, 0);
    EXPECT_EQ(usage->Series().byAddress[4].shown, 1);

    // Reopened, it reads what was stored; a stored group outside 0-4 leaves the controls.
    settings.setValue("Velmora/CBusUsage/Group", -1);
    panel = OpenPanel(usage);
    EXPECT_EQ(panel->GroupBox()->currentIndex(), 2);
    EXPECT_TRUE(panel->OptionBox()->isChecked());
    panel->close();
    EXPECT_EQ(QSettings(text::kSettingsOrg, text::kSettingsApp).value("Velmora/CBusUsage/Group").toInt(), 2);
}

TEST(Charts, SelectButtonsFollowTheRowsAndAReloadRefillsTheList)
{
    Fixture f(ChartBitOf(ChartSpeed), 0);
    emu::CaptureSource one(FullSecond(1));
    f.Load(one);
    auto* speed = f.Get<CBinChart>(ChartSpeed);
    CDlgConfigBase* panel = OpenPanel(speed);
    QTreeWidget* list = panel->SeriesList();
    ASSERT_EQ(list->topLevelItemCount(), 3) << "the bus, address 3, address 3 endpoint 1";
    EXPECT_EQ(list->topLevelItem(0)->text(1), "总线利用率");
    auto buttons = [&] {
        return std::tuple(panel->SelectAll()->isEnabled(), panel->SelectAll()->isChecked(),
                          panel->SelectNone()->isEnabled(), panel->SelectNone()->isChecked());
    };
    EXPECT_EQ(buttons(), std::tuple(true, false, true, false)) << "some rows ticked";
    // The buttons follow a tick a moment later.
    auto buttonsBecome = [&](std::tuple<bool, bool, bool, bool> wanted) {
        return QTest::qWaitFor([&] { return buttons() == wanted; }, 5000);
    };
    Tick(list, 0, false);
    EXPECT_TRUE(buttonsBecome({true, false, true, true})) << "no row ticked";
    panel->SelectAll()->click();
    EXPECT_EQ(panel->RowStates(), std::vector<bool>(3, true));
    EXPECT_FALSE(panel->SelectNone()->isChecked());
    EXPECT_TRUE(buttonsBecome({true, true, true, false})) << "all rows ticked";
    panel->SelectAll()->click();
    EXPECT_EQ(panel->RowStates(), std::vector<bool>(3, true)) << "unticking it changes no row";
    Tick(list, 1, false);
    EXPECT_TRUE(buttonsBecome({true, false, true, false}));

    // A capture reloaded while the panel is open: its list is the new capture's.
    emu::CaptureSource two(FullSecond(2));
    f.Load(two);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(list->topLevelItemCount(), 5);
    panel->close();
    EXPECT_EQ(speed->Series().total.shown, 1) << "the reloaded list's ticks applied";
}

TEST(Charts, BinChartsClampAnAdoptedZoomAndLengthChartsHaveTheirPanels)
{
    Fixture f(ChartBitOf(ChartTraffic) | ChartBitOf(ChartBusUsage), 0);
    emu::CaptureSource source(FullSecond());
    f.Load(source);
    CVelmoraBase* traffic = f.pane->Chart(ChartTraffic);
    auto* usage = f.Get<CBinChart>(ChartBusUsage);
    traffic->View().scale = 1e9;
    double scale = usage->View().scale, offset = 0;
    f.pane->Groups().firstSyncPending = true;
    f.pane->GetSyncView(usage, &scale, &offset, traffic);
    EXPECT_DOUBLE_EQ(scale, kMaxBinScale);
    traffic->View().scale = 1e-3;
    f.pane->Groups().firstSyncPending = true;
    f.pane->GetSyncView(usage, &scale, &offset, traffic);
    EXPECT_DOUBLE_EQ(scale, kMinBinScale);
    for (int32_t cls : {ChartTraffic, ChartPacketLength, ChartDataLength}) {
        CVelmoraBase* chart = f.pane->Chart(cls);
        chart->ShowConfigDialog();
        ASSERT_TRUE(chart->ConfigDialog());
        EXPECT_FALSE(chart->ConfigDialog()->SeriesList()) << cls;
        EXPECT_EQ(chart->ConfigDialog()->OptionBox()->text(),
                  cls == ChartTraffic ? "显示浮动包图形" : "等比例显示高度");
        chart->ConfigDialog()->close();
    }
}
