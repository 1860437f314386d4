#include "CDeviceRequest.h"

#include <cstring>

#include "CFieldWalker.h"

namespace orvane {
namespace {

constexpr const char* kRecipients[] = {"Device", "Interface", "Endpoint", "Other"};
constexpr const char* kTypes[] = {"Standard", "Class", "Vendor", "Reserved"};
constexpr const char* kDirections[] = {"Host-to-device", "Device-to-host"};

constexpr FieldSpec kFields[] = {
    {"bmRequestType.Recipient", 0, 0, 5, FieldFormat::Named, kRecipients, "Reserved"},
    {"bmRequestType.Type", 0, 5, 2, FieldFormat::Named, kTypes},
    {"bmRequestType.Direction", 0, 7, 1, FieldFormat::Named, kDirections},
    {"bRequest", 1, 0, 8, FieldFormat::SetupRequest},
    {"wValue", 2, 0, 16, FieldFormat::SetupValue},
    {"wIndex", 4, 0, 16, FieldFormat::SetupIndex},
    {"wLength", 6, 0, 16, FieldFormat::Decimal},
};

constexpr const char* kRequestNames[] = {
    "GetStatus", "ClearFeature", "Reserved", "SetFeature", "Reserved", "SetAddress", "GetDescriptor",
    "SetDescriptor", "GetConfiguration", "SetConfiguration", "GetInterface", "SetInterface", "SynchFrame",
};
constexpr const char* kDescriptorNames[] = {
    "", "Device", "Configuration", "String", "Interface", "Endpoint", "DeviceQualifier",
    "OtherSpeedConfiguration", "InterfacePower",
};

}  // namespace

void CDeviceRequest::Parse(const uint8_t* data, uint32_t length)
{
    bytes_.fill(0);
    if (data) std::memcpy(bytes_.data(), data, length < kSize ? length : kSize);
}

void CDeviceRequest::GetName(std::string& out)
{
    out = "Setup request";
}

int32_t CDeviceRequest::GetFieldCount()
{
    return static_cast<int32_t>(std::size(kFields));
}

int32_t CDeviceRequest::GetField(int32_t index, FieldRecord* out)
{
    if (!out || !CFieldWalker::Describe(kFields, index, bytes_, *ids_, *out)) return 0;
    out->tip = out->value;
    return 1;
}

std::string CDeviceRequest::FormatRequestSummary() const
{
    if (!IsStandard()) return "ControlTransfer";
    // The whole request code decides: requests above 12 (USB 3 ones, say)
    // have no name here rather than the name of their low four bits.
    const unsigned request = bRequest();
    if (request >= std::size(kRequestNames)) return {};
    // Only descriptor requests carry a descriptor type in wValue's high byte.
    const bool descriptorRequest = request == 6 || request == 7;
    const unsigned kind = descriptorRequest ? wValue() >> 8 : 0;
    const std::string name = kRequestNames[request];
    if (kind < std::size(kDescriptorNames)) return name + " ( " + kDescriptorNames[kind] + " )";
    return name + " ( )";
}

}  // namespace orvane
