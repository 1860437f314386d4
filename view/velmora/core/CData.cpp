#include "CData.h"

#include "ChartColour.h"
#include "ChartText.h"

namespace orvane::velmora {

void SeriesSet::AssignColours()
{
    size_t k = 0;
    if (total.colour == 0) {
        total.colour = kSeriesPalette[0];
        k = 1;
    }
    ForEach([&](SeriesState& series) {
        if (series.colour == 0) series.colour = kSeriesPalette[k];
        k = (k + 1) % kSeriesPalette.size();
    });
}

void SeriesSet::ResetLastY()
{
    total.lastY = INT_MAX;
    ForEach([](SeriesState& s) { s.lastY = INT_MAX; });
}

void SeriesSet::Clear()
{
    byEndpoint.clear();
    byAddress.clear();
    total = SeriesState{1};
}

uint32_t CData::ReadChildViewType()
{
    int32_t value = 0;
    return settings_.ReadInt({}, text::kChildViewType, &value) ? uint32_t(value) : 0;
}

void CData::WriteChildViewType(uint32_t value) { settings_.WriteInt({}, text::kChildViewType, int32_t(value)); }

int32_t CData::ReadChartSetting(const std::string& className, const std::string& valueName, int32_t* out)
{
    if (valueName.empty()) return 0;
    settings_.ReadInt(className, valueName, out);
    return 1;
}

int32_t CData::WriteChartSetting(const std::string& className, const std::string& valueName, int32_t value)
{
    if (valueName.empty()) return 0;
    settings_.WriteInt(className, valueName, value);
    return 1;
}

}  // namespace orvane::velmora
