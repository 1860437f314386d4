// The device tree: for each address the identity of its device descriptor and
// its configurations, interfaces and endpoints, as a "<devices/>" document,
// with the interface and endpoint indexes the class decoding binds with.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
    // an element was added, or, to a device not yet written, the response kept
    // (one equal to a response it keeps already is not kept again).
    bool LearnFromGetDescriptor(int address, const CDeviceRequest& setup, std::span<const uint8_t> data,
                                Learning* learning = nullptr);
    // Gives an address seen on the bus a device of -1s unless it has one.
    bool AddPlaceholderDevice(int address) { return AddDeviceNode(address, -1, -1, -1, -1, -1, -1, -1); }

    // A device that held its address again with the same descriptors as an
    // earlier one of the address is kept once: the earlier one lists the
    // records it held the address from again (kAgainFrom). Done for each
    // device as the next one takes its address, and by this for the latest
    // ones, before the tree is handed out.
    void FoldRepeatedDevices();

    // Replaces the tree with a text and rebuilds the indexes; false, with tree
    // and indexes unchanged, when the text is not XML.
    bool LoadDeviceTree(const std::string& text);
    // The indexes the calls below read, from the document; elements lacking an
    // attribute the index needs, or with an address or interface number out
    // of range, are skipped.
    void BuildDeviceIndex();

    // The strConfiguration text of that configuration of the device that held
    // the address in turn `device` (see DeviceAt); false and `out` unchanged
    // when there is none.
    bool GetConfigurationString(int address, int bConfigurationValue, std::string& out, uint32_t device = 0) const;

    // Which of the turns at the address holds the record: 0 for the first,
    // one more from each record a device took the address from on. The calls
    // below take such a turn and answer for the device that held it.
    uint32_t DeviceAt(int address, uint32_t record) const;
    // The records [from, to) of that turn.
    std::pair<uint32_t, uint32_t> DeviceRecords(int address, uint32_t device) const;
    // The device of the address that held a turn (its element among the
    // address's devices); UINT32_MAX for none.
    uint32_t TurnDevice(int address, uint32_t turn) const;
    // The class triple of (address, interface number) of that device.
    std::optional<InterfaceClass> FindInterface(int address, int bInterfaceNumber, uint32_t device = 0) const;
    // bInterfaceNumber + 1 of the endpoint's interface (direction ignored), 0 for none.
    int32_t FindEndpointInterface(int address, int endpoint, uint32_t device = 0) const;
    size_t InterfaceIndexSize() const { return interfaces_.size(); }
    // The bytes the devices not yet written keep of what they learned.
    size_t PendingBytes() const;
    size_t EndpointIndexSize() const { return endpoints_.size(); }

    std::string GetText() const { return GetNodeText(Document().node()); }
    const xml::Document& Document() const
    {
        WritePendingDevices();
        return document_;
    }
    // A document or node as XML text.
    static std::string GetNodeText(const xml::Node& node) { return node.xml(); }

    // "%02X " per byte, the last one included.
    static std::string FormatConfigurationBytes(std::span<const uint8_t> bytes);

    static uint64_t IndexKey(int address, int number, uint32_t device = 0)
    {
        return uint64_t(device) << 16 | (static_cast<uint32_t>(address & 0xFF) << 8) |
               (static_cast<uint32_t>(number) & 0xFF);
    }

    // The attribute of a device that was given an address an earlier device
    // held: the record from which the address is its.
    static constexpr const char* kFirstPacket = "firstPacket";
    // The records, blank-separated, from which a device held its address
    // again after another one or a new enumeration of itself.
    static constexpr const char* kAgainFrom = "againFrom";
    // The one reader of both, for the tree and the device pane alike, so that
    // the turns a device line counts are those its traffic is decoded by. A
    // kFirstPacket text is one record number in decimal digits; a kAgainFrom
    // text is such numbers separated by blanks. A text with anything else in
    // it, or a number past 32 bits, reads as nothing at all.
    static std::optional<uint32_t> ReadRecord(std::string_view text);
    static std::optional<std::vector<uint32_t>> ReadRecords(std::string_view text);

private:
    // Beside the document, what the writers need of the latest device of an
    // address, so that a lookup never walks the other devices. Keyed by
    // attribute texts, as the elements are matched.
    struct OpenInterface {
        xml::Node node;  // null while its device is pending
        std::set<std::string> endpoints;
    };
    struct OpenConfiguration {
        xml::Node node;  // null while its device is pending
        std::map<std::pair<std::string, std::string>, OpenInterface> interfaces;  // by number and alternate setting
    };
    struct OpenDevice {
        xml::Node node;
        bool indexed = false;  // the maps below hold the node's children
        std::map<std::string, OpenConfiguration> configurations;
        // A device that took its address over is written once it is known
        // not to fold into an earlier one: until then `node` is an empty
        // element holding its place, and `record` what it learned, as a
        // script WritePending plays: equal records write equal devices.
        bool pending = false;
        uint32_t mark = 0;  // its kFirstPacket
        std::string record;
        // The configuration responses in `record`, by their hash, as (offset, size):
        // a response read again would write nothing more and is not kept twice.
        std::unordered_multimap<size_t, std::pair<size_t, uint32_t>> responses;
    };
    // The devices of an address kept so far, by everything but their marks.
    struct Kept {
        std::unordered_map<std::string, size_t> bySignature;
        std::unordered_map<std::string, size_t> byRecord;  // pending devices' records seen, to the same entries
        std::vector<std::pair<xml::Node, std::string>> again;  // a device and its kAgainFrom text
    };
    // The reader's view of the devices that held an address in turn.
    struct Turn {
        uint32_t from;
        uint32_t device;  // which device of the address: its index in configurations_
    };
    struct ConfigurationText {
        uint32_t element;  // of the elements that make up the device
        std::string value;
        std::optional<std::string> text;
    };

    bool AppendDevice(int address, int bcdUSB, int bDeviceClass, int bDeviceSubClass, int bDeviceProtocol,
                      int idVendor, int idProduct, int bcdDevice, std::optional<uint32_t> firstPacket);
    xml::Node FindDevice(int address) const;
    OpenDevice* Open(int address);
    // Each also answers the device, in `owner` when given.
    OpenConfiguration* FindConfiguration(int address, int bConfigurationValue, OpenDevice** owner = nullptr);
    OpenInterface* FindInterfaceNode(int address, int bConfigurationValue, int bInterfaceNumber,
                                     int bAlternateSetting, OpenDevice** owner = nullptr);
    // The latest device of each address, from the document.
    void FindLatestDevices();
    // Folds the address's latest device into an earlier one like it.
    void FoldDevice(const std::string& address);
    // Adds the elements of a whole configuration response, or, with `write`
    // false, only tells what it holds.
    bool AddConfiguration(int address, std::span<const uint8_t> data, Learning& out, bool write);
    // Writes a pending device into its place.
    void WritePending(const std::string& address, OpenDevice& device);
    // Writes every pending device, for a reader of the document.
    void WritePendingDevices() const;
    // The last configuration response a pending device recorded (none while
    // empty: a whole one is 9 bytes at least), and what it told.
    struct Told {
        std::vector<uint8_t> bytes;
        Learning learning;
    };
    Told lastTold_;
    // Written lazily: pending devices are written before anything reads the document.
    mutable xml::Document document_;
    mutable std::unordered_map<std::string, OpenDevice> open_;
    mutable size_t pending_ = 0;
    std::unordered_map<std::string, Kept> kept_;
    // Per address, the turns after the first in record order.
    std::array<std::vector<Turn>, 128> turns_;
    // Per address and device, the configurations in document order.
    std::array<std::vector<std::vector<ConfigurationText>>, 128> configurations_;
    std::unordered_map<uint64_t, InterfaceClass> interfaces_;
    std::unordered_map<uint64_t, int32_t> endpoints_;
};

}  // namespace orvane
