// One packet as the row of field cells the packet drawing shows: what the
// cells say, their colours and where their edges fall in a rectangle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IDataSource.h"
#include "PacketRecord.h"

namespace orvane::velmora {

enum class PacketKind { None, Error, Token, Sof, Split, Data, Handshake };

struct PacketCell {
    std::string label;
    std::string value;
    uint8_t colourKey = 0;  // ColourOf(key)
    int32_t endBit = 0;     // right edge in bits from the packet's start
};

struct PacketCells {
    PacketKind kind = PacketKind::None;
    std::vector<PacketCell> cells;
    int32_t totalBits = 0;
    std::string errorText;  // the one text of an error packet
};

// The payload a data packet's cells show, as the data source served it.
struct PacketPayload {
    const uint8_t* bytes = nullptr;
    size_t count = 0;
    uint16_t crc = 0;
    bool notRead = false;  // held, but its read from the analyser failed
};

PacketKind KindOf(uint8_t pidByte);
// A data packet's payload read from `source` into `buffer` (its size the most
// read), as its cells show it: a read the analyser failed says so; other kinds have none.
PacketPayload ReadPayload(IDataSource* source, const PacketRecord& r, std::vector<uint8_t>& buffer);
// Data packets read `payload`; the others ignore it. A length field below 2
// counts as 2: an empty data cell, never a negative byte count.
PacketCells BuildCells(const PacketRecord& record, const PacketPayload& payload = {});

// "01 02 FF": each byte as two hex digits, single blanks between.
std::string HexBytes(const uint8_t* bytes, size_t count);

// Right edges of the cells between left and right: left + (right - left) *
// endBit / totalBits, exact for any width a deep zoom gives.
std::vector<int64_t> CellEdges(const PacketCells& cells, int64_t left, int64_t right);

}  // namespace orvane::velmora
