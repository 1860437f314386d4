// The packet list at scale: a capture streamed through the capture worker
// into the list model, then what a user does with it: scroll to the end, go to
// a record near the end, expand everything. Each step is timed on its own, as
// is the screenful of rows a view then asks for, at several capture lengths so
// that growth with the length shows; the model's bytes per row are printed.
// The same through the list's widget on an offscreen screen: a push of rows,
// an expand, a collapse, a letter and End, each with its paint, and the
// widget's own bytes per row.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "BenchWorker.h"
#include "CCaptureWorker.h"
#include "CPacketListModel.h"
#include "CUsbListCtrl.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SyntheticCapture.h"
#include "WidgetBenchMain.h"

using namespace orvane;
using namespace orvane::app;

namespace {

using bench::MsSince;
using bench::PumpUntil;

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

void BM_ListAtScale(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource source(bench::SyntheticCapture::Build(records));
    // Finished and uploaded: the worker parses at once.
    bench::StaticAnalyser analyser(&source, StatusOnline | StatusOnline2 | StatusComplete);
    for (auto _ : state) {
        bench::ListedDocument listed(&analyser);
        CPacketListModel& model = listed.model;
        CCaptureWorker& worker = listed.worker;

        // Streamed: rows reach the model from the worker while it parses.
        const auto start = bench::Clock::now();
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

        auto t = bench::Clock::now();
        PaintScreen(model, rows - kScreenRows);
        const double scrollEnd = MsSince(t);

        const uint32_t target = uint32_t(std::min<size_t>(31000000, records - 1000));
        t = bench::Clock::now();
        const int found = model.List().GoToPacket(target);
        PaintScreen(model, found - kScreenRows / 2);
        const double goTo = MsSince(t);

        // The index alone, without the cells: a record's row, and opening the
        // first row, which moves every row after it.
        t = bench::Clock::now();
        benchmark::DoNotOptimize(model.List().Rows().RowOfRecord(target - 7));
        const double rowOfRecord = MsSince(t);
        t = bench::Clock::now();
        model.ToggleExpand(0);
        const double expandFirst = MsSince(t);
        model.ToggleExpand(0);

        const size_t beforeBytes = model.List().Rows().IndexBytes();
        t = bench::Clock::now();
        model.ExpandAll();
        const double expandAll = MsSince(t);
        t = bench::Clock::now();
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
    }
}

// Resident bytes of the process.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

void BM_ListViewAtScale(benchmark::State& state) {
    const size_t records = size_t(state.range(0));
    emu::CaptureSource source(bench::SyntheticCapture::Build(records));
    bench::StaticAnalyser analyser(&source, StatusOnline | StatusOnline2 | StatusComplete);
    for (auto _ : state) {
        bench::ListedDocument listed(&analyser);
        CPacketListModel& model = listed.model;
        CCaptureWorker& worker = listed.worker;
        if (worker.StartRecord() != CCaptureWorker::StartResult::Started) {
            state.SkipWithError("the capture did not start");
            return;
        }
        PumpUntil([&] { return worker.IsIdle() && worker.DataAvailable() && model.rowCount() == model.RowCount(); });
        // Expanded, so that the list is long.
        model.ExpandAll();
        const int rows = model.rowCount();

        {
            // The first window's one-off costs (fonts, artwork, backing store) stay out of the count.
            CUsbListCtrl first(&model);
            first.resize(1200, 800);
            first.show();
            QCoreApplication::processEvents();
            first.repaint();
        }
        QCoreApplication::processEvents();
        const double before = ResidentBytes();
        CUsbListCtrl list(&model);
        list.resize(1200, 800);
        list.show();
        QCoreApplication::processEvents();
        list.repaint();
        const double viewBytes = ResidentBytes() - before;

        auto timed = [&](auto step) {
            const auto t = bench::Clock::now();
            step();
            QCoreApplication::processEvents();
            list.repaint();
            return MsSince(t);
        };
        // The worker's push of the rows appended since the last one, from its thread.
        constexpr int kPush = 100;
        model.SetRowCount(rows - kPush);
        QCoreApplication::processEvents();
        list.repaint();
        std::thread([&] { model.SetRowCount(rows); }).join();
        const double push = timed([] {});
        int parent = 0;
        while (parent < rows && !model.index(parent, 0).data(CPacketListModel::HasChildrenRole).toBool()) ++parent;
        model.ToggleExpand(parent);  // the expanded level closes first
        list.SelectRow(parent);
        const double expand = timed([&] { model.ToggleExpand(parent); });
        const double collapse = timed([&] { model.ToggleExpand(parent); });
        list.selectionModel()->clear();
        const double letter = timed([&] {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
            QApplication::sendEvent(&list, &key);
        });
        list.SelectRow(0);
        const double end = timed([&] {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
            QApplication::sendEvent(&list, &key);
        });

        state.counters["records"] = double(records);
        state.counters["rows"] = rows;
        state.counters["push_ms"] = push;
        state.counters["expand_ms"] = expand;
        state.counters["collapse_ms"] = collapse;
        state.counters["letter_ms"] = letter;
        state.counters["end_ms"] = end;
        state.counters["view_bytes_per_row"] = viewBytes / std::max(rows, 1);
        std::printf("%zu records, %d rows on the list widget: push of %d rows %.3f ms, expand %.3f ms, "
                    "collapse %.3f ms, letter %.3f ms, End %.3f ms; the widget %.2f bytes/row\n",
                    records, rows, kPush, push, expand, collapse, letter, end, viewBytes / std::max(rows, 1));
    }
}

}  // namespace

BENCHMARK(BM_ListAtScale)->Arg(1 << 20)->Arg(4 << 20)->Arg(32 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListViewAtScale)->Arg(1 << 20)->Arg(4 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return orvane::bench::RunWidgetBenchmarks(argc, argv); }
