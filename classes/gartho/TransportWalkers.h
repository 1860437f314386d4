// The bulk-only transport's own structures: the class request's setup
// packet, the 31-byte command block wrapper and the 13-byte command status
// wrapper, as field tables with their tips.
#pragma once

#include <cstdint>
#include <span>

#include "FieldTable.h"

namespace orvane::gartho {

constexpr uint32_t kCbwBytes = 31;
constexpr uint32_t kCswBytes = 13;
constexpr uint32_t kCbwFlags = 12;        // bmCBWFlags; bit 7 set: data in
constexpr uint32_t kCbwLength = 8;        // dCBWDataTransferLength
constexpr uint32_t kCbwLun = 13;          // bCBWLUN, bits 0-3
constexpr uint32_t kCommandBlockAt = 15;  // CBWCB, its first byte the operation code
constexpr uint32_t kCbwFieldBits = 120;   // the wrapper's fields before CBWCB

constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kBulkOnlyReset = 0xFF;

// "Setup request": recipient, type, direction, bRequest, wValue, wIndex, wLength.
std::span<const ClassField> DeviceRequestFields();
// "Command Block Wrapper": the fields before the command block.
std::span<const ClassField> CommandBlockWrapperFields();
// "Command Status Wrapper".
std::span<const ClassField> CommandStatusWrapperFields();

}  // namespace orvane::gartho
