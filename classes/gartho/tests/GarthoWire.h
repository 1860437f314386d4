// Command and status wrappers as a host and a device send them, for the
// mass-storage tests.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane::gartho::testing {

inline void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A 31-byte command block wrapper around `block` (padded to 16 bytes).
inline std::vector<uint8_t> Cbw(std::vector<uint8_t> block, uint32_t length, bool in, uint32_t tag = 1)
{
    std::vector<uint8_t> cbw;
    Put32(cbw, 0x43425355);
    Put32(cbw, tag);
    Put32(cbw, length);
    cbw.push_back(in ? 0x80 : 0x00);
    cbw.push_back(0);
    cbw.push_back(uint8_t(block.size()));
    block.resize(16, 0);
    cbw.insert(cbw.end(), block.begin(), block.end());
    return cbw;
}

inline std::vector<uint8_t> Csw(uint32_t tag = 1, uint8_t status = 0, uint32_t residue = 0)
{
    std::vector<uint8_t> csw;
    Put32(csw, 0x53425355);
    Put32(csw, tag);
    Put32(csw, residue);
    csw.push_back(status);
    return csw;
}

inline std::vector<uint8_t> Read10(uint32_t lba, uint16_t blocks)
{
    return {0x28, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba), 0,
            uint8_t(blocks >> 8), uint8_t(blocks), 0};
}
inline std::vector<uint8_t> Write10(uint32_t lba, uint16_t blocks)
{
    std::vector<uint8_t> block = Read10(lba, blocks);
    block[0] = 0x2A;
    return block;
}

}  // namespace orvane::gartho::testing
