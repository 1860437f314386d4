#include "DescriptorList.h"

#include "CByteCursor.h"

namespace orvane {
namespace {

DescriptorList::Entry Make(unsigned type, bool text, const CUsbIdDatabase& ids)
{
    using E = DescriptorList::Entry;
    switch (type) {
    case 1: return E(std::in_place_type<CDescriptorDevice>, ids);
    case 2: case 7: return E(std::in_place_type<CDescriptorConfiguration>, ids);
    case 3: return E(std::in_place_type<CDescriptorString>, text, ids);
    case 4: return E(std::in_place_type<CDescriptorInterace>, ids);
    case 5: return E(std::in_place_type<CDescriptorEndpoint>, ids);
    case 6: return E(std::in_place_type<CDescriptorDeviceQualifier>, ids);
    case 0x0B: return E(std::in_place_type<CDescriptorInteraceAssociation>, ids);
    case 0x24: return E(std::in_place_type<CDescriptorClassSpecificInterface>, ids);
    default: return E(std::in_place_type<CDescriptorUnknown>, ids);
    }
}

}  // namespace

DescriptorList::DescriptorList(const CDeviceRequest& setup, const uint8_t* data, uint32_t size,
                               const CUsbIdDatabase& ids)
{
    CByteCursor cursor(data, size);
    while (!cursor.AtEnd()) {
        const uint8_t declared = *cursor.Peek();
        if (declared == 0) {
            malformed_ = true;
            break;
        }
        const auto bytes = cursor.Take(declared);
        if (bytes.size() < declared || declared < 2) malformed_ = true;
        // Without a type byte of its own (bLength 1, or a lone last byte) the
        // descriptor is unknown; the next descriptor's byte is not its type.
        const unsigned type = bytes.size() >= 2 ? bytes[1] : 0x100;
        Entry& entry = entries_.emplace_back(Make(type, setup.wIndex() != 0, ids));
        std::visit([&](auto& d) { d.Parse(bytes.data(), static_cast<uint32_t>(bytes.size())); }, entry);
        described_ += static_cast<uint32_t>(bytes.size());
    }
}

IDescriptor& DescriptorList::operator[](size_t index)
{
    return std::visit([](auto& d) -> IDescriptor& { return d; }, entries_.at(index));
}

}  // namespace orvane
