// The analyser's command protocol: command blocks, opcodes, and its register
// and capture-memory map.
#pragma once

#include <cstdint>

namespace orvane::pardix {

enum Opcode : uint16_t {
    OpDownloadConfig = 0xFE01,
    OpDeviceInfo = 0xFD02,
    OpWriteRegisters = 0xFC03,
    OpReadRegisters = 0xFB04,
    OpWriteMemory = 0xFA05,
    OpReadMemory = 0xF708,
};

enum Register : uint32_t {
    RegClearControl = 0x82000000,
    RegClearExtent = 0x82000004,
    RegFilterBlock = 0x82000100,
    RegPayloadWindow = 0x82000180,
    RegRecordWindow = 0x82000190,
    RegPayloadPort = 0x820001A0,
    RegRecordPort = 0x820001A8,
    RegControlBlock = 0x82000200,
    RegResetStrobe = 0x82000FF8,
    RegTriggerTable = 0x82004000,
    RegPatternBase = 0x82006000,
};

constexpr uint32_t kPatternStride = 0x200;
constexpr uint32_t kClearExtent = 0x3FFFFFF;
constexpr uint32_t kClearDone = 0x2;

constexpr uint32_t kCommandBytes = 60;
constexpr uint32_t kInlineBytes = 44;
constexpr uint32_t kDeviceInfoBytes = 52;
constexpr uint32_t kBulkPiece = 0x10000;      // bulk writes are split here
constexpr uint32_t kRecordsPerRead = 1024;
constexpr uint32_t kUploadChunk = 0x20000;

#pragma pack(push, 1)
struct CommandBlock {
    uint16_t opcode;
    uint16_t argument;
    uint32_t address;
    uint32_t length;
    uint32_t unused;
    uint8_t data[kInlineBytes];
};
#pragma pack(pop)
static_assert(sizeof(CommandBlock) == kCommandBytes);

// Control flag bits of ControlBlock::control.
enum ControlFlag : uint32_t {
    CtlRun = 1u << 0,
    CtlDataComplete = 1u << 1,
    CtlTriggered = 1u << 3,
    CtlEnded = 1u << 4,
};

constexpr uint32_t kHoldUnconfigured = 0xFFFFFFFFu;

// The analyser's 44-byte control and status block, eleven u32 words.
struct ControlBlock {
    uint32_t hold;
    uint32_t control;
    uint32_t prePacketBytes;
    uint32_t packetMask;
    uint32_t prePayloadBytes;
    uint32_t payloadMask;
    uint32_t packetBytesCaptured;
    uint32_t payloadBytesCaptured;
    uint32_t packetStart;
    uint32_t payloadStart;
    uint32_t triggerAddress;
};
static_assert(sizeof(ControlBlock) == 44);

// The filter register block; the data source keeps an image and writes it whole.
struct FilterBlock {
    uint32_t hold;
    uint32_t flags;           // FilterFlags; bit 0 drop mode, bit 1 advanced conditions on
    uint32_t addresses;       // condition i in bits 7i .. 7i+6
    uint32_t unused;
    uint16_t upstream[4];
    uint16_t downstream[4];
};
static_assert(sizeof(FilterBlock) == 32);

constexpr uint32_t kFilterDrop = 1u << 0;
constexpr uint32_t kFilterAdvanced = 1u << 1;

constexpr int kTriggerSteps = 16;
constexpr uint32_t kPatternBytes = 512;

#pragma pack(push, 1)
// Sixteen step words and the hold word (1 held, 0 armed).
struct TriggerTable {
    uint64_t steps[kTriggerSteps];
    uint32_t hold;
};
#pragma pack(pop)
static_assert(sizeof(TriggerTable) == 132);

// Fields of one trigger step word.
constexpr uint64_t kStepPairsMask = 0x1FF;
constexpr int kStepPidShift = 9;
constexpr int kStepEndpointShift = 21;
constexpr int kStepAnyAddressBit = 37;
constexpr int kStepAddressShift = 38;
constexpr int kStepUsedBit = 45;
constexpr uint64_t kStepFieldsMask = (1ull << 46) - 1;

}  // namespace orvane::pardix
