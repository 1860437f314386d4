// Builds the transfer-level tree: binds one class decoder per (device address,
// interface) of each device that held the address, through the device tree, feeds it its interface's transactions,
// merges SOF runs, and afterwards describes the rows it handed out.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "DeviceTree.h"
#include "IDecode.h"
#include "LevelFindings.h"

namespace orvane {

class CDecodeRequest;

class CDecoderManager final : public IDecoderManager {
public:
    // `factory` (not owned, may be null) makes the class decoders.
    explicit CDecoderManager(IDecodeFactory* factory);
    ~CDecoderManager();
    CDecoderManager(const CDecoderManager&) = delete;
    CDecoderManager& operator=(const CDecoderManager&) = delete;

    // ---- IDecode: the host first, then the item's decoder ----
    void Release() override { delete this; }
    int32_t Summarize(UsbItem* item, ItemSummary* out) override;
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetDetail(UsbItem* item, std::string& xml) override;
    const ImageList* GetImageList(UsbItem* item) override;
    int32_t OnNotify(int32_t code, void* arg, intptr_t param) override;

    // ---- IDecoderManager ----
    void SetRoot(UsbItem* root) override { root_ = root; }
    void SetHost(IDecode* host) override { host_ = host; }
    // 1 either way; a text that is not XML keeps the previous tree.
    int32_t LoadDeviceTree(const std::string& xml) override;
    // 0 without root, host or sink, and when item memory ran out. Starts from
    // fresh decoders. A cancelled run hands over what it built so far and
    // still finishes its sink, as one that ran out does.
    int32_t DecodeAll(IProgress* sink) override;
    // Ends the running DecodeAll within an item, or the next one at its
    // start; any thread. The run consumes the request; one that came after
    // the run's end is withdrawn with ClearCancel.
    void Cancel() { cancel_ = true; }
    void ClearCancel() { cancel_ = false; }
    bool CancelPending() const { return cancel_; }
    // Whether the last DecodeAll stopped before its end.
    bool Cancelled() const { return cancelled_; }

    // Gives the factory's decoders back to it and destroys the built-in ones,
    // each once the last call into it on any thread has returned.
    void ReleaseDecoders();

    // Blank-separated hex tokens as bytes (a token that does not parse gives
    // 0); writes at most `capacity` and returns how many it wrote.
    static uint32_t ParseHexBytes(std::string_view text, uint8_t* buffer, uint32_t capacity);

    // Decoders made to describe rows of turns the decoding handed back: at
    // most this many are kept, the least recently used going first. One
    // made again for the same turn describes its rows alike.
    static constexpr size_t kDescribingDecoders = 64;
    // Another bound in place of kDescribingDecoders; takes effect as the next
    // one is made.
    void SetDescribingLimit(size_t limit) {
        std::lock_guard lock(decodersMutex_);
        describingLimit_ = std::max<size_t>(limit, 1);
    }

    size_t DecoderCount() const {
        std::lock_guard lock(decodersMutex_);
        return decoders_.size();
    }
    // The class keys the hand-back walks: bounded as the decoders are, also
    // for a manager decoding capture after capture.
    size_t HandBackKeyCount() const {
        std::lock_guard lock(decodersMutex_);
        size_t count = 0;
        for (const auto& keys : addressKeys_) count += keys.size();
        return count;
    }

private:
    // Shared by the table and every call into the decoder: a decoding that
    // starts afresh on the worker never frees one the UI thread is describing with.
    using DecoderRef = std::shared_ptr<IDecodeClass>;
    // What one (address, endpoint) binds to in this run: the same for every
    // item on it while the device tree and the decoders stay as they are.
    struct EndpointBinding {
        DecoderRef decoder;
        CDecodeRequest* standard = nullptr;  // the decoder, when it is the address's built-in one
        uint32_t from = 0, to = 0;  // the records of the device it was bound for
        uint8_t interface = kNone;
        bool known = false;
    };
    static constexpr size_t kEndpointSlots = 128 * 16;
    using ClassCode = std::tuple<int32_t, int32_t, int32_t>;
    struct Held {
        DecoderRef decoder;
        // Made to describe rows: its place in describedOrder_.
        bool describing = false;
        std::list<uint64_t>::iterator used;
        // The factory's index of its plug-in; -1 for the built-in decoder.
        int32_t plugin = -1;
    };

    // `interface` stands in for the item's own when not kNone. A description
    // makes no class decoder while a decoding runs.
    DecoderRef GetDecoder(const UsbItem* item, uint8_t interface = kNone, bool describing = false);
    void SetDecoding(bool on) {
        std::lock_guard lock(decodersMutex_);
        decoding_ = on;
    }
    // Both with decodersMutex_ held. A decoder made to describe rows is told
    // the records of its turn.
    // One made to describe rows may push the least recently used such one
    // out: into `evicted`, for the caller to let go of outside the lock.
    DecoderRef CreateClassDecoder(uint8_t address, uint8_t interface, uint32_t device, uint64_t key,
                                  bool describing, DecoderRef& evicted);
    // Takes the entry out of decoders_, and its key out of the LRU order.
    DecoderRef Forget(std::map<uint64_t, Held>::iterator it);
    DecoderRef BuiltInDecoder(uint8_t address);
    // NotifyTurn: the records of the turn of class key `key`, with what the
    // plug-in's decoders of its interface at the address found. With
    // decodersMutex_ held.
    void TellTurn(IDecodeClass& decoder, uint64_t key, int32_t plugin);
    // TurnRecords::deviceOf, for this manager's tree.
    static uint32_t DeviceOf(const TurnRecords& turn, uint32_t record);
    // Binds a top-level transaction-level item: writes its interface and
    // answers its decoder, looked up once per endpoint of `bindings`; one
    // that depends on the item is held in `unbound`.
    // `standard` is the decoder as the built-in one when it is that.
    IDecodeClass* BindItem(UsbItem* item, std::vector<EndpointBinding>& bindings, DecoderRef& unbound,
                           CDecodeRequest*& standard);
    // The forwarding calls' lookup: an item of no interface counts as interface 0.
    DecoderRef DecoderForDescription(const UsbItem* item);
    bool IsClassRequest(const UsbItem* transfer);

    // An address's turn `turn` began: the class decoders of its earlier
    // turns get no more traffic and are handed back once the address's
    // built-in decoder holds none of their transfers.
    void NoteTurn(uint8_t address, uint32_t turn);
    void HandBackTakenOver(uint8_t address, std::vector<EndpointBinding>& bindings, DecoderRef& unbound);
    // Frees what the decoders handed back left at their flush, when the run
    // fails before the end hands it to the sink in key order among the rest.
    void FreeHandedBack();

    void Emit(UsbItem* item);
    void TakeSof(UsbItem* sof);
    // The pending run; made when there is none yet, of the lone SOF or
    // starting at `firstRecord`.
    UsbItem* SofRun(uint32_t firstRecord);
    void ReleasePendingSofs();
    void DropPendingSofs();

    IDecodeFactory* factory_;
    IDecode* host_ = nullptr;
    UsbItem* root_ = nullptr;
    IProgress* sink_ = nullptr;
    // The SOF run being gathered. Its members' parent stays the parser's
    // group: the transaction level describes them long after this one is freed.
    UsbItem* pendingSofs_ = nullptr;
    // A SOF pending alone, before any run: at most one of the two is set.
    UsbItem* pendingSof_ = nullptr;
    // The rows shown are described from the UI thread while a decoding runs
    // on the worker: both look decoders up, and either may make one.
    mutable std::mutex decodersMutex_;
    // Those down to factoryMutex_ under decodersMutex_.
    std::map<uint64_t, Held> decoders_;
    // The keys of the decoders made to describe, the most recently used first.
    std::list<uint64_t> describedOrder_;
    size_t describingLimit_ = kDescribingDecoders;
    // The class keys of decoders_ by address: a turn hands back the earlier
    // turns at its address without walking the decoders of other addresses.
    std::vector<uint64_t> addressKeys_[128];
    // By plug-in, address and interface: what their decoders found in the
    // level, for as long as it stands. Decoders made to describe rows come
    // and go; this stays until the decoders are released.
    std::map<uint64_t, std::shared_ptr<LevelFindings>> findings_;
    // A decoding is appending to the transfer level.
    bool decoding_ = false;
    // Class codes whose plug-in could not be found or made in this run.
    std::set<ClassCode> failed_;
    std::vector<uint8_t> work_;
    // The configuration text last read, and its bytes.
    std::string workText_;
    std::vector<uint8_t> workBytes_;
    // The factory makes decoders under decodersMutex_ but takes them back
    // wherever the last reference goes; this serialises the two.
    std::mutex factoryMutex_;
    DeviceTree tree_;
    // The run's latest turn of each address, and whether its earlier turns
    // may still have decoders.
    uint32_t latestTurn_[128] = {};
    bool takenOver_[128] = {};
    // The decoders handed back last, flushed, held until the next hand-back.
    std::vector<DecoderRef> retired_;
    // Key and flushed rest of each decoder handed back during the run.
    std::vector<std::pair<uint64_t, UsbItem*>> handedBack_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> cancelled_{false};
};

}  // namespace orvane
