// Input: the text of a device tree, as a project file may hold it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CDecoderManager.h"
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
    tree.FoldRepeatedDevices();
    tree.BuildDeviceIndex();
    for (uint32_t turn = 0; turn < 4; ++turn) {
        (void)tree.DeviceRecords(1, tree.DeviceAt(1, turn * 1000));
        (void)tree.FindInterface(1, 0, turn);
    }
    (void)tree.GetText();
    return 0;
}
