// Input: a window layout as the settings file gives it back, damaged or not.
// The check must read it without going past its end, whatever it holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "WindowLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    const bool good = orvane::app::CheckWindowLayout(std::string_view(reinterpret_cast<const char*>(data), size), &error);
    if (!good && error.empty()) __builtin_trap();
    return 0;
}
