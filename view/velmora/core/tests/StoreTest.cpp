// The shared store: series colours from the palette, counters, the settings
// with their defaults, and the value bins in both modes.
#include <gtest/gtest.h>

#include <map>

#include "CData.h"
#include "ChartColour.h"
#include "SeriesBins.h"

using namespace orvane::velmora;

namespace {

struct MapSettings : ISettingsStore {
    bool ReadInt(const std::string& subKey, const std::string& name, int32_t* out) override {
        auto it = values.find(subKey + "/" + name);
        if (it == values.end()) return false;
        *out = it->second;
        return true;
    }
    void WriteInt(const std::string& subKey, const std::string& name, int32_t value) override {
        values[subKey + "/" + name] = value;
    }
    std::map<std::string, int32_t> values;
};

}  // namespace

TEST(Store, SeriesColoursFollowThePaletteAndAreKept)
{
    SeriesSet set;
    for (int16_t a = 1; a <= 19; ++a) set.byAddress[a];
    set.byEndpoint[1][0];
    set.AssignColours();
    EXPECT_EQ(set.total.colour, 0u) << "the total is black, palette entry 0";
    EXPECT_EQ(set.byAddress[1].colour, kSeriesPalette[1]);
    EXPECT_EQ(set.byAddress[19].colour, kSeriesPalette[19]);
    EXPECT_EQ(set.byEndpoint[1][0].colour, 0u) << "the twentieth series gets entry 0 and stays uncoloured";
    set.byAddress[1].colour = 0x123456;
    set.byAddress[20];
    set.AssignColours();
    EXPECT_EQ(set.byAddress[1].colour, 0x123456u);
    EXPECT_EQ(set.byAddress[20].colour, 0u) << "walk order: the new address takes the slot after 19";
}

TEST(Store, LastYAndClear)
{
    SeriesSet set;
    set.byAddress[3] = {1, 5, 7};
    set.byEndpoint[3][1] = {1, 6, 8};
    set.ResetLastY();
    EXPECT_EQ(set.byEndpoint[3][1].lastY, INT_MAX);
    set.total.colour = 9;
    set.Clear();
    EXPECT_TRUE(set.byAddress.empty() && set.byEndpoint.empty());
    EXPECT_EQ(set.total.shown, 1);
    EXPECT_EQ(set.total.colour, 0u);
}

TEST(Store, SettingsKeepTheCallersDefault)
{
    MapSettings settings;
    CData store(settings);
    EXPECT_EQ(store.ReadChildViewType(), 0u);
    int32_t group = 3;
    EXPECT_EQ(store.ReadChartSetting("CTrafficCtrl", "Group", &group), 1);
    EXPECT_EQ(group, 3);
    EXPECT_EQ(store.ReadChartSetting("CTrafficCtrl", "", &group), 0);
    EXPECT_EQ(store.WriteChartSetting("CTrafficCtrl", "", 1), 0);
    EXPECT_EQ(store.WriteChartSetting("CTrafficCtrl", "Group", 2), 1);
    store.WriteChildViewType(5);
    EXPECT_EQ(settings.values, (std::map<std::string, int32_t>{{"/ChildViewType", 5}, {"CTrafficCtrl/Group", 2}}));
    EXPECT_EQ(store.ReadChildViewType(), 5u);
    EXPECT_EQ(store.ReadChartSetting("CTrafficCtrl", "Group", &group), 1);
    EXPECT_EQ(group, 2);
}

TEST(SeriesBins, SeriesAveragesAndValues)
{
    SeriesBins bins;
    std::vector<int32_t> out;
    EXPECT_EQ(bins.AverageRange(0, 1, 1, &out), -1) << "no series";
    bins.ValuesAt(0, 1, &out);
    EXPECT_TRUE(out.empty());
    for (int32_t v : {10, 20, 30, 40}) bins.Append(0, v);
    bins.Append(2, 99);  // ignored: series 1 does not exist yet
    bins.Append(-1, 99);
    for (int32_t v : {1, 2}) bins.Append(1, v);  // a series shorter than series 0
    ASSERT_EQ(bins.Series().size(), 2u);
    bins.start = 0.0;
    bins.end = 3.0;
    struct { double t0, t1; int32_t result; std::vector<int32_t> means; } cases[] = {
        {0.0, 1.0, 0, {15, 1}}, {-5.0, 0.0, 0, {10, 1}}, {1.5, 9.0, 0, {35, 0}}, {2.0, 1.0, -1, {}},
    };
    for (const auto& c : cases) {
        out.clear();
        EXPECT_EQ(bins.AverageRange(c.t0, c.t1, 1.0, &out), c.result) << c.t0;
        EXPECT_EQ(out, c.means) << c.t0;
    }
    out.clear();
    bins.ValuesAt(2.5, 1.0, &out);
    EXPECT_EQ(out, (std::vector<int32_t>{40, 0}));
    out.clear();
    bins.ValuesAt(-3.0, 1.0, &out);
    EXPECT_EQ(out, (std::vector<int32_t>{10, 1}));
}
