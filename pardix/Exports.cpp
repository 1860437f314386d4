// The library's one export.
#include "CDevice.h"

extern "C" __attribute__((visibility("default"))) orvane::IDevice* CreateDevice() {
    try {
        return new orvane::pardix::CDevice();
    } catch (...) {
        return nullptr;  // nothing may cross the library boundary but the pointer
    }
}
