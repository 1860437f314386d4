// The setup packet of a request on an audio interface, field by field, with
// wValue and wIndex spelled out as the audio addressing they carry
// (interface and entity, endpoint, control and channel, memory offset).
#pragma once

#include "AudioEntityTable.h"
#include "FieldTable.h"

namespace orvane::audio {

// The group title the decoder writes the walker under.
inline constexpr const char* kSetupGroupTitle = "SETUP transaction";

// The walker of the 8-byte packet (its own title "Setup request"). Entity
// kinds come from `entities`, which must outlive the walker.
class STAND_AUDIO_REQUEST_imp : public CTableWalker {
public:
    explicit STAND_AUDIO_REQUEST_imp(const CEntityTable& entities);
    // Recipient, type, direction, bRequest, wValue, wIndex, wLength; nothing
    // unless the data hold the whole packet.
    void Enumerate(std::vector<FieldRecord>& fields) override;

    static std::span<const ClassField> Fields();

private:
    const CEntityTable& entities_;
};

}  // namespace orvane::audio
