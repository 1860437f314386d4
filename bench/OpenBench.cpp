// Opens a saved project of a large capture of synthetic or of real traffic,
// as the analyser writes it and a save keeps it (each packet's payload after
// the one before): one whose every packet holds its payload (as many records
// as the 512 MiB payload ring holds whole, up to 32 M), and one of 32 M
// records whose ring wrapped (the newest 512 MiB held, the older packets
// without payload). Each is opened as an older version saved it, whose open
// walks the records, and as this version saves it (its lost packets said
// marked, its files' record kept), whose open needs no walk. It opens in a
// fresh process, as a user does after starting the program: the capture files
// are read, the worker parses into the packet list model, then the transfer
// level is built. The page cache holds the files; the process's memory is
// new. Each run is a child process of this program, which reports what the
// child saw: open-to-parsed records per second, the time to the first rows in
// the list model, the files' read, bytes per record of both levels, and the
// peak memory of the whole program (records, payload, trees, list model).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BenchChild.h"
#include "BenchFolder.h"
#include "BenchWorker.h"
#include "CCaptureWorker.h"
#include "CDeviceProxy.h"
#include "COrvaneDoc.h"
#include "ProjectFiles.h"
#include "CPacketListModel.h"
#include "EmulatedAnalyser.h"
#include "RealTraffic.h"
#include "SyntheticCapture.h"

using namespace orvane;
using namespace orvane::app;

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::MsSince;
using bench::PumpUntil;

constexpr const char* kChildFlag = "--open-child";

// kB of a "Vm..." line of /proc/self/status.
double StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') return std::atof(line.c_str() + n + 1);
    return 0;
}

double MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_minflt);
}

// CPU milliseconds of every thread of this process, user and system.
double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// User and system CPU milliseconds of each thread of this process, busiest first.
std::vector<std::pair<double, double>> ThreadCpuMs() {
    std::vector<std::pair<double, double>> threads;
    const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // Fields after the command name, which may hold blanks: state is field 3, utime 14, stime 15.
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double user = 0, system = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) user = std::atof(field.c_str()) * tick;
            if (i == 15) system = std::atof(field.c_str()) * tick;
        }
        threads.emplace_back(user, system);
    }
    std::sort(threads.begin(), threads.end(),
              [](auto& a, auto& b) { return a.first + a.second > b.first + b.second; });
    return threads;
}

// The child: opens the project, waits for the parse and the transfer level,
// prints what it measured as "key value" lines.
int RunChild(int argc, char** argv, const char* project) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    emu::EmulatedAnalyser analyser;
    pardix::CDeviceProxy proxy(&analyser);
    bench::StaticAnalyser device(&proxy, StatusOnline | StatusOnline2);  // idle: the worker only opens
    bench::ListedDocument listed(&device);
    CPacketListModel& model = listed.model;
    CCaptureWorker& worker = listed.worker;

    const double faults0 = MinorFaults();
    const double cpu0 = CpuMs();
    const size_t pool0 = ItemPoolLiveBytes();
    const auto start = Clock::now();
    std::string error;
    if (!worker.OpenProject(project, &error)) {
        std::fprintf(stderr, "the project did not open: %s\n", error.c_str());
        return 1;
    }
    const double openMs = MsSince(start);
    const double faultsOpen = MinorFaults();
    PumpUntil([&] { return model.rowCount() > 0; });
    const double firstRowsMs = MsSince(start);
    PumpUntil([&] { return worker.IsIdle() && worker.DataAvailable() && model.rowCount() == model.RowCount(); });
    const double parsedMs = MsSince(start);
    const double faultsParsed = MinorFaults();
    const double cpuParsed = CpuMs();
    const auto threads = ThreadCpuMs();
    // The list's blocks come from the pool too; they are counted as the list's.
    const size_t poolParsed = ItemPoolLiveBytes() - model.List().Rows().PoolBytes();
    const double records = double(proxy.GetCount());

    const auto decodeStart = Clock::now();
    worker.OnTransferLevel();
    PumpUntil([&] { return worker.IsIdle() && worker.ClassDecoded(); });
    const double decodeMs = MsSince(decodeStart);
    const size_t poolDecoded = ItemPoolLiveBytes() - model.List().Rows().PoolBytes();

    std::printf("records %.0f\n", records);
    std::printf("rows %d\n", model.RowCount());
    std::printf("open_ms %.3f\n", openMs);
    std::printf("first_rows_ms %.3f\n", firstRowsMs);
    std::printf("parsed_ms %.3f\n", parsedMs);
    std::printf("decode_ms %.3f\n", decodeMs);
    std::printf("cpu_ms %.3f\n", cpuParsed - cpu0);
    // The worker that parsed is the busiest thread; the next one prepares memory.
    for (size_t i = 0; i < 2 && i < threads.size(); ++i)
        std::printf("thread%zu_user_ms %.0f\nthread%zu_system_ms %.0f\n", i, threads[i].first, i, threads[i].second);
    std::printf("faults_open %.0f\n", faultsOpen - faults0);
    std::printf("faults_parse %.0f\n", faultsParsed - faultsOpen);
    std::printf("transaction_bytes_per_record %.3f\n", double(poolParsed - pool0) / records);
    std::printf("transfer_bytes_per_record %.3f\n", double(poolDecoded - poolParsed) / records);
    std::printf("list_bytes_per_record %.3f\n", double(model.List().Rows().IndexBytes()) / records);
    std::printf("peak_kb %.0f\n", StatusKb("VmHWM"));
    std::fflush(stdout);
    // Freeing 32 M records' trees item by item measures nothing: the process just ends.
    ::_exit(0);
}

enum class Traffic { Synthetic, Real };

// Whose project: an older version's, whose open walks the records to find
// which packets lost their payload, or this version's, which says its save
// marked them and records its files' size and digest, so the open needs no walk.
enum class Saved { Before, Here };

// "p.usb" and its capture files, as a save writes them; *lost: the packets without payload.
void WriteProject(const fs::path& folder, size_t records, Traffic traffic, bench::Payload payload, Saved saved,
                  size_t* lost) {
    const emu::BusCapture capture = traffic == Traffic::Real ? bench::RealTraffic(records, payload)
                                                             : bench::SyntheticCapture::Build(records, payload);
    *lost = 0;
    for (const PacketRecord& r : capture.records) *lost += r.IsData() && r.PayloadLost();
    std::ofstream(folder / "p.ph", std::ios::binary)
        .write(reinterpret_cast<const char*>(capture.records.data()),
               std::streamsize(capture.records.size() * sizeof(PacketRecord)));
    std::ofstream(folder / "p.data", std::ios::binary)
        .write(reinterpret_cast<const char*>(capture.payload.data()), std::streamsize(capture.payload.size()));
    auto record = [&](const char* name) {
        if (saved == Saved::Before) return std::string();
        const auto digest = DigestFile((folder / name).string());
        char text[17] = {};
        std::snprintf(text, sizeof text, "%016llx", digest ? static_cast<unsigned long long>(digest->digest) : 0ull);
        return " Size=\"" + std::to_string(digest ? digest->size : 0) + "\" Digest=\"" + text + "\"";
    };
    std::ofstream(folder / "p.usb", std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orvane Version=\"2.0\">"
           "<Packet PathName=\"p.ph\" TriggerNum=\"-1\"" + record("p.ph") +
               (saved == Saved::Here ? " PayloadMarked=\"1\"" : "") +
               "/><Data PathName=\"p.data\"" + record("p.data") +
               "/><Configuration/><Setup/><marks/></Orvane>\n";
}

// The records a capture of `records` built so holds: with Payload::Held, what the ring holds whole.
size_t CaptureRecords(Traffic traffic, size_t records, bench::Payload payload) {
    return (traffic == Traffic::Real ? bench::RealTraffic(records, payload)
                                     : bench::SyntheticCapture::Build(records, payload)).records.size();
}

// Reads the file once, so the children find it in the page cache.
void Warm(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
    }
}

void BM_OpenSavedProject(benchmark::State& state, Traffic traffic, bench::Payload payload, Saved saved) {
    bench::BenchFolder folder;
    size_t lost = 0;
    WriteProject(folder.path, size_t(state.range(0)), traffic, payload, saved, &lost);
    Warm(folder.path / "p.ph");
    Warm(folder.path / "p.data");
    const std::string project = (folder.path / "p.usb").string();
    std::vector<bench::ChildRun> runs;
    for (auto _ : state) {
        bench::ChildRun run;
        if (!bench::RunChild({kChildFlag, project}, &run) || !run.count("parsed_ms")) {
            state.SkipWithError("the child process failed");
            return;
        }
        state.SetIterationTime(run["parsed_ms"] / 1000.0);
        runs.push_back(std::move(run));
    }
    auto median = [&](const char* key) { return bench::Median(runs, key); };
    const double records = median("records");
    const double parsedMs = median("parsed_ms");
    state.counters["cold_open_records_per_s"] = records / (parsedMs / 1000.0);
    state.counters["first_rows_ms"] = median("first_rows_ms");
    state.counters["first_rows_share_of_parsed"] = median("first_rows_ms") / parsedMs;
    state.counters["records"] = records;
    state.counters["packets_without_payload"] = double(lost);
    state.counters["open_ms"] = median("open_ms");
    state.counters["parsed_ms"] = parsedMs;
    state.counters["transfer_level_ms"] = median("decode_ms");
    state.counters["cpu_ms"] = median("cpu_ms");
    state.counters["worker_user_ms"] = median("thread0_user_ms");
    state.counters["worker_system_ms"] = median("thread0_system_ms");
    state.counters["page_faults_open"] = median("faults_open");
    state.counters["page_faults_parse"] = median("faults_parse");
    state.counters["transaction_bytes_per_record"] = median("transaction_bytes_per_record");
    state.counters["transfer_bytes_per_record"] = median("transfer_bytes_per_record");
    state.counters["peak_MB"] = median("peak_kb") / 1024.0;
    state.counters["peak_bytes_per_record"] = median("peak_kb") * 1024.0 / records;
    std::printf("open of a %.0f-record project saved %s of %s traffic, payload %s (%zu packets without), in a new process (median of %zu): %.1f M records/s "
                "open to parsed (%.0f ms, %.0f ms CPU, busiest thread %.0f user + %.0f system, next %.0f + %.0f; files read in %.0f ms), first rows %.1f ms; transfer level %.0f ms; "
                "tree %.2f bytes/record + %.2f transfer level, list model %.2f; peak memory %.0f MB "
                "(%.1f bytes/record); page faults %.0f open + %.0f parse\n",
                records, saved == Saved::Here ? "here (no walk)" : "before lost packets were said marked (walked)",
                traffic == Traffic::Real ? "real" : "synthetic", bench::PayloadName(payload), lost, runs.size(), records / parsedMs / 1000.0, parsedMs, median("cpu_ms"), median("thread0_user_ms"), median("thread0_system_ms"),
                median("thread1_user_ms"), median("thread1_system_ms"), median("open_ms"),
                median("first_rows_ms"), median("decode_ms"), median("transaction_bytes_per_record"),
                median("transfer_bytes_per_record"), median("list_bytes_per_record"), median("peak_kb") / 1024.0,
                median("peak_kb") * 1024.0 / records, median("faults_open"), median("faults_parse"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) return RunChild(argc, argv, argv[2]);
    // Each named by the records it opens: a capture that holds all its payload
    // has as many as the ring holds whole, a wrapped one 32 M. The wrapped one
    // saved here is the common large project: its open needs no walk.
    struct Kind {
        const char* name;
        Traffic traffic;
        bench::Payload payload;
        Saved saved;
    };
    const Kind kinds[] = {
        {"synthetic_held", Traffic::Synthetic, bench::Payload::Held, Saved::Before},
        {"synthetic_held_saved_here", Traffic::Synthetic, bench::Payload::Held, Saved::Here},
        {"synthetic_wrapped", Traffic::Synthetic, bench::Payload::Wrapped, Saved::Before},
        {"synthetic_wrapped_saved_here", Traffic::Synthetic, bench::Payload::Wrapped, Saved::Here},
        {"real_held", Traffic::Real, bench::Payload::Held, Saved::Before},
        {"real_held_saved_here", Traffic::Real, bench::Payload::Held, Saved::Here},
        {"real_wrapped", Traffic::Real, bench::Payload::Wrapped, Saved::Before},
        {"real_wrapped_saved_here", Traffic::Real, bench::Payload::Wrapped, Saved::Here},
    };
    size_t heldRecords[2] = {0, 0};
    for (const Kind& kind : kinds) {
        size_t records = size_t(32) << 20;
        if (kind.payload == bench::Payload::Held) {
            size_t& held = heldRecords[int(kind.traffic)];
            if (!held) held = CaptureRecords(kind.traffic, records, kind.payload);
            records = held;
        }
        benchmark::RegisterBenchmark((std::string("BM_OpenSavedProject/") + kind.name).c_str(),
                                     [kind](benchmark::State& state) {
                                         BM_OpenSavedProject(state, kind.traffic, kind.payload, kind.saved);
                                     })
            ->Arg(int64_t(records))->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
