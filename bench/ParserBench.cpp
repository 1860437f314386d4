// Parses a maximum-size capture (32 M records) from memory, as a loaded file,
// and reports records per second and the bytes per record the tree adds; and
// decodes mass-storage and HID sessions of as many records through the class
// plug-ins, against the time their parse takes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include "CDecodeFactory.h"
#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "BenchDecode.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SessionBuilder.h"
#include "SyntheticCapture.h"

using namespace orvane;
using bench::DecodeTransferLevel;
using bench::ThreadSeconds;
using bench::TreeSink;

namespace {

emu::CaptureSource& Source(size_t records) {
    static emu::CaptureSource* source = nullptr;
    if (!source) source = new emu::CaptureSource(bench::SyntheticCapture::Build(records));
    return *source;
}


// Answers the wall seconds of the parse and adds its CPU seconds to *cpu.
double ParseOnce(emu::CaptureSource& source, size_t* items, double* cpu) {
    CUsbParser parser;
    parser.SetDataSource(&source);
    TreeSink sink;
    auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadSeconds();
    parser.Parse(&sink.sink);
    *cpu += ThreadSeconds() - cpuStart;
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
    double cpu = 0;
    for (auto _ : state) state.SetIterationTime(ParseOnce(source, &items, &cpu));
    // On a loaded machine the CPU time of the parsing thread says more than the clock.
    state.counters["records_per_cpu_s"] = double(records) * double(state.iterations()) / cpu;
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

// The class traffic of an emulator session repeated until it holds `records`
// records: enumeration once, then the body from the first record on a class
// endpoint over and over, later in time, its payload shared.
emu::BusCapture Tiled(emu::BusCapture session, size_t records) {
    size_t body = 0;
    while (body < session.records.size()) {
        const PacketRecord& r = session.records[body];
        const uint8_t pid = r.PidNibble();
        if ((pid == PidIn || pid == PidOut) && r.Endpoint() != 0) break;
        ++body;
    }
    const size_t end = session.records.size();
    if (body == end) return session;
    const uint64_t span = session.records.back().Timestamp() - session.records[body].Timestamp() + 1000;
    session.records.reserve(records);
    for (uint64_t shift = span; session.records.size() < records; shift += span) {
        for (size_t i = body; i < end && session.records.size() < records; ++i) {
            PacketRecord r = session.records[i];
            r.SetTimestamp(r.Timestamp() + shift);
            session.records.push_back(r);
        }
    }
    return session;
}

// An emulator session of mass-storage commands (reads, writes and unit tests
// at high speed, with the usual NAKs and damage) or of HID input reports,
// tiled to `records` records.
emu::CaptureSource& ClassSource(emu::SessionBuilder::Kind kind, size_t records) {
    static std::map<std::pair<int, size_t>, emu::CaptureSource*> sources;
    emu::CaptureSource*& source = sources[{int(kind), records}];
    if (!source) {
        emu::SessionBuilder::Options options;
        options.kind = kind;
        options.speed = kind == emu::SessionBuilder::Kind::Disk ? SpeedHigh : SpeedFull;
        options.operations = kind == emu::SessionBuilder::Kind::Disk ? 20000 : 100000;
        options.damageRate = 0.005;
        source = new emu::CaptureSource(Tiled(emu::SessionBuilder(options).Build(), records));
    }
    return *source;
}


// Class decoding of a mass-storage or HID mix through the plug-in in
// "classes" beside this program: records per second, and what the plug-in
// adds to the decoder manager's own walk, against the time of the parse (CPU
// time of this thread for each step, the least of the runs: the others were
// disturbed by something else).
void ClassDecode(benchmark::State& state, emu::SessionBuilder::Kind kind, int cls, int subclass, int protocol) {
    emu::CaptureSource& source = ClassSource(kind, size_t(state.range(0)));
    const double records = double(source.GetCount());
    CDecodeFactory factory;
    if (factory.Find(cls, subclass, protocol) < 0) {
        state.SkipWithError("no plug-in for the class in classes/");
        return;
    }
    double parseSeconds = 1e9, decodeSeconds = 1e9, bareSeconds = 1e9;
    size_t classItems = 0;
    for (auto _ : state) {
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink transactions;
        const double t0 = ThreadSeconds();
        parser.Parse(&transactions.sink);
        parseSeconds = std::min(parseSeconds, ThreadSeconds() - t0);
        const double decoded = DecodeTransferLevel(parser, transactions.root, &factory, [&](const UsbItem& transfers) {
            // Items of the class plug-ins: above the engine's own codes.
            classItems = 0;
            for (const UsbItem* item : transfers.children) classItems += item->type > ItemControlTransfer;
        });
        decodeSeconds = std::min(decodeSeconds, decoded);
        state.SetIterationTime(decoded);
        // The same walk without class plug-ins: what the manager costs alone.
        bareSeconds = std::min(bareSeconds, DecodeTransferLevel(parser, transactions.root, nullptr));
        FreeChildren(&transactions.root);
    }
    state.counters["records"] = records;
    state.counters["class_items"] = double(classItems);
    state.counters["parse_records_per_s"] = records / parseSeconds;
    state.counters["class_decode_records_per_s"] = records / decodeSeconds;
    state.counters["decode_without_plugins_s"] = bareSeconds;
    state.counters["plugin_share_of_parse"] = (decodeSeconds - bareSeconds) / parseSeconds;
    std::printf("class decoding of %.0f records (%s): %.1f M records/s, parse %.1f M records/s; "
                "%.0f class-level items; the plug-in adds %.0f%% of the parse's time\n",
                records, kind == emu::SessionBuilder::Kind::Disk ? "mass storage" : "HID", records / decodeSeconds / 1e6,
                records / parseSeconds / 1e6, double(classItems), 100.0 * (decodeSeconds - bareSeconds) / parseSeconds);
}

void BM_MassStorageDecode(benchmark::State& state) { ClassDecode(state, emu::SessionBuilder::Kind::Disk, 8, 6, 0x50); }
void BM_HidDecode(benchmark::State& state) { ClassDecode(state, emu::SessionBuilder::Kind::Mouse, 3, 1, 2); }

}  // namespace

BENCHMARK(BM_MassStorageDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HidDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLoadedCapture)->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
