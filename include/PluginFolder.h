// The plug-in libraries of a folder beside the program.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
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

// Once a library's code has run it stays mapped: a later dlclose only drops the
// count, so nothing it handed out (vtables, image data, static texts) can point
// into unmapped memory.
constexpr int kPinnedPluginFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

inline std::string LastDlError() {
    const char* text = ::dlerror();
    return text ? text : "unknown loader error";
}

// One log line per library that is left out; a broken plug-in is never fatal.
inline void LogSkippedPlugin(const char* kind, const std::string& path, const std::string& why) {
    std::fprintf(stderr, "orvane: %s plug-in %s skipped: %s\n", kind, path.c_str(), why.c_str());
}

}  // namespace orvane
