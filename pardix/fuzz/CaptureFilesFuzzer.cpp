// A ".ph" file of arbitrary bytes: the walk for the packets whose payload the
// capture holds reads it from its end back in chunks, part of it at hand
// already, on one thread or several; it must agree with the walk over the same
// records in memory, read as far back as it walked and no further than its
// threads can run ahead, hand each chunk read on once (its records then
// changed, as the loader settles them, without changing the walk), and after
// the lost ones are marked find none again.
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
    std::vector<PacketRecord> file(count), records(count);
    if (count) std::memcpy(file.data(), data, size_t(count) * sizeof(PacketRecord));
    const uint32_t atHand = count ? split % (count + 1) : 0;
    std::copy(file.begin(), file.begin() + atHand, records.begin());
    const bool shrank = (chunk & 0x80) != 0;  // the file ends early
    const unsigned threads = 1u + ((chunk >> 3) & 3);
    const uint32_t step = 1u + (chunk & 7);
    std::mutex mutex;
    uint32_t reads = 0;
    auto read = [&](uint32_t first, uint32_t n) -> uint32_t {
        if (first < atHand || first + n > count || n == 0 || n > step) std::abort();
        {
            std::lock_guard guard(mutex);
            ++reads;
        }
        const uint32_t got = shrank && first + n == count ? n / 2 : n;
        std::copy(file.begin() + first, file.begin() + first + got, records.begin() + first);
        return got;
    };
    std::vector<uint8_t> handed(count, 0);
    auto walked = [&](uint32_t first, uint32_t n) {
        for (uint32_t i = first; i < first + n; ++i) ++handed[i];
        MarkPayloadLost(records.data() + first, n);
    };
    uint32_t readFrom = 0;
    const uint32_t lost = WalkBackReading(records.data(), count, atHand, step, read, &readFrom, threads, walked);
    const uint32_t expected = RecordsBeforeHeldPayload(file.data(), count, UINT64_MAX);
    if (shrank && count > atHand) {
        if (lost != 0 || readFrom != count) std::abort();
        return 0;
    }
    // Read as far back as the walk went (the chunk that holds its end), and
    // at most a chunk a thread beyond.
    if (lost != expected || readFrom > count || (readFrom < count && lost > atHand && lost - 1 < readFrom)) std::abort();
    const uint32_t needed = lost > atHand ? (count - (lost - 1) + step - 1) / step : (count - atHand + step - 1) / step;
    if (reads > needed + threads - 1 || (threads == 1 && reads != needed)) std::abort();
    std::vector<PacketRecord> settled = file;
    for (uint32_t i = 0; i < count; ++i) {
        if (handed[i] != (i >= std::max(readFrom, atHand) ? 1 : 0)) std::abort();
        if (handed[i]) MarkPayloadLost(settled.data() + i, 1);
    }
    for (uint32_t i = std::max(readFrom, atHand); i < count; ++i)
        if (std::memcmp(&records[i], &settled[i], sizeof(PacketRecord)) != 0) std::abort();
    MarkPayloadLost(file.data(), expected);
    if (RecordsBeforeHeldPayload(file.data(), count, UINT64_MAX) != 0) std::abort();
    return 0;
}
