// The record page's values and the setup file: positions, filters,
// conditions and their address range, the pre-trigger share, export and
// import round trip, and damaged or hostile files that leave the settings be.
#include <gtest/gtest.h>

#include <fstream>

#include "RecordOptions.h"
#include "TestFiles.h"

using namespace orvane::app;

namespace {

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(RecordOptions, LoadsAndWritesThePage)
{
    SetupXml setup;
    ASSERT_TRUE(setup.Load("<setup><storage packet=\"4096\" payload=\"3000000\" pre_trigger_percent=\"0\"/>"
                           "<filter><basic flags=\"0x60\"/><advance drop=\"1\">"
                           "<conditon id=\"2\" enable=\"1\" address=\"9\" upstream=\"0x0005\" downstream=\"0xFFFF\"/>"
                           "<conditon id=\"4\" enable=\"1\" address=\"1\"/></advance></filter></setup>"));
    RecordOptions o = RecordOptions::FromSetup(setup);
    EXPECT_EQ(o.packetPosition, 2) << "4 K";
    EXPECT_EQ(o.payloadPosition, 1) << "2 M";
    EXPECT_EQ(o.filters, uint32_t(SetupXml::FilterBusState | SetupXml::FilterSof));
    EXPECT_FALSE(o.AllFiltered());
    EXPECT_TRUE(o.drop);
    EXPECT_EQ(o.percent, 1) << "the slider keeps 1-99";
    EXPECT_TRUE(o.conditions[2].enable);
    EXPECT_EQ(o.conditions[2].address, "9");
    EXPECT_EQ(o.conditions[2].upstream, "0x0005");
    EXPECT_FALSE(o.conditions[0].enable) << "a missing condition stays default";

    o.packetPosition = 10;  // "1 M" records
    o.filters = RecordOptions::kBasicBits;
    EXPECT_TRUE(o.AllFiltered());
    o.percent = 100;
    o.conditions[2].downstream = SetupXml::MaskText(0x8001);
    std::string error;
    ASSERT_TRUE(o.ToSetup(setup, &error));
    EXPECT_EQ(setup.PacketRecords(), 1048576u);
    EXPECT_EQ(setup.PayloadBytes(), 2097152u);
    EXPECT_EQ(setup.PreTriggerPercent(), 99u);
    EXPECT_EQ(*setup.Document().selectSingleNode("setup/filter/basic").attribute("flags"), "0X7C");
    EXPECT_EQ(setup.Conditions()[2].downstream, "0x8001");
    EXPECT_EQ(setup.Document().selectNodes("setup/filter/advance/*").size(), 2u) << "nothing added";
    EXPECT_EQ(RecordOptions::PercentText(42), "预触发：42%");
}

TEST(RecordOptions, ConditionAddressesOutsideTheDeviceRangeAreRefused)
{
    struct Case {
        const char* text;
        int address;
    };
    for (Case c : {Case{"0", 0}, {"127", 127}, {" 5 ", 5}, {"128", -1}, {"200", -1}, {"-1", -1}, {"", -1},
                   {"12a", -1}, {"0099", -1}})
        EXPECT_EQ(RecordOptions::ConditionAddress(c.text), c.address) << c.text;

    SetupXml setup;
    const std::string before = setup.Text();
    RecordOptions o = RecordOptions::FromSetup(setup);
    o.conditions[1].enable = true;
    o.conditions[1].address = "200";  // the analyser would keep 72 of it
    o.packetPosition = 0;
    std::string error;
    EXPECT_FALSE(o.ToSetup(setup, &error));
    EXPECT_NE(error.find("条件2"), std::string::npos) << error;
    EXPECT_EQ(setup.Text(), before) << "nothing written";
    // A disabled condition is not checked: the analyser ignores it.
    o.conditions[1].enable = false;
    EXPECT_TRUE(o.ToSetup(setup, &error));
    EXPECT_EQ(setup.Conditions()[1].address, 200u);
}

TEST(RecordOptions, EndpointPickerTexts)
{
    EXPECT_EQ(SetupXml::MaskOfText("0x0005"), 0x0005);
    EXPECT_EQ(SetupXml::MaskOfText("0XffFF"), 0xFFFF);
    EXPECT_EQ(SetupXml::MaskOfText("5"), 0) << "not 0X-prefixed";
    EXPECT_EQ(SetupXml::MaskText(0xFFFF), "0xFFFF");
    EXPECT_EQ(SetupXml::MaskText(4), "0x0004");
}

TEST(SetupFile, ExportImportRoundTripAndFilesThatAreRefused)
{
    SetupXml setup;
    ASSERT_TRUE(setup.SetPacketRecords(65536));
    ASSERT_TRUE(setup.WriteTriggerSteps({{3, 0x0002, 0x441, "12 34 H"}, {255, 0xFFFF, 0x200, ""}}, false));
    orvane::testing::TempDir dir;
    const std::string path = dir / "setup.xml";
    std::string error;
    ASSERT_TRUE(setup.Export(path, &error)) << error;

    SetupXml other;
    ASSERT_TRUE(other.Import(path, &error)) << error;
    EXPECT_EQ(other.PacketRecords(), 65536u);
    EXPECT_EQ(other.LoadTriggerSteps(), setup.LoadTriggerSteps());

    // Each of these leaves `other` as it was, with a reason.
    std::string tooMany = "<setup><trigger>";
    for (int i = 0; i < 17; ++i) tooMany += "<step address=\"1\"/>";
    tooMany += "</trigger></setup>";
    const std::string damaged[] = {"<setup><storage packet=\"1\"", "", "<project/>", "\xEF\xBB\xBF<<<", tooMany,
                                   "<!DOCTYPE x [<!ENTITY a \"aaaa\">]><setup>&a;&a;</setup>"};
    const std::string kept = other.Text();
    for (const std::string& text : damaged) {
        Write(path, text);
        error.clear();
        EXPECT_FALSE(other.Import(path, &error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(other.Text(), kept);
    }
    // Too large to be a setup file, missing, a folder.
    Write(path, "<setup>" + std::string(SetupXml::kMaxFileBytes, ' ') + "</setup>");
    EXPECT_FALSE(other.Import(path, &error));
    EXPECT_FALSE(other.Import(path + ".missing", &error));
    EXPECT_FALSE(other.Import(dir.path.string(), &error));
    EXPECT_EQ(other.Text(), kept);

    // A failed export says so.
    error.clear();
    EXPECT_FALSE(setup.Export("/nonexistent-folder/setup.xml", &error));
    EXPECT_FALSE(error.empty());
}

TEST(SetupFile, TriggerValuesOutsideTheirRangesAreAny)
{
    SetupXml setup;
    ASSERT_TRUE(setup.Load("<setup><trigger>"
                           "<step address=\"300\" endpoint=\"70000\" pid_mask=\"5000\" data=\"?\"/>"
                           "<step address=\"-3\" endpoint=\"-1\" pid_mask=\"-1\"/>"
                           "<step address=\"200\" endpoint=\"65535\" pid_mask=\"65535\"/>"
                           "<step address=\"127\" endpoint=\"0\" pid_mask=\"4095\" data=\"01 H\"/>"
                           "</trigger></setup>"));
    const std::vector<TriggerStep> expected = {
        {255, 0xFFFF, 0xFFFF, "?"}, {255, 0xFFFF, 0xFFFF, ""}, {255, 0xFFFF, 0xFFFF, ""}, {127, 0, 0xFFF, "01 H"}};
    EXPECT_EQ(setup.LoadTriggerSteps(), expected);

    // Stored steps replace every step that loads, also those of a second trigger element.
    ASSERT_TRUE(setup.Load("<setup><trigger><step address=\"1\"/></trigger><x><trigger><step/><step/></trigger></x></setup>"));
    ASSERT_EQ(setup.LoadTriggerSteps().size(), 3u);
    ASSERT_TRUE(setup.WriteTriggerSteps({{5, 1, 1, ""}}, false));
    EXPECT_EQ(setup.LoadTriggerSteps(), (std::vector<TriggerStep>{{5, 1, 1, ""}}));
}
