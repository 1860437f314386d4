// Input: the text of a usb.ids file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "CUsbIdDatabase.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CUsbIdDatabase ids(std::string_view(reinterpret_cast<const char*>(data), size));
    const size_t entries = ids.Size();
    for (int code = 0; code < 4; ++code) {
        (void)ids.GetVendorName(code);
        (void)ids.GetProductName(code, code);
        (void)ids.GetProtocolName(code, code, code);
        (void)ids.GetDialectName(code, code);
    }
    if (ids.Size() != entries) __builtin_trap();
    return 0;
}
