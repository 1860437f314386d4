// Class decoding of a mixed capture through the four plug-ins in "classes"
// beside this program: a disk, a mouse, a speaker and a camera, one session
// after the other on one bus, parsed once and decoded again each iteration;
// prints records per second of the decoding and how many class-level rows
// each plug-in made.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "BenchDecode.h"
#include "CDecodeFactory.h"
#include "CDecoderManager.h"
#include "CUsbParser.h"
#include "CaptureSource.h"
#include "ItemTree.h"
#include "SessionBuilder.h"

using namespace orvane;
using bench::DecodeTransferLevel;
using bench::TreeSink;

namespace {

struct Device {
    emu::SessionBuilder::Kind kind;
    uint8_t address;
    int operations;
};

// Each device's session, attach and enumeration included, after the one
// before it on the same bus, 10 ms apart.
emu::BusCapture MixedCapture()
{
    const Device devices[] = {
        {emu::SessionBuilder::Kind::Disk, 5, 12000},
        {emu::SessionBuilder::Kind::Mouse, 6, 40000},
        {emu::SessionBuilder::Kind::Audio, 7, 120000},
        {emu::SessionBuilder::Kind::Camera, 8, 200},
    };
    emu::BusCapture mix;
    uint64_t start = 0;
    for (const Device& d : devices) {
        emu::SessionBuilder::Options options;
        options.kind = d.kind;
        options.speed = d.kind == emu::SessionBuilder::Kind::Mouse ? SpeedFull : SpeedHigh;
        options.address = d.address;
        options.operations = d.operations;
        options.damageRate = 0.005;
        emu::BusCapture part = emu::SessionBuilder(options).Build();
        const auto payloadBase = uint32_t(mix.payload.size());
        for (PacketRecord r : part.records) {
            r.SetTimestamp(r.Timestamp() + start);
            if (r.IsData()) r.SetPayloadOffset(r.PayloadOffset() + payloadBase);
            mix.records.push_back(r);
        }
        mix.payload.insert(mix.payload.end(), part.payload.begin(), part.payload.end());
        start = mix.records.back().Timestamp() + 600000;
    }
    return mix;
}

void BM_ClassDecodeMix(benchmark::State& state)
{
    static emu::CaptureSource source(MixedCapture());
    CUsbParser parser;
    parser.SetDataSource(&source);
    TreeSink transactions;
    parser.Parse(&transactions.sink);

    CDecodeFactory factory;
    // Rows above a control transfer by device address, so by the plug-in that made them.
    size_t rows[4] = {};
    double seconds = 1e9;
    for (auto _ : state) {
        const double t = DecodeTransferLevel(parser, transactions.root, &factory, [&](const UsbItem& transfers) {
            std::fill(std::begin(rows), std::end(rows), 0);
            for (const UsbItem* item : transfers.children)
                if (item->type > ItemControlTransfer && item->address >= 5 && item->address <= 8)
                    ++rows[item->address - 5];
        });
        // The least of the runs: the others were disturbed by something else.
        seconds = std::min(seconds, t);
        state.SetIterationTime(t);
    }
    FreeChildren(&transactions.root);
    if (factory.Find(8, 6, 0x50) < 0 || factory.Find(3, 0, 0) < 0 || factory.Find(1, 1, 0) < 0 ||
        factory.Find(6, 1, 1) < 0)
        state.SkipWithError("a class plug-in is missing from classes/");
    const double records = double(source.GetCount());
    state.counters["records"] = records;
    state.counters["decode_s"] = seconds;
    state.counters["class_decode_records_per_s"] = records / seconds;
    state.counters["scsi_commands"] = double(rows[0]);
    state.counters["hid_rows"] = double(rows[1]);
    state.counters["audio_requests"] = double(rows[2]);
    state.counters["ptp_rows"] = double(rows[3]);
}

}  // namespace

BENCHMARK(BM_ClassDecodeMix)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
