// The capture setup loader: setup XML to storage, filter and trigger images.
#include <gtest/gtest.h>

#include <cstring>

#include "CDevice.h"
#include "EmulatedAnalyser.h"

using namespace orvane;
using namespace orvane::pardix;

namespace {

class SetupLoader : public ::testing::Test {
protected:
    emu::EmulatedAnalyser emu;
    CDevice device{&emu};
    CDeviceProxy& source = device.Source();

    uint64_t Step(unsigned entry) { return source.TriggerImage().steps[entry]; }
};

std::string Wrap(const std::string& body) { return "<setup>" + body + "</setup>"; }

}  // namespace

TEST_F(SetupLoader, StorageSizesAndPreTriggerShares) {
    struct Case {
        const char* storage;
        ControlBlock want;  // hold, pre packet, packet mask, pre payload, payload mask
    };
    for (Case c : {Case{"<storage packet=\"4096\" payload=\"1048576\" pre_trigger_percent=\"50\"/>",
                        {1, 0, 32768, 65535, 524288, 1048575, 0, 0, 0, 0, 0}},
                   Case{"<storage packet=\"1024\" payload=\"2097152\"/>", {1, 0, 16384, 16383, 2097152, 2097151}},
                   Case{"<storage/>", {1, 0, 0x4000, 0x3FFF, 0x100000, 0xFFFFF}}}) {
        ASSERT_EQ(device.ApplySetup(Wrap(c.storage).c_str()), 1) << c.storage;
        ControlBlock got = source.ControlImage();
        EXPECT_EQ(got.hold, 1u);
        EXPECT_EQ(got.prePacketBytes, c.want.prePacketBytes) << c.storage;
        EXPECT_EQ(got.packetMask, c.want.packetMask) << c.storage;
        EXPECT_EQ(got.prePayloadBytes, c.want.prePayloadBytes) << c.storage;
        EXPECT_EQ(got.payloadMask, c.want.payloadMask) << c.storage;
        EXPECT_EQ(emu.ControlBlock()[emu::EmulatedAnalyser::CbPrePacket], c.want.prePacketBytes);
    }
    // Without a storage node the configuration stays as it was.
    ASSERT_EQ(device.ApplySetup("<setup/>"), 1);
    EXPECT_EQ(source.ControlImage().packetMask, 0x3FFFu);
}

TEST_F(SetupLoader, StorageTheAnalyserCannotHaveIsRefused) {
    ASSERT_EQ(device.ApplySetup(Wrap("<storage packet=\"1024\"/>").c_str()), 1);
    for (const char* storage : {"<storage packet=\"0\"/>", "<storage packet=\"3000\"/>", "<storage packet=\"abc\"/>",
                                "<storage packet=\"268435456\"/>",   // x 16 overflows 32 bits
                                "<storage packet=\"67108864\"/>",    // 1 GiB: beyond the analyser
                                "<storage payload=\"0\"/>", "<storage payload=\"1000000\"/>",
                                "<storage pre_trigger_percent=\"150\"/>", "<storage pre_trigger_percent=\"-1\"/>"}) {
        EXPECT_EQ(device.ApplySetup(Wrap(storage).c_str()), 0) << storage;
        EXPECT_EQ(source.ControlImage().packetMask, 0x3FFFu) << "the old storage stays: " << storage;
    }
    EXPECT_EQ(device.ApplySetup("not xml"), 0);
    EXPECT_EQ(device.ApplySetup(nullptr), 0);
}

TEST_F(SetupLoader, BasicAndAdvancedFilter) {
    ASSERT_EQ(device.ApplySetup(Wrap("<filter><basic flags=\"0x7c\"/><advance drop=\"1\">"
                                      "<conditon id=\"1\" enable=\"1\" address=\"133\" upstream=\"0x0003\"/>"
                                      "<conditon id=\"3\" enable=\"1\" address=\"9\" downstream=\"0x8001\"/>"
                                      "<conditon id=\"4\" enable=\"1\" address=\"7\"/>"
                                      "<conditon id=\"2\" enable=\"0\" address=\"7\"/>"
                                      "</advance></filter>")
                                    .c_str()),
              1);
    FilterBlock f = source.FilterImage();
    EXPECT_EQ(f.hold, 1u);
    EXPECT_EQ(f.flags, 0x7Cu | kFilterDrop | kFilterAdvanced);
    EXPECT_EQ(f.addresses, (133u & 0x7F) << 7 | 9u << 21);
    EXPECT_EQ(f.upstream[1], 0x0003);
    EXPECT_EQ(f.downstream[1], 0xFFFF);
    EXPECT_EQ(f.downstream[3], 0x8001);
    EXPECT_EQ(f.upstream[2], 0) << "a disabled condition stays zero";

    // Text that is not "0X" hexadecimal leaves everything filtered; no enabled
    // condition leaves the advanced bit clear.
    ASSERT_EQ(device.ApplySetup(Wrap("<filter><basic flags=\"124\"/><advance drop=\"0\">"
                                      "<conditon id=\"0\" enable=\"0\"/></advance></filter>")
                                    .c_str()),
              1);
    EXPECT_EQ(source.FilterImage().flags, 0xFFFFFFFCu);

    // Start releases the filter with its image.
    ASSERT_EQ(device.Start(), 1);
    uint32_t hold, flags;
    auto block = emu.FilterBlock();
    std::memcpy(&hold, block.data(), 4);
    std::memcpy(&flags, block.data() + 4, 4);
    EXPECT_EQ(hold, 0u);
    EXPECT_EQ(flags, 0xFFFFFFFCu);
}

TEST_F(SetupLoader, StepsFillTheLastEntriesWithTheirWords) {
    ASSERT_EQ(device.ApplySetup(Wrap("<trigger><step address=\"5\" endpoint=\"2\" pid_mask=\"1089\" data=\"12 34 H\"/>"
                                      "<step/><step address=\"300\" pid_mask=\"65535\" data=\"\"/></trigger>")
                                    .c_str()),
              1);
    for (unsigned e = 0; e < 13; ++e) EXPECT_EQ(Step(e), 0u) << e;
    // What each field means the end-to-end trigger shows; here the edges.
    const uint64_t s13 = Step(13), s14 = Step(14), s15 = Step(15);
    EXPECT_EQ(s13 & kStepPairsMask, 2u) << "the trailing space adds no token";
    EXPECT_EQ(s13 >> 46, 0u);
    // Defaults: any address (bits 37-45 all set), every endpoint and PID, any data.
    EXPECT_EQ((s14 >> 37) & 0x1FF, 0x1FFu);
    EXPECT_EQ((s14 >> kStepEndpointShift) & 0xFFFF, 0xFFFFu);
    EXPECT_EQ((s14 >> kStepPidShift) & 0xFFF, 0xFFFu);
    EXPECT_EQ(s14 & kStepPairsMask, 1u);
    EXPECT_EQ((s15 >> kStepAddressShift) & 0x7F, 300u & 0x7F) << "address cut to 8 bits: 44";
    EXPECT_EQ((s15 >> kStepAnyAddressBit) & 1, 0u);
    EXPECT_EQ(s15 & kStepPairsMask, 0u);
    EXPECT_EQ(emu.PatternBlock(13)[4], 0) << "pairs beyond the count are zero";
    EXPECT_EQ(emu.TriggerTable()[128], 1) << "held until Start";

    ASSERT_EQ(device.ApplySetup(Wrap("<trigger><step/></trigger>").c_str()), 1);
    EXPECT_NE(Step(15), 0u);
    EXPECT_EQ(Step(13), 0u) << "a new setup starts from a zeroed table";
    EXPECT_EQ(source.SetTriggerStep(16, 1, 1, 1, "?"), 0);
}

TEST_F(SetupLoader, AnAnalyserLostMidSetupFailsTheSetup) {
    DeviceStatus status;
    ASSERT_EQ(device.GetStatus(&status), 1);
    const std::string text = Wrap("<storage packet=\"1024\"/><trigger><step data=\"1 2\"/><step/></trigger>");
    for (unsigned nth = 1; nth <= 6; ++nth) {
        emu.DisconnectAtCommand(nth);
        EXPECT_EQ(device.ApplySetup(text.c_str()), 0) << nth;
        emu.Reconnect();
    }
    EXPECT_EQ(device.ApplySetup(text.c_str()), 1);
}

TEST(TriggerPattern, TextToValueMaskPairs) {
    struct Case {
        const char* text;
        std::vector<uint8_t> pairs;
    };
    const Case cases[] = {
        {"01 02 FFH", {0x01, 0xFF, 0x02, 0xFF, 0xFF, 0xFF}},
        {"1?H", {0x10, 0xF0}},
        {"?1 z9 1h", {0x01, 0x0F, 0x09, 0xFF, 0, 0}},
        {"10?10?01B", {0x91, 0xDB}},
        {"1010B", {0, 0}},
        {"7;?;300", {7, 0xFF, 0, 0, 0x2C, 0xFF}},
        {"12 34 H", {0x12, 0xFF, 0x34, 0xFF}},
        {"1,,2;; 3", {1, 0xFF, 2, 0xFF, 3, 0xFF}},
        {"  ?  ", {0, 0}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        uint8_t pairs[kPatternBytes];
        std::memset(pairs, 0, sizeof pairs);
        uint32_t n = CDeviceProxy::ParseTriggerPattern(c.text, pairs);
        ASSERT_EQ(n, c.pairs.size()) << c.text;
        EXPECT_EQ(std::vector<uint8_t>(pairs, pairs + n), c.pairs) << c.text;
    }
    std::string many;
    for (int i = 0; i < 300; ++i) many += "1 ";
    uint8_t pairs[kPatternBytes] = {};
    EXPECT_EQ(CDeviceProxy::ParseTriggerPattern(many, pairs), 512u) << "at most 256 tokens";
}
