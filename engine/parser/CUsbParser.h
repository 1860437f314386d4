// The packet parser: turns a capture's packet records into the transaction-
// level item tree of packets, transactions, split transactions, runs of NAKed
// transactions, SOF runs and host-chirp runs, handed to a sink one step late.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include <memory>
#include <vector>

#include "CDecodeRequest.h"
#include "DeviceTree.h"
#include "IDecode.h"
#include "RecordReader.h"
#include "SlotCache.h"

namespace orvane {

class CUsbParser : public IUsbDecoder {
public:
    CUsbParser();
    virtual ~CUsbParser();

    // ---- IDecode ----
    void Release() override;
    int32_t Summarize(UsbItem* item, ItemSummary* out) override;
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetDetail(UsbItem* item, std::string& xml) override;
    const ImageList* GetImageList(UsbItem* item) override;
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override;

    // ---- IUsbDecoder ----
    int32_t SetDataSource(IDataSource* source) override;
    int32_t Parse(IProgress* sink) override;
    int32_t GetDeviceTree(std::string& xml) override;
    int32_t GetTypeName(int32_t type, std::string& name) override;
    int32_t SummarizePacket(UsbItem* item, ItemSummary* out) override;
    int32_t SummarizeTransaction(UsbItem* item, ItemSummary* out) override;
    int32_t GetPacketData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetTransactionData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetPacketDetail(UsbItem* item, std::string& xml) override;
    int32_t GetTransactionDetail(UsbItem* item, std::string& xml) override;

    // Ends a running parse from any thread as if the capture ended there; a
    // cancel that comes before a parse ends that parse at its first record.
    void Cancel() { cancel_ = true; }
    bool Cancelled() const { return cancelled_; }
    // A record that stays "not yet" longer than this ends the parse; zero
    // waits until cancelled.
    void SetWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }
    void SetRetryDelay(std::chrono::milliseconds delay) { retryDelay_ = delay; }
    IDataSource* DataSource() const { return source_; }

protected:
    // Learns each device's descriptors from its completed standard requests.
    void TrackControlTransfer(UsbItem* item);
    // Forgets what was learned; a new parse starts from nothing.
    void ResetLearning();
    bool AddressSeen(uint8_t address) const { return address < 128 && seen_[address]; }

private:
    // SummarizePacket; without `named` the name is left as it is, for the
    // packets of a transaction whose row takes the transaction's name.
    int32_t FillPacketSummary(UsbItem* item, ItemSummary* out, bool named);
    // The record at `index` now: 1 delivered, 2 not yet, 0 none.
    int32_t Read(uint32_t index, const PacketRecord** record) {
        if (const PacketRecord* p = reader_.Peek(index)) {
            *record = p;
            return RecordOk;
        }
        return ReadFromSource(index, record);
    }
    // PID of a following record, 0 when it cannot be read right now.
    uint8_t PidAt(uint32_t index, const PacketRecord** record = nullptr) {
        if (const PacketRecord* p = reader_.Peek(index)) {
            if (record) *record = p;
            return p->PidNibble();
        }
        return PidFromSource(index, record);
    }
    // Both for a record outside the span in memory.
    int32_t ReadFromSource(uint32_t index, const PacketRecord** record);
    uint8_t PidFromSource(uint32_t index, const PacketRecord** record);

    UsbItem* BuildBusEvent(uint32_t& index, const PacketRecord& r);
    UsbItem* BuildTransaction(uint32_t& index, const PacketRecord& token);
    UsbItem* BuildSplit(uint32_t& index, const PacketRecord& split);
    // The packets of one transaction, consecutive records from `first`.
    struct Members {
        explicit Members(uint32_t at) : first(at) {}
        void Add(uint8_t pid) { pids[n++] = pid; }
        void End(uint8_t handshake) { Add(handshake), status = handshake; }
        uint32_t first;
        uint8_t pids[4] = {};
        uint32_t n = 0;
        uint8_t status = kNone;
    };
    UsbItem* MakeTransaction(uint16_t type, const Members& m, const PacketRecord& token, uint32_t& index);

    void Offer(UsbItem* item);
    void ReleasePending();
    void DropPending();
    bool WaitForRecord(uint32_t index, const PacketRecord** record);
    void ReportProgress(uint32_t index);

    // The record an item starts at, read again from the source.
    bool RecordOf(const UsbItem* item, PacketRecord* out);
    bool RecordAt(uint32_t index, PacketRecord* out);
    // A packet, or the data packet of a transaction or of a control transfer's
    // stage, whose payload the capture lacks (NotifyPayloadLost).
    bool PayloadLostIn(const UsbItem* item) { return LostTextOf(item) != nullptr; }
    // The text that stands for such an item's data, null when it lacks none:
    // the unread text when every payload it lacks was only not read.
    const char* LostTextOf(const UsbItem* item);
    // Whether the next token of `item`'s pipe after it is an OUT or a PING.
    bool OutNextOnPipe(const UsbItem* item);
    // How far past an IN stage its pipe's next token is looked for.
    static constexpr uint32_t kNextTokenLook = 4096;
    // A token at `at`: the next one of its default pipe after an IN stage.
    void NoteToken(uint32_t at, const PacketRecord& token);
    // An IN stage followed on its pipe by one of these was an empty data
    // stage, and this token begins its status stage.
    static bool StatusOutToken(uint8_t pid) { return pid == PidOut || pid == PidPing; }
    // The error class of the first damaged packet below `item`, 0 for none.
    int32_t ErrorClassWithin(const UsbItem* item);
    int32_t PacketBytes(const PacketRecord& record, uint16_t type, uint8_t* buffer, uint32_t capacity);

    UsbItem* NewItem(uint16_t type, uint32_t first) { return new (items_.Get()) UsbItem(type, first); }
    // Storage for a child list of `members` (UsbItemList::StorageBytes): the short ones
    // from the parser's own caches, so no one else takes turns at their free lists.
    void* ListStorage(uint32_t members);

    IDataSource* source_ = nullptr;
    IProgress* sink_ = nullptr;
    // Items and three-member lists are the same size and come from one cache:
    // two caches taking turns at one free list scatter both trees over each other.
    SlotCache<sizeof(UsbItem)> items_;
    SlotCache<UsbItemList::StorageBytes(1)> lists1_;
    SlotCache<UsbItemList::StorageBytes(2)> lists2_;
    SlotCache<UsbItemList::StorageBytes(4)> lists4_;
    RecordReader reader_;  // the parse's only: descriptions come from other threads too
    PacketRecord scratch_[3] = {};  // the current record and two look-aheads read outside a peeked span

    // The pending run: its first item, and the group node once a second joins.
    UsbItem* pendingFirst_ = nullptr;
    UsbItem* pendingGroup_ = nullptr;
    std::vector<UsbItem*> pendingMembers_;  // the group's members until it is released

    // A SET_ADDRESS to a device, or a device or configuration descriptor read
    // from an address: the transfers learned from.
    static bool Teaches(uint8_t address, const CDeviceRequest& setup);
    // The setup bytes of an acknowledged SETUP stage; answers as GetData does.
    int32_t SetupBytesOf(UsbItem* stage, uint8_t (&bytes)[8]);
    // Learns from a transfer the learner handed out, then frees it.
    void LearnFrom(uint8_t address, UsbItem* done);
    void Learn(uint8_t address, UsbItem* transfer);

    // Per-address standard-request decoders; the transfers they build belong to no tree.
    std::unique_ptr<CDecodeRequest> learners_[128];
    std::vector<uint8_t> learnBytes_;  // a learned transfer's data, kept for the next one
    DeviceTree tree_;
    uint8_t interfaceMap_[128][16] = {};  // interface + 1; 0 unknown
    bool seen_[128] = {};
    // The record of the SET_ADDRESS that gave the address to a device not yet described.
    static constexpr uint32_t kNotHandedOut = UINT32_MAX;
    uint32_t handedOutAt_[128] = {};

    // The default pipes' next tokens, noted as the parse meets them, so that
    // a stage's look-ahead reads no records: for each address, the last record
    // of its newest IN stage whose next token is not met yet; the last records
    // of those whose next token was an OUT or a PING, in order; and how far the
    // parse went (0 until it has ended).
    static constexpr uint32_t kNoStage = UINT32_MAX;
    uint32_t stageAwaitingToken_[128] = {};
    std::vector<uint32_t> outAfterStage_;
    uint32_t parsedTo_ = 0;

    std::atomic<bool> cancel_{false};
    bool cancelled_ = false;
    std::chrono::milliseconds waitLimit_{0};
    std::chrono::milliseconds retryDelay_{50};
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace orvane
