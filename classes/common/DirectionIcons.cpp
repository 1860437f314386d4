#include "DirectionIcons.h"

namespace orvane {

namespace {

const uint8_t kIconStrip[] = {
#include "DirectionIconsData.inc"
};

}  // namespace

const ImageList& DirectionIcons()
{
    static const ImageList images{kIconStrip, sizeof kIconStrip, 16, 16, 2};
    return images;
}

}  // namespace orvane
