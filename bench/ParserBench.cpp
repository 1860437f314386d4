// Parses a maximum-size capture (32 M records) from memory, as a loaded file,
// and reports records per second and the bytes per record the tree adds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SyntheticCapture.h"

using namespace orvane;

namespace {

class TreeSink : public IProgress {
public:
    UsbItem root;
    int32_t OnItem(UsbItem* item) override {
        root.Append(item);
        return 1;
    }
    int32_t OnProgress(float) override { return 1; }
    int32_t OnFinish() override { return 1; }
    int32_t Reserved() override { return 0; }
};

emu::CaptureSource& Source(size_t records) {
    static emu::CaptureSource* source = nullptr;
    if (!source) source = new emu::CaptureSource(bench::SyntheticCapture::Build(records));
    return *source;
}

double ParseOnce(emu::CaptureSource& source, size_t* items) {
    CUsbParser parser;
    parser.SetDataSource(&source);
    TreeSink sink;
    auto start = std::chrono::steady_clock::now();
    parser.Parse(&sink);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *items = sink.root.children.size();
    FreeChildren(&sink.root);
    return seconds;
}

// The first parse of a process also pays for faulting in fresh memory; it is
// reported on its own, the timed runs reuse the pool as every later parse does.
void BM_ParseLoadedCapture(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource& source = Source(records);
    const size_t before = ItemPoolReservedBytes();
    size_t items = 0;
    double cold = 0;
    {
        // Peak memory: measured with the tree still alive.
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink sink;
        auto start = std::chrono::steady_clock::now();
        parser.Parse(&sink);
        cold = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        items = sink.root.children.size();
        state.counters["tree_bytes_per_record"] = double(ItemPoolReservedBytes() - before) / double(records);
        FreeChildren(&sink.root);
    }
    for (auto _ : state) state.SetIterationTime(ParseOnce(source, &items));
    state.counters["records_per_s"] =
        benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["first_parse_records_per_s"] = double(records) / cold;
    state.counters["top_level_items"] = double(items);
}

}  // namespace

BENCHMARK(BM_ParseLoadedCapture)->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
