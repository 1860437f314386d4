// What the data pane and the summary make of captured bytes: arbitrary
// records parsed and counted into the summary's rows, and arbitrary item
// bytes laid out, coloured and copied in every display mode, then searched
// for a pattern typed from the input's tail.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CUsbParser.h"
#include "CaptureSource.h"
#include "FindPattern.h"
#include "HexLayout.h"
#include "ItemTree.h"
#include "SummaryStats.h"

using namespace orvane;

namespace {

constexpr size_t kMaxRecords = 64;

void Summary(const uint8_t* data, size_t size)
{
    emu::BusCapture capture;
    capture.records.resize(std::min(size / 16, kMaxRecords));
    if (!capture.records.empty()) std::memcpy(capture.records.data(), data, capture.records.size() * 16);
    emu::CaptureSource source(std::move(capture));
    CUsbParser parser;
    parser.SetDataSource(&source);
    std::unique_ptr<UsbItem> rootItem_ = std::make_unique<UsbItem>();
    UsbItem& root = *rootItem_;
    AppendingSink sink(root);
    parser.Parse(&sink);
    ombrel::SummaryStats stats;
    stats.Count(&root, &source);
    std::vector<ombrel::SummaryRow> rows = ombrel::FillTree(stats);
    for (const ombrel::SummaryRow& row : rows) (void)row.count.size();
    FreeChildren(&root);
}

void DataPane(const uint8_t* data, size_t size)
{
    if (size < 6) return;
    using namespace nembrin;
    const int32_t groups[] = {1, 2, 4, 8}, widths[] = {4, 8, 16, 32, 13};
    const int32_t group = groups[data[0] & 3], width = widths[data[1] % 5];
    const int64_t a = int64_t(data[2]) * 3 - 40, b = a + data[3];
    const uint8_t radix = data[4] & 3, split = data[5];
    data += 6;
    size -= 6;
    const size_t patternBytes = std::min<size_t>(split % 32, size);
    const uint8_t* bytes = data;
    const size_t length = size - patternBytes;

    std::vector<BitRange> hits = {{a + 3, b + 9}};
    Recency recency;
    recency.Activate(KindHit);
    recency.Activate(HighlightKind(1 << (split % 3)));
    const Highlights lit{{a, b}, {b, b + 70}, &hits};
    for (int32_t area : {AreaChars, AreaBinary, AreaHex}) {
        for (size_t row = 0; row < length; row += size_t(width)) {
            const int64_t count = int64_t(std::min(length - row, size_t(width)));
            (void)RowText(area, bytes + row, count, group);
            (void)RowCells(area, bytes + row, count, group, int64_t(row), lit, recency);
        }
        (void)SelectionText(bytes, length, {a, b}, area, group, width);
        for (int32_t cell = 0; cell < AreaCells(area, width, group) + 2; ++cell)
            (void)ColumnAtCell(area, cell, width, group);
    }
    std::u16string typed;
    for (size_t i = 0; i + 1 < patternBytes; i += 2)
        typed += char16_t(data[length + i] | data[length + i + 1] << 8);
    const Pattern pattern = InterpretPattern(typed, radix);
    (void)FindAll(bytes, 0, length, pattern.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    if (data[0] & 0x80)
        Summary(data + 1, size - 1);
    else
        DataPane(data + 1, size - 1);
    return 0;
}
