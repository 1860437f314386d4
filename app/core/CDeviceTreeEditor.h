// The device-tree pane without its widgets: its own copy of the capture's
// device tree, the lines the pane shows for it, and the edits: giving a device
// a named configuration from the user's settings, storing a device's
// configuration there, and applying the edited tree.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Document.h"

namespace orvane {
class CUsbIdDatabase;
}

namespace orvane::app {

class SettingStore;

class CDeviceTreeEditor {
public:
    enum Level { LevelDevice = 0, LevelInterface = 1, LevelEndpoint = 2 };
    struct Row {
        int level = LevelDevice;   // also the image: 0 device, 1 interface, 2 endpoint
        int address = 0;           // of the device the line belongs to
        int device = 0;            // that device, as the edits below name it (DeviceKey)
        int parent = -1;           // index of the parent line; -1 for a device
        std::string text;
    };
    static constexpr const char* kEmptyTree = "<devices/>";
    // Line texts are cut to this many bytes, at a character boundary.
    static constexpr size_t kMaxText = 511;

    // `store` (not owned) holds the named configurations; null: none.
    explicit CDeviceTreeEditor(SettingStore* store = nullptr);
    void SetStore(SettingStore* store) { store_ = store; }
    SettingStore* Store() const { return store_; }

    // A tree from elsewhere (a parse, another pane): replaces the copy, is
    // remembered as the last text and clears the modified state. A text that is
    // not XML leaves no devices.
    void Receive(const std::string& text);
    // A new capture or project: no devices; the last text stays.
    void Clear();

    // Devices in document order, each followed by the interfaces of its first
    // configuration, each of those by its endpoints.
    std::vector<Row> Rows(const CUsbIdDatabase& ids) const;
    // The edits name a device by its address, plus 128 for each earlier
    // device that held the same address in the capture.
    static int DeviceKey(int address, int earlier) { return address + 128 * earlier; }
    bool HasDevice(int device) const;

    // Replaces the device's configurations by a copy of stored configuration
    // `index`. False, changing nothing, when there is no such entry or no such
    // device (it may have gone with a new tree).
    bool PickConfiguration(int device, int index);
    // Stores a copy of the device's first configuration under the class names
    // of its first interface; the stored index, -1 when nothing was stored.
    int ExportToFavorites(int device, const CUsbIdDatabase& ids, const std::string& guid = NewGuid());
    // The stored index of the configuration the device was given, -1 when none.
    int StoredIndexOf(int device) const;
    // Names of the stored configurations, by stored index.
    std::vector<std::string> StoredNames() const;

    // The tree to publish; it becomes the last text and the modified state clears.
    std::string Apply();

    std::string Text() const { return doc_.xml(); }
    const std::string& LastText() const { return lastText_; }
    bool Modified() const { return modified_; }

    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case, random.
    static std::string NewGuid();
    static std::string EndpointText(int address, int attributes);
    // What a device line adds for the records it held its address from: its
    // firstPacket and againFrom texts; empty for a device that held it throughout.
    static std::string HeldFromText(const std::string& first, const std::string& again);
    // Turns at the address a device line lists by their first record.
    static constexpr size_t kListedTurns = 3;

private:
    xml::Node Device(int device) const;
    void IndexDevices();

    SettingStore* store_;
    xml::Document doc_;
    // Device elements by DeviceKey.
    std::unordered_map<int, xml::Node> devices_;
    std::string lastText_;
    bool modified_ = false;
};

}  // namespace orvane::app
