// The entity table from configuration bytes, sound and damaged, and the
// names request targets are given.
#include <gtest/gtest.h>

#include "AudioEntityTable.h"
#include "AudioTestData.h"

using namespace orvane::audio;
using namespace orvane::audio::testing;

namespace {

CEntityTable Parse(const Bytes& configuration)
{
    CEntityTable table;
    table.ParseAudioControlDescriptors(configuration);
    return table;
}

struct Lookup {
    uint32_t interface, entity, subtype;
};

void ExpectLookups(const CEntityTable& table, std::initializer_list<Lookup> lookups)
{
    for (const Lookup& l : lookups)
        EXPECT_EQ(table.FindEntityType(l.interface, l.entity), l.subtype)
            << "interface " << l.interface << " entity " << l.entity;
}

TEST(AudioEntityTable, EveryEntityKindOfTheControlInterface)
{
    const CEntityTable table = Parse(kSpeaker);
    ASSERT_EQ(table.Interfaces().size(), 1u) << "the streaming interface is not an audio-control one";
    ExpectLookups(table, {{0, 1, SubtypeInputTerminal}, {0, 3, SubtypeOutputTerminal}, {0, 4, SubtypeMixerUnit},
                          {0, 5, SubtypeFeatureUnit}, {0, 6, SubtypeSelectorUnit}, {0, 7, SubtypeProcessingUnit},
                          {0, 8, SubtypeExtensionUnit},
                          // The header is keyed by its byte 3, bcdADC's low byte.
                          {0, 0, SubtypeHeader}, {0, 2, 0}, {1, 1, 0}, {2, 5, 0}});
}

TEST(AudioEntityTable, InterfacesAndAlternateSettings)
{
    const Bytes selector5 = {7, 0x24, 0x05, 5, 1, 4, 0};
    const Bytes terminal5 = {12, 0x24, 0x02, 5, 0x01, 0x02, 0, 1, 0x00, 0x00, 0, 0};
    struct Case {
        const char* what;
        Bytes configuration;
        size_t records;
        std::initializer_list<Lookup> lookups;
    };
    const Case cases[] = {
        {"the control interface last in the set",
         Configuration(Join({kStreaming, ControlInterface(2), kHeader, kFeatureUnit5})), 1, {{2, 5, 6}, {1, 1, 0}}},
        {"a control interface of protocol 0x20 and what follows it are ignored",
         Configuration(Join({ControlInterface(0, 0x20), kHeader, kFeatureUnit5, ControlInterface(3), kSelectorUnit6})),
         1, {{0, 5, 0}, {3, 6, SubtypeSelectorUnit}, {3, 5, 0}}},
        {"two control interfaces with the same entity ID keep their own",
         Configuration(Join({ControlInterface(0), kHeader, kFeatureUnit5, ControlInterface(2), kHeader, selector5})),
         2, {{0, 5, SubtypeFeatureUnit}, {2, 5, SubtypeSelectorUnit}}},
        {"an alternate setting is a record of its own; the first one answers",
         Configuration(Join({ControlInterface(0), kFeatureUnit5, Interface(0, 1, 1), terminal5})), 2,
         {{0, 5, SubtypeFeatureUnit}}},
        {"a later descriptor for the same ID overwrites",
         Configuration(Join({ControlInterface(0), kFeatureUnit5, selector5})), 1, {{0, 5, SubtypeSelectorUnit}}},
        {"subtypes above 8 are not entities",
         Configuration(Join({ControlInterface(0), {4, 0x24, 0x09, 5}})), 1, {{0, 5, 0}}},
        {"no configuration", {}, 0, {{0, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CEntityTable table = Parse(c.configuration);
        EXPECT_EQ(table.Interfaces().size(), c.records);
        ExpectLookups(table, c.lookups);
    }
}

// Configuration bytes come from editable device-tree text and project files.
TEST(AudioEntityTable, MalformedSetsEndTheWalkWhereTheyStopMakingSense)
{
    const Bytes head = Join({ControlInterface(0), kHeader, kInputTerminal1});
    struct Case {
        const char* what;
        Bytes bytes;
        size_t descriptors;
        std::initializer_list<Lookup> lookups;
    };
    Bytes overrun = Configuration(Join({head, kFeatureUnit5}));
    overrun.resize(overrun.size() - 3);
    Bytes firstTooLong = Configuration(Join({head, kFeatureUnit5}));
    firstTooLong[0] = uint8_t(firstTooLong.size());
    Bytes firstPastEnd = firstTooLong;
    firstPastEnd[0] = 0xFF;
    const Case cases[] = {
        {"a bLength of 0 in the middle ends the split",
         Configuration(Join({head, {0, 0x24, 0x06, 5}, kFeatureUnit5})), 4, {{0, 1, 2}, {0, 5, 0}}},
        {"the last descriptor runs past the bytes", overrun, 4, {{0, 1, 2}, {0, 5, 0}}},
        {"a class-specific descriptor shorter than 4 bytes is skipped",
         Configuration(Join({head, {3, 0x24, 0x06}, kFeatureUnit5})), 6, {{0, 1, 2}, {0, 5, 6}}},
        {"an interface descriptor shorter than 9 bytes starts nothing",
         Configuration(Join({{8, 4, 0, 0, 0, 1, 1, 0}, kFeatureUnit5})), 3, {{0, 5, 0}}},
        {"a first bLength equal to the total", firstTooLong, 1, {{0, 1, 0}}},
        {"a first bLength past the total", firstPastEnd, 0, {{0, 1, 0}}},
        {"one byte", {9}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto list = SplitDescriptors(c.bytes);
        EXPECT_EQ(list.size(), c.descriptors);
        size_t covered = 0;
        for (const auto& d : list) {
            EXPECT_EQ(d.data(), c.bytes.data() + covered) << "end to end from the start";
            EXPECT_EQ(d.size(), d[0]);
            covered += d.size();
        }
        EXPECT_LE(covered, c.bytes.size());
        ExpectLookups(Parse(c.bytes), c.lookups);
    }
}

TEST(AudioEntityTable, KindAndControlNames)
{
    const auto table = EntityTypeTable();
    ASSERT_EQ(table.size(), 9u);
    EXPECT_STREQ(table[0].name, "Undefined Audio Control Descriptor");
    EXPECT_EQ(table[6].controls.size(), 11u);
    EXPECT_STREQ(table[6].controls[10], "Loudness");
    for (uint32_t s : {0, 1, 4, 5, 7}) EXPECT_TRUE(table[s].controls.empty()) << s;

    struct Case {
        uint32_t subtype, control, entity;
        const char* name;
    };
    const Case cases[] = {
        {6, 2, 5, "( Feature Unit 5 , Volume )"},
        {2, 1, 3, "( Input Terminal Terminal 3 , Copy Protect )"},
        {3, 0, 1, "( Output Terminal Terminal 1 , Undefined Termianl )"},
        {4, 0, 7, "( Mixer Unit 7 )"},
        {6, 11, 4, "( Feature Unit 4 )"},
        {8, 1, 2, "( Extension Unit 2 , Enable Extension Unit )"},
        {7, 3, 255, "( Processing Unit 255 )"},
        {9, 1, 1, ""},
        {0xFFFFFFFF, 0, 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatEntityName(c.subtype, c.control, c.entity), c.name);
}

}  // namespace
