// The summary's counting walk at scale: a synthetic capture of up to 32 M
// records parsed once into the transaction-level tree, then counted and its
// rows filled as the view does it when the parse is published, on the
// publishing thread (records per second).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SummaryStats.h"
#include "SyntheticCapture.h"

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

}  // namespace

BENCHMARK(BM_SummaryWalk)->Arg(1 << 20)->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
