// The window's command bars as data: the menu bar, the toolbar and the menus
// with what sits on each, the customise options, their first state (for a
// reset) and their stored form. The frame builds its widgets from it; the
// customise sheet and the drops on the bars change it.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace orvane::app {

// One place on a bar: a command (id > 0), a separator (id 0), a marker the
// frame fills in (id < 0: the demonstration files, the recent files), or a
// menu that opens from here (`popup`, the key of that menu's bar).
struct BarEntry {
    int id = 0;
    std::string popup;

    bool IsPopup() const { return !popup.empty(); }
    bool IsCommand() const { return popup.empty() && id > 0; }
    bool operator==(const BarEntry&) const = default;
};

enum class BarKind { MenuBar, ToolBar, Menu };

struct CommandBar {
    std::string key;      // stable name, never shown: "Menu Bar", "Standard", "Menu0"..., "Custom1"...
    std::string title;    // a menu's text, with its "&" mnemonic
    BarKind kind = BarKind::Menu;
    bool custom = false;  // a menu the user made
    std::vector<BarEntry> entries;
};

struct BarOptions {
    bool largeIcons = false;
    bool toolTips = true;         // tips on the toolbar's buttons
    bool shortcutsInTips = true;  // with the command's shortcut key
    bool fullMenus = false;       // menus show their rarely used commands too
    bool operator==(const BarOptions&) const = default;
};

// A category of commands: a menu of the first state with every command in it.
struct CommandCategory {
    std::string title;  // without the mnemonic
    std::vector<int> commands;
};

class CCommandBars {
public:
    static const char* const kMenuBar;

    // `defaults`: the first state; the menu bar's key is kMenuBar.
    explicit CCommandBars(std::vector<CommandBar> defaults = {});

    const std::vector<CommandBar>& Bars() const { return bars_; }
    const std::vector<CommandBar>& Defaults() const { return defaults_; }
    // Null for an unknown key.
    const CommandBar* Find(const std::string& key) const;

    const BarOptions& Options() const { return options_; }
    void SetOptions(const BarOptions& options) { options_ = options; }

    // Commands a menu leaves out until it is shown whole.
    void SetRarelyUsed(std::set<int> ids) { rarelyUsed_ = std::move(ids); }
    // The indexes of the entries a bar shows: no separator at either end or
    // after another; in a menu not shown whole, no rarely used command.
    std::vector<int> Shown(const CommandBar& bar, bool whole) const;
    // Whether a menu not shown whole leaves something out.
    bool LeavesOut(const CommandBar& bar) const;

    // Places a command or a menu at `position` of `bar` (-1 or past the end:
    // last). One already on that bar moves there. False, changing nothing, for
    // an unknown bar or menu, a marker, or a menu put inside itself.
    bool Insert(const std::string& bar, int position, const BarEntry& entry);
    // Takes an entry off; a menu the user made goes when nothing opens it any more.
    bool Remove(const std::string& bar, int position);
    // An entry to another place, on the same bar or another one; `toPosition`
    // counts in the target bar as it was before the move.
    bool Move(const std::string& from, int fromPosition, const std::string& to, int toPosition);

    // A new empty menu placed nowhere yet; its key.
    std::string AddMenu(const std::string& title);
    bool Rename(const std::string& key, const std::string& title);

    // Toolbars and menus back to the first state; the options stay.
    void Reset();

    // Menu categories of the first state, in menu-bar order.
    std::vector<CommandCategory> Categories() const;
    // "设备(&D)" → "设备", "打开(&O)..." → "打开...", "&Edit" → "Edit".
    static std::string PlainText(const std::string& text);

    // The stored form (XML text).
    std::string Save() const;
    // A stored form. Commands and menus of the first state that it does not
    // know (new since it was stored) keep their first places. False, changing
    // nothing, for text that is not a stored form.
    bool Load(const std::string& text, std::string* error = nullptr);
    // The older stored form: the toolbar's buttons the user switched off.
    void HideButtons(const std::vector<int>& ids);

private:
    CommandBar* FindBar(const std::string& key);
    // Whether menu `key` is `menu` or opens, at any depth, from it.
    bool Reaches(const std::string& menu, const std::string& key) const;
    void DropUnusedMenus();
    void RepairAfterLoad();

    std::vector<CommandBar> defaults_;
    std::vector<CommandBar> bars_;
    BarOptions options_;
    std::set<int> rarelyUsed_;
    int nextCustom_ = 1;
};

}  // namespace orvane::app
