// Input: the text of a device tree, as a project file may hold it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CDecoderManager.h"
#include "CDeviceRequest.h"
#include "CUsbIdDatabase.h"
#include "DeviceTree.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeviceTree tree;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!tree.LoadDeviceTree(text)) return 0;
    for (int address = 0; address < 8; ++address) {
        for (int number = 0; number < 16; ++number) {
            (void)tree.FindInterface(address, number);
            (void)tree.FindEndpointInterface(address, number);
        }
        std::string configuration;
        uint8_t bytes[256];
        if (tree.GetConfigurationString(address, 1, configuration))
            (void)CDecoderManager::ParseHexBytes(configuration, bytes, sizeof bytes);
    }
    tree.AddDeviceNode(1, 0x200, 0, 0, 0, 1, 2, 3);
    tree.AddConfigurationNode(1, 1, "09 02 ");
    tree.AddInterfaceNode(1, 1, 0, 0, 1, 3, 1, 2);
    tree.AddEndpointNode(1, 1, 0, 0, 0x81, 3);
    // Address 1 taken over three times after the loaded devices, the last
    // like the first: one is written, the other folds into it.
    static const CUsbIdDatabase kNoNames;
    const uint8_t getDevice[] = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
    const uint8_t getConfiguration[] = {0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0xFF, 0x00};
    const uint8_t device[] = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x34,
                              0x12, 0x78, 0x56, 0x00, 0x01, 0x01, 0x02, 0x00, 0x01};
    uint8_t configuration[] = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32, 0x09, 0x04, 0x00, 0x00,
                               0x01, 0x03, 0x01, 0x02, 0x00, 0x07, 0x05, 0x81, 0x03, 0x08, 0x00, 0x0A};
    for (uint32_t from : {100u, 200u, 300u}) {
        DeviceTree::Learning learning;
        learning.newDeviceFrom = from;
        learning.addressSeen = true;
        tree.LearnFromGetDescriptor(1, CDeviceRequest(getDevice, 8, kNoNames), device, &learning);
        configuration[20] = from == 200 ? 0x82 : 0x81;
        tree.LearnFromGetDescriptor(1, CDeviceRequest(getConfiguration, 8, kNoNames), configuration);
    }
    tree.FoldRepeatedDevices();
    tree.BuildDeviceIndex();
    for (uint32_t turn = 0; turn < 4; ++turn) {
        (void)tree.DeviceRecords(1, tree.DeviceAt(1, turn * 1000));
        (void)tree.FindInterface(1, 0, turn);
    }
    (void)tree.GetText();
    return 0;
}
