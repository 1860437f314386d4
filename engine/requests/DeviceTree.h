// The device tree: for each address the identity of its device descriptor and
// its configurations, interfaces and endpoints, as a "<devices/>" document,
// with the interface and endpoint indexes the class decoding binds with.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

    // What a learning is told and what it found.
    struct Learning {
        // The address was handed to a device by a SET_ADDRESS at this record:
        // its whole device descriptor starts a device of its own, marked with
        // the record when an earlier device held the address.
        std::optional<uint32_t> newDeviceFrom;
        // Traffic of the address was seen before: a device that held it
        // without being described keeps a placeholder.
        bool addressSeen = false;
        bool newDevice = false;    // a device was started from newDeviceFrom
        bool sawEndpoint = false;  // an endpoint descriptor in a complete configuration response
        int configurationValue = -1;  // of a complete configuration response
        // bInterfaceNumber + 1 of each endpoint number in that response, 0 for none.
        uint8_t endpointInterfaces[16] = {};
    };
    // Learns from one completed standard GET_DESCRIPTOR transfer to `address`:
    // a whole device descriptor adds the device; a configuration response of
    // exactly wTotalLength bytes adds the configuration, its interfaces and
    // their endpoints. Anything else, and address 0, writes nothing. True when
    // an element was added.
    bool LearnFromGetDescriptor(int address, const CDeviceRequest& setup, std::span<const uint8_t> data,
                                Learning* learning = nullptr);
    // Gives an address seen on the bus a device of -1s unless it has one.
    bool AddPlaceholderDevice(int address) { return AddDeviceNode(address, -1, -1, -1, -1, -1, -1, -1); }

    // Replaces the tree with a text and rebuilds the indexes; false, with tree
    // and indexes unchanged, when the text is not XML.
    bool LoadDeviceTree(const std::string& text);
    // Both indexes from the document; elements lacking an attribute the index
    // needs, or with an address or interface number out of range, are skipped.
    void BuildDeviceIndex();

    // The strConfiguration text of that configuration of the address's
    // `device` (see DeviceAt); false and `out` unchanged when there is none.
    bool GetConfigurationString(int address, int bConfigurationValue, std::string& out, uint32_t device = 0) const;

    // Which of the devices that held the address holds it at the record: 0
    // for the first, one more from each marked device on.
    uint32_t DeviceAt(int address, uint32_t record) const;
    // The records [from, to) over which that device holds the address.
    std::pair<uint32_t, uint32_t> DeviceRecords(int address, uint32_t device) const;
    // The class triple of (address, interface number) of that device.
    std::optional<InterfaceClass> FindInterface(int address, int bInterfaceNumber, uint32_t device = 0) const;
    // bInterfaceNumber + 1 of the endpoint's interface (direction ignored), 0 for none.
    int32_t FindEndpointInterface(int address, int endpoint, uint32_t device = 0) const;
    size_t InterfaceIndexSize() const { return interfaces_.size(); }
    size_t EndpointIndexSize() const { return endpoints_.size(); }

    std::string GetText() const { return GetNodeText(document_.node()); }
    const xml::Document& Document() const { return document_; }
    // A document or node as XML text.
    static std::string GetNodeText(const xml::Node& node) { return node.xml(); }

    // "%02X " per byte, the last one included.
    static std::string FormatConfigurationBytes(std::span<const uint8_t> bytes);

    // Devices beyond this many on one address are not indexed.
    static constexpr uint32_t kMaxDevices = 0x7FFF;
    static uint32_t IndexKey(int address, int number, uint32_t device = 0)
    {
        return device << 16 | (static_cast<uint32_t>(address) << 8) | (static_cast<uint32_t>(number) & 0xFF);
    }

    // The attribute of a device that was given an address an earlier device
    // held: the record from which the address is its.
    static constexpr const char* kFirstPacket = "firstPacket";

private:
    bool AppendDevice(int address, int bcdUSB, int bDeviceClass, int bDeviceSubClass, int bDeviceProtocol,
                      int idVendor, int idProduct, int bcdDevice, std::optional<uint32_t> firstPacket);
    xml::Node FindDevice(int address) const;
    xml::Node FindConfiguration(int address, int bConfigurationValue) const;
    xml::Node FindInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber,
                                int bAlternateSetting) const;

    // visit(device node, address, device ordinal, first record) in document order.
    template <class Visit>
    void ForEachDevice(Visit visit) const;

    xml::Document document_;
    // Per address, the first record of each device after the first.
    std::array<std::vector<uint32_t>, 128> starts_;
    std::unordered_map<uint32_t, InterfaceClass> interfaces_;
    std::unordered_map<uint32_t, int32_t> endpoints_;
};

}  // namespace orvane
