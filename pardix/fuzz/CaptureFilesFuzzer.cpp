// A ".ph" file of arbitrary bytes: the walk for the packets whose payload the
// capture holds reads it from the file's end back in chunks, part of it
// already loaded; it must agree with the walk over the same records in
// memory, and after the lost ones are marked, find none before them again.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CaptureFiles.h"
#include "RegularFile.h"

using namespace orvane;
using namespace orvane::pardix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t split = data[0];
    ++data;
    --size;
    const uint32_t count = uint32_t(size / sizeof(PacketRecord));
    std::vector<PacketRecord> records(count);
    if (count) std::memcpy(records.data(), data, size_t(count) * sizeof(PacketRecord));
    const int fd = ::memfd_create("ph", 0);
    if (fd < 0) return 0;
    WriteAll(fd, data, size);  // a record cut short at the end is no record
    const uint32_t loaded = count ? split % (count + 1) : 0;
    const uint32_t fromFile = RecordsBeforeHeldPayload(fd, count, records.data(), loaded);
    ::close(fd);
    const uint32_t inMemory = RecordsBeforeHeldPayload(records.data(), count, UINT64_MAX);
    if (fromFile != inMemory || inMemory > count) std::abort();
    MarkPayloadLost(records.data(), inMemory);
    if (RecordsBeforeHeldPayload(records.data(), count, UINT64_MAX) != 0) std::abort();
    return 0;
}
