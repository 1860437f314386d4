#include "HidReportDescriptor.h"

#include <cstdio>
#include <map>
#include <utility>

namespace orvane::hid {

namespace {

const char* const kDash = "\xE2\x80\x94";  // U+2014

std::string Signed(int64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

std::string RawText(std::span<const uint8_t> bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

bool IsMainDataItem(uint8_t tag) { return tag == TagInput || tag == TagOutput || tag == TagFeature; }

}  // namespace

const char* ItemTagName(uint8_t tag)
{
    switch (tag) {
    case 0x04: return "Usage Page";
    case 0x08: return "Usage";
    case 0x14: return "Logical Minimum";
    case 0x18: return "Usage Minimum";
    case 0x24: return "Logical Maximum";
    case 0x28: return "Usage Maximum";
    case 0x34: return "Physical Minimum";
    case 0x38: return "Designator Index";
    case 0x44: return "Physical Maximum";
    case 0x48: return "Designator Minimum";
    case 0x54: return "Unit Exponent";
    case 0x58: return "Designator Maximum";
    case 0x64: return "Unit";
    case 0x74: return "Report Size";
    case 0x78: return "String Index";
    case 0x80: return "Input";
    case 0x84: return "Report ID";
    case 0x88: return "String Minimum";
    case 0x90: return "Output";
    case 0x94: return "Report Count";
    case 0x98: return "String Maximum";
    case 0xA0: return "Collection";
    case 0xA4: return "Push";
    case 0xA8: return "Delimiter";
    case 0xB0: return "Feature";
    case 0xB4: return "Pop";
    case 0xC0: return "End Collection";
    default: return nullptr;
    }
}

std::string FormatMainItemValue(uint8_t tag, uint8_t b)
{
    if (tag == TagCollection) {
        static const char* const kTypes[] = {"Physical",   "Application",  "Logical",       "Report",
                                             "Name Array", "Usage Switch", "Usage Modifier"};
        if (b >= 0x80) return "Vendor-Defined";
        return b < 7 ? kTypes[b] : "Reserved";
    }
    if (!IsMainDataItem(tag)) return {};
    std::string text = b & 0x01 ? "Constant" : "Data";
    text += b & 0x02 ? ",Variable" : ",Array";
    text += b & 0x04 ? ",Relative" : ",Absolute";
    if (b & 0x08) text += ",Wrap";
    if (b & 0x10) text += ",Non-Linear";
    if (b & 0x20) text += ",No-Preferred";
    if (b & 0x40) text += ",Null-State";
    if (tag != TagInput) text += b & 0x80 ? ",Volatiled" : ",Non-Volatiled";
    return text;
}

void CReportDescriptor::Clear()
{
    items_.clear();
    reports_.clear();
}

bool CReportDescriptor::Parse(std::span<const uint8_t> bytes)
{
    if (bytes.empty()) return false;
    uint32_t page = 0;
    uint32_t depth = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t prefix = bytes[i];
        const uint8_t tag = prefix & 0xFC;
        const char* name = ItemTagName(tag);
        if (!name) return false;  // a long item or a reserved tag: no layouts
        const uint32_t sizeCode = prefix & 3;
        const size_t dataBytes = sizeCode == 3 ? 4 : sizeCode;
        // An item cut off by the end of the bytes is left out.
        if (bytes.size() - i - 1 < dataBytes) break;
        const auto whole = bytes.subspan(i, dataBytes + 1);

        DescriptorItem item;
        item.bitOffset = uint32_t(i) * 8;
        item.tag = tag;
        item.bits = uint16_t(whole.size() * 8);
        for (size_t k = 0; k < dataBytes; ++k) item.data |= uint32_t(whole[1 + k]) << (8 * k);
        item.raw = RawText(whole);
        item.tipKey = MakeTipKey(TipDescriptorItem, name);

        std::string inner;
        const bool global = (prefix & 0x0C) != 0;
        if (sizeCode == 1 && global) {
            if (tag == TagUsagePage) {
                page = item.data;
                inner = usages_.GetUsagePageName(page);
            } else if (tag == TagUsage || tag == TagUsageMinimum || tag == TagUsageMaximum) {
                inner = usages_.GetUsageName(page, item.data);
            } else {
                inner = Signed(int8_t(item.data));
            }
        } else if (sizeCode == 1) {
            inner = FormatMainItemValue(tag, uint8_t(item.data));
            if (tag != TagCollection) inner += ",Bit Field";
        } else if (sizeCode == 2 && IsMainDataItem(tag)) {
            inner = FormatMainItemValue(tag, uint8_t(item.data));
            inner += (item.data >> 8) & 1 ? ",Buffered Bytes" : ",Bit Field";
        } else if (sizeCode == 2) {
            inner = page == 12 ? usages_.GetUsageName(12, item.data) : Signed(int16_t(item.data));
        } else if (sizeCode == 3) {
            inner = Signed(int32_t(item.data));
        }
        item.value = sizeCode == 0 ? std::string(name) : std::string(name) + " ( " + inner + " ) ";

        // An unbalanced End Collection stays at the outer level.
        if (tag == TagEndCollection && depth > 0) --depth;
        if (depth == 1) item.value = kDash + item.value;
        if (depth == 2) item.value = std::string(kDash) + kDash + item.value;
        if (tag == TagCollection) ++depth;

        items_.push_back(std::move(item));
        i += whole.size();
    }
    BuildLayouts();
    return i == bytes.size();
}

void CReportDescriptor::BuildLayouts()
{
    // Rebuilt from the whole listing: parsing again never adds copies.
    reports_.clear();
    if (items_.empty()) return;
    // Each (report ID, kind) is one report whose fields follow each other in
    // descriptor order, whichever collection they stand in; a Report ID item
    // switches to another report. Global items hold until changed (Push and
    // Pop are not followed); local ones end with each main item.
    std::map<std::pair<uint32_t, uint32_t>, size_t> index;
    std::vector<uint32_t> ends;  // each report's running bit offset
    size_t made = 0;
    uint32_t page = 0, size = 0, count = 0, id = 0;
    std::vector<const DescriptorItem*> locals;
    for (const DescriptorItem& item : items_) {
        switch (item.tag) {
        case TagUsagePage: page = item.data; break;
        case TagUsage:
        case TagUsageMinimum:
        case TagUsageMaximum: locals.push_back(&item); break;
        case TagReportSize: size = item.data; break;
        case TagReportId: id = item.data; break;
        case TagReportCount: count = item.data; break;
        case TagCollection:
        case TagEndCollection: locals.clear(); break;
        case TagInput:
        case TagOutput:
        case TagFeature: {
            const uint32_t kind = item.tag;
            const auto [at, fresh] = index.try_emplace({id, kind}, reports_.size());
            if (fresh) {
                HidReport report;
                report.id = id;
                report.kind = kind;
                reports_.push_back(std::move(report));
                ends.push_back(0);
            }
            MakeFields(reports_[at->second], ends[at->second], made, locals, item.data, page, size, count);
            locals.clear();
            break;
        }
        default: break;  // limits, units, designators, strings, Push, Pop, Delimiter
        }
    }
}

const HidReport* CReportDescriptor::Find(uint32_t id, uint32_t kind) const
{
    for (const HidReport& report : reports_)
        if (report.id == id && report.kind == kind) return &report;
    return nullptr;
}

bool CReportDescriptor::UsesReportIds() const
{
    for (const HidReport& report : reports_)
        if (report.id != 0) return true;
    return false;
}

void CReportDescriptor::MakeFields(HidReport& report, uint32_t& offset, size_t& made,
                                   const std::vector<const DescriptorItem*>& locals, uint32_t flags, uint32_t page,
                                   uint32_t size, uint32_t count) const
{
    // A main item has exactly Report Count fields: usages past them are unused.
    uint32_t left = count;
    // False once the item's fields, the report's bits or the layout's fields run out.
    auto add = [&](std::string name, bool array = false) {
        if (left == 0 || size == 0 || size > kMaxReportBits - offset || made >= kMaxLayoutFields) return false;
        HidField field;
        field.bitOffset = uint16_t(offset);
        field.bits = uint16_t(size);
        field.tipKey = MakeTipKey(TipReportField, name);
        field.name = std::move(name);
        field.array = array;
        field.usagePage = array ? page : 0;
        report.fields.push_back(std::move(field));
        offset += size;
        ++made;
        --left;
        return true;
    };

    std::vector<uint32_t> usages;
    const DescriptorItem* minimum = nullptr;
    const DescriptorItem* maximum = nullptr;
    for (const DescriptorItem* item : locals) {
        if (item->tag == TagUsage) usages.push_back(item->data);
        if (item->tag == TagUsageMinimum) minimum = item;
        if (item->tag == TagUsageMaximum) maximum = item;
    }
    for (uint32_t usage : usages)
        if (!add(usages_.GetUsageName(page, usage))) return;

    if (minimum || maximum) {
        // A missing limit is the other one: a range of one usage.
        const int64_t low = int32_t((minimum ? minimum : maximum)->data);
        const int64_t high = int32_t((maximum ? maximum : minimum)->data);
        // A variable item's fields take the range's usages in turn; an array
        // item's range longer than its fields is what each field picks from.
        if ((flags & 0x02) || high - low < int64_t(count)) {
            for (int64_t usage = low; usage <= high; ++usage)
                if (!add(usages_.GetUsageName(page, uint32_t(usage)))) return;
            // A shorter range leaves the rest to the last usage (a mouse's
            // three buttons in a byte).
            const std::string last = usages_.GetUsageName(page, uint32_t(high));
            while (add(last)) {}
        } else {
            const std::string name = usages_.GetUsagePageName(page) + " Array";
            while (add(name, true)) {}
        }
    } else if (usages.empty()) {
        while (add("(Not Used)")) {}
    } else {
        const std::string last = usages_.GetUsageName(page, usages.back());
        while (add(last)) {}
    }
}

}  // namespace orvane::hid
