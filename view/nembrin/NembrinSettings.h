// The data pane's settings in the per-user store: the five display values
// under "Nembrin" and the find dialog's under "Nembrin/FindDialog".
#pragma once

#include <QString>

#include <cstdint>

#include "HexLayout.h"

namespace orvane::nembrin {

DisplaySettings ReadDisplaySettings();
void WriteDisplaySetting(SettingIndex index, int32_t value);

struct FindPlacement {
    int32_t posX = 0, posY = 0;  // owner's left/top minus the dialog's
    uint8_t radix = 0, scope = 0, minimumUnit = 0;
};
FindPlacement ReadFindPlacement();
void WriteFindPlacement(const FindPlacement& placement);

}  // namespace orvane::nembrin
