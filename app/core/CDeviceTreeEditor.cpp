#include "CDeviceTreeEditor.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "CUsbIdDatabase.h"
#include "DeviceTree.h"
#include "SettingStore.h"

namespace orvane::app {

namespace {

int IntAttr(const xml::Node& node, const char* name) {
    const std::string text = node.attribute(name).value_or(std::string());
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() || value < INT32_MIN || value > INT32_MAX ? 0 : int(value);
}

xml::Node FirstElement(const xml::Node& node) {
    for (xml::Node child = node.firstChild(); child; child = child.nextSibling())
        if (child.type() == xml::NodeType::Element) return child;
    return {};
}

std::vector<xml::Node> Elements(const xml::Node& node) {
    std::vector<xml::Node> elements;
    for (const xml::Node& child : node.childNodes())
        if (child.type() == xml::NodeType::Element) elements.push_back(child);
    return elements;
}

// Cut to kMaxText bytes without splitting a UTF-8 sequence.
std::string Fit(std::string text) {
    if (text.size() <= CDeviceTreeEditor::kMaxText) return text;
    size_t end = CDeviceTreeEditor::kMaxText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

}  // namespace

CDeviceTreeEditor::CDeviceTreeEditor(SettingStore* store) : store_(store) { doc_.loadXML(kEmptyTree); }

void CDeviceTreeEditor::Receive(const std::string& text) {
    if (!doc_.loadXML(text)) doc_.loadXML(kEmptyTree);
    lastText_ = text;
    modified_ = false;
    IndexDevices();
}

void CDeviceTreeEditor::Clear() {
    doc_.loadXML(kEmptyTree);
    modified_ = false;
    IndexDevices();
}

void CDeviceTreeEditor::IndexDevices() {
    // The edits keep the device elements; only a new document changes them.
    devices_.clear();
    std::vector<int> seen(128, 0);
    for (const xml::Node& node : doc_.selectNodes("//device")) {
        const int address = IntAttr(node, "address");
        if (address >= 0 && address < 128) devices_.emplace(DeviceKey(address, seen[size_t(address)]++), node);
    }
}

xml::Node CDeviceTreeEditor::Device(int device) const {
    const auto it = devices_.find(device);
    return it == devices_.end() ? xml::Node() : it->second;
}

bool CDeviceTreeEditor::HasDevice(int device) const { return bool(Device(device)); }

std::string CDeviceTreeEditor::EndpointText(int address, int attributes) {
    static const char* const kTypes[] = {"Control", "Isochronous", "Bulk", "Interrupt"};
    static const char* const kSync[] = {"No Synchronization", "Asynchronous", "Adaptive", "Synchronous"};
    static const char* const kUsage[] = {"Data endpoint", "Feedback endpoint", "Implicit feedback Data endpoint",
                                         "Reserved"};
    return "Endpoint " + std::to_string(address & 0x0F) + " (" + (address >= 0x80 ? "IN" : "OUT") + "/" +
           kTypes[attributes & 3] + "/" + kSync[(attributes >> 2) & 3] + "/" + kUsage[(attributes >> 4) & 3] + ")";
}

std::string CDeviceTreeEditor::HeldFromText(const std::string& first, const std::string& again) {
    // A device given an address an earlier one held: from where it holds it.
    // One that held it again lists the first few records and counts its turns.
    // Read as the decoding reads them: a damaged text gives no turns here either.
    const std::optional<uint32_t> mark = DeviceTree::ReadRecord(first);
    const std::vector<uint32_t> records = DeviceTree::ReadRecords(again).value_or(std::vector<uint32_t>());
    std::vector<uint32_t> from;
    if (mark) from.push_back(*mark);
    else if (!records.empty()) from.push_back(0);
    if (from.empty()) return {};
    const size_t turns = from.size() + records.size();
    for (size_t i = 0; i < records.size() && from.size() < kListedTurns; ++i) from.push_back(records[i]);
    std::string text = " 自包 " + std::to_string(from[0]);
    for (size_t i = 1; i < from.size(); ++i) text += "、" + std::to_string(from[i]);
    text += turns > from.size() ? "… 起" : " 起";
    if (turns > 1) text += "，共 " + std::to_string(turns) + " 次";
    return text;
}

std::vector<CDeviceTreeEditor::Row> CDeviceTreeEditor::Rows(const CUsbIdDatabase& ids) const {
    std::vector<Row> rows;
    std::vector<int> seen(128, 0);
    for (const xml::Node& device : doc_.selectNodes("//device")) {
        const int address = IntAttr(device, "address");
        const int key = address >= 0 && address < 128 ? DeviceKey(address, seen[size_t(address)]++) : -1;
        const int vendor = IntAttr(device, "idVendor"), product = IntAttr(device, "idPorduct");
        const int deviceRow = int(rows.size());
        std::string text = "Address " + std::to_string(address) + " (" + ids.GetProductName(vendor, product) + "/" +
                           ids.GetVendorName(vendor) + ")";
        text += HeldFromText(device.attribute(DeviceTree::kFirstPacket).value_or(""),
                             device.attribute(DeviceTree::kAgainFrom).value_or(""));
        rows.push_back({LevelDevice, address, key, -1, Fit(text)});
        const xml::Node configuration = FirstElement(device);
        if (!configuration) continue;
        for (const xml::Node& interface : Elements(configuration)) {
            const int cls = IntAttr(interface, "bInterfaceClass");
            const int interfaceRow = int(rows.size());
            rows.push_back({LevelInterface, address, key, deviceRow,
                            Fit("Interface " + std::to_string(IntAttr(interface, "bInterfaceNumber")) + " (" +
                                ids.GetClassName(cls) + "/" +
                                ids.GetSubClassName(cls, IntAttr(interface, "bInterfaceSubClass")) +
                                "),bAlternateSetting " + std::to_string(IntAttr(interface, "bAlternateSetting")))});
            for (const xml::Node& endpoint : Elements(interface))
                rows.push_back({LevelEndpoint, address, key, interfaceRow,
                                Fit(EndpointText(IntAttr(endpoint, "bEndpointAddress"),
                                                 IntAttr(endpoint, "bmAttributes")))});
        }
    }
    return rows;
}

bool CDeviceTreeEditor::PickConfiguration(int deviceKey, int index) {
    if (!store_) return false;
    const xml::Node stored = store_->ConfigurationAt(index);
    xml::Node device = Device(deviceKey);
    if (!stored || !device) return false;
    for (const xml::Node& child : device.childNodes()) device.removeChild(child);
    // A node of the settings document arrives here as a copy, name and guid included.
    if (!device.appendChild(stored)) return false;
    if (Text() != lastText_) modified_ = true;
    return true;
}

int CDeviceTreeEditor::ExportToFavorites(int device, const CUsbIdDatabase& ids, const std::string& guid) {
    if (!store_) return -1;
    const xml::Node configuration = FirstElement(Device(device));
    if (!configuration) return -1;
    const xml::Node interface = FirstElement(configuration);
    const int cls = interface ? IntAttr(interface, "bInterfaceClass") : 0;
    const int subclass = interface ? IntAttr(interface, "bInterfaceSubClass") : 0;
    const std::string name = ids.GetClassName(cls) + "/" + ids.GetSubClassName(cls, subclass);
    if (!store_->AddConfiguration(configuration, name, guid)) return -1;
    return store_->GetConfigurationCount() - 1;
}

int CDeviceTreeEditor::StoredIndexOf(int device) const {
    const xml::Node configuration = FirstElement(Device(device));
    const std::optional<std::string> guid = configuration.attribute("guid");
    return store_ && guid ? store_->FindConfiguration(*guid) : -1;
}

std::vector<std::string> CDeviceTreeEditor::StoredNames() const {
    std::vector<std::string> names;
    if (!store_) return names;
    const int count = store_->GetConfigurationCount();
    for (int i = 0; i < count; ++i) {
        std::string name;
        SettingStore::GetAttribute(store_->ConfigurationAt(i), "name", name);
        names.push_back(name);
    }
    return names;
}

std::string CDeviceTreeEditor::Apply() {
    lastText_ = Text();
    modified_ = false;
    return lastText_;
}

std::string CDeviceTreeEditor::NewGuid() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    uint64_t high = random(), low = random();
    high = (high & ~0xF000ull) | 0x4000ull;                    // version 4
    low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);          // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(high >> 32), unsigned(high >> 16) & 0xFFFF,
                  unsigned(high & 0xFFFF), unsigned(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

}  // namespace orvane::app
