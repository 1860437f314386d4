#include "CDecodeRequest.h"

#include "CDeviceRequest.h"

namespace orvane {

namespace {

// What a transaction, split or not, does to a control pipe.
enum class Stage { Setup, SetupHalf, In, InHalf, Out, OutHalf, Other };

// Token PID of a split transaction (its second child), 0 when it has none.
uint8_t SplitToken(const UsbItem* item) {
    return item->children.size() > 1 ? uint8_t(item->children[1]->type) : 0;
}

Stage StageOf(const UsbItem* item) {
    switch (item->type) {
    case ItemSetupTransaction:
        return Stage::Setup;
    case ItemInTransaction:
        return Stage::In;
    case ItemOutTransaction:
        return Stage::Out;
    // Behind a high-speed hub a stage is a start split and a complete split;
    // the setup bytes ride in the start split, IN data in the complete split.
    case ItemSsplitOut:
        return SplitToken(item) == PidSetup ? Stage::Setup : Stage::OutHalf;
    case ItemCsplitOut:
        if (SplitToken(item) == PidSetup) return Stage::SetupHalf;
        return item->status == PidNyet ? Stage::OutHalf : Stage::Out;
    case ItemSsplitIn:
        return Stage::InHalf;
    case ItemCsplitIn:
        // A NYET (not yet) or ERR answer is part of the stage but not its end.
        return item->status == PidNyet || item->children.size() < 3 ? Stage::InHalf : Stage::In;
    default:
        return Stage::Other;
    }
}

// The handshake that closes a stage transaction; a complete split's IN data
// needs none.
uint8_t StageHandshake(const UsbItem* item) {
    if (item->status == kNone && item->type == ItemCsplitIn) return PidAck;
    return item->status;
}

}  // namespace

CDecodeRequest::~CDecodeRequest() {
    if (open_) {
        open_->children.clear();
        delete open_;
    }
}

bool CDecodeRequest::Owns(const UsbItem* item) const {
    // Only the stages of the pipe that opened the transfer belong to it.
    return open_ && item->address == open_->address && item->endpoint == open_->endpoint;
}

UsbItem* CDecodeRequest::Open(UsbItem* setup) {
    UsbItem* earlier = Hand(open_);
    uint8_t bytes[8] = {};
    const int32_t got = host_ ? host_->GetData(setup, bytes, sizeof bytes) : 0;
    const CDeviceRequest request(bytes, got > 0 ? uint32_t(got < 8 ? got : 8) : 0, CUsbIdDatabase::Empty());
    auto* transfer = new UsbItem(ItemControlTransfer, setup->firstRecord);
    transfer->address = setup->address;
    transfer->endpoint = setup->endpoint;
    try {
        transfer->Append(setup);
    } catch (...) {
        delete transfer;
        throw;
    }
    open_ = transfer;
    openClass_ = got > 0 && request.RequestType() == CDeviceRequest::TypeClass;
    wLength_ = request.wLength();
    received_ = 0;
    lostData_ = lastInUnanswered_ = false;
    nextToggle_ = PidData1;
    // No data stage: only the IN status stage is left (not ORed with a direction).
    state_ = wLength_ == 0 ? InStatus : request.IsDeviceToHost() ? InData : OutData;
    // Zeros in place of lost bytes would read as a request without data: its
    // stages would fall out of the transfer. The stages themselves tell.
    setupLost_ = host_ && host_->OnNotify(NotifyPayloadLost, setup, 0) == 1;
    if (setupLost_) {
        wLength_ = 0xFFFF;
        state_ = LostSetup;
    }
    if (request.RequestRecipient() == CDeviceRequest::RecipientInterface) {
        setup->interface = uint8_t(request.wIndex() & 0xFF);
        open_->interface = setup->interface;
    }
    return earlier;
}

UsbItem* CDecodeRequest::Hand(UsbItem* transfer) {
    if (transfer) handedClass_ = openClass_;
    return transfer;
}

UsbItem* CDecodeRequest::End(uint8_t handshake) {
    UsbItem* done = Hand(open_);
    open_ = nullptr;
    state_ = Idle;
    // The transfer's result is its last stage's handshake, unless the host
    // took data the capture lacks, or its request is not known: then it is
    // not complete.
    done->status = (lostData_ || lastInUnanswered_ || setupLost_) && handshake != PidStall ? kNone : handshake;
    return done;
}

bool CDecodeRequest::TakeData(UsbItem* item) {
    // A NAKed stage carries nothing the host took.
    if (item->status != PidNak) {
        const uint32_t bytes = StageBytes(item);
        if (received_ + bytes > wLength_) return false;
        received_ += bytes;
    }
    open_->Append(item);
    return true;
}

uint32_t CDecodeRequest::StageBytes(UsbItem* item) const {
    if (!host_) return 0;
    const int32_t bytes = host_->GetData(item, nullptr, 0);
    if (bytes > 0) return uint32_t(bytes);
    // A packet whose payload was not kept still has its length on its row.
    ItemSummary row;
    if (host_->OnNotify(NotifyPayloadLost, item, 0) == 1 && host_->Summarize(item, &row) && row.size > 0)
        return uint32_t(row.size);
    return 0;
}

void CDecodeRequest::NoteInData(const UsbItem* item) {
    // An IN that the capture shows unanswered, when it is the last before the
    // status stage, had its data taken by the host unseen; so had one whose
    // loss shows as a data toggle skipped by the next accepted packet.
    lastInUnanswered_ = item->status == kNone && item->children.size() == 1;
    const uint32_t at = item->type == ItemCsplitIn ? 2 : 1;
    if (StageHandshake(item) != PidAck || item->children.size() <= at) return;
    const uint8_t pid = uint8_t(item->children[at]->type);
    if (pid != PidData0 && pid != PidData1) return;
    if (pid != nextToggle_) lostData_ = true;
    nextToggle_ = pid == PidData0 ? PidData1 : PidData0;
}

bool CDecodeRequest::Opens(const UsbItem* item) { return StageOf(item) == Stage::Setup && item->status == PidAck; }

UsbItem* CDecodeRequest::OnTransaction(UsbItem* item) {
    if (!item) {
        UsbItem* pending = Hand(open_);
        open_ = nullptr;
        return pending;
    }
    if (item->type == ItemControlTransfer) return item;
    const Stage stage = StageOf(item);
    if (stage == Stage::Setup) return Opens(item) ? Open(item) : item;
    if (!Owns(item)) return item;

    switch (stage) {
    case Stage::In:
        if (state_ == LostSetup && StageBytes(item) == 0) {
            // Nothing has said which way the data go: an IN without data is
            // the status stage of a request without them, or a NAKed try, or
            // an empty data stage when an OUT status stage follows.
            open_->Append(item);
            const uint8_t handshake = StageHandshake(item);
            if (handshake == PidNak || handshake == kNone) return nullptr;
            if (handshake == PidAck && host_ && host_->OnNotify(NotifyOutNextOnPipe, item, 0) == 1) {
                state_ = AfterInData;
                return nullptr;
            }
            return End(handshake);
        }
        if (state_ & InData) {
            if (!TakeData(item)) return item;
            state_ = AfterInData;
            NoteInData(item);
            return item->status == PidStall ? End(PidStall) : nullptr;
        }
        if (state_ & InStatus) {
            open_->Append(item);
            const uint8_t handshake = StageHandshake(item);
            return handshake == PidNak || handshake == kNone ? nullptr : End(handshake);
        }
        return item;
    case Stage::Out:
        if (state_ & OutData) {
            if (!TakeData(item)) return item;
            state_ = AfterOutData;
            // A STALLed data stage ends the transfer: the host goes no further with it.
            return item->status == PidStall ? End(PidStall) : nullptr;
        }
        if (state_ & OutStatus) {
            open_->Append(item);
            return item->status == PidNak || item->status == kNone ? nullptr : End(item->status);
        }
        return item;
    default:
        // Halves of split stages, PINGs and NAK runs inside a transfer are part of it.
        open_->Append(item);
        return nullptr;
    }
}

// ---------------------------------------------------------------- descriptions

int32_t CDecodeRequest::Summarize(UsbItem* item, ItemSummary* out) {
    if (item && item->type == ItemControlTransfer && host_) host_->Summarize(item, out);
    return 0;
}

int32_t CDecodeRequest::GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) {
    if (!item || item->type != ItemControlTransfer || !host_) return 0;
    int32_t n = host_->GetData(item, buffer, capacity);
    return n > 0 ? n : 0;
}

int32_t CDecodeRequest::GetDetail(UsbItem* item, std::string& xml) { return host_ ? host_->GetDetail(item, xml) : 0; }

const ImageList* CDecodeRequest::GetImageList(UsbItem* item) { return host_ ? host_->GetImageList(item) : nullptr; }

}  // namespace orvane
