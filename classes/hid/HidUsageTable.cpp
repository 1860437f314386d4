#include "HidUsageTable.h"

namespace orvane::hid {

std::string CHidUsageTable::GetUsagePageName(uint32_t page) const
{
    return Ids().Lookup(CUsbIdDatabase::SectionHidUsage, 1, int(page & 0xFFFF));
}

std::string CHidUsageTable::GetUsageName(uint32_t page, uint32_t usage) const
{
    return Ids().Lookup(CUsbIdDatabase::SectionHidUsage, 2, int(page & 0xFFFF), int(usage & 0xFFFF));
}

}  // namespace orvane::hid
