// The summary's counting walk at scale: a synthetic capture of up to 32 M
// records parsed once into the transaction-level tree, then counted and its
// rows filled as the view does it when the parse is published, on the
// publishing thread (records per second). Then the summary's window on an
// offscreen screen: one mark added to many, the report sorted by its captions
// and the bookmarks open.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QTreeWidget>

#include <chrono>
#include <memory>

#include "CBookmarkMgr.h"
#include "CSummaryCtrl.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SummaryStats.h"
#include "SyntheticCapture.h"
#include "WidgetBenchMain.h"

using namespace orvane;

namespace {

struct ParsedCapture {
    explicit ParsedCapture(size_t records) : source(bench::SyntheticCapture::Build(records)) {
        CUsbParser parser;
        parser.SetDataSource(&source);
        AppendingSink sink(root);
        parser.Parse(&sink);
    }
    ~ParsedCapture() { FreeChildren(&root); }
    emu::CaptureSource source;
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
};

// One capture in memory at a time keeps the peak near that of a parse.
ParsedCapture& Capture(size_t records)
{
    static std::unique_ptr<ParsedCapture> capture;
    static size_t held = 0;
    if (held != records) {
        capture.reset();
        capture = std::make_unique<ParsedCapture>(records);
        held = records;
    }
    return *capture;
}

void BM_SummaryWalk(benchmark::State& state)
{
    const size_t records = size_t(state.range(0));
    ParsedCapture& capture = Capture(records);
    ombrel::SummaryStats stats;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        stats.Clear();
        stats.Count(&capture.root, &capture.source);
        std::vector<ombrel::SummaryRow> rows = ombrel::FillTree(stats);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["records_per_s"] =
        benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["packets"] = double(stats.Packet(PidSof).count + stats.Packet(PidIn).count +
                                       stats.Packet(PidData0).count + stats.Packet(PidData1).count +
                                       stats.Packet(PidAck).count + stats.Packet(PidNak).count);
}

void BM_SummaryMarkAdded(benchmark::State& state)
{
    const int32_t count = int32_t(state.range(0));
    app::CBookmarkMgr marks;
    for (int32_t i = 0; i < count; ++i) marks.Add({2 * i, "", "mark"});
    QWidget dock;
    dock.resize(700, 500);
    auto* view = new ombrel::CSummaryCtrl;
    auto* window = static_cast<QWidget*>(view->Create(&dock));
    window->setGeometry(0, 0, 700, 500);
    dock.show();
    auto* tree = window->findChild<QTreeWidget*>();
    tree->header()->setSortIndicator(0, Qt::AscendingOrder);
    auto publish = [&] {
        view->OnEvent(nullptr, EventMarksChanged, intptr_t(static_cast<IBookmark*>(&marks)), 0);
        QCoreApplication::processEvents();
    };
    auto start = std::chrono::steady_clock::now();
    publish();
    const double firstShow =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) tree->topLevelItem(i)->setExpanded(true);
    QCoreApplication::processEvents();
    int32_t added = 0;
    for (auto _ : state) {
        // Odd packets fall between the first marks, each in a new place.
        marks.Add({2 * (added++ % count) + 1, "", "added"});
        start = std::chrono::steady_clock::now();
        publish();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["first_show_ms"] = firstShow;
    view->Release();
}

}  // namespace

BENCHMARK(BM_SummaryWalk)->Arg(1 << 20)->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryMarkAdded)->Arg(20000)->Arg(200000)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return orvane::bench::RunWidgetBenchmarks(argc, argv); }
