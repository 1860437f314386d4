// What the About box shows: the program's version, the analyser's identity and
// the class-decoder plug-ins with their names and versions.
#pragma once

#include <string>
#include <vector>

#include "DeviceStatus.h"

namespace orvane {
class CUsbIdDatabase;
class IDecodeFactory;
class IDevice;
}  // namespace orvane

namespace orvane::app {

struct AboutInfo {
    static constexpr const char* kUnknown = "未知";

    struct Plugin {
        std::string className;
        std::string subclassName;
        std::string protocolName;
        std::string version;
    };

    std::string programVersion = kUnknown;
    std::string firmware = kUnknown;
    std::string algorithm = kUnknown;
    std::string model = kUnknown;
    std::string serial = kUnknown;
    std::vector<Plugin> plugins;
};

// "a.b.c.d" from the most significant byte down.
std::string FormatVersion(uint32_t version);
// "Orvane-II" for this analyser, else "major.minor" of the low two bytes.
std::string FormatModel(uint32_t model);
// Fills the analyser's four fields from `info`.
void SetAnalyser(AboutInfo& about, const DeviceInfo& info);
// `device` and `factory` may be null; names come from `ids`.
AboutInfo CollectAboutInfo(IDevice* device, IDecodeFactory* factory, const CUsbIdDatabase& ids);

// The text of a library's "OrvaneFileVersion" export; empty when it has none
// or does not load.
std::string ReadFileVersion(const std::string& path);

}  // namespace orvane::app
