// The capture settings document: defaults, list positions, filters and steps.
#include <gtest/gtest.h>

#include "SetupXml.h"

using orvane::app::SetupXml;
using orvane::app::TriggerStep;

TEST(SetupXml, DefaultsAndTextThatDoesNotLoad) {
    SetupXml s;
    EXPECT_EQ(s.PacketRecords(), 32768u);
    EXPECT_TRUE(s.LoadTriggerSteps().empty());

    EXPECT_FALSE(s.Load("<setup><storage"));
    EXPECT_EQ(s.PacketRecords(), 32768u) << "a failed load keeps the content";
    s.Load("<setup><storage packet=\"1024\"/></setup>");
    s.LoadOrDefault("not xml");
    EXPECT_EQ(s.PacketRecords(), 32768u);
}

TEST(SetupXml, BufferSizesToListPositionsAndBack) {
    struct Case { uint32_t records; int position; };
    for (Case c : {Case{0, 0}, {1024, 0}, {2047, 0}, {3000, 1}, {32768, 5}, {1u << 25, 15}, {0xFFFFFFFF, 15}})
        EXPECT_EQ(SetupXml::PacketPosition(c.records), c.position) << c.records;
    EXPECT_EQ(SetupXml::PayloadPosition(0x100000), 0);
    EXPECT_EQ(SetupXml::PayloadPosition(0x20000000), 9);

    SetupXml s;
    ASSERT_TRUE(s.Load("<setup><storage packet=\"3000\" payload=\"1048576\"/></setup>"));
    ASSERT_TRUE(s.SetPacketRecords(SetupXml::PacketRecordsAt(SetupXml::PacketPosition(*s.PacketRecords()))));
    EXPECT_EQ(s.PacketRecords(), 2048u);
    EXPECT_FALSE(s.SetPreTriggerPercent(30)) << "attributes are updated, never added";
    EXPECT_FALSE(s.PreTriggerPercent());
}

TEST(SetupXml, FiltersAndConditions) {
    SetupXml s;
    ASSERT_TRUE(s.SetFilterFlags(SetupXml::FilterBusState | SetupXml::FilterSof));
    EXPECT_NE(s.Text().find("flags=\"0X60\""), std::string::npos);
    EXPECT_EQ(s.FilterFlags(), 0x60u);

    ASSERT_TRUE(s.Load("<setup><filter><basic flags=\"0x7c\"/><advance drop=\"1\">"
                       "<conditon id=\"4\" enable=\"1\" address=\"9\"/>"
                       "<x id=\"2\" enable=\"1\" address=\"7\" upstream=\"0x0003\"/></advance></filter></setup>"));
    EXPECT_EQ(s.FilterFlags(), 0x7Cu);
    EXPECT_TRUE(s.DropMode());
    auto c = s.Conditions();
    EXPECT_TRUE(c[2].enable);
    EXPECT_EQ(c[2].address, 7u);
    EXPECT_EQ(c[2].upstream, "0x0003");
    EXPECT_EQ(c[2].downstream, "0xFFFF");
    for (int i : {0, 1, 3}) EXPECT_FALSE(c[size_t(i)].enable) << "id 4 is nobody's";

    ASSERT_TRUE(s.Load("<setup><filter><basic flags=\"124\"/></filter></setup>"));
    EXPECT_EQ(s.FilterFlags(), 0xFFFFFFFFu);
}

TEST(SetupXml, TriggerStepsLoadWriteAndTheSixteenStepLimit) {
    SetupXml s;
    ASSERT_TRUE(s.Load("<setup><trigger><step address=\"3\" endpoint=\"2\" pid_mask=\"1089\"/></trigger></setup>"));
    auto steps = s.LoadTriggerSteps();
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0], (TriggerStep{3, 2, 0x441, ""})) << "no data attribute is empty for the page";

    SetupXml d;
    std::vector<TriggerStep> fourteen(14, TriggerStep{1, 1, 0x200, "?"});
    ASSERT_TRUE(d.WriteTriggerSteps(fourteen, false));
    std::vector<TriggerStep> three(3, TriggerStep{3, 0x0002, 0x441, "12 34 H"});
    EXPECT_FALSE(d.WriteTriggerSteps(three, true));
    EXPECT_EQ(d.LoadTriggerSteps().size(), 14u) << "a refusal writes nothing";
    ASSERT_TRUE(d.WriteTriggerSteps(three, false));
    EXPECT_EQ(d.LoadTriggerSteps(), three);
    EXPECT_NE(d.Text().find("<step address=\"3\" endpoint=\"2\" pid_mask=\"1089\" data=\"12 34 H\""),
              std::string::npos);

    SetupXml bare;
    ASSERT_TRUE(bare.Load("<setup/>"));
    ASSERT_TRUE(bare.WriteTriggerSteps({TriggerStep{}}, true));
    EXPECT_EQ(bare.LoadTriggerSteps().size(), 1u) << "the trigger element is made when missing";
}
