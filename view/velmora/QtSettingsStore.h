// The plug-in's settings in the per-user store under Kavrin/Orvane, group Velmora.
#pragma once

#include <QSettings>

#include "ISettingsStore.h"

namespace orvane::velmora {

class QtSettingsStore : public ISettingsStore {
public:
    bool ReadInt(const std::string& subKey, const std::string& name, int32_t* out) override;
    void WriteInt(const std::string& subKey, const std::string& name, int32_t value) override;

private:
    static QString KeyOf(const std::string& subKey, const std::string& name);
};

}  // namespace orvane::velmora
