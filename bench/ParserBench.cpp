// Parses a maximum-size capture (32 M records) of synthetic and of real traffic
// from memory, as a loaded file, and reports records per second, warm and in a
// fresh process, and the bytes per record the tree adds; and
// decodes mass-storage and HID sessions of as many records through the class
// plug-ins, against the time their parse takes; how soon a close or a New
// ends such a decoding under way; and the parse and binding of captures that
// enumerate over and over (a device in a reset loop, addresses handed round,
// another device at one address each enumeration).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "CDecodeFactory.h"
#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "BenchAnalyser.h"
#include "BenchChild.h"
#include "BenchDecode.h"
#include "CCaptureWorker.h"
#include "COrvaneDoc.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "RealTraffic.h"
#include "BusTrafficBuilder.h"
#include "SessionBuilder.h"
#include "SyntheticCapture.h"

using namespace orvane;
using bench::DecodeTransferLevel;
using bench::ThreadSeconds;
using bench::TreeSink;

namespace {

enum class Traffic { Synthetic, Real };
const char* const kTrafficNames[] = {"synthetic", "real"};
constexpr const char* kFirstParseFlag = "--first-parse";

using bench::Payload;

emu::BusCapture Build(Traffic traffic, size_t records, Payload payload = Payload::Wrapped,
                      std::vector<std::string>* parts = nullptr) {
    return traffic == Traffic::Real ? bench::RealTraffic(records, payload, parts)
                                    : bench::SyntheticCapture::Build(records, payload);
}

// One capture at a time: each holds up to 512 MiB of payload besides its records.
emu::CaptureSource& Source(size_t records, Traffic traffic = Traffic::Synthetic, Payload payload = Payload::Wrapped,
                           std::vector<std::string>* parts = nullptr) {
    static std::unique_ptr<emu::CaptureSource> source;
    static std::tuple<Traffic, size_t, Payload> made;
    static std::vector<std::string> madeOf;
    if (!source || made != std::make_tuple(traffic, records, payload)) {
        source.reset();
        madeOf.clear();
        source = std::make_unique<emu::CaptureSource>(Build(traffic, records, payload, &madeOf));
        made = {traffic, records, payload};
    }
    if (parts) *parts = madeOf;
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

struct Usage {
    double user, system;
};
Usage ThreadUsage(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// The first parse of a process, in a child process of its own: it also pays
// for faulting in fresh memory. Prints the parse's seconds and the bytes per
// record of the tree, measured with the tree alive.
int FirstParseChild(Traffic traffic, size_t records, Payload payload) {
    emu::CaptureSource source(Build(traffic, records, payload));
    records = source.GetCount();
    const size_t before = ItemPoolLiveBytes(), reservedBefore = ItemPoolReservedBytes();
    CUsbParser parser;
    parser.SetDataSource(&source);
    TreeSink sink;
    const Usage thread0 = ThreadUsage(RUSAGE_THREAD), process0 = ThreadUsage(RUSAGE_SELF);
    auto start = std::chrono::steady_clock::now();
    parser.Parse(&sink.sink);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Usage thread1 = ThreadUsage(RUSAGE_THREAD), process1 = ThreadUsage(RUSAGE_SELF);
    std::printf("first_parse_s %.6f\n", seconds);
    // Where the time went: the parsing thread's own work and faults, and the
    // whole process's (the pool prepares fresh memory on threads of its own).
    std::printf("parser_user_s %.6f\nparser_system_s %.6f\n", thread1.user - thread0.user, thread1.system - thread0.system);
    std::printf("process_user_s %.6f\nprocess_system_s %.6f\n", process1.user - process0.user,
                process1.system - process0.system);
    std::printf("tree_bytes_per_record %.4f\n", double(ItemPoolLiveBytes() - before) / double(records));
    // The fresh memory the parse took from the system, kept or not.
    std::printf("pool_bytes_per_record %.4f\n", double(ItemPoolReservedBytes() - reservedBefore) / double(records));
    std::fflush(stdout);
    ::_exit(0);  // freeing the tree item by item measures nothing
}

// A capture of synthetic or of real traffic parsed as a loaded file: warm
// parses in this process, which reuse the pool as every later parse does, and
// the first parse of a fresh process (median of three). With Payload::Held
// every packet holds its payload (as many records as the ring holds whole);
// with Payload::Wrapped the older packets lost theirs to the ring.
void BM_ParseLoadedCapture(benchmark::State& state, Traffic traffic, Payload payload) {
    std::vector<std::string> parts;
    emu::CaptureSource& source = Source(size_t(state.range(0)), traffic, payload, &parts);
    const size_t records = source.GetCount();
    size_t lost = 0;
    for (const PacketRecord& r : source.Capture().records) lost += r.IsData() && r.PayloadLost();
    std::vector<bench::ChildRun> firsts;
    for (int run = 0; run < 3; ++run) {
        bench::ChildRun first;
        if (!bench::RunChild({kFirstParseFlag, kTrafficNames[int(traffic)], std::to_string(state.range(0)),
                              bench::PayloadName(payload)},
                             &first)) {
            state.SkipWithError("the first-parse child failed");
            return;
        }
        firsts.push_back(std::move(first));
    }
    size_t items = 0;
    double cpu = 0;
    std::vector<double> warm;
    for (auto _ : state) {
        warm.push_back(ParseOnce(source, &items, &cpu));
        state.SetIterationTime(warm.back());
    }
    std::sort(warm.begin(), warm.end());
    const double warmSeconds = warm[warm.size() / 2];
    const double firstSeconds = bench::Median(firsts, "first_parse_s");
    const double bytes = bench::Median(firsts, "tree_bytes_per_record");
    // On a loaded machine the CPU time of the parsing thread says more than the clock.
    state.counters["records_per_cpu_s"] = double(records) * double(state.iterations()) / cpu;
    state.counters["records_per_s"] =
        benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["warm_median_records_per_s"] = double(records) / warmSeconds;
    state.counters["first_parse_records_per_s"] = double(records) / firstSeconds;
    state.counters["tree_bytes_per_record"] = bytes;
    state.counters["first_parse_parser_system_s"] = bench::Median(firsts, "parser_system_s");
    state.counters["first_parse_process_system_s"] = bench::Median(firsts, "process_system_s");
    state.counters["top_level_items"] = double(items);
    state.counters["records"] = double(records);
    state.counters["packets_without_payload"] = double(lost);
    std::string made;
    for (const std::string& part : parts) made += (made.empty() ? "" : ", ") + part;
    std::printf("parse of %zu records of %s traffic%s%s%s, payload %s (%zu packets without): warm %.1f M records/s "
                "(median of %zu; %.1f M per CPU second), first parse %.1f M records/s (median of %zu processes), "
                "%.2f bytes/record\n",
                records, kTrafficNames[int(traffic)], made.empty() ? "" : " (", made.c_str(), made.empty() ? "" : ")",
                bench::PayloadName(payload), lost,
                double(records) / warmSeconds / 1e6, warm.size(),
                double(records) * double(state.iterations()) / cpu / 1e6, double(records) / firstSeconds / 1e6,
                firsts.size(), bytes);
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

// Heap bytes in use: the class decoders live there, the items in their pool.
// Blocks of 128 KiB and more malloc maps apart, outside the arena's count.
size_t HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// One capture parsed, learned and bound through the class plug-ins: CPU seconds
// of each step, the best of three runs (the first also pays for fresh
// memory; a few milliseconds are easily disturbed), and what the transfer
// level and the decoders hold at its end.
struct Binding {
    double parseSeconds = 1e9, decodeSeconds = 1e9;
    double bytesPerRecord = 0;  // the transfer level's items and the decoders' heap
    size_t decoders = 0, devices = 0, treeBytes = 0;
    // The same after a find that summarizes every row: the turns handed back
    // get decoders made to describe them.
    double bytesPerRecordAfterFind = 0;
    size_t decodersAfterFind = 0;
    size_t transactions = 0;    // the items the decoding walks: the transaction level's
};

Binding Bind(emu::CaptureSource& source, IDecodeFactory* factory, int runs = 3, bool find = false) {
    Binding b;
    const double records = double(source.GetCount());
    for (int run = 0; run < runs; ++run) {
        CUsbParser parser;
        parser.SetDataSource(&source);
        TreeSink transactions;
        double t0 = ThreadSeconds();
        parser.Parse(&transactions.sink);
        std::string tree;
        parser.GetDeviceTree(tree);
        b.parseSeconds = std::min(b.parseSeconds, ThreadSeconds() - t0);
        const size_t pool = ItemPoolLiveBytes(), heap = HeapBytes();
        {
            CDecoderManager manager(factory);
            manager.LoadDeviceTree(tree);
            manager.SetHost(&parser);
            manager.SetRoot(&transactions.root);
            TreeSink transfers;
            t0 = ThreadSeconds();
            manager.DecodeAll(&transfers.sink);
            b.decodeSeconds = std::min(b.decodeSeconds, ThreadSeconds() - t0);
            const double held = double(ItemPoolLiveBytes() - pool) + (double(HeapBytes()) - double(heap));
            b.bytesPerRecord = held / records;
            b.decoders = manager.DecoderCount();
            if (find) {
                for (UsbItem* item : transfers.root.children) {
                    ItemSummary row;
                    manager.Summarize(item, &row);
                }
                b.bytesPerRecordAfterFind =
                    (double(ItemPoolLiveBytes() - pool) + (double(HeapBytes()) - double(heap))) / records;
                b.decodersAfterFind = manager.DecoderCount();
            }
            manager.ReleaseDecoders();
            FreeTransferLevel(&transfers.root);
        }
        b.treeBytes = tree.size();
        b.transactions = transactions.root.children.size();
        b.devices = 0;
        for (size_t at = tree.find("<device "); at != std::string::npos; at = tree.find("<device ", at + 1)) ++b.devices;
        FreeChildren(&transactions.root);
    }
    return b;
}

// The parse with its learning, then the transfer level's binding through the
// class plug-ins, each in records per second, what the level and the decoders
// hold per record, and the size of the stored tree.
Binding ParseAndBind(benchmark::State& state, emu::CaptureSource& source, IDecodeFactory* factory,
                     const std::string& label) {
    const double records = double(source.GetCount());
    Binding b;
    for (auto _ : state) {
        const Binding run = Bind(source, factory, 1, true);
        state.SetIterationTime(run.parseSeconds + run.decodeSeconds);
        const double parse = std::min(b.parseSeconds, run.parseSeconds), decode = std::min(b.decodeSeconds, run.decodeSeconds);
        b = run;
        b.parseSeconds = parse;
        b.decodeSeconds = decode;
    }
    state.counters["parse_records_per_s"] = records / b.parseSeconds;
    state.counters["decode_records_per_s"] = records / b.decodeSeconds;
    state.counters["decode_bytes_per_record"] = b.bytesPerRecord;
    state.counters["decoders_held"] = double(b.decoders);
    state.counters["after_find_bytes_per_record"] = b.bytesPerRecordAfterFind;
    state.counters["after_find_decoders_held"] = double(b.decodersAfterFind);
    state.counters["device_nodes"] = double(b.devices);
    state.counters["tree_bytes"] = double(b.treeBytes);
    std::printf("%s, %.0f records: parse %.2f M records/s, transfer level %.2f M records/s holding %.2f bytes/record "
                "(%zu decoders), %.2f bytes/record after a find over every row (%zu decoders); %zu device nodes, "
                "tree of %zu bytes\n",
                label.c_str(), records, records / b.parseSeconds / 1e6, records / b.decodeSeconds / 1e6,
                b.bytesPerRecord, b.decoders, b.bytesPerRecordAfterFind, b.decodersAfterFind, b.devices, b.treeBytes);
    return b;
}

// A capture whose session, enumeration and all, repeats at the same address
// (a device in a reset loop), decoded through the class plug-ins. At 1 M and
// 10 M records the rates should match: a cost that grows with the
// enumerations so far shows here.
void BM_ParseReenumerating(benchmark::State& state, const char* name) {
    const size_t records = size_t(state.range(0));
    const bool real = std::strncmp(name, "usb_", 4) == 0;
    const emu::BusCapture session = real ? bench::CaptureFiles(std::filesystem::path(ORVANE_CAPTURES_DIR) / name)
                                         : bench::EmulatedSession(name);
    if (session.records.empty()) {
        state.SkipWithError("no such capture");
        return;
    }
    CDecodeFactory factory;
    if (factory.GetCount() == 0) {
        state.SkipWithError("no class plug-ins in classes/");
        return;
    }
    emu::CaptureSource source(bench::Tiled(session, records, true));
    const Binding again = ParseAndBind(state, source, &factory, std::string("re-enumerating ") + name);
    // The same traffic with its enumeration once, as the real-traffic mix
    // tiles it: what re-enumerating adds, apart from the traffic's own pace.
    emu::CaptureSource onceSource(bench::Tiled(session, records));
    const Binding single = Bind(onceSource, &factory);
    const double onceParse = double(records) / single.parseSeconds, onceDecode = double(records) / single.decodeSeconds;
    const double pace = again.decodeSeconds > 0 ? single.decodeSeconds / again.decodeSeconds : 0;
    state.counters["enumerated_once_records_per_s"] = onceParse;
    state.counters["enumerated_once_decode_records_per_s"] = onceDecode;
    state.counters["enumerated_once_decode_bytes_per_record"] = single.bytesPerRecord;
    state.counters["decode_pace_of_once"] = pace;
    // Both without plug-ins: the pace the built-in decoders alone set for the
    // two kinds of traffic, so that what the class decoders cost shows apart
    // from the enumerations' own control transfers.
    const double barePace = Bind(onceSource, nullptr).decodeSeconds / Bind(source, nullptr).decodeSeconds;
    state.counters["decode_pace_of_once_without_plugins"] = barePace;
    // The enumerations' transactions are short, so the re-enumerating capture
    // holds more of them per record than its once-enumerated tiling: the pace
    // per transaction walked tells the decoding's own cost apart from that mix.
    const double mix = single.transactions ? double(again.transactions) / double(single.transactions) : 0;
    // The very same records, learned as one enumeration: only what the
    // enumerations cost (turns, decoders made and handed back) sets this pace.
    emu::BusCapture same = bench::Tiled(session, records, true);
    bench::HandNoAddressAgain(same);
    emu::CaptureSource sameSource(std::move(same));
    const Binding learned = Bind(sameSource, &factory);
    const double samePace = again.decodeSeconds > 0 ? learned.decodeSeconds / again.decodeSeconds : 0;
    state.counters["decode_pace_of_same_records_learned_once"] = samePace;
    state.counters["transactions_per_record_of_once"] = mix;
    state.counters["decode_pace_of_once_per_transaction"] = pace * mix;
    std::printf("  the same traffic enumerated once: parse %.2f M records/s, transfer level %.2f M records/s holding "
                "%.2f bytes/record; re-enumerating costs %.0f%% of the parse, and decodes at %.2fx the pace "
                "(%.2fx without plug-ins); it holds %.2fx the transactions per record, %.2fx the pace per "
                "transaction\n"
                "  the same records learned as one enumeration (%zu device nodes): transfer level %.2f M records/s "
                "holding %.2f bytes/record; re-enumerating decodes at %.2fx that pace\n",
                onceParse / 1e6, onceDecode / 1e6, single.bytesPerRecord,
                100.0 * (onceParse / state.counters["parse_records_per_s"] - 1.0), pace, barePace, mix, pace * mix,
                learned.devices, double(records) / learned.decodeSeconds / 1e6, learned.bytesPerRecord, samePace);
}

// Class decoders that do nothing, for every interface: what the binding and
// the hand-back cost alone.
class IdleDecoder final : public IDecodeClass {
public:
    void Release() override { delete this; }
    int32_t Summarize(UsbItem*, ItemSummary*) override { return 0; }
    int32_t GetData(UsbItem*, uint8_t*, uint32_t) override { return -1; }
    int32_t GetDetail(UsbItem*, std::string&) override { return 0; }
    const ImageList* GetImageList(UsbItem*) override { return nullptr; }
    int32_t OnNotify(int32_t, void*, intptr_t) override { return 0; }
    int32_t GetClassCode(int32_t* c, int32_t* s, int32_t* p) override { return *c = -1, *s = -1, *p = -1, 1; }
    void SetHost(IDecode*) override {}
    UsbItem* OnTransaction(UsbItem* item) override { return item; }
    void Reset() override {}
};
class IdleFactory final : public IDecodeFactory {
public:
    int32_t GetCount() override { return 1; }
    int32_t GetInfo(int32_t, int32_t*, int32_t*, int32_t*) override { return 0; }
    int32_t Find(int32_t, int32_t, int32_t) override { return 0; }
    IDecodeClass* Create(int32_t) override { return new IdleDecoder; }
    void ReleaseDecoder(IDecodeClass* decoder) override { decoder->Release(); }
    std::string* GetPath(std::string* out, int32_t) override { return out; }
};

// A device with one HID interface (interrupt IN 1) taking `address`, told
// apart from every other by its product ID, reading its report descriptor
// (a boot mouse's), and one report of it.
void EnumerateProduct(emu::BusTrafficBuilder& b, uint8_t address, uint16_t product) {
    using S = emu::SessionBuilder;
    const S::Bytes device = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x34, 0x12, uint8_t(product), uint8_t(product >> 8),
                             0x00, 0x01, 0, 0, 0, 1};
    const S::Bytes config = {9, 2, 34, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 3, 0, 0, 0,
                             9, 0x21, 0x11, 0x01, 0, 1, 0x22, 50, 0, 7, 5, 0x81, 3, 8, 0, 10};
    b.ControlTransfer(0, S::SetupPacket(0x80, 6, 0x100, 0, 8), S::Bytes(device.begin(), device.begin() + 8));
    b.ControlTransfer(0, S::SetupPacket(0x00, 5, address, 0, 0), {});
    b.ControlTransfer(address, S::SetupPacket(0x80, 6, 0x100, 0, 18), device);
    b.ControlTransfer(address, S::SetupPacket(0x80, 6, 0x200, 0, uint16_t(config.size())), config);
    b.ControlTransfer(address, S::SetupPacket(0x00, 9, 1, 0, 0), {});
    const S::Bytes report = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
                             0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
                             0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
                             0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
    b.ControlTransfer(address, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(report.size())), report);
    b.In(address, 1, PidData0, {1, 2, 3});
}

// One address, each enumeration another device (a descriptor fuzzer, a test
// station cycling products through one port), every other one a mouse in a
// reset loop, through decoders that do nothing: the per-turn cost at 1,000
// and at 16,000 new devices should match.
void BM_DecodeNewDeviceEachEnumeration(benchmark::State& state) {
    const auto devices = int(state.range(0));
    emu::BusTrafficBuilder b(SpeedFull);
    for (int i = 0; i < devices; ++i) {
        EnumerateProduct(b, 1, 0x5678);
        EnumerateProduct(b, 1, uint16_t(0x8000 + i));
    }
    emu::CaptureSource source(b.Take());
    IdleFactory idle;
    const Binding bound = ParseAndBind(state, source, &idle, std::to_string(devices) + " new devices between a mouse's turns");
    const double turns = 2.0 * devices;
    const double bare = Bind(source, nullptr, 1).decodeSeconds;
    state.counters["turns"] = turns;
    state.counters["decode_us_per_turn"] = 1e6 * bound.decodeSeconds / turns;
    state.counters["decode_us_per_turn_without_plugins"] = 1e6 * bare / turns;
    std::printf("  %.0f turns: %.2f us a turn through idle decoders, %.2f us without plug-ins\n", turns,
                1e6 * bound.decodeSeconds / turns, 1e6 * bare / turns);
}

// The session's address: the one its first SET_ADDRESS hands out.
uint8_t SessionAddress(const emu::BusCapture& session) {
    for (size_t i = 0; i + 1 < session.records.size(); ++i) {
        const PacketRecord& token = session.records[i];
        const PacketRecord& data = session.records[i + 1];
        if (token.PidNibble() != PidSetup || !data.IsData() || data.PayloadLength() != 8) continue;
        const uint8_t* setup = session.payload.data() + data.PayloadOffset();
        if (size_t(data.PayloadOffset()) + 8 <= session.payload.size() && setup[0] == 0 && setup[1] == 5)
            return setup[2];
    }
    return 0;
}

// Appends `part` 1 ms after what `into` holds, each packet's bytes after the one before.
void AppendShifted(bench::RingCapture& into, const emu::BusCapture& part, size_t limit) {
    const uint64_t start = into.Empty() ? 0 : into.Back().Timestamp() + 60000;
    const uint64_t first = part.records.front().Timestamp();
    for (PacketRecord r : part.records) {
        if (into.Size() == limit) return;
        r.SetTimestamp(r.Timestamp() - first + start);
        const bool own = r.IsData() && size_t(r.PayloadOffset()) + r.Length() <= part.payload.size();
        into.Append(r, own ? part.payload.data() + r.PayloadOffset() : nullptr);
    }
}

// A capture or emulated session repeated whole at its address, as in a reset
// loop, with another device enumerated there between every two repeats,
// decoded through the class plug-ins. At 1 M and 10 M records the rates
// should match: a hand-back that walks the devices gone before shows here.
void BM_ParseNewDeviceEachEnumeration(benchmark::State& state, const char* name) {
    const size_t records = size_t(state.range(0));
    const bool real = std::strncmp(name, "usb_", 4) == 0;
    const emu::BusCapture session = real ? bench::CaptureFiles(std::filesystem::path(ORVANE_CAPTURES_DIR) / name)
                                         : bench::EmulatedSession(name);
    const uint8_t address = session.records.empty() ? 0 : SessionAddress(session);
    if (!address) {
        state.SkipWithError("no such capture, or it hands out no address");
        return;
    }
    CDecodeFactory factory;
    if (factory.GetCount() == 0) {
        state.SkipWithError("no class plug-ins in classes/");
        return;
    }
    // The other devices at the session's own speed.
    auto speed = uint8_t(SpeedFull);
    for (const PacketRecord& r : session.records)
        if (r.Speed() != SpeedNone) {
            speed = r.Speed();
            break;
        }
    bench::RingCapture capture(Payload::Wrapped);
    capture.Reserve(records);
    size_t others = 0;
    while (capture.Size() < records) {
        AppendShifted(capture, session, records);
        emu::BusTrafficBuilder b{SpeedCode(speed)};
        EnumerateProduct(b, address, uint16_t(0x8000 + others++));
        AppendShifted(capture, b.Take(), records);
    }
    emu::CaptureSource source(capture.Take());
    ParseAndBind(state, source, &factory,
                 std::string("re-enumerating ") + name + " between " + std::to_string(others) + " other devices");
    state.counters["other_devices"] = double(others);
}

// A host handing addresses round all 127, one enumeration after another, each
// device polled and read once: at 1,000 and at 10,000 enumerations the rates
// should match.
void BM_ParseAddressesHandedRound(benchmark::State& state) {
    const auto enumerations = int(state.range(0));
    const emu::SessionBuilder session{emu::SessionBuilder::Options{}};
    const auto& config = session.ConfigDescriptor();
    emu::BusTrafficBuilder b(SpeedFull);
    for (int i = 0; i < enumerations; ++i) {
        const auto address = uint8_t(1 + i % 127);
        b.ControlTransfer(0, emu::SessionBuilder::SetupPacket(0x00, 5, address, 0, 0), {});
        b.ControlTransfer(address, emu::SessionBuilder::SetupPacket(0x80, 6, 0x0100, 0, 18), session.DeviceDescriptor());
        b.ControlTransfer(address, emu::SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, 9),
                          emu::BusTrafficBuilder::Bytes(config.begin(), config.begin() + 9));
        b.ControlTransfer(address, emu::SessionBuilder::SetupPacket(0x80, 6, 0x0200, 0, uint16_t(config.size())),
                          config);
        b.InNak(address, 1, 20);
        b.In(address, 1, PidData0, {1, 2, 3});
    }
    emu::CaptureSource source(b.Take());
    CDecodeFactory factory;
    ParseAndBind(state, source, &factory, "addresses handed round, " + std::to_string(enumerations) + " enumerations");
}

// Requests whose setup the ring wrote over, each followed by 600 SOFs and
// 600 NAKed polls of another device, as a wrapped capture holds them between
// a device's requests: the transfer level's cost a request, setups lost
// against held. A lost setup's empty IN stage asks for its pipe's next token.
// As a ring that wrapped keeps them, only the newest setups hold their bytes.
void BM_DecodeLostSetups(benchmark::State& state) {
    const auto requests = int(state.range(0));
    emu::BusTrafficBuilder b(SpeedHigh);
    std::vector<size_t> setups;
    for (int i = 0; i < requests; ++i) {
        setups.push_back(b.ControlTransfer(5, emu::SessionBuilder::SetupPacket(0x00, 9, 1, 0, 0), {}));
        b.SofRun(600);
        b.InNak(6, 1, 600);
    }
    emu::BusCapture held = b.Take();
    emu::BusCapture lost = held;
    const size_t keptNewest = setups.size() / 100;
    for (size_t i = 0; i + keptNewest < setups.size(); ++i)
        lost.records[setups[i] + 1].SetPayloadOffset(PacketRecord::kPayloadLost);
    emu::CaptureSource heldSource(std::move(held)), lostSource(std::move(lost));
    Binding withLost, withHeld;
    for (auto _ : state) {
        withLost = Bind(lostSource, nullptr);
        withHeld = Bind(heldSource, nullptr);
        state.SetIterationTime(withLost.decodeSeconds);
    }
    const double records = double(lostSource.GetCount());
    state.counters["decode_us_per_lost_setup"] = 1e6 * withLost.decodeSeconds / requests;
    state.counters["decode_us_per_held_setup"] = 1e6 * withHeld.decodeSeconds / requests;
    state.counters["parse_records_per_s"] = records / withLost.parseSeconds;
    std::printf("%d requests between 1,200 records of other traffic: the transfer level takes %.2f us a request "
                "whose setup was lost, %.2f us one held; parse %.1f M records/s (%.1f held)\n",
                requests, 1e6 * withLost.decodeSeconds / requests, 1e6 * withHeld.decodeSeconds / requests,
                records / withLost.parseSeconds / 1e6, records / withHeld.parseSeconds / 1e6);
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
        source = new emu::CaptureSource(bench::Tiled(emu::SessionBuilder(options).Build(), records));
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

template <class Done>
void SleepUntil(Done done) {
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The window's worker over an opened mass-storage capture: how long a New or
// an open (CancelDecoding) and a close (Shutdown) wait for a class decoding
// that is a third of the way through, against a whole decoding's time
// (wall clock, the greatest of the runs).
void BM_CloseDuringMassStorageDecode(benchmark::State& state) {
    emu::CaptureSource& source = ClassSource(emu::SessionBuilder::Kind::Disk, size_t(state.range(0)));
    CDecodeFactory factory;
    if (factory.Find(8, 6, 0x50) < 0) {
        state.SkipWithError("no plug-in for the class in classes/");
        return;
    }
    bench::StaticAnalyser device(&source, StatusOnline | StatusOnline2);
    app::COrvaneDoc doc(&factory);
    app::CCaptureWorker::Options options;
    options.pollInterval = options.idleInterval = std::chrono::milliseconds(1);
    app::CCaptureWorker worker(doc, &device, nullptr, options);
    worker.ResetForOpenedProject();
    SleepUntil([&] { return worker.IsIdle() && worker.DataAvailable(); });
    auto start = bench::Clock::now();
    worker.OnTransferLevel();
    SleepUntil([&] { return worker.IsIdle() && worker.ClassDecoded(); });
    const double decodeMs = bench::MsSince(start);
    const auto third = std::chrono::milliseconds(int64_t(decodeMs / 3));

    double cancelMs = 0;
    int interrupted = 0;
    for (auto _ : state) {
        worker.OnDeviceTreeEdited(doc.GetConfiguration());  // decodes again at once
        std::this_thread::sleep_for(third);
        start = bench::Clock::now();
        interrupted += worker.CancelDecoding();
        const double ms = bench::MsSince(start);
        cancelMs = std::max(cancelMs, ms);
        state.SetIterationTime(ms / 1000);
    }
    worker.OnDeviceTreeEdited(doc.GetConfiguration());
    std::this_thread::sleep_for(third);
    const bool decoding = worker.State() == app::CCaptureWorker::CaptureState::ClassDecode;
    start = bench::Clock::now();
    worker.Shutdown();
    const double closeMs = bench::MsSince(start);
    if (interrupted < int(state.iterations()) || !decoding) state.SkipWithError("a decoding ended before its cancel");
    state.counters["records"] = double(source.GetCount());
    state.counters["decode_ms"] = decodeMs;
    state.counters["cancel_ms"] = cancelMs;
    state.counters["close_ms"] = closeMs;
    std::printf("a class decoding of %.0f mass-storage records takes %.0f ms; a New or open a third of the way "
                "through waits %.1f ms for it, a close %.1f ms\n",
                double(source.GetCount()), decodeMs, cancelMs, closeMs);
}

}  // namespace

BENCHMARK(BM_MassStorageDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HidDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CloseDuringMassStorageDecode)
    ->Arg(32 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndDecode)->Arg(32 << 20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeNewDeviceEachEnumeration)
    ->Arg(1000)->Arg(16000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAddressesHandedRound)
    ->Arg(1000)->Arg(10000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLostSetups)->Arg(4000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], kFirstParseFlag) == 0)
        return FirstParseChild(std::strcmp(argv[2], "real") == 0 ? Traffic::Real : Traffic::Synthetic,
                               size_t(std::strtoull(argv[3], nullptr, 10)),
                               std::strcmp(argv[4], "held") == 0 ? Payload::Held : Payload::Wrapped);
    // Each named by the records it parses: a capture that holds all its
    // payload has as many as the ring holds whole, a wrapped one 32 M.
    for (Traffic traffic : {Traffic::Synthetic, Traffic::Real})
        for (Payload payload : {Payload::Held, Payload::Wrapped}) {
            const size_t records = payload == Payload::Held ? Build(traffic, size_t(32) << 20, payload).records.size()
                                                            : size_t(32) << 20;
            benchmark::RegisterBenchmark((std::string("BM_ParseLoadedCapture/") + kTrafficNames[int(traffic)] + "_" +
                                          bench::PayloadName(payload)).c_str(),
                                         [traffic, payload](benchmark::State& state) {
                                             BM_ParseLoadedCapture(state, traffic, payload);
                                         })
                ->Arg(int64_t(records))->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        }
    // Three real captures that hold an enumeration, and an emulated session.
    for (const char* name : {"usb_ls_mouse", "usb_fs_vcp", "usb_hs_flash_drive", "audio"})
        benchmark::RegisterBenchmark((std::string("BM_ParseReenumerating/") + name).c_str(),
                                     [name](benchmark::State& state) { BM_ParseReenumerating(state, name); })
            ->Arg(1 << 20)->Arg(10 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    for (const char* name : {"usb_ls_mouse", "mouse"})
        benchmark::RegisterBenchmark((std::string("BM_ParseNewDeviceEachEnumeration/") + name).c_str(),
                                     [name](benchmark::State& state) { BM_ParseNewDeviceEachEnumeration(state, name); })
            ->Arg(1 << 20)->Arg(10 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
