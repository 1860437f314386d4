// The list-row summary that IDecode::Summarize fills; -1 marks an empty cell.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "PacketRecord.h"

namespace orvane {

// Low 16 bits of ItemSummary::status: the result.
enum ItemStatus : int32_t {
    StatusAck = 0, StatusNyet = 1, StatusNak = 2, StatusStall = 3,
    StatusOk = 4, StatusFailed = 5, StatusError = 7,
};
// High 16 bits: the error class.
enum ItemErrorClass : int32_t {
    ErrorClassNone = 0, ErrorClassDataLength = 1, ErrorClassPid = 2,
    ErrorClassCrc5 = 3, ErrorClassCrc16 = 4, ErrorClassBitStuff = 5,
};
constexpr int32_t MakeItemStatus(int32_t result, int32_t errorClass) { return (errorClass << 16) | result; }
// The parts of a status; -1 (no status) has no result and no error class.
constexpr int32_t StatusResult(int32_t status) { return status < 0 ? -1 : status & 0xFFFF; }
constexpr int32_t StatusErrorClass(int32_t status) { return status < 0 ? ErrorClassNone : status >> 16; }
// A row's status with an error class added; a row without a result of its
// own reads "Error".
constexpr int32_t WithErrorClass(int32_t status, int32_t errorClass)
{
    if (errorClass == ErrorClassNone) return status;
    return MakeItemStatus(status < 0 ? StatusError : StatusResult(status), errorClass);
}
// A control transfer's result by the handshake that ended its last stage: a
// STALL is no success, and without a status stage there is no result.
constexpr int32_t ControlTransferResult(uint8_t handshake)
{
    return handshake == PidAck || handshake == PidNyet ? StatusOk : handshake == PidStall ? StatusStall : -1;
}

enum BusSpeed : int32_t { BusSpeedLow = 1, BusSpeedHigh = 2, BusSpeedFull = 3 };

struct ItemSummary {
    std::string name;
    int32_t icon = -1;
    int32_t address = -1;
    int32_t endpoint = -1;
    int32_t interface = -1;
    int32_t status = -1;
    int32_t speed = -1;
    int32_t size = -1;
    int32_t duration = 0;   // ticks of 1/60 MHz
    int32_t idle = 0;       // ticks since the end of the previous record
    int64_t time = 0;       // 48-bit time stamp of the first packet
};

// One decoded field; becomes one `item` of a decode-result document.
struct FieldRecord {
    std::string name;
    std::string value;
    std::string tip;
    uint32_t bits = 0;
};

enum NotifyCode : int32_t {
    NotifyConfiguration = 0,  // arg: configuration descriptor bytes, param: their count
    NotifyDataLength = 1,     // arg: the UsbItem, param: uint32_t* receiving its data length
    // arg: the UsbItem; answers 1 when a data packet within it lost its payload
    // (PacketRecord::PayloadLost): its data as GetData gives them stop there.
    // param: null, or a const char** that an answer of 1 may set to the text
    // its data show (kPayloadUnreadText when all it lacks was only not read).
    NotifyPayloadLost = 2,
    // arg: a TurnRecords. Told to a class decoder made after the decoding to
    // describe the rows of one turn of a device at its address: what it looks
    // for beside a row it takes from that turn, or else from its own device.
    NotifyTurn = 3,
    // arg: a control pipe's IN transaction; answers 1 when the pipe's next
    // token is an OUT or PING: the status stage of a data stage that ended
    // there, which a request whose setup was not captured cannot tell.
    NotifyOutNextOnPipe = 4,
};

struct LevelFindings;

// The records of the turn a class decoder serves, [from, to), and which
// records of its address its own device sent in other turns.
struct TurnRecords {
    uint32_t from = 0;
    uint32_t to = 0;
    // The device of the address that sent the record, as `device` names this
    // turn's. Answers for `owner`, which outlives every decoder it is told to.
    uint32_t (*deviceOf)(const TurnRecords& turn, uint32_t record) = nullptr;
    const void* owner = nullptr;
    uint8_t address = 0;
    uint32_t device = 0;
    // Shared by every decoder of the interface at the address; null when the
    // owner keeps nothing for them.
    std::shared_ptr<LevelFindings> findings;
};

// What every pane shows in place of the bytes of such a packet.
constexpr const char* kPayloadLostText = "分析仪未保留数据";
// The same for a packet whose payload the analyser held but that was not read
// from it (a record read cut short), or whose read from it failed.
constexpr const char* kPayloadUnreadText = "未从分析仪读取数据";
// Whether a lost answer's text is the unread one. By content: every module
// (a class decoder's plug-in, say) holds its own copy of these texts.
inline bool IsPayloadUnreadText(const char* text) { return text && std::strcmp(text, kPayloadUnreadText) == 0; }

}  // namespace orvane
