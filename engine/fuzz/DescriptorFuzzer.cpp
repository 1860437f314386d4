// Input: an 8-byte setup packet, then a data stage to split and describe.
#include <cstddef>
#include <cstdint>

#include "CDecodeResultWriter.h"
#include "DescriptorList.h"
#include "DeviceTree.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t setupSize = size < 8 ? size : 8;
    CDeviceRequest setup(data, static_cast<uint32_t>(setupSize));
    DescriptorList list(setup, data + setupSize, static_cast<uint32_t>(size - setupSize));

    CDecodeResultWriter writer;
    int64_t offset = writer.AddDescriptor(setup, 0);
    (void)setup.FormatRequestSummary();
    for (size_t i = 0; i < list.size(); ++i) offset = writer.AddDescriptor(list[i], offset);
    if (list.Described() > size - setupSize) __builtin_trap();
    (void)writer.Text();

    DeviceTree tree;
    tree.AddDeviceNode(1, 0x200, 0, 0, 0, 1, 2, 3);
    DeviceTree::Learning learning;
    if (size & 1) learning.newDeviceFrom = uint32_t(size);
    tree.LearnFromGetDescriptor(1, setup, {data + setupSize, size - setupSize}, &learning);
    tree.BuildDeviceIndex();
    return 0;
}
