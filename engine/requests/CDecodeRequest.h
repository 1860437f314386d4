// The built-in standard-request decoder: assembles the transactions of a
// default control pipe into control transfers (SETUP, data and status stages).
#pragma once

#include <cstdint>

#include "IDecode.h"

namespace orvane {

class CDecodeRequest : public IDecodeClass {
public:
    // Stage expectations.
    enum State : uint32_t {
        Idle = 1,
        InData = 2,
        OutData = 4,
        InStatus = 8,
        OutStatus = 16,
        AfterOutData = OutData | InStatus,  // 12
        AfterInData = InData | OutStatus,   // 18
        // The setup's bytes were not captured: data either way, or the IN
        // status stage of a request without data, may come next.
        LostSetup = InData | OutData | InStatus,  // 14
    };

    CDecodeRequest() = default;
    // An open transfer belongs to no tree yet: it goes with the decoder.
    virtual ~CDecodeRequest();

    void Release() override { delete this; }
    int32_t Summarize(UsbItem* item, ItemSummary* out) override;
    int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    int32_t GetDetail(UsbItem* item, std::string& xml) override;
    const ImageList* GetImageList(UsbItem* item) override;
    int32_t OnNotify(int32_t, void*, intptr_t) override { return 0; }

    int32_t GetClassCode(int32_t*, int32_t*, int32_t*) override { return 0; }
    void SetHost(IDecode* host) override { host_ = host; }
    UsbItem* OnTransaction(UsbItem* item) override;
    // Whether the item opens a transfer: an acknowledged SETUP stage, split or not.
    static bool Opens(const UsbItem* item);
    void Reset() override {}

    uint32_t StageState() const { return state_; }
    // Whether the transfer handed out last is a class request: only those of
    // no interface go on to a class decoder.
    bool HandedClassRequest() const { return handedClass_; }
    const UsbItem* OpenTransfer() const { return open_; }

private:
    UsbItem* Open(UsbItem* setup);
    // Hands out the open transfer with `handshake` as its result.
    UsbItem* End(uint8_t handshake);
    // Every transfer handed out goes through here.
    UsbItem* Hand(UsbItem* transfer);
    // Appends a data-stage transaction unless it would carry the data past wLength.
    bool TakeData(UsbItem* item);
    // The bytes a stage's data packet carried, also when the capture lacks them.
    uint32_t StageBytes(UsbItem* item) const;
    bool Owns(const UsbItem* item) const;

    UsbItem* open_ = nullptr;
    IDecode* host_ = nullptr;
    uint32_t state_ = Idle;
    uint32_t wLength_ = 0;
    uint32_t received_ = 0;
    // What an IN data-stage transaction tells of data the capture lacks.
    void NoteInData(const UsbItem* item);

    bool lostData_ = false;           // an accepted data packet was not captured
    bool lastInUnanswered_ = false;   // the latest IN data transaction had no answer
    uint8_t nextToggle_ = PidData1;   // PID of the next data packet the host accepts
    bool openClass_ = false;          // the open transfer's setup is a class request
    bool setupLost_ = false;          // the open transfer's setup packet lost its payload
    bool handedClass_ = false;
};

}  // namespace orvane
