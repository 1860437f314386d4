#include "DeviceTree.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "DescriptorList.h"

namespace orvane {
namespace {

constexpr const char* kEmptyTree = "<devices/>";

std::string Dec(int v) { return std::to_string(v); }

template <class Attributes = std::initializer_list<std::pair<const char*, std::string>>>
xml::Node Element(xml::Document& doc, const char* name, const Attributes& attributes)
{
    xml::Node node = doc.createElement(name);
    for (const auto& [key, value] : attributes) node.setAttribute(key, value);
    return node;
}

// Leading blanks, a sign and digits, as a decimal integer; anything else
// reads 0, and a number beyond the int range saturates.
int ToInt(const std::string& text)
{
    size_t i = text.find_first_not_of(" \t\r\n");
    if (i == std::string::npos) return 0;
    long long value = 0;
    const char* first = text.data() + i + (text[i] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) return text[i] == '-' ? INT_MIN : INT_MAX;
    if (ec != std::errc() || end == first) return 0;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// A pending device's record: what it learned, in order. A device descriptor is
// its fields; a configuration, its response bytes.
constexpr char kRecordDevice = 'D';
constexpr char kRecordConfiguration = 'C';
constexpr int kDeviceFields = 8;  // address, bcdUSB, class, subclass, protocol, idVendor, idProduct, bcdDevice

void RecordInt(std::string& record, int32_t value)
{
    record.append(reinterpret_cast<const char*>(&value), sizeof value);
}

int32_t RecordedInt(const std::string& record, size_t& at)
{
    int32_t value = 0;
    std::memcpy(&value, record.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

std::optional<int> IntAttribute(const xml::Node& node, const char* name)
{
    const auto text = node.attribute(name);
    if (!text) return std::nullopt;
    return ToInt(*text);
}

}  // namespace

DeviceTree::DeviceTree()
{
    document_.loadXML(kEmptyTree);
}

using Attributes = std::initializer_list<std::pair<const char*, std::string>>;

void DeviceTree::ResetDeviceTree()
{
    document_.loadXML(kEmptyTree);
    open_.clear();
    kept_.clear();
    pending_ = 0;
}

void DeviceTree::FindLatestDevices()
{
    open_.clear();
    kept_.clear();
    pending_ = 0;
    // The last one of an address in document order is the one written to.
    for (const xml::Node& device : document_.selectNodes("/devices/device"))
        if (const auto address = device.attribute("address")) open_[*address] = OpenDevice{device};
}

xml::Node DeviceTree::FindDevice(int address) const
{
    const auto it = open_.find(Dec(address));
    return it == open_.end() ? xml::Node() : it->second.node;
}

DeviceTree::OpenDevice* DeviceTree::Open(int address)
{
    const auto it = open_.find(Dec(address));
    if (it == open_.end() || !it->second.node) return nullptr;
    OpenDevice& device = it->second;
    // An element added from outside the learning: the device is written first.
    if (device.pending) WritePending(it->first, device);
    if (device.indexed) return &device;
    // A device of a loaded tree: its children are read once; the first of
    // equal ones is the one found, as a path search would.
    auto named = [](const xml::Node& node, const char* name) {
        std::vector<xml::Node> found;
        for (const xml::Node& child : node.childNodes())
            if (child.type() == xml::NodeType::Element && child.name() == name) found.push_back(child);
        return found;
    };
    for (const xml::Node& configuration : named(device.node, "configuration")) {
        const auto value = configuration.attribute("bConfigurationValue");
        if (!value) continue;
        const auto [at, added] = device.configurations.try_emplace(*value, OpenConfiguration{configuration});
        if (!added) continue;
        for (const xml::Node& interface : named(configuration, "interface")) {
            const auto number = interface.attribute("bInterfaceNumber");
            const auto alternate = interface.attribute("bAlternateSetting");
            if (!number || !alternate) continue;
            const auto [in, fresh] = at->second.interfaces.try_emplace({*number, *alternate}, OpenInterface{interface});
            if (!fresh) continue;
            for (const xml::Node& endpoint : named(interface, "endpoint"))
                if (const auto endpointAddress = endpoint.attribute("bEndpointAddress"))
                    in->second.endpoints.insert(*endpointAddress);
        }
    }
    device.indexed = true;
    return &device;
}

DeviceTree::OpenConfiguration* DeviceTree::FindConfiguration(int address, int bConfigurationValue,
                                                             OpenDevice** owner)
{
    OpenDevice* device = Open(address);
    if (!device) return nullptr;
    if (owner) *owner = device;
    const auto it = device->configurations.find(Dec(bConfigurationValue));
    return it == device->configurations.end() ? nullptr : &it->second;
}

DeviceTree::OpenInterface* DeviceTree::FindInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber,
                                                         int bAlternateSetting, OpenDevice** owner)
{
    OpenConfiguration* configuration = FindConfiguration(address, bConfigurationValue, owner);
    if (!configuration) return nullptr;
    const auto it = configuration->interfaces.find({Dec(bInterfaceNumber), Dec(bAlternateSetting)});
    return it == configuration->interfaces.end() ? nullptr : &it->second;
}

bool DeviceTree::AddDeviceNode(int address, int bcdUSB, int bDeviceClass, int bDeviceSubClass, int bDeviceProtocol,
                               int idVendor, int idProduct, int bcdDevice)
{
    if (FindDevice(address)) return false;
    return AppendDevice(address, bcdUSB, bDeviceClass, bDeviceSubClass, bDeviceProtocol, idVendor, idProduct, bcdDevice,
                        std::nullopt);
}

bool DeviceTree::AppendDevice(int address, int bcdUSB, int bDeviceClass, int bDeviceSubClass, int bDeviceProtocol,
                              int idVendor, int idProduct, int bcdDevice, std::optional<uint32_t> firstPacket)
{
    // The root element, without an XPath query: this runs once per enumeration.
    xml::Node devices = document_.documentElement();
    if (!devices || devices.name() != "devices") return false;
    const std::string key = Dec(address);
    // The device that held the address is complete now.
    FoldDevice(key);
    OpenDevice& open = open_[key];
    if (firstPacket) {
        // A device in a reset loop takes its address over and over: it is
        // written only if it does not fold into an earlier one.
        open = OpenDevice{devices.appendChild(document_.createElement("device"))};
        open.indexed = open.pending = true;
        open.mark = *firstPacket;
        ++pending_;
        open.record.reserve(128);
        open.record.push_back(kRecordDevice);
        for (int value : {address, bcdUSB, bDeviceClass, bDeviceSubClass, bDeviceProtocol, idVendor, idProduct, bcdDevice})
            RecordInt(open.record, value);
        return true;
    }
    const Attributes attributes = {{"address", key},
                                   {"bcdUSB", Dec(bcdUSB)},
                                   {"bDeviceClass", Dec(bDeviceClass)},
                                   {"bDeviceSubClass", Dec(bDeviceSubClass)},
                                   {"bDeviceProtocol", Dec(bDeviceProtocol)},
                                   {"idVendor", Dec(idVendor)},
                                   {"idPorduct", Dec(idProduct)},
                                   {"bcdDevice", Dec(bcdDevice)}};
    open = OpenDevice{devices.appendChild(Element(document_, "device", attributes))};
    open.indexed = true;
    return true;
}

void DeviceTree::WritePending(const std::string& address, OpenDevice& device)
{
    if (!device.pending) return;
    device.pending = false;
    --pending_;
    const std::string record = std::move(device.record);
    device.record.clear();
    device.responses.clear();
    static const char* const kNames[kDeviceFields] = {"address",   "bcdUSB",   "bDeviceClass", "bDeviceSubClass",
                                                      "bDeviceProtocol", "idVendor", "idPorduct", "bcdDevice"};
    const int key = ToInt(address);
    for (size_t at = 0; at < record.size();) {
        if (record[at++] == kRecordDevice) {
            for (const char* name : kNames) device.node.setAttribute(name, Dec(RecordedInt(record, at)));
            device.node.setAttribute(kFirstPacket, std::to_string(device.mark));
            continue;
        }
        const auto size = uint32_t(RecordedInt(record, at));
        Learning ignored;
        AddConfiguration(key, {reinterpret_cast<const uint8_t*>(record.data() + at), size}, ignored, true);
        at += size;
    }
}

void DeviceTree::WritePendingDevices() const
{
    if (pending_ == 0) return;
    // Written lazily: to a reader the tree is as if every device had been written at once.
    auto& tree = const_cast<DeviceTree&>(*this);
    for (auto& [address, device] : tree.open_) tree.WritePending(address, device);
}

void DeviceTree::FoldDevice(const std::string& address)
{
    const auto it = open_.find(address);
    if (it == open_.end() || !it->second.node) return;
    Kept& kept = kept_[address];
    std::string record;
    if (it->second.pending) {
        const auto known = kept.byRecord.find(it->second.record);
        if (known != kept.byRecord.end()) {
            // Written, it would fold into that earlier device: only its mark is kept.
            auto& [earlier, again] = kept.again[known->second];
            if (!again.empty()) again += ' ';
            again += std::to_string(it->second.mark);
            it->second.node.parent().deleteChild(it->second.node);
            --pending_;
            it->second = OpenDevice{earlier};
            return;
        }
        record = it->second.record;
        WritePending(address, it->second);
    }
    xml::Node device = it->second.node;
    std::string signature;
    for (const auto& [name, value] : device.attributes())
        if (name != kFirstPacket && name != kAgainFrom)
            signature.append(name).append(1, '=').append(value).append(1, '\n');
    for (const xml::Node& child : device.childNodes()) signature += child.xml();
    const auto [at, added] = kept.bySignature.try_emplace(std::move(signature), kept.again.size());
    if (!record.empty()) kept.byRecord.emplace(std::move(record), at->second);
    if (added) {
        kept.again.emplace_back(device, device.attribute(kAgainFrom).value_or(std::string()));
        return;
    }
    auto& [earlier, again] = kept.again[at->second];
    const auto mark = device.attribute(kFirstPacket);
    // Only a device that took the address over folds: it says from when.
    if (earlier == device || !mark) return;
    for (const std::string& from : {*mark, device.attribute(kAgainFrom).value_or(std::string())})
        if (!from.empty()) again += (again.empty() ? "" : " ") + from;
    device.parent().deleteChild(device);
    it->second = OpenDevice{earlier};
}

void DeviceTree::FoldRepeatedDevices()
{
    for (const auto& [address, open] : open_) FoldDevice(address);
    for (const auto& [address, kept] : kept_)
        for (auto [device, again] : kept.again)
            if (!again.empty()) device.setAttribute(kAgainFrom, again);
}

bool DeviceTree::AddConfigurationNode(int address, int bConfigurationValue, const std::string& configurationText)
{
    OpenDevice* device = Open(address);
    const std::string key = Dec(bConfigurationValue);
    if (!device || device->configurations.count(key)) return false;
    xml::Node node = device->node.appendChild(
        Element(document_, "configuration", {{"bConfigurationValue", key}, {"strConfiguration", configurationText}}));
    device->configurations.emplace(key, OpenConfiguration{node});
    return true;
}

bool DeviceTree::AddInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                                  int bNumEndpoints, int bInterfaceClass, int bInterfaceSubClass,
                                  int bInterfaceProtocol)
{
    OpenConfiguration* configuration = FindConfiguration(address, bConfigurationValue);
    std::pair<std::string, std::string> key{Dec(bInterfaceNumber), Dec(bAlternateSetting)};
    if (!configuration || configuration->interfaces.count(key)) return false;
    const Attributes attributes = {{"bInterfaceNumber", key.first},
                                   {"bAlternateSetting", key.second},
                                   {"bNumEndpoints", Dec(bNumEndpoints)},
                                   {"bInterfaceClass", Dec(bInterfaceClass)},
                                   {"bInterfaceSubClass", Dec(bInterfaceSubClass)},
                                   {"bInterfaceProtocol", Dec(bInterfaceProtocol)}};
    xml::Node node = configuration->node.appendChild(Element(document_, "interface", attributes));
    configuration->interfaces.emplace(std::move(key), OpenInterface{node});
    return true;
}

bool DeviceTree::AddEndpointNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                                 int bEndpointAddress, int bmAttributes)
{
    OpenInterface* interface = FindInterfaceNode(address, bConfigurationValue, bInterfaceNumber, bAlternateSetting);
    const std::string key = Dec(bEndpointAddress);
    if (!interface || !interface->endpoints.insert(key).second) return false;
    const Attributes attributes = {{"bEndpointAddress", key}, {"bmAttributes", Dec(bmAttributes)}};
    interface->node.appendChild(Element(document_, "endpoint", attributes));
    return true;
}

bool DeviceTree::LearnFromGetDescriptor(int address, const CDeviceRequest& setup, std::span<const uint8_t> data,
                                        Learning* learning)
{
    Learning ignored;
    Learning& out = learning ? *learning : ignored;
    if (!setup.IsStandard() || setup.bRequest() != 6 || address < 1 || address > 127) return false;
    const unsigned requested = setup.wValue() >> 8;
    if (requested == 1) {
        // Only the kept bytes are read: no name look-ups on the capture thread.
        const DescriptorList list(setup, data, CUsbIdDatabase::Empty());
        const auto* device = list.As<CDescriptorDevice>(0);
        // A partial read (the first 8 bytes, say) would record zeros as identity.
        if (!device || !device->Kept().Complete()) return false;
        if (!out.newDeviceFrom)
            return AddDeviceNode(address, device->bcdUSB(), device->bDeviceClass(), device->bDeviceSubClass(),
                                 device->bDeviceProtocol(), device->idVendor(), device->idProduct(),
                                 device->bcdDevice());
        // A new device never merges into the one that held the address before.
        out.newDevice = true;
        std::optional<uint32_t> mark;
        if (FindDevice(address) || (out.addressSeen && AddPlaceholderDevice(address))) mark = out.newDeviceFrom;
        return AppendDevice(address, device->bcdUSB(), device->bDeviceClass(), device->bDeviceSubClass(),
                            device->bDeviceProtocol(), device->idVendor(), device->idProduct(), device->bcdDevice(),
                            mark);
    }
    if (requested != 2) return false;
    // Only a whole configuration teaches anything: the usual first read of 9 bytes is not parsed.
    if (data.size() < 4 || size_t(data[2] | data[3] << 8) != data.size()) return false;
    const auto open = open_.find(Dec(address));
    if (open == open_.end() || !open->second.pending) return AddConfiguration(address, data, out, true);
    // A pending device records the response: it is read again only if the device is written.
    // A reset loop asks for the same bytes every time: what they tell is kept from the last one.
    OpenDevice& device = open->second;
    Told& told = lastTold_;
    if (!std::ranges::equal(data, told.bytes)) {
        Learning fresh;
        if (!AddConfiguration(address, data, fresh, false)) return false;
        told = {std::vector<uint8_t>(data.begin(), data.end()), fresh};
    }
    out.configurationValue = told.learning.configurationValue;
    out.sawEndpoint |= told.learning.sawEndpoint;
    for (size_t ep = 0; ep < std::size(out.endpointInterfaces); ++ep)
        if (told.learning.endpointInterfaces[ep]) out.endpointInterfaces[ep] = told.learning.endpointInterfaces[ep];
    // Each distinct response is kept once: the device would be written the same.
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    const size_t hash = std::hash<std::string_view>{}(bytes);
    const auto [first, last] = device.responses.equal_range(hash);
    for (auto it = first; it != last; ++it)
        if (std::string_view(device.record).substr(it->second.first, it->second.second) == bytes) return false;
    device.record.push_back(kRecordConfiguration);
    RecordInt(device.record, int32_t(data.size()));
    device.responses.emplace(hash, std::pair(device.record.size(), uint32_t(data.size())));
    device.record.append(bytes);
    return true;
}

size_t DeviceTree::PendingBytes() const
{
    size_t bytes = 0;
    for (const auto& [address, device] : open_)
        if (device.pending) bytes += device.record.size();
    return bytes;
}

bool DeviceTree::AddConfiguration(int address, std::span<const uint8_t> data, Learning& out, bool write)
{
    static const uint8_t kGetConfiguration[8] = {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
    static const CDeviceRequest kSetup(kGetConfiguration, 8, CUsbIdDatabase::Empty());
    const DescriptorList list(kSetup, data, CUsbIdDatabase::Empty());
    const auto* configuration = list.As<CDescriptorConfiguration>(0);
    if (!configuration || configuration->bDescriptorType() != 2 || !configuration->Kept().Complete() ||
        configuration->wTotalLength() != data.size())
        return false;
    const int value = configuration->bConfigurationValue();
    out.configurationValue = value;
    bool added = write && AddConfigurationNode(address, value, FormatConfigurationBytes(data));
    const CDescriptorInterace* current = nullptr;
    for (size_t i = 1; i < list.size(); ++i) {
        if (const auto* interface = list.As<CDescriptorInterace>(i)) {
            // A cut-short interface has no trustworthy identity, nor do its endpoints.
            current = interface->Kept().Complete() ? interface : nullptr;
            if (!current || !write) continue;
            added |= AddInterfaceNode(address, value, interface->bInterfaceNumber(), interface->bAlternateSetting(),
                                      interface->bNumEndpoints(), interface->bInterfaceClass(),
                                      interface->bInterfaceSubClass(), interface->bInterfaceProtocol());
        } else if (const auto* endpoint = list.As<CDescriptorEndpoint>(i)) {
            out.sawEndpoint = true;
            if (!current || !endpoint->Kept().Complete()) continue;
            out.endpointInterfaces[endpoint->bEndpointAddress() & 0x0F] = uint8_t(current->bInterfaceNumber() + 1);
            if (write)
                added |= AddEndpointNode(address, value, current->bInterfaceNumber(), current->bAlternateSetting(),
                                         endpoint->bEndpointAddress(), endpoint->bmAttributes());
        }
    }
    return write ? added : true;
}

bool DeviceTree::LoadDeviceTree(const std::string& text)
{
    if (!document_.loadXML(text)) return false;
    FindLatestDevices();
    BuildDeviceIndex();
    return true;
}

void DeviceTree::BuildDeviceIndex()
{
    // Both start empty: an entry the new tree no longer gives must not keep
    // binding traffic to an interface that is gone.
    interfaces_.clear();
    endpoints_.clear();
    for (auto& turns : turns_) turns.clear();
    for (auto& configurations : configurations_) configurations.clear();
    // A device marked with a record later than the address's last mark is
    // the address's next device; unmarked ones share the current one, as in a
    // tree stored before addresses were told apart. A device's kAgainFrom
    // records give it the address again.
    std::optional<uint32_t> last[128];
    uint32_t ordinal[128] = {};
    uint32_t element = 0;
    for (const xml::Node& device : document_.selectNodes("//device")) {
        const auto at = IntAttribute(device, "address");
        if (!at || *at < 0 || *at > 127) continue;
        const int address = *at;
        auto& turns = turns_[size_t(address)];
        const auto mark = device.attribute(kFirstPacket);
        if (const auto read = mark ? ReadRecord(*mark) : std::nullopt) {
            const uint32_t from = *read;
            if (!last[address] || from > *last[address]) {
                last[address] = from;
                turns.push_back({from, ++ordinal[address]});
            }
        }
        const uint32_t index = ordinal[address];
        if (const auto again = device.attribute(kAgainFrom))
            for (const uint32_t from : ReadRecords(*again).value_or(std::vector<uint32_t>()))
                turns.push_back({from, index});
        auto& configurations = configurations_[size_t(address)];
        if (configurations.size() <= index) configurations.resize(index + 1);
        ++element;
        for (const xml::Node& configuration : device.selectNodes("./configuration"))
            if (auto value = configuration.attribute("bConfigurationValue"))
                configurations[index].push_back({element, std::move(*value), configuration.attribute("strConfiguration")});
        for (const xml::Node& interface : device.selectNodes(".//interface")) {
            const auto number = IntAttribute(interface, "bInterfaceNumber");
            const auto cls = IntAttribute(interface, "bInterfaceClass");
            const auto subclass = IntAttribute(interface, "bInterfaceSubClass");
            const auto protocol = IntAttribute(interface, "bInterfaceProtocol");
            if (!number || !cls || !subclass || !protocol) continue;
            // Outside 0-255 there is no interface to bind to: its endpoints get 0.
            const bool valid = *number >= 0 && *number <= 255;
            for (const xml::Node& endpoint : interface.selectNodes(".//endpoint")) {
                const auto endpointAddress = IntAttribute(endpoint, "bEndpointAddress");
                if (!endpointAddress) continue;
                endpoints_[IndexKey(address, *endpointAddress & 0x0F, index)] = valid ? *number + 1 : 0;
            }
            if (valid) interfaces_[IndexKey(address, *number, index)] = {*cls, *subclass, *protocol};
        }
    }
    for (auto& turns : turns_)
        std::stable_sort(turns.begin(), turns.end(), [](const Turn& a, const Turn& b) { return a.from < b.from; });
}

uint32_t DeviceTree::DeviceAt(int address, uint32_t record) const
{
    if (address < 0 || address > 127) return 0;
    const auto& turns = turns_[size_t(address)];
    return uint32_t(std::upper_bound(turns.begin(), turns.end(), record,
                                     [](uint32_t r, const Turn& turn) { return r < turn.from; }) -
                    turns.begin());
}

std::pair<uint32_t, uint32_t> DeviceTree::DeviceRecords(int address, uint32_t device) const
{
    if (address < 0 || address > 127) return {0, UINT32_MAX};
    const auto& turns = turns_[size_t(address)];
    const uint32_t from = device == 0 || device > turns.size() ? 0 : turns[device - 1].from;
    const uint32_t to = device < turns.size() ? turns[device].from : UINT32_MAX;
    return {from, to};
}

uint32_t DeviceTree::TurnDevice(int address, uint32_t turn) const
{
    if (address < 0 || address > 127) return UINT32_MAX;
    const auto& turns = turns_[size_t(address)];
    if (turn == 0) return 0;
    return turn <= turns.size() ? turns[turn - 1].device : UINT32_MAX;
}

bool DeviceTree::GetConfigurationString(int address, int bConfigurationValue, std::string& out,
                                        uint32_t device) const
{
    const uint32_t index = TurnDevice(address, device);
    if (index == UINT32_MAX || index >= configurations_[size_t(address)].size()) return false;
    // The first such configuration among the elements of that device; an
    // element whose first one has no text gives way to the next element.
    const std::string value = Dec(bConfigurationValue);
    uint32_t skip = 0;
    for (const ConfigurationText& configuration : configurations_[size_t(address)][index]) {
        if (configuration.element == skip || configuration.value != value) continue;
        if (configuration.text) {
            out = *configuration.text;
            return true;
        }
        skip = configuration.element;
    }
    return false;
}

std::optional<DeviceTree::InterfaceClass> DeviceTree::FindInterface(int address, int bInterfaceNumber,
                                                                    uint32_t device) const
{
    if (address < 0 || address > 127 || bInterfaceNumber < 0 || bInterfaceNumber > 255) return std::nullopt;
    const auto it = interfaces_.find(IndexKey(address, bInterfaceNumber, TurnDevice(address, device)));
    if (it == interfaces_.end()) return std::nullopt;
    return it->second;
}

int32_t DeviceTree::FindEndpointInterface(int address, int endpoint, uint32_t device) const
{
    if (address < 0 || address > 127) return 0;
    const auto it = endpoints_.find(IndexKey(address, endpoint & 0x0F, TurnDevice(address, device)));
    return it == endpoints_.end() ? 0 : it->second;
}

std::optional<uint32_t> DeviceTree::ReadRecord(std::string_view text)
{
    uint32_t value = 0;
    const char* const end = text.data() + text.size();
    // Unsigned: no sign, no blank and no overflow are taken; the end must be reached.
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<std::vector<uint32_t>> DeviceTree::ReadRecords(std::string_view text)
{
    std::vector<uint32_t> records;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const size_t end = std::min(text.find(' ', at), text.size());
        const auto record = ReadRecord(text.substr(at, end - at));
        if (!record) return std::nullopt;
        records.push_back(*record);
        at = end;
    }
    return records;
}

std::string DeviceTree::FormatConfigurationBytes(std::span<const uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
        text += ' ';
    }
    return text;
}

}  // namespace orvane
