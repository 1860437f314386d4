// The packet parser as far as a class decoder sees it, for tests and fuzzing:
// scripted transactions, NAK runs and control transfers with their list rows
// and payload bytes, so a decoder is driven without parsing any capture.
//
//   CFakeHost host;                           // owns every item it makes
//   host.SetDevice(5, 0);                     // address 5, interface 0
//   UsbItem* cbw = host.Out(bytes);           // OUT on the OUT endpoint, ACKed
//   UsbItem* naks = host.NakRun(ItemInTransaction, 3);
//   decoder->SetHost(&host);
//   std::vector<UsbItem*> out = Feed(*decoder, {cbw, naks, ...});  // with the flush
//   ...
//   host.FreeDecoderItems(out);               // what the decoder made, not the host's
//
// Records are numbered from 1 in the order items are made; a row's time
// stamp is its record number × 1000 ticks, its duration 500. Summarize,
// GetData and GetDetail answer as the parser does for the items it made
// (a control transfer: its SETUP's row, 0 unless a standard request, its data
// stage as data), and refuse every other item.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "IDecode.h"
#include "PacketRecord.h"

namespace orvane {

class CFakeHost final : public IDecode {
public:
    CFakeHost() = default;
    ~CFakeHost();
    CFakeHost(const CFakeHost&) = delete;
    CFakeHost& operator=(const CFakeHost&) = delete;

    // Where the next items stand: device address and interface (kNone: none
    // given, as the parser leaves it) and the speed of their rows.
    void SetDevice(uint8_t address, uint8_t interface = kNone, int32_t speed = BusSpeedHigh);
    // The endpoint numbers In and Out use (default 1 and 2).
    void SetEndpoints(uint8_t in, uint8_t out);

    // A transaction of `type` closed by the handshake PID `status` (kNone:
    // none), carrying `payload`, on the IN endpoint for IN-like types, else OUT.
    UsbItem* Transaction(uint16_t type, uint8_t status, std::vector<uint8_t> payload = {});
    UsbItem* In(std::vector<uint8_t> payload, uint8_t status = PidAck) { return Transaction(ItemInTransaction, status, std::move(payload)); }
    UsbItem* Out(std::vector<uint8_t> payload, uint8_t status = PidAck) { return Transaction(ItemOutTransaction, status, std::move(payload)); }
    // `count` NAKed transactions of `type` in one run (type 29), as the parser groups them.
    UsbItem* NakRun(uint16_t type, uint32_t count);
    // A finished control transfer (type 256) on endpoint 0 as the standard-request
    // decoder hands it on: SETUP, the data stage in packets of `packetSize`
    // (IN when the request is device-to-host), and the status stage.
    UsbItem* ControlTransfer(std::span<const uint8_t> setup, std::vector<uint8_t> data = {}, uint32_t packetSize = 64);
    // Any item, taking `children` (their parent set to it).
    UsbItem* Item(uint16_t type, std::vector<UsbItem*> children = {}, uint8_t status = kNone,
                  std::vector<uint8_t> payload = {});

    void SetPayload(const UsbItem* item, std::vector<uint8_t> payload);
    // A transaction whose data packet lost its payload, as the parser gives
    // it: no bytes, its row's size kept, and NotifyPayloadLost answered
    // unless it is a zero-length packet, which lost its CRC alone. `lost`
    // false gives them back.
    void LosePayload(const UsbItem* item, bool lost = true);
    // A transaction whose payload read from the analyser fails: each read
    // gives no bytes and from then on it lost its payload, as only not read
    // (kPayloadUnreadText; a control transfer's text stays the ring's), until
    // LosePayload(item, false). Not for tests that describe on two threads.
    void FailReads(const UsbItem* item);
    // Null for an item the host did not make.
    const std::vector<uint8_t>* Payload(const UsbItem* item) const;
    ItemSummary* Row(const UsbItem* item);
    bool Made(const UsbItem* item) const { return entries_.count(item) != 0; }
    // Every item made, in order.
    const std::vector<UsbItem*>& Items() const { return made_; }

    // Frees every item below (and including) `items` that the host did not
    // make: the decoder's class-level items. The host's own are left.
    void FreeDecoderItems(const std::vector<UsbItem*>& items);

    // How many GetData calls reached the host.
    uint64_t DataCalls() const { return dataCalls_; }
    // How many payload bytes GetData copied out.
    uint64_t BytesCopied() const { return bytesCopied_; }
    // The describing slots only read the items, so two threads may call them
    // at once (a worker decoding while the UI thread describes).

    // ---- IDecode ----
    void Release() override {}
    int32_t Summarize(UsbItem* item, ItemSummary* out) override;
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetDetail(UsbItem* item, std::string& xml) override;
    const ImageList* GetImageList(UsbItem* item) override;
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override;

private:
    struct Entry {
        std::vector<uint8_t> payload;
        ItemSummary row;
        bool lost = false;
        bool failsRead = false;
    };
    bool Lost(const UsbItem* item) const;
    UsbItem* Make(uint16_t type, uint8_t endpoint, uint8_t status, std::vector<uint8_t> payload);

    std::unordered_map<const UsbItem*, Entry> entries_;
    std::vector<UsbItem*> made_;
    uint32_t nextRecord_ = 1;
    uint8_t address_ = 1;
    uint8_t interface_ = kNone;
    int32_t speed_ = BusSpeedHigh;
    uint8_t in_ = 1;
    uint8_t out_ = 2;
    std::atomic<uint64_t> dataCalls_ = 0;
    std::atomic<uint64_t> bytesCopied_ = 0;
};

// Feeds `items` to the decoder in order, then flushes it; answers every item
// it handed back, in order.
std::vector<UsbItem*> Feed(IDecodeClass& decoder, std::span<UsbItem* const> items);

// "type(child child)" of an item and of its class-level descendants; the
// host's items as "type#record".
std::string DescribeTree(const CFakeHost& host, const UsbItem* item);
std::string DescribeTree(const CFakeHost& host, std::span<UsbItem* const> items);

}  // namespace orvane
