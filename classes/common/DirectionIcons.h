// The strip of an IN and an OUT arrow that plug-ins showing a transfer's
// direction give their rows.
#pragma once

#include <cstdint>

#include "ImageList.h"

namespace orvane {

constexpr int32_t kIconIn = 0, kIconOut = 1;

const ImageList& DirectionIcons();

}  // namespace orvane
