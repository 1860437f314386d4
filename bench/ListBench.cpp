// The packet list at scale: a capture streamed through the capture worker
// into the list model, then what a user does with it: scroll to the end, go to
// a record near the end, expand everything. Each step is timed on its own, as
// is the screenful of rows a view then asks for, at several capture lengths so
// that growth with the length shows; the model's bytes per row are printed.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "CCaptureWorker.h"
#include "CPacketListModel.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SyntheticCapture.h"

using namespace orvane;
using namespace orvane::app;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// An analyser whose capture is finished and uploaded: the worker parses at once.
struct FinishedAnalyser : IDevice {
    explicit FinishedAnalyser(IDataSource* s) : source(s) {}
    int32_t Release() override { return 0; }
    int32_t GetDeviceInfo(DeviceInfo*) override { return 0; }
    int32_t GetStatus(DeviceStatus* out) override {
        out->flags = StatusOnline | StatusOnline2 | StatusComplete;
        out->trigger = -1;
        return 1;
    }
    int32_t ApplySetup(const char*) override { return 1; }
    int32_t Start() override { return 1; }
    int32_t Stop() override { return 1; }
    int32_t Reserved1() override { return 0; }
    int32_t Reserved2() override { return 0; }
    IDataSource* GetDataSource() override { return source; }
    int32_t Control(int32_t, int32_t*) override { return 1; }
    IDataSource* source;
};

constexpr int kScreenRows = 40;

// What a view asks of each row it paints: every cell text, the icon, colour,
// depth and expand box.
void PaintScreen(CPacketListModel& model, int first) {
    const int end = std::min(model.rowCount(), first + kScreenRows);
    for (int row = std::max(0, first); row < end; ++row) {
        for (int column = 0; column < model.columnCount(); ++column)
            benchmark::DoNotOptimize(model.data(model.index(row, column), Qt::DisplayRole));
        const QModelIndex index = model.index(row, 0);
        for (int role : {int(Qt::DecorationRole), int(Qt::ForegroundRole), int(CPacketListModel::DepthRole),
                         int(CPacketListModel::HasChildrenRole), int(CPacketListModel::ExpandedRole)})
            benchmark::DoNotOptimize(model.data(index, role));
    }
}

template <class Done>
void PumpUntil(Done done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

void BM_ListAtScale(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource source(bench::SyntheticCapture::Build(records));
    FinishedAnalyser analyser(&source);
    for (auto _ : state) {
        COrvaneDoc doc;
        CPacketListModel model;
        model.SetRoot(&doc.TransactionRoot());
        model.SetRowDecoder(&doc.Parser());
        CCaptureWorker::Options options;
        options.pollInterval = options.idleInterval = std::chrono::milliseconds(1);
        CCaptureWorker worker(doc, &analyser, &model, options);
        model.SetWorker(&worker);

        // Streamed: rows reach the model from the worker while it parses.
        const auto start = Clock::now();
        if (worker.StartRecord() != CCaptureWorker::StartResult::Started) {
            state.SkipWithError("the capture did not start");
            return;
        }
        PumpUntil([&] { return model.rowCount() > 0; });
        const double firstRows = MsSince(start);
        PaintScreen(model, 0);
        const double firstScreen = MsSince(start);
        PumpUntil([&] { return worker.IsIdle() && worker.DataAvailable() && model.rowCount() == model.RowCount(); });
        const double allRows = MsSince(start);
        const int rows = model.rowCount();

        auto t = Clock::now();
        PaintScreen(model, rows - kScreenRows);
        const double scrollEnd = MsSince(t);

        const uint32_t target = uint32_t(std::min<size_t>(31000000, records - 1000));
        t = Clock::now();
        const int found = model.List().GoToPacket(target);
        PaintScreen(model, found - kScreenRows / 2);
        const double goTo = MsSince(t);

        // The index alone, without the cells: a record's row, and opening the
        // first row, which moves every row after it.
        t = Clock::now();
        benchmark::DoNotOptimize(model.List().Rows().RowOfRecord(target - 7));
        const double rowOfRecord = MsSince(t);
        t = Clock::now();
        model.ToggleExpand(0);
        const double expandFirst = MsSince(t);
        model.ToggleExpand(0);

        const size_t beforeBytes = model.List().Rows().IndexBytes();
        t = Clock::now();
        model.ExpandAll();
        const double expandAll = MsSince(t);
        t = Clock::now();
        PaintScreen(model, model.rowCount() - kScreenRows);
        const double expandedEnd = MsSince(t);
        const int expandedRows = model.rowCount();
        const size_t expandedBytes = model.List().Rows().IndexBytes();

        state.counters["records"] = double(records);
        state.counters["rows"] = rows;
        state.counters["first_rows_ms"] = firstRows;
        state.counters["first_screen_ms"] = firstScreen;
        state.counters["all_rows_ms"] = allRows;
        state.counters["scroll_to_end_ms"] = scrollEnd;
        state.counters["go_to_record_ms"] = goTo;
        state.counters["row_of_record_ms"] = rowOfRecord;
        state.counters["expand_first_row_ms"] = expandFirst;
        state.counters["expand_all_ms"] = expandAll;
        state.counters["expanded_rows"] = expandedRows;
        state.counters["expanded_end_ms"] = expandedEnd;
        state.counters["bytes_per_row"] = double(beforeBytes) / std::max(rows, 1);
        state.counters["expanded_bytes_per_row"] = double(expandedBytes) / std::max(expandedRows, 1);
        std::printf("%zu records: %d rows; first rows %.1f ms (screen %.1f ms), all rows %.0f ms; "
                    "scroll to end %.3f ms; go to record %u (row %d) %.3f ms (its row alone %.3f ms); "
                    "expand the first row %.3f ms; expand all %.0f ms -> %d rows, "
                    "its last screen %.3f ms; model %.2f bytes/row, %.2f expanded\n",
                    records, rows, firstRows, firstScreen, allRows, scrollEnd, target, found, goTo, rowOfRecord, expandFirst, expandAll,
                    expandedRows, expandedEnd, double(beforeBytes) / std::max(rows, 1),
                    double(expandedBytes) / std::max(expandedRows, 1));
        worker.Shutdown();
        model.SetWorker(nullptr);
    }
}

}  // namespace

BENCHMARK(BM_ListAtScale)->Arg(1 << 20)->Arg(4 << 20)->Arg(32 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // The row icons are pixmaps: a GUI application, with no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
