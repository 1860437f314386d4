// Parameter blocks of terminal, mixer, selector, feature, processing,
// extension and endpoint requests, from the audio class standard's bytes.
#include <gtest/gtest.h>

#include "AudioControlDetail.h"
#include "AudioTestData.h"
#include "DetailReader.h"

using namespace orvane;
using namespace orvane::audio;
using namespace orvane::audio::testing;

namespace {

std::vector<DetailGroup> Describe(uint16_t type, uint16_t wValue, uint16_t wLength, const Bytes& data)
{
    SetupPacket setup;
    setup.bmRequestType = (type & 0x80) ? 0xA1 : 0x21;
    setup.bRequest = uint8_t(type);
    setup.wValue = wValue;
    setup.wLength = wLength;
    CDecodeResultWriter document;
    if (!DescribeAudioRequest(type, setup, data, document)) return {};
    return ReadDetail(document.Text());
}

struct Field {
    std::string name, value, tip;
    int64_t bits;
};

struct Case {
    const char* what;
    uint16_t type, wValue;
    Bytes data;
    std::string group;  // empty: no document
    std::vector<Field> fields;
};

void Check(const Case& c, uint16_t wLength)
{
    SCOPED_TRACE(c.what);
    const auto groups = Describe(c.type, c.wValue, wLength, c.data);
    if (c.group.empty() && c.fields.empty()) {
        EXPECT_TRUE(groups.empty());
        return;
    }
    ASSERT_EQ(groups.size(), 1u) << "one group, the control's";
    EXPECT_EQ(groups[0].name, c.group);
    ASSERT_EQ(groups[0].items.size(), c.fields.size());
    int64_t offset = 0;
    for (size_t i = 0; i < c.fields.size(); ++i) {
        const DetailItem& item = groups[0].items[i];
        EXPECT_EQ(item.name, c.fields[i].name);
        EXPECT_EQ(item.value, c.fields[i].value);
        EXPECT_EQ(item.tip, c.fields[i].tip);
        EXPECT_EQ(item.bits, c.fields[i].bits);
        EXPECT_EQ(item.offset, offset) << "laid end to end from 0";
        offset += item.bits;
    }
}

TEST(AudioDetail, OneValueControls)
{
    const std::string volumeTip = TipText(6002);
    const Case cases[] = {
        {"volume of feature unit 5, master", 0x681, 0x0200, {0x00, 0xF6}, "Volume",
         {{"wValume(Master)", "-10.0000 dB", volumeTip, 16}}},
        {"volume 0x8000 as any other value", 0x601, 0x0201, {0x00, 0x80}, "Volume",
         {{"wValume(Channel 1)", "-128.0000 dB", volumeTip, 16}}},
        {"volume 0x7FFF", 0x681, 0x0200, {0xFF, 0x7F}, "Volume", {{"wValume(Master)", "127.9961 dB", volumeTip, 16}}},
        {"volume answered with three bytes", 0x681, 0x0200, {0x00, 0xF6, 0x00}, "", {}},
        {"volume answered with one byte", 0x681, 0x0200, {0xF6}, "", {}},
        {"mute of channel 2", 0x601, 0x0102, {0x01}, "Mute", {{"bMute(Channel 2)", "True", TipText(6001), 8}}},
        {"mute off", 0x681, 0x0100, {0x00}, "Mute", {{"bMute(Master)", "False", TipText(6001), 8}}},
        {"treble", 0x601, 0x0500, {0xF8}, "Terble", {{"bTerble(Master)", "-2.0000 dB", TipText(6005), 8}}},
        {"bass", 0x601, 0x0300, {0x7F}, "Bass", {{"bBass(Master)", "31.7500 dB", TipText(6003), 8}}},
        {"mid", 0x681, 0x0401, {0x80}, "Mid", {{"bMid(Channel 1)", "-32.0000 dB", TipText(6004), 8}}},
        {"automatic gain", 0x681, 0x0700, {0x02}, "Automatic Gain", {{"bAGC(Master)", "True", TipText(6008), 8}}},
        {"delay in 1/64 ms", 0x601, 0x0800, {0x40, 0x01}, "Delay", {{"wDelay(Master)", "5.0000 ms", TipText(6009), 16}}},
        {"bass boost", 0x601, 0x0903, {0x00}, "Bass Boost", {{"bBassBoost(Channel 3)", "False", TipText(6010), 8}}},
        {"loudness", 0x601, 0x0A00, {0x01}, "Loudness", {{"bLoudness(Master)", "True", TipText(6011), 8}}},
        {"feature control 0 is none", 0x601, 0x0000, {0x01}, "", {}},
        {"feature control 11 is none", 0x601, 0x0B00, {0x01}, "", {}},
        {"copy protect of an input terminal", 0x201, 0x0100, {0x01}, "Copy Protect",
         {{"bCopyProtect", "CPL1", TipText(6013), 8}}},
        {"copy protect of an output terminal", 0x381, 0x0100, {0x02}, "Copy Protect",
         {{"bCopyProtect", "CPL2", TipText(6014), 8}}},
        {"copy protect level beyond the standard's", 0x381, 0x0100, {0x05}, "Copy Protect", {{"bCopyProtect", "", "", 8}}},
        {"a terminal's other controls", 0x281, 0x0200, {0x00}, "", {}},
        {"mixer control of input 1 to output 2", 0x481, 0x0102, {0x00, 0x01}, "Mixer",
         {{"wMixer(ICN 1 , OCN 2)", "1.0000 dB", TipText(6018), 16}}},
        {"selector", 0x501, 0x0000, {0x03}, "Selector", {{"bSelector", "3", TipText(6015), 8}}},
        {"extension unit enable", 0x881, 0x0100, {0x00}, "Extension", {{"bOn", "False", TipText(6019), 8}}},
        {"an extension unit's other controls", 0x881, 0x0200, {0x00}, "", {}},
        {"sampling frequency", 0x981, 0x0100, {0x44, 0xAC, 0x00}, "Frequency",
         {{"tSampleFreq", "44100 Hz", TipText(6020), 32}}},
        {"pitch", 0x901, 0x0200, {0x01}, "Pitch", {{"bPitchEnable", "True", "Pitch Control on", 8}}},
        {"pitch off", 0x981, 0x0200, {0x00}, "Pitch", {{"bPitchEnable", "False", "Pitch Control off", 8}}},
        {"an endpoint's control 3", 0x981, 0x0300, {0x00}, "", {}},
        {"memory requests have no parameter block", 0x1085, 0x0000, {1, 2, 3, 4}, "", {}},
        {"status requests neither", 0x10FF, 0x0000, {1}, "", {}},
    };
    for (const Case& c : cases) Check(c, uint16_t(c.data.size()));
}

TEST(AudioDetail, ProcessingUnitControls)
{
    const Case cases[] = {
        {"reverb level: the number, then the unit", 0x781, 0x0500, {50}, "Reverb Level",
         {{"bReverbLevel", "50 %", "The setting for the attribute of the Reverb Level Control", 8}}},
        {"enable ends with a space", 0x701, 0x0100, {1}, "Enable",
         {{"bEnable", "True ", "The setting for the Enable Processing Control CUR attribute", 8}}},
        {"reverb time in 1/256 s", 0x781, 0x0600, {0x80, 0x01}, "Reverb Time",
         {{"wReverbTime", "1.5000 s", "The setting for the attribute of the Reverb Time Control", 16}}},
        {"threshold is signed", 0x781, 0x0D00, {0x00, 0xF6}, "Dynamic Range Compressor Threshold",
         {{"wThreshold", "-10.0000 dB", "The setting for the attribute of the Threshold Control", 16}}},
        {"ratio is not", 0x781, 0x0B00, {0x00, 0xF6}, "Dynamic Range Compressor Ratio",
         {{"wRatio", "246.0000 dB/dB", "The setting for the attribute of the Compression Ratio Control", 16}}},
        {"release time", 0x781, 0x0F00, {0x00, 0x02}, "Dynamic Range Compressor Release Time",
         {{"wAttackTime", "2.0000 ms", "The setting for the attribute of the Release Time Control", 16}}},
        {"reverb type 3", 0x781, 0x0400, {3}, "Reverb Type",
         {{"bReverbType", "Hall 1", "Simulates the reverberation of a medium concert hall", 8}}},
        {"reverb type 0 is not named", 0x781, 0x0400, {0}, "Reverb Type", {{"bReverbType", "0", "Unknow", 8}}},
        {"reverb type 7 neither", 0x781, 0x0400, {7}, "Reverb Type", {{"bReverbType", "7", "Unknow", 8}}},
        {"reverb type -1 takes the row before the types", 0x781, 0x0400, {0xFF}, "Dynamic Range Compressor Release Time",
         {{"wAttackTime", "-1", "Unknow", 8}}},
        {"reverb type 100 has no row", 0x781, 0x0400, {100}, "", {{"", "100", "Unknow", 8}}},
        {"reverb time answered with one byte", 0x781, 0x0600, {0x80}, "", {}},
        {"control 0", 0x781, 0x0000, {1}, "", {}},
        {"control 16", 0x781, 0x1000, {1, 2}, "", {}},
    };
    for (const Case& c : cases) Check(c, uint16_t(c.data.size()));
    // A row with no group title still makes its one group.
    const auto row = Describe(0x781, 0x0400, 1, {100});
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0].name, "");
}

// Blocks of several values show the entries whose bytes were delivered.
TEST(AudioDetail, BlocksOfEveryChannel)
{
    const std::string volumeTip = TipText(6002);
    struct Block {
        Case c;
        uint16_t wLength;
    };
    const Block blocks[] = {
        {{"volume of every channel", 0x681, 0x02FF, {0x00, 0x01, 0x00, 0x02, 0x00, 0xFF}, "Volume",
          {{"wValume(0)", "1.0000 dB", volumeTip, 16}, {"wValume(1)", "2.0000 dB", volumeTip, 16},
           {"wValume(2)", "-1.0000 dB", volumeTip, 16}}},
         6},
        {{"a short answer shows what came", 0x681, 0x02FF, {0x00, 0x01, 0x00, 0x02, 0x00}, "Volume",
          {{"wValume(0)", "1.0000 dB", volumeTip, 16}, {"wValume(1)", "2.0000 dB", volumeTip, 16}}},
         6},
        {{"no more than asked for", 0x681, 0x02FF, {0x00, 0x01, 0x00, 0x02}, "Volume",
          {{"wValume(0)", "1.0000 dB", volumeTip, 16}}},
         2},
        {{"less than one value", 0x681, 0x02FF, {0x00}, "", {}}, 6},
        {{"mute of every channel", 0x681, 0x01FF, {1, 0}, "Mute",
          {{"bMute(0)", "True", TipText(6001), 8}, {"bMute(1)", "False", TipText(6001), 8}}},
         2},
        {{"the mixer's every control", 0x481, 0x0000, {0x00, 0x01, 0x00, 0x02}, "Mixer",
          {{"wMixer(0)", "1.0000 dB", TipText(6016), 16}, {"wMixer(1)", "2.0000 dB", TipText(6016), 16}}},
         4},
        {{"the mixer's programmable controls", 0x481, 0xFFFF, {0x00, 0x01, 0x00}, "Mixer",
          {{"wMixer(0)", "1.0000 dB", TipText(6017), 16}}},
         4},
        {{"one mixer control answered long", 0x481, 0x0102, {0x00, 0x01, 0x00, 0x02}, "", {}}, 4},
    };
    for (const Block& b : blocks) Check(b.c, b.wLength);
}

TEST(AudioDetail, GraphicEqualizerBands)
{
    const std::string bandTip = TipText(6007);
    // Bands 14 (25 Hz), 16 (40 Hz) and 43 (20 kHz) present.
    const Bytes present = {0x05, 0x00, 0x00, 0x20};
    const Field bitmap{"bmBandsPresent", "0x20000005", TipText(6006), 32};
    struct Block {
        Case c;
        uint16_t wLength;
    };
    const Block blocks[] = {
        {{"three bands present", 0x681, 0x0600, Join({present, {0x04, 0xF8, 0x7F}}), "Graphic Equalizer",
          {bitmap, {"bBand(25Hz)", "1.0000 dB", bandTip, 8}, {"bBand(40Hz)", "-2.0000 dB", bandTip, 8},
           {"bBand(20000Hz)", "31.7500 dB", bandTip, 8}}},
         7},
        {{"fewer band values delivered", 0x681, 0x0600, Join({present, {0x04}}), "Graphic Equalizer",
          {bitmap, {"bBand(25Hz)", "1.0000 dB", bandTip, 8}}},
         7},
        {{"reserved bits name their band number", 0x601, 0x0600, {0x00, 0x00, 0x00, 0x40, 0x01}, "Graphic Equalizer",
          {{"bmBandsPresent", "0x40000000", TipText(6006), 32}, {"bBand(44)", "0.2500 dB", bandTip, 8}}},
         5},
        {{"the bitmap alone", 0x681, 0x0600, present, "Graphic Equalizer", {bitmap}}, 4},
        {{"a 2-byte answer", 0x681, 0x0600, {0x05, 0x00}, "", {}}, 2},
        {{"a wLength below 4", 0x681, 0x0600, {0x05, 0x00, 0x00}, "", {}}, 1},
    };
    for (const Block& b : blocks) Check(b.c, b.wLength);
}

TEST(AudioDetail, TextTablesAnswerOnlyTheirIds)
{
    EXPECT_EQ(TipText(6001), "The addressed Mute Control's CUR attribute");
    EXPECT_EQ(TipText(6020), "The sampling frequency expressed in Hz");
    EXPECT_NE(TipText(6019).find('\t'), std::string::npos);
    for (uint32_t id : {0u, 6000u, 6021u, 0xFFFFFFFFu}) EXPECT_EQ(TipText(id), "") << id;
    EXPECT_EQ(BandName(14), "25Hz");
    EXPECT_EQ(BandName(27), "500Hz");
    EXPECT_EQ(BandName(43), "20000Hz");
    for (uint32_t band : {0u, 13u, 44u, 0xFFFFFFFFu}) EXPECT_EQ(BandName(band), "") << band;
}

}  // namespace
