#include "PacketCells.h"

#include <algorithm>
#include <cstdio>

#include "ChartText.h"
#include "ChartColour.h"
#include "ItemSummary.h"

namespace orvane::velmora {

namespace {

std::string Hex2(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

std::string Number(const char* format, uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

PacketCell Cell(std::string label, std::string value, uint8_t key, int32_t endBit)
{
    return {std::move(label), std::move(value), key, endBit};
}

}  // namespace

PacketPayload ReadPayload(IDataSource* source, const PacketRecord& r, std::vector<uint8_t>& buffer)
{
    PacketPayload payload;
    if (!source || KindOf(r.PidByte()) != PacketKind::Data) return payload;
    const int32_t n = source->GetPayload(&r, buffer.data(), uint32_t(buffer.size()), &payload.crc);
    payload.notRead = n == kPayloadNotRead;
    payload.bytes = buffer.data();
    payload.count = size_t(std::clamp<int64_t>(n, 0, int64_t(buffer.size())));
    return payload;
}

PacketKind KindOf(uint8_t pidByte)
{
    uint8_t nibble = pidByte & 0xF;
    if (((pidByte >> 4) ^ nibble) != 0xF) return PacketKind::Error;
    if (nibble == PidSof) return PacketKind::Sof;
    if (nibble == PidSplit) return PacketKind::Split;
    if ((nibble & 3) == 3) return PacketKind::Data;
    if ((nibble & 3) == 1 || nibble == PidPing) return PacketKind::Token;
    if ((nibble & 3) == 2) return PacketKind::Handshake;
    return PacketKind::None;
}

PacketCells BuildCells(const PacketRecord& r, const PacketPayload& payload)
{
    PacketCells out;
    uint8_t pid = r.PidByte();
    uint8_t nibble = pid & 0xF;
    out.kind = KindOf(pid);
    std::string pidValue = Hex2(pid);
    switch (out.kind) {
    case PacketKind::None:
        break;
    case PacketKind::Error:
        out.errorText = std::string("Error(") + PidName(pid) + ")";
        break;
    case PacketKind::Token:
        out.cells = {Cell(PidName(pid), pidValue, nibble, 8), Cell("Address", Hex2(r.Address()), KeyTokenAddress, 15),
                     Cell("Endpoint", Number("0x%X", r.Endpoint()), KeyTokenEndpoint, 19),
                     Cell("CRC-5", Hex2(r.Crc5()), KeyCrc5, 24)};
        out.totalBits = 24;
        break;
    case PacketKind::Sof:
        out.cells = {Cell("SOF", pidValue, PidSof, 8), Cell("Frame#", Number("%d", r.FrameNumber()), KeySofFrame, 19),
                     Cell("CRC-5", Hex2(r.Crc5()), KeyCrc5, 24)};
        out.totalBits = 24;
        break;
    case PacketKind::Split:
        out.cells = {Cell("SPLIT", pidValue, PidSplit, 8),
                     Cell("Hub address", Hex2(r.SplitHubAddress()), KeySplitHub, 15),
                     Cell("SC", Hex2(r.SplitComplete() ? 1 : 0), KeySplitSc, 16),
                     Cell("Hub port", Hex2(r.SplitHubPort()), KeySplitPort, 23),
                     Cell("S", Number("%d", r.SplitS() ? 1 : 0), KeySplitS, 24),
                     Cell("U", Number("%d", r.SplitE() ? 1 : 0), KeySplitU, 25),
                     Cell("ET", Number("%d", r.SplitEt()), KeySplitEt, 27), Cell("CRC-5", Hex2(r.Crc5()), KeyCrc5, 32)};
        out.totalBits = 32;
        break;
    case PacketKind::Data: {
        int32_t n = std::max<int32_t>(r.Length(), 2);
        size_t shown = std::min(payload.count, size_t(n - 2));
        // A payload the capture lacks has neither bytes nor a CRC to show.
        const bool lost = r.PayloadLost() || payload.notRead;
        const char* lostText = r.PayloadUnread() || payload.notRead ? kPayloadUnreadText : kPayloadLostText;
        out.cells = {Cell(PidName(pid), pidValue, nibble, 8),
                     Cell(std::string("Data (") + PidName(pid) + ")", lost ? std::string(lostText) : HexBytes(payload.bytes, shown),
                          KeyData, 8 * n - 8),
                     Cell("CRC-16", lost ? std::string() : Number("0x%04X", payload.crc), KeyCrc16, 8 * n + 8)};
        out.totalBits = 8 * n + 8;
        break;
    }
    case PacketKind::Handshake:
        out.cells = {Cell(PidName(pid), pidValue, nibble, 8)};
        out.totalBits = 8;
        break;
    }
    return out;
}

std::string HexBytes(const uint8_t* bytes, size_t count)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (!bytes || count == 0) return text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::vector<int64_t> CellEdges(const PacketCells& cells, int64_t left, int64_t right)
{
    std::vector<int64_t> edges;
    edges.reserve(cells.cells.size());
    if (cells.totalBits <= 0) return edges;
    __int128 width = __int128(right) - left;
    for (const PacketCell& cell : cells.cells) edges.push_back(int64_t(left + width * cell.endBit / cells.totalBits));
    return edges;
}

}  // namespace orvane::velmora
