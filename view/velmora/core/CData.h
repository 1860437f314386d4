// The state the charts of one pane share: the capture's packet count, the
// traffic series of the bus-usage and transfer-rate charts with their
// colours, and the plug-in's settings.
#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <string>

#include "ISettingsStore.h"

namespace orvane::velmora {

struct SeriesState {
    uint8_t shown = 0;
    uint32_t colour = 0;      // 0x00BBGGRR; 0: none yet
    int32_t lastY = INT_MAX;  // INT_MAX: nothing plotted yet
};

// All traffic, per device address, per address and endpoint.
struct SeriesSet {
    using ByAddress = std::map<int16_t, SeriesState>;
    using ByEndpoint = std::map<int16_t, std::map<int16_t, SeriesState>>;

    SeriesState total{1};
    ByAddress byAddress;
    ByEndpoint byEndpoint;

    // Uncoloured series get palette colours in walk order; coloured ones keep theirs.
    void AssignColours();
    void ResetLastY();
    void Clear();

    template <class Fn>
    void ForEach(Fn fn) {
        for (auto& [address, series] : byAddress) fn(series);
        for (auto& [address, endpoints] : byEndpoint)
            for (auto& [endpoint, series] : endpoints) fn(series);
    }
};

class CData {
public:
    // Chart bits of ChildViewType, in the pane's fixed order.
    enum ChartBit : uint32_t { BitTraffic = 1, BitPacketLength = 2, BitDataLength = 4, BitBusUsage = 8, BitSpeed = 16 };

    explicit CData(ISettingsStore& settings) : settings_(settings) {}

    uint64_t packetCount = 0;
    SeriesSet speed;  // the transfer-rate chart's
    SeriesSet usage;  // the bus-usage chart's

    uint32_t ReadChildViewType();
    void WriteChildViewType(uint32_t value);
    // Always 1 for a value name: a missing key or value leaves *out at the
    // caller's default. 0 (nothing read) for an empty value name.
    int32_t ReadChartSetting(const std::string& className, const std::string& valueName, int32_t* out);
    int32_t WriteChartSetting(const std::string& className, const std::string& valueName, int32_t value);

private:
    ISettingsStore& settings_;
};

}  // namespace orvane::velmora
