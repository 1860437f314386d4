// The plug-in's one export.
#include <new>

#include "CNembrinView.h"

extern "C" __attribute__((visibility("default"))) orvane::IUsbView* CreateUsbView()
{
    // Nothing may cross the plug-in boundary but a view or null.
    try {
        return new (std::nothrow) orvane::nembrin::CNembrinView;
    } catch (...) {
        return nullptr;
    }
}
