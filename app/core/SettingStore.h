// The user's own settings, held in memory for the whole run as one document in
// "setting.xml": the packet list's column layout and the named device
// configurations. Loaded when built, written back when destroyed.
#pragma once

#include <string>
#include <vector>

#include "Document.h"

namespace orvane::app {

class SettingStore {
public:
    static const char* const kDefaultText;

    // $XDG_CONFIG_HOME (default ~/.config) + "/Kavrin/Orvane/setting.xml".
    SettingStore();
    // The settings file at `path`; an empty path keeps the settings in memory only.
    explicit SettingStore(std::string path);
    // Saves; a failure keeps the old file and is not reported.
    ~SettingStore();
    SettingStore(const SettingStore&) = delete;
    SettingStore& operator=(const SettingStore&) = delete;

    // Empty when no home folder is known.
    static std::string DefaultPath();

    const std::string& GetPath() const { return path_; }
    // For the user: why the stored settings are not in use (defaults are), or
    // why they will not be saved; empty when all is well.
    const std::string& GetLoadError() const { return loadError_; }
    // Where a damaged settings file was put aside; empty when none was.
    const std::string& GetDamagedCopy() const { return damagedCopy_; }

    // Replaces the file as a whole (written aside, then renamed over it), so a
    // failure at any point leaves the old file as it was.
    bool Save(std::string* error = nullptr);

    int GetConfigurationCount() const;
    // Null for an index out of range.
    xml::Node ConfigurationAt(int index) const;
    // False for a null node or a missing attribute.
    static bool GetAttribute(const xml::Node& node, const std::string& name, std::string& value);
    // Appends a deep copy of a device-tree `configuration` element with `name`
    // and `guid` set; 0 for a node that is not an element.
    int AddConfiguration(const xml::Node& node, const std::string& name, const std::string& guid);
    // Index, as ConfigurationAt counts, of the first configuration whose `guid`
    // equals `guid` exactly; -1 when none does.
    int FindConfiguration(const std::string& guid) const;
    // Reads (load) or writes the list layout, `count` entries per array; a null
    // array is skipped. 0 when the document has no list layout element.
    int ExchangeListLayout(int* order, int* width, int* visible, int count, bool load);

    const xml::Document& Document() const { return doc_; }

private:
    void Load();
    std::vector<xml::Node> Configurations() const;

    xml::Document doc_;
    std::string path_;
    std::string loadError_;
    std::string damagedCopy_;
    // Set when the file on disk could not be read: it must not be overwritten.
    bool keepFile_ = false;
};

}  // namespace orvane::app
