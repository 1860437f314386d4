#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Crc.h"

namespace orvane::emu {
namespace {

uint32_t Reverse(uint32_t v, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
    return r;
}

// The field as stored (bits 11-15 of a token, bit 11 sent first). Published
// tables often print the CRC in the order it is sent, i.e. bit-reversed.
TEST(Crc, TokenVectors) {
    struct Case { uint8_t address, endpoint, field; int printed; };
    const Case cases[] = {
        {0x00, 0x0, 0x02, -1},
        {0x15, 0xE, 0x1D, 0x17},
        {0x3A, 0xA, 0x07, 0x1C},
        {0x09, 0x2, 0x16, -1},  // token bytes 09 B1 on the wire
        {0x0B, 0x0, 0x04, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "addr " << int(c.address) << " ep " << int(c.endpoint));
        EXPECT_EQ(Crc::Token(c.address, c.endpoint), c.field);
        if (c.printed >= 0) { EXPECT_EQ(Reverse(c.field, 5), uint32_t(c.printed)); }
    }
    uint16_t word = uint16_t(0x09 | 0x2 << 7 | Crc::Token(0x09, 0x2) << 11);
    EXPECT_EQ(word & 0xFF, 0x09);
    EXPECT_EQ(word >> 8, 0xB1);
}

TEST(Crc, SofVectors) {
    EXPECT_EQ(Crc::Sof(0x710), 0x05);
    EXPECT_EQ(Reverse(Crc::Sof(0x710), 5), 0x14u);
    EXPECT_EQ(Crc::Sof(0x710 | 0x800), Crc::Sof(0x710));  // only 11 bits count
}

// A receiver running the whole field through the register ends on the
// residual 01100b (x^4 first) for every good token, SOF and split.
TEST(Crc, Crc5ResidualAndSingleBitErrors) {
    EXPECT_EQ(Reverse(Crc::kCrc5Residual, 5), 0b01100u);
    for (uint32_t body = 0; body < 0x800; ++body) {
        uint32_t field = body | uint32_t(Crc::Token(uint8_t(body & 0x7F), uint8_t(body >> 7))) << 11;
        ASSERT_EQ(Crc::Crc5Register(field, 16), Crc::kCrc5Residual) << body;
        ASSERT_EQ(Crc::Sof(uint16_t(body)), Crc::Crc5(body, 11));
        for (int bit = 0; bit < 16; bit += 5)
            ASSERT_NE(Crc::Crc5Register(field ^ (1u << bit), 16), Crc::kCrc5Residual) << body << " bit " << bit;
    }
}

TEST(Crc, SplitCoversNineteenBitsInWireOrder) {
    struct Case { uint8_t hub; bool sc; uint8_t port; bool s, e; uint8_t et; };
    const Case cases[] = {{1, false, 1, false, false, 2}, {0x7F, true, 0x7F, true, true, 3}, {5, true, 3, true, false, 0},
                          {0x42, false, 0x11, false, true, 1}};
    for (const Case& c : cases) {
        uint32_t body = c.hub | uint32_t(c.sc) << 7 | uint32_t(c.port) << 8 | uint32_t(c.s) << 15 |
                        uint32_t(c.e) << 16 | uint32_t(c.et) << 17;
        uint8_t crc = Crc::Split(c.hub, c.sc, c.port, c.s, c.e, c.et);
        EXPECT_EQ(crc, Crc::Crc5(body, 19));
        EXPECT_EQ(Crc::Crc5Register(body | uint32_t(crc) << 19, 24), Crc::kCrc5Residual);
    }
    EXPECT_NE(Crc::Split(1, false, 1, false, false, 2), Crc::Split(1, true, 1, false, false, 2));
}

TEST(Crc, Crc16VectorsAndResidual) {
    struct Case { std::vector<uint8_t> data; uint16_t crc; };
    const std::string check = "123456789";
    const Case cases[] = {
        {{check.begin(), check.end()}, 0xB4C8},
        {{0x00, 0x01, 0x02, 0x03}, 0x7AEF},
        {{0x23, 0x45, 0x67, 0x89}, 0x1C0E},
        {{}, 0x0000},
    };
    EXPECT_EQ(Reverse(Crc::kCrc16Residual, 16), 0x800Du);
    for (const Case& c : cases) {
        EXPECT_EQ(Crc::Crc16(c.data), c.crc);
        std::vector<uint8_t> packet = c.data;
        packet.push_back(uint8_t(c.crc));  // low byte first on the wire
        packet.push_back(uint8_t(c.crc >> 8));
        EXPECT_EQ(Crc::Crc16Register(packet), Crc::kCrc16Residual);
        packet[packet.size() - 2] ^= 0x80;
        EXPECT_NE(Crc::Crc16Register(packet), Crc::kCrc16Residual);
    }
}

}  // namespace
}  // namespace orvane::emu
