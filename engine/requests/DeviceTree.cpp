#include "DeviceTree.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <climits>
#include <initializer_list>
#include <utility>

#include "DescriptorList.h"

namespace orvane {
namespace {

constexpr const char* kEmptyTree = "<devices/>";

std::string Dec(int v) { return std::to_string(v); }

xml::Node Element(xml::Document& doc, const char* name,
                  std::initializer_list<std::pair<const char*, std::string>> attributes)
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

void DeviceTree::ResetDeviceTree()
{
    document_.loadXML(kEmptyTree);
}

xml::Node DeviceTree::FindDevice(int address) const
{
    // The latest device of the address: an earlier one left it.
    return document_.selectSingleNode("/devices/device[@address=\"" + Dec(address) + "\"][last()]");
}

xml::Node DeviceTree::FindConfiguration(int address, int bConfigurationValue) const
{
    const xml::Node device = FindDevice(address);
    if (!device) return {};
    return device.selectSingleNode("./configuration[@bConfigurationValue=\"" + Dec(bConfigurationValue) + "\"]");
}

xml::Node DeviceTree::FindInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber,
                                        int bAlternateSetting) const
{
    const xml::Node configuration = FindConfiguration(address, bConfigurationValue);
    if (!configuration) return {};
    return configuration.selectSingleNode("./interface[@bInterfaceNumber=\"" + Dec(bInterfaceNumber) +
                                          "\" and @bAlternateSetting=\"" + Dec(bAlternateSetting) + "\"]");
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
    xml::Node devices = document_.selectSingleNode("/devices");
    if (!devices) return false;
    xml::Node device = Element(document_, "device",
                               {{"address", Dec(address)},
                                {"bcdUSB", Dec(bcdUSB)},
                                {"bDeviceClass", Dec(bDeviceClass)},
                                {"bDeviceSubClass", Dec(bDeviceSubClass)},
                                {"bDeviceProtocol", Dec(bDeviceProtocol)},
                                {"idVendor", Dec(idVendor)},
                                {"idPorduct", Dec(idProduct)},
                                {"bcdDevice", Dec(bcdDevice)}});
    if (firstPacket) device.setAttribute(kFirstPacket, std::to_string(*firstPacket));
    devices.appendChild(device);
    return true;
}

bool DeviceTree::AddConfigurationNode(int address, int bConfigurationValue, const std::string& configurationText)
{
    xml::Node device = FindDevice(address);
    if (!device || FindConfiguration(address, bConfigurationValue)) return false;
    device.appendChild(Element(document_, "configuration",
                               {{"bConfigurationValue", Dec(bConfigurationValue)},
                                {"strConfiguration", configurationText}}));
    return true;
}

bool DeviceTree::AddInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                                  int bNumEndpoints, int bInterfaceClass, int bInterfaceSubClass,
                                  int bInterfaceProtocol)
{
    xml::Node configuration = FindConfiguration(address, bConfigurationValue);
    if (!configuration || FindInterfaceNode(address, bConfigurationValue, bInterfaceNumber, bAlternateSetting))
        return false;
    configuration.appendChild(Element(document_, "interface",
                                      {{"bInterfaceNumber", Dec(bInterfaceNumber)},
                                       {"bAlternateSetting", Dec(bAlternateSetting)},
                                       {"bNumEndpoints", Dec(bNumEndpoints)},
                                       {"bInterfaceClass", Dec(bInterfaceClass)},
                                       {"bInterfaceSubClass", Dec(bInterfaceSubClass)},
                                       {"bInterfaceProtocol", Dec(bInterfaceProtocol)}}));
    return true;
}

bool DeviceTree::AddEndpointNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                                 int bEndpointAddress, int bmAttributes)
{
    xml::Node interface = FindInterfaceNode(address, bConfigurationValue, bInterfaceNumber, bAlternateSetting);
    if (!interface || interface.selectSingleNode("./endpoint[@bEndpointAddress=\"" + Dec(bEndpointAddress) + "\"]"))
        return false;
    interface.appendChild(Element(document_, "endpoint",
                                  {{"bEndpointAddress", Dec(bEndpointAddress)}, {"bmAttributes", Dec(bmAttributes)}}));
    return true;
}

bool DeviceTree::LearnFromGetDescriptor(int address, const CDeviceRequest& setup, std::span<const uint8_t> data,
                                        Learning* learning)
{
    Learning ignored;
    Learning& out = learning ? *learning : ignored;
    if (!setup.IsStandard() || setup.bRequest() != 6 || address < 1 || address > 127) return false;
    // Only the kept bytes are read: no name look-ups on the capture thread.
    static const CUsbIdDatabase kNoNames;
    const DescriptorList list(setup, data, kNoNames);
    const unsigned requested = setup.wValue() >> 8;
    if (requested == 1) {
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
    const auto* configuration = list.As<CDescriptorConfiguration>(0);
    if (!configuration || configuration->bDescriptorType() != 2 || !configuration->Kept().Complete() ||
        configuration->wTotalLength() != data.size())
        return false;
    const int value = configuration->bConfigurationValue();
    out.configurationValue = value;
    bool added = AddConfigurationNode(address, value, FormatConfigurationBytes(data));
    const CDescriptorInterace* current = nullptr;
    for (size_t i = 1; i < list.size(); ++i) {
        if (const auto* interface = list.As<CDescriptorInterace>(i)) {
            // A cut-short interface has no trustworthy identity, nor do its endpoints.
            current = interface->Kept().Complete() ? interface : nullptr;
            if (!current) continue;
            added |= AddInterfaceNode(address, value, interface->bInterfaceNumber(), interface->bAlternateSetting(),
                                      interface->bNumEndpoints(), interface->bInterfaceClass(),
                                      interface->bInterfaceSubClass(), interface->bInterfaceProtocol());
        } else if (const auto* endpoint = list.As<CDescriptorEndpoint>(i)) {
            out.sawEndpoint = true;
            if (!current || !endpoint->Kept().Complete()) continue;
            out.endpointInterfaces[endpoint->bEndpointAddress() & 0x0F] = uint8_t(current->bInterfaceNumber() + 1);
            added |= AddEndpointNode(address, value, current->bInterfaceNumber(), current->bAlternateSetting(),
                                     endpoint->bEndpointAddress(), endpoint->bmAttributes());
        }
    }
    return added;
}

bool DeviceTree::LoadDeviceTree(const std::string& text)
{
    if (!document_.loadXML(text)) return false;
    BuildDeviceIndex();
    return true;
}

template <class Visit>
void DeviceTree::ForEachDevice(Visit visit) const
{
    // A device marked with a record later than the address's last mark
    // starts the address's next device; unmarked ones share the current one,
    // as in a tree stored before addresses were told apart.
    std::optional<uint32_t> last[128];
    uint32_t ordinal[128] = {};
    for (const xml::Node& device : document_.selectNodes("//device")) {
        const auto address = IntAttribute(device, "address");
        if (!address || *address < 0 || *address > 127) continue;
        if (const auto mark = device.attribute(kFirstPacket)) {
            const uint32_t from = uint32_t(std::strtoul(mark->c_str(), nullptr, 10));
            if (!last[*address] || from > *last[*address]) {
                last[*address] = from;
                ++ordinal[*address];
            }
        }
        visit(device, *address, ordinal[*address], last[*address].value_or(0));
    }
}

void DeviceTree::BuildDeviceIndex()
{
    // Both start empty: an entry the new tree no longer gives must not keep
    // binding traffic to an interface that is gone.
    interfaces_.clear();
    endpoints_.clear();
    for (auto& starts : starts_) starts.clear();
    ForEachDevice([&](const xml::Node& device, int address, uint32_t ordinal, uint32_t from) {
        if (ordinal >= kMaxDevices) return;
        if (ordinal > 0 && starts_[size_t(address)].size() < ordinal) starts_[size_t(address)].push_back(from);
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
                endpoints_[IndexKey(address, *endpointAddress & 0x0F, ordinal)] = valid ? *number + 1 : 0;
            }
            if (valid) interfaces_[IndexKey(address, *number, ordinal)] = {*cls, *subclass, *protocol};
        }
    });
}

uint32_t DeviceTree::DeviceAt(int address, uint32_t record) const
{
    if (address < 0 || address > 127) return 0;
    const auto& starts = starts_[size_t(address)];
    return uint32_t(std::upper_bound(starts.begin(), starts.end(), record) - starts.begin());
}

std::pair<uint32_t, uint32_t> DeviceTree::DeviceRecords(int address, uint32_t device) const
{
    if (address < 0 || address > 127) return {0, UINT32_MAX};
    const auto& starts = starts_[size_t(address)];
    const uint32_t from = device == 0 || device > starts.size() ? 0 : starts[device - 1];
    const uint32_t to = device < starts.size() ? starts[device] : UINT32_MAX;
    return {from, to};
}

bool DeviceTree::GetConfigurationString(int address, int bConfigurationValue, std::string& out,
                                        uint32_t device) const
{
    // The first such configuration among the devices that held the address then.
    std::optional<std::string> text;
    const std::string value = Dec(bConfigurationValue);
    ForEachDevice([&](const xml::Node& node, int at, uint32_t ordinal, uint32_t) {
        if (text || at != address || ordinal != device) return;
        for (const xml::Node& configuration : node.selectNodes("./configuration"))
            if (configuration.attribute("bConfigurationValue") == value) {
                text = configuration.attribute("strConfiguration");
                break;
            }
    });
    if (!text) return false;
    out = *text;
    return true;
}

std::optional<DeviceTree::InterfaceClass> DeviceTree::FindInterface(int address, int bInterfaceNumber,
                                                                    uint32_t device) const
{
    if (address < 0 || address > 127 || bInterfaceNumber < 0 || bInterfaceNumber > 255) return std::nullopt;
    const auto it = interfaces_.find(IndexKey(address, bInterfaceNumber, device));
    if (it == interfaces_.end()) return std::nullopt;
    return it->second;
}

int32_t DeviceTree::FindEndpointInterface(int address, int endpoint, uint32_t device) const
{
    if (address < 0 || address > 127) return 0;
    const auto it = endpoints_.find(IndexKey(address, endpoint & 0x0F, device));
    return it == endpoints_.end() ? 0 : it->second;
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
