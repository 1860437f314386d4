// The plug-in libraries of a folder beside the program.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace orvane {

// Full paths of the regular "*.so" files in `folder`, sorted by file name:
// directory order is arbitrary, and what the plug-ins register must not be.
inline std::vector<std::string> ListPluginLibraries(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->path().extension() == ".so" && it->is_regular_file(typeError))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (std::string& name : names) name = folder + "/" + name;
    return names;
}

}  // namespace orvane
