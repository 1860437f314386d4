#include "AboutInfo.h"

#include <dlfcn.h>

#include <cstdio>

#include "CUsbIdDatabase.h"
#include "IDecode.h"
#include "IDevice.h"

namespace orvane::app {

std::string FormatVersion(uint32_t version) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                  version & 0xFF);
    return text;
}

std::string FormatModel(uint32_t model) {
    if (model == kAnalyserModel) return "Orvane-II";
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", (model >> 8) & 0xFF, model & 0xFF);
    return text;
}

void SetAnalyser(AboutInfo& about, const DeviceInfo& info) {
    about.firmware = FormatVersion(info.firmwareVersion);
    about.algorithm = FormatVersion(info.configVersion);
    about.model = FormatModel(info.model);
    about.serial = std::to_string(info.serialNumber);
}

AboutInfo CollectAboutInfo(IDevice* device, IDecodeFactory* factory, const CUsbIdDatabase& ids) {
    AboutInfo about;
    about.programVersion = ORVANE_VERSION;
    DeviceInfo info;
    if (device && device->GetDeviceInfo(&info)) SetAnalyser(about, info);
    const int32_t count = factory ? factory->GetCount() : 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t cls = 0, subclass = 0, protocol = 0;
        if (!factory->GetInfo(i, &cls, &subclass, &protocol)) continue;
        std::string path;
        factory->GetPath(&path, i);
        about.plugins.push_back({ids.GetClassName(cls), ids.GetSubClassName(cls, subclass),
                                 ids.GetProtocolName(cls, subclass, protocol), ReadFileVersion(path)});
    }
    return about;
}

std::string ReadFileVersion(const std::string& path) {
    if (path.empty()) return {};
    void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!module) return {};
    std::string version;
    if (const auto* text = static_cast<const char*>(::dlsym(module, "OrvaneFileVersion"))) version = text;
    ::dlclose(module);
    return version;
}

}  // namespace orvane::app
