#include "ParserIcons.h"

namespace orvane {

namespace {
const uint8_t kStrip[] = {
#include "ParserIconsData.inc"
};
}  // namespace

const ImageList& ParserIcons() {
    static const ImageList list{kStrip, sizeof kStrip, 16, 16, 26};
    return list;
}

}  // namespace orvane
