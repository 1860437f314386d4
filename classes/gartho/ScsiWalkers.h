// The field walkers of the SCSI commands a bulk-only device is sent, and of
// the data three of them answer with: one table of fields per command block,
// looked up by operation code, and data walkers keyed 0xFF00 + the code.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "FieldTable.h"

namespace orvane::gartho {

// Data walkers, by the transfer type of their command.
constexpr uint16_t kReadCapacityData = 0xFF25;
constexpr uint16_t kFormatCapacityData = 0xFF23;
constexpr uint16_t kModeSense6Data = 0xFF1A;

// A command block is the 16 bytes of CBWCB.
constexpr uint32_t kCommandBlockBytes = 16;

// The walker for an operation code (below 0x100) or a data key; null for
// any other. Each call makes a fresh walker.
std::unique_ptr<IEnumerable> MakeWalker(uint16_t key);
bool HasWalker(uint16_t key);

// Every field table with the bytes of its structure, for checking: the
// command blocks by operation code, then the data and mode-page tables.
std::vector<std::pair<uint32_t, std::span<const ClassField>>> FieldTables();

// "%d bytes", "%.3g KB(%d bytes)" or "%.6g MB(%d bytes)".
std::string FormatSize(uint64_t bytes);

}  // namespace orvane::gartho
