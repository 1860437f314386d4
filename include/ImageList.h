// An image list as plain data: a horizontal strip of equally sized icons in
// one PNG. The core stays free of any GUI toolkit; the program makes pixmaps.
#pragma once

#include <cstdint>

namespace orvane {

struct ImageList {
    const uint8_t* png = nullptr;
    uint32_t pngSize = 0;
    uint32_t iconWidth = 16;
    uint32_t iconHeight = 16;
    uint32_t count = 0;
};

}  // namespace orvane
