#include "TransportWalkers.h"

#include "ScsiWalkers.h"
#include "SetupPacket.h"

namespace orvane::gartho {

namespace {

// The library's tip texts of the wrapper fields.
constexpr const char* kTipCbwSignature = "Signature that helps identify this data packet as a CBW.";
constexpr const char* kTipCbwTag = "A Command Block Tag sent by the host.";
constexpr const char* kTipCbwLength = "The number of bytes of data that the host expects to transfer.";
constexpr const char* kTipCbwDirection = "0 = Data-Out from host to the device;\n1 = Data-In from the device to the host.";
constexpr const char* kTipZeroBits = "The host shall set these bits to zero.";
constexpr const char* kTipZeroBit = "The host shall set this bit to zero.";
constexpr const char* kTipLun = "The device Logical Unit Number (LUN) to which the command block is being sent.";
constexpr const char* kTipCbLength = "The valid length of the CBWCB in bytes.";
constexpr const char* kTipReservedZero = "These bits shall be set to zero.";
constexpr const char* kTipCswSignature = "Signature that helps identify this data packet as a CSW.";
constexpr const char* kTipCswTag =
    "The device shall set this field to the value received in the dCBWTag of the associated CBW.";
constexpr const char* kTipCswResidue =
    "The difference between the amount of data expected and the actual amount of data processed by the device.";
constexpr const char* kTipCswStatus = "Indicates the success or failure of the command.";

std::string Size(uint64_t bytes) { return FormatSize(bytes); }

std::string RequestName(uint64_t request)
{
    if (request == kGetMaxLun) return "GET_MAX_LUN";
    if (request == kBulkOnlyReset) return "RESET";
    return std::to_string(request);
}

constexpr const char* kDirections[] = {"Data-Out from host to the device", "Data-In from the device to the host"};
// "Reserved (Obsolete" as users of the decode know it.
constexpr const char* kCswStatus[] = {"Command Passed", "Command Failed", "Reserved (Obsolete"};

constexpr ClassField kDeviceRequest[] = {
    WithTip(kRequestTypeFields[0], ""),
    WithTip(kRequestTypeFields[1], ""),
    kRequestTypeFields[2],
    {.name = "bRequest", .byte = 1, .bits = 8, .formatter = RequestName},
    {.name = "wValue", .byte = 2, .bits = 16, .format = "%d"},
    {.name = "wIndex", .byte = 4, .bits = 16, .format = "Interface %d"},
    {.name = "wLength", .byte = 6, .bits = 16, .format = "%d"},
};

constexpr ClassField kCommandBlockWrapper[] = {
    {.name = "dCBWSignature", .byte = 0, .bits = 32, .format = "0x%X", .tip = kTipCbwSignature},
    {.name = "dCBWTag", .byte = 4, .bits = 32, .format = "0x%X", .tip = kTipCbwTag},
    {.name = "dCBWDataTransferLength", .byte = 8, .bits = 32, .formatter = Size, .tip = kTipCbwLength},
    {.name = "bmCBWFlags.Reserved", .byte = 12, .bits = 6, .format = "0x%02X", .tip = kTipZeroBits},
    {.name = "bmCBWFlags.Obsolete", .byte = 12, .bit = 6, .bits = 1, .format = "%u", .tip = kTipZeroBit},
    {.name = "bmCBWFlags.Direction", .byte = 12, .bit = 7, .bits = 1, .names = kDirections, .tip = kTipCbwDirection},
    {.name = "bCBWLUN", .byte = 13, .bits = 4, .format = "%u", .tip = kTipLun},
    {.name = "Reserved", .byte = 13, .bit = 4, .bits = 4, .format = "0x%X", .tip = kTipZeroBit},
    {.name = "bCBWCBLength", .byte = 14, .bits = 5, .format = "%u bytes", .tip = kTipCbLength},
    {.name = "Reserved", .byte = 14, .bit = 5, .bits = 3, .format = "0x%X", .tip = kTipReservedZero},
};

constexpr ClassField kCommandStatusWrapper[] = {
    {.name = "dCSWSignature", .byte = 0, .bits = 32, .format = "0x%X", .tip = kTipCswSignature},
    {.name = "dCSWTag", .byte = 4, .bits = 32, .format = "0x%X", .tip = kTipCswTag},
    {.name = "dCSWDataResidue", .byte = 8, .bits = 32, .formatter = Size, .tip = kTipCswResidue},
    {.name = "bCSWStatus", .byte = 12, .bits = 8, .format = "Reserved", .names = kCswStatus, .tip = kTipCswStatus},
};

}  // namespace

std::span<const ClassField> DeviceRequestFields() { return kDeviceRequest; }
std::span<const ClassField> CommandBlockWrapperFields() { return kCommandBlockWrapper; }
std::span<const ClassField> CommandStatusWrapperFields() { return kCommandStatusWrapper; }

}  // namespace orvane::gartho
