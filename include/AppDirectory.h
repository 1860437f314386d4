// The running program's folder; the plug-in folders and "common" are found from it.
#pragma once

#include <unistd.h>

#include <string>

namespace orvane {

inline std::string GetAppDirectory() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string s(path, size_t(n));
    auto slash = s.rfind('/');
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

}  // namespace orvane
