// The device tree: for each address the identity of its device descriptor and
// its configurations, interfaces and endpoints, as a "<devices/>" document,
// with the interface and endpoint indexes the class decoding binds with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CDeviceRequest.h"
#include "Document.h"

namespace orvane {

class DeviceTree {
public:
    struct InterfaceClass {
        int32_t cls = 0;
        int32_t subclass = 0;
        int32_t protocol = 0;
        bool operator==(const InterfaceClass&) const = default;
    };

    DeviceTree();

    // An empty "<devices/>" again; the indexes stay as they are.
    void ResetDeviceTree();

    // Each adds its element and answers true, or answers false and changes
    // nothing when the element exists already or its parent is missing.
    bool AddDeviceNode(int address, int bcdUSB, int bDeviceClass, int bDeviceSubClass, int bDeviceProtocol,
                       int idVendor, int idProduct, int bcdDevice);
    bool AddConfigurationNode(int address, int bConfigurationValue, const std::string& configurationText);
    bool AddInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                          int bNumEndpoints, int bInterfaceClass, int bInterfaceSubClass, int bInterfaceProtocol);
    bool AddEndpointNode(int address, int bConfigurationValue, int bInterfaceNumber, int bAlternateSetting,
                         int bEndpointAddress, int bmAttributes);

    // Learns from one completed standard GET_DESCRIPTOR transfer to `address`:
    // a whole device descriptor adds the device; a configuration response of
    // exactly wTotalLength bytes adds the configuration, its interfaces and
    // their endpoints. Anything else, and address 0, writes nothing. True when
    // an element was added; `sawEndpoint` tells of an endpoint descriptor in a
    // complete configuration response. With `replaced` given, the address has
    // been handed to a new device: a whole device descriptor then replaces the
    // address's device (configurations and all) rather than leaving the old
    // one, and *replaced tells that it did.
    bool LearnFromGetDescriptor(int address, const CDeviceRequest& setup, std::span<const uint8_t> data,
                                bool* sawEndpoint = nullptr, bool* replaced = nullptr);
    // Removes the address's device with everything under it; false when there is none.
    bool RemoveDeviceNode(int address);
    // Gives an address seen on the bus a device of -1s unless it has one.
    bool AddPlaceholderDevice(int address) { return AddDeviceNode(address, -1, -1, -1, -1, -1, -1, -1); }

    // Replaces the tree with a text and rebuilds the indexes; false, with tree
    // and indexes unchanged, when the text is not XML.
    bool LoadDeviceTree(const std::string& text);
    // Both indexes from the document; elements lacking an attribute the index
    // needs, or with an address or interface number out of range, are skipped.
    void BuildDeviceIndex();

    // The strConfiguration text of that configuration; false and `out`
    // unchanged when there is none.
    bool GetConfigurationString(int address, int bConfigurationValue, std::string& out) const;

    // The class triple of (address, interface number).
    std::optional<InterfaceClass> FindInterface(int address, int bInterfaceNumber) const;
    // bInterfaceNumber + 1 of the endpoint's interface (direction ignored), 0 for none.
    int32_t FindEndpointInterface(int address, int endpoint) const;
    size_t InterfaceIndexSize() const { return interfaces_.size(); }
    size_t EndpointIndexSize() const { return endpoints_.size(); }

    std::string GetText() const { return GetNodeText(document_.node()); }
    const xml::Document& Document() const { return document_; }
    // A document or node as XML text.
    static std::string GetNodeText(const xml::Node& node) { return node.xml(); }

    // "%02X " per byte, the last one included.
    static std::string FormatConfigurationBytes(std::span<const uint8_t> bytes);
    // The bytes of such a text; reading stops at the first pair that is not hex.
    static std::vector<uint8_t> ParseConfigurationBytes(std::string_view text);

    static uint32_t IndexKey(int address, int number)
    {
        return (static_cast<uint32_t>(address) << 8) | (static_cast<uint32_t>(number) & 0xFF);
    }

private:
    xml::Node FindDevice(int address) const;
    xml::Node FindConfiguration(int address, int bConfigurationValue) const;
    xml::Node FindInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber,
                                int bAlternateSetting) const;

    xml::Document document_;
    std::unordered_map<uint32_t, InterfaceClass> interfaces_;
    std::unordered_map<uint32_t, int32_t> endpoints_;
};

}  // namespace orvane
