// The packet-length and data-length charts' bars of a visible range: one bar
// per packet wide enough to tell apart, else one per pixel column for the
// packets that end in the column where the first of them starts, as high as
// the largest and in their mean colour; the others starting in that column
// (in a capture in time order, just the one packet running on past it) make
// one more bar, as wide as the latest of them reaches. A first packet itself
// running on past its column takes them all. Block summaries keep the cost to
// at most two bars a column whatever the record count, overlap or order of
// the records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CaptureArrays.h"
#include "ChartColour.h"

namespace orvane::velmora {

struct LengthBar {
    int64_t x0 = 0;
    int64_t x1 = 0;
    int64_t value = 0;       // bytes on the bus, or payload bytes
    Rgb colour;
    bool labelled = false;   // the first packet alone is wider than 4 pixels
    int64_t first = 0;       // the record that starts the bar (its label)
    static constexpr int64_t kLabelWidth = 4;
};

// The packets a paint drew, first to last (empty when last < first).
struct DrawnRange {
    int64_t first = 0;
    int64_t last = -1;
};

// `dataOnly`: the data-length chart, whose bars take data packets only.
std::vector<LengthBar> BuildLengthBars(const CaptureArrays& arrays, bool dataOnly, double t0, double t1,
                                       int32_t width, DrawnRange* drawn);

// The packet-length chart's selection total: the bytes of the drawn packets
// among from..to, as its value bins sum them.
int64_t DrawnBytes(const CaptureArrays& arrays, const DrawnRange& drawn, int64_t from, int64_t to);

// A bar's height in pixels above the plot bottom; 0 draws nothing. The data
// chart keeps an empty data packet 1 pixel high while not scrolled up.
int64_t BarHeight(int64_t heightOfValue, int32_t vPos, bool dataOnly);

// ---- info strip ----
std::string LengthHoverText(bool dataOnly, double t, int64_t index, uint8_t pidByte, int64_t value, double step);
std::string PacketLengthBandText(double t1, double t2, int64_t packets, int64_t bytes, double step);
std::string DataLengthBandText(double t1, double t2, int64_t dataPackets, int64_t payload, double step);
std::string LengthCrossText(double t, double value, double step);

}  // namespace orvane::velmora
