// The items every plug-in's fuzz target mixes into its own sequence: NAK runs,
// PINGs, control transfers, transactions of any type, long INs and items of
// types above the engine's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CFakeHost.h"
#include "FuzzInput.h"

namespace orvane {

// The handshake an input byte asks for: NAK, NYET or ACK by its two top bits.
inline uint8_t FuzzStatus(uint8_t op) { return (op & 0x80) ? PidNak : (op & 0x40) ? PidNyet : PidAck; }

// The item of `op` when its low nibble is 4, 5 or 8 to 11; null for the
// nibbles each target builds itself.
inline UsbItem* SharedFuzzItem(FuzzInput& in, CFakeHost& host, uint8_t op)
{
    const uint8_t status = FuzzStatus(op);
    switch (op & 0x0F) {
    case 4: return host.NakRun((op & 0x10) ? ItemOutTransaction : ItemInTransaction, 1 + in.Byte() % 4);
    case 5: return host.Transaction(ItemPingTransaction, status);
    case 8: {
        const std::vector<uint8_t> setup = in.Bytes(8);
        return host.ControlTransfer(setup, in.Bytes(in.Byte() % 64), 1 + in.Byte() % 64);
    }
    case 9: return host.Transaction(uint16_t(16 + in.Byte() % 240), status, in.Bytes(in.Byte()));
    case 10: return host.In(in.Bytes(size_t(in.Byte()) * 16 + in.Byte()));
    case 11: return host.Item(uint16_t(257 + in.Byte()), {}, status, in.Bytes(in.Byte()));
    default: return nullptr;
    }
}

// Up to `most` items read from the input: the shared ones above, and for every
// other byte what `own(op, status)` builds.
template <class Own>
std::vector<UsbItem*> FuzzItems(FuzzInput& in, CFakeHost& host, size_t most, Own own)
{
    std::vector<UsbItem*> items;
    while (!in.Empty() && items.size() < most) {
        const uint8_t op = in.Byte();
        UsbItem* shared = SharedFuzzItem(in, host, op);
        items.push_back(shared ? shared : own(op, FuzzStatus(op)));
    }
    return items;
}

}  // namespace orvane
