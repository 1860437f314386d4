// Names of HID usage pages and usages, from the "HUT" section of usb.ids.
// The engine's list is read once for the whole library, on the first look-up
// (never by the factory's probe), and only read after that, so the worker
// and the UI thread may look names up at once.
#pragma once

#include <cstdint>
#include <string>

#include "CUsbIdDatabase.h"

namespace orvane::hid {

class CHidUsageTable {
public:
    // Null: the system's usb.ids, as the engine finds it.
    explicit CHidUsageTable(const CUsbIdDatabase* ids = nullptr) : ids_(ids) {}

    // Empty texts for pages and usages the list does not name.
    std::string GetUsagePageName(uint32_t page) const;
    std::string GetUsageName(uint32_t page, uint32_t usage) const;

private:
    const CUsbIdDatabase& Ids() const { return ids_ ? *ids_ : CUsbIdDatabase::Instance(); }

    const CUsbIdDatabase* ids_;
};

}  // namespace orvane::hid
