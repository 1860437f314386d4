// A fresh folder on disk for the project files a benchmark writes, removed
// with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>

namespace orvane::bench {

struct BenchFolder {
    std::filesystem::path path = [] {
        char folder[] = "/var/tmp/orvane-bench-XXXXXX";
        return std::filesystem::path(::mkdtemp(folder));
    }();
    ~BenchFolder() { std::filesystem::remove_all(path); }
};

}  // namespace orvane::bench
