// Parses a maximum-size capture (32 M records) from memory, as a loaded file,
// and reports records per second and the bytes per record the tree adds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SyntheticCapture.h"

using namespace orvane;

namespace {

struct TreeSink {
    UsbItem root;
    AppendingSink sink{root};
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
    parser.Parse(&sink.sink);
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
    const size_t before = ItemPoolLiveBytes();
    size_t items = 0;
    double cold = 0;
    {
        // Peak memory: measured with the tree still alive.
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink sink;
        auto start = std::chrono::steady_clock::now();
        parser.Parse(&sink.sink);
        cold = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        items = sink.root.children.size();
        state.counters["tree_bytes_per_record"] = double(ItemPoolLiveBytes() - before) / double(records);
        FreeChildren(&sink.root);
    }
    for (auto _ : state) state.SetIterationTime(ParseOnce(source, &items));
    state.counters["records_per_s"] =
        benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["first_parse_records_per_s"] = double(records) / cold;
    state.counters["top_level_items"] = double(items);
}

// Parse, then build the transfer level: each step timed on its own, and the
// memory the transfer level adds on top of the transaction level.
void BM_ParseAndDecode(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource& source = Source(records);
    double parseSeconds = 0, decodeSeconds = 0, parseBytes = 0, decodeBytes = 0;
    for (auto _ : state) {
        const size_t before = ItemPoolLiveBytes();
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink transactions;
        auto t0 = std::chrono::steady_clock::now();
        parser.Parse(&transactions.sink);
        auto t1 = std::chrono::steady_clock::now();
        const size_t afterParse = ItemPoolLiveBytes();
        std::string tree;
        parser.GetDeviceTree(tree);
        CDecoderManager manager(nullptr);  // no class plug-ins: the built-in decoders do the work
        manager.LoadDeviceTree(tree);
        manager.SetHost(&parser);
        manager.SetRoot(&transactions.root);
        TreeSink transfers;
        auto t2 = std::chrono::steady_clock::now();
        manager.DecodeAll(&transfers.sink);
        auto t3 = std::chrono::steady_clock::now();
        parseSeconds = std::chrono::duration<double>(t1 - t0).count();
        decodeSeconds = std::chrono::duration<double>(t3 - t2).count();
        parseBytes = double(afterParse - before);
        decodeBytes = double(ItemPoolLiveBytes() - afterParse);
        state.SetIterationTime(parseSeconds + decodeSeconds);
        manager.ReleaseDecoders();
        FreeTransferLevel(&transfers.root);
        FreeChildren(&transactions.root);
    }
    state.counters["parse_s"] = parseSeconds;
    state.counters["decode_s"] = decodeSeconds;
    state.counters["transaction_level_bytes_per_record"] = parseBytes / double(records);
    state.counters["transfer_level_bytes_per_record"] = decodeBytes / double(records);
}

}  // namespace

BENCHMARK(BM_ParseLoadedCapture)->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
