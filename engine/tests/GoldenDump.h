// Decoded trees dumped row by row and compared whole with a stored dump.
// Set ORVANE_UPDATE_GOLDEN=1 to rewrite the stored dumps after a deliberate
// change; a difference prints a unified diff.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "IDecode.h"

namespace orvane::testing {

// One line a row: record, type, the row's cells, data length, children and
// name. Class-level items (types above 256) are followed by the class-level
// items below them, one more space of indent a level.
inline void DumpRows(IDecode& decoder, const UsbItem& root, const char* level, std::ostringstream& out,
                     const std::string& indent = "")
{
    ItemSummary row;
    for (UsbItem* item : root.children) {
        int32_t described = decoder.Summarize(item, &row);
        std::string xml;
        decoder.GetDetail(item, xml);
        int32_t bytes = decoder.GetData(item, nullptr, 0);
        out << level << indent << ' ' << item->firstRecord << " t" << item->type << " a" << row.address << " e"
            << row.endpoint << " i" << row.interface << " s" << row.status << " n" << row.size << " d" << bytes
            << " k" << item->children.size() << ' ' << (described ? row.name : "-") << '\n';
        if (item->type > ItemControlTransfer) DumpRows(decoder, *item, level, out, indent + " ");
    }
}

// Fails with a diff when `dump` differs from the file `golden`; skips after
// rewriting it when asked to.
inline void ExpectMatchesGolden(const std::string& dump, const std::filesystem::path& golden)
{
    namespace fs = std::filesystem;
    if (std::getenv("ORVANE_UPDATE_GOLDEN")) {
        std::ofstream(golden) << dump;
        GTEST_SKIP() << "rewrote " << golden;
    }
    std::ifstream stored(golden);
    ASSERT_TRUE(stored) << "no stored dump " << golden << " (run with ORVANE_UPDATE_GOLDEN=1)";
    std::string expected((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    if (expected == dump) return;
    fs::path actual = fs::temp_directory_path() / (golden.stem().string() + ".actual.txt");
    std::ofstream(actual) << dump;
    std::string command = "diff -u '" + golden.string() + "' '" + actual.string() + "' | head -60";
    std::fflush(stdout);
    std::system(command.c_str());
    FAIL() << "dump differs from " << golden;
}

}  // namespace orvane::testing
