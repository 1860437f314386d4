// The icon strip of the built-in panes: 16 by 16 pixels, drawn in the style of
// the view plug-ins' icons.
#pragma once

#include <QIcon>

#include <cstdint>

namespace orvane::app {

// 4000 the device tree, 4001 properties, 4002 the decode detail, 4003 data;
// a null icon for any other id.
QIcon PaneIcon(uint32_t id);

}  // namespace orvane::app
