#include "CDecoderManager.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <tuple>
#include <utility>

#include "CDecodeRequest.h"
#include "CDeviceRequest.h"
#include "HexText.h"
#include "ItemTree.h"

namespace orvane {

namespace {

// A whole configuration descriptor set: wTotalLength is 16 bits.
constexpr uint32_t kWorkBytes = 0xFFFF;

// `device`: which of the devices that held the address (DeviceTree::DeviceAt).
uint64_t ClassKey(uint8_t address, uint8_t interface, uint32_t device) { return DeviceTree::IndexKey(address, interface, device); }
uint64_t BuiltInKey(uint8_t address) { return 1ull << 63 | uint64_t(address) << 8; }
bool IsBuiltInKey(uint64_t key) { return key >> 63; }
// The turn (DeviceTree::DeviceAt), the address and the interface of a class key.
uint32_t KeyTurn(uint64_t key) { return uint32_t(key >> 16); }
uint8_t KeyAddress(uint64_t key) { return uint8_t(key >> 8); }
uint8_t KeyInterface(uint64_t key) { return uint8_t(key); }

}  // namespace

CDecoderManager::CDecoderManager(IDecodeFactory* factory) : factory_(factory) {}

CDecoderManager::~CDecoderManager() {
    ReleaseDecoders();
    FreeHandedBack();
    DropPendingSofs();
}

int32_t CDecoderManager::LoadDeviceTree(const std::string& xml) {
    tree_.LoadDeviceTree(xml);
    return 1;
}

void CDecoderManager::ReleaseDecoders() {
    std::map<uint64_t, Held> gone;
    {
        std::lock_guard lock(decodersMutex_);
        gone.swap(decoders_);
        describedOrder_.clear();
        for (auto& keys : addressKeys_) keys.clear();
        failed_.clear();
        findings_.clear();
    }
    // Each goes here, or when a description still running with it returns.
}

uint32_t CDecoderManager::ParseHexBytes(std::string_view text, uint8_t* buffer, uint32_t capacity) {
    return uint32_t(ParseHexText(text, buffer, capacity));
}

// ---------------------------------------------------------------- binding

bool CDecoderManager::IsClassRequest(const UsbItem* transfer) {
    if (!host_ || transfer->children.empty()) return false;
    uint8_t bytes[8] = {};
    const int32_t got = host_->GetData(transfer->children[0], bytes, sizeof bytes);
    return got > 0 && (bytes[0] & 0x60) == 0x20;
}

CDecoderManager::DecoderRef CDecoderManager::BuiltInDecoder(uint8_t address) {
    const uint64_t key = BuiltInKey(address);
    auto it = decoders_.find(key);
    if (it != decoders_.end()) return it->second.decoder;
    auto* decoder = new CDecodeRequest;
    decoder->SetHost(host_);
    // Made here, not by the factory.
    DecoderRef ref(decoder, [](IDecodeClass* d) { d->Release(); });
    decoders_[key].decoder = ref;
    return ref;
}

uint32_t CDecoderManager::DeviceOf(const TurnRecords& turn, uint32_t record) {
    const DeviceTree& tree = static_cast<const CDecoderManager*>(turn.owner)->tree_;
    return tree.TurnDevice(turn.address, tree.DeviceAt(turn.address, record));
}

CDecoderManager::DecoderRef CDecoderManager::CreateClassDecoder(uint8_t address, uint8_t interface, uint32_t device,
                                                                uint64_t key, bool describing,
                                                                DecoderRef& evicted) {
    if (!factory_) return nullptr;
    const auto found = tree_.FindInterface(address, interface, device);
    if (!found) return nullptr;
    const ClassCode code{found->cls, found->subclass, found->protocol};
    // A plug-in that cannot be found or made is asked once per run, not per item.
    if (failed_.count(code)) return nullptr;
    IDecodeClass* decoder = nullptr;
    int32_t index = -1;
    {
        std::lock_guard lock(factoryMutex_);
        index = factory_->Find(found->cls, found->subclass, found->protocol);
        decoder = index >= 0 ? factory_->Create(index) : nullptr;
    }
    if (!decoder) {
        failed_.insert(code);
        return nullptr;
    }
    DecoderRef ref(decoder, [this](IDecodeClass* d) {
        std::lock_guard lock(factoryMutex_);
        factory_->ReleaseDecoder(d);
    });
    decoder->SetHost(host_);
    std::string text;
    if (tree_.GetConfigurationString(address, 1, text, device)) {
        if (work_.empty()) work_.resize(kWorkBytes);  // only once a class decoder is bound
        // Every interface, and every enumeration of a device in a reset loop,
        // is given the same text: it is read once.
        if (text != workText_) {
            workText_.clear();
            const uint32_t count = ParseHexBytes(text, work_.data(), uint32_t(work_.size()));
            workBytes_.assign(work_.begin(), work_.begin() + count);
            workText_ = std::move(text);
        } else {
            // A decoder is handed the buffer, not a promise to leave it alone.
            std::copy(workBytes_.begin(), workBytes_.end(), work_.begin());
        }
        if (!workBytes_.empty())
            decoder->OnNotify(NotifyConfiguration, work_.data(), intptr_t(workBytes_.size()));
    }
    Held& held = decoders_[key];
    held.decoder = ref;
    held.plugin = index;
    addressKeys_[address].push_back(key);
    if (!describing) return ref;
    TellTurn(*decoder, key, index);
    // A find describes every row: one decoder for each turn handed back would
    // stay to the next decoding. What such a decoder learns (the layouts
    // beside its rows) the next one made for its turn finds again.
    held.describing = true;
    held.used = describedOrder_.insert(describedOrder_.begin(), key);
    if (describedOrder_.size() > describingLimit_) {
        const uint64_t oldest = describedOrder_.back();
        evicted = Forget(decoders_.find(oldest));
        std::vector<uint64_t>& keys = addressKeys_[KeyAddress(oldest)];
        if (const auto at = std::find(keys.begin(), keys.end(), oldest); at != keys.end()) {
            *at = keys.back();
            keys.pop_back();
        }
    }
    return ref;
}

CDecoderManager::DecoderRef CDecoderManager::Forget(std::map<uint64_t, Held>::iterator it) {
    DecoderRef decoder = std::move(it->second.decoder);
    if (it->second.describing) describedOrder_.erase(it->second.used);
    decoders_.erase(it);
    return decoder;
}

void CDecoderManager::TellTurn(IDecodeClass& decoder, uint64_t key, int32_t plugin) {
    // It looks beside its rows for what the decoding showed the turn's own
    // decoder: another device's traffic at the address is none of it.
    const uint8_t address = KeyAddress(key);
    const uint32_t device = KeyTurn(key);
    TurnRecords turn;
    std::tie(turn.from, turn.to) = tree_.DeviceRecords(address, device);
    turn.deviceOf = &CDecoderManager::DeviceOf;
    turn.owner = this;
    turn.address = address;
    turn.device = tree_.TurnDevice(address, device);
    // Whatever device each turn was, the same plug-in's decoders of the
    // interface look for the same rows.
    std::shared_ptr<LevelFindings>& shared =
        findings_[uint64_t(uint32_t(plugin)) << 16 | uint64_t(address) << 8 | KeyInterface(key)];
    if (!shared) shared = std::make_shared<LevelFindings>();
    turn.findings = shared;
    decoder.OnNotify(NotifyTurn, &turn, 0);
}

CDecoderManager::DecoderRef CDecoderManager::GetDecoder(const UsbItem* item, uint8_t interface, bool describing) {
    if (!item || item->address >= 128) return nullptr;
    if (interface == kNone) interface = item->interface;
    if (interface == kNone) {
        if (item->type != ItemControlTransfer || !IsClassRequest(item)) {
            std::lock_guard lock(decodersMutex_);
            return BuiltInDecoder(item->address);
        }
        interface = 0;  // a class request the device tree does not place
    }
    // The device that held the address when the item began.
    const uint32_t device = tree_.DeviceAt(item->address, item->firstRecord);
    const uint64_t key = ClassKey(item->address, interface, device);
    DecoderRef evicted;  // let go of after the lock
    std::lock_guard lock(decodersMutex_);
    auto it = decoders_.find(key);
    if (it != decoders_.end()) {
        Held& held = it->second;
        if (held.describing) {
            if (describing) describedOrder_.splice(describedOrder_.begin(), describedOrder_, held.used);
            else {
                // The decoding feeds it from here on: it stays with the decoding's.
                describedOrder_.erase(held.used);
                held.describing = false;
            }
        }
        return held.decoder;
    }
    // A class decoder made to describe a row may look beside it for what it
    // missed, in a level the run is still appending to: the run makes its own.
    if (describing && decoding_) return nullptr;
    return CreateClassDecoder(item->address, interface, device, key, describing, evicted);
}

IDecodeClass* CDecoderManager::BindItem(UsbItem* item, std::vector<EndpointBinding>& bindings, DecoderRef& unbound,
                                       CDecodeRequest*& standard) {
    standard = nullptr;
    if (item->address >= 128 || item->endpoint >= 16) {
        // SOFs and bus events: no decoder of any address.
        item->interface = kNone;
        if (item->address >= 128) return nullptr;
        unbound = GetDecoder(item);
        return unbound.get();
    }
    if (bindings.empty()) bindings.resize(kEndpointSlots);
    EndpointBinding& binding = bindings[size_t(item->address) * 16 + item->endpoint];
    const uint32_t record = item->firstRecord;
    if (!binding.known || record < binding.from || record >= binding.to) {
        // Once per endpoint and device that held the address.
        const uint32_t device = tree_.DeviceAt(item->address, record);
        NoteTurn(item->address, device);
        std::tie(binding.from, binding.to) = tree_.DeviceRecords(item->address, device);
        binding.decoder = nullptr;
        binding.standard = nullptr;
        binding.interface = uint8_t(tree_.FindEndpointInterface(item->address, item->endpoint, device) - 1);
        // Without an interface the decoder depends on the item (a class request or not).
        if (binding.interface != kNone) binding.decoder = GetDecoder(item, binding.interface);
        binding.known = true;
    }
    item->interface = binding.interface;
    if (binding.interface != kNone) return binding.decoder.get();
    // A transaction of no interface goes to the address's built-in decoder,
    // which stays for the whole run: it is looked up once per binding.
    if (item->type != ItemControlTransfer) {
        if (!binding.decoder) {
            binding.decoder = GetDecoder(item);
            // For an item of no interface that is no transfer, that is the built-in decoder.
            binding.standard = static_cast<CDecodeRequest*>(binding.decoder.get());
        }
        standard = binding.standard;
        return binding.decoder.get();
    }
    unbound = GetDecoder(item);
    return unbound.get();
}

CDecoderManager::DecoderRef CDecoderManager::DecoderForDescription(const UsbItem* item) {
    if (!item || item->interface != kNone) return GetDecoder(item, kNone, true);
    // A row of no interface is looked up as interface 0, rather than by writing
    // the shared item. While the level grows, that decoder may be one the run
    // has only just made, not yet given a transaction, which looks beside the
    // row for what it missed: the row waits for the run's end.
    {
        std::lock_guard lock(decodersMutex_);
        if (decoding_) return nullptr;
    }
    return GetDecoder(item, 0, true);
}

// ---------------------------------------------------------------- decoding

int32_t CDecoderManager::DecodeAll(IProgress* sink) {
    if (!root_ || !host_ || !sink) return 0;
    // Every run starts with fresh decoders and forgets earlier failures.
    ReleaseDecoders();
    DropPendingSofs();
    std::fill(std::begin(latestTurn_), std::end(latestTurn_), 0u);
    std::fill(std::begin(takenOver_), std::end(takenOver_), false);
    retired_.clear();
    sink_ = sink;
    SetDecoding(true);

    bool stopped = false;
    int32_t result = 1;
    try {
        // The run holds every decoder it calls: a ReleaseDecoders meanwhile only
        // lets go of the table's references.
        std::vector<EndpointBinding> bindings;
        DecoderRef unbound;
        const uint32_t n = root_->children.size();
        for (uint32_t i = 0; i < n; ++i) {
            if (cancel_.load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            // The items lie wherever the pool had room: ask for them ahead of
            // the walk, and their child lists once the items are in.
            if (i + 16 < n) __builtin_prefetch(root_->children[i + 16]);
            if (i + 8 < n) __builtin_prefetch(root_->children[i + 8]->children.begin().address());
            UsbItem* item = root_->children[i];
            CDecodeRequest* standard;
            IDecodeClass* decoder = BindItem(item, bindings, unbound, standard);
            if (decoder && item->type >= 16 && item->type <= ItemControlTransfer) {
                UsbItem* r = decoder->OnTransaction(item);
                // A class request's transfer goes on to the decoder of its
                // interface; a standard one of no interface, most of an
                // enumeration, stays with the built-in decoder that made it.
                const bool stays = standard && r != item && r && r->interface == kNone && !standard->HandedClassRequest();
                if (r && r->type == ItemControlTransfer && !stays) {
                    if (DecoderRef next = GetDecoder(r)) r = next->OnTransaction(r);
                }
                if (r) Emit(r);
            } else {
                Emit(item);
            }
            if (item->address < 128 && takenOver_[item->address]) HandBackTakenOver(item->address, bindings, unbound);
            if (i % 1000 == 0) sink_->OnProgress(float(i + 1) / float(n));
        }

        // A cancelled run hands over what its decoders hold too: their items then
        // belong to the transfer level and go with it. Flushed outside the lock:
        // the sink hands items to the list, and no lock of the list's is taken
        // with this one held.
        auto made = [this] {
            std::vector<std::pair<uint64_t, DecoderRef>> all;
            std::lock_guard lock(decodersMutex_);
            for (auto& [key, held] : decoders_) all.emplace_back(key, held.decoder);
            return all;
        };
        // A transfer still open goes on to its interface's decoder, as one cut
        // short by the next SETUP does: its class decoder is made now, on this
        // thread, and is flushed after it.
        std::stable_sort(handedBack_.begin(), handedBack_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        size_t next = 0;
        const auto handBackUpTo = [&](uint64_t key) {
            for (; next < handedBack_.size() && handedBack_[next].first <= key; ++next)
                sink_->OnItem(std::exchange(handedBack_[next].second, nullptr));
        };
        for (const auto& [key, decoder] : made()) {
            handBackUpTo(key);
            UsbItem* rest = decoder->OnTransaction(nullptr);
            if (rest && rest->type == ItemControlTransfer && key == BuiltInKey(rest->address))
                if (DecoderRef next = GetDecoder(rest); next && next != decoder) rest = next->OnTransaction(rest);
            if (rest) sink_->OnItem(rest);
        }
        handBackUpTo(UINT64_MAX);
        handedBack_.clear();
        for (const auto& [key, decoder] : made())
            if (UsbItem* rest = decoder->OnTransaction(nullptr)) sink_->OnItem(rest);
        ReleasePendingSofs();
    } catch (const std::bad_alloc&) {
        // Out of item memory: the level keeps what it was handed, and what the
        // decoders held goes with them.
        ReleaseDecoders();
        FreeHandedBack();
        DropPendingSofs();
        result = 0;
    }
    retired_.clear();
    // The sink may hand its last rows over as it finishes: the level grows
    // until then, and taking them may run out of memory too.
    try {
        sink_->OnFinish();
    } catch (const std::bad_alloc&) {
        result = 0;
    }
    {
        // The level is whole now: the decoders kept are told their turns, so
        // that each describes its rows as one made later for them would.
        std::lock_guard lock(decodersMutex_);
        decoding_ = false;
        for (const auto& [key, held] : decoders_)
            if (!IsBuiltInKey(key)) TellTurn(*held.decoder, key, held.plugin);
    }
    sink_ = nullptr;
    cancelled_ = stopped;
    cancel_ = false;
    return result;
}

void CDecoderManager::NoteTurn(uint8_t address, uint32_t turn) {
    if (turn <= latestTurn_[address]) return;
    latestTurn_[address] = turn;
    takenOver_[address] = true;
}

void CDecoderManager::HandBackTakenOver(uint8_t address, std::vector<EndpointBinding>& bindings,
                                        DecoderRef& unbound) {
    const uint32_t turn = latestTurn_[address];
    uint32_t below = turn;
    std::vector<std::pair<uint64_t, DecoderRef>> gone;
    {
        std::lock_guard lock(decodersMutex_);
        // A transfer still open on the address goes on to the class decoder of
        // the turn it began in when the next SETUP cuts it short.
        const auto builtIn = decoders_.find(BuiltInKey(address));
        if (builtIn != decoders_.end())
            if (const UsbItem* open = static_cast<const CDecodeRequest*>(builtIn->second.decoder.get())->OpenTransfer())
                below = std::min(below, tree_.DeviceAt(address, open->firstRecord));
        // Every earlier turn, whichever device holds the address now: their
        // rows are described later by a decoder made for them, told its turn,
        // which looks beside them for what it missed.
        std::vector<uint64_t>& held = addressKeys_[address];
        for (size_t k = 0; k < held.size();) {
            if (KeyTurn(held[k]) >= below) {
                ++k;
                continue;
            }
            if (const auto it = decoders_.find(held[k]); it != decoders_.end()) {
                const uint64_t key = it->first;  // read before Forget erases the entry
                gone.emplace_back(key, Forget(it));
            }
            held[k] = held.back();
            held.pop_back();
        }
    }
    takenOver_[address] = below < turn;
    if (gone.empty()) return;
    const auto isGone = [&](const DecoderRef& d) {
        return d && std::any_of(gone.begin(), gone.end(), [&](const auto& g) { return g.second == d; });
    };
    if (!bindings.empty())
        for (size_t e = 0; e < 16; ++e)
            if (EndpointBinding& b = bindings[size_t(address) * 16 + e]; isGone(b.decoder)) b = EndpointBinding{};
    if (isGone(unbound)) unbound = nullptr;
    // Their output so far is in the level; what they hold waits for the run's
    // end, where they would have been flushed.
    for (auto& [key, decoder] : gone)
        if (UsbItem* rest = decoder->OnTransaction(nullptr)) handedBack_.emplace_back(key, rest);
    // The factory lets a plug-in's library go with its last decoder: the turn
    // before stays until the next one goes, so a reset loop does not load the
    // library again for every enumeration.
    retired_.clear();
    for (auto& [key, decoder] : gone) retired_.push_back(std::move(decoder));
}

void CDecoderManager::FreeHandedBack() {
    for (const auto& [key, rest] : handedBack_) FreeTransferItem(rest);
    handedBack_.clear();
}

void CDecoderManager::TakeSof(UsbItem* sof) {
    // A SOF alone between two rows is most of them: it makes no run until a
    // second one joins it.
    if (!pendingSofs_ && !pendingSof_) {
        pendingSof_ = sof;
        return;
    }
    SofRun(sof->firstRecord)->children.push_back(sof);
}

UsbItem* CDecoderManager::SofRun(uint32_t firstRecord) {
    if (pendingSofs_) return pendingSofs_;
    if (!pendingSof_) return pendingSofs_ = new UsbItem(ItemSofGroup, firstRecord);
    pendingSofs_ = new UsbItem(ItemSofGroup, pendingSof_->firstRecord);
    pendingSofs_->children.push_back(std::exchange(pendingSof_, nullptr));
    return pendingSofs_;
}

void CDecoderManager::Emit(UsbItem* item) {
    if (item->type == PidSof) {
        TakeSof(item);
        return;
    }
    if (item->type == ItemSofGroup) {
        // The parser's group node stays in the transaction-level tree only.
        const uint32_t count = item->children.size();
        if (count == 0) return;
        // One growth for the whole run rather than one per doubling; runs that
        // keep joining (a class decoder took what lay between) grow by half.
        UsbItemList& members = SofRun(item->firstRecord)->children;
        const uint32_t needed = members.size() + count;
        if (needed > members.capacity()) members.reserve(std::max(needed, members.capacity() + members.capacity() / 2));
        for (UsbItem* sof : item->children) members.push_back(sof);
        return;
    }
    ReleasePendingSofs();
    sink_->OnItem(item);
}

void CDecoderManager::ReleasePendingSofs() {
    if (UsbItem* only = std::exchange(pendingSof_, nullptr)) {
        sink_->OnItem(only);
        return;
    }
    UsbItem* group = pendingSofs_;
    if (!group) return;
    pendingSofs_ = nullptr;
    if (group->children.size() < 2) {
        UsbItem* only = group->children.empty() ? nullptr : group->children[0];
        delete group;
        if (only) sink_->OnItem(only);
        return;
    }
    // The members keep the parser's group as their parent: this one goes with
    // the level, and a run that stops early would leave the SOFs it did not
    // reach pointing at the one before it.
    sink_->OnItem(group);
}

void CDecoderManager::DropPendingSofs() {
    delete pendingSofs_;  // the node only: its members belong to the parser's tree
    pendingSofs_ = nullptr;
    pendingSof_ = nullptr;
}

// ---------------------------------------------------------------- descriptions

int32_t CDecoderManager::Summarize(UsbItem* item, ItemSummary* out) {
    if (!item || !out) return 0;
    if (host_ && host_->Summarize(item, out)) return 1;
    const DecoderRef decoder = DecoderForDescription(item);
    return decoder ? decoder->Summarize(item, out) : 0;
}

int32_t CDecoderManager::GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) {
    if (!item) return -1;
    if (host_) {
        const int32_t n = host_->GetData(item, buffer, capacity);
        if (n >= 0) return n;
    }
    const DecoderRef decoder = DecoderForDescription(item);
    return decoder ? decoder->GetData(item, buffer, capacity) : -1;
}

int32_t CDecoderManager::GetDetail(UsbItem* item, std::string& xml) {
    if (!item) return 0;
    if (host_ && host_->GetDetail(item, xml)) return 1;
    const DecoderRef decoder = DecoderForDescription(item);
    return decoder && decoder->GetDetail(item, xml) ? 1 : 0;
}

const ImageList* CDecoderManager::GetImageList(UsbItem* item) {
    if (!item) return nullptr;
    if (host_) {
        if (const ImageList* list = host_->GetImageList(item)) return list;
    }
    const DecoderRef decoder = DecoderForDescription(item);
    return decoder ? decoder->GetImageList(item) : nullptr;
}

int32_t CDecoderManager::OnNotify(int32_t code, void* arg, intptr_t param) {
    // The parser's own items are its to answer; a class decoder asks it for the items below its own.
    const auto* item = static_cast<const UsbItem*>(arg);
    if (code == NotifyPayloadLost && item && item->type <= ItemControlTransfer)
        return host_ ? host_->OnNotify(code, arg, param) : 0;
    // Looked up as for the other descriptions: a class row of no interface
    // (a class request to an endpoint) is interface 0's, never the built-in
    // decoder's, which answers nothing.
    const DecoderRef decoder = DecoderForDescription(static_cast<UsbItem*>(arg));
    return decoder ? decoder->OnNotify(code, arg, param) : 0;
}

}  // namespace orvane
