// USB CRC5 and CRC16 (USB 2.0 section 8.3.5). Fields are fed least significant
// bit first, as they travel on the wire; a returned CRC5 is in the bit order of
// its token field (bit 0 is sent first), a CRC16 is sent low byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvane::emu {

class Crc {
public:
    // Shift registers without the final inversion, for residual checks.
    static uint8_t Crc5Register(uint32_t bits, int count, uint8_t reg = 0x1F);
    static uint16_t Crc16Register(std::span<const uint8_t> bytes, uint16_t reg = 0xFFFF);

    static uint8_t Crc5(uint32_t bits, int count);
    static uint16_t Crc16(std::span<const uint8_t> bytes);

    static uint8_t Token(uint8_t address, uint8_t endpoint);
    static uint8_t Sof(uint16_t frame);
    static uint8_t Split(uint8_t hubAddress, bool complete, uint8_t port, bool s, bool e, uint8_t et);

    // Registers left after a good packet went through, CRC included.
    static constexpr uint8_t kCrc5Residual = 0x06;     // 01100b read x^4 first
    static constexpr uint16_t kCrc16Residual = 0xB001;  // 0x800D read x^15 first
};

}  // namespace orvane::emu
