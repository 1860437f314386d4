#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "CDeviceRequest.h"

using orvane::CDeviceRequest;
using orvane::CUsbIdDatabase;
using orvane::FieldRecord;

namespace {

const CUsbIdDatabase& Ids()
{
    static const CUsbIdDatabase ids = CUsbIdDatabase::FromFile(ORVANE_SOURCE_DIR "/engine/tests/data/usb.ids");
    return ids;
}

// Every field's value; the fields' widths cover the eight bytes.
std::vector<std::string> Values(CDeviceRequest& request)
{
    std::vector<std::string> values;
    uint32_t bits = 0;
    for (int i = 0; i < request.GetFieldCount(); ++i) {
        FieldRecord field;
        EXPECT_EQ(request.GetField(i, &field), 1);
        EXPECT_EQ(field.tip, field.value);
        values.push_back(field.value);
        bits += field.bits;
    }
    EXPECT_EQ(bits, 64u);
    FieldRecord untouched{"keep", "keep", "keep", 3};
    EXPECT_EQ(request.GetField(request.GetFieldCount(), &untouched), 0);
    EXPECT_EQ(request.GetField(-1, &untouched), 0);
    EXPECT_EQ(untouched.name, "keep");
    return values;
}

TEST(DeviceRequest, FieldValuesAndOneLineText)
{
    struct Case {
        std::array<uint8_t, 8> bytes;
        std::vector<std::string> values;
        std::string summary;
    };
    const Case cases[] = {
        {{0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00},
         {"Device", "Standard", "Device-to-host", "GET_DESCRIPTOR", "DEVICE 0", "Zero", "18"},
         "GetDescriptor ( Device )"},
        {{0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00},
         {"Device", "Standard", "Device-to-host", "GET_DESCRIPTOR", "STRING 2", "English (US)", "255"},
         "GetDescriptor ( String )"},
        {{0x00, 0x05, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Device", "Standard", "Host-to-device", "SET_ADDRESS", "Device Address 7", "Zero", "0"},
         "SetAddress (  )"},
        {{0x21, 0x09, 0x00, 0x02, 0x00, 0x00, 0x08, 0x00},
         {"Interface", "Class", "Host-to-device", "9", "512", "Interface 0", "8"},
         "ControlTransfer"},
        {{0x82, 0x00, 0x00, 0x00, 0x81, 0x00, 0x02, 0x00},
         {"Endpoint", "Standard", "Device-to-host", "GET_STATUS", "", "endpoint 129", "2"},
         "GetStatus (  )"},
        {{0x02, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00},
         {"Endpoint", "Standard", "Host-to-device", "CLEAR_FEATURE", "Feature Selector 0", "endpoint 2", "0"},
         "ClearFeature (  )"},
        {{0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Device", "Standard", "Host-to-device", "SET_CONFIGURATION", "Configuration 1", "Zero", "0"},
         "SetConfiguration (  )"},
        {{0x01, 0x0B, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00},
         {"Interface", "Standard", "Host-to-device", "SET_INTERFACE", "Alternate Setting 1", "Interface 1", "0"},
         "SetInterface (  )"},
        {{0x81, 0x06, 0x00, 0x22, 0x00, 0x00, 0x41, 0x00},  // HID report descriptor: type 0x22 has no name here
         {"Interface", "Standard", "Device-to-host", "GET_DESCRIPTOR", "8704", "Interface 0", "65"},
         "GetDescriptor ( )"},
        {{0x80, 0x06, 0x00, 0x06, 0x00, 0x00, 0x0A, 0x00},
         {"Device", "Standard", "Device-to-host", "GET_DESCRIPTOR", "DEVICE_QUALIFIER 0", "Zero", "10"},
         "GetDescriptor ( DeviceQualifier )"},
        {{0x83, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00},
         {"Other", "Standard", "Device-to-host", "SYNCH_FRAME", "0", "0", "2"},
         "SynchFrame (  )"},
        {{0x1F, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         {"Reserved", "Standard", "Host-to-device", "Reserved for future use", "", "0", "0"},
         "Reserved (  )"},
        {{0x40, 0x01, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01},
         {"Device", "Vendor", "Host-to-device", "1", "4660", " ()", "256"},
         "ControlTransfer"},
        // USB 3 SET_SEL (48): not GET_STATUS, whose low four bits it shares.
        {{0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00},
         {"Device", "Standard", "Host-to-device", "48", "", "Zero", "6"},
         ""},
        // SET_ADDRESS with a high wValue byte names no descriptor.
        {{0x00, 0x05, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00},
         {"Device", "Standard", "Host-to-device", "SET_ADDRESS", "Device Address 261", "Zero", "0"},
         "SetAddress (  )"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CDeviceRequest request(cases[i].bytes.data(), 8, Ids());
        auto values = Values(request);
        EXPECT_EQ(values, cases[i].values) << "case " << i;
        EXPECT_EQ(request.FormatRequestSummary(), cases[i].summary) << "case " << i;
    }
}

TEST(DeviceRequest, ShortPacketReadsZeroBeyondItsBytes)
{
    const uint8_t bytes[] = {0x80, 0x06, 0x00, 0x02};
    CDeviceRequest request(bytes, sizeof bytes, Ids());
    EXPECT_EQ(request.wValue(), 0x0200);
    EXPECT_EQ(request.wIndex(), 0);
    EXPECT_EQ(request.wLength(), 0);
    EXPECT_EQ(Values(request)[4], "CONFIGURATION 0");
    CDeviceRequest empty(nullptr, 8, Ids());
    EXPECT_EQ(empty.bmRequestType(), 0);
    EXPECT_EQ(empty.FormatRequestSummary(), "GetStatus (  )");
}

}  // namespace
