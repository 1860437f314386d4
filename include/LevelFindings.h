// What the class decoders of one interface at an address found in the whole
// transfer level beside their rows. The decoder manager keeps it for every
// decoder it makes for them until the level goes (a decoding starts with new
// ones): one is made for each turn the decoding handed back, and again
// whenever the bound on such decoders let it go, and none walks the level
// again for what an earlier one found.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace orvane {

struct LevelFindings {
    // Decoders describe rows on more than one thread.
    std::mutex lock;
    // By what was looked for (a key of the decoder's own), then by the device
    // (TurnRecords::device) that sent them: the positions of the rows found
    // in the level, in order.
    std::map<uint64_t, std::map<uint32_t, std::vector<uint32_t>>> found;
};

}  // namespace orvane
