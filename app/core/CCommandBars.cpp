#include "CCommandBars.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>
#include <utility>

#include "Document.h"

namespace orvane::app {

const char* const CCommandBars::kMenuBar = "Menu Bar";

namespace {

const char* const kRoot = "CommandBars";
const char* const kCustomPrefix = "Custom";

// What identifies an entry across versions; empty for separators and markers.
std::string EntryKey(const BarEntry& entry) {
    if (entry.IsPopup()) return "menu:" + entry.popup;
    return entry.id > 0 ? std::to_string(entry.id) : std::string();
}

bool SameThing(const BarEntry& a, const BarEntry& b) {
    return a.IsPopup() ? a.popup == b.popup : (!b.IsPopup() && a.id == b.id && a.id != 0);
}

// Puts `entry` at `position` (past the end or negative: last); the same one
// already there gives way.
void Place(std::vector<BarEntry>& entries, int position, const BarEntry& entry) {
    if (position < 0 || position > int(entries.size())) position = int(entries.size());
    for (int i = 0; i < int(entries.size()); ++i) {
        if (!SameThing(entries[i], entry)) continue;
        entries.erase(entries.begin() + i);
        if (i < position) --position;
        break;
    }
    entries.insert(entries.begin() + position, entry);
}

std::optional<int> ReadInt(const xml::Node& node, const char* name) {
    const std::optional<std::string> text = node.attribute(name);
    if (!text) return std::nullopt;
    int value = 0;
    const char* end = text->data() + text->size();
    auto [at, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || at != end) return std::nullopt;
    return value;
}

bool ReadFlag(const xml::Node& node, const char* name, bool fallback) {
    const std::optional<std::string> text = node.attribute(name);
    return text ? *text == "1" : fallback;
}

}  // namespace

CCommandBars::CCommandBars(std::vector<CommandBar> defaults) : defaults_(std::move(defaults)), bars_(defaults_) {}

const CommandBar* CCommandBars::Find(const std::string& key) const {
    for (const CommandBar& bar : bars_)
        if (bar.key == key) return &bar;
    return nullptr;
}

CommandBar* CCommandBars::FindBar(const std::string& key) {
    return const_cast<CommandBar*>(std::as_const(*this).Find(key));
}

std::vector<int> CCommandBars::Shown(const CommandBar& bar, bool whole) const {
    std::vector<int> shown;
    bool lastWasBar = true;  // no separator first
    for (size_t i = 0; i < bar.entries.size(); ++i) {
        const BarEntry& entry = bar.entries[i];
        if (!whole && bar.kind == BarKind::Menu && entry.IsCommand() && rarelyUsed_.count(entry.id)) continue;
        const bool separator = !entry.IsPopup() && entry.id == 0;
        if (separator && lastWasBar) continue;
        shown.push_back(int(i));
        lastWasBar = separator;
    }
    if (!shown.empty() && lastWasBar) shown.pop_back();
    return shown;
}

bool CCommandBars::LeavesOut(const CommandBar& bar) const {
    if (bar.kind != BarKind::Menu) return false;
    return std::any_of(bar.entries.begin(), bar.entries.end(),
                       [this](const BarEntry& e) { return e.IsCommand() && rarelyUsed_.count(e.id); });
}

bool CCommandBars::Reaches(const std::string& menu, const std::string& key) const {
    std::vector<std::string> pending{menu};
    std::set<std::string> seen;
    while (!pending.empty()) {
        const std::string at = pending.back();
        pending.pop_back();
        if (at == key) return true;
        if (!seen.insert(at).second) continue;
        if (const CommandBar* bar = Find(at))
            for (const BarEntry& entry : bar->entries)
                if (entry.IsPopup()) pending.push_back(entry.popup);
    }
    return false;
}

bool CCommandBars::Insert(const std::string& key, int position, const BarEntry& entry) {
    CommandBar* bar = FindBar(key);
    if (!bar || (!entry.IsPopup() && entry.id < 0)) return false;
    if (entry.IsPopup()) {
        const CommandBar* menu = Find(entry.popup);
        if (!menu || menu->kind != BarKind::Menu || Reaches(entry.popup, key)) return false;
    }
    Place(bar->entries, position, entry);
    return true;
}

bool CCommandBars::Remove(const std::string& key, int position) {
    CommandBar* bar = FindBar(key);
    if (!bar || position < 0 || position >= int(bar->entries.size())) return false;
    bar->entries.erase(bar->entries.begin() + position);
    DropUnusedMenus();
    return true;
}

bool CCommandBars::Move(const std::string& from, int fromPosition, const std::string& to, int toPosition) {
    CommandBar* source = FindBar(from);
    CommandBar* target = FindBar(to);
    if (!source || !target || fromPosition < 0 || fromPosition >= int(source->entries.size())) return false;
    const BarEntry entry = source->entries[fromPosition];
    if (!entry.IsPopup() && entry.id < 0 && from != to) return false;  // the frame fills markers where they stand
    if (entry.IsPopup() && from != to && Reaches(entry.popup, to)) return false;
    if (toPosition < 0 || toPosition > int(target->entries.size())) toPosition = int(target->entries.size());
    source->entries.erase(source->entries.begin() + fromPosition);
    if (source == target && fromPosition < toPosition) --toPosition;
    // Not through Remove: the moved menu must not count as unused meanwhile.
    Place(target->entries, toPosition, entry);
    return true;
}

std::string CCommandBars::AddMenu(const std::string& title) {
    CommandBar menu;
    do menu.key = kCustomPrefix + std::to_string(nextCustom_++);
    while (Find(menu.key));
    menu.title = title;
    menu.kind = BarKind::Menu;
    menu.custom = true;
    bars_.push_back(menu);
    return menu.key;
}

bool CCommandBars::Rename(const std::string& key, const std::string& title) {
    CommandBar* bar = FindBar(key);
    if (!bar || bar->kind != BarKind::Menu || title.empty()) return false;
    bar->title = title;
    return true;
}

void CCommandBars::Reset() {
    bars_ = defaults_;
    nextCustom_ = 1;
}

void CCommandBars::DropUnusedMenus() {
    // Repeated: a dropped menu may have been the last to open another one.
    for (bool dropped = true; dropped;) {
        dropped = false;
        for (auto it = bars_.begin(); it != bars_.end(); ++it) {
            if (!it->custom) continue;
            const std::string key = it->key;
            const bool used = std::any_of(bars_.begin(), bars_.end(), [&](const CommandBar& bar) {
                return bar.key != key && std::any_of(bar.entries.begin(), bar.entries.end(),
                                                     [&](const BarEntry& e) { return e.popup == key; });
            });
            if (used) continue;
            bars_.erase(it);
            dropped = true;
            break;
        }
    }
}

std::string CCommandBars::PlainText(const std::string& text) {
    std::string plain = text;
    // "(&X)" after a Chinese text goes whole; a bare "&" only loses itself.
    for (size_t at = plain.find("(&"); at != std::string::npos; at = plain.find("(&", at))
        if (at + 3 < plain.size() && plain[at + 3] == ')') plain.erase(at, 4);
        else ++at;
    plain.erase(std::remove(plain.begin(), plain.end(), '&'), plain.end());
    return plain;
}

std::vector<CommandCategory> CCommandBars::Categories() const {
    std::vector<CommandCategory> categories;
    const CommandBar* menuBar = nullptr;
    for (const CommandBar& bar : defaults_)
        if (bar.key == kMenuBar) menuBar = &bar;
    if (!menuBar) return categories;
    for (const BarEntry& top : menuBar->entries) {
        if (!top.IsPopup()) continue;
        CommandCategory category;
        // The menu's own commands, then those of its submenus.
        std::vector<std::string> pending{top.popup};
        std::set<std::string> seen;
        while (!pending.empty()) {
            const std::string key = pending.front();
            pending.erase(pending.begin());
            if (!seen.insert(key).second) continue;
            for (const CommandBar& bar : defaults_) {
                if (bar.key != key) continue;
                if (category.title.empty()) category.title = PlainText(bar.title);
                for (const BarEntry& entry : bar.entries) {
                    if (entry.IsPopup()) pending.push_back(entry.popup);
                    else if (entry.id > 0) category.commands.push_back(entry.id);
                }
            }
        }
        categories.push_back(std::move(category));
    }
    return categories;
}

// ---------------------------------------------------------------- stored form

std::string CCommandBars::Save() const {
    xml::Document doc;
    xml::Node root = doc.appendChild(doc.createElement(kRoot));
    root.setAttribute("version", "1");
    root.setAttribute("largeIcons", options_.largeIcons ? "1" : "0");
    root.setAttribute("toolTips", options_.toolTips ? "1" : "0");
    root.setAttribute("shortcutsInTips", options_.shortcutsInTips ? "1" : "0");
    root.setAttribute("fullMenus", options_.fullMenus ? "1" : "0");
    std::string known;
    for (const CommandBar& bar : defaults_)
        for (const BarEntry& entry : bar.entries)
            if (const std::string key = EntryKey(entry); !key.empty()) known += (known.empty() ? "" : " ") + key;
    root.setAttribute("known", known);
    for (const CommandBar& bar : bars_) {
        xml::Node node = root.appendChild(doc.createElement("bar"));
        node.setAttribute("key", bar.key);
        if (bar.kind == BarKind::Menu) node.setAttribute("title", bar.title);
        if (bar.custom) node.setAttribute("custom", "1");
        for (const BarEntry& entry : bar.entries) {
            if (entry.IsPopup()) {
                node.appendChild(doc.createElement("popup")).setAttribute("menu", entry.popup);
            } else if (entry.id == 0) {
                node.appendChild(doc.createElement("separator"));
            } else {
                xml::Node item = node.appendChild(doc.createElement(entry.id > 0 ? "command" : "marker"));
                item.setAttribute("id", std::to_string(entry.id));
            }
        }
    }
    return root.xml();
}

bool CCommandBars::Load(const std::string& text, std::string* error) {
    xml::Document doc;
    if (!doc.loadXML(text)) {
        if (error) *error = doc.lastError();
        return false;
    }
    const xml::Node root = doc.documentElement();
    if (root.name() != kRoot) {
        if (error) *error = "not a command-bar state: root <" + root.name() + ">";
        return false;
    }
    std::set<int> markers;
    for (const CommandBar& bar : defaults_)
        for (const BarEntry& entry : bar.entries)
            if (!entry.IsPopup() && entry.id < 0) markers.insert(entry.id);

    std::vector<CommandBar> bars = defaults_;
    std::set<std::string> loaded;
    for (const xml::Node& node : root.childNodes()) {
        if (node.name() != "bar") continue;
        const std::string key = node.attribute("key").value_or("");
        if (key.empty() || !loaded.insert(key).second) continue;
        auto it = std::find_if(bars.begin(), bars.end(), [&](const CommandBar& b) { return b.key == key; });
        if (it == bars.end()) {
            // Only menus the user made are more than the first state has.
            if (!ReadFlag(node, "custom", false)) continue;
            CommandBar menu;
            menu.key = key;
            menu.kind = BarKind::Menu;
            menu.custom = true;
            menu.title = node.attribute("title").value_or("");
            if (menu.title.empty()) continue;
            bars.push_back(menu);
            it = bars.end() - 1;
        } else if (it->kind == BarKind::Menu) {
            if (std::string title = node.attribute("title").value_or(""); !title.empty()) it->title = title;
        }
        it->entries.clear();
        for (const xml::Node& item : node.childNodes()) {
            const std::string name = item.name();
            if (name == "separator") {
                it->entries.push_back({});
            } else if (name == "popup") {
                if (std::string menu = item.attribute("menu").value_or(""); !menu.empty())
                    it->entries.push_back({0, menu});
            } else if (name == "command" || name == "marker") {
                const std::optional<int> id = ReadInt(item, "id");
                if (id && (name == "command" ? *id > 0 : markers.count(*id) != 0)) it->entries.push_back({*id, {}});
            }
        }
    }

    BarOptions options;
    options.largeIcons = ReadFlag(root, "largeIcons", options.largeIcons);
    options.toolTips = ReadFlag(root, "toolTips", options.toolTips);
    options.shortcutsInTips = ReadFlag(root, "shortcutsInTips", options.shortcutsInTips);
    options.fullMenus = ReadFlag(root, "fullMenus", options.fullMenus);

    std::set<std::string> known;
    const std::optional<std::string> knownText = root.attribute("known");
    std::istringstream words(knownText.value_or(""));
    for (std::string word; words >> word;) known.insert(word);

    bars_ = std::move(bars);
    options_ = options;
    if (knownText) {
        // What the first state has and the stored one never knew goes where the first state has it.
        for (const CommandBar& first : defaults_) {
            CommandBar* bar = FindBar(first.key);
            for (size_t i = 0; bar && i < first.entries.size(); ++i) {
                const BarEntry& entry = first.entries[i];
                const std::string key = EntryKey(entry);
                if (key.empty() || known.count(key)) continue;
                auto& entries = bar->entries;
                if (std::any_of(entries.begin(), entries.end(), [&](const BarEntry& e) { return SameThing(e, entry); }))
                    continue;
                size_t at = 0;
                for (size_t j = i; j-- > 0 && at == 0;)
                    for (size_t k = 0; k < entries.size(); ++k)
                        if (!EntryKey(first.entries[j]).empty() && SameThing(entries[k], first.entries[j])) at = k + 1;
                entries.insert(entries.begin() + at, entry);
            }
        }
    }
    RepairAfterLoad();
    return true;
}

void CCommandBars::RepairAfterLoad() {
    std::set<int> markersSeen;
    for (CommandBar& bar : bars_) {
        std::vector<BarEntry> kept;
        for (const BarEntry& entry : bar.entries) {
            if (entry.IsPopup()) {
                const CommandBar* menu = Find(entry.popup);
                if (!menu || menu->kind != BarKind::Menu) continue;
            } else if (entry.id < 0 && !markersSeen.insert(entry.id).second) {
                continue;
            }
            if (std::any_of(kept.begin(), kept.end(), [&](const BarEntry& e) { return SameThing(e, entry); })) continue;
            kept.push_back(entry);
        }
        bar.entries = std::move(kept);
    }
    // A menu that opens, at any depth, from itself loses that entry.
    for (CommandBar& bar : bars_) {
        auto& entries = bar.entries;
        for (size_t i = 0; i < entries.size();) {
            if (entries[i].IsPopup()) {
                const std::string menu = entries[i].popup;
                entries.erase(entries.begin() + i);
                if (!Reaches(menu, bar.key)) entries.insert(entries.begin() + i++, BarEntry{0, menu});
            } else {
                ++i;
            }
        }
    }
    DropUnusedMenus();
    nextCustom_ = 1;
    for (const CommandBar& bar : bars_) {
        if (!bar.custom || bar.key.rfind(kCustomPrefix, 0) != 0) continue;
        int n = 0;
        const std::string digits = bar.key.substr(std::char_traits<char>::length(kCustomPrefix));
        auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (error == std::errc() && n >= nextCustom_ && n < 1000000) nextCustom_ = n + 1;
    }
}

void CCommandBars::HideButtons(const std::vector<int>& ids) {
    for (CommandBar& bar : bars_) {
        if (bar.kind != BarKind::ToolBar) continue;
        auto& entries = bar.entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const BarEntry& e) {
                                         return e.IsCommand() && std::find(ids.begin(), ids.end(), e.id) != ids.end();
                                     }),
                      entries.end());
    }
}

}  // namespace orvane::app
