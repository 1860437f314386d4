// Where the chart plug-in keeps its settings: integer values under the
// plug-in's key or one of its sub-keys (a chart's class name).
#pragma once

#include <cstdint>
#include <string>

namespace orvane::velmora {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // False, and *out untouched, when the value is not stored.
    virtual bool ReadInt(const std::string& subKey, const std::string& name, int32_t* out) = 0;
    virtual void WriteInt(const std::string& subKey, const std::string& name, int32_t value) = 0;
};

}  // namespace orvane::velmora
