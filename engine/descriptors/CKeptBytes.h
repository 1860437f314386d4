// The fixed-size private copy of a descriptor's first bytes, zero beyond what
// the data supplied, with what is needed to tell a truncated descriptor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "CByteCursor.h"

namespace orvane {

template <size_t N>
class CKeptBytes {
public:
    void Assign(const uint8_t* data, uint32_t length)
    {
        bytes_.fill(0);
        CByteCursor cursor(data, length);
        const auto taken = cursor.Take(N);
        for (size_t i = 0; i < taken.size(); ++i) bytes_[i] = taken[i];
        count_ = taken.size();
        supplied_ = static_cast<uint32_t>(cursor.Size());
    }

    // The bytes that the data supplied, at most N.
    std::span<const uint8_t> Received() const { return {bytes_.data(), count_}; }
    size_t Count() const { return count_; }
    uint32_t Supplied() const { return supplied_; }
    bool Complete() const { return count_ == N; }

    uint8_t U8(size_t at) const { return at < N ? bytes_[at] : 0; }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(U8(at) | (U8(at + 1) << 8)); }

    // Why bLength does not fit the data, or empty when it does; `minimum` is the
    // shortest descriptor of its kind.
    std::string MalformedNote(size_t minimum = N) const
    {
        if (count_ == 0) return {};
        const unsigned declared = bytes_[0];
        if (declared > supplied_)
            return "Malformed: bLength exceeds the " + std::to_string(supplied_) + " bytes present";
        if (declared < minimum)
            return "Malformed: shorter than the " + std::to_string(minimum) + " bytes this descriptor needs";
        return {};
    }

private:
    std::array<uint8_t, N> bytes_{};
    size_t count_ = 0;
    uint32_t supplied_ = 0;
};

}  // namespace orvane
