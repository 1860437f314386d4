// A ".ph" file of arbitrary bytes: the walk for the packets whose payload the
// capture holds reads it from its end back in chunks, part of it at hand
// already, on one thread or several; it must agree with the walk over the same
// records in memory, read as far back as it walked and no further than its
// threads can run ahead, and after the lost ones are marked find none again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "CaptureFiles.h"

using namespace orvane;
using namespace orvane::pardix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t split = data[0], chunk = data[1];
    data += 2;
    size -= 2;
    const uint32_t count = uint32_t(size / sizeof(PacketRecord));
    std::vector<PacketRecord> file(count);
    if (count) std::memcpy(file.data(), data, size_t(count) * sizeof(PacketRecord));
    const uint32_t atHand = count ? split % (count + 1) : 0;
    // Only the records at hand are in memory; each read hands over a copy of its own.
    std::vector<PacketRecord> records(file.begin(), file.begin() + atHand);
    const bool shrank = (chunk & 0x80) != 0;  // the file ends early
    const unsigned threads = 1u + ((chunk >> 3) & 3);
    const uint32_t step = 1u + (chunk & 7);
    std::mutex mutex;
    uint32_t reads = 0;
    std::vector<std::vector<PacketRecord>> copies;
    auto read = [&](uint32_t first, uint32_t n) -> const PacketRecord* {
        if (first < atHand || first + n > count || n == 0 || n > step) std::abort();
        std::lock_guard guard(mutex);
        ++reads;
        if (shrank && first + n == count) return nullptr;
        copies.emplace_back(file.begin() + first, file.begin() + first + n);
        return copies.back().data();  // stays: the vectors move, not their elements
    };
    bool cut = false;
    const uint32_t lost = WalkBack(records.data(), count, atHand, step, threads, read, &cut);
    const uint32_t expected = RecordsBeforeHeldPayload(file.data(), count, UINT64_MAX);
    if (shrank && count > atHand) {
        if (lost != 0 || !cut) std::abort();
        return 0;
    }
    // Read as far back as the walk went (the chunk that holds its end), and
    // at most a chunk a thread beyond.
    if (lost != expected || cut) std::abort();
    const uint32_t needed = lost > atHand ? (count - (lost - 1) + step - 1) / step : (count - atHand + step - 1) / step;
    if (reads < needed || reads > needed + threads - 1 || (threads == 1 && reads != needed)) std::abort();
    MarkPayloadLost(file.data(), expected);
    if (RecordsBeforeHeldPayload(file.data(), count, UINT64_MAX) != 0) std::abort();
    return 0;
}
