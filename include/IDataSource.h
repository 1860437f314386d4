// The one object through which a capture's records and payload are read, and
// through which the device object drives the analyser's registers.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "DeviceStatus.h"
#include "PacketRecord.h"

namespace orvane {

// LastFileError's number for a save refused because the capture's payload is
// not all at hand: the store lacks part of it and the analyser no longer holds it.
constexpr int32_t kFileErrorPayloadShort = -1;
// LastFileError's number for a save refused because records the analyser
// holds could not be read from it (UnreadRecords tells how many).
constexpr int32_t kFileErrorRecordsShort = -2;

// UnreadRecords' answers beside a system error number: the analyser no
// longer holds the capture, so its rows not read are gone (a save keeps the
// rows read); or every record is read now, but a pass was served some of
// them without their payload: a pass from row 0 serves them whole.
constexpr int32_t kRecordsNoLongerHeld = -1;
constexpr int32_t kRecordsReadSincePass = -2;

// GetPayload's answer for a packet whose payload could not be read from the
// analyser: a read of it failed, or the store lacks it and the analyser no
// longer holds its capture. No bytes, and the panes say why.
constexpr int32_t kPayloadNotRead = -1;

// A save's progress and its cancel, shared by the thread that saves and the
// one that shows it: the bytes the capture files take, the bytes of them
// written so far, and a request to give the save up.
struct SaveProgress {
    std::atomic<uint64_t> total{0};
    std::atomic<uint64_t> done{0};
    std::atomic<bool> cancel{false};

    int Percent() const {
        const uint64_t all = total.load(), now = done.load();
        return all ? int(std::min(now, all) * 100 / all) : 0;
    }
};

// Results of IDataSource::GetRecord.
enum RecordResult : int32_t { RecordEnd = 0, RecordOk = 1, RecordNotYet = 2 };

class IDataSource {
public:
    // Outside the device library only slots 0-3 and the last four (PeekRecords on) are called.
    virtual uint32_t GetCount() = 0;
    virtual int32_t GetRecord(uint32_t index, PacketRecord* out) = 0;
    // Copies at most `capacity` payload bytes (length field - 2) into dst and the
    // CRC16 into *crc; returns the payload's full length, so a caller whose buffer
    // was too small can size a second call. 0 when nothing can be served.
    // Asked for neither bytes nor CRC (dst and crc null) it reads nothing and
    // answers kPayloadNotRead while the last read of that payload failed, and
    // for payload the store lacks once the analyser no longer holds the capture.
    virtual int32_t GetPayload(const PacketRecord* record, uint8_t* dst, uint32_t capacity, uint16_t* crc) = 0;
    // `save` 1 writes the capture to the files, every packet whose payload it
    // lacks marked so; 0 opens them; 2 opens files such a save wrote and that
    // are as it left them, which need no walk for payload written over before
    // the save, so their first records are served at once. 1 when done.
    virtual int32_t OpenOrSave(const char* packetPath, const char* dataPath, int32_t save) = 0;
    virtual int32_t Release() = 0;
    virtual int32_t GetDeviceInfo(DeviceInfo* out) = 0;
    virtual int32_t GetStatus(DeviceStatus* out) = 0;
    virtual int32_t DownloadImage() = 0;
    virtual int32_t Reset() = 0;
    virtual int32_t ResetFilter() = 0;
    virtual int32_t WriteFilterHeld() = 0;
    virtual int32_t WriteFilter() = 0;
    virtual int32_t SetAdvancedFilter(int32_t enable) = 0;
    virtual int32_t SetFilterFlags(uint32_t flags) = 0;
    virtual int32_t SetDropMode(int32_t drop) = 0;
    virtual int32_t SetCondition(uint32_t address, uint32_t id, uint32_t upstream, uint32_t downstream) = 0;
    virtual int32_t ConfigureStorage(uint32_t prePacketBytes, uint32_t packetBytes, uint32_t prePayloadBytes,
                                     uint32_t payloadBytes, uint32_t buffer) = 0;
    virtual int32_t HoldCapture() = 0;
    virtual int32_t StartCapture() = 0;
    virtual int32_t SetRunning(int32_t run) = 0;
    virtual int32_t ResetTrigger() = 0;
    virtual int32_t SetTriggerStep(uint32_t index, uint32_t address, uint32_t endpoint, uint32_t pidMask,
                                   const char* data) = 0;
    virtual int32_t ArmTrigger() = 0;
    virtual int32_t Reserved() = 0;
    virtual IDataSource* GetDataSource() = 0;
    virtual int32_t BeginUpload() = 0;
    virtual int32_t EndUpload() = 0;
    virtual int32_t ClearMemory() = 0;
    // Records [index, index + *count) that are already held in memory, for a
    // reader that walks a loaded or uploaded capture without a call per record;
    // null and *count 0 when the record at `index` has to be fetched with GetRecord.
    virtual const PacketRecord* PeekRecords(uint32_t index, uint32_t* count) = 0;
    // Why the last OpenOrSave failed: the system's error number (0 when no
    // system call failed, a cancelled save say) and the path it concerned,
    // as given to OpenOrSave (empty when none); valid until the next call.
    virtual int32_t LastFileError(const char** path) = 0;
    // After a save refused with kFileErrorPayloadShort: the data packets whose
    // payload could not be had, as the first one's record number and how many.
    virtual int32_t MissingPayload(uint32_t* first, uint32_t* count) = 0;
    // The progress the next saves report, and whose cancel they obey (null: none).
    virtual void SetSaveProgress(SaveProgress*) {}
    // Of an ended capture whose records could not all be read from the
    // analyser (a read failed, the analyser unplugged): the records read and
    // served so far, and how many it holds; returns why (a system error
    // number, while the analyser may still hold the rest: a later read goes on
    // with it), kRecordsNoLongerHeld, or kRecordsReadSincePass (all read now);
    // 0 when nothing is left unread and no pass was served rows short.
    virtual int32_t UnreadRecords(uint32_t* read, uint32_t* held) {
        if (read) *read = 0;
        if (held) *held = 0;
        return 0;
    }

protected:
    ~IDataSource() = default;  // freed only through Release
};

}  // namespace orvane
