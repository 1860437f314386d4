// Class decoding of a mixed capture through the four plug-ins in "classes"
// beside this program: a disk, a mouse, a speaker and a camera, one session
// after the other on one bus, parsed once and decoded again each iteration;
// prints records per second of the decoding and how many class-level rows
// each plug-in made. And a new HID device at one address each enumeration,
// each reading its report descriptor: the decoders the decoding holds at its
// end, and what describing every row costs a row; again with a mouse in a
// reset loop between the new devices and some reads not captured.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>
#include <string>

#include "BenchDecode.h"
#include "BusTrafficBuilder.h"
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

// `devices` boot mice at address 6, each another product, each enumerated,
// reading its report descriptor and sending one report; every packet's bytes
// after the one before, as the analyser writes them. With `mouseBetween`,
// every other turn is one mouse in a reset loop, every turn sends four
// reports, and every fourth turn's report-descriptor read was not captured:
// such a turn takes its device's read from another turn, which a new
// product never has.
emu::BusCapture NewHidDevices(int devices, bool mouseBetween = false)
{
    using S = emu::SessionBuilder;
    using Bytes = emu::BusTrafficBuilder::Bytes;
    const Bytes report = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
                          0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
                          0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
                          0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
    const Bytes config = {9, 2, 34, 0, 1, 1, 0, 0xA0, 50, 9, 4, 0, 0, 1, 3, 1, 2, 0,
                          9, 0x21, 0x11, 0x01, 0, 1, 0x22, uint8_t(report.size()), 0, 7, 5, 0x81, 3, 4, 0, 10};
    emu::BusTrafficBuilder b(SpeedFull);
    for (int i = 0; i < devices; ++i) {
        const auto product = uint16_t(mouseBetween && i % 2 ? 0x7FFF : 0x8000 + i);
        const Bytes device = {18, 1, 0x00, 0x02, 0, 0, 0, 8, 0x34, 0x12, uint8_t(product), uint8_t(product >> 8),
                              0x00, 0x01, 0, 0, 0, 1};
        b.ControlTransfer(0, S::SetupPacket(0x80, 6, 0x100, 0, 8), Bytes(device.begin(), device.begin() + 8));
        b.ControlTransfer(0, S::SetupPacket(0x00, 5, 6, 0, 0), {});
        b.ControlTransfer(6, S::SetupPacket(0x80, 6, 0x100, 0, 18), device, {.maxPacket = 8});
        b.ControlTransfer(6, S::SetupPacket(0x80, 6, 0x200, 0, uint16_t(config.size())), config, {.maxPacket = 8});
        b.ControlTransfer(6, S::SetupPacket(0x00, 9, 1, 0, 0), {});
        b.ControlTransfer(6, S::SetupPacket(0x21, 0x0A, 0, 0, 0), {});  // SET_IDLE
        if (!mouseBetween || i % 4 != 0)
            b.ControlTransfer(6, S::SetupPacket(0x81, 6, 0x2200, 0, uint16_t(report.size())), report,
                              {.maxPacket = 8});
        b.InNak(6, 1, 3);
        for (int k = 0, reports = mouseBetween ? 4 : 1; k < reports; ++k)
            b.In(6, 1, PidData0, {uint8_t(1 + k), uint8_t(i), uint8_t(i >> 8)});
    }
    return b.Take();
}

enum class Order { InOrder, Random };

// Every row summarized and described, its data and lost answer read, as a
// find over the list or an export of details would: the turns handed back
// get decoders made to describe them. Answers the CPU seconds; counts the
// report fields and hashes every answer (alike across versions when the
// descriptions are).
double DescribeEveryRow(CDecoderManager& manager, const UsbItemList& rows, Order order, size_t& reportFields,
                        uint64_t& hash)
{
    std::vector<uint32_t> at(rows.size());
    for (uint32_t k = 0; k < at.size(); ++k) at[k] = k;
    if (order == Order::Random) std::shuffle(at.begin(), at.end(), std::mt19937(7));
    reportFields = 0;
    hash = 14695981039346656037ull;
    const auto mix = [&](const void* bytes, size_t n) {
        for (size_t k = 0; k < n; ++k) hash = (hash ^ static_cast<const uint8_t*>(bytes)[k]) * 1099511628211ull;
    };
    const double t0 = bench::ThreadSeconds();
    for (uint32_t k : at) {
        UsbItem* item = rows[k];
        ItemSummary row;
        std::string xml;
        uint8_t data[64];
        manager.Summarize(item, &row);
        manager.GetDetail(item, xml);
        const int32_t size = manager.GetData(item, data, sizeof data);
        const int32_t lost = manager.OnNotify(NotifyPayloadLost, item, 0);
        mix(row.name.data(), row.name.size());
        mix(xml.data(), xml.size());
        mix(&size, sizeof size);
        if (size > 0) mix(data, std::min<size_t>(size_t(size), sizeof data));
        mix(&lost, sizeof lost);
        if (item->type == 267)
            for (size_t f = xml.find("<item "); f != std::string::npos; f = xml.find("<item ", f + 1))
                ++reportFields;
    }
    return bench::ThreadSeconds() - t0;
}

void DescribeNewHidDevices(benchmark::State& state, bool mouseBetween, Order order)
{
    const auto devices = int(state.range(0));
    emu::CaptureSource source(NewHidDevices(devices, mouseBetween));
    CDecodeFactory factory;
    if (factory.Find(3, 1, 2) < 0) {
        state.SkipWithError("no HID plug-in in classes/");
        return;
    }
    CUsbParser parser;
    parser.SetDataSource(&source);
    TreeSink transactions;
    parser.Parse(&transactions.sink);
    std::string tree;
    parser.GetDeviceTree(tree);
    double decodeSeconds = 1e9, rowSeconds = 1e9;
    size_t held = 0, heldDescribing = 0, rows = 0, reportFields = 0;
    uint64_t hash = 0;
    for (auto _ : state) {
        CDecoderManager manager(&factory);
        manager.LoadDeviceTree(tree);
        manager.SetHost(&parser);
        manager.SetRoot(&transactions.root);
        TreeSink transfers;
        const double t0 = bench::ThreadSeconds();
        manager.DecodeAll(&transfers.sink);
        decodeSeconds = std::min(decodeSeconds, bench::ThreadSeconds() - t0);
        held = manager.DecoderCount();
        rows = transfers.root.children.size();
        const double described = DescribeEveryRow(manager, transfers.root.children, order, reportFields, hash);
        heldDescribing = manager.DecoderCount();
        rowSeconds = std::min(rowSeconds, described / double(rows));
        state.SetIterationTime(described);
        FreeTransferLevel(&transfers.root);
        manager.ReleaseDecoders();
    }
    FreeChildren(&transactions.root);
    state.counters["devices"] = devices;
    state.counters["records"] = double(source.GetCount());
    state.counters["decode_s"] = decodeSeconds;
    state.counters["decoders_held"] = double(held);
    state.counters["decoders_held_described"] = double(heldDescribing);
    state.counters["rows"] = double(rows);
    state.counters["describe_us_per_row"] = 1e6 * rowSeconds;
    state.counters["report_fields"] = double(reportFields);
    if (mouseBetween)
        std::printf("%d turns at one address, a new HID device and a mouse in turn, every fourth turn's report "
                    "descriptor read not captured: %.0f records decoded in %.3f s, %zu decoders held after the "
                    "decoding; every one of %zu rows described %s at %.2f us a row (%zu report fields, answers "
                    "%016llx), %zu decoders held after\n",
                    devices, double(source.GetCount()), decodeSeconds, held, rows,
                    order == Order::Random ? "in random order" : "in order", 1e6 * rowSeconds, reportFields,
                    static_cast<unsigned long long>(hash), heldDescribing);
    else
        std::printf("%d new HID devices at one address, each reading its report descriptor: %.0f records decoded "
                    "in %.3f s, %zu decoders held after the decoding; every one of %zu rows described at %.2f us "
                    "a row (%zu report fields), %zu decoders held after\n",
                    devices, double(source.GetCount()), decodeSeconds, held, rows, 1e6 * rowSeconds, reportFields,
                    heldDescribing);
}

void BM_DescribeNewHidDevices(benchmark::State& state) { DescribeNewHidDevices(state, false, Order::InOrder); }
void BM_DescribeNewHidDevicesAndAMouseUnread(benchmark::State& state)
{
    DescribeNewHidDevices(state, true, Order(state.range(1)));
}

}  // namespace

BENCHMARK(BM_DescribeNewHidDevices)->Arg(1000)->Arg(8000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
// The cost a row at 16,000 turns should stay within twice that at 1,000.
BENCHMARK(BM_DescribeNewHidDevicesAndAMouseUnread)
    ->Args({1000, int(Order::InOrder)})
    ->Args({16000, int(Order::InOrder)})
    ->Args({8000, int(Order::Random)})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClassDecodeMix)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
