// The parser's list icons: 26 icons of 16 by 16 pixels in one PNG strip.
#pragma once

#include "ImageList.h"

namespace orvane {

const ImageList& ParserIcons();

}  // namespace orvane
