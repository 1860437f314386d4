// The packet-type chart's picture of a visible time range: runs of packets,
// each either one block in the mean colour of its packets or, when its first
// packet is wider than 4 pixels, that packet's cells.
#pragma once

#include <cstdint>
#include <vector>

#include "CaptureArrays.h"
#include "ChartColour.h"

namespace orvane::velmora {

struct PacketRun {
    int64_t x0 = 0;       // band x of the column its packets start in
    int64_t x1 = 0;       // band x of the latest end among the merged packets
    int64_t first = 0;    // record index of the first packet
    int64_t packets = 0;  // records merged into the run
    Rgb colour;           // the mean colour of the merged packets
    bool Detailed() const { return x1 - x0 > kDetailWidth; }

    static constexpr int64_t kDetailWidth = 4;
};

// The runs between the times a and b over a band `width` pixels wide. Packets
// that end within the start column of a run's first packet join it; the
// others starting in that column (in a capture in time order, just the one
// packet running on past it) make one more run, as wide as the latest of them
// reaches. A first packet itself running on past its column takes them all.
// So there are at most two runs a column and the cost follows the width, not
// the record count, also when records overlap or their times run back.
std::vector<PacketRun> BuildPacketRuns(const CaptureArrays& arrays, double a, double b, int32_t width);

// The mean of counted colours channel by channel, each truncated.
Rgb MeanColour(const PidCounts& counts);

}  // namespace orvane::velmora
