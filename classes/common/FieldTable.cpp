#include "FieldTable.h"

#include <cstdio>
#include <cstring>

#include "CByteCursor.h"
#include "WriteEnumerableGroup.h"

namespace orvane {

const char* const kYesNo[2] = {"No", "Yes"};

std::string FormatValue(const char* format, uint64_t value)
{
    if (!format) return {};
    char text[128];
    const int n = std::snprintf(text, sizeof text, format, unsigned(value));
    return n < 0 ? std::string() : std::string(text, size_t(n) < sizeof text ? size_t(n) : sizeof text - 1);
}

bool ReadsValue(const ClassField& field)
{
    return field.formatter || !field.names.empty() || (field.format && std::strchr(field.format, '%'));
}

std::optional<uint64_t> ReadField(const ClassField& field, std::span<const uint8_t> data)
{
    const uint32_t width = FieldBytes(field);
    if (width == 0 || width > 8) return std::nullopt;
    const CByteCursor cursor(data);
    const auto raw = field.order == ByteOrder::Big ? cursor.BEAt(field.byte, width) : cursor.LEAt(field.byte, width);
    if (!raw) return std::nullopt;
    const uint64_t mask = field.bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << field.bits) - 1;
    return (*raw >> field.bit) & mask;
}

std::optional<FieldRecord> DescribeField(const ClassField& field, std::span<const uint8_t> data)
{
    if (!CByteCursor(data).HasAt(field.byte, FieldBytes(field))) return std::nullopt;
    FieldRecord record;
    record.name = field.name;
    record.bits = field.bits;
    if (!ReadsValue(field)) {
        record.value = field.format ? field.format : "";
    } else {
        const auto value = ReadField(field, data);
        if (!value) return std::nullopt;
        if (field.formatter) {
            record.value = field.formatter(*value);
        } else if (*value < field.names.size() && field.names[*value]) {
            record.value = field.names[*value];
        } else if (field.format && std::strchr(field.format, '%')) {
            record.value = FormatValue(field.format, *value);
        } else if (field.format) {
            record.value = field.format;
        }
    }
    record.tip = field.tip ? field.tip : record.value;
    return record;
}

void EnumerateFields(std::span<const ClassField> fields, std::span<const uint8_t> data, std::vector<FieldRecord>& out)
{
    for (const ClassField& field : fields)
        if (auto record = DescribeField(field, data)) out.push_back(std::move(*record));
}

void WriteFieldGroup(CDecodeResultWriter& document, const std::string& title, std::span<const ClassField> fields,
                     std::span<const uint8_t> data, int64_t& bitOffset)
{
    CTableWalker walker(title, fields);
    walker.SetData(data.data(), uint32_t(data.size()));
    WriteEnumerableGroup(document, walker, title, bitOffset);
}

std::vector<std::string> FieldTableProblems(std::span<const ClassField> fields, uint32_t structureBytes,
                                            bool contiguous)
{
    std::vector<std::string> problems;
    uint32_t next = 0;
    for (const ClassField& f : fields) {
        const std::string name = f.name ? f.name : "(no name)";
        if (!f.name || !*f.name) problems.push_back("a field has no name");
        if (f.bits == 0) problems.push_back(name + ": no width");
        if (uint32_t(f.byte) + FieldBytes(f) > structureBytes) problems.push_back(name + ": lies outside the structure");
        if (ReadsValue(f) && FieldBytes(f) > 8) problems.push_back(name + ": a value wider than 64 bits");
        const bool namesShort = f.bits < 32 && f.names.size() < (size_t{1} << f.bits);
        if (!f.names.empty() && namesShort && !f.format) problems.push_back(name + ": values beyond its names have no text");
        if (!f.formatter && f.names.empty() && !f.format) problems.push_back(name + ": no text");
        const uint32_t start = uint32_t(f.byte) * 8 + f.bit;
        if (contiguous && start != next) problems.push_back(name + ": starts at bit " + std::to_string(start) +
                                                            ", the field before ends at " + std::to_string(next));
        next = start + f.bits;
    }
    return problems;
}

}  // namespace orvane
