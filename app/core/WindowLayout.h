// The window's saved arrangement of panes and toolbars, as the toolkit's
// QMainWindow::saveState writes it. The toolkit takes such data back on trust
// and indexes its dock areas with positions read from it, so a damaged layout
// in the program's settings could end every start: it is checked here first.
#pragma once

#include <string>
#include <string_view>

namespace orvane::app {

// True when `state` holds the toolkit's header (marker 0xff, version 0) and
// sections it knows, each complete, with dock and toolbar positions among the
// four areas. False with a short reason in `error` otherwise.
bool CheckWindowLayout(std::string_view state, std::string* error = nullptr);

}  // namespace orvane::app
