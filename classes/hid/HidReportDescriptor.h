// A HID report descriptor: the listing of its short items for the detail
// pane, and the report layouts built from them (fields with bit offsets,
// widths and usage names), one per report ID and kind.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "HidFields.h"
#include "HidUsageTable.h"

namespace orvane::hid {

enum ItemTag : uint8_t {
    TagUsagePage = 0x04, TagUsage = 0x08, TagLogicalMinimum = 0x14, TagUsageMinimum = 0x18,
    TagLogicalMaximum = 0x24, TagUsageMaximum = 0x28, TagReportSize = 0x74, TagInput = 0x80,
    TagReportId = 0x84, TagOutput = 0x90, TagReportCount = 0x94, TagCollection = 0xA0,
    TagFeature = 0xB0, TagEndCollection = 0xC0,
};

// The main item's tag: input, output and feature reports are laid out apart.
enum ReportKind : uint32_t { KindNone = 0, KindInput = 128, KindOutput = 144, KindFeature = 176 };
static_assert(KindInput == uint32_t{TagInput} && KindOutput == uint32_t{TagOutput} &&
              KindFeature == uint32_t{TagFeature});

// Report offsets are 16-bit: no report is laid out past this many bits.
constexpr uint32_t kMaxReportBits = 0xFFFF;
// Nor does a layout hold more fields than this in all.
constexpr size_t kMaxLayoutFields = 0x2000;

struct DescriptorItem {
    uint32_t bitOffset = 0;  // the item's byte position × 8
    uint8_t tag = 0;         // prefix & 0xFC
    uint16_t bits = 0;       // the whole item: 8, 16, 24 or 40
    uint32_t data = 0;       // little-endian, 0 without data
    std::string value;       // readable form, with depth dashes
    std::string raw;         // "05 01"
    std::string tipKey;
};

struct HidReport {
    std::vector<HidField> fields;
    uint32_t id = 0;
    uint32_t kind = KindNone;

    // Bits up to the end of the last field; 0 without fields.
    uint32_t Bits() const { return fields.empty() ? 0 : uint32_t(fields.back().bitOffset) + fields.back().bits; }
};

// The name of an item tag, or null for a tag that is not a short item of the standard.
const char* ItemTagName(uint8_t tag);
// The text of a main item's data byte ("Data,Variable,Absolute", "Application").
std::string FormatMainItemValue(uint8_t tag, uint8_t b);

class CReportDescriptor {
public:
    explicit CReportDescriptor(const CHidUsageTable& usages) : usages_(usages) {}

    // Lists the items of `bytes` and lays out their reports. False for no
    // bytes or an item whose tag is unknown (a long item among them): the items
    // listed before it stay and no report is laid out.
    bool Parse(std::span<const uint8_t> bytes);
    void Clear();

    const std::vector<DescriptorItem>& Items() const { return items_; }
    // In the order the descriptor first names each (report ID, kind).
    const std::vector<HidReport>& Reports() const { return reports_; }
    bool Empty() const { return items_.empty() && reports_.empty(); }
    // The layout of one report; null when the descriptor has none.
    const HidReport* Find(uint32_t id, uint32_t kind) const;
    // Whether the reports start with a report ID byte (the descriptor names IDs).
    bool UsesReportIds() const;

private:
    void BuildLayouts();
    // The fields of one main item (its data byte `flags`) at `offset`; `made`
    // counts the layout's fields.
    void MakeFields(HidReport& report, uint32_t& offset, size_t& made, const std::vector<const DescriptorItem*>& locals,
                    uint32_t flags, uint32_t page, uint32_t size, uint32_t count) const;

    const CHidUsageTable& usages_;
    std::vector<DescriptorItem> items_;
    std::vector<HidReport> reports_;
};

}  // namespace orvane::hid
