// The descriptors of a GET_DESCRIPTOR data stage, split in the order they
// stand; the list owns them.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "CDescriptorClassSpecificInterface.h"
#include "CDescriptorConfiguration.h"
#include "CDescriptorDevice.h"
#include "CDescriptorDeviceQualifier.h"
#include "CDescriptorEndpoint.h"
#include "CDescriptorInterace.h"
#include "CDescriptorInteraceAssociation.h"
#include "CDescriptorString.h"
#include "CDescriptorUnknown.h"
#include "CDeviceRequest.h"

namespace orvane {

class DescriptorList {
public:
    using Entry = std::variant<CDescriptorDevice, CDescriptorConfiguration, CDescriptorString, CDescriptorInterace,
                               CDescriptorEndpoint, CDescriptorDeviceQualifier, CDescriptorInteraceAssociation,
                               CDescriptorClassSpecificInterface, CDescriptorUnknown>;

    // The setup packet's wIndex tells a text string from the LANGID list.
    DescriptorList(const CDeviceRequest& setup, const uint8_t* data, uint32_t size,
                   const CUsbIdDatabase& ids = CUsbIdDatabase::Instance());
    DescriptorList(const CDeviceRequest& setup, std::span<const uint8_t> data,
                   const CUsbIdDatabase& ids = CUsbIdDatabase::Instance())
        : DescriptorList(setup, data.data(), static_cast<uint32_t>(data.size()), ids) {}

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    IDescriptor& operator[](size_t index);
    // The descriptor at `index` when it is of class T, else null.
    template <class T>
    const T* As(size_t index) const
    {
        return index < entries_.size() ? std::get_if<T>(&entries_[index]) : nullptr;
    }

    // Bytes the descriptors cover; less than the size when a zero bLength ended the split.
    uint32_t Described() const { return described_; }
    // A bLength that is 0 before the end, 1, or past the end of the data.
    bool Malformed() const { return malformed_; }

private:
    std::vector<Entry> entries_;
    uint32_t described_ = 0;
    bool malformed_ = false;
};

}  // namespace orvane
