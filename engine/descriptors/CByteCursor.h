// The one bounded reader of captured bytes: every read is checked against the
// end, so malformed input can shorten a result but never read past its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orvane {

class CByteCursor {
public:
    CByteCursor() = default;
    CByteCursor(const uint8_t* data, size_t size) : bytes_(data, data ? size : 0) {}
    explicit CByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t Size() const { return bytes_.size(); }
    size_t Offset() const { return offset_; }
    size_t Remaining() const { return bytes_.size() - offset_; }
    bool AtEnd() const { return offset_ >= bytes_.size(); }
    bool Has(size_t count) const { return count <= Remaining(); }

    // The byte `ahead` places past the position, without consuming it.
    std::optional<uint8_t> Peek(size_t ahead = 0) const
    {
        if (ahead >= Remaining()) return std::nullopt;
        return bytes_[offset_ + ahead];
    }

    // A little-endian unsigned of `count` bytes (at most 8); nothing is
    // consumed when fewer remain.
    std::optional<uint64_t> ReadLE(size_t count)
    {
        if (count > 8 || !Has(count)) return std::nullopt;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value |= uint64_t{bytes_[offset_ + i]} << (8 * i);
        offset_ += count;
        return value;
    }
    // The same, most significant byte first (SCSI, PTP's odd fields).
    std::optional<uint64_t> ReadBE(size_t count)
    {
        if (count > 8 || !Has(count)) return std::nullopt;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value = value << 8 | bytes_[offset_ + i];
        offset_ += count;
        return value;
    }
    // Reads at an absolute offset, leaving the position alone: for structures
    // whose fields stand at fixed places.
    std::optional<uint64_t> LEAt(size_t offset, size_t count) const { return At(offset, count, false); }
    std::optional<uint64_t> BEAt(size_t offset, size_t count) const { return At(offset, count, true); }
    // Whether `count` bytes from the absolute `offset` lie inside the span.
    bool HasAt(size_t offset, size_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    std::optional<uint8_t> ReadU8()
    {
        auto v = ReadLE(1);
        return v ? std::optional<uint8_t>(static_cast<uint8_t>(*v)) : std::nullopt;
    }
    std::optional<uint16_t> ReadU16()
    {
        auto v = ReadLE(2);
        return v ? std::optional<uint16_t>(static_cast<uint16_t>(*v)) : std::nullopt;
    }

    // The next min(count, Remaining()) bytes, consumed.
    std::span<const uint8_t> Take(size_t count)
    {
        const size_t n = count < Remaining() ? count : Remaining();
        auto out = bytes_.subspan(offset_, n);
        offset_ += n;
        return out;
    }
    // Moves ahead by at most `count`; false when the end came first.
    bool Skip(size_t count) { return Take(count).size() == count; }
    // Repositions to an absolute offset, clamped to the end.
    void Seek(size_t offset) { offset_ = offset < bytes_.size() ? offset : bytes_.size(); }

private:
    std::optional<uint64_t> At(size_t offset, size_t count, bool bigEndian) const
    {
        if (!HasAt(offset, count)) return std::nullopt;
        CByteCursor view(bytes_);
        view.offset_ = offset;
        return bigEndian ? view.ReadBE(count) : view.ReadLE(count);
    }

    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

}  // namespace orvane
