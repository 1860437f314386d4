// Circular capture memory of up to 512 MiB, stored as 1 MiB pages that exist
// only once written: unwritten bytes read as zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace orvane::emu {

class SparseMemory {
public:
    static constexpr uint32_t kPageSize = 1u << 20;
    // Largest buffer the analyser has: 512 MiB.
    static constexpr uint32_t kMaxMask = 0x1FFFFFFF;

    // The mask the hardware really applies: the smallest (2^n - 1) covering
    // `mask`, capped at kMaxMask.
    static uint32_t NormaliseMask(uint32_t mask);

    // Byte i goes to (address + i) AND mask.
    void Write(uint32_t address, uint32_t mask, const uint8_t* data, size_t length);
    void Read(uint32_t address, uint32_t mask, uint8_t* out, size_t length) const;
    void Clear();
    size_t PageCount() const { return pages_.size(); }

private:
    std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> pages_;
};

}  // namespace orvane::emu
