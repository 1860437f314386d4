#include "CDescriptorDevice.h"

namespace orvane {
namespace {

constexpr const char* kType[] = {"DEVICE"};

constexpr FieldSpec kFields[] = {
    {"bLength", 0, 0, 8, FieldFormat::Decimal},
    {"bDescriptorType", 1, 0, 8, FieldFormat::Text, kType},
    {"bcdUSB", 2, 0, 16, FieldFormat::BcdUsb},
    {"bDeviceClass", 4, 0, 8, FieldFormat::ClassName, {}, nullptr, true},
    {"bDeviceSubClass", 5, 0, 8, FieldFormat::SubClassName, {}, nullptr, true, 4},
    {"bDeviceProtocol", 6, 0, 8, FieldFormat::ProtocolName, {}, nullptr, true, 4},
    {"bMaxPacketSize0", 7, 0, 8, FieldFormat::Decimal},
    {"idVendor", 8, 0, 16, FieldFormat::VendorName, {}, nullptr, true},
    {"idProduct", 10, 0, 16, FieldFormat::ProductName, {}, nullptr, true, 8},
    {"bcdDevice", 12, 0, 16, FieldFormat::BcdDevice},
    {"iManufacturer", 14, 0, 8, FieldFormat::Decimal},
    {"iProduct", 15, 0, 8, FieldFormat::Decimal},
    {"iSerialNumber", 16, 0, 8, FieldFormat::Decimal},
    {"bNumConfigurations", 17, 0, 8, FieldFormat::Decimal},
};

}  // namespace

std::span<const FieldSpec> CDescriptorDevice::Fields() { return kFields; }

}  // namespace orvane
