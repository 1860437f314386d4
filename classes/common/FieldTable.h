// Fields are data: a class decoder declares a structure's fields in a
// constexpr table of ClassField, and one walker reads them through the
// bounded cursor and turns each into a FieldRecord.
//
//   constexpr ClassField kCapacity[] = {
//       {.name = "Last Logical Block Address", .byte = 0, .bits = 32, .format = "0x%08X", .order = ByteOrder::Big},
//       {.name = "Block Length In Bytes", .byte = 4, .bits = 32, .formatter = FormatSize, .order = ByteOrder::Big},
//   };
//   CTableWalker walker("Capacity Data", kCapacity);      // an IEnumerable
//   walker.SetData(bytes, length);
//   WriteEnumerableGroup(document, walker, title, offset);  // or WriteFieldGroup(...)
//
// A field is read from `byte` on: (bit + bits + 7) / 8 bytes, little- or
// big-endian, shifted right by `bit` and masked to `bits`. Its text is, in
// order of preference: `formatter(value)`; `names[value]`; `format` as printf
// with the value as one unsigned int ("0x%02X", "%u bytes"); `format` itself
// when it holds no '%' (a fixed text such as "7 bytes", which reads nothing).
// A field whose bytes the data do not hold is left out, never guessed.
// Check every table in a test with FieldTableProblems.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CDecodeResultWriter.h"
#include "IEnumerable.h"

namespace orvane {

enum class ByteOrder : uint8_t { Little, Big };

using FieldFormatter = std::string (*)(uint64_t value);

struct ClassField {
    const char* name;
    uint16_t byte = 0;      // first byte of the value
    uint8_t bit = 0;        // first bit of the field within the value
    uint16_t bits = 8;      // the field's width, also its width in the record
    const char* format = nullptr;
    FieldFormatter formatter = nullptr;
    std::span<const char* const> names = {};  // beyond the table (or a null entry): `format`
    ByteOrder order = ByteOrder::Little;
    const char* tip = nullptr;                // null: the value text is the tip
};

// `field` with its own tip, for tables that copy a shared field.
constexpr ClassField WithTip(ClassField field, const char* tip)
{
    field.tip = tip;
    return field;
}

// "No", "Yes" by a one-bit value.
extern const char* const kYesNo[2];

// printf of one value, which is passed as an unsigned int.
std::string FormatValue(const char* format, uint64_t value);

// Bytes the field covers from its `byte`.
constexpr uint32_t FieldBytes(const ClassField& field) { return (uint32_t(field.bit) + field.bits + 7u) / 8u; }

// Whether the field's text depends on the bytes at all.
bool ReadsValue(const ClassField& field);

// The field's raw value; null when the data do not hold its bytes.
std::optional<uint64_t> ReadField(const ClassField& field, std::span<const uint8_t> data);

// The record of one field; null when the data do not hold its bytes.
std::optional<FieldRecord> DescribeField(const ClassField& field, std::span<const uint8_t> data);

// One record per field the data hold, in table order.
void EnumerateFields(std::span<const ClassField> fields, std::span<const uint8_t> data,
                     std::vector<FieldRecord>& out);

// A walker over one table. Derive to give a title made from the bytes
// (override GetName) or to append variable parts (override Enumerate and call
// the base first).
class CTableWalker : public IEnumerable {
public:
    CTableWalker(std::string title, std::span<const ClassField> fields) : title_(std::move(title)), fields_(fields) {}

    void SetData(const uint8_t* data, uint32_t length) override { data_ = data ? std::span(data, length) : std::span<const uint8_t>(); }
    void GetName(std::string& name) override { name = title_; }
    void Enumerate(std::vector<FieldRecord>& fields) override { EnumerateFields(fields_, data_, fields); }

    std::span<const ClassField> Fields() const { return fields_; }

protected:
    std::span<const uint8_t> Data() const { return data_; }

private:
    std::string title_;
    std::span<const ClassField> fields_;
    std::span<const uint8_t> data_;
};

// One group titled `title` holding the fields of `fields` that `data` holds,
// laid end to end from `bitOffset`, which is left past the last one.
void WriteFieldGroup(CDecodeResultWriter& document, const std::string& title, std::span<const ClassField> fields,
                     std::span<const uint8_t> data, int64_t& bitOffset);

// What is wrong with a table describing a structure of `structureBytes`: a
// field outside it, of no width, a value wider than 64 bits, values its name
// table does not cover without a fallback text, a field without any text;
// with `contiguous`, a field that does not start where the one before it
// ended (the running offsets of the decode-result document would then point
// at the wrong bits). Empty when sound.
std::vector<std::string> FieldTableProblems(std::span<const ClassField> fields, uint32_t structureBytes,
                                            bool contiguous);

}  // namespace orvane
