#include "CUsbParser.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "CDeviceRequest.h"
#include "ItemTree.h"

namespace orvane {

namespace {

constexpr uint32_t kProgressStride = 4096;  // records between looks at the clock
constexpr auto kProgressInterval = std::chrono::milliseconds(500);

bool IsHandshake(uint8_t pid) { return (pid & 3) == 2; }
bool IsData(uint8_t pid) { return (pid & 3) == 3; }
// A token whose CRC5 fails may carry a corrupt address and endpoint: a device
// ignores it, and so does the parser.
bool Crc5Fails(const PacketRecord& r) { return r.HasError() && (r.ErrorFlags() & ErrCrc5); }

// A transaction that ended in NAK and can repeat. The builders give a
// transaction a status only with the handshake that ends it, so the status
// tells the last packet without reading the member list.
bool EndsInNak(const UsbItem* item) {
    switch (item->type) {
    case ItemInTransaction:
    case ItemOutTransaction:
    case ItemPingTransaction:
    case ItemCsplitOut:
    case ItemCsplitIn:
        return item->status == PidNak;
    default:
        return false;
    }
}

const char* const kTypeNames[] = {
    "BUSTATE", "OUT", "ACK", "DATA0", "PING", "SOF", "NYTE", "DATA2", "SPLIT", "IN", "NAK", "DATA1",
    "PRE(ERR)", "SETUP", "STALL", "MDATA", "IN transaction", "OUT transaction", "SETUP transaction",
    "PING transaction",
};

// A little under what the tree takes a record, so a finished parse leaves
// little prepared and unused.
constexpr size_t kTreeBytesPerRecord = 32;

}  // namespace

CUsbParser::CUsbParser() = default;

CUsbParser::~CUsbParser() { DropPending(); }

void CUsbParser::Release() { delete this; }

int32_t CUsbParser::SetDataSource(IDataSource* source) {
    source_ = source;
    reader_.SetSource(source);
    return 1;
}

void CUsbParser::ResetLearning() {
    for (auto& learner : learners_) learner.reset();
    tree_.ResetDeviceTree();
    std::memset(interfaceMap_, 0, sizeof interfaceMap_);
    std::memset(seen_, 0, sizeof seen_);
    std::memset(handedOutAt_, 0xFF, sizeof handedOutAt_);
}

void CUsbParser::TrackControlTransfer(UsbItem* item) {
    const uint8_t address = item->address & 0x7F;
    auto& learner = learners_[address];
    if (CDecodeRequest::Opens(item)) {
        // Only a transfer that can teach is built. A SETUP of any other ends
        // the transfer before it as opening one would, and opens nothing: what
        // a transfer's stages do to the learner matters to that transfer alone.
        uint8_t bytes[8] = {};
        const bool whole = SetupBytesOf(item, bytes) >= 8;
        if (!whole || !Teaches(address, CDeviceRequest(bytes, 8, CUsbIdDatabase::Empty()))) {
            if (learner) LearnFrom(address, learner->OnTransaction(nullptr));
            return;
        }
        if (!learner) {
            learner = std::make_unique<CDecodeRequest>();
            learner->SetHost(this);
        }
    } else if (!learner || !learner->OpenTransfer()) {
        return;  // nothing open: the learner would hand the stage back
    }
    // The learner's transfers are scaffolding: the item keeps the parent its
    // own tree gives it.
    UsbItem* parent = item->parent;
    UsbItem* done = learner->OnTransaction(item);
    item->parent = parent;
    if (done != item) LearnFrom(address, done);
}

int32_t CUsbParser::SetupBytesOf(UsbItem* stage, uint8_t (&bytes)[8]) {
    // As GetData reads a transaction's data packet, but through the parse's own reader.
    const uint32_t at = stage->type == ItemSetupTransaction ? 1 : 2;
    if (at >= stage->children.size()) return 0;
    const UsbItem* packet = stage->children[at];
    if (packet->type >= 16 || !IsData(uint8_t(packet->type))) return 0;
    const PacketRecord* r = reader_.Peek(packet->firstRecord);
    if (!r) return GetData(stage, bytes, sizeof bytes);
    uint16_t crc = 0;
    const int32_t got = r->Length() < 2 ? 0 : source_->GetPayload(r, bytes, sizeof bytes, &crc);
    return got > 0 ? got : 0;
}

bool CUsbParser::Teaches(uint8_t address, const CDeviceRequest& setup) {
    if (!setup.IsStandard()) return false;
    if (setup.bRequest() == 5) return setup.RequestRecipient() == CDeviceRequest::RecipientDevice;
    const unsigned requested = setup.wValue() >> 8;
    return setup.bRequest() == 6 && address != 0 && (requested == 1 || requested == 2);
}

void CUsbParser::LearnFrom(uint8_t address, UsbItem* done) {
    if (!done || done->type != ItemControlTransfer) return;
    Learn(address, done);
    done->children.clear();
    delete done;
}

void CUsbParser::Learn(uint8_t address, UsbItem* transfer) {
    uint8_t bytes[8] = {};
    if (SetupBytesOf(transfer->children[0], bytes) < 8) return;
    const CDeviceRequest setup(bytes, 8, CUsbIdDatabase::Empty());
    if (!Teaches(address, setup)) return;
    if (setup.bRequest() == 5) {
        // The address now belongs to whichever device asked for it; its
        // device descriptor will start the address afresh.
        if (transfer->status == PidAck) handedOutAt_[setup.wValue() & 0x7F] = transfer->firstRecord;
        return;
    }
    // One read in most cases: the buffer only grows.
    std::vector<uint8_t>& buffer = learnBytes_;
    if (buffer.empty()) buffer.resize(512);
    const int32_t length = GetData(transfer, buffer.data(), uint32_t(buffer.size()));
    if (length <= 0) return;
    if (size_t(length) > buffer.size()) {
        buffer.resize(size_t(length));
        GetData(transfer, buffer.data(), uint32_t(buffer.size()));
    }
    const std::span<const uint8_t> data(buffer.data(), size_t(length));
    DeviceTree::Learning learning;
    if (handedOutAt_[address] != kNotHandedOut) learning.newDeviceFrom = handedOutAt_[address];
    learning.addressSeen = seen_[address];
    tree_.LearnFromGetDescriptor(address, setup, data, &learning);
    if (learning.newDevice) {
        // Traffic from here on is the new device's: nothing of the old one binds it.
        handedOutAt_[address] = kNotHandedOut;
        std::memset(interfaceMap_[address], 0, sizeof interfaceMap_[address]);
    }
    // An endpoint in a whole configuration marks the address seen, described or not.
    if (learning.sawEndpoint) seen_[address] = true;
    // Transactions take their interface from configuration 1.
    if (learning.configurationValue == 1)
        for (uint8_t ep = 1; ep < 16; ++ep)
            if (learning.endpointInterfaces[ep]) interfaceMap_[address][ep] = learning.endpointInterfaces[ep];
}

// ---------------------------------------------------------------- reading

int32_t CUsbParser::ReadFromSource(uint32_t index, const PacketRecord** record) {
    if (!source_) return RecordEnd;
    int32_t got = source_->GetRecord(index, &scratch_[0]);
    if (got == RecordOk) *record = &scratch_[0];
    return got;
}

uint8_t CUsbParser::PidFromSource(uint32_t index, const PacketRecord** record) {
    // A following record not captured yet is waited for like any other, so a
    // live capture parses into the same tree as a finished one; one that can't
    // be had counts as all zeros: PID 0.
    static const PacketRecord kNoRecord{};
    PacketRecord& slot = scratch_[1 + (index & 1)];
    const PacketRecord* got = nullptr;
    int32_t answer = source_ ? source_->GetRecord(index, &slot) : RecordEnd;
    if (answer == RecordOk) {
        got = &slot;
    } else if (answer == RecordNotYet && WaitForRecord(index, &got)) {
        slot = *got;
        got = &slot;
    }
    if (!got) got = &kNoRecord;
    if (record) *record = got;
    return got->PidNibble();
}

bool CUsbParser::WaitForRecord(uint32_t index, const PacketRecord** record) {
    auto waited = std::chrono::milliseconds(0);
    for (;;) {
        if (cancel_) return false;
        if (waitLimit_.count() > 0 && waited >= waitLimit_) return false;
        std::this_thread::sleep_for(retryDelay_);
        waited += retryDelay_;
        int32_t got = Read(index, record);
        if (got == RecordOk) return true;
        if (got == RecordEnd) return false;
    }
}

void CUsbParser::NoteToken(uint32_t at, const PacketRecord& token) {
    if (token.Endpoint() != 0 || (token.HasError() && !token.PidCheckOk())) return;
    uint32_t& stage = stageAwaitingToken_[token.Address()];
    if (stage == kNoStage) return;
    if (StatusOutToken(token.PidNibble()) && at - stage <= kNextTokenLook) outAfterStage_.push_back(stage);
    stage = kNoStage;
}

// ---------------------------------------------------------------- building

void* CUsbParser::ListStorage(uint32_t members) {
    static_assert(UsbItemList::StorageBytes(3) == sizeof(UsbItem));
    switch (members) {
    case 1: return lists1_.Get();
    case 2: return lists2_.Get();
    case 3: return items_.Get();
    case 4: return lists4_.Get();
    default: return ItemPoolAllocate(UsbItemList::StorageBytes(members));
    }
}

UsbItem* CUsbParser::MakeTransaction(uint16_t type, const Members& m, const PacketRecord& token, uint32_t& index) {
    UsbItem* item = NewItem(type, m.first);
    void* storage = ListStorage(m.n);
    UsbItem* members[4];
    const ItemLink parent(item);
    for (uint32_t i = 0; i < m.n; ++i) {
        members[i] = NewItem(m.pids[i], m.first + i);
        members[i]->parent = parent;
    }
    item->children.AssignMembers(storage, members, m.n);
    item->status = m.status;
    item->address = token.Address();
    item->endpoint = token.Endpoint();
    index += m.n;
    return item;
}

UsbItem* CUsbParser::BuildBusEvent(uint32_t& index, const PacketRecord& r) {
    const uint8_t code = r.BusEventCode();
    if (code != 4 && code != 5) return NewItem(ItemBusEvent, index++);
    // A run of host chirps J and K becomes one group whose first child is its own record.
    auto* group = new UsbItem(ItemHostChirp, index);
    for (;;) {
        group->Append(new UsbItem(ItemBusEvent, index));
        ++index;
        const PacketRecord* next = nullptr;
        if (PidAt(index, &next) != 0 || next->PidByte() != 0) break;
        uint8_t c = next->BusEventCode();
        if (c != 4 && c != 5) break;
    }
    return group;
}

UsbItem* CUsbParser::BuildTransaction(uint32_t& index, const PacketRecord& token) {
    const uint8_t pid = token.PidNibble();
    Members m(index);
    m.Add(pid);
    uint16_t type = 0;
    uint8_t p = PidAt(index + 1);
    switch (pid) {
    case PidIn:
        type = ItemInTransaction;
        if (IsData(p)) {
            m.Add(p);
            if (PidAt(index + 2) == PidAck) m.End(PidAck);
        } else if (p == PidNak || p == PidStall) {
            // A function answers IN with data, NAK or STALL only: an ACK here
            // is the host's, for a data packet that was not captured.
            m.End(p);
        }
        break;
    case PidOut:
        type = ItemOutTransaction;
        if (IsData(p)) {
            m.Add(p);
            uint8_t h = PidAt(index + 2);
            if (IsHandshake(h)) m.End(h);
        }
        break;
    case PidSetup:
        type = ItemSetupTransaction;
        if (p == PidData0) {
            m.Add(p);
            if (PidAt(index + 2) == PidAck) m.End(PidAck);
        }
        break;
    default:  // PING
        type = ItemPingTransaction;
        if (p == PidAck || p == PidNak || p == PidStall) m.End(p);
        break;
    }
    return MakeTransaction(type, m, token, index);
}

UsbItem* CUsbParser::BuildSplit(uint32_t& index, const PacketRecord& split) {
    const uint8_t sc = split.SplitComplete() ? 1 : 0;
    const PacketRecord* token = nullptr;
    const uint8_t tokenPid = PidAt(index + 1, &token);
    if ((tokenPid != PidIn && tokenPid != PidOut && tokenPid != PidSetup) || Crc5Fails(*token)) {
        // Nothing can continue it: the SPLIT stands alone as a packet.
        return new UsbItem(PidSplit, index++);
    }
    const PacketRecord tokenRecord = *token;
    NoteToken(index + 1, tokenRecord);
    Members m(index);
    m.Add(PidSplit);
    m.Add(tokenPid);
    uint16_t type;
    uint8_t p = PidAt(index + 2);
    if (tokenPid == PidIn) {
        type = uint16_t(ItemSsplitIn + sc);
        if (IsHandshake(p)) m.End(p);
        else if (IsData(p) || p == PidPre) m.Add(p);
    } else {
        type = uint16_t(ItemSsplitOut + sc);
        if (IsHandshake(p)) {
            m.End(p);
        } else if (tokenPid == PidOut && (p == PidMData || p == PidPre)) {
            m.Add(p);
        } else if (IsData(p)) {
            m.Add(p);
            uint8_t h = PidAt(index + 3);
            if (h == PidAck || h == PidNak) m.End(h);
        }
    }
    return MakeTransaction(type, m, tokenRecord, index);
}

// ---------------------------------------------------------------- grouping

void CUsbParser::Offer(UsbItem* item) {
    if (pendingFirst_) {
        UsbItem* first = pendingFirst_;
        bool joins = false;
        if (first->type == item->type) {
            if (item->type == PidSof) {
                joins = true;
            } else if (EndsInNak(item) && EndsInNak(first)) {
                // Interleaved polling of two devices or endpoints gives separate runs.
                joins = item->address == first->address && item->endpoint == first->endpoint;
            }
        }
        if (joins) {
            if (!pendingGroup_) {
                // The first member's fields are final by now: its interface was set after it was offered.
                pendingGroup_ = NewItem(first->type == PidSof ? ItemSofGroup : ItemNakGroup, first->firstRecord);
                pendingGroup_->status = first->status;
                pendingGroup_->address = first->address;
                pendingGroup_->endpoint = first->endpoint;
                pendingGroup_->interface = first->interface;
                first->parent = pendingGroup_;
                pendingMembers_.assign(1, first);
            }
            item->parent = pendingGroup_;
            pendingMembers_.push_back(item);
            return;
        }
        ReleasePending();
    }
    pendingFirst_ = item;
}

void CUsbParser::ReleasePending() {
    if (pendingGroup_) {
        // The run is whole: its list is made once, at its size.
        const auto n = uint32_t(pendingMembers_.size());
        pendingGroup_->children.AssignMembers(ListStorage(n), pendingMembers_.data(), n);
        pendingMembers_.clear();
    }
    UsbItem* out = pendingGroup_ ? pendingGroup_ : pendingFirst_;
    pendingFirst_ = pendingGroup_ = nullptr;
    if (out && sink_) sink_->OnItem(out);
}

void CUsbParser::DropPending() {
    if (pendingGroup_) {
        for (UsbItem* member : pendingMembers_) FreeItemTree(member);
        pendingMembers_.clear();
        FreeItemTree(pendingGroup_);
    } else if (pendingFirst_) {
        FreeItemTree(pendingFirst_);
    }
    pendingFirst_ = pendingGroup_ = nullptr;
}

// ---------------------------------------------------------------- the loop

void CUsbParser::ReportProgress(uint32_t index) {
    auto now = std::chrono::steady_clock::now();
    if (now - lastProgress_ <= kProgressInterval) return;
    lastProgress_ = now;
    uint32_t count = source_ ? source_->GetCount() : 0;
    float fraction = count ? float(index) / float(count) : 0.0f;
    sink_->OnProgress(fraction > 1.0f ? 1.0f : fraction);
}

int32_t CUsbParser::Parse(IProgress* sink) {
    DropPending();
    ResetLearning();
    sink_ = sink;
    cancelled_ = false;
    lastProgress_ = {};
    parsedTo_ = 0;
    outAfterStage_.clear();
    std::fill(std::begin(stageAwaitingToken_), std::end(stageAwaitingToken_), kNoStage);
    reader_.SetSource(source_);
    // The pool's threads fault the tree's fresh memory in while this one parses.
    struct Prepared {
        explicit Prepared(size_t bytes) { ItemPoolPrepare(bytes); }
        ~Prepared() { ItemPoolPrepare(0); }
    } prepared(size_t(source_ ? source_->GetCount() : 0) * kTreeBytesPerRecord);
    int32_t result = 1;
    try {
        uint32_t index = 0;
        uint32_t nextLook = 0;
        for (;;) {
            if (index >= nextLook) {
                nextLook = index + kProgressStride;
                if (cancel_) break;
                if (sink_) ReportProgress(index);
            }
            const PacketRecord* r = nullptr;
            int32_t got = Read(index, &r);
            if (got == RecordNotYet && !WaitForRecord(index, &r)) break;
            if (got == RecordEnd) break;
            // Copy: the builders' look-ahead may reuse the scratch record.
            const PacketRecord record = *r;

            if (record.HasError() && !record.PidCheckOk()) {
                // Straight to the sink, ahead of whatever run is pending.
                auto* bad = new UsbItem(ItemBusEvent, index++);
                if (sink_) sink_->OnItem(bad);
                continue;
            }
            UsbItem* item;
            switch (record.PidNibble()) {
            case 0:
                item = BuildBusEvent(index, record);
                break;
            case PidOut:
            case PidIn:
            case PidSetup:
            case PidPing:
                NoteToken(index, record);
                item = Crc5Fails(record) ? NewItem(record.PidNibble(), index++) : BuildTransaction(index, record);
                break;
            case PidSplit:
                item = Crc5Fails(record) ? NewItem(PidSplit, index++) : BuildSplit(index, record);
                break;
            default:
                item = NewItem(record.PidNibble(), index++);
                break;
            }
            Offer(item);
            // The index is one past the stage's last record.
            if ((item->type == ItemInTransaction || item->type == ItemCsplitIn) && item->endpoint == 0)
                stageAwaitingToken_[item->address] = index - 1;
            // Address 0 is watched too, for the SET_ADDRESS that hands an address to a new device.
            if (item->address < 128 && item->endpoint == 0) TrackControlTransfer(item);
            if (item->address < 128 && item->endpoint != 0 && item->endpoint != kNone) {
                seen_[item->address] = true;
                item->interface = uint8_t(interfaceMap_[item->address][item->endpoint & 0xF] - 1);
            }
        }
        // Stages of different pipes are answered out of their order.
        std::sort(outAfterStage_.begin(), outAfterStage_.end());
        parsedTo_ = index;
        cancelled_ = cancel_.exchange(false);
        if (pendingGroup_ && pendingMembers_.size() == 1) {
            // A lone member leaves its group node behind.
            pendingFirst_ = pendingMembers_[0];
            pendingMembers_.clear();
            delete pendingGroup_;
            pendingGroup_ = nullptr;
        }
        ReleasePending();
    } catch (const std::bad_alloc&) {
        DropPending();
        result = 0;
    }
    // The sink may hand its last items over as it finishes, and run out of memory doing so.
    try {
        if (sink_) sink_->OnFinish();
    } catch (const std::bad_alloc&) {
        result = 0;
    }
    return result;
}

// ---------------------------------------------------------------- descriptions

int32_t CUsbParser::GetTypeName(int32_t type, std::string& name) {
    if (type >= 0 && type < int32_t(std::size(kTypeNames))) name = kTypeNames[type];
    else if (type == ItemSsplitOut) name = "SSPLIT OUT transaction";
    else if (type == ItemCsplitOut) name = "CSPLIT OUT transaction";
    else if (type == ItemSsplitIn) name = "SSPLIT IN transaction";
    else if (type == ItemCsplitIn) name = "CSPLIT IN transaction";
    else if (type == ItemNakGroup) name = "Group";
    else if (type == ItemHostChirp) name = "Host Chirp";
    else if (type == ItemControlTransfer) name = "Transfer";
    else name.clear();
    return 1;
}

int32_t CUsbParser::GetDeviceTree(std::string& xml) {
    for (int address = 1; address < 128; ++address)
        if (seen_[address]) tree_.AddPlaceholderDevice(address);
    tree_.FoldRepeatedDevices();
    xml = tree_.GetText();
    return 1;
}

}  // namespace orvane
