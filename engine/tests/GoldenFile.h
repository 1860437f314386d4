// Compares a dump with its stored golden file, printing a unified diff when
// they differ. ORVANE_UPDATE_GOLDEN=1 rewrites the stored file instead, so an
// update is always a deliberate command.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orvane::testing {

inline void ExpectMatchesGolden(const std::filesystem::path& golden, const std::string& dump)
{
    if (std::getenv("ORVANE_UPDATE_GOLDEN")) {
        std::ofstream(golden) << dump;
        GTEST_SKIP() << "rewrote " << golden;
    }
    std::ifstream stored(golden);
    ASSERT_TRUE(stored) << "no stored dump " << golden << " (run with ORVANE_UPDATE_GOLDEN=1)";
    const std::string expected((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    if (expected == dump) return;
    const std::filesystem::path actual =
        std::filesystem::temp_directory_path() / (golden.stem().string() + ".actual.txt");
    std::ofstream(actual) << dump;
    const std::string command = "diff -u '" + golden.string() + "' '" + actual.string() + "' | head -60";
    std::fflush(stdout);
    std::system(command.c_str());
    FAIL() << "dump differs from " << golden;
}

}  // namespace orvane::testing
