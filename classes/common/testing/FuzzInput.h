// For the plug-ins' fuzz targets: the input read byte by byte, and every
// describing slot of a decoder run over what it handed back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "IDecode.h"

namespace orvane {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    // 0 once the input is used up.
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // At most `n` bytes: fewer at the input's end.
    std::vector<uint8_t> Bytes(size_t n)
    {
        if (n > size_ - at_) n = size_ - at_;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Summarize, GetData (whole, and into half the room), the data-pane size,
// GetDetail and GetImageList of `item` and of its children down to `depth` levels.
inline void DescribeEverySlot(IDecodeClass& decoder, UsbItem* item, int depth)
{
    ItemSummary row;
    decoder.Summarize(item, &row);
    const int32_t length = decoder.GetData(item, nullptr, 0);
    if (length > 0) {
        std::vector<uint8_t> half(size_t(length) / 2);
        decoder.GetData(item, half.data(), uint32_t(half.size()));
    }
    uint32_t size = 0;
    decoder.OnNotify(NotifyDataLength, item, reinterpret_cast<intptr_t>(&size));
    std::string xml;
    decoder.GetDetail(item, xml);
    decoder.GetImageList(item);
    if (depth > 0)
        for (UsbItem* child : item->children) DescribeEverySlot(decoder, child, depth - 1);
}

}  // namespace orvane
