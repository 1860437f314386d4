// What every descriptor whose fields stand at fixed places in its first N bytes
// does alike: keeping those bytes and describing them through a field table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "CFieldWalker.h"
#include "CKeptBytes.h"
#include "CUsbIdDatabase.h"
#include "FieldSpec.h"
#include "IDecode.h"

namespace orvane {

// Self gives `static std::span<const FieldSpec> Fields()` and
// `static const char* Title(const KeptBytes&)`. Self is the deriving class
// itself, so each descriptor class has a base of its own besides IDescriptor.
template <class Self, size_t N>
class CDescriptorFixed : public IDescriptor {
public:
    static constexpr size_t kKeptBytes = N;
    using KeptBytes = CKeptBytes<N>;

    explicit CDescriptorFixed(const CUsbIdDatabase& ids = CUsbIdDatabase::Instance()) : ids_(&ids) {}

    void Parse(const uint8_t* data, uint32_t length) final { kept_.Assign(data, length); }
    void GetName(std::string& out) final { out = Self::Title(kept_); }
    int32_t GetFieldCount() final { return static_cast<int32_t>(Self::Fields().size()); }
    // 0 for an index outside 0 to GetFieldCount() - 1.
    int32_t GetField(int32_t index, FieldRecord* out) final
    {
        if (!out || !CFieldWalker::Describe(Self::Fields(), index, kept_.Received(), *ids_, *out)) return 0;
        out->tip = index == 0 ? kept_.MalformedNote() : std::string();
        return 1;
    }

    // The kept bytes; zero where the data ran short.
    const KeptBytes& Kept() const { return kept_; }
    uint8_t bLength() const { return kept_.U8(0); }
    uint8_t bDescriptorType() const { return kept_.U8(1); }

protected:
    ~CDescriptorFixed() = default;

private:
    const CUsbIdDatabase* ids_;
    KeptBytes kept_;
};

}  // namespace orvane
