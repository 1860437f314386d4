// The chart view at scale: loading a capture of up to 32 M records into the
// pane's arrays, block summaries and byte sums with the bin maxima
// (records per second), painting the packet-type chart offscreen at fit zoom
// and three deeper zooms, and the four value charts (packet length, data
// length, bus usage, transfer rate) at fit zoom (ms per paint), for 1 M, 8 M
// and 32 M records, and the packet runs and length bars of a capture whose
// records all overlap. A paint visits blocks or bins, not records, so its
// time must not grow with the record count.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "CTrafficCtrl.h"
#include "CTrafficPane.h"
#include "CVelmoraView.h"
#include "CaptureArrays.h"
#include "CaptureSource.h"
#include "LengthBars.h"
#include "PacketRuns.h"
#include "SyntheticCapture.h"

using namespace orvane;
using namespace orvane::velmora;

namespace {

emu::CaptureSource& Source(size_t records)
{
    static std::map<size_t, std::unique_ptr<emu::CaptureSource>> sources;
    auto& source = sources[records];
    if (!source) {
        // One capture in memory at a time keeps the peak near 1 GB.
        sources.clear();
        auto& fresh = sources[records];
        fresh = std::make_unique<emu::CaptureSource>(bench::SyntheticCapture::Build(records));
        return *fresh;
    }
    return *source;
}

QApplication& App()
{
    static QTemporaryDir config;
    static int argc = 1;
    static char name[] = "velmora_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Never destroyed: at exit Qt's own statics may already be gone, and the
    // application's destructor would crash the run after its last benchmark.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void BM_LoadArrays(benchmark::State& state)
{
    emu::CaptureSource& source = Source(size_t(state.range(0)));
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto arrays = CaptureArrays::Load(&source);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(arrays->Count());
    }
    state.counters["records_per_s"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// A pane showing one chart class, loaded with `records` records.
struct LoadedPane {
    LoadedPane(size_t records, int32_t cls) : source(Source(records)) {
        {
            QSettings settings("Kavrin", "Orvane");
            settings.setValue("Velmora/ChildViewType", int(ChartBitOf(cls)));
        }
        host.resize(1280, 300);
        pane = static_cast<CTrafficPane*>(static_cast<QWidget*>(view.Create(&host)));
        pane->setGeometry(0, 0, 1280, 300);
        host.show();
        view.OnEvent(nullptr, EventDataReady, intptr_t(&source), 0);
        QCoreApplication::processEvents();
        chart = pane->Chart(cls);
    }
    QApplication& app = App();  // before the widgets below, also when a filter runs this benchmark alone
    emu::CaptureSource& source;
    CVelmoraView view;
    QWidget host;
    CTrafficPane* pane = nullptr;
    CVelmoraBase* chart = nullptr;
};

void PaintRepeatedly(benchmark::State& state, CVelmoraBase* chart)
{
    for (auto _ : state) {
        chart->Invalidate();
        auto start = std::chrono::steady_clock::now();
        QPixmap picture = chart->grab();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(picture.cacheKey());
    }
    state.counters["px_per_s"] = chart->View().scale;
}

// range(0): records; range(1): the chart class, at fit zoom.
void BM_PaintValueChart(benchmark::State& state)
{
    LoadedPane loaded(size_t(state.range(0)), int32_t(state.range(1)));
    state.SetLabel(kChartClassNames[size_t(state.range(1))]);
    PaintRepeatedly(state, loaded.chart);
}

// range(0): records; range(1): zoom steps of x16 beyond fit.
void BM_PaintPacketChart(benchmark::State& state)
{
    App();
    emu::CaptureSource& source = Source(size_t(state.range(0)));
    {
        QSettings settings("Kavrin", "Orvane");
        settings.setValue("Velmora/ChildViewType", 1);
    }
    CVelmoraView view;
    QWidget host;
    host.resize(1280, 300);
    auto* pane = static_cast<CTrafficPane*>(static_cast<QWidget*>(view.Create(&host)));
    pane->setGeometry(0, 0, 1280, 300);
    host.show();
    view.OnEvent(nullptr, EventDataReady, intptr_t(&source), 0);
    QCoreApplication::processEvents();
    auto* chart = static_cast<CTrafficCtrl*>(pane->Chart(ChartTraffic));
    double middle = view.Model().TotalTime() * 0.37;
    for (int64_t i = 0; i < state.range(1); ++i) chart->View().scale *= 16.0;
    chart->UpdateHScroll();
    chart->GoToTime(middle);
    PaintRepeatedly(state, chart);
}

// range(0): records, each running past the next one's start (0xFFFF ticks
// long, starts one tick apart): the packet-type runs and the packet-length
// bars of a 1280-pixel band at fit zoom, built straight from the arrays. At
// most two a column, so neither their count nor the time grows with the
// records.
void BM_OverlappingRuns(benchmark::State& state)
{
    auto records = size_t(state.range(0));
    std::vector<uint8_t> pids(records, PacketRecord::MakePidByte(PidData0));
    std::vector<uint64_t> words(records);
    for (size_t i = 0; i < records; ++i) words[i] = uint64_t(i) << 16 | 0xFFFF;
    auto arrays = CaptureArrays::FromWords(std::move(pids), std::move(words), records);
    double total = arrays->TotalTime();
    size_t drawn = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        DrawnRange range;
        drawn = BuildPacketRuns(*arrays, 0, total, 1280).size() +
                BuildLengthBars(*arrays, false, 0, total, 1280, &range).size();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(drawn);
    }
    state.counters["runs_and_bars"] = double(drawn);
}

constexpr int64_t kM = 1 << 20;

}  // namespace

BENCHMARK(BM_LoadArrays)->Arg(32 * kM)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintPacketChart)
    ->ArgsProduct({{1 * kM, 8 * kM, 32 * kM}, {0, 1, 3, 5}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintValueChart)
    ->ArgsProduct({{1 * kM, 8 * kM, 32 * kM}, {ChartPacketLength, ChartDataLength, ChartBusUsage, ChartSpeed}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_OverlappingRuns)
    ->Arg(1 * kM)
    ->Arg(32 * kM)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
