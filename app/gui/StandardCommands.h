// The window's command table: every command's text, shortcuts and check style,
// the menu layout and the "Standard" toolbar's buttons, in one place.
#pragma once

#include <vector>

namespace orvane::app {

class CCommandRegistry;

// Defines every command of the window (unbound: disabled until someone binds it).
void DefineStandardCommands(CCommandRegistry& registry);

// Menu entries: a command id, or one of these markers.
enum MenuMarker : int {
    MenuSeparator = 0,
    MenuDemoFiles = -1,    // the "演示文件" submenu
    MenuRecentFiles = -2,  // the recent-file entries
};

struct MenuLayout {
    const char* title;
    std::vector<int> entries;
};

const std::vector<MenuLayout>& StandardMenus();
// The "Standard" toolbar's buttons in order; MenuSeparator where a bar stands.
const std::vector<int>& StandardToolbar();

}  // namespace orvane::app
