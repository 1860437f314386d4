// Scratch folders and whole-file reads and writes for the application tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvane::testing {

// A private folder, removed with everything in it.
struct TempDir {
    std::filesystem::path path = [] {
        char folder[] = "/tmp/orvane-app-XXXXXX";
        return std::filesystem::path(::mkdtemp(folder));
    }();
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Makes the folders on the way.
inline void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace orvane::testing
