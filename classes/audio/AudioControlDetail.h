// The parameter block of an audio class request: the data stage read as the
// control that wValue selects on the terminal, unit or endpoint the request
// addresses, one group of fields with their tips.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "CDecodeResultWriter.h"
#include "SetupPacket.h"

namespace orvane::audio {

// Writes the control's group for a request item of `type` (the decoder's
// entity or endpoint types) with its setup packet and the data its data
// stage delivered. False, writing nothing, for a control the entity does not
// have, for memory and status requests, and when the data do not hold what
// the control carries.
bool DescribeAudioRequest(uint16_t type, const SetupPacket& setup, std::span<const uint8_t> data,
                          CDecodeResultWriter& document);

// The library's tip texts by id (6001 to 6020); empty for any other id.
std::string TipText(uint32_t id);
// Band name of a graphic equalizer's band number (14 "25Hz" to 43 "20000Hz"); empty for others.
std::string BandName(uint32_t band);

}  // namespace orvane::audio
