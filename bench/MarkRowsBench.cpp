// The packet list asks which mark lies on each row it paints. With many marks
// (find can place one on every hit) that answer comes from a row map built
// once after the rows or the marks change; this times the rebuild with a
// screenful of rows, and the screenful alone, over a million transactions.
// Marks can also sit inside one closed SOF group of an idle high-speed bus,
// hundreds of thousands of SOFs long: this times the rebuild with the group
// among a thousand transactions.
// Next mark from the last row walks past marks no row shows (past the end of
// a damaged capture): this times the walk over all of them.
#include <benchmark/benchmark.h>

#include <memory>

#include "CBookmarkMgr.h"
#include "CPacketList.h"
#include "CPacketListCommands.h"
#include "ItemTree.h"

using namespace orvane;

namespace {

constexpr uint32_t kTransactions = 1'000'000;
constexpr int kScreenRows = 50;

struct MarkedList {
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    app::CBookmarkMgr marks;
    app::CPacketList list;

    explicit MarkedList(int count) {
        list.SetRoot(&root);
        list.SetBookmarks(&marks);
        for (uint32_t i = 0; i < kTransactions; ++i) {
            auto* t = new UsbItem(ItemInTransaction, i * 3);
            for (uint32_t p = 0; p < 3; ++p) t->Append(new UsbItem(uint16_t(p == 0 ? 9 : p == 1 ? 3 : 2), i * 3 + p));
            list.Rows().AppendItem(t);
        }
        list.Rows().RebuildRows();
        const uint32_t step = count ? kTransactions * 3 / uint32_t(count) : 0;
        for (int m = 0; m < count; ++m) marks.Add({int32_t(uint32_t(m) * step + 1), "", ""});
    }
    ~MarkedList() { FreeChildren(&root); }
};

// A thousand transactions, then one closed group of `sofs` SOFs holding the
// marks, then a thousand more.
struct MarkedGroup {
    static constexpr uint32_t kAround = 1000;
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    app::CBookmarkMgr marks;
    app::CPacketList list;

    MarkedGroup(uint32_t sofs, int count) {
        list.SetRoot(&root);
        list.SetBookmarks(&marks);
        uint32_t record = 0;
        auto transaction = [&] {
            auto* t = new UsbItem(ItemInTransaction, record);
            for (uint32_t p = 0; p < 3; ++p) t->Append(new UsbItem(uint16_t(p == 0 ? 9 : p == 1 ? 3 : 2), record++));
            list.Rows().AppendItem(t);
        };
        for (uint32_t i = 0; i < kAround / 2; ++i) transaction();
        const uint32_t groupFirst = record;
        auto* group = new UsbItem(ItemSofGroup, record);
        group->children.reserve(sofs);
        for (uint32_t i = 0; i < sofs; ++i) group->Append(new UsbItem(5, record++));
        list.Rows().AppendItem(group);
        for (uint32_t i = 0; i < kAround / 2; ++i) transaction();
        list.Rows().RebuildRows();
        const uint32_t step = sofs / uint32_t(count);
        for (int m = 0; m < count; ++m) marks.Add({int32_t(groupFirst + uint32_t(m) * step + 1), "", ""});
    }
    ~MarkedGroup() { FreeChildren(&root); }
};

int PaintScreen(app::CPacketList& list, int first) {
    int found = 0;
    for (int row = first; row < first + kScreenRows; ++row) found += list.MarkAtRow(row) >= 0;
    return found;
}

void BM_MarkRowsAfterAChange(benchmark::State& state) {
    MarkedList fixture(int(state.range(0)));
    int first = 0;
    for (auto _ : state) {
        fixture.list.InvalidateMarkRows();
        benchmark::DoNotOptimize(PaintScreen(fixture.list, first));
        first = (first + 7919 * kScreenRows) % int(kTransactions - kScreenRows);
    }
    state.counters["marks"] = double(state.range(0));
}

void BM_MarkRowsScreenful(benchmark::State& state) {
    MarkedList fixture(int(state.range(0)));
    int first = 0;
    PaintScreen(fixture.list, first);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PaintScreen(fixture.list, first));
        first = (first + 7919 * kScreenRows) % int(kTransactions - kScreenRows);
    }
    state.counters["marks"] = double(state.range(0));
}

void BM_MarkRowsInAClosedSofGroup(benchmark::State& state) {
    MarkedGroup fixture(uint32_t(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        fixture.list.InvalidateMarkRows();
        benchmark::DoNotOptimize(PaintScreen(fixture.list, int(MarkedGroup::kAround / 2) - kScreenRows / 2));
    }
    state.counters["sofs"] = double(state.range(0));
    state.counters["marks"] = double(state.range(1));
}

void BM_NextMarkPastUnshownMarks(benchmark::State& state) {
    MarkedList fixture(0);
    const int count = int(state.range(0));
    for (int m = 0; m < count; ++m) fixture.marks.Add({int32_t(kTransactions * 3 + uint32_t(m)), "", ""});
    app::CPacketListCommands commands(fixture.list);
    for (auto _ : state) benchmark::DoNotOptimize(commands.NextMarkRow(int(kTransactions) - 2));
    state.counters["marks"] = double(count);
}

}  // namespace

BENCHMARK(BM_MarkRowsAfterAChange)->Arg(0)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkRowsScreenful)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MarkRowsInAClosedSofGroup)
    ->Args({100000, 1000})
    ->Args({100000, 10000})
    ->Args({1000000, 10000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NextMarkPastUnshownMarks)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
