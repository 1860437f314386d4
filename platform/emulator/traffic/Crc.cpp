#include "Crc.h"

namespace orvane::emu {

// Reflected forms of x^5+x^2+1 and x^16+x^15+x^2+1: the first bit sent is bit 0.
uint8_t Crc::Crc5Register(uint32_t bits, int count, uint8_t reg) {
    for (int i = 0; i < count; ++i) {
        bool feedback = ((bits >> i) ^ reg) & 1;
        reg = uint8_t(reg >> 1);
        if (feedback) reg ^= 0x14;
    }
    return reg & 0x1F;
}

uint16_t Crc::Crc16Register(std::span<const uint8_t> bytes, uint16_t reg) {
    for (uint8_t byte : bytes) {
        for (int i = 0; i < 8; ++i) {
            bool feedback = ((byte >> i) ^ reg) & 1;
            reg = uint16_t(reg >> 1);
            if (feedback) reg ^= 0xA001;
        }
    }
    return reg;
}

uint8_t Crc::Crc5(uint32_t bits, int count) { return Crc5Register(bits, count) ^ 0x1F; }

uint16_t Crc::Crc16(std::span<const uint8_t> bytes) { return Crc16Register(bytes) ^ 0xFFFF; }

uint8_t Crc::Token(uint8_t address, uint8_t endpoint) {
    return Crc5(uint32_t(address & 0x7F) | uint32_t(endpoint & 0xF) << 7, 11);
}

uint8_t Crc::Sof(uint16_t frame) { return Crc5(frame & 0x7FF, 11); }

// The split body in wire order: hub address, SC, port, S, E, ET (19 bits).
uint8_t Crc::Split(uint8_t hubAddress, bool complete, uint8_t port, bool s, bool e, uint8_t et) {
    uint32_t body = uint32_t(hubAddress & 0x7F) | uint32_t(complete) << 7 | uint32_t(port & 0x7F) << 8 |
                    uint32_t(s) << 15 | uint32_t(e) << 16 | uint32_t(et & 3) << 17;
    return Crc5(body, 19);
}

}  // namespace orvane::emu
