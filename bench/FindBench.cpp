// Find next over a 32 M-record capture, from the first row to the one
// transaction near the end that the condition names: by address alone, and by
// payload bytes, which reads every IN and OUT transaction's data on the way.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "CPacketListFind.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SyntheticCapture.h"

using namespace orvane;
using namespace orvane::app;

namespace {

constexpr size_t kRecords = 32u << 20;
constexpr uint8_t kTargetAddress = 9;
const std::vector<uint8_t> kPattern = {0xDE, 0xAD, 0xBE, 0xEF};

// The synthetic capture with one IN transaction near the end moved to
// address 9 and given a payload of its own that holds the pattern.
emu::BusCapture MarkedCapture(size_t records, uint32_t* target) {
    emu::BusCapture capture = bench::SyntheticCapture::Build(records);
    for (size_t i = records - 5000; i + 2 < records; ++i) {
        PacketRecord& token = capture.records[i];
        PacketRecord& data = capture.records[i + 1];
        if (token.PidNibble() != PidIn || !data.IsData() || data.PayloadLength() < 256) continue;
        token.SetLow16(uint16_t(kTargetAddress | (token.Length() & 0xFF80)));
        const uint32_t offset = uint32_t(capture.payload.size());
        capture.payload.resize(capture.payload.size() + data.PayloadLength() + 2, 0);
        std::copy(kPattern.begin(), kPattern.end(), capture.payload.begin() + offset + 100);
        data.SetPayloadOffset(offset);
        *target = uint32_t(i);
        break;
    }
    return capture;
}

struct ParsedCapture {
    uint32_t target = 0;
    emu::CaptureSource source;
    CUsbParser parser;
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    CPacketList list;

    explicit ParsedCapture(size_t records) : source(MarkedCapture(records, &target)) {
        parser.SetDataSource(&source);
        AppendingSink sink{root};
        parser.Parse(&sink);
        list.SetRoot(&root);
        list.SetDecoder(&parser);
        list.SetDataSource(&source);
        list.Rows().RebuildRows();
    }
    ~ParsedCapture() { FreeChildren(&root); }
};

ParsedCapture& Capture() {
    static ParsedCapture* capture = new ParsedCapture(kRecords);
    return *capture;
}

void BM_FindNextToTheEnd(benchmark::State& state) {
    ParsedCapture& c = Capture();
    CPacketListFind find(c.list);
    if (state.range(0) == 0) find.Condition().address = kTargetAddress;
    else find.Condition().data = kPattern;
    size_t blocks = 0;
    for (auto _ : state) {
        CPacketListFind::Hit hit;
        const auto outcome = find.FindItem(0, true, hit, [&](size_t done, size_t) {
            blocks = done;
            return true;
        });
        if (outcome != CPacketListFind::Outcome::Found || hit.item->firstRecord != c.target) {
            state.SkipWithError("the marked transaction was not found");
            return;
        }
        benchmark::DoNotOptimize(hit.offset);
    }
    state.SetLabel(state.range(0) == 0 ? "by address" : "by payload bytes");
    state.counters["records"] = double(c.source.GetCount());
    state.counters["rows"] = double(c.list.Rows().RowCount());
    state.counters["blocks_walked"] = double(blocks);
}

}  // namespace

BENCHMARK(BM_FindNextToTheEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
