// The audio decoder: groups nothing, but retypes each control transfer that
// carries an audio class request after the request and the kind of entity it
// addresses, learned from the configuration's audio-control descriptors, and
// describes its row, its setup packet and its parameter block.
#pragma once

#include <cstdint>
#include <optional>

#include "AudioEntityTable.h"
#include "CClassDecoderBase.h"
#include "SetupPacket.h"

namespace orvane::audio {

class CClassDecoder : public CClassDecoderBase {
public:
    CClassDecoder();

    const CEntityTable& Entities() const { return entities_; }
    bool Notified() const { return notified_; }

    // The setup packet of a request item: its first SETUP transaction that
    // was acknowledged and carries exactly 8 bytes.
    std::optional<SetupPacket> GetSetupPacket(UsbItem* item);
    // The handshake closing a transaction: 0 ACK, 1 NYET, 2 NAK, -1 other or none.
    static int32_t GetHandshake(const UsbItem& transaction);

protected:
    int32_t SummarizeItem(UsbItem* item, ItemSummary& out) override;
    int32_t GetItemData(UsbItem* item, uint8_t* buffer, uint32_t capacity) override;
    bool DescribeItem(UsbItem* item, CDecodeResultWriter& document) override;
    const ImageList* ItemImages(UsbItem* item) override;
    bool ShowsDataOf(const UsbItem& item, const UsbItem& child) override;
    int32_t Notify(int32_t code, void* arg, intptr_t param) override;
    UsbItem* Transaction(UsbItem* item) override;

private:
    // The packet of `setup` when its row says it was acknowledged.
    std::optional<SetupPacket> AcceptedSetup(UsbItem* setup);
    // The type a class request of this interface gets; 256 when it stays a
    // plain control transfer.
    uint16_t RequestType(const SetupPacket& setup) const;
    std::string TargetName(UsbItem* item);

    CEntityTable entities_;
    bool notified_ = false;
};

}  // namespace orvane::audio
