// The decoding interfaces shared by the engine, the program and the class
// decoder plug-ins.
#pragma once

#include <cstdint>
#include <string>

#include "IDataSource.h"
#include "ImageList.h"
#include "ItemSummary.h"
#include "UsbItem.h"

namespace orvane {

class IProgress;

class IDecode {
public:
    virtual void Release() = 0;
    // 1 when this decoder filled the row, 0 when the item is not its to describe.
    virtual int32_t Summarize(UsbItem* item, ItemSummary* out) = 0;
    // Writes at most `capacity` bytes of the item's data and returns its full
    // length, so a caller can size a second call; negative when not its item.
    virtual int32_t GetData(UsbItem* item, uint8_t* buffer, uint32_t capacity) = 0;
    // 1 when `xml` holds the item's decode-result document.
    virtual int32_t GetDetail(UsbItem* item, std::string& xml) = 0;
    virtual const ImageList* GetImageList(UsbItem* item) = 0;
    virtual int32_t OnNotify(int32_t code, void* arg, intptr_t param) = 0;

protected:
    ~IDecode() = default;
};

// The text that stands for `item`'s data when `decode` finds a payload of
// them lost (NotifyPayloadLost); null when it lacks none. The caller's own
// copy, which outlives the decoder's module.
inline const char* LostPayloadText(IDecode* decode, UsbItem* item) {
    const char* text = nullptr;
    if (!decode || decode->OnNotify(NotifyPayloadLost, item, reinterpret_cast<intptr_t>(&text)) != 1) return nullptr;
    return IsPayloadUnreadText(text) ? kPayloadUnreadText : kPayloadLostText;
}

class IDecodeClass : public IDecode {
public:
    // -1 in subclass or protocol means any.
    virtual int32_t GetClassCode(int32_t* cls, int32_t* subclass, int32_t* protocol) = 0;
    virtual void SetHost(IDecode* host) = 0;
    // The item itself, a new higher-level item, or null while it keeps the item;
    // null in means flush.
    virtual UsbItem* OnTransaction(UsbItem* item) = 0;
    virtual void Reset() = 0;

protected:
    ~IDecodeClass() = default;
};

class IUsbDecoder : public IDecode {
public:
    virtual int32_t SetDataSource(IDataSource* source) = 0;
    // 1 when the source is exhausted, 0 when parsing stopped for lack of memory.
    virtual int32_t Parse(IProgress* sink) = 0;
    virtual int32_t GetDeviceTree(std::string& xml) = 0;
    virtual int32_t GetTypeName(int32_t type, std::string& name) = 0;
    virtual int32_t SummarizePacket(UsbItem* item, ItemSummary* out) = 0;
    virtual int32_t SummarizeTransaction(UsbItem* item, ItemSummary* out) = 0;
    virtual int32_t GetPacketData(UsbItem* item, uint8_t* buffer, uint32_t capacity) = 0;
    virtual int32_t GetTransactionData(UsbItem* item, uint8_t* buffer, uint32_t capacity) = 0;
    virtual int32_t GetPacketDetail(UsbItem* item, std::string& xml) = 0;
    virtual int32_t GetTransactionDetail(UsbItem* item, std::string& xml) = 0;

protected:
    ~IUsbDecoder() = default;
};

class IDecoderManager : public IDecode {
public:
    virtual void SetRoot(UsbItem* root) = 0;
    virtual void SetHost(IDecode* host) = 0;
    virtual int32_t LoadDeviceTree(const std::string& xml) = 0;
    virtual int32_t DecodeAll(IProgress* sink) = 0;

protected:
    ~IDecoderManager() = default;
};

// Lives as long as the program: no Release.
class IDecodeFactory {
public:
    virtual int32_t GetCount() = 0;
    virtual int32_t GetInfo(int32_t index, int32_t* cls, int32_t* subclass, int32_t* protocol) = 0;
    virtual int32_t Find(int32_t cls, int32_t subclass, int32_t protocol) = 0;
    virtual IDecodeClass* Create(int32_t index) = 0;
    virtual void ReleaseDecoder(IDecodeClass* decoder) = 0;
    virtual std::string* GetPath(std::string* out, int32_t index) = 0;

protected:
    ~IDecodeFactory() = default;
};

// One parsed descriptor or setup packet.
class IDescriptor {
public:
    // Copies at most the descriptor's own size from data.
    virtual void Parse(const uint8_t* data, uint32_t length) = 0;
    virtual void GetName(std::string& out) = 0;
    virtual int32_t GetFieldCount() = 0;
    virtual int32_t GetField(int32_t index, FieldRecord* out) = 0;

protected:
    ~IDescriptor() = default;
};

// Sink of IUsbDecoder::Parse and IDecoderManager::DecodeAll.
class IProgress {
public:
    virtual int32_t OnItem(UsbItem* item) = 0;
    virtual int32_t OnProgress(float fraction) = 0;
    virtual int32_t OnFinish() = 0;
    virtual int32_t Reserved() = 0;

protected:
    ~IProgress() = default;
};

// Export of every class decoder plug-in.
using CreateDecoderFn = IDecodeClass* (*)();
constexpr const char* kCreateDecoderExport = "CreateDecoder";

}  // namespace orvane
