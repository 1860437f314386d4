// Parses a maximum-size capture (32 M records) from memory, as a loaded file,
// and reports records per second and the bytes per record the tree adds.
#include <benchmark/benchmark.h>

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

void BM_ParseLoadedCapture(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource& source = Source(records);
    const size_t before = ItemPoolReservedBytes();
    size_t peak = 0, items = 0;
    for (auto _ : state) {
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink sink;
        parser.Parse(&sink);
        state.PauseTiming();
        peak = std::max(peak, ItemPoolReservedBytes() - before);
        items = sink.root.children.size();
        FreeChildren(&sink.root);
        state.ResumeTiming();
    }
    state.counters["records_per_s"] =
        benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["tree_bytes_per_record"] = double(peak) / double(records);
    state.counters["top_level_items"] = double(items);
}

}  // namespace

BENCHMARK(BM_ParseLoadedCapture)->Arg(32 << 20)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
